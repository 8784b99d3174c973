#include "protocol/msg_global.h"

#include <array>
#include <string_view>

namespace zv {
namespace {

constexpr std::array<std::string_view, 10> kLoginCaptions = {"",
                                                             "Login Request",
                                                             "Login Accepted",
                                                             "Login Error",
                                                             "Account Disabled",
                                                             "",
                                                             "Duplicate Login Error",
                                                             "Change password request",
                                                             "Change password success",
                                                             "Change password error"};

constexpr std::array<std::string_view, 14> kConnectionCaptions = {"Requesting Connection",
                                                                  "",
                                                                  "Connected",
                                                                  "Connection Failed",
                                                                  "Connection Failed",
                                                                  "Connection Accepted",
                                                                  "Connection Excess",
                                                                  "Server Disconnects",
                                                                  "User Disconnects",
                                                                  "Administrator Disconnects",
                                                                  "Connection Lost",
                                                                  "Not Connected",
                                                                  "Zorvane Client Ready",
                                                                  "Timeout Disconnects"};

// One entry per group of three load results. The data kinds are never plural.
struct TLoadKind {
  std::string_view Text;
  bool Countable;
  TZVEditObject Object;
};
constexpr std::array<TLoadKind, 13> kLoadKinds = {{
    {"contact object", true, TZVEditObject::eoContact},
    {"group object", true, TZVEditObject::eoGroup},
    {"template object", true, TZVEditObject::eoTemplate},
    {"user account data", false, TZVEditObject::eoAccount},
    {"system settings", false, TZVEditObject::eoSystem},
    {"carrier object", true, TZVEditObject::eoCarrier},
    {"carrier object", true, TZVEditObject::eoCarrier},
    {"schedule object", true, TZVEditObject::eoSchedule},
    {"report object", true, TZVEditObject::eoReport},
    {"user message settings", false, TZVEditObject::eoMsgSettings},
    {"", false, TZVEditObject::eoContact},  // run report
    {"message object", true, TZVEditObject::eoMsg},
    {"folder object", true, TZVEditObject::eoFolder},
}};

const TLoadKind* FindLoadKind(TZVLoadResult value) {
  const auto group = static_cast<std::size_t>(value) / 3;
  return group < kLoadKinds.size() ? &kLoadKinds[group] : nullptr;
}

constexpr std::array<std::string_view, 6> kPriorityNames = {"Critical", "Urgent", "High",
                                                            "Normal",   "Lower",  "Low"};

}  // namespace

std::string LoginResultCaption(TZVLoginResult value) {
  const auto index = static_cast<std::size_t>(value);
  return index < kLoginCaptions.size() ? std::string(kLoginCaptions[index]) : std::string();
}

std::string ConnectionCaption(int32_t code) {
  if (code < 0 || code >= static_cast<int32_t>(kConnectionCaptions.size())) return {};
  return std::string(kConnectionCaptions[static_cast<std::size_t>(code)]);
}

bool IsConnectSuccess(int32_t code) {
  const int32_t low = code & 0xFF;
  return low == kConnConnected || low == kConnAccepted || low == kConnClientReady;
}

TZVEditObject LoadResultToEditObject(TZVLoadResult value) {
  const TLoadKind* kind = FindLoadKind(value);
  return kind ? kind->Object : TZVEditObject::eoContact;
}

std::string LoadResultObjectStr(TZVLoadResult value, bool plural) {
  const TLoadKind* kind = FindLoadKind(value);
  if (!kind) return {};
  std::string text(kind->Text);
  if (plural && kind->Countable) text += 's';
  return text;
}

std::string PriorityNames(int32_t priority) {
  if (priority < kPriorityMin || priority > kPriorityMax) return "Unknown";
  return std::string(kPriorityNames[static_cast<std::size_t>(priority - kPriorityMin)]);
}

}  // namespace zv
