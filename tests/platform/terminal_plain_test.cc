#include <fcntl.h>
#include <gtest/gtest.h>
#include <pthread.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/terminal.h"

namespace zv::platform {
namespace {

using namespace std::chrono_literals;

// A plain terminal between two pipes: the test types into one and reads the
// screen from the other.
class PlainTerminalTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(pipe2(FIn, O_CLOEXEC), 0);
    ASSERT_EQ(pipe2(FOut, O_CLOEXEC | O_NONBLOCK), 0);
    FTerm = CreatePlainTerminal(FIn[0], FOut[1]);
  }
  void TearDown() override {
    FTerm.reset();
    for (int fd : {FIn[0], FIn[1], FOut[0], FOut[1]})
      if (fd >= 0) close(fd);
  }

  void Type(const std::string& text) {
    ASSERT_EQ(write(FIn[1], text.data(), text.size()), static_cast<ssize_t>(text.size()));
  }
  void EndInput() {
    close(FIn[1]);
    FIn[1] = -1;
  }
  // What has reached the output so far.
  std::string Screen() {
    std::string all;
    char chunk[4096];
    ssize_t got;
    while ((got = read(FOut[0], chunk, sizeof chunk)) > 0)
      all.append(chunk, static_cast<std::size_t>(got));
    return all;
  }

  int FIn[2] = {-1, -1};
  int FOut[2] = {-1, -1};
  std::unique_ptr<Terminal> FTerm;
};

TEST_F(PlainTerminalTest, ScreensRenderAsLinesWithoutEscapes) {
  EXPECT_FALSE(FTerm->IsInteractive());
  EXPECT_EQ(FTerm->BufferSize().X, 80);
  EXPECT_EQ(FTerm->BufferSize().Y, 25);

  FTerm->Write("Zorvane Send >");
  FTerm->ClearScreen();  // ends the partial line, writes nothing else
  FTerm->GotoXY(3, 1);
  FTerm->Write("Zorvane Console Client\r\n");
  FTerm->GotoXY(2, 2);
  FTerm->Write("Title\r\n");
  FTerm->GotoXY(1, 4);
  FTerm->Write("List");
  EXPECT_EQ(FTerm->CursorPos().X, 5);
  EXPECT_EQ(FTerm->CursorPos().Y, 4);
  FTerm->GotoXY(0, FTerm->CursorPos().Y + 1);
  FTerm->Write("a\r\nb\n");
  FTerm->ClearScreen();  // at the line start: nothing at all
  FTerm->Flush();
  EXPECT_EQ(Screen(),
            "Zorvane Send >\n"
            "\n"
            "   Zorvane Console Client\n"
            "  Title\n"
            "\n"
            " List\n"
            "a\n"
            "b\n");
  EXPECT_EQ(FTerm->CursorPos().X, 0);
  EXPECT_EQ(FTerm->CursorPos().Y, 0);
}

TEST_F(PlainTerminalTest, OutputWaitsForFlushOrARead) {
  FTerm->Write("Enter server port: ");
  EXPECT_EQ(Screen(), "");
  FTerm->Flush();
  EXPECT_EQ(Screen(), "Enter server port: ");

  FTerm->Write("again: ");
  Type("1\n");
  FTerm->ReadLine(false);  // a read flushes first, then echoes
  EXPECT_EQ(Screen(), "again: 1\n");

  // While a whole line waits, output goes out with what follows; any wait,
  // and the last line's read, write it.
  Type("2\n3\n");
  ASSERT_TRUE(FTerm->KeyPressed());
  FTerm->Write("> ");
  FTerm->Flush();
  EXPECT_EQ(Screen(), "");
  EXPECT_EQ(FTerm->ReadLine(false), "2");
  EXPECT_EQ(Screen(), "");
  FTerm->Write("> ");
  EXPECT_EQ(FTerm->Wait(std::chrono::milliseconds(0), -1), WaitResult::kKey);
  EXPECT_EQ(Screen(), "> 2\n> ");
  EXPECT_EQ(FTerm->ReadLine(false), "3");
  EXPECT_EQ(Screen(), "3\n");
}

