#include "link/socket_error_text.h"

#include <cerrno>

#include "platform/socket_error.h"
#include "support/helpers.h"

namespace zv {

int SocketErrorCode(int systemErrno) {
  switch (systemErrno) {
    case ECONNREFUSED:
      return kSockConnRefused;
    case ETIMEDOUT:
      return kSockTimedOut;
    case ENETUNREACH:
    case ENETDOWN:
      return kSockNetUnreach;
    case EHOSTUNREACH:
    case EHOSTDOWN:
      return kSockHostUnreach;
    case ECONNRESET:
    case ECONNABORTED:
    case EPIPE:
      return kSockConnReset;
    case EADDRNOTAVAIL:
      return kSockAddrNotAvail;
    case platform::kHostNotFound:
      return kSockHostNotFound;
    default:
      return 0;
  }
}

std::string SocketErrorTextFor(int systemErrno) {
  return SocketErrorText(SocketErrorCode(systemErrno));
}

}  // namespace zv
