// The console's system log: section "SysLog" of the settings file, files
// Logs/zvccLog<n>.txt. An item reads, line by line: "Log Item: " number
// " (" time stamp ")"; the action; "Description: " and the trimmed
// description; with the debug mode on, "Debug Info: " and the rendered raw
// data; then an empty line.
#pragma once

#include <atomic>
#include <string>
#include <string_view>

#include "support/custom_log.h"

namespace zv {

class TSysLog : public TCustomLog {
 public:
  static constexpr std::string_view kSection = "SysLog";
  static constexpr std::string_view kFilePattern = "zvccLog%d.txt";
  static constexpr std::string_view kItemHeader = "Log Item: ";

  // `debugMode` is the console's debug flag (always true in this program).
  explicit TSysLog(bool debugMode = true);

  bool DebugMode() const { return FDebugMode; }
  void SetDebugMode(bool value) { FDebugMode = value; }

 protected:
  std::string FormatItem(std::string_view action, std::string_view AMessage,
                         std::string_view debugInfo) override;

 private:
  std::atomic<bool> FDebugMode;
};

}  // namespace zv