TEST_F(PlainTerminalTest, KeyPressedOnlyOnACompleteLineAndConsumesNothing) {
  EXPECT_FALSE(FTerm->KeyPressed());
  Type("ab");
  EXPECT_FALSE(FTerm->KeyPressed());
  EXPECT_EQ(FTerm->Wait(20ms, -1), WaitResult::kTimeout);
  Type("c\r\nsecond\n");
  EXPECT_TRUE(FTerm->KeyPressed());
  EXPECT_TRUE(FTerm->KeyPressed());
  EXPECT_EQ(FTerm->Wait(20ms, -1), WaitResult::kKey);

  FTerm->Write("Zorvane Send >");
  EXPECT_EQ(FTerm->ReadLine(true), "abc");  // CR LF taken as the line end
  EXPECT_TRUE(FTerm->KeyPressed());
  FTerm->Write("Zorvane Send >");
  EXPECT_EQ(FTerm->ReadLine(true), "second");
  EXPECT_FALSE(FTerm->KeyPressed());
  EXPECT_EQ(Screen(), "Zorvane Send >abc\nZorvane Send >second\n");
  EXPECT_EQ(FTerm->CursorPos().X, 0);
  EXPECT_EQ(FTerm->CursorPos().Y, 2);
}

TEST_F(PlainTerminalTest, EmptyLinesAreLines) {
  Type("\n\r\nx\n");
  EXPECT_EQ(FTerm->ReadLine(false), "");
  EXPECT_EQ(FTerm->ReadLine(false), "");
  EXPECT_EQ(FTerm->ReadLine(false), "x");
}

// The line itself reaches the program as typed; only its echo is made safe.
TEST_F(PlainTerminalTest, EchoShowsControlCharactersInCaretNotation) {
  const std::string line =
      "a\rb\x1b[2J\tc\x7f\xc2\x9b"
      "d \xc3\xa9";
  Type(line + "\n");
  EXPECT_EQ(FTerm->ReadLine(false), line);
  EXPECT_EQ(Screen(), "a^Mb^[[2J\tc^?M-^[d \xc3\xa9\n");
}

TEST_F(PlainTerminalTest, EchoShowsDirectionControlsByTheirCode) {
  const struct {
    std::string typed;
    std::string echo;
  } cases[] = {
      {"555,\u202Egnp.exe", "555,<U+202E>gnp.exe"},
      {"\u2066a\u2069\u200E\u200F\u061C\u202A", "<U+2066>a<U+2069><U+200E><U+200F><U+061C><U+202A>"},
      // A cut sequence and the neighbours of the controls stay as they came.
      {"\u2029\u2065 \xe2\x80", "\u2029\u2065 \xe2\x80"},
  };
  std::string screen;
  for (const auto& c : cases) {
    Type(c.typed + "\n");
    EXPECT_EQ(FTerm->ReadLine(false), c.typed);
    screen += c.echo + "\n";
  }
  EXPECT_EQ(Screen(), screen);
}

TEST_F(PlainTerminalTest, EndOfInputEndsAfterALastLineWithoutLineEnd) {
  Type("quit");
  EndInput();
  EXPECT_EQ(FTerm->Wait(5s, -1), WaitResult::kKey);
  EXPECT_TRUE(FTerm->KeyPressed());
  FTerm->Write("> ");
  EXPECT_EQ(FTerm->ReadLine(true), "quit");

  FTerm->Write("> ");
  EXPECT_TRUE(FTerm->KeyPressed());  // the end itself lets the loop read
  EXPECT_EQ(FTerm->Wait(5s, -1), WaitResult::kKey);
  try {
    FTerm->ReadLine(true);
    FAIL() << "no InputEnded";
  } catch (const InputEnded& ended) {
    EXPECT_EQ(ended.Signal, 0);
  }
  EXPECT_THROW(FTerm->ReadLine(false), InputEnded);
  EXPECT_EQ(Screen(), "> quit\n> \n");
}

