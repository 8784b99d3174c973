#pragma once

#include <ctime>

namespace zv::platform {

// The local calendar time of `t` (thread-safe).
std::tm LocalTime(std::time_t t);

}  // namespace zv::platform
