// The interactive terminal, run in a child process on a pseudo-terminal: the
// test types keys on the master side and reads what the child reports through
// a pipe.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <functional>
#include <string>

#include "platform/terminal.h"

namespace zv::platform {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// The child's side: what it tells the test.
class Reporter {
 public:
  explicit Reporter(int fd) : FFd(fd) {}
  void operator()(const std::string& text) const {
    const std::string line = text + "\n";
    if (write(FFd, line.data(), line.size()) < 0) _exit(3);
  }

 private:
  int FFd;
};

bool SameModes(const termios& a, const termios& b) {
  return a.c_iflag == b.c_iflag && a.c_oflag == b.c_oflag && a.c_lflag == b.c_lflag &&
         a.c_cflag == b.c_cflag;
}

// Prompts, makes the editor take keys, tells the test it may type.
std::string Ask(Terminal& term, const Reporter& report, const std::string& prompt, bool history) {
  term.Write(prompt);
  term.Flush();
  term.KeyPressed();
  report("ready");
  return term.ReadLine(history);
}

class PtySession {
 public:
  explicit PtySession(const std::function<void(const Reporter&)>& child) {
    int reports[2];
    if (pipe2(reports, O_CLOEXEC) != 0) return;
    winsize size{};
    size.ws_col = 80;
    size.ws_row = 25;
    FPid = forkpty(&FMaster, nullptr, nullptr, &size);
    if (FPid == 0) {
      close(reports[0]);
      setenv("TERM", "xterm", 1);
      setenv("EDITRC", "/dev/null", 1);
      const Reporter report(reports[1]);
      try {
        child(report);
      } catch (const InputEnded& ended) {
        report("uncaught InputEnded " + std::to_string(ended.Signal));
      } catch (...) {
        report("uncaught exception");
      }
      _exit(0);
    }
    close(reports[1]);
    FReports = reports[0];
  }

  ~PtySession() {
    if (FPid > 0) {
      int status = 0;
      const auto deadline = Clock::now() + 10s;
      while (waitpid(FPid, &status, WNOHANG) == 0) {
        if (Clock::now() > deadline) {
          kill(FPid, SIGKILL);
          waitpid(FPid, &status, 0);
          break;
        }
        Pump(50);
      }
    }
    if (FMaster >= 0) close(FMaster);
    if (FReports >= 0) close(FReports);
  }

  bool Started() const { return FPid > 0 && FMaster >= 0 && FReports >= 0; }

  void Type(const std::string& keys) {
    ASSERT_EQ(write(FMaster, keys.data(), keys.size()), static_cast<ssize_t>(keys.size()));
  }

  // The child's next report line, or "(timeout)".
  std::string Next() {
    const auto deadline = Clock::now() + 15s;
    for (;;) {
      const auto end = FReportText.find('\n');
      if (end != std::string::npos) {
        std::string line = FReportText.substr(0, end);
        FReportText.erase(0, end + 1);
        return line;
      }
      if (Clock::now() > deadline || !Pump(100)) return "(timeout)";
    }
  }

  const std::string& Screen() const { return FScreen; }

  // Waits until the screen shows `text` after what earlier calls found.
  bool Shows(const std::string& text) {
    const auto deadline = Clock::now() + 15s;
    for (;;) {
      const auto at = FScreen.find(text, FSeen);
      if (at != std::string::npos) {
        FSeen = at + text.size();
        return true;
      }
      if (Clock::now() > deadline || !Pump(100)) return false;
    }
  }

  void Resize(int columns, int rows) {
    winsize size{};
    size.ws_col = static_cast<unsigned short>(columns);
    size.ws_row = static_cast<unsigned short>(rows);
    ASSERT_EQ(ioctl(FMaster, TIOCSWINSZ, &size), 0);
  }

