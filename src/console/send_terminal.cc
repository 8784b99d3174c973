#include "console/send_terminal.h"

#include <utility>

namespace zv {
namespace {

// Back to the line's start, and the line emptied.
constexpr const char* kEraseLine = "\r\x1b[K";

}  // namespace

TSendTerminal::TSendTerminal(std::unique_ptr<platform::Terminal> inner, std::FILE* progress)
    : FInner(std::move(inner)), FProgress(progress) {}

void TSendTerminal::ShowProgress(const std::string& text) {
  if (!FProgress || text == FShown) return;
  std::fputs(kEraseLine, FProgress);
  std::fputs(text.c_str(), FProgress);
  std::fflush(FProgress);
  FShown = text;
}

void TSendTerminal::ClearProgress() {
  if (FShown.empty()) return;
  std::fputs(kEraseLine, FProgress);
  std::fflush(FProgress);
  FShown.clear();
}

void TSendTerminal::Write(std::string_view text) {
  ClearProgress();
  FInner->Write(text);
}

void TSendTerminal::ClearScreen() {
  ClearProgress();
  FInner->ClearScreen();
}

void TSendTerminal::GotoXY(int x, int y) {
  ClearProgress();
  FInner->GotoXY(x, y);
}

std::string TSendTerminal::ReadLine(bool history) {
  ClearProgress();  // the line read is echoed
  return FInner->ReadLine(history);
}

}  // namespace zv
