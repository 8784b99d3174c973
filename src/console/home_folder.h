// The choice of the folder that holds Settings/ and Logs/. The program folder
// stays the default home, as installations and stored files expect; an
// operator who cannot write it still gets a working console.
#pragma once

#include <functional>
#include <string>

namespace zv {

enum class THomeSource {
  kOption,         // --home DIR
  kEnvironment,    // ZVCC_HOME
  kProgramFolder,  // the program's own folder, whose Settings/ can be written
  kStateFolder,    // $XDG_STATE_HOME/zvcc or ~/.local/state/zvcc
};

// What the choice reads: each text "" when not given.
struct THomeInputs {
  std::string Option;         // --home
  std::string Environment;    // ZVCC_HOME
  std::string ProgramFolder;  // the folder of the program file
  std::string StateHome;      // XDG_STATE_HOME
  std::string UserHome;       // the user's home directory
};

struct THomeChoice {
  THomeSource Source = THomeSource::kProgramFolder;
  // Absolute for the state folder; "" when no folder can be named (the
  // program folder cannot be written and the user has no home directory).
  std::string Folder;
};

// Precedence: --home, ZVCC_HOME, the program folder when `canWrite` holds for
// its Settings/, the XDG state folder. A relative XDG_STATE_HOME is ignored,
// as the XDG rules ask.
THomeChoice ChooseHome(const THomeInputs& inputs,
                       const std::function<bool(const std::string& folder)>& canWrite);

// Chooses the home from the process's environment, creates it with Settings/
// and Logs/ when it is not the program folder, and makes it the home of
// every file written. Returns the line to show the operator once, "" when
// there is nothing to say. Throws EZVFileError when no folder can be used.
std::string SetUpHome(const std::string& option);

}  // namespace zv
