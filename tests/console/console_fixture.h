// A console object on a scripted terminal, in a scratch program folder that
// holds Settings/, Logs/ and a copy of the help texts.
#pragma once

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <iterator>
#include <memory>
#include <string>

#include "console/fake_terminal.h"
#include "console/system_console.h"
#include "support/data_access.h"
#include "support/exceptions.h"
#include "support/scratch_folder.h"
#include "support/text.h"

namespace zv::testing {

class ConsoleFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    std::filesystem::copy(std::filesystem::path(ZV_SOURCE_DIR) / "Help", FFolder.Path() / "Help");
  }

  void TearDown() override {
    FConsole.reset();
  }

  // The console, created and loaded on first use (settings written before
  // that are what it starts with).
  TZVSystemConsole& Console() {
    if (!FConsole) {
      FConsole = std::make_unique<TZVSystemConsole>(std::make_unique<FakeTerminal>(FScript));
      FConsole->Load();
    }
    return *FConsole;
  }

  // Simulates a restart: the console is freed and the store read from disk again.
  void Restart() {
    FConsole.reset();
    TDataAccess::ReloadForTesting();
    FScript.Output.clear();
  }

  void Answers(std::initializer_list<std::string> lines) {
    FScript.Input.insert(FScript.Input.end(), lines.begin(), lines.end());
  }

  // Runs one typed line through the interpreter; returns what it printed.
  std::string Run(const std::string& line, std::initializer_list<std::string> answers = {}) {
    Console();
    Answers(answers);
    FScript.Output.clear();
    const bool goOn = FConsole->ReadCmdLine(line);
    EXPECT_TRUE(FScript.Input.empty()) << "unused answers after " << line;
    FLastResult = goOn;
    return FScript.Output;
  }

  // What stands on the screen: the output after the last clear.
  std::string Screen() const {
    const std::size_t cls = FScript.Output.rfind('\f');
    return cls == std::string::npos ? FScript.Output : FScript.Output.substr(cls + 1);
  }

  std::string ReadFile(const std::filesystem::path& path) const {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  std::string Ini() const { return ReadFile(FFolder.Settings()); }
  // The log files are UTF-16 little-endian.
  std::string Log(int number = 1) const {
    const std::string bytes = ReadFile(FFolder.Log(number));
    std::u16string units;
    for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
      units += static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                     (static_cast<unsigned char>(bytes[i + 1]) << 8));
    }
    return Utf16ToUtf8(units);
  }

  testutil::TScratchFolder FFolder;
  FakeTerminal::Script FScript;
  std::unique_ptr<TZVSystemConsole> FConsole;
  bool FLastResult = true;
};

}  // namespace zv::testing
