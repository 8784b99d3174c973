// TZVLinkSession: the protocol state of one TCP/IP connection to the server,
// from its connect to its end. Bytes read from the socket go in; the records
// the main thread is to act on come out, one at a time, in the order the
// frames arrived. It knows nothing of sockets, threads or time: the client
// thread pumps bytes into it and records out of it, and a test can feed it a
// script of frames.
//
// One thread at a time (the client thread while the connection lasts).
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <string>

#include "carriers/carriers_console.h"
#include "link/server_client.h"
#include "protocol/frame_reader.h"
#include "protocol/remote_msg.h"

namespace zv {

class TZVLinkContext;
class TZVProtocol;

// One thing the main thread is to do about what the server sent.
struct TLinkRecord {
  enum class TKind : uint8_t {
    lrInfo,       // a connection, login, load or error notice: Info and Success
    lrMsgResult,  // a message result: Result
    lrCarriers,   // a newly loaded carrier list, to replace the console's: Carriers
    lrLog,        // an item for the log only: Caption, Info.Msg and Info.Debug
    lrLost,       // the connection cannot go on: Info.Msg says why. The last record.
  };
  TKind Kind = TKind::lrInfo;
  TTcpInfo Info;
  bool Success = false;
  std::string Caption;
  std::unique_ptr<TZVRemoteMsg> Result;
  std::unique_ptr<TZVCarriersConsole> Carriers;
};

class TZVLinkSession {
 public:
  // `protocol` parses the frames; `context` learns the protocol number each
  // reply speaks; `peerAddress` is the server's address, which every reply
  // carries as its sender's.
  TZVLinkSession(const TZVProtocol& protocol, TZVLinkContext& context, std::string peerAddress);

  // Bytes as read from the server, in whatever pieces.
  void Append(const char* data, std::size_t size);
  // Whether Next would give a record without more bytes: a caller that takes
  // records until this is false holds at most one frame plus one read.
  bool HasRecord() const;
  // The next record, decoding the next whole frame when none is waiting; none
  // when more bytes are needed or the session has ended. A frame that cannot
  // be read ends the session with an lrLost record, after the records the
  // frame gave before it failed.
  std::optional<TLinkRecord> Next();
  // An lrLost record has been given: nothing more will come.
  bool Ended() const { return FEnded; }

  // The connection ended outside the stream (a read failed, the peer closed):
  // the lrLost record that says so.
  static TLinkRecord Lost(const std::string& reason);
  // Splits a send result's body into the result text and the field list.
  static void SplitMsgResult(TZVRemoteMsg& msg, char delimiter);

 private:
  void Decode(const std::string& text);
  void DecodeLoad(const TZVRemoteMsg& msg);
  void PushInfo(const TZVRemoteMsg& msg, TTcpCommand cmd, bool success, const std::string& text);

  const TZVProtocol& FProtocol;
  TZVLinkContext& FContext;
  const std::string FPeerAddress;
  TFrameReader FReader;
  std::deque<TLinkRecord> FWaiting;  // records of frames decoded, oldest first
  bool FEnded = false;
};

}  // namespace zv
