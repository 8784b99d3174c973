// The protocol's fixed vocabulary: commands, login and load results, connection
// codes and message priorities, with their texts. Numbers cast from the wire or
// a file may lie outside any table; every lookup here stays inside its table.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "protocol/global_types.h"

namespace zv {

// The heading of every error in received zVP data and of a refused protocol
// number; the detail follows on the next line ("\r\n") or after ". ".
inline constexpr std::string_view kProtocolErrorText = "zVP protocol error";

// Wire texts: TZVProtocol::TcpCmdToStr / StrToTcpCmd.
enum class TTcpCommand : uint8_t {
  tcpInvalid,
  tcpConnect,
  tcpLogin,
  tcpLoad,
  tcpNewObject,
  tcpSaveObject,
  tcpDeleteObject,
  tcpRunQuery,
  tcpChangeAccount,
  tcpSendMsg,
  tcpSendMsgEsc
};
inline constexpr int kTcpCommandCount = 11;

// The result field of LOGIN replies.
enum class TZVLoginResult : uint8_t {
  slrLogin,
  slrLoginRequest,
  slrLoginOK,
  slrLoginError,
  slrAccountDisabled,
  slrNoRights,
  slrDuplicateLogin,
  slrChangeLogin,
  slrChangeLoginOK,
  slrChangeLoginError
};

// The title under which a LOGIN reply is logged; empty for the results that
// have none (slrLogin, slrNoRights) and for unknown values.
std::string LoginResultCaption(TZVLoginResult value);

// The result field of CONNECT messages in both directions.
enum : int32_t {
  kConnRequesting = 0,  // also the quit request
  kConnConnect = 1,     // the console connects or reconnects
  kConnConnected = 2,
  kConnFailed = 3,      // the link stays up
  kConnFailedStop = 4,  // the link is stopped
  kConnAccepted = 5,
  kConnExcess = 6,
  kConnServerDisconnects = 7,
  kConnUserDisconnects = 8,
  kConnAdminDisconnects = 9,
  kConnLost = 10,
  kConnNotConnected = 11,
  kConnClientReady = 12,
  kConnTimeoutDisconnects = 13,
};

// The console's connection types: how it reaches the server.
enum : int32_t {
  kConnectionLocal = 1,   // the local server interface on the message bus
  kConnectionRemote = 2,  // TCP/IP
};

// The title under which a connection notice is logged; empty for code 1 and
// for unknown codes.
std::string ConnectionCaption(int32_t code);
// A CONNECT reply whose code has 2, 5 or 12 in its low byte.
bool IsConnectSuccess(int32_t code);

// The result field of LOAD and OBJ_DEL: in threes, the request, its success and
// its failure.
enum class TZVLoadResult : uint8_t {
  sorContact,
  sorContactOk,
  sorContactError,
  sorGroup,
  sorGroupOk,
  sorGroupError,
  sorTemplate,
  sorTemplateOk,
  sorTemplateError,
  sorAccount,
  sorAccountOk,
  sorAccountError,
  sorSys,
  sorSysOk,
  sorSysError,
  sorCarrier,
  sorCarrierOk,
  sorCarrierError,
  sorCarrierSum,
  sorCarrierSumOk,
  sorCarrierSumError,
  sorSchedule,
  sorScheduleOK,
  sorScheduleError,
  sorReport,
  sorReportOK,
  sorReportError,
  sorMsgSettings,
  sorMsgSettingsOK,
  sorMsgSettingsError,
  sorRunReport,
  sorRunReportOK,
  sorRunReportError,
  sorMsg,
  sorMsgOK,
  sorMsgError,
  sorFolder,
  sorFolderOK,
  sorFolderError
};

// The kind of object a load result is about; eoContact for the run-report
// results and for values beyond the table.
TZVEditObject LoadResultToEditObject(TZVLoadResult value);
// "carrier object" ("carrier objects" when plural); the three data kinds never
// take the plural "s"; empty for the run-report results and unknown values.
std::string LoadResultObjectStr(TZVLoadResult value, bool plural);

// Message priorities run from 1 ("Critical") to 6 ("Low").
inline constexpr int32_t kPriorityMin = 1;
inline constexpr int32_t kPriorityMax = 6;
inline constexpr int32_t kPriorityNormal = 4;

// The name of `priority`; "Unknown" outside 1 to 6.
std::string PriorityNames(int32_t priority);

}  // namespace zv
