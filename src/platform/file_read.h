// Reading a whole file that the program did not write itself and cannot
// trust: only a regular file is read (a FIFO, a device or a directory is
// refused before anything waits on it) and never more than a cap.
#pragma once

#include <cstddef>
#include <string>

namespace zv::platform {

// The error of a file that is there but is not a regular file (nor a
// directory, which gives EISDIR).
constexpr int kNotRegularFile = -1;

struct FileContents {
  std::string Bytes;
  // 0: read. Otherwise the system's error number (ENOENT: no such file,
  // EISDIR: a directory, EFBIG: larger than the cap) or kNotRegularFile.
  int Error = 0;
};

// The bytes of the file at `path`, which may be a symbolic link to a regular
// file.
FileContents ReadWholeFile(const std::string& path, std::size_t maxBytes);

// The reason for FileContents::Error, as the system words it.
std::string FileErrorText(int error);

}  // namespace zv::platform
