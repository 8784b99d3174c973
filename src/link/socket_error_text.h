// Socket errors as the operator reads them. The operator texts are keyed by
// the classic sockets error codes that the server's own tools print; the
// system's error numbers are mapped onto the code of the same condition.
#pragma once

#include <string>

namespace zv {

// The classic sockets code for a system error number (platform::SocketError's
// Errno, kHostNotFound included); 0 when no code stands for it.
int SocketErrorCode(int systemErrno);

// The operator text for a system error number.
std::string SocketErrorTextFor(int systemErrno);

}  // namespace zv
