// Replacing a whole file so that no failure, crash or full disk can leave it
// half written, and no file planted in the folder can be written through.
#pragma once

#include <string>
#include <string_view>

namespace zv::platform {

// What a failed replacement reports: the system's error number and the file
// whose step failed (the file being replaced when its new version could not
// be created or put in place, the temporary file when writing it failed).
struct ReplaceFailure {
  int Error = 0;  // 0: replaced
  std::string File;
};

// Writes `content` to a new temporary file beside `path` (created exclusively
// under a unique name, never through a link), flushes it to the disk and
// renames it over `path`: the file holds either its old or its new content,
// never a part. The new file keeps the permissions (and, where allowed, the
// owner) of the file it replaces. When `path` is a symbolic link, the file it
// points to is replaced and the link stays. On failure the old file is
// untouched and the temporary file is removed.
//
// `flushToDisk`: the new content reaches the disk before the rename, so it
// survives a crash of the system too. Without it the replacement is still
// atomic for every reader and survives the program being killed at any moment
// (the system holds the written file); only a crash of the system itself may
// bring back the previous content. Counters saved several times per message
// take that cheaper road.
ReplaceFailure ReplaceFileContents(const std::string& path, std::string_view content,
                                   bool flushToDisk = true);

// Removes the temporary files of replacements of `path` that a killed process
// left behind. Only regular files with the temporary name pattern are
// removed. Call only while no other process can be replacing `path`.
void RemoveLeftoverTemporaries(const std::string& path);

}  // namespace zv::platform
