// The frame reader on any byte stream cut into pieces anywhere. The frames it
// gives, and whether and where it breaks, must be those of the whole stream
// read at once; once broken it stays broken and holds nothing.
//
// Input: the stream, then (from the end) the sizes of the pieces it arrives in.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "protocol/frame_format.h"
#include "protocol/frame_reader.h"
#include "support/exceptions.h"

namespace {

// The frames of the whole stream and whether a bad length ends it.
struct Expected {
  std::vector<std::string> Frames;
  bool Broken = false;
};

Expected ReadWhole(const std::string& stream) {
  Expected result;
  std::size_t pos = 0;
  while (stream.size() - pos >= zv::kFrameHeaderSize) {
    const std::size_t length = static_cast<std::size_t>(static_cast<unsigned char>(stream[pos]))
                                   << 8 |
                               static_cast<unsigned char>(stream[pos + 1]);
    if (length < zv::kMinFrameText || length > zv::kMaxFrameText) {
      result.Broken = true;
      break;
    }
    if (stream.size() - pos - zv::kFrameHeaderSize < length) break;
    result.Frames.push_back(stream.substr(pos + zv::kFrameHeaderSize, length));
    pos += zv::kFrameHeaderSize + length;
  }
  return result;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  FuzzedDataProvider input(data, size);
  const std::string stream = input.ConsumeRandomLengthString(size);
  const Expected expected = ReadWhole(stream);

  zv::TFrameReader reader;
  std::vector<std::string> frames;
  bool broken = false;
  std::size_t pos = 0;
  while (pos < stream.size()) {
    std::size_t piece = input.ConsumeIntegralInRange<std::size_t>(0, stream.size() - pos);
    if (input.remaining_bytes() == 0 && piece == 0) piece = stream.size() - pos;
    reader.Append(stream.data() + pos, piece);
    pos += piece;
    // The owner takes every waiting frame before it reads again.
    while (reader.HasFrame()) {
      try {
        const std::optional<std::string> frame = reader.Next();
        ZV_FUZZ_CHECK(frame.has_value());
        frames.push_back(*frame);
      } catch (const zv::EZVTcpConnection&) {
        ZV_FUZZ_CHECK(!broken);
        broken = true;
      }
    }
    ZV_FUZZ_CHECK(reader.IsBroken() == broken);
    if (broken) {
      ZV_FUZZ_CHECK(!reader.HasBufferedBytes());
      ZV_FUZZ_CHECK(!reader.Next().has_value());
    }
  }
  ZV_FUZZ_CHECK(frames == expected.Frames);
  ZV_FUZZ_CHECK(broken == expected.Broken);
  // What is left is part of one frame: less than a full frame's bytes.
  if (!broken) ZV_FUZZ_CHECK(!reader.Next().has_value());
  return 0;
}
