#include "support/alias_book.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/ini_store.h"

namespace zv {
namespace {

TAliasBook Book(const std::string& section) {
  return TAliasBook::FromStore(TIniStore::FromText("[ConsoleSys]\nMsgAge=5\n[Aliases]\n" + section));
}

struct ResolveCase {
  const char* name;
  const char* section;
  const char* alias;
  std::vector<std::string> addresses;
  const char* error;  // empty: resolved
};

class AliasResolve : public testing::TestWithParam<ResolveCase> {};

TEST_P(AliasResolve, GivesTheAddressesOrOneLineNamingTheFault) {
  const ResolveCase& c = GetParam();
  const TAliasBook::TResolved r = Book(c.section).Resolve(c.alias);
  EXPECT_EQ(r.Error, c.error);
  EXPECT_EQ(r.Addresses, c.addresses);
}

INSTANTIATE_TEST_SUITE_P(
    Table, AliasResolve,
    testing::Values(
        ResolveCase{"Flat", "oncall=555 556\n", "@oncall", {"555", "556"}, ""},
        ResolveCase{"CaseOfTheName", "OnCall=555\n", "@oncall", {"555"}, ""},
        ResolveCase{"Nested", "oncall=555 @leads\nleads=700 701\n", "@oncall",
                    {"555", "700", "701"}, ""},
        ResolveCase{"TwoPathsPageOnce", "all=@a @b 555\na=555 600\nb=600 700\n", "@all",
                    {"555", "600", "700"}, ""},
        ResolveCase{"BlanksAndTabs", "x =  555\t 556  \n", "@x", {"555", "556"}, ""},
        ResolveCase{"Unknown", "oncall=555\n", "@nobody", {}, "unknown alias \"@nobody\""},
        ResolveCase{"UnknownMember", "oncall=555 @gone\n", "@oncall", {},
                    "unknown alias \"@gone\" (a member of \"@oncall\")"},
        ResolveCase{"SelfCycle", "a=555 @a\n", "@a", {},
                    "alias \"@a\" contains itself (\"@a\" -> \"@a\")"},
        ResolveCase{"LongCycle", "a=@b\nb=1 @c\nc=@b\n", "@a", {},
                    "alias \"@b\" contains itself (\"@b\" -> \"@c\" -> \"@b\")"},
        ResolveCase{"NoMembers", "empty=\n", "@empty", {}, "alias \"@empty\" has no members"},
        ResolveCase{"BareMark", "a=1\n", "@", {}, "\"@\" names no alias"},
        ResolveCase{"FirstEntryWins", "a=1\na=2\n", "@a", {"1"}, ""},
        ResolveCase{"MarkedKey", "@a=1\n", "@a", {"1"}, ""}),
    [](const testing::TestParamInfo<ResolveCase>& p) { return p.param.name; });

TEST(AliasBook, OnlyAMarkedDestinationIsAnAlias) {
  EXPECT_TRUE(TAliasBook::IsAlias("@oncall"));
  EXPECT_FALSE(TAliasBook::IsAlias("oncall"));
  EXPECT_FALSE(TAliasBook::IsAlias("555@example.org"));
  EXPECT_FALSE(TAliasBook::IsAlias(""));
}

TEST(AliasBook, OtherSectionsAreNotRead) {
  const TAliasBook book =
      TAliasBook::FromStore(TIniStore::FromText("[ConsoleSys]\noncall=555\n"));
  EXPECT_TRUE(book.Entries().empty());
  EXPECT_FALSE(book.Resolve("@oncall").Ok());
}

}  // namespace
}  // namespace zv
