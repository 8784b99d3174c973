// TSimSession: the server's side of one console connection, as a state
// machine over frame texts. It knows nothing of sockets or time: each
// received text goes in, and the bytes to send (and whether to end the
// connection) come out in order; the connection applies delays and pieces.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "carriers/carriers_console.h"
#include "protocol/protocol.h"
#include "zvsim/accounts.h"
#include "zvsim/event_log.h"
#include "zvsim/options.h"
#include "zvsim/transcript.h"

namespace zv::sim {

// What the whole server shares with every session. Sessions run on one
// thread; nothing here is locked.
struct TSimContext {
  const TSimOptions& Options;
  TAccountBook& Accounts;
  const TZVCarriersConsole& Carriers;
  TTranscript& Transcript;
  const TEventLog& Log;
};

enum class TSimOutputKind : uint8_t {
  okFrame,  // a whole frame, which the connection may send in pieces
  okRaw,    // bytes sent as they are (a spoiled frame)
  okAbort,  // reset the connection; nothing follows
  okClose,  // close the connection in order; nothing follows
};

struct TSimOutput {
  TSimOutputKind Kind;
  std::string Bytes;  // okFrame and okRaw only
};

// The result field of TCP_ERROR replies: why a request was rejected.
enum : int32_t {
  kRejectUnknown = 1,    // a command or sub-code the server does not take
  kRejectNoLogin = 2,    // the request needs a login first
  kRejectMalformed = 3,  // the text could not be read
  kRejectTooLong = 4,    // the answer would not fit in a frame
};

// The account id in the header of answers to texts that could not be read.
inline constexpr std::string_view kServerAccountId = "ZorvaneServer";

class TSimSession {
 public:
  // `connection` numbers the connection (from 1) in logs, the transcript and
  // the account book; `peer` is the console's address.
  TSimSession(TSimContext& context, int32_t connection, std::string peer);
  ~TSimSession();  // gives up any account the connection holds
  TSimSession(const TSimSession&) = delete;
  TSimSession& operator=(const TSimSession&) = delete;

  // The answer to one received frame text. After an okAbort or okClose the
  // session takes nothing more.
  std::vector<TSimOutput> OnFrame(std::string_view text);
  // The console's stream broke (a frame length of 0 or with the top bit set):
  // recorded; the connection ends.
  void OnBrokenStream(std::string_view reason);

  // The connection holds a login that no logout notice has ended.
  bool LoggedIn() const;
  int32_t Connection() const { return FConnection; }

 private:
  void Dispatch(const TZVRemoteMsg& request);
  void OnConnect(const TZVRemoteMsg& request);
  void OnLogin(const TZVRemoteMsg& request);
  void OnLoad(const TZVRemoteMsg& request);
  void OnReady(const TZVRemoteMsg& request);
  void OnSend(const TZVRemoteMsg& request);
  void Record(const TZVRemoteMsg& request);
  void RecordUnreadable(std::string_view text, std::string_view error);
  void Transcribe(const TJsonLine& line);

  // Queues one reply to `request` (or, without one, in the server's own
  // protocol); the first frame of an answer whose stage is spoiled is replaced.
  void Reply(const TZVRemoteMsg* request, TTcpCommand command, int32_t result,
             const std::string& body, int32_t msgId);
  void Reply(const TZVRemoteMsg& request, TTcpCommand command, int32_t result,
             const std::string& body) {
    Reply(&request, command, result, body, request.TransactionId());
  }
  void Reject(const TZVRemoteMsg* request, int32_t reason, const std::string& text);
  void Emit(TSimOutputKind kind, std::string bytes = {});
  int32_t ReplyProtocol(const TZVRemoteMsg* request) const;

  TSimContext& FContext;
  const int32_t FConnection;
  const std::string FPeer;
  TZVProtocol FProtocol;
  std::string FAccount;  // the account this connection logged in, if any
  std::vector<TSimOutput> FOutputs;
  std::optional<TSimStage> FStage;  // the stage of the answer being built
  bool FStageFrameSent = false;     // its first frame has gone out
  bool FEnded = false;              // an okAbort or okClose has been emitted
};

}  // namespace zv::sim
