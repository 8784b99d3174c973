// Bytes of a stream cut into lines of bounded length, for the owner's wire
// reader: what arrives over a socket comes in pieces of any size.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace zv {

class TOwnerLineSplitter {
 public:
  // The longest line taken, without its '\n': a page's text of up to 2 MiB
  // and its other fields. A longer one is an error as soon as its first
  // kMaxLineBytes + 1 bytes have come, so the memory held stays bounded; the
  // rest of it, up to its '\n', is dropped as it arrives.
  static constexpr std::size_t kMaxLineBytes = 2 * 1024 * 1024 + 4096;

  struct TLine {
    std::string Text;  // without the '\n'
    bool TooLong = false;
  };

  void Append(std::string_view bytes);
  // The next whole line; a TooLong one in place of an over-long line.
  std::optional<TLine> Next();
  // Bytes held that Next has not given out yet.
  std::size_t Pending() const { return FBuffer.size() - FStart; }

 private:
  std::string FBuffer;
  std::size_t FStart = 0;    // where the next line begins in FBuffer
  std::size_t FScanned = 0;  // FBuffer up to here holds no '\n' after FStart
  bool FSkipping = false;    // inside an over-long line already reported
};

}  // namespace zv
