// Interactive mode: standard input and output are a terminal. Lines are read
// with the line editor's callback interface, so the wait for a key, for posted
// messages and for signals is one poll; the editor's raw mode makes a single
// key visible to that poll without consuming it.
//
// The editor shows the prompt itself: when input is first awaited, the partly
// written line (the prompt the console wrote) is erased and handed to the
// editor, which prints it again.
#include <editline/readline.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <vector>

#include "platform/terminal_base.h"

namespace zv::platform {
namespace {

using Clock = std::chrono::steady_clock;

constexpr std::size_t kHistoryLimit = 500;

Size WindowSize() {
  winsize ws{};
  if (ioctl(STDOUT_FILENO, TIOCGWINSZ, &ws) == 0 && ws.ws_col > 0 && ws.ws_row > 0)
    return {ws.ws_col, ws.ws_row};
  return {};
}

// The terminal modes found at start, restored at exit even when the program
// ends without destroying its terminal.
termios gFoundModes{};
bool gRestoreAtExit = false;

void RestoreFoundModes() {
  if (gRestoreAtExit) tcsetattr(STDIN_FILENO, TCSANOW, &gFoundModes);
}

int DoNothing(int, int) { return 0; }

void InitEditorOnce() {
  static bool done = false;
  if (done) return;
  done = true;
  rl_catch_signals = 0;  // the signals come through the terminal's signalfd
  rl_catch_sigwinch = 0;
  rl_readline_name = "zvcc";
  rl_instream = stdin;
  rl_outstream = stdout;
  rl_initialize();
  rl_add_defun("zv-no-completion", &DoNothing, '\t');  // no file-name completion
}

class InteractiveTerminal final : public TerminalBase {
 public:
  InteractiveTerminal() : TerminalBase(STDIN_FILENO, STDOUT_FILENO, WindowSize()) {
    FHaveModes = tcgetattr(FInFd, &FModes) == 0;
    if (FHaveModes) {
      static const bool registered = std::atexit(&RestoreFoundModes) == 0;
      gFoundModes = FModes;
      gRestoreAtExit = registered;
    }
    gActive = this;
  }

  ~InteractiveTerminal() override {
    if (FInstalled) RemoveEditor();
    FinishLine();
    if (FHaveModes) tcsetattr(FInFd, TCSADRAIN, &FModes);
    gRestoreAtExit = false;
    gActive = nullptr;
  }

  bool IsInteractive() const override { return true; }

  void Write(std::string_view text) override {
    if (text.empty()) return;
    NoteOutput();
    if (FEventFreshLine) {
      FEventFreshLine = false;
      if (text.front() != '\n' && text.substr(0, 2) != "\r\n") Emit("\n");
    }
    TerminalBase::Write(text);
  }

  void ClearScreen() override {
    NoteOutput();
    FEventFreshLine = false;
    Put("\x1b[H\x1b[2J");
    FTracker.Clear();
  }

  void GotoXY(int x, int y) override {
    NoteOutput();
    FEventFreshLine = false;
    Put(FTracker.AnsiMove(x, y));
  }

  bool KeyPressed() override {
    ShowEditor();
    pollfd in{FInFd, POLLIN, 0};
    return poll(&in, 1, 0) > 0;
  }

  WaitResult Wait(std::chrono::milliseconds bound, int wakeFd) override {
    ShowEditor();
    const auto deadline = Clock::now() + bound;
    for (;;) {
      pollfd fds[3] = {{FInFd, POLLIN, 0}, {FSignals.Fd(), POLLIN, 0}, {wakeFd, POLLIN, 0}};
      const int ready = poll(fds, wakeFd >= 0 ? 3 : 2, MillisecondsLeft(deadline));
      if (ready < 0 && errno != EINTR) return WaitResult::kTimeout;
      if (ready > 0) {
        if (fds[1].revents != 0) TakeSignals();
        if (fds[0].revents != 0) return WaitResult::kKey;
        if (fds[2].revents != 0) return WaitResult::kWake;
      }
      if (Clock::now() >= deadline) return WaitResult::kTimeout;
    }
  }

  std::string ReadLine(bool history) override {
    ShowEditor();
    OfferHistory(history);
    FLineDone = false;
    FLine.reset();
    while (!FLineDone) {
      // The operator may take as long as they like: the read ends with the
      // line, the end of input or a signal.
      pollfd fds[2] = {{FInFd, POLLIN, 0}, {FSignals.Fd(), POLLIN, 0}};
      const int ready = poll(fds, 2, -1);
      if (ready < 0 && errno != EINTR) break;
      if (ready <= 0) continue;
      if (fds[1].revents != 0) TakeSignals();
      if ((fds[0].revents & (POLLHUP | POLLERR | POLLNVAL)) != 0) break;
      if ((fds[0].revents & POLLIN) != 0) {
        rl_callback_read_char();
        std::fflush(stdout);
      }
    }
    if (!FLineDone) RemoveEditor();  // the input is gone
    if (!FLine) {
      // Ctrl-D on an empty line, shown by the editor as "^D": show the bare
      // prompt line instead, ended.
      const std::string prompt = FEditorPrompt;
      Put(FTracker.AnsiEraseLine());
      Emit(prompt);
      FinishLine();
      throw InputEnded{0};
    }
    // The editor has ended the line on the screen.
    FTracker.Advance(*FLine);
    FTracker.Advance("\n");
    if (history) Remember(*FLine);
    return *FLine;
  }

