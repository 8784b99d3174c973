#include "zvsim/options.h"

#include <functional>
#include <optional>
#include <string_view>

#include "support/int_text.h"
#include "support/text.h"

namespace zv::sim {
namespace {

// Applies an option's value; returns why the value is not acceptable, or "".
using TApply = std::function<std::string(TSimOptions&, const std::string&)>;

struct TOptionEntry {
  std::string_view Name;
  std::string_view ValueName;  // empty for a switch
  std::string_view Help;
  TApply Apply;
};

std::optional<int32_t> NumberIn(const std::string& value, int32_t low, int32_t high) {
  const std::optional<int32_t> number = TryStrToInt(value);
  if (!number || *number < low || *number > high) return std::nullopt;
  return number;
}

// A setter for a whole number from `low` to `high`.
TApply Number(int32_t low, int32_t high, std::function<void(TSimOptions&, int32_t)> set) {
  return [=](TSimOptions& options, const std::string& value) -> std::string {
    const std::optional<int32_t> number = NumberIn(value, low, high);
    if (!number) return StrFormat("expects a whole number from %d to %d", low, high);
    set(options, *number);
    return "";
  };
}

TApply Account(bool disabled) {
  return [=](TSimOptions& options, const std::string& value) -> std::string {
    const std::size_t colon = value.find(':');
    if (colon == std::string::npos || colon == 0) return "expects NAME:PASSWORD";
    options.Accounts.push_back({value.substr(0, colon), value.substr(colon + 1), disabled});
    return "";
  };
}

TApply Spoil(TSpoil spoil) {
  return [=](TSimOptions& options, const std::string& value) -> std::string {
    const std::optional<TSimStage> stage = StageFromName(value);
    if (!stage) return "expects one of " + std::string(kStageNames);
    if (!options.Misbehaviour.Spoils.emplace(*stage, spoil).second)
      return "names a stage whose answer another option already spoils";
    return "";
  };
}

TApply Switch(std::function<void(TSimOptions&)> set) {
  return [=](TSimOptions& options, const std::string&) -> std::string {
    set(options);
    return "";
  };
}

constexpr int32_t kMaxMs = 600000;  // ten minutes

const std::vector<TOptionEntry>& OptionEntries() {
  static const std::vector<TOptionEntry> entries = {
      {"--address", "ADDR", "IPv4 address to listen on (default 127.0.0.1)",
       [](TSimOptions& options, const std::string& value) -> std::string {
         if (value.empty()) return "expects an IPv4 address";
         options.Address = value;
         return "";
       }},
      {"--port", "N",
       "port to listen on (default 6022; 0 picks a free one); the address and port are "
       "printed on standard output as \"listening on ADDR:PORT\"",
       Number(0, 65535, [](TSimOptions& o, int32_t n) { o.Port = static_cast<uint16_t>(n); })},
      {"--dbus", "BUS",
       "also serve the local interface on the session or system bus (BUS is \"session\" "
       "or \"system\"; the session bus is the one DBUS_SESSION_BUS_ADDRESS names) as "
       "org.zorvane.Server, with the same accounts, carriers and misbehaviour, and print "
       "\"serving org.zorvane.Server on the bus\" once the name is taken; every event is "
       "preceded by one for another account, which a console must ignore",
       [](TSimOptions& options, const std::string& value) -> std::string {
         if (value == "session") {
           options.Bus = platform::DBusBusKind::kSession;
         } else if (value == "system") {
           options.Bus = platform::DBusBusKind::kSystem;
         } else {
           return "expects session or system";
         }
         return "";
       }},
      {"--no-tcp", "", "serve the bus only, on no TCP port (needs --dbus)",
       Switch([](TSimOptions& o) { o.ServeTcp = false; })},
      {"--account", "NAME:PASSWORD",
       "an account that may log in, besides TerminalAgent:TerminalAgent (repeatable; a "
       "later one replaces an earlier one of the same name)",
       Account(false)},
      {"--disabled-account", "NAME:PASSWORD",
       "an account whose login is refused as disabled (repeatable)", Account(true)},
      {"--carriers", "FILE",
       "report the carriers of this carrier setup file (.ccr) instead of the built-in five",
       [](TSimOptions& options, const std::string& value) -> std::string {
         options.CarriersFile = value;
         return "";
       }},
      {"--connect-code", "N", "answer a console's connect with code 2 (default) or 5",
       [](TSimOptions& options, const std::string& value) -> std::string {
         const std::optional<int32_t> code = TryStrToInt(value);
         if (code != kConnConnected && code != kConnAccepted) return "expects 2 or 5";
         options.ConnectCode = *code;
         return "";
       }},
      {"--transcript", "FILE", "write one JSON line per frame received to FILE (replaced)",
       [](TSimOptions& options, const std::string& value) -> std::string {
         if (value.empty()) return "expects a file name";
         options.TranscriptFile = value;
         return "";
       }},
      {"--quiet", "", "no event log on standard error",
       Switch([](TSimOptions& o) { o.Quiet = true; })},
      {"--protocol17", "", "misbehave: answer in zVP 1.1 (protocol 17)",
       Switch([](TSimOptions& o) { o.Misbehaviour.Protocol17 = true; })},
      {"--delay", "MS", "misbehave: send every reply MS milliseconds late",
       Number(0, kMaxMs, [](TSimOptions& o, int32_t n) { o.Misbehaviour.ReplyDelayMs = n; })},
      {"--split-frames", "MS",
       "misbehave: send every frame in three pieces (the length split in two), MS "
       "milliseconds apart",
       Number(0, kMaxMs, [](TSimOptions& o, int32_t n) { o.Misbehaviour.SplitPauseMs = n; })},
      {"--refuse-connection", "",
       "misbehave: answer a connect with code 6 (connection excess) and ask for no login",
       Switch([](TSimOptions& o) { o.Misbehaviour.RefuseConnection = true; })},
      {"--end-after-ready", "CODE",
       "misbehave: after answering readiness, end the link with code 6, 7, 9 or 13 and close "
       "the connection",
       [](TSimOptions& options, const std::string& value) -> std::string {
         const std::optional<int32_t> code = TryStrToInt(value);
         if (!code || !IsEndCode(*code)) return "expects 6, 7, 9 or 13";
         options.Misbehaviour.EndCode = *code;
         return "";
       }},
      {"--notice-after-ready", "CODE",
       "misbehave: after answering readiness, send a CONNECT notice with code 0, 1, 3, 8 or 11, "
       "which ends nothing, and carry on serving the link",
       [](TSimOptions& options, const std::string& value) -> std::string {
         const std::optional<int32_t> code = TryStrToInt(value);
         if (!code || !IsNoticeCode(*code)) return "expects 0, 1, 3, 8 or 11";
         options.Misbehaviour.NoticeCode = *code;
         return "";
       }},
      {"--flood", "N", "misbehave: after answering readiness, send N unsolicited message results",
       Number(0, 1000000, [](TSimOptions& o, int32_t n) { o.Misbehaviour.FloodCount = n; })},
      {"--load-fails", "", "misbehave: answer the carrier load with result 20",
       Switch([](TSimOptions& o) { o.Misbehaviour.LoadFails = true; })},
      {"--broken-carriers", "",
       "misbehave: answer the carrier load with a list cut in the middle of a record and "
       "followed by records with missing fields and ids that are not numbers",
       Switch([](TSimOptions& o) { o.Misbehaviour.BrokenCarriers = true; })},
      {"--silent", "", "misbehave: accept connections, then never answer",
       Switch([](TSimOptions& o) { o.Misbehaviour.Silent = true; })},
      {"--abort", "STAGE", "misbehave: instead of answering STAGE, reset the connection",
       Spoil(TSpoil::spAbort)},
      {"--abort-mid-frame", "STAGE",
       "misbehave: send the first half of the answer's frame, then reset the connection",
       Spoil(TSpoil::spAbortMidFrame)},
      {"--malformed", "STAGE",
       "misbehave: answer with a text whose header lacks its client data separator (0x1D)",
       Spoil(TSpoil::spMalformedText)},
      {"--empty-frame", "STAGE", "misbehave: answer with a frame of length 0",
       Spoil(TSpoil::spEmptyFrame)},
      {"--top-bit-length", "STAGE",
       "misbehave: answer with a frame whose length has its top bit set",
       Spoil(TSpoil::spTopBitLength)},
      {"--stall-mid-frame", "STAGE",
       "misbehave: send the first half of the answer's frame, then nothing more on an open "
       "connection",
       Spoil(TSpoil::spStallMidFrame)},
      {"--oversized", "STAGE",
       "misbehave: answer with a text padded to 40000 bytes behind a length that says so",
       Spoil(TSpoil::spOversized)},
      {"--help", "", "print this text and exit", nullptr},
      {"--version", "", "print the version and exit", nullptr},
  };
  return entries;
}

const TOptionEntry* FindOption(std::string_view name) {
  for (const TOptionEntry& option : OptionEntries()) {
    if (option.Name == name) return &option;
  }
  return nullptr;
}

TParsedOptions Failure(std::string error) {
  TParsedOptions parsed;
  parsed.Outcome = TParsedOptions::TOutcome::poError;
  parsed.Error = std::move(error);
  return parsed;
}

}  // namespace

TParsedOptions ParseOptions(const std::vector<std::string>& args) {
  TParsedOptions parsed;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    const std::size_t equals = arg.find('=');
    const std::string name = arg.substr(0, equals);
    const TOptionEntry* option = FindOption(name);
    if (option == nullptr) return Failure(arg + " is not an option");
    if (!option->Apply) {
      parsed.Outcome = name == "--version" ? TParsedOptions::TOutcome::poVersion
                                           : TParsedOptions::TOutcome::poHelp;
      return parsed;
    }
    std::string value;
    if (option->ValueName.empty()) {
      if (equals != std::string::npos) return Failure(name + " takes no value");
    } else if (equals != std::string::npos) {
      value = arg.substr(equals + 1);
    } else if (i + 1 < args.size()) {
      value = args[++i];
    } else {
      return Failure(name + " expects " + std::string(option->ValueName));
    }
    if (const std::string error = option->Apply(parsed.Options, value); !error.empty())
      return Failure(name + " " + error + ", not \"" + value + "\"");
  }
  if (!parsed.Options.ServeTcp && !parsed.Options.Bus)
    return Failure("--no-tcp leaves nothing to serve without --dbus");
  return parsed;
}

