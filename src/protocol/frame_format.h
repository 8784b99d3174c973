// The zVP frame on the TCP stream: a length N, two bytes, a signed 16-bit
// count in network byte order (most significant byte first), then N bytes of
// the message text in UTF-8, without byte-order mark or terminator.
//
// Every message text is at least one byte long, so a length of 0 and a length
// with the top bit set (negative as a signed count) never come from a sound
// peer; either one means the stream is broken.
#pragma once

#include <cstddef>
#include <cstdint>

namespace zv {

inline constexpr std::size_t kFrameHeaderSize = 2;
inline constexpr std::size_t kMinFrameText = 1;
inline constexpr std::size_t kMaxFrameText = 32767;
// Set in a length that is negative as a signed 16-bit count.
inline constexpr uint16_t kFrameLengthSignBit = 0x8000;
// The largest a frame gets, header included.
inline constexpr std::size_t kMaxFrameSize = kFrameHeaderSize + kMaxFrameText;

}  // namespace zv
