// Interactive mode: standard input and output are a terminal. Lines are read
// with the line editor (libedit's own interface, unbuffered: one key per
// call), so the wait for a key, for posted messages and for signals is one
// poll; the editor's raw mode makes a single key visible to that poll.
//
// The editor gets its keys from this terminal, decoded from UTF-8 here, so
// what is typed never depends on the environment's locale, and a line that
// grows past the limit can be refused before the editor holds more of it.
// (The editor's readline emulation is not used: it keeps a pointer into a
// buffer that it reallocates as a line grows past about a thousand bytes,
// and writes through it.)
//
// The editor shows the prompt itself: when input is first awaited, the partly
// written line (the prompt the console wrote) is erased and handed to the
// editor, which prints it again.
#include <histedit.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "platform/terminal_base.h"

namespace zv::platform {
namespace {

using Clock = std::chrono::steady_clock;

constexpr std::size_t kHistoryLimit = 500;
constexpr std::size_t kReadChunk = 4096;
constexpr wchar_t kReplacement = 0xFFFD;

Size WindowSize() {
  winsize ws{};
  if (ioctl(STDOUT_FILENO, TIOCGWINSZ, &ws) == 0 && ws.ws_col > 0 && ws.ws_row > 0)
    return {ws.ws_col, ws.ws_row};
  return {};
}

// The terminal modes found at start, restored at exit and on a fatal signal
// even when the program ends without destroying its terminal.
termios gFoundModes{};
volatile sig_atomic_t gRestoreModes = 0;

void RestoreFoundModes() {
  if (gRestoreModes != 0) tcsetattr(STDIN_FILENO, TCSANOW, &gFoundModes);
}

constexpr int kFatalSignals[] = {SIGABRT, SIGSEGV, SIGBUS, SIGILL, SIGFPE};
struct sigaction gPreviousFatal[std::size(kFatalSignals)];

// Gives the terminal back, then lets the signal take its earlier course: a
// fault happens again when the handler returns, a sent signal is sent again.
void OnFatalSignal(int signo, siginfo_t* info, void* /*context*/) {
  RestoreFoundModes();
  for (std::size_t i = 0; i < std::size(kFatalSignals); ++i) {
    if (kFatalSignals[i] == signo) sigaction(signo, &gPreviousFatal[i], nullptr);
  }
  if (info == nullptr || info->si_code <= 0) raise(signo);
}

void InstallFatalSignalHandlers() {
  static bool installed = false;
  if (installed) return;
  installed = true;
  struct sigaction action {};
  action.sa_sigaction = &OnFatalSignal;
  action.sa_flags = SA_SIGINFO;
  sigemptyset(&action.sa_mask);
  for (std::size_t i = 0; i < std::size(kFatalSignals); ++i) {
    sigaction(kFatalSignals[i], &action, &gPreviousFatal[i]);
  }
}

// UTF-8 and the editor's wide characters (code points).
std::wstring Widen(std::string_view text) {
  std::wstring wide;
  wide.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    const auto b = static_cast<unsigned char>(text[i]);
    const std::size_t extra = b < 0x80             ? 0
                              : (b & 0xE0) == 0xC0 ? 1
                              : (b & 0xF0) == 0xE0 ? 2
                              : (b & 0xF8) == 0xF0 ? 3
                                                   : 4;
    char32_t cp = extra == 0 ? b : extra == 1 ? b & 0x1F : extra == 2 ? b & 0x0F : b & 0x07;
    bool valid = extra < 4 && i + extra < text.size();
    for (std::size_t k = 1; valid && k <= extra; ++k) {
      const auto c = static_cast<unsigned char>(text[i + k]);
      valid = (c & 0xC0) == 0x80;
      cp = (cp << 6) | (c & 0x3F);
    }
    static constexpr char32_t kMin[] = {0, 0x80, 0x800, 0x10000};
    if (valid && (cp < kMin[extra] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)))
      valid = false;
    wide.push_back(valid ? static_cast<wchar_t>(cp) : kReplacement);
    i += valid ? extra + 1 : 1;
  }
  return wide;
}

std::size_t Utf8Length(wchar_t c) {
  const auto cp = static_cast<char32_t>(c);
  return cp < 0x80 ? 1 : cp < 0x800 ? 2 : cp < 0x10000 ? 3 : 4;
}