 private:
  // Reads what the child wrote, to its terminal and its reports. False once
  // the reports have ended.
  bool Pump(int timeoutMs) {
    pollfd fds[2] = {{FReports, POLLIN, 0}, {FMaster, POLLIN, 0}};
    if (poll(fds, 2, timeoutMs) <= 0) return true;
    char chunk[4096];
    if (fds[1].revents != 0) {
      const ssize_t got = read(FMaster, chunk, sizeof chunk);
      if (got > 0) FScreen.append(chunk, static_cast<std::size_t>(got));
    }
    if (fds[0].revents != 0) {
      const ssize_t got = read(FReports, chunk, sizeof chunk);
      if (got <= 0) return false;
      FReportText.append(chunk, static_cast<std::size_t>(got));
    }
    return true;
  }

  pid_t FPid = -1;
  int FMaster = -1;
  int FReports = -1;
  std::string FReportText;
  std::string FScreen;
  std::size_t FSeen = 0;
};

constexpr const char* kUp = "\x1b[A";

TEST(InteractiveTerminalTest, KeysLinesHistoryAndRestoredModes) {
  PtySession session([](const Reporter& report) {
    BlockTerminalSignals();
    termios before{};
    tcgetattr(STDIN_FILENO, &before);
    {
      auto term = CreateStdTerminal();
      report(term->IsInteractive() ? "interactive" : "plain");

      term->Write("First> ");
      term->Flush();
      const bool early = term->KeyPressed();
      termios editing{};
      tcgetattr(STDIN_FILENO, &editing);
      report((editing.c_lflag & ICANON) == 0 ? "raw" : "canonical");
      report(early ? "key before typing" : "ready");
      const auto deadline = Clock::now() + 10s;
      while (!term->KeyPressed() && Clock::now() < deadline) term->Wait(100ms, -1);
      report(term->KeyPressed() ? "key" : "no key");
      report("line " + term->ReadLine(true));

      report("line " + Ask(*term, report, "Second> ", true));
      report("line " + Ask(*term, report, "Answer: ", false));
      report("line " + Ask(*term, report, "Third> ", true));
      try {
        Ask(*term, report, "Fourth> ", true);
        report("no end");
      } catch (const InputEnded& ended) {
        report("ended " + std::to_string(ended.Signal));
      }
    }
    termios after{};
    tcgetattr(STDIN_FILENO, &after);
    report(SameModes(before, after) ? "restored" : "modes changed");
  });
  ASSERT_TRUE(session.Started());

  EXPECT_EQ(session.Next(), "interactive");
  EXPECT_EQ(session.Next(), "raw");
  ASSERT_EQ(session.Next(), "ready");
  session.Type("h");
  EXPECT_EQ(session.Next(), "key");
  session.Type("ello\r");
  EXPECT_EQ(session.Next(), "line hello");  // the key seen first was not consumed

  ASSERT_EQ(session.Next(), "ready");
  session.Type(std::string(kUp) + "!\r");
  EXPECT_EQ(session.Next(), "line hello!");

  ASSERT_EQ(session.Next(), "ready");
  session.Type(std::string(kUp) + "x\r");  // an answer is offered no earlier line
  EXPECT_EQ(session.Next(), "line x");

  ASSERT_EQ(session.Next(), "ready");
  session.Type(std::string(kUp) + "\r");  // and is not remembered
  EXPECT_EQ(session.Next(), "line hello!");

  ASSERT_EQ(session.Next(), "ready");
  session.Type("\x04");
  EXPECT_EQ(session.Next(), "ended 0");
  EXPECT_EQ(session.Next(), "restored");
  EXPECT_NE(session.Screen().find("Third> "), std::string::npos);
}

TEST(InteractiveTerminalTest, CtrlCWhileTypingEndsWithInterrupt) {
  PtySession session([](const Reporter& report) {
    BlockTerminalSignals();
    termios before{};
    tcgetattr(STDIN_FILENO, &before);
    {
      auto term = CreateStdTerminal();
      try {
        Ask(*term, report, "P> ", true);
        report("no end");
      } catch (const InputEnded& ended) {
        report("ended " + std::to_string(ended.Signal));
      }
    }
    termios after{};
    tcgetattr(STDIN_FILENO, &after);
    report(SameModes(before, after) ? "restored" : "modes changed");
  });
  ASSERT_TRUE(session.Started());
  ASSERT_EQ(session.Next(), "ready");
  session.Type("abc\x03");
  EXPECT_EQ(session.Next(), "ended 2");
  EXPECT_EQ(session.Next(), "restored");
}

TEST(InteractiveTerminalTest, EventOutputKeepsTheEditorWorking) {
  PtySession session([](const Reporter& report) {
    BlockTerminalSignals();
    auto term = CreateStdTerminal();
    term->Write("Zorvane Send >");
    term->KeyPressed();  // the editor shows the prompt
    term->BeginEventOutput();
    term->Write("Connected to the server");  // no line end of its own first
    term->Write("\r\nready line\r\n");
    term->EndEventOutput();  // no prompt written: the editor's comes back
    report("ready");
    report("line " + term->ReadLine(true));
  });
  ASSERT_TRUE(session.Started());
  ASSERT_EQ(session.Next(), "ready");
  session.Type("ok\r");
  EXPECT_EQ(session.Next(), "line ok");

  const std::string& screen = session.Screen();
  const auto event = screen.find("Zorvane Send >\r\nConnected to the server\r\nready line\r\n");
  ASSERT_NE(event, std::string::npos) << screen;
  EXPECT_NE(screen.find("Zorvane Send >", event + 1), std::string::npos) << screen;
}

TEST(InteractiveTerminalTest, WindowChangeAndStopKeyKeepTheEditorGoing) {
  PtySession session([](const Reporter& report) {
    BlockTerminalSignals();
    auto term = CreateStdTerminal();
    report(std::to_string(term->BufferSize().X) + "x" + std::to_string(term->BufferSize().Y));
    term->Write("P> ");
    term->KeyPressed();
    report("ready");
    const auto deadline = Clock::now() + 10s;
    while (term->BufferSize().X != 100 && Clock::now() < deadline) term->Wait(100ms, -1);
    report(std::to_string(term->BufferSize().X) + "x" + std::to_string(term->BufferSize().Y));
    // The stop key: this process group has no shell to continue it, so the
    // system does not stop it; the terminal is given back and taken again.
    report("line " + term->ReadLine(true));
  });
  ASSERT_TRUE(session.Started());
  EXPECT_EQ(session.Next(), "80x25");
  ASSERT_EQ(session.Next(), "ready");
  session.Resize(100, 30);
  EXPECT_EQ(session.Next(), "100x30");
  session.Type("ab");
  ASSERT_TRUE(session.Shows("ab"));  // the editor has them: the stop key cannot discard them
  session.Type("\x1a");
  EXPECT_TRUE(session.Shows("P> ab"));  // shown again after the stop
  session.Type("c\r");
  EXPECT_EQ(session.Next(), "line abc");
}

// A line that grows past the limit is dropped up to its end, said so, and the
// prompt comes again; a line within it arrives whole, whatever its length.
TEST(InteractiveTerminalTest, ALinePastTheLimitIsRefusedAndTheNextOneRead) {
  PtySession session([](const Reporter& report) {
    BlockTerminalSignals();
    UseUtf8Characters();
    auto term = CreateStdTerminal(2000);
    report("line " + Ask(*term, report, "P> ", true));
    report("line " + Ask(*term, report, "P> ", true));
  });
  ASSERT_TRUE(session.Started());
  ASSERT_EQ(session.Next(), "ready");
  session.Type(std::string(2000, 'a') + "\r");
  EXPECT_EQ(session.Next(), "line " + std::string(2000, 'a'));
  ASSERT_EQ(session.Next(), "ready");
  session.Type(std::string(2500, 'b') + "\xc3\xa9\r");
  EXPECT_TRUE(session.Shows(std::string(kLineRefused) + "2000 bytes\r\nP> "));
  session.Type("ok \xc3\xa9\r");
  EXPECT_EQ(session.Next(), "line ok \xc3\xa9");
}

}  // namespace
}  // namespace zv::platform
