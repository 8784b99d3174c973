// The settings store: one in-memory copy of Settings/zvcc.ini shared by the
// whole process, read from disk on first use and written back whole by
// SaveIni. All operations are class-level; there are no TDataAccess objects.
//
// Reads and writes change only memory and are safe from any thread. SaveIni
// may run on any thread too; callers that also hold the log's lock take it
// before anything here (lock order: log, then settings store).
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "support/date_time.h"
#include "support/helpers.h"
#include "support/ini_store.h"

namespace zv {

// A value of mixed kind for WriteToIniSec/ReadFromIniSec. std::monostate is an
// unassigned value; double stands for the kinds the store does not handle.
using TIniValue = std::variant<std::monostate, bool, int32_t, int64_t, double, std::string>;

class TDataAccess {
 public:
  TDataAccess() = delete;

  static std::string IniFilePath();

  // Writes the whole store to the file: a temporary file in Settings renamed
  // over zvcc.ini, so a failed save leaves the old file intact. Throws
  // EFileCreateError ("Cannot create file ...") and keeps the memory as it is.
  // When another thread's save has been running for 200 ms already, this call
  // hands its work to that thread (which saves once more after its own write)
  // and returns without waiting longer.
  //
  // kToDisk: the file reaches the disk before SaveIni returns (settings the
  // operator changes). kToSystem: the cheaper save of counters that change with
  // every message or log item; atomic all the same, and whole after the program
  // is killed at any moment, but a crash of the system itself may bring back an
  // earlier file.
  enum class TFlush { kToDisk, kToSystem };
  static void SaveIni(TFlush flush = TFlush::kToDisk);
  // Like SaveIni, but never hands its changes to another thread's save: it
  // waits (at most kSaveWaitMs) for a running save to end, and returns only
  // once its own changes are in the file. Throws EFileCreateError, or
  // EZVException when the wait is not enough. For values that must be on the
  // disk before the caller goes on (a reserved block of message numbers).
  static void SaveIniNow(TFlush flush = TFlush::kToSystem);
  static constexpr int kSaveWaitMs = 5000;

  // Saves shared with other processes on the same home. While a merge is set,
  // every save takes an exclusive lock on LockFilePath() (waiting at most
  // kSaveWaitMs; without a lock file it goes on unlocked) from reading what
  // the file holds to putting the new file in place, and calls `merge` under
  // that lock, before the store is rendered, with the file's current content
  // (empty when it cannot be read). The merge writes into the store whatever
  // must not go back (a value another process advanced); it runs on the
  // saving thread, without the store's own lock held, and must not save. An
  // empty merge ends the sharing.
  using TSaveMerge = std::function<void(const TIniStore& onDisk)>;
  static void ShareSaves(TSaveMerge merge);
  // A further merge of the same kind, for values of another owner (the log's
  // counters beside the message numbering); it also makes every save shared.
  // Runs after the ShareSaves merge. Returns the id RemoveSaveMerge takes; a
  // merge that has been removed is not called by saves that start later.
  static int AddSaveMerge(TSaveMerge merge);
  static void RemoveSaveMerge(int id);
  static std::string LockFilePath();

  // Integer read: decimal, or hexadecimal after "$", "x" or "0x"; `aDefault`
  // when absent, empty or not an integer.
  static int32_t ReadFromIni(std::string_view aSection, std::string_view aField, int32_t aDefault);
  static uint32_t ReadFromIni(std::string_view aSection, std::string_view aField,
                              uint32_t aDefault);
  // Text read: the value as stored; `aDefault` when absent or empty. The
  // const char* overload keeps a literal default from turning into a Boolean.
  static std::string ReadFromIni(std::string_view aSection, std::string_view aField,
                                 std::string_view aDefault);
  static std::string ReadFromIni(std::string_view aSection, std::string_view aField,
                                 const char* aDefault);
  // Boolean read: the integer read with 1 or 0 as default; non-zero is true.
  static bool ReadFromIni(std::string_view aSection, std::string_view aField, bool aDefault);
  // "dd/mm/yyyy", optionally followed by a blank and the time of day.
  static TDateTime ReadFromIni(std::string_view aSection, std::string_view aField,
                               const TDateTime& aDefault);

  static void WriteToIni(std::string_view aSection, std::string_view aField, int32_t newValue);
  // Stored as the signed integer with the same 32 bits.
  static void WriteToIni(std::string_view aSection, std::string_view aField, uint32_t newValue);
  static void WriteToIni(std::string_view aSection, std::string_view aField,
                         std::string_view newValue);
  static void WriteToIni(std::string_view aSection, std::string_view aField, const char* newValue);
  static void WriteToIni(std::string_view aSection, std::string_view aField, bool newValue);
  // "dd/mm/yyyy", then a blank and the locale's long time unless midnight.
  static void WriteToIni(std::string_view aSection, std::string_view aField,
                         const TDateTime& newValue);

  // Reads from another INI object instead of the shared store.
  static std::string ReadStringFromIni(const TIniStore& ini, std::string_view section,
                                       std::string_view field, std::string_view aDefault);
  static void RemoveSection(std::string_view aSection);
  static void DeleteKeys(std::string_view section, const TStringList& keys);
  // Each "name=value" line as a text write; lines without "=" are skipped.
  static void WriteSectionValues(std::string_view aSection, const TStringList& Strings);
  // Nothing happens unless both lists have the same length.
  static void WriteSectionValues(std::string_view section, const TStringList& names,
                                 const TStringList& values);
  static void WriteToIniSec(std::string_view section, const TStringList& names,
                            const std::vector<TIniValue>& values);
  static void ReadFromIniSec(std::string_view section, const TStringList& names,
                             std::vector<TIniValue>& values,
                             const std::vector<TIniValue>& defaults);

  // Discards the store and reads it again from IniFilePath(), as a restart
  // would. For tests only.
  static void ReloadForTesting();
  // Tests stand in for the writing of the file (rendered text without the
  // byte-order mark); an empty writer restores the real one.
  using TFileWriter = std::function<void(const std::string& path, std::string_view content)>;
  static void SetWriterForTesting(TFileWriter writer);
};

}  // namespace zv
