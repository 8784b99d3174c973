// zvcc: the Zorvane console client.
#include "console/entry.h"
#include "platform/terminal.h"

int main() {
  // Before anything opens a descriptor or starts a thread.
  zv::platform::OpenMissingStandardDescriptors();
  // The terminal takes these signals itself.
  zv::platform::BlockTerminalSignals();
  zv::platform::UseUtf8Characters();
  return zv::RunConsole(zv::platform::CreateStdTerminal());
}