std::string Narrow(const wchar_t* text, std::size_t count) {
  std::string out;
  out.reserve(count);
  for (std::size_t i = 0; i < count; ++i) {
    char32_t cp = static_cast<char32_t>(text[i]);
    if (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) cp = kReplacement;
    if (cp < 0x80) {
      out += static_cast<char>(cp);
    } else if (cp < 0x800) {
      out += static_cast<char>(0xC0 | (cp >> 6));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
      out += static_cast<char>(0xE0 | (cp >> 12));
      out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (cp >> 18));
      out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    }
  }
  return out;
}

unsigned char DoNothing(EditLine*, int) { return CC_NORM; }

// Keys the editor's emacs map lacks that terminals send (Home, End, Delete,
// word moves with Ctrl and the arrows), and the incremental history search.
constexpr const char* kBindings[][2] = {
    {"\\e[1~", "ed-move-to-beg"},      {"\\e[4~", "ed-move-to-end"}, {"\\e[7~", "ed-move-to-beg"},
    {"\\e[8~", "ed-move-to-end"},      {"\\e[H", "ed-move-to-beg"},  {"\\e[F", "ed-move-to-end"},
    {"\\e[3~", "ed-delete-next-char"}, {"\\e[1;5C", "em-next-word"}, {"\\e[1;5D", "ed-prev-word"},
    {"\\e[5C", "em-next-word"},        {"\\e[5D", "ed-prev-word"},   {"^R", "em-inc-search-prev"},
};

class InteractiveTerminal final : public TerminalBase {
 public:
  explicit InteractiveTerminal(std::size_t maxLineBytes)
      : TerminalBase(STDIN_FILENO, STDOUT_FILENO, WindowSize(), maxLineBytes) {
    FHaveModes = tcgetattr(FInFd, &FModes) == 0;
    if (FHaveModes) {
      static const bool registered = std::atexit(&RestoreFoundModes) == 0;
      gFoundModes = FModes;
      gRestoreModes = registered ? 1 : 0;
      InstallFatalSignalHandlers();
      FEofKey = static_cast<wchar_t>(FModes.c_cc[VEOF]);
    }
  }

  ~InteractiveTerminal() override {
    if (FInstalled) RemoveEditor();
    FinishLine();
    if (FEditor != nullptr) el_end(FEditor);
    if (FHistory != nullptr) history_wend(FHistory);
    if (FHaveModes) tcsetattr(FInFd, TCSADRAIN, &FModes);
    gRestoreModes = 0;
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
    TakeSignals();
    ShowEditor();
    if (!FPending.empty()) return true;
    pollfd in{FInFd, POLLIN, 0};
    return poll(&in, 1, 0) > 0;
  }

