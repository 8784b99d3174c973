// What a terminal program sets up in its process before anything else runs.
#include <fcntl.h>
#include <langinfo.h>
#include <unistd.h>

#include <cerrno>
#include <clocale>
#include <cstring>

#include "platform/terminal.h"

namespace zv::platform {

void OpenMissingStandardDescriptors() {
  for (const int fd : {STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO}) {
    if (fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
    // The lowest free descriptor is the missing one. It is meant to stay open
    // for the life of the process, as the standard descriptors do. Read-only,
    // so that output meant for a closed descriptor is known to be lost.
    const int opened = open("/dev/null", O_RDONLY);
    if (opened >= 0 && opened != fd) close(opened);
  }
}

bool StandardErrorIsTerminal() { return isatty(STDERR_FILENO) != 0; }

void UseUtf8Characters() {
  std::setlocale(LC_ALL, "");
  if (std::strcmp(nl_langinfo(CODESET), "UTF-8") == 0) return;
  std::setlocale(LC_CTYPE, "C.UTF-8");
}

}  // namespace zv::platform
