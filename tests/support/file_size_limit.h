// Stands in for a full disk: while it lives, no file of this process can grow
// past a size; writes beyond it fail (EFBIG) instead of raising SIGXFSZ.
#pragma once

#include <signal.h>
#include <sys/resource.h>

namespace zv::testutil {

class TFileSizeLimit {
 public:
  explicit TFileSizeLimit(rlim_t bytes) {
    getrlimit(RLIMIT_FSIZE, &FOld);
    FOldHandler = signal(SIGXFSZ, SIG_IGN);
    const rlimit limit{bytes, FOld.rlim_max};
    setrlimit(RLIMIT_FSIZE, &limit);
  }
  ~TFileSizeLimit() {
    setrlimit(RLIMIT_FSIZE, &FOld);
    signal(SIGXFSZ, FOldHandler);
  }
  TFileSizeLimit(const TFileSizeLimit&) = delete;
  TFileSizeLimit& operator=(const TFileSizeLimit&) = delete;

 private:
  rlimit FOld{};
  sighandler_t FOldHandler = SIG_DFL;
};

}  // namespace zv::testutil
