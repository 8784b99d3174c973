// The abstract client of the server link, as far as the console uses it. The
// TCP/IP and local clients derive from it; the console owns at most one.
#pragma once

#include <cstdint>

#include "support/helpers.h"

namespace zv {

class TZVServerClient {
 public:
  virtual ~TZVServerClient() = default;

  // The link is up as far as the last connection result says.
  virtual bool IsActive() const = 0;
  // 1 for the local client, 2 for the TCP/IP client.
  virtual uint8_t ConnectionType() const = 0;
  // Sends the console's message data: one text item, the message text, 0x03 and
  // the seven comma-separated fields. Reads the list during the call only.
  virtual void SendMessage(const TStringList& msgData) = 0;

  // The operator asked to stop; a stop then logs out politely.
  bool UserDisconnects() const { return FUserDisconnects; }
  void SetUserDisconnects(bool value) { FUserDisconnects = value; }

 private:
  bool FUserDisconnects = false;
};

}  // namespace zv
