#include "platform/spawn_detached.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <stdexcept>

namespace zv::platform {

std::string OwnProgramFile() {
  char path[PATH_MAX];
  const ssize_t n = ::readlink("/proc/self/exe", path, sizeof(path) - 1);
  if (n <= 0) throw std::runtime_error(std::string("Cannot find the program file: ") +
                                       std::strerror(errno));
  return std::string(path, static_cast<std::size_t>(n));
}

pid_t SpawnDetached(const std::string& program, const std::vector<std::string>& arguments) {
  // Everything the children need is made before the fork: after it, only
  // async-signal-safe calls are allowed.
  std::vector<std::string> all;
  all.push_back(program);
  all.insert(all.end(), arguments.begin(), arguments.end());
  std::vector<char*> argv;
  for (std::string& a : all) argv.push_back(a.data());
  argv.push_back(nullptr);
  int report[2];
  if (::pipe2(report, O_CLOEXEC) != 0) {
    throw std::runtime_error(std::string("Cannot start the agent: ") + std::strerror(errno));
  }
  const pid_t child = ::fork();
  if (child < 0) {
    const int e = errno;
    ::close(report[0]);
    ::close(report[1]);
    throw std::runtime_error(std::string("Cannot start the agent: ") + std::strerror(e));
  }
  if (child == 0) {
    ::setsid();
    const pid_t grandchild = ::fork();
    if (grandchild != 0) {
      // Its pid, or -errno, for the caller; the grandchild is reparented.
      const pid_t value = grandchild > 0 ? grandchild : -errno;
      (void)::write(report[1], &value, sizeof(value));
      ::_exit(0);
    }
    const int null = ::open("/dev/null", O_RDWR);
    if (null >= 0) {
      ::dup2(null, 0);
      ::dup2(null, 1);
      ::dup2(null, 2);
      if (null > 2) ::close(null);
    }
    sigset_t none;
    ::sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    for (int s = 1; s < NSIG; ++s) ::signal(s, SIG_DFL);
    ::execv(argv[0], argv.data());
    ::_exit(127);
  }
  ::close(report[1]);
  pid_t value = 0;
  const ssize_t got = ::read(report[0], &value, sizeof(value));
  ::close(report[0]);
  int status = 0;
  while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  if (got != static_cast<ssize_t>(sizeof(value)) || value <= 0) {
    throw std::runtime_error(std::string("Cannot start the agent: ") +
                             std::strerror(value < 0 ? -value : EAGAIN));
  }
  return value;
}

}  // namespace zv::platform
