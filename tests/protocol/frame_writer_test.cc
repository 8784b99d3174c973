#include "protocol/frame_writer.h"

#include <gtest/gtest.h>

#include "support/exceptions.h"

namespace zv {
namespace {

TEST(FrameWriterTest, LengthIsTheUtf8ByteCountMostSignificantByteFirst) {
  const std::pair<std::string, std::string> cases[] = {
      {"x", std::string("\x00\x01", 2)},
      {"\xC3\xA9\xC3\xA9\xC3\xA9", std::string("\x00\x06", 2)},  // three characters, six bytes
      {std::string(255, 'a'), std::string("\x00\xFF", 2)},
      {std::string(256, 'a'), std::string("\x01\x00", 2)},
      {std::string(kMaxFrameText, 'a'), "\x7F\xFF"},
  };
  for (const auto& [text, header] : cases) {
    EXPECT_TRUE(FitsInFrame(text)) << text.size();
    EXPECT_EQ(BuildFrame(text), header + text) << text.size();
  }
}

TEST(FrameWriterTest, TextsNoFrameCanCarryAreRefused) {
  const std::string tooLong(kMaxFrameText + 1, 'a');
  EXPECT_FALSE(FitsInFrame(tooLong));
  try {
    BuildFrame(tooLong);
    ADD_FAILURE() << "framed";
  } catch (const EZVFrameTooLong& e) {
    EXPECT_STREQ(e.what(),
                 "The text is 32768 bytes long in UTF-8; a zVP frame carries at most 32767 bytes");
  }
  EXPECT_FALSE(FitsInFrame(""));
  EXPECT_THROW(BuildFrame(""), EZVException);
}

}  // namespace
}  // namespace zv
