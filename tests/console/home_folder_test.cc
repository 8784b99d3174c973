#include "console/home_folder.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "platform/program_folder.h"
#include "support/exceptions.h"
#include "support/helpers.h"
#include "support/scratch_folder.h"

namespace zv {
namespace {

TEST(HomeFolderTest, ChoosesByPrecedence) {
  struct Case {
    THomeInputs Inputs;
    bool ProgramWritable;
    THomeSource Source;
    std::string Folder;
  };
  using S = THomeSource;
  const Case cases[] = {
      {{"/opt", "/env", "/prog", "/state", "/home/u"}, false, S::kOption, "/opt"},
      {{"", "/env", "/prog", "/state", "/home/u"}, true, S::kEnvironment, "/env"},
      {{"", "", "/prog", "/state", "/home/u"}, true, S::kProgramFolder, "/prog"},
      {{"", "", "/prog", "/state", "/home/u"}, false, S::kStateFolder, "/state/zvcc"},
      {{"", "", "/prog", "/state/", "/home/u"}, false, S::kStateFolder, "/state/zvcc"},
      {{"", "", "/prog", "", "/home/u"}, false, S::kStateFolder, "/home/u/.local/state/zvcc"},
      // A relative XDG_STATE_HOME is not a base folder.
      {{"", "", "/prog", "state", "/home/u"}, false, S::kStateFolder, "/home/u/.local/state/zvcc"},
      {{"", "", "/prog", "", ""}, false, S::kStateFolder, ""},
  };
  for (const Case& c : cases) {
    std::string asked;
    const THomeChoice choice = ChooseHome(c.Inputs, [&](const std::string& folder) {
      asked = folder;
      return c.ProgramWritable;
    });
    EXPECT_EQ(choice.Source, c.Source) << c.Folder;
    EXPECT_EQ(choice.Folder, c.Folder);
    // Only the program folder's own Settings/ is judged, and only when it matters.
    const bool judged = c.Inputs.Option.empty() && c.Inputs.Environment.empty();
    EXPECT_EQ(asked, judged ? "/prog/Settings" : "");
  }
}

class SetUpHomeTest : public ::testing::Test {
 protected:
  void TearDown() override { platform::SetHomeFolder(""); }
  testutil::TScratchFolder FFolder;
};

TEST_F(SetUpHomeTest, OptionFolderIsCreatedWithItsSubfoldersAndHoldsTheFiles) {
  const auto home = FFolder.Path() / "new" / "home";
  EXPECT_EQ(SetUpHome(home.string() + "/"), "");
  EXPECT_TRUE(std::filesystem::is_directory(home / "Settings"));
  EXPECT_TRUE(std::filesystem::is_directory(home / "Logs"));
  EXPECT_EQ(AppFilePath("Settings", "zvcc.ini"), (home / "Settings" / "zvcc.ini").string());
  EXPECT_EQ(AppSubFolder("Help"), FFolder.Path().string() + "/Help/");
  // An existing home is taken as it is.
  testutil::WriteBytes(home / "Settings" / "zvcc.ini", "kept");
  EXPECT_EQ(SetUpHome(home.string()), "");
  EXPECT_EQ(testutil::ReadBytes(home / "Settings" / "zvcc.ini"), "kept");
}

TEST_F(SetUpHomeTest, AFolderThatCannotBeMadeIsAnError) {
  testutil::WriteBytes(FFolder.Path() / "file", "x");
  const std::string home = (FFolder.Path() / "file" / "home").string();
  try {
    SetUpHome(home);
    FAIL() << "no error";
  } catch (const EZVFileError& e) {
    EXPECT_EQ(std::string(e.what()), "Cannot create folder \"" + home + "\". Not a directory");
  }
  EXPECT_EQ(platform::HomeFolder(), FFolder.Path().string());
}

}  // namespace
}  // namespace zv
