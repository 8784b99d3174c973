#include "console/console.h"

#include <algorithm>
#include <optional>

#include "carriers/carriers_console.h"
#include "console/system_console.h"
#include "support/int_text.h"
#include "support/text.h"

namespace zv {
namespace {

struct DisplayWords {
  const char* Singular;
  const char* Plural;
};

DisplayWords WordsOf(TZVDisplayType displayType) {
  switch (displayType) {
    case TZVDisplayType::dtpConnection:
      return {"connection", "connections"};
    case TZVDisplayType::dtpCarrier:
      return {"carrier", "carriers"};
    case TZVDisplayType::dtpMsg:
      break;
  }
  return {"priority", "priorities"};
}

uint16_t ToCells(int value) { return static_cast<uint16_t>(std::clamp(value, 1, 0xFFFF)); }

}  // namespace

TZVConsole::TZVConsole(std::unique_ptr<platform::Terminal> terminal, const TZVSystemConsole& owner)
    : FTerminal(std::move(terminal)), FOwner(owner) {
  // The sizes are read once; later changes of the window are not seen.
  const platform::Size buffer = FTerminal->BufferSize();
  const platform::Size window = FTerminal->MaxWindowSize();
  FWindowX = ToCells(buffer.X);
  FWindowY = ToCells(buffer.Y);
  FMaxWindowX = ToCells(window.X);
  FMaxWindowY = ToCells(window.Y);
}

TZVConsole::~TZVConsole() {
  if (FTerminal) FTerminal->Flush();
}

void TZVConsole::ClearScreen() { FTerminal->ClearScreen(); }

void TZVConsole::GotoXY(uint16_t x, uint16_t y) { FTerminal->GotoXY(x, y); }

platform::Point TZVConsole::CursorPos() const { return FTerminal->CursorPos(); }

uint16_t TZVConsole::GetMiddleX(std::string_view str) const {
  // Seven columns left of the position that would centre the text.
  const long x = FWindowX / 2 - static_cast<long>(Utf16Length(str) / 2) - 7;
  return static_cast<uint16_t>(std::max(0L, x));
}

void TZVConsole::WriteLnXMiddle(std::string_view str, uint16_t y) {
  GotoXY(GetMiddleX(str), y);
  WriteLn(str);
}

void TZVConsole::WriteXMiddle(std::string_view str, uint16_t y) {
  GotoXY(GetMiddleX(str), y);
  Write(str);
  Flush();
}

void TZVConsole::Write(std::string_view text) { FTerminal->Write(text); }

void TZVConsole::WriteLn(std::string_view text) {
  FTerminal->Write(text);
  FTerminal->Write("\n");
}

void TZVConsole::Flush() { FTerminal->Flush(); }

bool TZVConsole::KeyPressed() { return FTerminal->KeyPressed(); }

std::string TZVConsole::ReadLn(bool history) {
  FTerminal->Flush();
  return FTerminal->ReadLine(history);
}

bool TZVConsole::IsConfirmed(std::string_view s) { return StartsWithNoCase(s, "Y"); }

bool TZVConsole::IsNewValueConfirmed(std::string_view aTitle, int32_t value) {
  Write(StrFormat("New %.*s is \"%d\": Y/N - ", static_cast<int>(aTitle.size()), aTitle.data(),
                  value));
  const std::string answer = ReadLn(false);
  ClearScreen();
  const bool confirmed = IsConfirmed(answer);
  if (!confirmed) WriteLn("New " + std::string(aTitle) + " NOT set");
  return confirmed;
}

std::string TZVConsole::GetNewValue(std::string_view confirmPrompt, std::string_view valueName,
                                    std::string_view defaultValue) {
  WriteLn("(" + std::string(confirmPrompt) + " to confirm the current value)");
  // The current value may come from the settings file or the server.
  WriteLn("Current " + std::string(valueName) + ": " + VisibleText(defaultValue));
  Write("Enter " + std::string(valueName) + ": ");
  return ReadLn(false);
}

bool TZVConsole::IsAcceptedId(int32_t id, TZVDisplayType displayType, TPIBounds bounds) const {
  if (id <= 0) return true;  // every caller takes it as "keep the current value"
  if (displayType == TZVDisplayType::dtpCarrier) return FOwner.Carriers().ObjectExists(id);
  return id >= bounds.L && id <= bounds.H;
}

int32_t TZVConsole::NewId(std::string_view aTitle, std::string_view current,
                          TZVDisplayType displayType, TPIBounds bounds) {
  const DisplayWords words = WordsOf(displayType);
  const std::string singular = words.Singular;
  bool havePrevious = false;
  std::string previous;
  std::optional<int32_t> previousValue;
  while (true) {
    ClearScreen();
    WriteLnXMiddle("Zorvane Console Client", 1);
    WriteLnXMiddle(aTitle, 2);
    WriteLnXMiddle(StrFormat("List of available %s", words.Plural), 4);
    switch (displayType) {
      case TZVDisplayType::dtpConnection:
        DisplayConnections();
        break;
      case TZVDisplayType::dtpCarrier:
        DisplayCarriers();
        break;
      case TZVDisplayType::dtpMsg:
        DisplayMsgSettings();
        break;
    }
    if (havePrevious && !previousValue) {
      WriteLn("\"" + previous + "\" is not a valid " + singular + " id");
    } else if (havePrevious) {
      WriteLn(Capitalize(singular) + " with id \"" + previous + "\" does not exist in the system");
    }
    previous = GetNewValue("Enter '0'", singular + " Id", current);
    previousValue = TryStrToInt(previous);
    if (previousValue && IsAcceptedId(*previousValue, displayType, bounds)) return *previousValue;
    havePrevious = true;
  }
}

void TZVConsole::DisplayMain() {
  ClearScreen();
  WriteLnXMiddle("Zorvane Console Client", static_cast<uint16_t>(CursorPos().Y));
  WriteLnXMiddle("(Enter 'q' to exit)", static_cast<uint16_t>(CursorPos().Y));
  DisplaySettings();
}

void TZVConsole::DisplayCmdError(std::string_view cmd) {
  const std::string c(cmd);
  WriteLn(StrFormat("Improper usage of the \"%s\" command", c.c_str()));
  WriteLn(StrFormat("%s [/a][-a][/c][-c][/s][-s][/help][-help][/?][-?]", c.c_str()));
  WriteLn(StrFormat("For more type: %s /help", c.c_str()));
  WriteLn();
}

}  // namespace zv
