#include "outbox/outbox_page.h"

#include <array>
#include <utility>

namespace zv {
namespace {

constexpr std::array<std::pair<TOutboxState, std::string_view>, 7> kStateTexts{{
    {TOutboxState::kQueued, "queued"},
    {TOutboxState::kFramed, "framed"},
    {TOutboxState::kResult, "result"},
    {TOutboxState::kNotSent, "not sent"},
    {TOutboxState::kNoResult, "no result"},
    {TOutboxState::kExpired, "expired"},
    {TOutboxState::kCancelled, "cancelled"},
}};

}  // namespace

std::string_view OutboxStateText(TOutboxState state) {
  for (const auto& [each, text] : kStateTexts) {
    if (each == state) return text;
  }
  return "?";
}

std::optional<TOutboxState> OutboxStateFromText(std::string_view text) {
  for (const auto& [state, each] : kStateTexts) {
    if (each == text) return state;
  }
  return std::nullopt;
}

bool IsWaiting(TOutboxState state) {
  return state == TOutboxState::kQueued || state == TOutboxState::kFramed;
}

}  // namespace zv
