// zvcc: the Zorvane console client.
#include <clocale>

#include "console/entry.h"
#include "platform/terminal.h"

int main() {
  // Before any thread starts: the terminal takes these signals itself.
  zv::platform::BlockTerminalSignals();
  std::setlocale(LC_ALL, "");
  return zv::RunConsole(zv::platform::CreateStdTerminal());
}
