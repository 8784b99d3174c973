// Sets an environment variable for one test, and puts it back (or unsets it)
// afterwards, also when the test fails.
#pragma once

#include <cstdlib>
#include <optional>
#include <string>

namespace zv::testutil {

class TScopedEnv {
 public:
  TScopedEnv(const char* name, const std::string& value) : FName(name) {
    if (const char* old = std::getenv(name)) FOld = old;
    setenv(name, value.c_str(), 1);
  }
  ~TScopedEnv() {
    if (FOld) {
      setenv(FName, FOld->c_str(), 1);
    } else {
      unsetenv(FName);
    }
  }
  TScopedEnv(const TScopedEnv&) = delete;
  TScopedEnv& operator=(const TScopedEnv&) = delete;

 private:
  const char* FName;
  std::optional<std::string> FOld;
};

}  // namespace zv::testutil
