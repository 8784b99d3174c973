#include "owner/owner_client.h"

#include <algorithm>
#include <array>
#include <exception>

namespace zv {
namespace {

std::chrono::milliseconds Until(TOwnerClientStream::Clock::time_point deadline) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
      deadline - TOwnerClientStream::Clock::now());
  return std::max(left, std::chrono::milliseconds(0));
}

}  // namespace

bool TOwnerClientStream::Send(const std::string& lines, Clock::time_point deadline) {
  try {
    return FStream.WriteAll(lines, Until(deadline));
  } catch (const std::exception&) {
    return false;
  }
}

std::optional<TOwnerReply> TOwnerClientStream::Next(Clock::time_point deadline) {
  std::array<char, 65536> buffer{};
  while (true) {
    while (auto read = FReader.Next()) {
      if (read->Message) return read->Message;
    }
    if (FEnded) return std::nullopt;
    const auto left = Until(deadline);
    if (left.count() == 0 || !FStream.WaitReadable(left)) return std::nullopt;
    platform::LocalStream::IoResult r{};
    try {
      r = FStream.Read(buffer.data(), buffer.size());
    } catch (const std::exception&) {
      r.Status = platform::LocalStream::IoStatus::kClosed;
    }
    if (r.Status == platform::LocalStream::IoStatus::kClosed) {
      FEnded = true;
    } else if (r.Status == platform::LocalStream::IoStatus::kDone) {
      FReader.Append(std::string_view(buffer.data(), r.Count));
    }
  }
}

}  // namespace zv
