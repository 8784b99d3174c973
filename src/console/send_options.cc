#include "console/send_options.h"

#include <algorithm>
#include <optional>
#include <string_view>

#include "console/console_types.h"
#include "console/option_reader.h"
#include "protocol/msg_global.h"

namespace zv {
namespace {

constexpr int64_t kMaxInt = 2147483647;
constexpr int64_t kMaxPort = 65535;
constexpr int64_t kMaxTimeoutSeconds = 86400;
constexpr std::size_t kMaxKeyBytes = 255;

class TParser {
 public:
  explicit TParser(const std::vector<std::string>& arguments) : FArgs(arguments) {}

  TSendOptions Parse() {
    std::vector<std::string> operands;
    bool optionsEnded = false;
    for (FAt = 0; FAt < FArgs.size() && FOptions.Error.empty(); ++FAt) {
      const std::string& argument = FArgs[FAt];
      if (optionsEnded || argument == "-" || !argument.starts_with("-")) {
        operands.push_back(argument);
      } else if (argument == "--") {
        optionsEnded = true;
      } else if (argument == "--help") {
        FOptions.Action = TSendAction::kHelp;
        return FOptions;
      } else if (argument == "--no-agent") {
        FOptions.NoAgent = true;
      } else {
        Option(argument);
      }
    }
    if (FOptions.Error.empty()) Operands(operands);
    if (FOptions.Error.empty() && FServer && FLocal) {
      Fail("'--server' and '--local' exclude each other");
    }
    if (!FOptions.Error.empty()) FOptions.Action = TSendAction::kUsageError;
    return FOptions;
  }

 private:
  void Fail(std::string error) {
    if (FOptions.Error.empty()) FOptions.Error = std::move(error);
  }

  // The value of option `name`: after "=", or the next argument.
  std::optional<std::string> Value(const std::string& name, std::string_view argument) {
    if (argument.size() > name.size()) return std::string(argument.substr(name.size() + 1));
    if (FAt + 1 == FArgs.size()) {
      Fail("option '" + name + "' needs a value");
      return std::nullopt;
    }
    return FArgs[++FAt];
  }

  std::optional<int32_t> Number(const std::string& name, const std::string& value, int64_t low,
                                int64_t high) {
    const std::optional<int32_t> n = DecimalIn(value, low, high);
    if (!n) {
      Fail("option '" + name + "' expects a whole number from " + std::to_string(low) + " to " +
           std::to_string(high) + ", not '" + value + "'");
    }
    return n;
  }

  void Option(const std::string& argument) {
    const std::string name = argument.substr(0, argument.find('='));
    TZVSystemConsole::TRunSettings& run = FOptions.Run;
    if (name == "--json" || name == "--local") {
      if (name != argument) return Fail("option '" + name + "' takes no value");
      if (name == "--json") FOptions.Json = true;
      if (name == "--local") {
        FLocal = true;
        run.ConnectionType = kConnectionLocal;
      }
      return;
    }
    static constexpr std::string_view kWithValue[] = {
        "--carrier", "--priority", "--subject", "--age", "--server", "--timeout", "--home",
        "--key"};
    bool known = false;
    for (std::string_view option : kWithValue) known = known || option == name;
    if (!known) return Fail("unknown option '" + argument + "'");
    const std::optional<std::string> value = Value(name, argument);
    if (!value) return;
    if (name == "--carrier") {
      run.Carrier = Number(name, *value, 1, kMaxInt);
    } else if (name == "--priority") {
      run.Priority = Number(name, *value, 1, kPriorityMax);
    } else if (name == "--age") {
      run.Age = Number(name, *value, 1, kMaxInt);
    } else if (name == "--timeout") {
      if (const auto seconds = Number(name, *value, 1, kMaxTimeoutSeconds)) {
        FOptions.Timeout = std::chrono::seconds(*seconds);
      }
    } else if (name == "--subject") {
      // The server splits its fields at every ",".
      if (value->find(',') != std::string::npos) return Fail("a subject cannot hold ','");
      run.Subject = *value;
    } else if (name == "--key") {
      if (value->empty() || value->size() > kMaxKeyBytes) {
        return Fail("option '--key' expects a text of 1 to 255 bytes");
      }
      FOptions.Key = *value;
    } else if (name == "--home") {
      // An empty name would silently mean the program's folder.
      if (value->empty()) return Fail("option '--home' needs a folder");
      FOptions.Home = *value;
    } else {
      Server(*value);
    }
  }

