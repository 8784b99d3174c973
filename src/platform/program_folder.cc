#include "platform/program_folder.h"

#include <filesystem>

#include "platform/thread_annotations.h"

namespace zv::platform {
namespace {

Mutex gLock;
std::string gOverride GUARDED_BY(gLock);
std::string gHome GUARDED_BY(gLock);

}  // namespace

std::string ProgramFolder() {
  {
    MutexLock lock(gLock);
    if (!gOverride.empty()) return gOverride;
  }
  // The link names the program file itself, whatever link it was started by.
  std::error_code ec;
  auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
  if (ec) return std::filesystem::current_path().string();
  return exe.parent_path().string();
}

void OverrideProgramFolder(const std::string& folder) {
  MutexLock lock(gLock);
  gOverride = folder;
}

std::string HomeFolder() {
  {
    MutexLock lock(gLock);
    if (!gHome.empty()) return gHome;
  }
  return ProgramFolder();
}

void SetHomeFolder(const std::string& folder) {
  MutexLock lock(gLock);
  gHome = folder;
}

}  // namespace zv::platform