  void BeginEventOutput() override {
    FInEvent = true;
    FEventWrote = false;
    FPromptBeforeEvent = FInstalled ? FEditorPrompt : FTracker.Line();
    FEventFreshLine = !FTracker.AtLineStart();
  }

  void EndEventOutput() override {
    FInEvent = false;
    FEventFreshLine = false;
    if (!FEventWrote) return;
    const std::string prompt = FTracker.Line().empty() ? FPromptBeforeEvent : FTracker.Line();
    if (FInstalled) {
      Redisplay(prompt);
    } else {
      if (FTracker.Line().empty()) Emit(prompt);
      Flush();
    }
  }

 private:
  static void OnLine(char* line) {
    // Called by the editor from inside rl_callback_read_char.
    InteractiveTerminal* self = gActive;
    rl_callback_handler_remove();
    if (self != nullptr) {
      self->FInstalled = false;
      self->FLineDone = true;
      if (line != nullptr) self->FLine = line;
    }
    std::free(line);
  }

  // Output while the editor shows its line: inside an event bracket it is the
  // event's; otherwise the editor's display is out of date.
  void NoteOutput() {
    if (FInEvent) {
      FEventWrote = true;
    } else if (FInstalled) {
      FStale = true;
    }
  }

  // Makes the editor show its prompt (the partly written line) and take keys.
  void ShowEditor() {
    if (!FInstalled) {
      InstallEditor();
    } else if (FStale) {
      Redisplay(FTracker.Line());
    }
    Flush();
  }

  void InstallEditor() {
    InitEditorOnce();
    const std::string prompt = FTracker.Line();
    if (!prompt.empty() || !FTracker.AtLineStart()) Put(FTracker.AnsiEraseLine());
    Flush();
    FTracker.Advance(prompt);
    FEditorPrompt = prompt;
    rl_callback_handler_install(prompt.c_str(), &InteractiveTerminal::OnLine);
    std::fflush(stdout);
    FInstalled = true;
    FStale = false;
  }

  void RemoveEditor() {
    rl_callback_handler_remove();
    std::fflush(stdout);
    FInstalled = false;
  }

  // Shows `prompt` with the editor's line from the start of the current line.
  void Redisplay(const std::string& prompt) {
    Put(FTracker.AnsiEraseLine());
    Flush();
    FTracker.Advance(prompt);
    FEditorPrompt = prompt;
    rl_set_prompt(prompt.c_str());
    rl_on_new_line();
    rl_forced_update_display();  // draws from the first column of the current row
    std::fflush(stdout);
    FStale = false;
  }

  // The editor's history holds the remembered lines, or nothing for answers.
  void OfferHistory(bool history) {
    clear_history();
    if (!history) return;
    for (const auto& line : FHistory) add_history(line.c_str());
  }

  void Remember(const std::string& line) {
    if (line.empty() || (!FHistory.empty() && FHistory.back() == line)) return;
    if (FHistory.size() >= kHistoryLimit) FHistory.erase(FHistory.begin());
    FHistory.push_back(line);
  }

  void LeaveForExit() override {
    if (FInstalled) {
      RemoveEditor();
      Emit("\n");  // the editor's line stays as it was typed
    }
    FinishLine();
  }

  void Suspend() override {
    Flush();
    termios editing{};
    const bool haveEditing = tcgetattr(FInFd, &editing) == 0;
    if (FInstalled) Emit("\n");
    Flush();
    if (FHaveModes) tcsetattr(FInFd, TCSADRAIN, &FModes);
    TerminalSignals::StopProcess();
    if (haveEditing) tcsetattr(FInFd, TCSADRAIN, &editing);
    Resized();
    // The shell has written its lines; the cursor is at the start of one.
    if (FInstalled) Redisplay(FEditorPrompt);
  }

  void Resized() override {
    FTracker.Resize(WindowSize());
    if (FInstalled) {
      rl_resize_terminal();
      std::fflush(stdout);
    }
  }

  static inline InteractiveTerminal* gActive = nullptr;

  termios FModes{};  // as found; restored at the end
  bool FHaveModes = false;
  bool FInstalled = false;  // the editor's handler is installed (raw mode)
  bool FStale = false;      // output went past the editor's line outside an event
  std::string FEditorPrompt;
  std::vector<std::string> FHistory;  // command and message lines, oldest first

  bool FInEvent = false;
  bool FEventWrote = false;
  bool FEventFreshLine = false;  // the event's first text goes on a fresh line
  std::string FPromptBeforeEvent;

  bool FLineDone = false;  // set by OnLine
  std::optional<std::string> FLine;
};

}  // namespace

std::unique_ptr<Terminal> CreateStdTerminal() {
  BlockTerminalSignals();  // harmless when main has done it already
  if (isatty(STDIN_FILENO) != 0 && isatty(STDOUT_FILENO) != 0)
    return std::make_unique<InteractiveTerminal>();
  return CreatePlainTerminal(STDIN_FILENO, STDOUT_FILENO);
}

}  // namespace zv::platform
