#include "platform/program_folder.h"

#include <filesystem>
#include <mutex>

namespace zv::platform {
namespace {

std::mutex gLock;
std::string gOverride;  // guarded by gLock

}  // namespace

std::string ProgramFolder() {
  {
    std::lock_guard lock(gLock);
    if (!gOverride.empty()) return gOverride;
  }
  std::error_code ec;
  auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
  if (ec) return std::filesystem::current_path().string();
  return exe.parent_path().string();
}

void OverrideProgramFolder(const std::string& folder) {
  std::lock_guard lock(gLock);
  gOverride = folder;
}

}  // namespace zv::platform