namespace {

// `text` in lines of at most `width` characters after `indent`.
std::string Wrapped(std::string_view text, std::size_t indent, std::size_t width) {
  std::string out;
  std::string line;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find(' ', start);
    if (end == std::string_view::npos) end = text.size();
    const std::string_view word = text.substr(start, end - start);
    if (!line.empty() && line.size() + 1 + word.size() > width) {
      out += std::string(indent, ' ') + line + "\n";
      line.clear();
    }
    if (!line.empty()) line += ' ';
    line += word;
    start = end + 1;
  }
  if (!line.empty()) out += std::string(indent, ' ') + line + "\n";
  return out;
}

}  // namespace

std::string HelpText() {
  std::string text =
      "Usage: zvsim [OPTION]...\n"
      "A Zorvane Server simulator speaking zVP over TCP/IP and, with --dbus, serving the\n"
      "local interface on a message bus: it accepts consoles, logs them in, reports its\n"
      "carriers and answers their messages, until it is interrupted or terminated (or its\n"
      "bus goes away).\n\n";
  for (const TOptionEntry& option : OptionEntries()) {
    std::string head = "  " + std::string(option.Name);
    if (!option.ValueName.empty()) head += " " + std::string(option.ValueName);
    text += head + "\n" + Wrapped(option.Help, 6, 72);
  }
  text += "\n" + Wrapped("STAGE is the console's request whose answer is spoiled: " +
                             std::string(kStageNames) +
                             " (its connect, login, carrier load, readiness and messages). The "
                             "spoiled frame replaces the first frame of that answer; at most one "
                             "option may spoil each stage.",
                         0, 78);
  text += "\n" + Wrapped(
                     "On the bus, a spoiled stage's call is answered with an error reply, "
                     "--abort drops the simulator off the bus instead, and --stall-mid-frame "
                     "leaves the call unanswered; --silent leaves "
                     "every call unanswered but the read of Carriers. --protocol17, --delay "
                     "and --split-frames concern TCP/IP only.",
                     0, 78);
  text +=
      "\nExit status: 0 when stopped by SIGINT or SIGTERM, 1 when it cannot start or its\n"
      "bus connection breaks, 2 for a bad command line.\n";
  return text;
}

std::string VersionText() { return "zvsim " ZVSIM_VERSION "\n"; }

}  // namespace zv::sim
