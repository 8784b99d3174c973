#include "zvsim/misbehaviour.h"

#include <algorithm>
#include <array>

#include "protocol/msg_global.h"

namespace zv::sim {
namespace {

constexpr std::array<std::string_view, 5> kStageName = {"connect", "login", "load", "ready",
                                                        "send"};

}  // namespace

std::string_view StageName(TSimStage stage) {
  return kStageName.at(static_cast<std::size_t>(stage));
}

std::optional<TSimStage> StageFromName(std::string_view name) {
  const auto it = std::find(kStageName.begin(), kStageName.end(), name);
  if (it == kStageName.end()) return std::nullopt;
  return static_cast<TSimStage>(it - kStageName.begin());
}

bool IsEndCode(int32_t code) {
  return code == kConnExcess || code == kConnServerDisconnects || code == kConnAdminDisconnects ||
         code == kConnTimeoutDisconnects;
}

bool IsNoticeCode(int32_t code) {
  return code == kConnRequesting || code == kConnConnect || code == kConnFailed ||
         code == kConnUserDisconnects || code == kConnNotConnected;
}

std::string EmptyFrame() { return std::string(2, '\0'); }

std::string TopBitLengthFrame(std::string_view frame) {
  std::string spoiled(frame);
  if (!spoiled.empty()) spoiled[0] = static_cast<char>(spoiled[0] | '\x80');
  return spoiled;
}

std::string HalfFrame(std::string_view frame) {
  // At least the length and one byte of text, never the whole frame.
  if (frame.size() < 2) return {};
  const std::size_t half = std::max<std::size_t>(frame.size() / 2, 3);
  return std::string(frame.substr(0, std::min(half, frame.size() - 1)));
}

std::string MalformedText(std::string_view text) {
  std::string spoiled(text);
  std::erase(spoiled, '\x1D');
  return spoiled;
}

std::vector<std::string> FramePieces(std::string_view frame) {
  std::vector<std::string> pieces;
  const std::size_t cuts[] = {1, 2 + (frame.size() - std::min<std::size_t>(frame.size(), 2)) / 2};
  std::size_t start = 0;
  for (const std::size_t cut : cuts) {
    if (cut <= start || cut >= frame.size()) continue;
    pieces.emplace_back(frame.substr(start, cut - start));
    start = cut;
  }
  pieces.emplace_back(frame.substr(start));
  return pieces;
}

std::string OversizedFrame(std::string_view text) {
  std::string padded(text);
  if (padded.size() < kOversizedText) padded.append(kOversizedText - padded.size(), 'x');
  const std::size_t length = padded.size() & 0xFFFF;
  std::string frame;
  frame.push_back(static_cast<char>(length >> 8));
  frame.push_back(static_cast<char>(length & 0xFF));
  return frame + padded;
}

std::string BrokenCarrierList(std::string_view body, char delimiter) {
  const std::string d(1, delimiter);
  std::string broken(body.substr(0, body.size() / 2));
  broken +=
      "\x1E"
      "seven" +
      d + "No number" + d + "x" + d + d + d;
  broken += "\x1E" + d + d + d + d + d + d + d + d + d;
  broken +=
      "\x1E"
      "99";
  return broken;
}

}  // namespace zv::sim
