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
#include "support/data_access.h"
#include "support/exceptions.h"
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

}  // namespace

TCustomLog::TCustomLog(std::string dbIdent, std::string fileDefault)
    : FDBIdent(std::move(dbIdent)), FFileDefault(std::move(fileDefault)) {
  if (FDBIdent.empty() || FFileDefault.empty()) {
    throw EZVIncompleteObject("Cannot create log object without defaults");
  }
  LoadLogSettings();
  OpenOrCreate(FLogFile, FFileName);
}

TCustomLog::~TCustomLog() = default;

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
    if (int64_t{FItemsCount} + 1 > FItemsPerFile) {
      StartNextFile();
      // Before the new file's first item: a restart never empties a file that
      // already holds items because the stored counters still named the last.
      SaveCounters(warnings);
    }
    EnsureFileOpen();
    ++FItemsCount;
    try {
      Append(FormatItem(action, AMessage, debugInfo));
    } catch (...) {
      --FItemsCount;  // not written, not counted
      throw;
    }
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
void TCustomLog::SaveCounters(TWarnings& warnings) {
  try {
    SaveLogSettings();
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
  const int64_t length = FLogFile.Length();
  if (length <= 0) return;
  // The last header is near the end unless the last item is long: the end is
  // read first, and a growing part of the file while no header is found.
  std::string tail;
  for (int64_t chunk = kResumeChunk;; chunk *= 4) {
    const int64_t from = std::max<int64_t>(length - chunk, 0);
    if (FLogFile.ReadAt(from, static_cast<std::size_t>(length - from), tail) != 0) return;
    if (from == 0) tail.insert(0, Utf8ToUtf16Bytes("\r\n"));  // the file's start is a line start
    if (const auto last = LastItemNumber(tail, itemHeader)) {
      FItemsCount = std::max(FItemsCount, *last);
      return;
    }
    if (from == 0) return;
  }
}

}  // namespace zv
