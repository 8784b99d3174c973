#include "support/exceptions.h"

#include "platform/file_read.h"

namespace zv {

EFileOpenError FileOpenError(const std::string& path, int err) {
  return EFileOpenError("Cannot open file \"" + path + "\". " + platform::FileErrorText(err));
}

EFileCreateError FileCreateError(const std::string& path, int err) {
  return EFileCreateError("Cannot create file \"" + path + "\". " + platform::FileErrorText(err));
}

}  // namespace zv