  WaitResult Wait(std::chrono::milliseconds bound, int wakeFd) override {
    ShowEditor();
    const auto deadline = Clock::now() + bound;
    for (;;) {
      TakeSignals();
      if (!FPending.empty()) return WaitResult::kKey;
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
    while (!FLineDone && !FInputEnded) {
      // The operator may take as long as they like: the read ends with the
      // line, the end of input or a signal.
      TakeSignals();
      if (FPending.empty()) {
        pollfd fds[2] = {{FInFd, POLLIN, 0}, {FSignals.Fd(), POLLIN, 0}};
        const int ready = poll(fds, 2, -1);
        if (ready < 0 && errno != EINTR) break;
        if (ready <= 0) continue;
        if (fds[1].revents != 0) TakeSignals();
        if ((fds[0].revents & POLLIN) == 0) {
          if ((fds[0].revents & (POLLHUP | POLLERR | POLLNVAL)) != 0) break;
          continue;
        }
      }
      if (FDropping) {
        DropRefusedLine();
      } else {
        FeedEditor();
      }
    }
    if (!FLineDone) {
      // The input is gone.
      if (FInstalled) RemoveEditor();
      FLine.reset();
    }
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
  // The editor's source of keys: one character from the bytes read, read
  // more when they hold none (or only the start of one).
  static int GetChar(EditLine* editor, wchar_t* c) {
    void* data = nullptr;
    el_get(editor, EL_CLIENTDATA, &data);
    return static_cast<InteractiveTerminal*>(data)->NextChar(c);
  }

  int NextChar(wchar_t* c) {
    for (;;) {
      if (!FPending.empty()) {
        const auto lead = static_cast<unsigned char>(FPending.front());
        const std::size_t need = lead < 0xC0 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
        if (FPending.size() >= need || FInputEnded) {
          const std::size_t take = std::min(need, FPending.size());
          const std::wstring wide = Widen(std::string_view(FPending).substr(0, take));
          // A bad sequence gives U+FFFD for its first byte; the rest is read again.
          const std::size_t used = wide.size() == 1 ? take : 1;
          *c = wide.front();
          FPending.erase(0, used);
          FFedBytes += Utf8Length(*c);
          return 1;
        }
      }
      char chunk[kReadChunk];
      const ssize_t got = read(FInFd, chunk, sizeof chunk);
      if (got > 0) {
        FPending.append(chunk, static_cast<std::size_t>(got));
      } else if (got < 0 && (errno == EINTR || errno == EAGAIN)) {
        pollfd in{FInFd, POLLIN, 0};
        poll(&in, 1, -1);
      } else {
        FInputEnded = true;
        if (FPending.empty()) return got == 0 ? 0 : -1;
      }
    }
  }

  // Gives the editor one key and sees what became of the line.
  void FeedEditor() {
    int count = 0;
    const wchar_t* line = el_wgets(FEditor, &count);
    std::fflush(stdout);
    if (line == nullptr || count <= 0) return;  // an empty line after an edit
    const auto length = static_cast<std::size_t>(count);
    if (length == 1 && line[0] == FEofKey) {
      RemoveEditor();
      FLineDone = true;  // no line: the end of input
      return;
    }
    if (line[length - 1] == L'\n' || line[length - 1] == L'\r') {
      RemoveEditor();
      FLine = Narrow(line, length - 1);
      FLineDone = true;
      return;
    }
    // Bytes fed since the line began bound the line's length from above; only
    // when they pass the limit is the line itself measured.
    if (FFedBytes <= FMaxLineBytes) return;
    std::size_t bytes = 0;
    for (std::size_t i = 0; i < length; ++i) bytes += Utf8Length(line[i]);
    FFedBytes = bytes;
    if (bytes > FMaxLineBytes) FDropping = true;
  }

  // Drops what is typed up to the end of a line that grew past the limit,
  // then says so and offers the prompt again. The editor stays in raw mode
  // meanwhile, so none of it is echoed.
  void DropRefusedLine() {
    if (FPending.empty()) {
      char chunk[kReadChunk];
      const ssize_t got = read(FInFd, chunk, sizeof chunk);
      if (got > 0) {
        FPending.assign(chunk, static_cast<std::size_t>(got));
      } else if (got == 0 || (errno != EINTR && errno != EAGAIN)) {
        FInputEnded = true;
        return;
      }
    }
    const std::size_t end = FPending.find_first_of("\r\n");
    if (end == std::string::npos) {
      FPending.clear();
      return;
    }
    const char ending = FPending[end];
    FPending.erase(0, end + 1);
    if (ending == '\r' && !FPending.empty() && FPending.front() == '\n') FPending.erase(0, 1);
    FDropping = false;
    const std::string prompt = FEditorPrompt;
    RemoveEditor();
    Put("\r\n");
    FTracker.Advance("\n");
    Emit(RefusalText());
    Emit("\n");
    Emit(prompt);
    InstallEditor();
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

  void CreateEditor() {
    FEditor = el_init("zvcc", stdin, stdout, stderr);
    el_set(FEditor, EL_CLIENTDATA, static_cast<void*>(this));
    el_set(FEditor, EL_SIGNAL, 0);  // the signals come through the terminal's signalfd
    el_set(FEditor, EL_EDITOR, "emacs");
    el_wset(FEditor, EL_PROMPT, &InteractiveTerminal::EditorPrompt);
    el_wset(FEditor, EL_GETCFN, &InteractiveTerminal::GetChar);
    FHistory = history_winit();
    HistEventW event{};
    history_w(FHistory, &event, H_SETSIZE, static_cast<int>(kHistoryLimit));
    el_wset(FEditor, EL_HIST, history_w, FHistory);
    // No file-name completion, and no start-up file: the keys are the program's.
    // Wide: the narrow form copies the names and never frees them.
    el_wset(FEditor, EL_ADDFN, L"zv-nothing", L"Does nothing", &DoNothing);
    el_set(FEditor, EL_BIND, "^I", "zv-nothing", nullptr);
    for (const auto& binding : kBindings) el_set(FEditor, EL_BIND, binding[0], binding[1], nullptr);
  }

  static wchar_t* EditorPrompt(EditLine* editor) {
    void* data = nullptr;
    el_get(editor, EL_CLIENTDATA, &data);
    return static_cast<InteractiveTerminal*>(data)->FEditorPromptWide.data();
  }

  void SetEditorPrompt(const std::string& prompt) {
    FEditorPrompt = prompt;
    FEditorPromptWide = Widen(prompt);
  }

  void InstallEditor() {
    if (FEditor == nullptr) CreateEditor();
    const std::string prompt = FTracker.Line();
    if (!prompt.empty() || !FTracker.AtLineStart()) Put(FTracker.AnsiEraseLine());
    Flush();
    FTracker.Advance(prompt);
    SetEditorPrompt(prompt);
    FFedBytes = 0;
    el_set(FEditor, EL_UNBUFFERED, 1);  // raw mode, an empty line, the prompt shown
    std::fflush(stdout);
    FInstalled = true;
    FStale = false;
  }

  void RemoveEditor() {
    el_set(FEditor, EL_UNBUFFERED, 0);
    std::fflush(stdout);
    FInstalled = false;
  }

  // Shows `prompt` with the editor's line from the start of the current line.
  void Redisplay(const std::string& prompt) {
    Put(FTracker.AnsiEraseLine());
    Flush();
    FTracker.Advance(prompt);
    SetEditorPrompt(prompt);
    el_set(FEditor, EL_REFRESH);  // draws from the first column of the current row
    std::fflush(stdout);
    FStale = false;
  }

  // The editor's history holds the remembered lines, or nothing for answers.
  void OfferHistory(bool history) {
    HistEventW event{};
    history_w(FHistory, &event, H_CLEAR);
    if (!history) return;
    for (const auto& line : FRemembered) history_w(FHistory, &event, H_ENTER, Widen(line).c_str());
  }

  void Remember(const std::string& line) {
    if (line.empty() || (!FRemembered.empty() && FRemembered.back() == line)) return;
    if (FRemembered.size() >= kHistoryLimit) FRemembered.erase(FRemembered.begin());
    FRemembered.push_back(line);
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
    if (FEditor != nullptr && FInstalled) {
      el_resize(FEditor);
      std::fflush(stdout);
    }
  }

  termios FModes{};  // as found; restored at the end
  bool FHaveModes = false;
  wchar_t FEofKey = 4;  // the terminal's end-of-file key (Ctrl-D)

  EditLine* FEditor = nullptr;  // created when first shown
  HistoryW* FHistory = nullptr;
  bool FInstalled = false;  // the editor takes keys (raw mode)
  bool FStale = false;      // output went past the editor's line outside an event
  std::string FEditorPrompt;
  std::wstring FEditorPromptWide;        // what the editor shows
  std::vector<std::string> FRemembered;  // command and message lines, oldest first

  std::string FPending;       // read from the terminal, not yet given to the editor
  std::size_t FFedBytes = 0;  // UTF-8 bytes given to the editor since the line began
  bool FDropping = false;     // the line passed the limit: dropped up to its end
  bool FInputEnded = false;   // the terminal reported the end of input (or failed)

  bool FInEvent = false;
  bool FEventWrote = false;
  bool FEventFreshLine = false;  // the event's first text goes on a fresh line
  std::string FPromptBeforeEvent;

  bool FLineDone = false;
  std::optional<std::string> FLine;
};

}  // namespace

std::unique_ptr<Terminal> CreateStdTerminal(std::size_t maxLineBytes) {
  BlockTerminalSignals();  // harmless when main has done it already
  if (isatty(STDIN_FILENO) != 0 && isatty(STDOUT_FILENO) != 0)
    return std::make_unique<InteractiveTerminal>(maxLineBytes);
  return CreatePlainTerminal(STDIN_FILENO, STDOUT_FILENO, maxLineBytes);
}

}  // namespace zv::platform
