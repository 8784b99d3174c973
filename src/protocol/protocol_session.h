// TZVProtocolSession: what building a request takes from the session it is
// built for. The console implements it; the builders of TZVProtocol call it
// once per request, at the moment the request is created, from any thread.
#pragma once

#include <cstdint>

namespace zv {

class TZVProtocolSession {
 public:
  virtual ~TZVProtocolSession() = default;

  // A fresh message number; callers on several threads never get the same one.
  virtual int32_t NextMsgId() = 0;
  // The protocol number in use on the link (17 or 18 once negotiated).
  virtual int32_t SessionProtocol() const = 0;
};

}  // namespace zv
