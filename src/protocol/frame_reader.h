// TFrameReader: cuts the bytes of a zVP stream into frame texts as they
// arrive, in whatever pieces the socket hands them over. Pure byte logic; one
// reader per connection, used by one thread at a time.
//
// Cost is linear in the bytes received. Memory stays within one frame plus one
// read when the owner takes every waiting frame (HasFrame() false) before it
// reads and appends again.
#pragma once

#include <cstddef>
#include <optional>
#include <string>

namespace zv {

class TFrameReader {
 public:
  // Bytes as received. Ignored once the stream is broken.
  void Append(const char* data, std::size_t size);

  // The text of the next complete frame, its bytes as received (not checked
  // for UTF-8); nullopt while the frame is incomplete.
  // A length of 0 or with the top bit set breaks the stream: throws
  // EZVTcpConnection ("zVP protocol error" and the bad length), drops every
  // byte held, and from then on drops what is appended and returns nullopt.
  std::optional<std::string> Next();

  // Next() has something to give: a complete frame, or a bad length to report.
  bool HasFrame() const;
  // Bytes wait that no frame has taken yet (false once broken).
  bool HasBufferedBytes() const { return FStart < FBuffer.size(); }
  // A bad length was met; the connection cannot go on.
  bool IsBroken() const { return FBroken; }

 private:
  std::size_t Available() const { return FBuffer.size() - FStart; }
  // The length header at FStart; needs two available bytes.
  std::size_t PendingLength() const;

  // Unread bytes are FBuffer[FStart..]; consumed ones are dropped lazily.
  std::string FBuffer;
  std::size_t FStart = 0;
  bool FBroken = false;
};

}  // namespace zv
