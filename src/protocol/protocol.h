// TZVProtocol: the builder and parser of zVP text.
//
// A zVP text is a fixed header and a free body. Positions in the header count
// UTF-16 code units from 1, the unit the server counts in:
//   1-2 protocol number (2 hex digits), 3-12 command (right-aligned in blanks),
//   13-14 result field (2 hex digits), 15-22 message id (8 hex digits),
//   23 field delimiter, 24 date received (12-digit hex date), 0x1F, date sent,
//   0x1D, account id, 0x02, body.
// Only protocols 17 and 18 carry this header; any other number is written as
// 0x02 and the body alone.
//
// The object holds no state: builders and the parser may run on several
// threads at once. Its class functions need no object.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "protocol/msg_global.h"
#include "protocol/protocol_session.h"
#include "protocol/remote_msg.h"
#include "support/helpers.h"

namespace zv {

// Protocol numbers: high four bits the major, low four bits the minor version.
inline constexpr int32_t kProtocolV11 = 17;  // zVP 1.1
inline constexpr int32_t kProtocolV12 = 18;  // zVP 1.2
// The highest number this program speaks; a link starts with it.
inline constexpr int32_t kProtocolMax = kProtocolV12;

// One entry of the list of spoken protocols offered to the operator.
struct TZVVersionItem {
  std::string Text;  // "zVP 1.1"
  int32_t Version;   // 17
};

class TZVProtocol {
 public:
  // --- Builders. Each returns a new request whose TcpMsg holds its finished
  // text, except CreateBaseMsg, which leaves Protocol (0) and TcpMsg to the
  // caller. A builder given a protocol other than 17 or 18 writes no header.
  // Requests carry their creation time as date received and the zero date as
  // date sent.

  // Message id from session.NextMsgId().
  std::unique_ptr<TZVRemoteMsg> CreateBaseMsg(TZVProtocolSession& session, std::string accId,
                                              std::string accIp, TTcpCommand tcpCmd) const;
  std::unique_ptr<TZVRemoteMsg> CreateBaseMsg(std::string accId, std::string accIp,
                                              TTcpCommand tcpCmd, int32_t aId) const;
  // LOGIN in the session's protocol; the body "accId,accPassword,encoded" is
  // written only for protocols 17 and 18. `accPassword` is already encoded
  // with the encoding numbered `encoded`.
  std::unique_ptr<TZVRemoteMsg> CreateLoginMsg(TZVProtocolSession& session,
                                               const std::string& accId,
                                               const std::string& accPassword,
                                               const std::string& accIp, int32_t encoded) const;
  // LOAD of the objects `loadType` asks for, in the session's protocol.
  std::unique_ptr<TZVRemoteMsg> CreateLoadMsg(TZVProtocolSession& session, std::string accId,
                                              std::string accIp, TZVLoadResult loadType) const;
  // MSG_SEND with message id 0; the body is the items joined by 0x1E, each
  // written exactly as given (never quoted).
  std::unique_ptr<TZVRemoteMsg> CreateSendMsg(std::string accId, std::string accIp,
                                              const TStringList& msgData, int32_t ippv) const;
  // CONNECT with code kConnRequesting and no body.
  std::unique_ptr<TZVRemoteMsg> CreateQuitMsg(TZVProtocolSession& session, std::string accId,
                                              std::string accIp, int32_t iPPv) const;

  // The requests the TCP link sends of its own accord, all in the session's
  // protocol with a fresh message id.
  // CONNECT kConnConnect: "Connecting to Zorvane Server on <address>:<port>",
  // or when `reconnect` "Trying to reconnect to <address>:<port>".
  std::unique_ptr<TZVRemoteMsg> CreateConnectMsg(TZVProtocolSession& session, std::string accId,
                                                 std::string accIp,
                                                 const std::string& serverAddress, int32_t port,
                                                 bool reconnect) const;
  // CONNECT kConnUserDisconnects: "Account \"<accId>\" logging out from Zorvane Server".
  std::unique_ptr<TZVRemoteMsg> CreateLogoutMsg(TZVProtocolSession& session, std::string accId,
                                                std::string accIp) const;
  // CONNECT kConnClientReady: "Client \"<accId>\" on <accIp> ready to communicate."
  std::unique_ptr<TZVRemoteMsg> CreateReadyMsg(TZVProtocolSession& session, std::string accId,
                                               std::string accIp) const;
  // OBJ_DEL sorMsg of the messages stored for `accId`: all of them ("0"), those
  // older than `days` ("1,<days>"), or the one numbered `msgId` ("2,<msgId>").
  std::unique_ptr<TZVRemoteMsg> CreateDeleteAllMsg(TZVProtocolSession& session, std::string accId,
                                                   std::string accIp) const;
  std::unique_ptr<TZVRemoteMsg> CreateDeleteOldMsg(TZVProtocolSession& session, std::string accId,
                                                   std::string accIp, int32_t days) const;
  std::unique_ptr<TZVRemoteMsg> CreateDeleteOneMsg(TZVProtocolSession& session, std::string accId,
                                                   std::string accIp, int32_t msgId) const;

