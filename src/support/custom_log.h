// The general rotating log: numbered items written to a ring of files in
// Logs/, each holding ItemsPerFile items, with the counters and the settings
// kept in the settings store under the section a subclass names. Files are
// UTF-16 little-endian without a byte-order mark, lines ended by CR LF.
//
// Thread safety: LogItem, LogLines, Reset, Save, ShowLog and the properties
// serialise on FLock, so items from several threads never interleave and
// numbering, file change and settings save form one step. The settings
// store's lock is only ever taken inside FLock, never the other way round.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <string_view>

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

  // Writes one item unless the log is disabled. When the next file of the
  // ring cannot be created the call throws and the counters stay as they
  // were (the settings file is not touched), so the following item tries the
  // same file change again. Any failure releases the lock and propagates.
  void LogItem(std::string_view action, std::string_view AMessage, std::string_view debugInfo);
  // Appends `msg` unchanged: no numbering, no file change, no settings save.
  void LogLines(std::string_view msg);
  void Save();
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
  // How much of the end of the log file is read first when numbering resumes.
  static constexpr int64_t kResumeChunk = 64 * 1024;

 protected:
  // `dbIdent` names the settings section, `fileDefault` is the file-name
  // pattern with one "%d" for the file number. Loads the settings and opens
  // the current file (created when missing); throws EZVIncompleteObject when
  // either is empty and EFileOpenError/EFileCreateError when the file fails.
  TCustomLog(std::string dbIdent, std::string fileDefault);

  // Called from the constructor (so a subclass's override is not reached).
  virtual void LoadLogSettings();
  // Called with FLock held.
  virtual void SaveLogSettings();
  // Called with FLock held, after FItemsCount has been advanced to the item's
  // number.
  virtual std::string FormatItem(std::string_view action, std::string_view AMessage,
                                 std::string_view debugInfo) = 0;

  // A process killed between writing an item and saving the counters leaves
  // the stored count behind the file: numbering carries on after the larger
  // of the two. `itemHeader` is the text an item's first line starts with,
  // before its number. Subclasses call it at the end of their construction.
  void ResumeNumbering(std::string_view itemHeader);

  int32_t FItemsCount = 0;  // number of the last item in the current file
  const std::string FDBIdent;
  const std::string FFileDefault;

 private:
  std::unique_lock<TTimedLock> Guard() const;
  std::string FileNameFor(int64_t fileNumber) const;
  void StartNextFile();
  void EnsureFileOpen();
  void Append(std::string_view text);

  platform::AppendFile FLogFile;  // closed only after a failed file change
  std::string FFileName;
  int32_t FItemsPerFile = 0;
  int32_t FNoOfFiles = 0;
  int32_t FFileCount = 0;
  TZVDisplay FDisplayData;
  std::atomic<bool> FEnabled{true};  // read before FLock is taken
  mutable TTimedLock FLock;
  bool FStayOnTop = false;
};

}  // namespace zv