TEST_F(PlainTerminalTest, WaitWakesForTheWakeDescriptorAndForInputFromAnotherThread) {
  const int wake = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  ASSERT_GE(wake, 0);
  EXPECT_EQ(FTerm->Wait(10ms, wake), WaitResult::kTimeout);
  const std::uint64_t one = 1;
  ASSERT_EQ(write(wake, &one, sizeof one), static_cast<ssize_t>(sizeof one));
  EXPECT_EQ(FTerm->Wait(5s, wake), WaitResult::kWake);
  std::uint64_t drained = 0;
  ASSERT_EQ(read(wake, &drained, sizeof drained), static_cast<ssize_t>(sizeof drained));
  close(wake);

  // A line typed in two parts while the wait runs ends it as soon as it is whole.
  const auto start = std::chrono::steady_clock::now();
  std::thread typist([this] {
    Type("hel");
    Type("lo\n");
  });
  EXPECT_EQ(FTerm->Wait(30s, -1), WaitResult::kKey);
  typist.join();
  EXPECT_LT(std::chrono::steady_clock::now() - start, 30s);
  EXPECT_EQ(FTerm->ReadLine(true), "hello");
}

// A line past the limit is dropped whole wherever its end arrives, the prompt
// comes again, and the lines around it are read as they are.
TEST_F(PlainTerminalTest, LinesPastTheLimitAreRefusedWhole) {
  FTerm = CreatePlainTerminal(FIn[0], FOut[1], 8);
  const std::string refused = std::string(kLineRefused) + "8 bytes\n";
  Type("12345678\n" + std::string(20, 'x'));
  FTerm->Write("P>");
  EXPECT_EQ(FTerm->ReadLine(true), "12345678");
  FTerm->Write("P>");
  EXPECT_FALSE(FTerm->KeyPressed());  // the long line's end has not come yet
  Type(std::string(20, 'y') + "\nok\r\n123456789");
  EXPECT_EQ(FTerm->ReadLine(true), "ok");
  FTerm->Write("P>");
  EndInput();
  EXPECT_THROW(FTerm->ReadLine(true), InputEnded);
  EXPECT_EQ(Screen(), "P>12345678\nP>\n" + refused + "P>ok\nP>\n" + refused + "P>\n");
}

// A refused line is told as soon as it is seen, and handed to the caller with
// its first bytes; a caller that reads only once a line waits never blocks on
// one, however the input goes on.
TEST_F(PlainTerminalTest, RefusedLinesAreToldAtOnceAndHandedOver) {
  FTerm = CreatePlainTerminal(FIn[0], FOut[1], 8);
  const std::string refused = std::string(kLineRefused) + "8 bytes\n";
  const std::string reason = "the line is longer than the limit of 8 bytes";
  Type("556,too long\n");
  EXPECT_FALSE(FTerm->KeyPressed());  // the input stays open: nothing to read
  std::vector<Terminal::RefusedLine> lines = FTerm->TakeRefusedLines();
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0].Head, "556,too long");
  EXPECT_EQ(lines[0].Reason, reason);
  EXPECT_TRUE(FTerm->TakeRefusedLines().empty());  // each is handed over once
  EXPECT_EQ(FTerm->Wait(20ms, -1), WaitResult::kTimeout);
  // The last line, unterminated and too long, ends with the input.
  Type("ok\n" + std::string(300, 'z'));
  EndInput();
  EXPECT_EQ(FTerm->ReadLine(false), "ok");
  EXPECT_THROW(FTerm->ReadLine(false), InputEnded);
  lines = FTerm->TakeRefusedLines();
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0].Head, std::string(kRefusedHeadBytes, 'z'));
  EXPECT_EQ(Screen(), "\n" + refused + "ok\n\n" + refused);
}