  void Server(const std::string& value) {
    const std::size_t colon = value.rfind(':');
    const std::string host = value.substr(0, colon == std::string::npos ? 0 : colon);
    if (colon == std::string::npos || host.empty() || host.find(':') != std::string::npos) {
      return Fail("option '--server' expects HOST:PORT (a host name or IPv4 address), not '" +
                  value + "'");
    }
    const auto port = Number("--server", value.substr(colon + 1), 1, kMaxPort);
    if (!port) return;
    FServer = true;
    FOptions.Run.ConnectionType = kConnectionRemote;
    FOptions.Run.ServerIP = host;
    FOptions.Run.ServerPort = *port;
  }

  void Operands(const std::vector<std::string>& operands) {
    const bool input = std::find(operands.begin(), operands.end(), "-") != operands.end();
    if (input && operands.size() == 1) {
      FOptions.FromInput = true;
    } else if (input) {
      Fail("'-' reads message lines from standard input and takes no ADDRESS or TEXT");
    } else if (operands.empty() || operands[0].empty()) {
      Fail("no address given");
    } else if (operands.size() == 1) {
      Fail("no text given for '" + operands[0] + "'");
    } else if (operands.size() > 2) {
      Fail("unexpected argument '" + operands[2] + "' (quote a text of several words)");
    } else {
      FOptions.Address = operands[0];
      FOptions.Text = operands[1];
    }
  }

  const std::vector<std::string>& FArgs;
  std::size_t FAt = 0;
  TSendOptions FOptions;
  bool FServer = false;
  bool FLocal = false;
};

}  // namespace

TSendOptions ParseSendOptions(const std::vector<std::string>& arguments) {
  return TParser(arguments).Parse();
}

std::string SendUsageText() {
  return R"(Usage: zvcc send [OPTION]... ADDRESS TEXT
       zvcc send [OPTION]... -

Sends one page, or the message lines read from standard input ("-"), each
  address,text[,carrier[,priority[,subject[,age limit in minutes]]]]
as typed at the console, waits for every page's outcome and exits.

The pages go to the home's owner, the one process that holds the home's
server login: an open console, or the agent, which the first send starts in
the background when none runs (it leaves after 10 idle minutes; see 'zvcc
agent --help'). The owner keeps each page in its outbox before it accepts it,
sends the pages in order, tries a server that cannot be reached again, and
tells each send its pages' outcomes; a page still waiting when the time-out
passes goes out later all the same.

Options (each value holds for this run only):
  --carrier ID        the default carrier
  --priority N        the default priority, 1 to 6
  --subject TEXT      the default e-mail subject
  --age MINUTES       the default age limit
  --server HOST:PORT  connect over TCP/IP to HOST (a name or IPv4 address)
  --local             connect to the local server on the bus
                      (an owner that sends elsewhere refuses the run's pages)
  --key KEY           a page with the key of a page still in the outbox within
                      its age limit is not sent again: the run tells that page's
                      outcome (for "-", line N has the key KEY#N)
  --no-agent          start no agent: with no owner running, this run is the
                      owner for its own pages (and serves other sends meanwhile)
  --timeout SECONDS   the longest the whole run may take (default 30)
  --json              one JSON object per page on standard output
  --home DIR          keep Settings/ and Logs/ in DIR, as the console does
  --help              show this help and exit
  --                  what follows is ADDRESS and TEXT, even if it begins with "-"

Without --json each outcome is shown as the console shows it. With --json each
page gives one line: number, address, text, outcome ("result", "not sent", "no
result", "queued", "expired" or "cancelled"), and result and code (the server's
result text and send result) or reason; "attempts" when the page went out more
than once. Diagnostics and a summary line go to standard error.

Exit status: 0 when every page got a result; 3 when a page was not sent, got
no result or expired; 4 when the others got their results and some are still
queued (the owner holds them and sends them later); 1 when an error ended the
run; 2 for a wrong command line; 128+N after signal N.
)";
}

}  // namespace zv
