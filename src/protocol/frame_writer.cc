#include "protocol/frame_writer.h"

#include "support/exceptions.h"

namespace zv {

bool FitsInFrame(std::string_view utf8Text) {
  return utf8Text.size() >= kMinFrameText && utf8Text.size() <= kMaxFrameText;
}

std::string BuildFrame(std::string_view utf8Text) {
  if (utf8Text.size() > kMaxFrameText) {
    throw EZVFrameTooLong("The text is " + std::to_string(utf8Text.size()) +
                          " bytes long in UTF-8; a zVP frame carries at most " +
                          std::to_string(kMaxFrameText) + " bytes");
  }
  if (utf8Text.size() < kMinFrameText) throw EZVException("An empty text cannot be framed");
  std::string frame;
  frame.reserve(kFrameHeaderSize + utf8Text.size());
  frame += static_cast<char>(utf8Text.size() >> 8);
  frame += static_cast<char>(utf8Text.size() & 0xFF);
  frame += utf8Text;
  return frame;
}

}  // namespace zv
