#include "platform/file_replace.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdlib>
#include <memory>
#include <random>

#include "platform/unique_fd.h"

namespace zv::platform {
namespace {

// A temporary file is named "<name>.tmp-" and six letters or digits.
constexpr std::string_view kTemporaryMark = ".tmp-";
constexpr std::size_t kUniqueLength = 6;
constexpr int kNameAttempts = 100;

std::string UniqueSuffix() {
  static constexpr std::string_view kAlphabet =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
  thread_local std::mt19937 random{std::random_device{}()};
  std::uniform_int_distribution<std::size_t> pick(0, kAlphabet.size() - 1);
  std::string suffix;
  for (std::size_t i = 0; i < kUniqueLength; ++i) suffix += kAlphabet[pick(random)];
  return suffix;
}

bool IsUniqueSuffix(std::string_view text) {
  if (text.size() != kUniqueLength) return false;
  for (const char c : text) {
    const bool alnum = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
    if (!alnum) return false;
  }
  return true;
}

// The file a replacement of `path` writes: the final target of a symbolic
// link, or `path` itself (also when the link leads nowhere).
std::string ReplacedFile(const std::string& path) {
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return path;
  const std::unique_ptr<char, decltype(&std::free)> real(::realpath(path.c_str(), nullptr),
                                                         &std::free);
  return real ? std::string(real.get()) : path;
}

// Writes all of `content`, resuming after interruptions.
bool WriteAll(int fd, std::string_view content) {
  while (!content.empty()) {
    const ssize_t n = ::write(fd, content.data(), content.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    content.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

}  // namespace

ReplaceFailure ReplaceFileContents(const std::string& path, std::string_view content,
                                   bool flushToDisk) {
  const std::string target = ReplacedFile(path);
  struct stat old {};
  const bool haveOld = ::stat(target.c_str(), &old) == 0 && S_ISREG(old.st_mode);

  std::string temporary;
  UniqueFd fd;
  for (int attempt = 0; attempt < kNameAttempts && !fd; ++attempt) {
    temporary = target + std::string(kTemporaryMark) + UniqueSuffix();
    fd.Reset(::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666));
    if (!fd && errno != EEXIST) return {errno, path};
  }
  if (!fd) return {EEXIST, path};

  int error = 0;
  if (haveOld) {
    // Another owner can only be kept by a privileged process; the mode always.
    if (::fchown(fd.Get(), old.st_uid, old.st_gid) != 0) {
      // Not permitted: the file becomes the writer's, as any new file would.
    }
    if (::fchmod(fd.Get(), old.st_mode & 07777) != 0) error = errno;
  }
  if (error == 0 && !WriteAll(fd.Get(), content)) error = errno;
  if (error == 0 && flushToDisk && ::fsync(fd.Get()) != 0) error = errno;
  if (::close(fd.Release()) != 0 && error == 0 && errno != EINTR) error = errno;
  if (error != 0) {
    ::unlink(temporary.c_str());
    return {error, temporary};
  }
  if (::rename(temporary.c_str(), target.c_str()) != 0) {
    error = errno;
    ::unlink(temporary.c_str());
    return {error, path};
  }
  return {};
}

void RemoveLeftoverTemporaries(const std::string& path) {
  const std::string target = ReplacedFile(path);
  const std::size_t slash = target.rfind('/');
  const std::string folder = slash == std::string::npos ? "." : target.substr(0, slash + 1);
  const std::string prefix = (slash == std::string::npos ? target : target.substr(slash + 1)) +
                             std::string(kTemporaryMark);
  struct Closer {
    void operator()(DIR* d) const { ::closedir(d); }
  };
  const std::unique_ptr<DIR, Closer> dir(::opendir(folder.c_str()));
  if (!dir) return;
  while (const dirent* entry = ::readdir(dir.get())) {
    const std::string_view name = entry->d_name;
    if (name.substr(0, prefix.size()) != prefix || !IsUniqueSuffix(name.substr(prefix.size())))
      continue;
    const std::string leftover = folder + std::string(name);
    struct stat st {};
    if (::lstat(leftover.c_str(), &st) == 0 && S_ISREG(st.st_mode)) ::unlink(leftover.c_str());
  }
}

}  // namespace zv::platform
