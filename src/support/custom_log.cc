#include "support/custom_log.h"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <utility>

#include "support/data_access.h"
#include "support/exceptions.h"
#include "support/text.h"

namespace zv {
namespace {

constexpr std::string_view kLogFolder = "Logs";

// Opens an existing log file for reading and writing, or creates it.
std::FILE* OpenOrCreate(const std::string& path) {
  std::error_code ec;
  errno = 0;
  if (std::filesystem::exists(path, ec)) {
    std::FILE* file = std::fopen(path.c_str(), "r+b");
    if (file == nullptr) throw FileOpenError(path, errno != 0 ? errno : EIO);
    return file;
  }
  std::FILE* file = std::fopen(path.c_str(), "w+b");
  if (file == nullptr) throw FileCreateError(path, errno != 0 ? errno : EIO);
  return file;
}

// Deletes the file if it exists and creates it anew.
std::FILE* CreateAfresh(const std::string& path) {
  std::error_code ec;
  std::filesystem::remove(path, ec);  // a failure shows up as the create error
  errno = 0;
  std::FILE* file = std::fopen(path.c_str(), "w+b");
  if (file == nullptr) throw FileCreateError(path, errno != 0 ? errno : EIO);
  return file;
}

}  // namespace

TCustomLog::TCustomLog(std::string dbIdent, std::string fileDefault)
    : FDBIdent(std::move(dbIdent)), FFileDefault(std::move(fileDefault)) {
  if (FDBIdent.empty() || FFileDefault.empty()) {
    throw EZVIncompleteObject("Cannot create log object without defaults");
  }
  LoadLogSettings();
  FLogStream.reset(OpenOrCreate(FFileName));
}

TCustomLog::~TCustomLog() = default;

void TCustomLog::LoadLogSettings() {
  FNoOfFiles = TDataAccess::ReadFromIni(FDBIdent, "MaxFiles", int32_t{10});
  FItemsPerFile = TDataAccess::ReadFromIni(FDBIdent, "MaxItems", int32_t{10000});
  FItemsCount = TDataAccess::ReadFromIni(FDBIdent, "LogItemsCount", int32_t{0});
  FFileCount = TDataAccess::ReadFromIni(FDBIdent, "LogFilesCount", int32_t{1});
  FEnabled = TDataAccess::ReadFromIni(FDBIdent, "LogEnabled", true);
  FFileName = TDataAccess::ReadFromIni(FDBIdent, "LogFileName", FileNameFor(1));
}

void TCustomLog::SaveLogSettings() {
  TDataAccess::WriteToIni(FDBIdent, "LogItemsCount", FItemsCount);
  TDataAccess::WriteToIni(FDBIdent, "LogFilesCount", FFileCount);
  TDataAccess::WriteToIni(FDBIdent, "LogFileName", std::string_view(FFileName));
  TDataAccess::WriteToIni(FDBIdent, "MaxFiles", FNoOfFiles);
  TDataAccess::WriteToIni(FDBIdent, "MaxItems", FItemsPerFile);
  TDataAccess::WriteToIni(FDBIdent, "LogEnabled", FEnabled.load());
  TDataAccess::SaveIni();
}

void TCustomLog::LogItem(std::string_view action, std::string_view AMessage,
                         std::string_view debugInfo) {
  if (!FEnabled) return;
  const auto guard = Guard();
  if (int64_t{FItemsCount} + 1 > FItemsPerFile) StartNextFile();
  EnsureFileOpen();
  ++FItemsCount;
  try {
    Append(FormatItem(action, AMessage, debugInfo));
  } catch (...) {
    --FItemsCount;  // the item is not counted, so memory and settings still agree
    throw;
  }
  SaveLogSettings();
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
  if (!FLogStream) return;
  std::FILE* file = FLogStream.get();
  std::string bytes;
  char buffer[4096];
  std::rewind(file);
  std::size_t n = 0;
  while ((n = std::fread(buffer, 1, sizeof buffer, file)) > 0) bytes.append(buffer, n);
  if (std::ferror(file) != 0) {
    std::clearerr(file);
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
  FLogStream.reset();
  std::string name = FileNameFor(next);
  FLogStream.reset(CreateAfresh(name));
  FFileCount = static_cast<int32_t>(next);
  FFileName = std::move(name);
  FItemsCount = 0;
}

// After a failed file change no file is open; the current file is opened
// again (or created) so that LogLines and later items have one, or the call
// fails with the file error.
void TCustomLog::EnsureFileOpen() {
  if (!FLogStream) FLogStream.reset(OpenOrCreate(FFileName));
}

void TCustomLog::Append(std::string_view text) {
  const std::string bytes = Utf8ToUtf16Bytes(text);
  std::FILE* file = FLogStream.get();
  errno = 0;
  if (std::fseek(file, 0, SEEK_END) != 0 ||
      std::fwrite(bytes.data(), 1, bytes.size(), file) != bytes.size() || std::fflush(file) != 0) {
    const int error = errno != 0 ? errno : EIO;
    std::clearerr(file);
    throw EZVFileError(
        StrFormat("Cannot write file \"%s\". %s", FFileName.c_str(), std::strerror(error)));
  }
}

}  // namespace zv
