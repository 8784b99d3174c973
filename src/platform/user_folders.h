// The user's side of the file system: environment values, the user's home
// directory, whether this process may create files in a folder, and creating
// a folder path.
#pragma once

#include <string>

namespace zv::platform {

// The value of the environment variable `name`; "" when it is unset.
std::string EnvironmentValue(const char* name);

// The user's home directory: $HOME, else the password database's entry for
// the real user; "" when neither names one.
std::string UserHomeFolder();

// Whether this process may create and replace files in the folder at `path`
// (false when it is missing or not a folder). Judged for the real user, as
// the system would judge the files' creation, so root may write anywhere but
// on a read-only file system.
bool CanWriteFolder(const std::string& path);

// Creates the folder at `path` with every missing parent; new folders get
// `mode` (less the umask). Returns 0, or the system's error number when a
// part cannot be made or is not a folder (ENOTDIR).
int MakeFolderPath(const std::string& path, unsigned mode);

}  // namespace zv::platform
