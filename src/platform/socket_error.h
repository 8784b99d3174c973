// SocketError: a failure of a socket operation, carrying the system's error
// number and the system's own text for it. Turning the number into an operator
// text is the business of the layers above.
#pragma once

#include <stdexcept>
#include <string>

namespace zv::platform {

// The error number of a host name that does not resolve. Resolver failures
// have no errno value; this one is negative so it never collides with one.
inline constexpr int kHostNotFound = -1;

class SocketError : public std::runtime_error {
 public:
  static constexpr int kHostNotFound = platform::kHostNotFound;

  // what() is the system's text for `error` (strerror).
  explicit SocketError(int error);
  SocketError(int error, const std::string& message) : std::runtime_error(message), FErrno(error) {}

  // An errno value (ECONNREFUSED, ETIMEDOUT, ...) or kHostNotFound.
  int Errno() const { return FErrno; }

 private:
  int FErrno;
};

}  // namespace zv::platform
