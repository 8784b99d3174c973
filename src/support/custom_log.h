// The general rotating log: numbered items written to a ring of files in
// Logs/, each holding ItemsPerFile items, with the counters and the settings
// kept in the settings store under the section a subclass names. Files are
// UTF-16 little-endian without a byte-order mark, lines ended by CR LF.
//
// The counters are not saved with every item: they are saved on a change of
// file (before the new file's first item), at most once per kCounterSaveMs
// otherwise, and with the other settings at exit (StoreSettings). At start
// the count carries on from the largest of the stored count, the last item in
// the current file and the number of items it holds, so a kill at any moment
// repeats no number; an item is appended whole or not at all.
//
// Several processes may log into one ring (a console and `zvcc send` runs on
// one home). Each item is numbered and written under a lock file beside the
// ring, after whatever the others have appended since: the number follows
// the file's last item, a file another process has started afresh is opened
// again, and a file change another process has made (the settings file names
// a newer file) is followed instead of made again. A save of the counters
// takes part in the settings file's shared save and never moves them back:
// the count stays at least what the file holds for the same log file, and a
// newer log file named there is kept.
//
// The log costs the record, never the caller's work: a file that cannot be
// written stops logging with one warning (the items meanwhile are lost). The
// first item logged kRetryMs or more after the last failed attempt tries
// again, and resumes logging with another warning when it is written. The
// pause keeps a nearly full disk, where now and then a short item fits, from
// turning every page into a pair of warnings.
//
// Thread safety: LogItem, LogLines, Reset, Save, ShowLog and the properties
// serialise on FLock, so items from several threads never interleave. The
// settings store's lock is only ever taken inside FLock, never the other way
// round; warnings go to the sink after FLock is released.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/append_file.h"
#include "support/helpers.h"
#include "support/timed_lock.h"

namespace zv {

// Settings of a display window. This program shows no window, so they are
// kept only for the settings' sake and have no effect.
struct TZVDisplay {
  uint32_t FillColour = 0;
  uint32_t FontColour = 0;
  int32_t FontSize = 0;
  std::string FontType;
  uint8_t FontStyle = 0;  // set of font styles, one bit each
};

class TCustomLog {
 public:
  virtual ~TCustomLog();
  TCustomLog(const TCustomLog&) = delete;
  TCustomLog& operator=(const TCustomLog&) = delete;

  using TWarningSink = std::function<void(const std::string& line)>;
  // Where the log's one-line warnings go (logging stopped or resumed, counters
  // not saved); called on the logging thread without the log's lock held.
  // Without a sink they are dropped.
  void SetWarningSink(TWarningSink sink);

  // Writes one item unless the log is disabled. Never fails for the files:
  // when the item cannot be written (the next file of the ring cannot be
  // created, the disk is full) it is not counted and logging stops; an item
  // after the retry interval tries the same file change or append again.
  // Throws only when the log's lock stays busy.
  void LogItem(std::string_view action, std::string_view AMessage, std::string_view debugInfo);
  // Appends `msg` unchanged: no numbering, no file change, no settings save.
  void LogLines(std::string_view msg);
  // Writes the settings and counters and saves the settings file (throws
  // EFileCreateError when it cannot be written).
  void Save();
  // Writes the settings and counters into the store, for a caller that saves
  // the store itself (the console's exit save).
  void StoreSettings();
  // Starts the ring afresh: file 1, emptied, with no items.
  void Reset();
  // The whole text of the current file, one entry per line; empty while no
  // file is open after a failed file change.
  void ShowLog(TStringList& destination);

  // Takes FLock, waiting at most kLockTimeout; throws EZVException when that
  // is not enough. Unlock releases it.
  void Lock();
  void Unlock();

  int32_t ItemsPerFile() const;
  void SetItemsPerFile(int32_t value);  // ignored unless greater than 0
  int32_t NoOfFiles() const;
  void SetNoOfFiles(int32_t value);  // ignored unless greater than 0
  std::string LogFileName() const;
  bool StayOnTop() const { return FStayOnTop; }
  void SetStayOnTop(bool value) { FStayOnTop = value; }
  const TZVDisplay& DisplaySettings() const { return FDisplayData; }
  void SetDisplaySettings(const TZVDisplay& value) { FDisplayData = value; }

