#pragma once

#include <string>

namespace zv::platform {

// The first IPv4 address of the host's own name; "127.0.0.1" when there is none.
std::string LocalHostAddress();

}  // namespace zv::platform
