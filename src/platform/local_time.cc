#include "platform/local_time.h"

#include <time.h>

namespace zv::platform {

std::tm LocalTime(std::time_t t) {
  std::tm local{};
  localtime_r(&t, &local);
  return local;
}

}  // namespace zv::platform
