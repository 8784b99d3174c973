// The ways the simulator can be told to misbehave, so that a console's
// handling of a faulty or hostile server can be tried: every switch is off
// unless its option is given.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zv::sim {

// A request of the console whose answer a spoiled frame can replace.
enum class TSimStage : uint8_t {
  stConnect,  // CONNECT with code 1
  stLogin,    // LOGIN
  stLoad,     // LOAD of the carrier list
  stReady,    // CONNECT with code 12
  stSend,     // MSG_SEND
};

// "connect", "login", "load", "ready", "send".
std::string_view StageName(TSimStage stage);
std::optional<TSimStage> StageFromName(std::string_view name);
inline constexpr std::string_view kStageNames = "connect, login, load, ready, send";

// What takes the place of the first frame of an answer.
enum class TSpoil : uint8_t {
  spAbort,          // nothing: the connection is reset
  spAbortMidFrame,  // the first half of the frame, then a reset
  spEmptyFrame,     // a frame of length 0
  spTopBitLength,   // the frame with the top bit of its length set
  spMalformedText,  // the text without its client data separator (0x1D)
  spStallMidFrame,  // the first half of the frame, then silence on an open connection
  spOversized,      // the text padded past 32767 bytes, its length sent as it is
};

struct TMisbehaviour {
  bool Protocol17 = false;              // answer in zVP 1.1
  int32_t ReplyDelayMs = 0;             // every reply leaves this late
  std::optional<int32_t> SplitPauseMs;  // frames go in three pieces this far apart
  bool RefuseConnection = false;        // CONNECT 6 instead of 2 and no login request
  int32_t EndCode = 0;                  // after readiness: CONNECT with this code, then close
  std::optional<int32_t> NoticeCode;    // after readiness: CONNECT with this code; the link stays
  int32_t FloodCount = 0;               // after readiness: this many unsolicited results
  bool LoadFails = false;               // the carrier load is answered with result 20
  bool BrokenCarriers = false;          // the carrier load's list is cut and spoiled
  bool Silent = false;                  // nothing is ever answered
  std::map<TSimStage, TSpoil> Spoils;   // at most one per stage
};

// The codes with which the server may end a ready link.
bool IsEndCode(int32_t code);
// The codes of a notice that fails nothing and ends nothing (0, 1, 3, 8, 11):
// a console must stay up and keep sending after one.
bool IsNoticeCode(int32_t code);

// The spoiled forms of a well-formed frame (length and text) or of its text.
std::string EmptyFrame();
std::string TopBitLengthFrame(std::string_view frame);
std::string HalfFrame(std::string_view frame);
std::string MalformedText(std::string_view text);
// The text padded to kOversizedText bytes behind a 16-bit length that says
// so, as a server that ignores the frame limit would send it.
inline constexpr std::size_t kOversizedText = 40000;
std::string OversizedFrame(std::string_view text);
// A carrier list body cut in the middle of a record, then records with a
// non-numeric id, missing fields and stray delimiters.
std::string BrokenCarrierList(std::string_view body, char delimiter);

// A frame cut in three for slow sending: the first byte of the length, the
// second with the first half of the text, the rest (fewer pieces for a frame
// too short for three).
std::vector<std::string> FramePieces(std::string_view frame);

}  // namespace zv::sim
