// The command lines of zvcc's commands ("agent", "outbox"): options as
// "--name VALUE", "--name=VALUE" or a bare "--flag", read one at a time, and
// the whole numbers their values hold.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zv {

// Plain decimal digits within [low, high]; none otherwise.
std::optional<int32_t> DecimalIn(std::string_view text, int64_t low, int64_t high);

class TOptionReader {
 public:
  explicit TOptionReader(const std::vector<std::string>& arguments) : FArgs(arguments) {}

  // The next argument; false after the last one, or once an error was met.
  bool Next();
  // The argument as written, and its name without "=VALUE".
  const std::string& Argument() const { return FArgs[FAt]; }
  const std::string& Name() const { return FName; }
  // A flag: no "=VALUE" was written.
  bool Bare() const { return !FInline.has_value(); }
  // The option's value: after "=", or the next argument; none (and Error set)
  // when there is none.
  std::optional<std::string> Value();

  void Fail(const std::string& error) {
    if (FError.empty()) FError = error;
  }
  const std::string& Error() const { return FError; }

 private:
  const std::vector<std::string>& FArgs;
  std::size_t FAt = 0;
  bool FStarted = false;
  std::string FName;
  std::optional<std::string> FInline;
  std::string FError;
};

}  // namespace zv
