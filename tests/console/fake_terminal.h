// A scripted terminal for the console's tests: input lines come from a list,
// output is kept as the plain-mode screen would show it. ClearScreen leaves a
// form feed in the output so a test can look at what stands on the screen.
#pragma once

#include <deque>
#include <string>

#include "platform/terminal.h"

namespace zv::testing {

class FakeTerminal : public platform::Terminal {
 public:
  // Lines typed so far and the output so far, shared with the test.
  struct Script {
    std::deque<std::string> Input;
    std::string Output;
  };

  explicit FakeTerminal(Script& script) : FScript(script) {}

  bool IsInteractive() const override { return false; }
  void Write(std::string_view text) override {
    for (std::size_t i = 0; i < text.size(); ++i) {
      if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
      FScript.Output += text[i];
      if (text[i] == '\n') {
        FPos = {0, FPos.Y + 1};
      } else {
        ++FPos.X;
      }
    }
  }
  void Flush() override {}
  void ClearScreen() override {
    FScript.Output += '\f';
    FPos = {0, 0};
  }
  void GotoXY(int x, int y) override {
    if (y > FPos.Y) Write(std::string(static_cast<std::size_t>(y - FPos.Y), '\n'));
    if (y < FPos.Y || x < FPos.X) Write("\n");
    Write(std::string(static_cast<std::size_t>(x - FPos.X), ' '));
  }
  platform::Point CursorPos() const override { return FPos; }
  platform::Size BufferSize() const override { return {80, 25}; }
  platform::Size MaxWindowSize() const override { return {80, 25}; }
  bool KeyPressed() override { return true; }  // a line or the end of input waits
  platform::WaitResult WaitEvents(std::chrono::milliseconds, int) override {
    return platform::WaitResult::kTimeout;
  }
  platform::WaitResult Wait(std::chrono::milliseconds, int) override {
    return platform::WaitResult::kKey;
  }
  std::string ReadLine(bool) override {
    if (FScript.Input.empty()) throw platform::InputEnded{0};
    std::string line = FScript.Input.front();
    FScript.Input.pop_front();
    Write(line + "\n");
    return line;
  }
  void BeginEventOutput() override {}
  void EndEventOutput() override {}

 private:
  Script& FScript;
  platform::Point FPos;
};

}  // namespace zv::testing
