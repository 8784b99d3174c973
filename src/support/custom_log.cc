#include "support/custom_log.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <utility>

#include "platform/file_read.h"
#include "platform/instance_lock.h"
#include "support/data_access.h"
#include "support/exceptions.h"
#include "support/int_text.h"
#include "support/text.h"

namespace zv {
namespace {

constexpr std::string_view kLogFolder = "Logs";

// Opens an existing log file for reading and writing, or creates it.
void OpenOrCreate(platform::AppendFile& file, const std::string& path) {
  const int error = file.OpenExisting(path);
  if (error == ENOENT) {
    if (const int created = file.CreateAfresh(path)) throw FileCreateError(path, created);
  } else if (error != 0) {
    throw FileOpenError(path, error);
  }
}

// Deletes the file if it exists and creates it anew.
void CreateAfresh(platform::AppendFile& file, const std::string& path) {
  if (const int error = file.CreateAfresh(path)) throw FileCreateError(path, error);
}

// The number of the last item whose first line (`header`, then the number)
// stands in `tail`, the end of a log file in UTF-16 little-endian that starts
// at a line start; nullopt when it holds none.
std::optional<int32_t> LastItemNumber(std::string_view tail, std::string_view header) {
  const std::string lineStart = Utf8ToUtf16Bytes("\r\n" + std::string(header));
  for (std::size_t at = tail.rfind(lineStart); at != std::string_view::npos;
       at = at == 0 ? std::string_view::npos : tail.rfind(lineStart, at - 1)) {
    if (at % 2 != 0) continue;  // not on a character boundary
    std::size_t pos = at + lineStart.size();
    int64_t number = 0;
    std::size_t digits = 0;
    while (pos + 1 < tail.size() && tail[pos + 1] == 0 && tail[pos] >= '0' && tail[pos] <= '9' &&
           digits < 10) {
      number = number * 10 + (tail[pos] - '0');
      pos += 2;
      ++digits;
    }
    if (digits > 0 && number <= INT32_MAX) return static_cast<int32_t>(number);
  }
  return std::nullopt;
}

// How many items `bytes` (a whole log file, starting at a line start) holds.
int32_t CountHeaders(std::string_view bytes, std::string_view header) {
  const std::string lineStart = Utf8ToUtf16Bytes("\r\n" + std::string(header));
  int32_t count = 0;
  for (std::size_t at = bytes.find(lineStart); at != std::string_view::npos;
       at = bytes.find(lineStart, at + 1)) {
    const std::size_t digit = at + lineStart.size();
    if (at % 2 == 0 && digit + 1 < bytes.size() && bytes[digit + 1] == 0 && bytes[digit] >= '0' &&
        bytes[digit] <= '9' && count < INT32_MAX) {
      ++count;
    }
  }
  return count;
}

std::string NameInLogs(std::string_view stored) {
  const std::string name = std::filesystem::path(std::string(stored)).filename().string();
  return name == "." || name == ".." ? std::string() : name;
}

// The merge of the log's counters into a shared save: what this process last
// wrote (`name`, `fileCount`, `items`) gives way to the file's values when
// they are further on: a larger count for the same log file, or another log
// file changed more recently (on a tie, unless this one is the next of the
// ring after it, as right after this process's own file change).
void MergeStoredCounters(const std::string& section, const std::string& name, int32_t fileCount,
                         int32_t items, int32_t noOfFiles, const TIniStore& onDisk) {
  const auto stored = onDisk.Value(section, "LogFileName");
  if (!stored) return;
  const std::string theirName = NameInLogs(*stored);
  if (theirName.empty()) return;
  auto number = [&](const char* key, int32_t fallback) {
    const auto text = onDisk.Value(section, key);
    return text ? StrToIntDef(*text, fallback) : fallback;
  };
  const int32_t theirItems = number("LogItemsCount", 0);
  if (theirName == name) {
    if (theirItems > items) TDataAccess::WriteToIni(section, "LogItemsCount", theirItems);
    return;
  }
  const int32_t theirFile = number("LogFilesCount", 1);
  const int64_t theirs = platform::ModifiedAt(AppFilePath(kLogFolder, theirName));
  const int64_t ours = platform::ModifiedAt(AppFilePath(kLogFolder, name));
  const bool oursIsNext = noOfFiles > 0 && fileCount == theirFile % noOfFiles + 1;
  if (theirs > ours || (theirs == ours && !oursIsNext)) {
    TDataAccess::WriteToIni(section, "LogFileName", theirName);
    TDataAccess::WriteToIni(section, "LogFilesCount", theirFile);
    TDataAccess::WriteToIni(section, "LogItemsCount", theirItems);
  }
}

}  // namespace

TCustomLog::TCustomLog(std::string dbIdent, std::string fileDefault)
    : FDBIdent(std::move(dbIdent)), FFileDefault(std::move(fileDefault)) {
  if (FDBIdent.empty() || FFileDefault.empty()) {
    throw EZVIncompleteObject("Cannot create log object without defaults");
  }
  LoadLogSettings();
  OpenOrCreate(FLogFile, FFileName);
  FKnownLength = std::max<int64_t>(FLogFile.Length(), 0);
  // The store holds what this process last wrote (or what an earlier merge
  // kept): the merge weighs the file's values against those.
  FMergeId = TDataAccess::AddSaveMerge([section = FDBIdent](const TIniStore& onDisk) {
    const std::string name =
        NameInLogs(TDataAccess::ReadFromIni(section, "LogFileName", std::string_view()));
    if (name.empty()) return;
    MergeStoredCounters(section, name, TDataAccess::ReadFromIni(section, "LogFilesCount", 1),
                        TDataAccess::ReadFromIni(section, "LogItemsCount", 0),
                        TDataAccess::ReadFromIni(section, "MaxFiles", 10), onDisk);
  });
}

TCustomLog::~TCustomLog() { TDataAccess::RemoveSaveMerge(FMergeId); }

void TCustomLog::LoadLogSettings() {
  FNoOfFiles = TDataAccess::ReadFromIni(FDBIdent, "MaxFiles", int32_t{10});
  FItemsPerFile = TDataAccess::ReadFromIni(FDBIdent, "MaxItems", int32_t{10000});
  FItemsCount = TDataAccess::ReadFromIni(FDBIdent, "LogItemsCount", int32_t{0});
  FFileCount = TDataAccess::ReadFromIni(FDBIdent, "LogFilesCount", int32_t{1});
  FEnabled = TDataAccess::ReadFromIni(FDBIdent, "LogEnabled", true);
  // Always a file in this home's Logs/: a path stored by an older version (or
  // in a folder since moved or copied) keeps only its name.
  const std::filesystem::path stored(TDataAccess::ReadFromIni(FDBIdent, "LogFileName", ""));
  const std::string name = stored.filename().string();
  FFileName =
      name.empty() || name == "." || name == ".." ? FileNameFor(1) : AppFilePath(kLogFolder, name);
}

void TCustomLog::SaveLogSettings() {
  WriteLogSettings();
  TDataAccess::SaveIni(TDataAccess::TFlush::kToSystem);
  FLastSave = std::chrono::steady_clock::now();
}

void TCustomLog::WriteLogSettings() {
  TDataAccess::WriteToIni(FDBIdent, "LogItemsCount", FItemsCount);
  TDataAccess::WriteToIni(FDBIdent, "LogFilesCount", FFileCount);
  // A name relative to Logs/, which stays right when the home is moved.
  TDataAccess::WriteToIni(FDBIdent, "LogFileName", StoredFileName());
  TDataAccess::WriteToIni(FDBIdent, "MaxFiles", FNoOfFiles);
  TDataAccess::WriteToIni(FDBIdent, "MaxItems", FItemsPerFile);
  TDataAccess::WriteToIni(FDBIdent, "LogEnabled", FEnabled.load());
}

void TCustomLog::SetWarningSink(TWarningSink sink) {
  const std::lock_guard lock(FSinkLock);
  FSink = std::move(sink);
}

void TCustomLog::LogItem(std::string_view action, std::string_view AMessage,
                         std::string_view debugInfo) {
  if (!FEnabled) return;
  TWarnings warnings;
  {
    const auto guard = Guard();
    WriteItem(action, AMessage, debugInfo, warnings);
  }
  Warn(warnings);
}

void TCustomLog::StoreSettings() {
  const auto guard = Guard();
  WriteLogSettings();
}

void TCustomLog::WriteItem(std::string_view action, std::string_view AMessage,
                           std::string_view debugInfo, TWarnings& warnings) {
  if (FStopped && std::chrono::steady_clock::now() - FLastFailure < FRetryInterval) {
    ++FLostItems;
    return;
  }
  try {
    // Other processes of the home write the same ring: one item at a time.
    platform::InstanceLock ring;
    if (ring.LockWithin(RingLockPath(), std::chrono::milliseconds(kRingLockMs)) ==
        platform::InstanceLock::Result::kHeldElsewhere) {
      throw EZVException(StrFormat("The log \"%s\" stayed locked by another process for %d ms",
                                   FFileName.c_str(), kRingLockMs));
    }
    // Without a lock file (no Logs/ folder, no permission) the item goes on
    // alone; writing the item itself then reports what is wrong.
    FollowOthers();
    if (int64_t{FItemsCount} + 1 > FItemsPerFile && !FollowFileChange()) {
      StartNextFile();
      // Before the new file's first item, and on the disk while the ring is
      // locked: a restart never empties a file that already holds items
      // because the stored counters still named the last, and the other
      // processes find the change there.
      SaveCounters(warnings, true);
    }
    EnsureFileOpen();
    ++FItemsCount;
    try {
      Append(FormatItem(action, AMessage, debugInfo));
    } catch (...) {
      --FItemsCount;  // not written, not counted
      throw;
    }
    FKnownLength = std::max<int64_t>(FLogFile.Length(), 0);
  } catch (const Exception& e) {
    ++FLostItems;
    FLastFailure = std::chrono::steady_clock::now();
    if (!FStopped) {
      FStopped = true;
      warnings.clear();  // a counters' warning of this item says no more than this line
      warnings.push_back(std::string("Logging stopped: ") + e.what() +
                         ". Paging goes on; the log resumes when it can be written.");
    }
    return;
  }
  if (FStopped) {
    FStopped = false;
    FCountersFailing = false;
    warnings.push_back(StrFormat("Logging resumed in \"%s\"; %lld items were not logged.",
                                 FFileName.c_str(), static_cast<long long>(FLostItems)));
    FLostItems = 0;
  }
  if (std::chrono::steady_clock::now() - FLastSave >= std::chrono::milliseconds(kCounterSaveMs)) {
    SaveCounters(warnings);
  }
}

// A failed save costs nothing but the stored counters, which the next start
// takes from the files anyway.
void TCustomLog::SaveCounters(TWarnings& warnings, bool now) {
  try {
    if (now) {
      WriteLogSettings();
      TDataAccess::SaveIniNow(TDataAccess::TFlush::kToSystem);
      FLastSave = std::chrono::steady_clock::now();
    } else {
      SaveLogSettings();
    }
    FCountersFailing = false;
  } catch (const std::exception& e) {
    FLastSave = std::chrono::steady_clock::now();  // tried again a while later, not per item
    if (!FCountersFailing) {
      FCountersFailing = true;
      warnings.push_back(std::string("The log's counters could not be saved: ") + e.what());
    }
  }
}

void TCustomLog::Warn(const TWarnings& warnings) {
  if (warnings.empty()) return;
  TWarningSink sink;
  {
    const std::lock_guard lock(FSinkLock);
    sink = FSink;
  }
  if (!sink) return;
  for (const std::string& line : warnings) sink(line);
}

void TCustomLog::LogLines(std::string_view msg) {
  const auto guard = Guard();
  EnsureFileOpen();
  Append(msg);
}

void TCustomLog::Save() {
  const auto guard = Guard();
  SaveLogSettings();
}

void TCustomLog::Reset() {
  const auto guard = Guard();
  FFileCount = FNoOfFiles;
  try {
    StartNextFile();
  } catch (...) {
    // File 1 is still due: the next item runs the same file change.
    FItemsCount = FItemsPerFile;
    throw;
  }
  SaveLogSettings();
}

void TCustomLog::ShowLog(TStringList& destination) {
  const auto guard = Guard();
  destination.clear();
  if (!FLogFile.IsOpen()) return;
  std::string bytes;
  const int64_t length = FLogFile.Length();
  if (length < 0 || FLogFile.ReadAt(0, static_cast<std::size_t>(length), bytes) != 0) {
    throw EZVFileError(StrFormat("Cannot read file \"%s\"", FFileName.c_str()));
  }
  destination = SplitLines(Utf16BytesToUtf8(bytes));
}

void TCustomLog::Lock() { Guard().release(); }

void TCustomLog::Unlock() { FLock.unlock(); }

int32_t TCustomLog::ItemsPerFile() const {
  const auto guard = Guard();
  return FItemsPerFile;
}

void TCustomLog::SetItemsPerFile(int32_t value) {
  const auto guard = Guard();
  if (value > 0) FItemsPerFile = value;
}

int32_t TCustomLog::NoOfFiles() const {
  const auto guard = Guard();
  return FNoOfFiles;
}

void TCustomLog::SetNoOfFiles(int32_t value) {
  const auto guard = Guard();
  if (value > 0) FNoOfFiles = value;
}

std::string TCustomLog::LogFileName() const {
  const auto guard = Guard();
  return FFileName;
}

std::string TCustomLog::StoredFileName() const {
  return std::filesystem::path(FFileName).filename().string();
}

std::unique_lock<TTimedLock> TCustomLog::Guard() const {
  std::unique_lock lock(FLock, std::defer_lock);
  if (!lock.try_lock_for(std::chrono::milliseconds(kLockTimeoutMs))) {
    throw EZVException(
        StrFormat("The log \"%s\" stayed busy for %d ms", FDBIdent.c_str(), kLockTimeoutMs));
  }
  return lock;
}

std::string TCustomLog::FileNameFor(int64_t fileNumber) const {
  std::string name = FFileDefault;
  const std::size_t at = name.find("%d");
  if (at != std::string::npos) name.replace(at, 2, std::to_string(fileNumber));
  return AppFilePath(kLogFolder, name);
}

// The file change of the ring. The current file is closed first; on failure
// the counters and the file name keep their values and no file stays open.
void TCustomLog::StartNextFile() {
  int64_t next = int64_t{FFileCount} + 1;
  if (next > FNoOfFiles) next = 1;
  FLogFile.Close();
  std::string name = FileNameFor(next);
  CreateAfresh(FLogFile, name);
  FFileCount = static_cast<int32_t>(next);
  FFileName = std::move(name);
  FItemsCount = 0;
  FKnownLength = 0;
}

// After a failed file change no file is open; the current file is opened
// again (or created) so that LogLines and later items have one, or the call
// fails with the file error.
void TCustomLog::EnsureFileOpen() {
  if (!FLogFile.IsOpen()) OpenOrCreate(FLogFile, FFileName);
}

void TCustomLog::Append(std::string_view text) {
  // A failed write leaves no part of the text in the file.
  if (const int error = FLogFile.Append(Utf8ToUtf16Bytes(text))) {
    throw EZVFileError(StrFormat("Cannot write file \"%s\". %s", FFileName.c_str(),
                                 platform::FileErrorText(error).c_str()));
  }
}

void TCustomLog::ResumeNumbering(std::string_view itemHeader) {
  const auto guard = Guard();
  FItemHeader = std::string(itemHeader);
  const int64_t length = FLogFile.Length();
  FKnownLength = std::max<int64_t>(length, 0);
  if (length <= 0) return;
  // Items numbered twice by an older version are counted as the file holds them.
  FItemsCount = std::max(FItemsCount, CountItems());
  if (const auto last = LastItemFrom(0)) FItemsCount = std::max(FItemsCount, *last);
}

// The number of the last item that starts at or after `from` (a line start),
// up to the end of the file.
std::optional<int32_t> TCustomLog::LastItemFrom(int64_t from) const {
  if (!FItemHeader) return std::nullopt;
  const int64_t length = FLogFile.Length();
  if (length <= from) return std::nullopt;
  // The last header is near the end unless the last item is long: the end is
  // read first, and a growing part of the file while no header is found.
  std::string tail;
  for (int64_t chunk = kResumeChunk;; chunk *= 4) {
    const int64_t start = std::max<int64_t>(length - chunk, from);
    if (FLogFile.ReadAt(start, static_cast<std::size_t>(length - start), tail) != 0) {
      return std::nullopt;
    }
    if (start == from) tail.insert(0, Utf8ToUtf16Bytes("\r\n"));  // `from` is a line start
    if (const auto last = LastItemNumber(tail, *FItemHeader)) return last;
    if (start == from) return std::nullopt;
  }
}

int32_t TCustomLog::CountItems() const {
  const int64_t length = FLogFile.Length();
  if (!FItemHeader || length <= 0 || length > kCountLimit) return 0;
  std::string bytes;
  if (FLogFile.ReadAt(0, static_cast<std::size_t>(length), bytes) != 0) return 0;
  bytes.insert(0, Utf8ToUtf16Bytes("\r\n"));
  return CountHeaders(bytes, *FItemHeader);
}

// What other processes did to the current file since this one last looked:
// started it afresh (the ring came round) or appended items.
void TCustomLog::FollowOthers() {
  if (!FLogFile.IsOpen()) return;
  if (!FLogFile.IsFileAt(FFileName)) {
    FLogFile.Close();
    OpenOrCreate(FLogFile, FFileName);
    FKnownLength = 0;
    FItemsCount = 0;
  }
  const int64_t length = FLogFile.Length();
  if (length < 0 || length == FKnownLength) return;
  if (length < FKnownLength) {  // emptied meanwhile
    FKnownLength = 0;
    FItemsCount = 0;
  }
  if (const auto last = LastItemFrom(FKnownLength)) FItemsCount = *last;
  FKnownLength = length;
}

// The file change another process has made already: the settings file names
// a log file other than this one's current, changed no earlier than it. That
// file becomes the current one and numbering carries on after its items.
bool TCustomLog::FollowFileChange() {
  TIniStore onDisk;
  try {
    onDisk = TIniStore::FromFile(TDataAccess::IniFilePath());
  } catch (const Exception&) {
    return false;
  }
  const auto stored = onDisk.Value(FDBIdent, "LogFileName");
  if (!stored) return false;
  const std::string name = NameInLogs(*stored);
  if (name.empty() || name == StoredFileName()) return false;
  std::string path = AppFilePath(kLogFolder, name);
  if (platform::ModifiedAt(path) < platform::ModifiedAt(FFileName)) return false;
  platform::AppendFile file;
  if (file.OpenExisting(path) != 0) return false;
  FLogFile = std::move(file);
  FFileName = std::move(path);
  const auto fileCount = onDisk.Value(FDBIdent, "LogFilesCount");
  FFileCount = fileCount ? StrToIntDef(*fileCount, FFileCount) : FFileCount;
  FKnownLength = 0;
  FItemsCount = 0;
  FollowOthers();
  return true;
}

std::string TCustomLog::RingLockPath() const {
  std::string name = FFileDefault;
  const std::size_t at = name.find("%d");
  if (at != std::string::npos) name.erase(at, 2);
  return AppFilePath(kLogFolder, name + ".lock");
}

}  // namespace zv
