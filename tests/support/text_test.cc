#include "support/text.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/exceptions.h"
#include "support/int_text.h"

namespace zv {
namespace {

TEST(TextTest, Utf16RoundTripAndLength) {
  const std::string text = "Ä€😀x";
  EXPECT_EQ(Utf16Length(text), 5u);  // the emoji takes a surrogate pair
  EXPECT_EQ(Utf16ToUtf8(Utf8ToUtf16(text)), text);
  EXPECT_EQ(Utf8ToUtf16("\xFF"
                        "a"),
            std::u16string(u"\uFFFDa"));
  EXPECT_EQ(Utf8ToUtf16("\xE2\x82"), std::u16string(u"\uFFFD\uFFFD"));  // truncated sequence
  EXPECT_EQ(Utf16ToUtf8(std::u16string(1, char16_t{0xD800})), "\xEF\xBF\xBD");
}

TEST(TextTest, Utf16BytesAndLines) {
  EXPECT_EQ(Utf8ToUtf16Bytes("Aé"), std::string("A\0\xE9\0", 4));
  EXPECT_EQ(Utf8ToUtf16Bytes("Aé", true), std::string("\0A\0\xE9", 4));
  EXPECT_EQ(Utf16BytesToUtf8(Utf8ToUtf16Bytes("x😀y")), "x😀y");
  EXPECT_EQ(Utf16BytesToUtf8(std::string("A\0B", 3)), "A");  // an odd last byte is ignored
  using Lines = std::vector<std::string>;
  EXPECT_EQ(SplitLines("a\r\nb\rc\nd"), (Lines{"a", "b", "c", "d"}));
  EXPECT_EQ(SplitLines("a\r\n"), Lines{"a"});
  EXPECT_EQ(SplitLines("\n\n"), (Lines{"", ""}));
  EXPECT_EQ(SplitLines(""), Lines{});
}

TEST(TextTest, Windows1252) {
  EXPECT_EQ(Utf8ToWindows1252("Aé€"), "A\xE9\x80");
  EXPECT_EQ(Utf8ToWindows1252("Ж😀"), "??");
  EXPECT_EQ(Windows1252ToUtf8("A\xE9\x80\x9F"), "Aé€Ÿ");
  EXPECT_EQ(Utf8ToWindows1252(Windows1252ToUtf8("\x81\x8D")), "\x81\x8D");
}

TEST(TextTest, TrimCaseAndPadding) {
  EXPECT_EQ(Trim(" \t a b \r\n"), "a b");
  EXPECT_EQ(TrimLeft("  x "), "x ");
  EXPECT_EQ(TrimRight("  x "), "  x");
  EXPECT_TRUE(StartsWithNoCase("Quit", "q"));
  EXPECT_FALSE(StartsWithNoCase("q", "quit"));
  EXPECT_TRUE(ContainsNoCase("car abc/cde", "/C"));
  EXPECT_EQ(PadRight("ab", 4), "ab  ");
  EXPECT_EQ(PadRight("äb", 4), "äb  ");
  EXPECT_EQ(PadRight("toolong", 3), "toolong");
  EXPECT_EQ(StrFormat("%-5d|%s", 42, "x"), "42   |x");
}

TEST(IntTextTest, TheIntegerRule) {
  struct Case {
    const char* text;
    std::optional<int32_t> value;
  };
  const Case cases[] = {
      {"12", 12},
      {"  -5", -5},
      {"+7", 7},
      {"0x1F", 31},
      {"$1F", 31},
      {"X1f", 31},
      {"0X1F", 31},
      {"$FFFFFFFF", -1},
      {"$000000001", 1},
      {"$100000000", {}},
      {"1F", {}},
      {"12 ", {}},
      {"", {}},
      {"-", {}},
      {"$", {}},
      {"2147483647", 2147483647},
      {"-2147483648", INT32_MIN},
      {"2147483648", {}},
      {"1.5", {}},
      {"99999999999999999999", {}},
  };
  for (const Case& c : cases) EXPECT_EQ(TryStrToInt(c.text), c.value) << c.text;
  EXPECT_EQ(StrToIntDef("abc", 6022), 6022);
  EXPECT_THROW(StrToInt("abc"), EConversionError);
}

}  // namespace
}  // namespace zv

namespace zv {
namespace {

TEST(VisibleTextTest, ControlsAreShownNotObeyed) {
  const struct {
    std::string_view in;
    std::string out;
  } cases[] = {
      {"plain \u00e9 text\r\n\tnext", "plain \u00e9 text\r\n\tnext"},
      {"\x1b]0;owned\x07\x1b[2J", "^[]0;owned^G^[[2J"},
      {std::string_view("a\0b", 3), "a^@b"},
      {"del\x7f", "del^?"},
      {"csi\u009b", "csiM-^["},
      {"bad\xff", "bad\uFFFD"},
      // The direction controls would reorder what the line shows.
      {"\u202Etxt.exe", "<U+202E>txt.exe"},
      {"a\u202Ab\u202Bc\u202Cd\u202De", "a<U+202A>b<U+202B>c<U+202C>d<U+202D>e"},
      {"\u2066x\u2067y\u2068z\u2069", "<U+2066>x<U+2067>y<U+2068>z<U+2069>"},
      {"\u200Em\u200Fn\u061Co", "<U+200E>m<U+200F>n<U+061C>o"},
      // Their neighbours are ordinary text.
      {"\u2029\u202F\u2065\u206A\u200D\u061B", "\u2029\u202F\u2065\u206A\u200D\u061B"},
  };
  for (const auto& c : cases) EXPECT_EQ(VisibleText(c.in), c.out) << c.in;
}

TEST(WrapToWidthTest, LinesFitTheColumnAndBreakAtBlanks) {
  using Lines = std::vector<std::string>;
  const struct {
    std::string_view text;
    std::size_t width;
    Lines lines;
  } cases[] = {
      {"", 18, {""}},
      {"Pager", 18, {"Pager"}},
      {"exactly eighteen x", 18, {"exactly eighteen x"}},
      {"SMS Gateway, Europe", 18, {"SMS Gateway,", "Europe"}},
      {"SMS Gateway,   Europe", 18, {"SMS Gateway,", "Europe"}},
      {"abcdefghij", 4, {"abcd", "efgh", "ij"}},
      {"ab cdefghij", 4, {"ab", "cdef", "ghij"}},
      {"abcd efgh", 4, {"abcd", "efgh"}},
      {"trailing   ", 8, {"trailing"}},
      {"      ab", 3, {"   ", "ab"}},
      // Counted in UTF-16 units; neither a two-unit character nor a UTF-8
      // sequence is cut in two.
      {"\u00e9\u00e9\u00e9\u00e9", 3, {"\u00e9\u00e9\u00e9", "\u00e9"}},
      {"a\U0001F600b", 2, {"a", "\U0001F600", "b"}},
      {"abc", 0, {"a", "b", "c"}},
  };
  for (const auto& c : cases) EXPECT_EQ(WrapToWidth(c.text, c.width), c.lines) << c.text;
}

}  // namespace
}  // namespace zv
