#include "platform/socket_error.h"

#include <system_error>

namespace zv::platform {

// std::system_category's message is strerror's text without its static buffer,
// so errors raised on several threads at once do not overwrite each other.
SocketError::SocketError(int error)
    : std::runtime_error(std::system_category().message(error)), FErrno(error) {}

}  // namespace zv::platform
