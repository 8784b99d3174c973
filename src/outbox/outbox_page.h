// One page of the outbox: the send order as its sender gave it, and what has
// become of it since. A page is waiting while queued or framed; every other
// state is its outcome and final.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace zv {

enum class TOutboxState { kQueued, kFramed, kResult, kNotSent, kNoResult, kExpired, kCancelled };

// "queued", "framed", "result", "not sent", "no result", "expired",
// "cancelled": the texts the store keeps and `zvcc outbox` shows.
std::string_view OutboxStateText(TOutboxState state);
// The state a text names; none for any other text.
std::optional<TOutboxState> OutboxStateFromText(std::string_view text);

bool IsWaiting(TOutboxState state);

// A new page, as a sender hands it to the owner.
struct TOutboxOrder {
  static constexpr int32_t kDefaultAgeLimit = 120;  // minutes
  static constexpr std::size_t kMaxKeyBytes = 255;

  // The sender's retry key: a second order with the same key, while the first
  // page is within its age limit, is that page again, never a second page.
  // Empty: no key, every order is a page of its own.
  std::string Key;
  std::string Address;
  std::string Text;
  // The four optional fields as the sender wrote them (empty: the owner's
  // default); the server gets them as written.
  std::string Carrier;
  std::string Priority;
  std::string Subject;
  std::string Age;
  // How long the page may wait in the outbox before it expires, and how long
  // its key stays taken. At least one minute.
  int32_t AgeLimit = kDefaultAgeLimit;
  std::string Source;  // who sent it: "console", "send", "agent"
};

struct TOutboxPage : TOutboxOrder {
  int64_t Id = 0;  // the order pages go out in; never reused
  TOutboxState State = TOutboxState::kQueued;
  int32_t Attempts = 0;  // times framed; 2 and more: a repeat
  int32_t Number = 0;    // the message number; 0 until first framed, then kept
  std::string Result;    // kResult: the server's result text
  int32_t Code = 0;      // kResult: the server's send result
  std::string Reason;    // why there is no result (not sent, no result, expired)
  // Milliseconds since the Unix epoch; 0 while not yet so.
  int64_t Created = 0;
  int64_t Framed = 0;     // the last time it was framed
  int64_t Finished = 0;   // when it reached its outcome
  int64_t ExpiresAt = 0;  // Created + the age limit
};

}  // namespace zv
