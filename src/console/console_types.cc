#include "console/console_types.h"

namespace zv {

TConConnection ConnectionTypes(int32_t id) {
  switch (id) {
    case kConnectionLocal:
      return {kConnectionLocal, "Local", "COM"};
    case kConnectionRemote:
      return {kConnectionRemote, "Remote", "TCP/IP"};
    default:
      return {id, "Unknown", "n/a"};
  }
}

}  // namespace zv
