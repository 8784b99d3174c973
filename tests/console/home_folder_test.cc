#include "console/home_folder.h"

#include <gtest/gtest.h>

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

}  // namespace
}  // namespace zv
