// TZVConsole: the console's screen and prompt object. It wraps the few screen
// operations the program needs beyond line output (clearing, placement,
// centring, a key test that never blocks), prints the main screen and the
// information screens, and provides the three prompts from which every
// interactive setting change is built.
//
// Main thread only.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "console/console_types.h"
#include "platform/terminal.h"
#include "support/helpers.h"

namespace zv {

class TZVSystemConsole;

class TZVConsole {
 public:
  // `owner` is the console object whose settings and carriers the screens show.
  TZVConsole(std::unique_ptr<platform::Terminal> terminal, const TZVSystemConsole& owner);
  ~TZVConsole();
  TZVConsole(const TZVConsole&) = delete;
  TZVConsole& operator=(const TZVConsole&) = delete;

  // Screen.
  void ClearScreen();
  void GotoXY(uint16_t x, uint16_t y);
  void WriteLnXMiddle(std::string_view str, uint16_t y);
  void WriteXMiddle(std::string_view str, uint16_t y);
  platform::Point CursorPos() const;
  uint16_t WindowX() const { return FWindowX; }
  uint16_t WindowY() const { return FWindowY; }
  uint16_t MaxWindowX() const { return FMaxWindowX; }
  uint16_t MaxWindowY() const { return FMaxWindowY; }

  // Plain output and input.
  void Write(std::string_view text);
  void WriteLn(std::string_view text = {});
  void Flush();
  bool KeyPressed();
  // One line from standard input, without its end (throws platform::InputEnded).
  std::string ReadLn(bool history);
  platform::Terminal& Terminal() { return *FTerminal; }

  // Prompts.
  static bool IsConfirmed(std::string_view s);
  bool IsNewValueConfirmed(std::string_view aTitle, int32_t value);
  std::string GetNewValue(std::string_view confirmPrompt, std::string_view valueName,
                          std::string_view defaultValue);
  int32_t NewId(std::string_view aTitle, std::string_view current, TZVDisplayType displayType,
                TPIBounds bounds);

  // Screens.
  void DisplayMain();
  void DisplayCmdError(std::string_view cmd);
  void DisplaySettings();
  void DisplayConnections();
  void DisplayCurrentConnection();
  void DisplayCarriers();
  void DisplayDefaultCarrier();
  void DisplayMsgSettings();
  void DisplayCurrentMsgSettings();
  // Throws EFileOpenError when the help file cannot be read; the screen is
  // cleared only after the file has been read.
  void DisplayHelp(std::string_view fileName);

 private:
  uint16_t GetMiddleX(std::string_view str) const;
  bool IsAcceptedId(int32_t id, TZVDisplayType displayType, TPIBounds bounds) const;
  void WriteRule(char c, int count);
  void WriteConnectionHeader();
  void WriteCarrierHeader();

  std::unique_ptr<platform::Terminal> FTerminal;  // stands for both standard handles
  const TZVSystemConsole& FOwner;
  uint16_t FWindowX = 80;
  uint16_t FWindowY = 25;
  uint16_t FMaxWindowX = 80;
  uint16_t FMaxWindowY = 25;
};

}  // namespace zv
