#include "support/exceptions.h"

#include <cstring>

namespace zv {

EFileOpenError FileOpenError(const std::string& path, int err) {
  return EFileOpenError("Cannot open file \"" + path + "\". " + std::strerror(err));
}

EFileCreateError FileCreateError(const std::string& path, int err) {
  return EFileCreateError("Cannot create file \"" + path + "\". " + std::strerror(err));
}

}  // namespace zv