// A write that fails is kept for the caller: the output is lost, and whoever
// runs the program must learn it.
TEST(PlainTerminalOutputTest, AFailedWriteIsKept) {
  const struct {
    const char* Path;
    int Flags;
    std::optional<std::string> Error;
  } cases[] = {
      {"/dev/null", O_WRONLY, std::nullopt},
      {"/dev/full", O_WRONLY, "No space left on device"},
      {"/dev/null", O_RDONLY, "Bad file descriptor"},  // a closed output, as main leaves it
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.Path) + " " + std::to_string(c.Flags));
    const int fd = open(c.Path, c.Flags | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    {
      std::unique_ptr<Terminal> term = CreatePlainTerminal(-1, fd);
      term->Write("Message Result: ok\r\n");
      term->Flush();
      EXPECT_EQ(term->OutputError(), c.Error);
    }
    close(fd);
  }
}

// Terminal signals are taken in the wait: INT, TERM, HUP and QUIT (no one
// types it at a pipe) end the input with their number; WINCH does not.
class PlainTerminalSignalTest : public PlainTerminalTest {
 protected:
  void SetUp() override {
    sigset_t set;
    sigemptyset(&set);
    for (int s : {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGWINCH, SIGTSTP}) sigaddset(&set, s);
    ASSERT_EQ(pthread_sigmask(SIG_BLOCK, &set, &FOldMask), 0);
    PlainTerminalTest::SetUp();
  }
  void TearDown() override {
    PlainTerminalTest::TearDown();
    // Nothing may stay pending when the signals are let through again.
    sigset_t set;
    sigemptyset(&set);
    for (int s : {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGWINCH}) sigaddset(&set, s);
    const timespec none{0, 0};
    while (sigtimedwait(&set, nullptr, &none) > 0) {
    }
    pthread_sigmask(SIG_SETMASK, &FOldMask, nullptr);
  }
  sigset_t FOldMask{};
};

TEST_F(PlainTerminalSignalTest, TerminatingSignalsEndInputWithTheirNumber) {
  for (const int signo : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) {
    SCOPED_TRACE(signo);
    ASSERT_EQ(pthread_kill(pthread_self(), signo), 0);
    try {
      FTerm->Wait(30s, -1);
      FAIL() << "no InputEnded";
    } catch (const InputEnded& ended) {
      EXPECT_EQ(ended.Signal, signo);
    }
  }
  FTerm->Write("Answer: ");
  ASSERT_EQ(pthread_kill(pthread_self(), SIGINT), 0);
  try {
    FTerm->ReadLine(false);
    FAIL() << "no InputEnded";
  } catch (const InputEnded& ended) {
    EXPECT_EQ(ended.Signal, SIGINT);
  }
  EXPECT_EQ(Screen(), "Answer: \n");
}

// A script that is never idle (a line always waits) still ends on a
// terminating signal, at the next look for a key.
TEST_F(PlainTerminalSignalTest, ASignalIsTakenWhileLinesWait) {
  Type("1,Hi\n1,Hi\n");
  ASSERT_TRUE(FTerm->KeyPressed());
  ASSERT_EQ(pthread_kill(pthread_self(), SIGTERM), 0);
  try {
    FTerm->KeyPressed();
    FAIL() << "no InputEnded";
  } catch (const InputEnded& ended) {
    EXPECT_EQ(ended.Signal, SIGTERM);
  }
}

TEST_F(PlainTerminalSignalTest, WindowChangesAreIgnored) {
  ASSERT_EQ(pthread_kill(pthread_self(), SIGWINCH), 0);
  EXPECT_EQ(FTerm->Wait(20ms, -1), WaitResult::kTimeout);
  Type("still here\n");
  EXPECT_EQ(FTerm->ReadLine(true), "still here");
}

}  // namespace
}  // namespace zv::platform