  // --- Text. The zVP text of `aMsg`: its header (none unless its Protocol is
  // 17 or 18), 0x02, its body. Every fixed field keeps its width whatever the
  // record holds, so the peer never reads one field in another's place: a
  // command text is cut to 10 characters, the result field is written as its
  // low byte, and the delimiter is the first character of FieldDelimit ("," when
  // that is empty).
  std::string CreateTcpMsg(const TZVRemoteMsg& aMsg) const;

  // Parses one received text into a new record whose AccountIP is `ip`.
  // Malformed UTF-8 is read as U+FFFD per bad byte, so every field of the
  // record, TcpMsg included, is valid UTF-8.
  // Throws, in the order the checks run: EConversionError for an empty text or
  // a protocol number or result field that is not hexadecimal (message
  // unchanged); EZVTcpConnection with "zVP protocol error\r\n" before its
  // detail for a corrupted header, a missing account id, a corrupted message
  // id or a bad date.
  std::unique_ptr<TZVRemoteMsg> CreateMsgFromTcp(std::string_view tcpString, std::string ip) const;
  // Fills `rMsg` (nothing when null) from the text as read in protocol
  // `iPPv`: result field, delimiter and dates for 17 and 18, then for every
  // protocol the command, the body (after the first 0x02; all of the text when
  // there is none) and TcpMsg. Throws as CreateMsgFromTcp, without the heading.
  void FillMsgFromTcp(std::string_view tcpString, int32_t iPPv, TZVRemoteMsg* rMsg) const;
  // The normalised protocol number of characters 1-2. Throws EConversionError.
  int32_t ReadVersion(std::string_view tcpStr) const;
  // The text between the first 0x1D and the first 0x02. Throws
  // EZVTcpConnection when it is empty or the protocol is not 17 or 18.
  std::string ReadClientInfo(std::string_view tcpStr, int32_t ippV) const;
  // The message id of characters 15-22; 0 for protocols other than 17 and 18.
  // Throws EZVTcpConnection when the field is missing or not hexadecimal.
  int32_t ReadMsgId(std::string_view tcpStr, int32_t iPPv) const;
  // The text with characters 1-2 replaced by the normalised `aVersion`.
  std::string SetVersion(std::string_view tcpStr, int32_t aVersion) const;

  // --- Versions.
  // Below 17 reads as 17, above kProtocolMax as kProtocolMax.
  static int32_t NormalizeVersion(int32_t version);
  // Only zVP 1.1 and 1.2 are spoken.
  static bool UsedInVersion(int32_t iPPV);
  // "zVP <major>.<minor>" in hex digits of the low byte: "zVP 1.2" for 18.
  static std::string VersionToStr(int32_t aVersion);
  // True when `iPPV` is spoken; otherwise false and `errorMsg` is
  // "zVP protocol error. The server cannot handle \"zVP 1.3\" protocol." (for 19).
  static bool CheckVersion(int32_t iPPV, std::string& errorMsg);
  // Replaces `strings` by the spoken protocols, lowest first.
  static void GetStrings(std::vector<TZVVersionItem>& strings);

  // --- Commands.
  // The wire text of `cmd`; "TCP_ERROR" for a value outside the command table.
  static std::string TcpCmdToStr(TTcpCommand cmd);
  // The command whose wire text equals `cmdStr` in ASCII upper case; tcpInvalid
  // when none does. `cmdStr` is not trimmed.
  static TTcpCommand StrToTcpCmd(std::string_view cmdStr);

 private:
  // A request of the session with body `body`, framed in the session's protocol.
  std::unique_ptr<TZVRemoteMsg> CreateSessionMsg(TZVProtocolSession& session, std::string accId,
                                                 std::string accIp, TTcpCommand tcpCmd,
                                                 int32_t result, std::string body) const;
};

}  // namespace zv
