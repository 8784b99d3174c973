#include "protocol/frame_reader.h"

#include "protocol/frame_format.h"
#include "protocol/msg_global.h"
#include "support/exceptions.h"
#include "support/text.h"

namespace zv {
namespace {

bool IsValidLength(std::size_t length) {
  return length >= kMinFrameText && length <= kMaxFrameText;
}

}  // namespace

void TFrameReader::Append(const char* data, std::size_t size) {
  if (FBroken || size == 0) return;
  // Dropping the consumed prefix moves the unread bytes to the front. When no
  // complete frame waits (the owner took them all before reading), the unread
  // bytes are part of one frame and are moved at most once, and the buffer
  // holds less than a frame before this read. An owner that reads ahead of
  // taking frames gets the move only once the consumed bytes outnumber the
  // unread ones, which keeps the cost per byte constant all the same.
  if (FStart > 0 && (!HasFrame() || FStart >= Available())) {
    FBuffer.erase(0, FStart);
    FStart = 0;
  }
  FBuffer.append(data, size);
}

std::size_t TFrameReader::PendingLength() const {
  const auto high = static_cast<unsigned char>(FBuffer[FStart]);
  const auto low = static_cast<unsigned char>(FBuffer[FStart + 1]);
  return static_cast<std::size_t>(high) << 8 | low;
}

bool TFrameReader::HasFrame() const {
  if (FBroken || Available() < kFrameHeaderSize) return false;
  const std::size_t length = PendingLength();
  return !IsValidLength(length) || Available() >= kFrameHeaderSize + length;
}

std::optional<std::string> TFrameReader::Next() {
  if (FBroken || Available() < kFrameHeaderSize) return std::nullopt;
  const std::size_t length = PendingLength();
  if (!IsValidLength(length)) {
    // Nothing after a bad length can be trusted to start a frame.
    FBroken = true;
    std::string().swap(FBuffer);
    FStart = 0;
    throw EZVTcpConnection(StrFormat(
        "%s\r\nFrame length %zu (0x%04zX) is invalid: a frame holds %zu to %zu bytes.",
        std::string(kProtocolErrorText).c_str(), length, length, kMinFrameText, kMaxFrameText));
  }
  if (Available() < kFrameHeaderSize + length) return std::nullopt;
  std::string text(FBuffer, FStart + kFrameHeaderSize, length);
  FStart += kFrameHeaderSize + length;
  if (FStart == FBuffer.size()) {
    FBuffer.clear();
    FStart = 0;
  }
  return text;
}

}  // namespace zv
