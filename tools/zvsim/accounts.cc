#include "zvsim/accounts.h"

namespace zv::sim {

TAccountBook::TAccountBook(const std::vector<TSimAccount>& accounts) {
  const std::string name(kDefaultAccount);
  FAccounts[name] = TSimAccount{name, name, false};
  for (const TSimAccount& account : accounts) FAccounts[account.Name] = account;
}

TZVLoginResult TAccountBook::LogIn(std::string_view name, std::string_view password,
                                   int32_t connection) {
  const auto account = FAccounts.find(name);
  if (account == FAccounts.end() || account->second.Password != password)
    return TZVLoginResult::slrLoginError;
  if (account->second.Disabled) return TZVLoginResult::slrAccountDisabled;
  platform::MutexLock lock(FMutex);
  const auto held = FLoggedIn.find(name);
  if (held != FLoggedIn.end() && held->second != connection)
    return TZVLoginResult::slrDuplicateLogin;
  ReleaseLocked(connection);
  FLoggedIn.emplace(account->first, connection);
  return TZVLoginResult::slrLoginOK;
}

void TAccountBook::LogOut(std::string_view name) {
  platform::MutexLock lock(FMutex);
  if (const auto it = FLoggedIn.find(name); it != FLoggedIn.end()) FLoggedIn.erase(it);
}

void TAccountBook::Release(int32_t connection) {
  platform::MutexLock lock(FMutex);
  ReleaseLocked(connection);
}

void TAccountBook::ReleaseLocked(int32_t connection) {
  std::erase_if(FLoggedIn, [connection](const auto& entry) { return entry.second == connection; });
}

std::vector<std::string> TAccountBook::Names() const {
  std::vector<std::string> names;
  for (const auto& entry : FAccounts) names.push_back(entry.first);
  return names;
}

int32_t TAccountBook::Holder(std::string_view name) const {
  platform::MutexLock lock(FMutex);
  const auto it = FLoggedIn.find(name);
  return it == FLoggedIn.end() ? 0 : it->second;
}

}  // namespace zv::sim
