// The program's console: standard input and output, in one of two modes.
//
// Interactive mode (standard input and output both terminals): lines are read
// with a line editor (history on the arrow keys for command lines), the screen
// is driven with ANSI sequences and its size comes from the terminal.
//
// Plain mode (a pipe or a file): no escape sequences; ClearScreen writes
// nothing and placement writes line breaks and blanks, so captured output reads
// as an 80 by 25 screen would; each line read is echoed after its prompt.
//
// The terminal keeps track of where it has written, so CursorPos needs no
// query; columns are counted in code points. Texts may hold "\r\n"; they are
// written with "\n". Output is buffered: Flush writes it, and so does every
// wait for input.
//
// Main thread only.
#pragma once

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zv::platform {

struct Point {
  int X = 0;  // column, from 0
  int Y = 0;  // row, from 0
};

struct Size {
  int X = 80;  // columns
  int Y = 25;  // rows
};

// Thrown out of Wait and ReadLine when input has ended (Signal 0: end of input
// or Ctrl-D on an empty line) or a terminating signal arrived (INT, TERM, HUP,
// and in plain mode QUIT: Signal holds its number). The entry ends the program through its exit path.
struct InputEnded {
  int Signal = 0;
};

enum class WaitResult {
  kTimeout,  // the bound passed
  kKey,      // KeyPressed() is true now
  kWake,     // the wake descriptor became readable
};

class Terminal {
 public:
  virtual ~Terminal() = default;

  virtual bool IsInteractive() const = 0;

  // Output.
  virtual void Write(std::string_view text) = 0;
  virtual void Flush() = 0;
  virtual void ClearScreen() = 0;
  virtual void GotoXY(int x, int y) = 0;
  virtual Point CursorPos() const = 0;
  virtual Size BufferSize() const = 0;     // screen size in cells
  virtual Size MaxWindowSize() const = 0;  // largest window size in cells

  // Input. KeyPressed never blocks and never consumes what was typed: in
  // interactive mode it is true once a key is waiting, in plain mode once a
  // complete line (or the end of input) is waiting. It takes pending signals
  // first, so a terminating signal throws InputEnded even while lines wait.
  virtual bool KeyPressed() = 0;

  // Waits up to `bound` for a key, for `wakeFd` (-1: none) to become readable,
  // or for a signal. Throws InputEnded on a terminating signal. The stop key
  // (TSTP) gives the terminal back while the process is stopped. QUIT is
  // ignored in interactive mode, where it is a key typed by mistake; in plain
  // mode it comes from whoever runs the program and ends it as TERM does.
  virtual WaitResult Wait(std::chrono::milliseconds bound, int wakeFd) = 0;
  // The same wait without looking at the input (never kKey): a script's next
  // line stays unread while the program waits for the link.
  virtual WaitResult WaitEvents(std::chrono::milliseconds bound, int wakeFd) = 0;

  // Reads one line, without its end. The text written since the last line end
  // is the line's prompt (the line editor shows it). `history`: the line is
  // offered on the arrow keys later (command and message lines), and earlier
  // lines are offered while it is typed; answers to value prompts are not.
  // Throws InputEnded at the end of input or on a terminating signal, after
  // ending the partly written line on the screen.
  virtual std::string ReadLine(bool history) = 0;

  // Brackets output that appears while the prompt stands (server events). In
  // interactive mode the editor's prompt line stays as it is and the event's
  // text starts on a fresh line (its own leading line end serves, where it has
  // one); afterwards the editor shows its prompt again: the event's own prompt
  // where it wrote one (not doubled), the earlier prompt otherwise. Plain mode
  // writes the event exactly as written.
  virtual void BeginEventOutput() = 0;
  virtual void EndEventOutput() = 0;

  // The lines refused as too long (kMaxLineBytes) since the last call, oldest
  // first, each already told on the screen; plain mode keeps them, so that a
  // script can count them among its pages.
  struct RefusedLine {
    std::string Head;    // the line's first bytes (at most kRefusedHeadBytes)
    std::string Reason;  // "the line is longer than the limit of N bytes"
  };
  virtual std::vector<RefusedLine> TakeRefusedLines() { return {}; }

  // Why output could not be written, once a write failed (a full disk, a
  // reader that closed the pipe, a descriptor that cannot be written); none
  // while every write got out.
  virtual std::optional<std::string> OutputError() const { return std::nullopt; }
};

// How much of a refused line RefusedLine keeps.
constexpr std::size_t kRefusedHeadBytes = 256;

// The longest line read, in bytes of UTF-8 without the line end. A longer line
// is refused as a whole, in both modes: the terminal writes kLineRefused and
// the limit on a line of its own, drops the line (never holding more of it
// than the limit) and reads the next one after the prompt again.
constexpr std::size_t kMaxLineBytes = 1024 * 1024;
constexpr std::string_view kLineRefused = "The line was refused: it is longer than the limit of ";

// Blocks INT, TERM, HUP, QUIT, WINCH and TSTP in the calling thread (and so in
// every thread started later), to be taken by the terminal through a signalfd.
// Call first thing in main, before any thread starts.
void BlockTerminalSignals();

// Gives the process descriptors 0, 1 and 2 where it was started without them
// (/dev/null, opened for reading: a closed standard input reads as its end,
// and every write to a closed standard output or error fails as it would
// have), so that no descriptor opened later takes their place. Call first
// thing in main.
void OpenMissingStandardDescriptors();

// Lets a write to a pipe whose reader has gone fail with EPIPE rather than end
// the process, so that the program can tell its own status.
void IgnoreBrokenPipes();

// Whether standard error is a terminal (a place for a passing progress line).
bool StandardErrorIsTerminal();

// The program's text is UTF-8: the character type is taken from the
// environment where it is UTF-8, otherwise C.UTF-8, so that what is typed and
// shown keeps every character whatever the environment says. The other
// categories follow the environment. Call in main, before any thread starts.
void UseUtf8Characters();

// The terminal on standard input and output: interactive when both are
// terminals, plain otherwise. Restores the terminal when destroyed, at exit
// and on a fatal signal (SIGABRT, SIGSEGV, SIGBUS, SIGILL, SIGFPE), should the
// program end without destroying it. Blocks the terminal signals in the
// calling thread too, in case main has not.
std::unique_ptr<Terminal> CreateStdTerminal(std::size_t maxLineBytes = kMaxLineBytes);

// A plain-mode terminal on the given descriptors (tests use a pipe or a
// socketpair). The descriptors stay open when it is destroyed.
std::unique_ptr<Terminal> CreatePlainTerminal(int inFd, int outFd,
                                              std::size_t maxLineBytes = kMaxLineBytes);

}  // namespace zv::platform
