// Turning one zVP text into the bytes of its frame. Pure byte logic: the
// writer of the socket sends the result whole.
#pragma once

#include <string>
#include <string_view>

#include "protocol/frame_format.h"

namespace zv {

// True when a frame can carry `utf8Text`: 1 to kMaxFrameText bytes.
bool FitsInFrame(std::string_view utf8Text);

// The length header and the text. A text that does not fit is never framed:
// over kMaxFrameText bytes throws EZVFrameTooLong naming the size and the
// limit; an empty text throws EZVException (the peer would read its length 0
// as a broken stream).
std::string BuildFrame(std::string_view utf8Text);

}  // namespace zv
