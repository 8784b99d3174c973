#include "platform/file_replace.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace zv::platform {
namespace {

namespace fs = std::filesystem;

std::string Read(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void Write(const fs::path& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

class FileReplaceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "zvcc-replace-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    FDir = pattern;
  }
  void TearDown() override { fs::remove_all(FDir); }

  fs::path FDir;
};

TEST_F(FileReplaceTest, ALinkPlantedInTheFolderIsNeverWrittenThrough) {
  const fs::path ini = FDir / "zvcc.ini";
  const fs::path victim = FDir / "victim.txt";
  Write(victim, "precious");
  // Every name an earlier or a guessing writer might use for its temporary file.
  for (const char* name : {"zvcc.ini.tmp", "zvcc.ini.tmp-AAAAAA", "zvcc.ini~"}) {
    fs::create_symlink(victim, FDir / name);
  }
  ASSERT_EQ(ReplaceFileContents(ini.string(), "new").Error, 0);
  EXPECT_EQ(Read(ini), "new");
  EXPECT_EQ(Read(victim), "precious");
  EXPECT_TRUE(fs::is_symlink(FDir / "zvcc.ini.tmp"));
}

TEST_F(FileReplaceTest, TheReplacedFileKeepsItsModeAndALinkKeepsPointingAtIt) {
  const fs::path real = FDir / "real.ini";
  const fs::path ini = FDir / "zvcc.ini";
  Write(real, "old");
  ASSERT_EQ(chmod(real.c_str(), 0600), 0);
  fs::create_symlink("real.ini", ini);

  ASSERT_EQ(ReplaceFileContents(ini.string(), "new").Error, 0);
  EXPECT_TRUE(fs::is_symlink(ini));
  EXPECT_EQ(Read(real), "new");
  struct stat st {};
  ASSERT_EQ(stat(real.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0600u);
}

TEST_F(FileReplaceTest, AFailureNamesItsFileAndLeavesNothingBehind) {
  const fs::path missing = FDir / "absent" / "zvcc.ini";
  const ReplaceFailure failure = ReplaceFileContents(missing.string(), "x");
  EXPECT_EQ(failure.Error, ENOENT);
  EXPECT_EQ(failure.File, missing.string());

  // A directory at the name cannot be replaced by a file.
  fs::create_directories(FDir / "zvcc.ini" / "inside");
  const ReplaceFailure blocked = ReplaceFileContents((FDir / "zvcc.ini").string(), "x");
  EXPECT_NE(blocked.Error, 0);
  EXPECT_EQ(blocked.File, (FDir / "zvcc.ini").string());
  EXPECT_EQ(std::distance(fs::directory_iterator(FDir), fs::directory_iterator()), 1);
}

TEST_F(FileReplaceTest, LeftoverTemporaryFilesAreRemovedAndNothingElse) {
  const fs::path ini = FDir / "zvcc.ini";
  Write(ini, "kept");
  for (const char* name : {"zvcc.ini.tmp-Ab3dE9", "zvcc.ini.tmp-000000"}) Write(FDir / name, "x");
  const char* kept[] = {"zvcc.ini.tmp-short", "zvcc.ini.tmp-toolong1", "other.ini.tmp-Ab3dE9",
                        "zvcc.ini.tmp"};
  for (const char* name : kept) Write(FDir / name, "x");
  fs::create_symlink("zvcc.ini", FDir / "zvcc.ini.tmp-link00");
  fs::create_directory(FDir / "zvcc.ini.tmp-dir000");

  RemoveLeftoverTemporaries(ini.string());
  EXPECT_FALSE(fs::exists(FDir / "zvcc.ini.tmp-Ab3dE9"));
  EXPECT_FALSE(fs::exists(FDir / "zvcc.ini.tmp-000000"));
  for (const char* name : kept) EXPECT_TRUE(fs::exists(FDir / name)) << name;
  EXPECT_TRUE(fs::is_symlink(FDir / "zvcc.ini.tmp-link00"));
  EXPECT_TRUE(fs::is_directory(FDir / "zvcc.ini.tmp-dir000"));
  EXPECT_EQ(Read(ini), "kept");
}

}  // namespace
}  // namespace zv::platform
