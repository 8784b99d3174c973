// A file that grows by whole records (the log's items): an append either lands
// whole or, when writing fails part way (a full disk), is cut back so that no
// part of it stays and the next record starts where it would have.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/unique_fd.h"

namespace zv::platform {

// The time of the last change of the file at `path`, in nanoseconds since the
// epoch; -1 when there is none.
int64_t ModifiedAt(const std::string& path);

class AppendFile {
 public:
  // Each returns 0 or the system's error number (kNotRegularFile of
  // platform/file_read.h for something that is not a regular file); on
  // failure no file is open.
  //
  // Opens an existing file for reading and writing (ENOENT when there is none).
  int OpenExisting(const std::string& path);
  // Deletes the file if there is one and creates it anew, empty.
  int CreateAfresh(const std::string& path);

  bool IsOpen() const { return FFd.Valid(); }
  void Close() { FFd.Reset(); }

  // Writes all of `bytes` at the current end of the file (other processes may
  // write to it too). Returns 0, or the error after cutting the file back to
  // its length before the call.
  int Append(std::string_view bytes);

  // The file's current length, or -1 on error.
  int64_t Length() const;
  // Whether `path` still names the open file: false once another process has
  // deleted or replaced it (a log's ring coming round), or nothing is open.
  bool IsFileAt(const std::string& path) const;
  // Up to `length` bytes from `offset`; 0 or the error.
  int ReadAt(int64_t offset, std::size_t length, std::string& bytes) const;

 private:
  int Adopt(int fd);

  UniqueFd FFd;
};

}  // namespace zv::platform
