#include "owner/owner_line_splitter.h"

#include <algorithm>

namespace zv {

void TOwnerLineSplitter::Append(std::string_view bytes) {
  if (FSkipping) {
    const std::size_t end = bytes.find('\n');
    if (end == std::string_view::npos) return;
    bytes.remove_prefix(end + 1);
    FSkipping = false;
  }
  // Lines given out are dropped in bulk, so many short lines in one piece do
  // not move the rest of the buffer once for each.
  if (FStart > 0 && FStart >= FBuffer.size() / 2) {
    FBuffer.erase(0, FStart);
    FScanned -= FStart;
    FStart = 0;
  }
  FBuffer.append(bytes);
}

std::optional<TOwnerLineSplitter::TLine> TOwnerLineSplitter::Next() {
  const std::size_t end = FBuffer.find('\n', std::max(FScanned, FStart));
  if (end != std::string::npos) {
    TLine line;
    const std::size_t length = end - FStart;
    // A long line that came whole in one piece.
    if (length > kMaxLineBytes) {
      line.TooLong = true;
    } else {
      line.Text.assign(FBuffer, FStart, length);
    }
    FStart = FScanned = end + 1;
    if (FStart == FBuffer.size()) {
      FBuffer.clear();
      FStart = FScanned = 0;
    }
    return line;
  }
  FScanned = FBuffer.size();
  if (FBuffer.size() - FStart > kMaxLineBytes) {
    FBuffer.clear();
    FStart = FScanned = 0;
    FSkipping = true;
    return TLine{{}, true};
  }
  return std::nullopt;
}

}  // namespace zv
