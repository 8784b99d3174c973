// A private program folder for one test: a fresh directory under the system's
// temporary folder, with Settings/ and Logs/, made the program's folder for
// the test's lifetime. The settings store is re-read from it on entry and the
// folder is removed on exit.
#pragma once

#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <stdexcept>
#include <string>

#include "platform/program_folder.h"
#include "support/data_access.h"

namespace zv::testutil {

class TScratchFolder {
 public:
  TScratchFolder() {
    std::random_device random;
    const auto base = std::filesystem::temp_directory_path();
    for (int attempt = 0; attempt < 100 && FPath.empty(); ++attempt) {
      const auto candidate = base / ("zvcc-test-" + std::to_string(random()));
      if (std::filesystem::create_directory(candidate)) FPath = candidate;
    }
    if (FPath.empty()) throw std::runtime_error("no scratch folder");
    std::filesystem::create_directory(FPath / "Settings");
    std::filesystem::create_directory(FPath / "Logs");
    platform::OverrideProgramFolder(FPath.string());
    TDataAccess::ReloadForTesting();
  }
  ~TScratchFolder() {
    platform::OverrideProgramFolder("");
    std::error_code ec;
    std::filesystem::remove_all(FPath, ec);
  }
  TScratchFolder(const TScratchFolder&) = delete;
  TScratchFolder& operator=(const TScratchFolder&) = delete;

  const std::filesystem::path& Path() const { return FPath; }
  std::filesystem::path Settings() const { return FPath / "Settings" / "zvcc.ini"; }
  std::filesystem::path Log(int number, const std::string& stem = "zvccLog",
                            const std::string& extension = ".txt") const {
    return FPath / "Logs" / (stem + std::to_string(number) + extension);
  }

 private:
  std::filesystem::path FPath;
};

inline std::string ReadBytes(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline void WriteBytes(const std::filesystem::path& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

// A log file's UTF-16 little-endian text (an odd last byte is ignored).
inline std::u16string ReadUtf16(const std::filesystem::path& path) {
  const std::string bytes = ReadBytes(path);
  std::u16string text;
  for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
    text.push_back(static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                         static_cast<unsigned char>(bytes[i + 1]) << 8));
  }
  return text;
}

// Re-reads the settings file as the next start of the program would.
inline void Restart() { TDataAccess::ReloadForTesting(); }

}  // namespace zv::testutil
