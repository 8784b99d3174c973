// The command interpreter on any lines: each line is classified and routed as
// typed at the prompt, and the prompts of the setters it opens are answered by
// the lines that follow. The console runs in a scratch program folder on an
// in-memory terminal; its server client is an inert stand-in, so "start" and
// "stop" reach no network.
//
// Input: one byte of switches (bit 0: the stand-in refuses messages), then the
// lines, separated by line feeds.
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>

#include "carriers/carriers_console.h"
#include "carriers/xml_carrier.h"
#include "console/system_console.h"
#include "fuzz_support.h"
#include "link/server_client.h"
#include "platform/terminal.h"
#include "support/data_access.h"
#include "support/exceptions.h"

namespace {

// Lines come from the input; output is counted, not kept.
class ScriptTerminal : public zv::platform::Terminal {
 public:
  explicit ScriptTerminal(std::deque<std::string>& lines) : FLines(lines) {}
  bool IsInteractive() const override { return false; }
  void Write(std::string_view text) override { FWritten += text.size(); }
  void Flush() override {}
  void ClearScreen() override {}
  void GotoXY(int x, int y) override { FPos = {x, y}; }
  zv::platform::Point CursorPos() const override { return FPos; }
  zv::platform::Size BufferSize() const override { return {80, 25}; }
  zv::platform::Size MaxWindowSize() const override { return {80, 25}; }
  bool KeyPressed() override { return true; }
  zv::platform::WaitResult WaitEvents(std::chrono::milliseconds, int) override {
    return zv::platform::WaitResult::kTimeout;
  }
  zv::platform::WaitResult Wait(std::chrono::milliseconds, int) override {
    return zv::platform::WaitResult::kKey;
  }
  std::string ReadLine(bool) override {
    if (FLines.empty()) throw zv::platform::InputEnded{0};
    std::string line = std::move(FLines.front());
    FLines.pop_front();
    return line;
  }
  void BeginEventOutput() override {}
  void EndEventOutput() override {}

 private:
  std::deque<std::string>& FLines;
  zv::platform::Point FPos;
  std::size_t FWritten = 0;
};

// A server client that goes nowhere: it starts and stops at once and takes or
// refuses messages as told.
class InertClient : public zv::TZVServerClient {
 public:
  InertClient(zv::TZVLinkContext& context, uint8_t type, bool refuse)
      : TZVServerClient(context, type), FRefuse(refuse) {}
  ~InertClient() override { CloseQueue(); }
  void StartZVServer() override {}
  void StopZVServer() override {}
  void LogOut(const std::string&) override {}
  void ReConnect(const std::string&, const std::string&) override {}
  void ConfirmReady() override {}
  void LoadClientCarriers(zv::TZVCarriersConsole&) override {}
  void DeleteAllMsgs(const std::string&) override {}
  void DeleteOldMsgs(const std::string&, int32_t) override {}
  void DeleteSelectedMsg(const std::string&, int32_t) override {}
  void SendMessage(const zv::TStringList&) override {
    if (FRefuse) throw zv::EZVException("Not connected to the server");
  }

 private:
  bool FRefuse;
};

void Setup() {
  static const bool done = [] {
    zv::fuzz::ScratchProgramFolder();
    zv::TZVCarriersConsole carriers;
    carriers.FromTcpStr(
        "1,Pager,1,T,1,p,80,\x1E"
        "3,Mail,3,E,2,e,4000,a,b",
        ',', 18);
    zv::TXmlCarrier().SaveCarriers(carriers);
    return true;
  }();
  (void)done;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  Setup();
  const bool refuse = (data[0] & 1) != 0;
  std::deque<std::string> lines;
  std::string_view text(reinterpret_cast<const char*>(data + 1), size - 1);
  while (!text.empty() && lines.size() < 64) {
    const std::size_t end = text.find('\n');
    lines.emplace_back(text.substr(0, end));
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
  }

  // Every input starts from the default settings.
  std::filesystem::remove(zv::TDataAccess::IniFilePath());
  zv::TDataAccess::ReloadForTesting();
  auto console = std::make_unique<zv::TZVSystemConsole>(std::make_unique<ScriptTerminal>(lines));
  console->Load();
  try {
    while (!lines.empty()) {
      const std::string line = std::move(lines.front());
      lines.pop_front();
      const auto type = static_cast<uint8_t>(console->ConnectionType() & 0xFF);
      if (console->ClientServer() == nullptr || console->ClientServer()->ConnectionType() != type) {
        console->SetClientServer(std::make_unique<InertClient>(*console, type, refuse));
      }
      if (!console->ReadCmdLine(line)) break;
    }
  } catch (const zv::platform::InputEnded&) {
    // A setter's prompt met the end of the input.
  }
  // Anything else that escapes a typed line would end the program: a finding.
  console.reset();
  return 0;
}
