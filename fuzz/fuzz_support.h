// Shared by the fuzz targets: a check that stops the run with its reason, and a
// scratch program folder (Settings/, Logs/) that keeps the targets away from
// the real one. Not part of the program.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <string_view>
#include <system_error>

#include "platform/program_folder.h"

namespace zv::fuzz {

// A broken promise: libFuzzer keeps the input that led here.
[[noreturn]] inline void Fail(const char* what) {
  std::fprintf(stderr, "fuzz check failed: %s\n", what);
  std::abort();
}

#define ZV_FUZZ_CHECK(cond)               \
  do {                                    \
    if (!(cond)) ::zv::fuzz::Fail(#cond); \
  } while (false)

// Made once per process under the system's temporary folder and set as the
// program folder; removed at exit. Returns its path.
inline const std::filesystem::path& ScratchProgramFolder() {
  static const std::filesystem::path folder = [] {
    std::random_device random;
    std::filesystem::path path;
    for (int attempt = 0;; ++attempt) {
      if (attempt == 100) Fail("cannot create a scratch folder");
      path = std::filesystem::temp_directory_path() / ("zvfuzz." + std::to_string(random()));
      if (std::filesystem::create_directory(path)) break;
    }
    std::filesystem::create_directories(path / "Settings");
    std::filesystem::create_directories(path / "Logs");
#ifdef ZV_SOURCE_DIR
    std::error_code ignored;
    std::filesystem::copy(std::filesystem::path(ZV_SOURCE_DIR) / "Help", path / "Help",
                          std::filesystem::copy_options::recursive, ignored);
#endif
    zv::platform::OverrideProgramFolder(path.string());
    static const struct Remover {
      std::filesystem::path Path;
      ~Remover() {
        std::error_code ignored;
        std::filesystem::remove_all(Path, ignored);
      }
    } remover{path};
    return path;
  }();
  return folder;
}

}  // namespace zv::fuzz
