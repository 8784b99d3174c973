// The simulator's event log: one line per event on standard error, stamped
// with the local time of day and the connection it concerns, or nothing at
// all when the simulator runs quietly.
#pragma once

#include <cstdint>
#include <string_view>

namespace zv::sim {

class TEventLog {
 public:
  explicit TEventLog(bool quiet) : FQuiet(quiet) {}

  // An event of the whole server.
  void Event(std::string_view text) const { Write(0, text); }
  // An event of connection `connection` (numbered from 1).
  void Event(int32_t connection, std::string_view text) const { Write(connection, text); }

 private:
  void Write(int32_t connection, std::string_view text) const;
  bool FQuiet;
};

}  // namespace zv::sim