  static constexpr int kLockTimeoutMs = 10000;
  // The least time between two saves of the counters while items flow.
  static constexpr int kCounterSaveMs = 1000;
  // How long a stopped log drops items before it tries to write again.
  static constexpr int kRetryMs = 5000;
  // How much of the end of the log file is read first when numbering resumes.
  static constexpr int64_t kResumeChunk = 64 * 1024;
  // The items of a current file up to this size are counted at start.
  static constexpr int64_t kCountLimit = 64 * 1024 * 1024;
  // The longest wait for another process's item.
  static constexpr int kRingLockMs = 5000;

 protected:
  // `dbIdent` names the settings section, `fileDefault` is the file-name
  // pattern with one "%d" for the file number. Loads the settings and opens
  // the current file (created when missing); throws EZVIncompleteObject when
  // either is empty and EFileOpenError/EFileCreateError when the file fails.
  TCustomLog(std::string dbIdent, std::string fileDefault);

  // Called from the constructor (so a subclass's override is not reached).
  virtual void LoadLogSettings();
  // Called with FLock held. SaveLogSettings writes what WriteLogSettings
  // writes, then saves the settings file.
  virtual void SaveLogSettings();
  void WriteLogSettings();
  // Called with FLock held, after FItemsCount has been advanced to the item's
  // number.
  virtual std::string FormatItem(std::string_view action, std::string_view AMessage,
                                 std::string_view debugInfo) = 0;

  // A process killed between writing an item and saving the counters leaves
  // the stored count behind the file: numbering carries on after the larger
  // of the two. `itemHeader` is the text an item's first line starts with,
  // before its number; it also lets each item follow the items of other
  // processes. Subclasses call it at the end of their construction.
  void ResumeNumbering(std::string_view itemHeader);

  int32_t FItemsCount = 0;  // number of the last item in the current file
  // Under FLock; kRetryMs unless a test shortens it.
  std::chrono::milliseconds FRetryInterval{kRetryMs};
  const std::string FDBIdent;
  const std::string FFileDefault;

 private:
  using TWarnings = std::vector<std::string>;
  void FollowOthers();
  bool FollowFileChange();
  std::optional<int32_t> LastItemFrom(int64_t from) const;
  int32_t CountItems() const;
  std::string RingLockPath() const;
  std::unique_lock<TTimedLock> Guard() const;
  std::string FileNameFor(int64_t fileNumber) const;
  std::string StoredFileName() const;
  void WriteItem(std::string_view action, std::string_view AMessage, std::string_view debugInfo,
                 TWarnings& warnings);
  // `now`: on the disk before it returns (a file change others must see).
  void SaveCounters(TWarnings& warnings, bool now = false);
  void StartNextFile();
  void EnsureFileOpen();
  void Append(std::string_view text);
  void Warn(const TWarnings& warnings);

  platform::AppendFile FLogFile;  // closed only after a failed file change
  std::string FFileName;
  int32_t FItemsPerFile = 0;
  int32_t FNoOfFiles = 0;
  int32_t FFileCount = 0;
  TZVDisplay FDisplayData;
  std::atomic<bool> FEnabled{true};  // read before FLock is taken
  mutable TTimedLock FLock;
  bool FStayOnTop = false;
  // Under FLock: logging stopped by a failed write, and the items lost since.
  bool FStopped = false;
  std::chrono::steady_clock::time_point FLastFailure;
  int64_t FLostItems = 0;
  bool FCountersFailing = false;  // warned; quiet until a save succeeds
  std::chrono::steady_clock::time_point FLastSave;
  std::mutex FSinkLock;
  TWarningSink FSink;  // guarded by FSinkLock
  // Under FLock: the header that starts an item (set by ResumeNumbering) and
  // the file's length after this process's last look at it or append.
  std::optional<std::string> FItemHeader;
  int64_t FKnownLength = 0;
  int FMergeId = 0;  // of this log's part in the settings file's shared saves
};

}  // namespace zv
