#include "platform/terminal_signals.h"

#include <pthread.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cerrno>

#include "platform/terminal.h"

namespace zv::platform {
namespace {

sigset_t TerminalSignalSet() {
  sigset_t set;
  sigemptyset(&set);
  for (int signo : {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGWINCH, SIGTSTP}) sigaddset(&set, signo);
  return set;
}

}  // namespace

void BlockTerminalSignals() {
  const sigset_t set = TerminalSignalSet();
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

void IgnoreBrokenPipes() {
  struct sigaction ignore {};
  ignore.sa_handler = SIG_IGN;
  sigemptyset(&ignore.sa_mask);
  sigaction(SIGPIPE, &ignore, nullptr);
}

TerminalSignals::TerminalSignals() {
  const sigset_t set = TerminalSignalSet();
  FFd.Reset(signalfd(-1, &set, SFD_NONBLOCK | SFD_CLOEXEC));
}

std::optional<int> TerminalSignals::Take() {
  if (!FFd) return std::nullopt;
  signalfd_siginfo info{};
  for (;;) {
    const ssize_t got = read(FFd.Get(), &info, sizeof info);
    if (got == static_cast<ssize_t>(sizeof info)) return static_cast<int>(info.ssi_signo);
    if (got < 0 && errno == EINTR) continue;
    return std::nullopt;
  }
}

void TerminalSignals::StopProcess() {
  // TSTP with its default action stops the process unless its process group is
  // orphaned (no shell to continue it), where the system discards it: then the
  // program simply goes on.
  struct sigaction previous {};
  struct sigaction fallback {};
  fallback.sa_handler = SIG_DFL;
  sigemptyset(&fallback.sa_mask);
  sigaction(SIGTSTP, &fallback, &previous);
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGTSTP);
  pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
  raise(SIGTSTP);  // delivered before raise returns; returns once continued
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
  sigaction(SIGTSTP, &previous, nullptr);
}

}  // namespace zv::platform
