#include "platform/file_read.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/unique_fd.h"

namespace zv::platform {

FileContents ReadWholeFile(const std::string& path, std::size_t maxBytes) {
  FileContents result;
  // Non-blocking: opening a FIFO for reading would otherwise wait for a writer.
  const UniqueFd fd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
  if (!fd) {
    result.Error = errno;
    return result;
  }
  struct stat st {};
  if (::fstat(fd.Get(), &st) != 0) {
    result.Error = errno;
    return result;
  }
  if (S_ISDIR(st.st_mode)) {
    result.Error = EISDIR;
    return result;
  }
  if (!S_ISREG(st.st_mode)) {
    result.Error = kNotRegularFile;
    return result;
  }
  if (static_cast<unsigned long long>(st.st_size) > maxBytes) {
    result.Error = EFBIG;
    return result;
  }
  // The size may change while the file is read: read to its end, up to the cap.
  result.Bytes.reserve(static_cast<std::size_t>(st.st_size));
  char buffer[65536];
  for (;;) {
    const ssize_t got = ::read(fd.Get(), buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) {
      result.Error = errno;
      result.Bytes.clear();
      return result;
    }
    if (got == 0) return result;
    if (result.Bytes.size() + static_cast<std::size_t>(got) > maxBytes) {
      result.Error = EFBIG;
      result.Bytes.clear();
      return result;
    }
    result.Bytes.append(buffer, static_cast<std::size_t>(got));
  }
}

std::string FileErrorText(int error) {
  if (error == kNotRegularFile) return "Not a regular file";
  return std::strerror(error);
}

}  // namespace zv::platform
