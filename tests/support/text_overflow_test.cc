#include "support/text_overflow.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/text.h"

namespace zv {
namespace {

struct FitCase {
  const char* name;
  std::string text;
  std::size_t length;
  TOverflow mode;
  std::vector<std::string> parts;
  bool notice;
  bool cut;
};

class Fit : public testing::TestWithParam<FitCase> {};

TEST_P(Fit, GivesThePartsTheModeAsksFor) {
  const FitCase& c = GetParam();
  const TFittedText fitted = FitToCarrier(c.text, c.length, "Pager", c.mode);
  EXPECT_EQ(fitted.Parts, c.parts);
  EXPECT_EQ(!fitted.Notice.empty(), c.notice);
  EXPECT_EQ(fitted.Cut, c.cut);
  EXPECT_EQ(fitted.Refused, c.mode == TOverflow::kRefuse && c.notice);
  for (const std::string& part : fitted.Parts) {
    if (c.length != 0 && c.mode != TOverflow::kWhole) {
      EXPECT_LE(Utf16Length(part), c.length) << part;
    }
  }
}

const std::string kLong = "Disk full on db1 and the backup job failed";  // 42 characters

INSTANTIATE_TEST_SUITE_P(
    Table, Fit,
    testing::Values(
        FitCase{"FitsWhole", "Disk full", 80, TOverflow::kSplit, {"Disk full"}, false, false},
        FitCase{"ExactlyTheLength", "1234567890", 10, TOverflow::kRefuse, {"1234567890"}, false,
                false},
        FitCase{"NoLengthCutsNothing", kLong, 0, TOverflow::kTruncate, {kLong}, false, false},
        FitCase{"WholeKeepsIt", kLong, 20, TOverflow::kWhole, {kLong}, true, false},
        FitCase{"RefuseSendsNothing", kLong, 20, TOverflow::kRefuse, {}, true, false},
        FitCase{"TruncateMarks", kLong, 20, TOverflow::kTruncate, {"Disk full on db1 ..."}, true,
                true},
        FitCase{"SplitAtBlanks", kLong, 20, TOverflow::kSplit,
                {"(1/4) Disk full on", "(2/4) db1 and the", "(3/4) backup job", "(4/4) failed"},
                true, false},
        FitCase{"SplitWithoutBlanks", std::string(30, 'x'), 16, TOverflow::kSplit,
                {"(1/3) " + std::string(10, 'x'), "(2/3) " + std::string(10, 'x'),
                 "(3/3) " + std::string(10, 'x')},
                true, false},
        FitCase{"SplitCutAfterSixParts", std::string(100, 'y'), 16, TOverflow::kSplit,
                {"(1/6) " + std::string(10, 'y'), "(2/6) " + std::string(10, 'y'),
                 "(3/6) " + std::string(10, 'y'), "(4/6) " + std::string(10, 'y'),
                 "(5/6) " + std::string(10, 'y'), "(6/6) " + std::string(7, 'y') + "..."},
                true, true},
        FitCase{"TooShortToSplitIsCut", kLong, 8, TOverflow::kSplit, {"Disk ..."}, true, true},
        FitCase{"CharactersNotBytes", "\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9", 4, TOverflow::kRefuse,
                {"\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9"}, false, false},
        FitCase{"SurrogatePairNeverHalved", "ab\xF0\x9F\x98\x80\xF0\x9F\x98\x80", 4,
                TOverflow::kTruncate, {"a..."}, true, true}),
    [](const testing::TestParamInfo<FitCase>& p) { return p.param.name; });

TEST(Fit, SplitThatWouldOnlyNeedTwoPartsSaysTwo) {
  const TFittedText fitted = FitToCarrier(std::string(25, 'z'), 20, "Pager", TOverflow::kSplit);
  ASSERT_EQ(fitted.Parts.size(), 2U);
  EXPECT_EQ(fitted.Parts[0], "(1/2) " + std::string(14, 'z'));
  EXPECT_EQ(fitted.Parts[1], "(2/2) " + std::string(11, 'z'));
  EXPECT_FALSE(fitted.Cut);
}

TEST(Fit, NoticeNamesCarrierLengthAndTextLength) {
  EXPECT_EQ(FitToCarrier(std::string(213, 'a'), 80, "Pager", TOverflow::kWhole).Notice,
            "the carrier Pager takes 80 characters; this text has 213");
}

TEST(Fit, ModeNamesReadBothWays) {
  for (TOverflow mode : {TOverflow::kWhole, TOverflow::kSplit, TOverflow::kTruncate,
                         TOverflow::kRefuse}) {
    EXPECT_EQ(OverflowFromText(OverflowText(mode)), mode);
  }
  EXPECT_EQ(OverflowFromText("SPLIT"), TOverflow::kSplit);
  EXPECT_FALSE(OverflowFromText("chop").has_value());
}

}  // namespace
}  // namespace zv
