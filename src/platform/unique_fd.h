// UniqueFd: a file descriptor owned by one object, closed when the object
// goes. Every descriptor the program opens (sockets, eventfds, signalfds,
// files) lives in one, so none is closed twice or leaked on an error path.
#pragma once

#include <unistd.h>

#include <utility>

namespace zv::platform {

class UniqueFd {
 public:
  UniqueFd() = default;
  explicit UniqueFd(int fd) : FFd(fd) {}
  ~UniqueFd() { Reset(); }
  UniqueFd(UniqueFd&& other) noexcept : FFd(other.Release()) {}
  UniqueFd& operator=(UniqueFd&& other) noexcept {
    if (this != &other) Reset(other.Release());
    return *this;
  }
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;

  int Get() const { return FFd; }
  bool Valid() const { return FFd >= 0; }
  explicit operator bool() const { return Valid(); }

  // Gives the descriptor up without closing it.
  int Release() { return std::exchange(FFd, -1); }

  // Closes the descriptor held (if any) and takes `fd`. A close interrupted by
  // a signal has still released the descriptor on Linux, so it is not retried.
  void Reset(int fd = -1) {
    const int old = std::exchange(FFd, fd);
    if (old >= 0) ::close(old);
  }

 private:
  int FFd = -1;
};

}  // namespace zv::platform
