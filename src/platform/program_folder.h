// Where the program's files live: the folder that holds the running program
// file, taken from the program file's own path (never the current directory),
// and the home folder that holds Settings/ and Logs/, which is the program
// folder unless the start-up chose another one.
#pragma once

#include <string>

namespace zv::platform {

// Absolute folder path without a trailing '/'. Through a symbolic link to the
// program this is the folder of the link's target.
std::string ProgramFolder();

// Tests point the program's folder at a scratch folder; "" restores the real one.
void OverrideProgramFolder(const std::string& folder);

// The folder that holds Settings/ and Logs/: the one set last, or the program
// folder while none is set.
std::string HomeFolder();

// Set once at start-up, before anything reads or writes a file of Settings/ or
// Logs/; "" gives the program folder back.
void SetHomeFolder(const std::string& folder);

}  // namespace zv::platform
