// The folder that holds the running program file, taken from the program
// file's own path (never the current directory).
#pragma once

#include <string>

namespace zv::platform {

// Absolute folder path without a trailing '/'.
std::string ProgramFolder();

// Tests point the program's folder at a scratch folder; "" restores the real one.
void OverrideProgramFolder(const std::string& folder);

}  // namespace zv::platform
