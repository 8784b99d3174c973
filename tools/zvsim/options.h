// The simulator's command line.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/dbus_connection.h"
#include "protocol/msg_global.h"
#include "zvsim/accounts.h"
#include "zvsim/misbehaviour.h"

namespace zv::sim {

inline constexpr uint16_t kDefaultPort = 6022;

struct TSimOptions {
  std::string Address = "127.0.0.1";
  uint16_t Port = kDefaultPort;              // 0: any free port
  bool ServeTcp = true;                      // false: the bus only
  std::optional<platform::DBusBusKind> Bus;  // the bus the local interface is served on
  std::vector<TSimAccount> Accounts;
  std::string CarriersFile;  // empty: the built-in carriers
  std::string TranscriptFile;
  bool Quiet = false;
  int32_t ConnectCode = kConnConnected;  // or kConnAccepted
  TMisbehaviour Misbehaviour;
};

struct TParsedOptions {
  enum class TOutcome : uint8_t { poRun, poHelp, poVersion, poError };
  TOutcome Outcome = TOutcome::poRun;
  TSimOptions Options;
  std::string Error;  // for poError: what is wrong, as one line
};

// `args` without the program name. Options take their value as the next
// argument or after "=" (--port=0). --help and --version win over whatever
// follows them; nothing is opened or created while reading.
TParsedOptions ParseOptions(const std::vector<std::string>& args);

// Every option with its meaning, for --help.
std::string HelpText();

// "zvsim VERSION", for --version.
std::string VersionText();

// The line that follows a command-line error on standard error.
inline constexpr std::string_view kUsageHint = "Try 'zvsim --help' for more information.";

}  // namespace zv::sim
