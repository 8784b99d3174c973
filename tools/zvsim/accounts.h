// The simulator's accounts: who may log in, with which password, and who is
// logged in now. An account is logged in by at most one connection at a time;
// the login lasts until that connection logs out, logs in again under another
// name, or ends. Connections run on threads of their own: every operation is
// atomic, so two logins of one account can never both succeed.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "platform/thread_annotations.h"
#include "protocol/msg_global.h"

namespace zv::sim {

struct TSimAccount {
  std::string Name;
  std::string Password;
  bool Disabled = false;
};

// The account the console logs in with unless told otherwise.
inline constexpr std::string_view kDefaultAccount = "TerminalAgent";

class TAccountBook {
 public:
  // TerminalAgent with the password TerminalAgent, then `accounts` in order;
  // a later account replaces an earlier one of the same name (names and
  // passwords compare exactly).
  explicit TAccountBook(const std::vector<TSimAccount>& accounts = {});

  // The server's answer to a login of `name` with the decoded `password` on
  // `connection`: slrLoginError for an unknown name or a wrong password,
  // slrAccountDisabled, slrDuplicateLogin when another connection holds the
  // account, else slrLoginOK, and the connection then holds it (giving up any
  // other account it held).
  TZVLoginResult LogIn(std::string_view name, std::string_view password, int32_t connection)
      EXCLUDES(FMutex);
  // The logout notice: the account is free again, whichever connection held it.
  void LogOut(std::string_view name) EXCLUDES(FMutex);
  // The connection ended: whatever it held is free.
  void Release(int32_t connection) EXCLUDES(FMutex);

  // Whether `name` is an account of the server (disabled or not).
  bool Exists(std::string_view name) const { return FAccounts.contains(name); }
  // Every account name, in name order.
  std::vector<std::string> Names() const;

  // The connection holding `name`, or 0.
  int32_t Holder(std::string_view name) const EXCLUDES(FMutex);

 private:
  void ReleaseLocked(int32_t connection) REQUIRES(FMutex);

  std::map<std::string, TSimAccount, std::less<>> FAccounts;  // fixed at construction
  mutable platform::Mutex FMutex;
  std::map<std::string, int32_t, std::less<>> FLoggedIn
      GUARDED_BY(FMutex);  // account -> connection
};

}  // namespace zv::sim
