#include "support/sys_log.h"

#include "support/date_time.h"
#include "support/helpers.h"
#include "support/text.h"

namespace zv {

TSysLog::TSysLog(bool debugMode)
    : TCustomLog(std::string(kSection), std::string(kFilePattern)), FDebugMode(debugMode) {
  ResumeNumbering(kItemHeader);
}

std::string TSysLog::FormatItem(std::string_view action, std::string_view AMessage,
                                std::string_view debugInfo) {
  std::string text = std::string(kItemHeader) + std::to_string(FItemsCount) + " (" +
                     LocalDateTimeText(TDateTime::Now()) + ")\r\n" + std::string(action) +
                     "\r\nDescription: " + Trim(AMessage);
  if (FDebugMode) text += "\r\nDebug Info: " + DebugText(debugInfo);
  text += "\r\n\r\n";
  return text;
}

}  // namespace zv
