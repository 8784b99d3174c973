// zvcc: the Zorvane console client.
#include <string>
#include <vector>

#include "console/entry.h"
#include "platform/terminal.h"

int main(int argc, char** argv) {
  // Before anything opens a descriptor or starts a thread.
  zv::platform::OpenMissingStandardDescriptors();
  return zv::RunProgram(std::vector<std::string>(argv + 1, argv + argc));
}
