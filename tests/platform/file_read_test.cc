#include "platform/file_read.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

namespace zv::platform {
namespace {

namespace fs = std::filesystem;

TEST(FileReadTest, OnlyRegularFilesWithinTheCapAreRead) {
  std::string pattern = (fs::temp_directory_path() / "zvcc-read-XXXXXX").string();
  ASSERT_NE(mkdtemp(pattern.data()), nullptr);
  const fs::path dir = pattern;
  std::ofstream(dir / "small", std::ios::binary) << "text";
  std::ofstream(dir / "large", std::ios::binary) << std::string(100, 'x');
  fs::create_symlink(dir / "small", dir / "link");
  fs::create_symlink("/dev/zero", dir / "zero");
  fs::create_directory(dir / "folder");
  ASSERT_EQ(mkfifo((dir / "fifo").c_str(), 0600), 0);  // no writer: an open would wait

  const struct {
    const char* name;
    int error;
    const char* bytes;
  } cases[] = {
      {"small", 0, "text"},   {"link", 0, "text"},           {"missing", ENOENT, ""},
      {"folder", EISDIR, ""}, {"fifo", kNotRegularFile, ""}, {"zero", kNotRegularFile, ""},
      {"large", EFBIG, ""},
  };
  for (const auto& c : cases) {
    const FileContents file = ReadWholeFile((dir / c.name).string(), 99);
    EXPECT_EQ(file.Error, c.error) << c.name;
    EXPECT_EQ(file.Bytes, c.bytes) << c.name;
  }
  EXPECT_EQ(FileErrorText(kNotRegularFile), "Not a regular file");
  EXPECT_EQ(FileErrorText(EISDIR), "Is a directory");
  fs::remove_all(dir);
}

}  // namespace
}  // namespace zv::platform
