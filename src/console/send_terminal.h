// TSendTerminal: the console's terminal in a "zvcc send" run. It hands all
// input and output to the plain terminal it wraps, and keeps a passing
// progress line on a stream of its own (standard error at a terminal), which
// it clears before any of the console's output so that the two never share a
// line.
#pragma once

#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/terminal.h"

namespace zv {

class TSendTerminal final : public platform::Terminal {
 public:
  // `progress`: where the progress line goes; nullptr shows none.
  TSendTerminal(std::unique_ptr<platform::Terminal> inner, std::FILE* progress);

  // Shows `text` as the progress line, in place of the one shown.
  void ShowProgress(const std::string& text);
  // Takes the progress line off its stream, if one is shown.
  void ClearProgress();

  bool IsInteractive() const override { return false; }
  void Write(std::string_view text) override;
  void Flush() override { FInner->Flush(); }
  void ClearScreen() override;
  void GotoXY(int x, int y) override;
  platform::Point CursorPos() const override { return FInner->CursorPos(); }
  platform::Size BufferSize() const override { return FInner->BufferSize(); }
  platform::Size MaxWindowSize() const override { return FInner->MaxWindowSize(); }
  bool KeyPressed() override { return FInner->KeyPressed(); }
  platform::WaitResult Wait(std::chrono::milliseconds bound, int wakeFd) override {
    return FInner->Wait(bound, wakeFd);
  }
  platform::WaitResult WaitEvents(std::chrono::milliseconds bound, int wakeFd) override {
    return FInner->WaitEvents(bound, wakeFd);
  }
  std::string ReadLine(bool history) override;
  void BeginEventOutput() override { FInner->BeginEventOutput(); }
  void EndEventOutput() override { FInner->EndEventOutput(); }
  std::vector<RefusedLine> TakeRefusedLines() override { return FInner->TakeRefusedLines(); }
  std::optional<std::string> OutputError() const override { return FInner->OutputError(); }

 private:
  std::unique_ptr<platform::Terminal> FInner;
  std::FILE* const FProgress;
  std::string FShown;  // the progress line on the stream; "" when none
};

}  // namespace zv
