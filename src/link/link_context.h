// TZVLinkContext: what the server link needs from the program that owns it.
// The console implements it and hands it to the client it creates; the link
// never reaches the console any other way.
//
// Thread rules: the members marked "any thread" are called by the link's worker
// threads too and are safe there; every other member is called on the main
// thread only.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "protocol/protocol_session.h"

namespace zv {

namespace platform {
class MessageDispatcher;
}

class TSysLog;
class TZVCarriersConsole;
class TZVMsgBuffer;
class TZVProtocol;

// NextMsgId and SessionProtocol (from TZVProtocolSession) are safe on any
// thread.
class TZVLinkContext : public TZVProtocolSession {
 public:
  virtual ~TZVLinkContext() = default;

  // The console's account id and own address. Any thread.
  virtual const std::string& CurrentUserId() const = 0;
  virtual const std::string& IPAddress() const = 0;
  // 1 local, 2 TCP/IP.
  virtual int32_t ConnectionType() const = 0;
  // Where the TCP/IP server is; a start replaces a host name by its address.
  virtual const std::string& ServerIP() const = 0;
  virtual void AssignServerIP(const std::string& value) = 0;
  virtual int32_t ServerPort() const = 0;

  // The highest protocol number spoken, and a new one for the link. Any thread.
  virtual int32_t ProtocolMax() const = 0;
  virtual void SetSessionProtocol(int32_t value) = 0;

  // Shared services. The log and the protocol object are safe on any thread.
  virtual TSysLog& SysLog() = 0;
  virtual TZVProtocol& TcpProtocol() = 0;
  // Where the link's records are delivered on the main thread.
  virtual platform::MessageDispatcher& Dispatcher() = 0;

  // The request buffer of the TCP/IP link, held for the link: it creates the
  // buffer when it starts and frees it when it stops, while none of its threads
  // runs. Worker threads read the pointer while they run.
  virtual TZVMsgBuffer* TcpBuffer() = 0;
  virtual void SetTcpBuffer(std::unique_ptr<TZVMsgBuffer> buffer) = 0;
  virtual void FreeTcpBuffer() = 0;

  // The carriers the console knows, and their replacement by a newly loaded list.
  virtual TZVCarriersConsole& Carriers() = 0;
  virtual void ReplaceCarriers(std::unique_ptr<TZVCarriersConsole> carriers) = 0;

  // Asks for the link to end. The owner ends it (frees the client) from its
  // own loop, after the handler that asked has returned, so no handler ever
  // frees its caller and a client may go on using itself after the request.
  // `code` is the connection code that ends the link and `reason` the text
  // the operator was shown of it (empty when none).
  virtual void RequestStop(int32_t code, const std::string& reason) = 0;
};

}  // namespace zv
