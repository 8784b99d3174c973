// The link of a home's owner is its console's link: pages from the outbox go
// out through the console's server client, numbered from the console's
// numbering and logged in the console's log, and their outcomes come back
// from the console's page ledger. The same adapter serves an open console, an
// agent (a console without a screen) and a send that owns its own run.
#pragma once

#include <functional>
#include <optional>
#include <string>

#include "owner/owner_core.h"

namespace zv {

class TZVSystemConsole;

class TConsoleOwnerLink final : public TOwnerLink {
 public:
  explicit TConsoleOwnerLink(TZVSystemConsole& console) : FConsole(console) {}

  bool Ready() const override;
  bool MayStart() const override;
  void Start() override;
  int32_t NextNumber() override;
  std::optional<TRefusal> Send(const TOutboxPage& page, int32_t number) override;
  void Log(const std::string& action, const std::string& text) override;

 private:
  TZVSystemConsole& FConsole;
};

}  // namespace zv
