// The messages between a home's owner and its clients ("zvcc send" runs, an
// opening console, "zvcc agent --stop"), one JSON object per line, its type
// in the field "t". Free of I/O: the reader takes bytes as they arrive and
// gives whole messages; the encoders give whole lines.
//
// Every field of a message is written, and a reader requires every field of
// its type; fields it does not know are ignored, so a later version may add
// some. A line that is not a good message is reported as an error text and
// dropped; reading goes on with the next line, and whether the connection
// survives it is the caller's choice.
//
// Text: every text field is UTF-8. The encoders replace bytes that are not
// UTF-8 with U+FFFD (a server's texts are not bound to be UTF-8, and a page
// must not be lost for one byte); the reader refuses a line holding them, as
// no encoder here writes one.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

#include "owner/owner_line_splitter.h"

namespace zv {

inline constexpr int kOwnerWireVersion = 1;

// Who opens a connection to the owner (hello's "role").
enum class TOwnerClientRole { kSend, kConsole };
// What the owner is (welcome's and status' "owner").
enum class TOwnerKind { kConsole, kAgent };
// What became of a page (outcome's "outcome"): the first three are final
// answers of the link, the others the outbox's own ends and its waiting.
enum class TOwnerPageOutcome { kResult, kNotSent, kNoResult, kQueued, kExpired, kCancelled };

// --- client -> owner ---

struct TOwnerHello {  // "hello": the first line of every client
  int Version = kOwnerWireVersion;
  TOwnerClientRole Role = TOwnerClientRole::kSend;
  int64_t Pid = 0;
  // The link the client's pages are for ("tcp HOST:PORT", "local"); "" for
  // whatever link the owner has. An owner refuses a client that names another.
  std::string Link;

  bool operator==(const TOwnerHello&) const = default;
};

struct TOwnerPage {  // "page": one page to send
  int64_t Seq = 0;   // the client's own counter; accepted and outcome name it
  std::string Address;
  std::string Text;
  // As the sender gave them; "" for the owner's default.
  std::string Carrier;
  std::string Priority;
  std::string Subject;
  std::string Age;
  int AgeLimit = 0;  // minutes the page may wait in the outbox; 0 for the default
  std::string Key;   // a retry with the same key is never paged twice; "" for none
  std::string Source;

  bool operator==(const TOwnerPage&) const = default;
};

// "end": no more pages; the client waits for the outcomes.
struct TOwnerEnd {
  bool operator==(const TOwnerEnd&) const = default;
};
// "takeover": an opening console asks a running agent to hand over and leave.
struct TOwnerTakeover {
  bool operator==(const TOwnerTakeover&) const = default;
};
// "stop": the agent is to leave.
struct TOwnerStop {
  bool operator==(const TOwnerStop&) const = default;
};
// "status" from a client: it asks for the owner's.
struct TOwnerStatusQuery {
  bool operator==(const TOwnerStatusQuery&) const = default;
};

// "cancel": withdraw a page that has not gone out, by its message number or,
// for a page not yet numbered, by its outbox id (the other one 0).
struct TOwnerCancel {
  int32_t Number = 0;
  int64_t Id = 0;

  bool operator==(const TOwnerCancel&) const = default;
};

using TOwnerClientMessage = std::variant<TOwnerHello, TOwnerPage, TOwnerEnd, TOwnerTakeover,
                                         TOwnerStop, TOwnerStatusQuery, TOwnerCancel>;

// --- owner -> client ---

struct TOwnerWelcome {  // "welcome": the answer to a hello that is served
  int Version = kOwnerWireVersion;
  TOwnerKind Owner = TOwnerKind::kConsole;
  int64_t Pid = 0;

  bool operator==(const TOwnerWelcome&) const = default;
};

struct TOwnerRefused {  // "refused": the owner closes the connection after it
  std::string Reason;

  bool operator==(const TOwnerRefused&) const = default;
};

struct TOwnerAccepted {  // "accepted": the page is in the outbox
  int64_t Seq = 0;
  int64_t Id = 0;          // the page's outbox id
  bool Duplicate = false;  // its key named a page the outbox already held
  int64_t Expires = 0;     // when its age limit runs out (ms since the epoch)

  bool operator==(const TOwnerAccepted&) const = default;
};

struct TOwnerOutcome {  // "outcome"
  int64_t Seq = 0;
  int64_t Id = 0;
  int32_t Number = 0;  // the message number; 0 when none was given
  std::string Address;
  std::string Text;
  TOwnerPageOutcome Outcome = TOwnerPageOutcome::kResult;
  std::string Result;
  int Code = 0;
  std::string Reason;
  int Attempts = 0;

  bool operator==(const TOwnerOutcome&) const = default;
};

struct TOwnerHandover {  // "handover": the owner leaves; reconnect to find the next
  int Pages = 0;         // the pages of this client still waiting

  bool operator==(const TOwnerHandover&) const = default;
};

struct TOwnerStatus {  // "status" from the owner
  TOwnerKind Owner = TOwnerKind::kConsole;
  int64_t Pid = 0;
  int Waiting = 0;
  std::string Link;  // the link's state as the operator reads it

  bool operator==(const TOwnerStatus&) const = default;
};

struct TOwnerCancelled {  // "cancelled": the answer to a cancel
  bool Done = false;
  std::string Reason;  // what was done, or why not, as a line for the operator

  bool operator==(const TOwnerCancelled&) const = default;
};

using TOwnerReply = std::variant<TOwnerWelcome, TOwnerRefused, TOwnerAccepted, TOwnerOutcome,
                                 TOwnerHandover, TOwnerStatus, TOwnerCancelled>;

// The texts of the enumerations on the wire.
std::string_view OwnerClientRoleText(TOwnerClientRole role);
std::string_view OwnerKindText(TOwnerKind kind);
std::string_view OwnerPageOutcomeText(TOwnerPageOutcome outcome);

// One message as a line, ending in '\n'. Never throws for any text.
std::string EncodeOwnerLine(const TOwnerClientMessage& message);
std::string EncodeOwnerLine(const TOwnerReply& message);

// One line read: a message, or why the line is not one.
template <class TMessage>
struct TOwnerWireRead {
  std::optional<TMessage> Message;
  std::string Error;  // "" when Message holds one
};

// One line, without its '\n', as a message of its direction.
TOwnerWireRead<TOwnerClientMessage> DecodeOwnerClientLine(std::string_view line);
TOwnerWireRead<TOwnerReply> DecodeOwnerReplyLine(std::string_view line);

// Reads the messages of one direction: TOwnerClientMessage on the owner's
// side, TOwnerReply on a client's. Never throws for any bytes.
template <class TMessage>
class TOwnerWireReader {
 public:
  static constexpr std::size_t kMaxLineBytes = TOwnerLineSplitter::kMaxLineBytes;

  void Append(std::string_view bytes) { FLines.Append(bytes); }
  // The next line's message or error; nullopt until a whole line has come.
  std::optional<TOwnerWireRead<TMessage>> Next();
  std::size_t Pending() const { return FLines.Pending(); }

 private:
  TOwnerLineSplitter FLines;
};

using TOwnerClientReader = TOwnerWireReader<TOwnerClientMessage>;
using TOwnerReplyReader = TOwnerWireReader<TOwnerReply>;

extern template class TOwnerWireReader<TOwnerClientMessage>;
extern template class TOwnerWireReader<TOwnerReply>;

}  // namespace zv
