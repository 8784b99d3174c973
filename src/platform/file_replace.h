// Replacing a whole file so that no failure, crash or full disk can leave it
// half written.
#pragma once

#include <string>
#include <string_view>

namespace zv::platform {

// Writes `content` to `path` + ".tmp", flushes it to the disk and renames it
// over `path`: the file holds either its old or its new content, never a part.
// Returns 0, or the system's error number of the step that failed; the old
// file is then untouched and the temporary file is removed (unless something
// that is not a file stands at its name).
int ReplaceFileContents(const std::string& path, std::string_view content);

}  // namespace zv::platform
