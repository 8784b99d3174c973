// A fresh folder under the system's temporary folder for one test, removed
// with all it holds when the test ends. Its path is short, so the socket paths
// made inside stay far below the system's limit.
#pragma once

#include <stdlib.h>

#include <filesystem>
#include <stdexcept>
#include <string>
#include <system_error>

namespace zv::platform {

class TempFolder {
 public:
  TempFolder() {
    std::string pattern = (std::filesystem::temp_directory_path() / "zvls-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("no temporary folder");
    FPath = pattern;
  }
  ~TempFolder() {
    std::error_code error;
    std::filesystem::remove_all(FPath, error);
  }
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;

  const std::string& Path() const { return FPath; }
  std::string operator/(const std::string& name) const { return FPath + "/" + name; }

 private:
  std::string FPath;
};

}  // namespace zv::platform
