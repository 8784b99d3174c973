#include "accounts.h"


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
  const int32_t holder = Holder(name);
  if (holder != 0 && holder != connection) return TZVLoginResult::slrDuplicateLogin;
  Release(connection);
  FLoggedIn.emplace(account->first, connection);
  return TZVLoginResult::slrLoginOK;
}

void TAccountBook::LogOut(std::string_view name) {
  if (const auto it = FLoggedIn.find(name); it != FLoggedIn.end()) FLoggedIn.erase(it);
}

void TAccountBook::Release(int32_t connection) {
  std::erase_if(FLoggedIn, [connection](const auto& entry) { return entry.second == connection; });
}

int32_t TAccountBook::Holder(std::string_view name) const {
  const auto it = FLoggedIn.find(name);
  return it == FLoggedIn.end() ? 0 : it->second;
}

}  // namespace zv::sim
