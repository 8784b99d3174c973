#include "platform/append_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/file_read.h"

namespace zv::platform {

int AppendFile::OpenExisting(const std::string& path) {
  // Non-blocking, so a FIFO at the name cannot hold the program in open().
  return Adopt(::open(path.c_str(), O_RDWR | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
}

int AppendFile::CreateAfresh(const std::string& path) {
  Close();
  struct stat st {};
  // A link is removed, not followed: the new file is the program's own.
  if (::lstat(path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode)) ::unlink(path.c_str());
  return Adopt(::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOCTTY | O_CLOEXEC, 0666));
}

int AppendFile::Adopt(int fd) {
  FFd.Reset(fd);
  if (!FFd) return errno;
  struct stat st {};
  int error = 0;
  if (::fstat(FFd.Get(), &st) != 0) {
    error = errno;
  } else if (S_ISDIR(st.st_mode)) {
    error = EISDIR;
  } else if (!S_ISREG(st.st_mode)) {
    error = kNotRegularFile;
  }
  if (error != 0) FFd.Reset();
  return error;
}

int AppendFile::Append(std::string_view bytes) {
  if (!FFd) return EBADF;
  const off_t start = ::lseek(FFd.Get(), 0, SEEK_END);
  if (start < 0) return errno;
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(FFd.Get(), bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      const int error = n < 0 ? errno : EIO;
      // The part written goes again, so the file ends with a whole record.
      while (::ftruncate(FFd.Get(), start) != 0 && errno == EINTR) {
      }
      return error;
    }
    done += static_cast<std::size_t>(n);
  }
  return 0;
}

bool AppendFile::IsFileAt(const std::string& path) const {
  struct stat open {};
  struct stat named {};
  if (!FFd || ::fstat(FFd.Get(), &open) != 0 || ::stat(path.c_str(), &named) != 0) return false;
  return open.st_dev == named.st_dev && open.st_ino == named.st_ino;
}

int64_t ModifiedAt(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return -1;
  return int64_t{st.st_mtim.tv_sec} * 1000000000 + st.st_mtim.tv_nsec;
}

int64_t AppendFile::Length() const {
  struct stat st {};
  if (!FFd || ::fstat(FFd.Get(), &st) != 0) return -1;
  return st.st_size;
}

int AppendFile::ReadAt(int64_t offset, std::size_t length, std::string& bytes) const {
  bytes.clear();
  if (!FFd) return EBADF;
  bytes.resize(length);
  std::size_t done = 0;
  while (done < length) {
    const ssize_t n = ::pread(FFd.Get(), bytes.data() + done, length - done,
                              static_cast<off_t>(offset + static_cast<int64_t>(done)));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      const int error = errno;
      bytes.clear();
      return error;
    }
    if (n == 0) break;
    done += static_cast<std::size_t>(n);
  }
  bytes.resize(done);
  return 0;
}

}  // namespace zv::platform
