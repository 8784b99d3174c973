#include "support/data_access.h"

#include <chrono>
#include <condition_variable>
#include <ctime>
#include <functional>
#include <mutex>
#include <optional>
#include <vector>

#include "platform/file_replace.h"
#include "platform/instance_lock.h"
#include "support/exceptions.h"
#include "support/int_text.h"
#include "support/text.h"

namespace zv {
namespace {

constexpr std::chrono::milliseconds kSaveLockTimeout{200};

// The one store of the process. Lock guards every member and is held only
// for work in memory (never across file I/O, except in ReloadForTesting), so
// waiting for it is bounded by a few copies of the store.
struct TSharedStore {
  std::mutex Lock;
  std::condition_variable SaveDone;  // signalled when Saving turns false
  std::string FileName;
  TIniStore Ini;
  TDataAccess::TFileWriter Writer;  // empty: WriteIniFile
  TDataAccess::TSaveMerge Merge;    // empty and no Extra: the file is not shared
  std::map<int, TDataAccess::TSaveMerge> Extra;
  int NextMergeId = 1;
  bool Saving = false;              // one thread is rendering and writing the file
  bool SaveAgain = false;           // a SaveIni gave up waiting; the saving thread writes once more
  bool SaveAgainToDisk = false;     // ... and wanted its save on the disk

  TSharedStore() : FileName(TDataAccess::IniFilePath()), Ini(TIniStore::FromFile(FileName)) {}
};

TSharedStore& Shared() {
  static TSharedStore store;
  return store;
}

std::optional<std::string> FindValue(std::string_view section, std::string_view key) {
  TSharedStore& store = Shared();
  std::lock_guard guard(store.Lock);
  return store.Ini.Value(section, key);
}

// Holds the lock of a shared settings file for one save, and runs the merge
// under it; does nothing while the file is not shared.
class TSharedSaveLock {
 public:
  TSharedSaveLock(const std::string& path, const std::vector<TDataAccess::TSaveMerge>& merges) {
    if (merges.empty()) return;
    const auto result = FLock.LockWithin(TDataAccess::LockFilePath(),
                                         std::chrono::milliseconds(TDataAccess::kSaveWaitMs));
    if (result == platform::InstanceLock::Result::kHeldElsewhere) {
      throw EZVException(StrFormat("The settings file \"%s\" stayed locked for %d ms", path.c_str(),
                                   TDataAccess::kSaveWaitMs));
    }
    TIniStore onDisk;
    try {
      onDisk = TIniStore::FromFile(path);
    } catch (const Exception&) {
      // Unreadable: nothing to carry over; the write reports what is wrong.
    }
    for (const TDataAccess::TSaveMerge& merge : merges) merge(onDisk);
  }

 private:
  platform::InstanceLock FLock;
};

void StoreValue(std::string_view section, std::string_view key, std::string_view value) {
  TSharedStore& store = Shared();
  std::lock_guard guard(store.Lock);
  store.Ini.SetValue(section, key, value);
}

// Writes BOM + content in one replacement of the whole file; a failure names
// the file whose step failed.
void WriteIniFile(const std::string& path, std::string_view content, bool flushToDisk) {
  std::string bytes(kUtf8Bom);
  bytes.append(content);
  const platform::ReplaceFailure failure = platform::ReplaceFileContents(path, bytes, flushToDisk);
  if (failure.Error != 0) throw FileCreateError(failure.File, failure.Error);
}

// Reads one to `maxDigits` decimal digits at `pos`.
std::optional<int> ReadNumber(std::string_view text, std::size_t& pos, std::size_t maxDigits) {
  int value = 0;
  std::size_t digits = 0;
  while (pos < text.size() && digits < maxDigits && text[pos] >= '0' && text[pos] <= '9') {
    value = value * 10 + (text[pos] - '0');
    ++pos;
    ++digits;
  }
  if (digits == 0) return std::nullopt;
  return value;
}

bool Expect(std::string_view text, std::size_t& pos, char c) {
  if (pos >= text.size() || text[pos] != c) return false;
  ++pos;
  return true;
}

void SkipBlanks(std::string_view text, std::size_t& pos) {
  while (pos < text.size() && text[pos] == ' ') ++pos;
}

// "d/m/yyyy", optionally followed by "h:mm[:ss]" and "AM"/"PM", the forms the
// date-time write produces with 24- and 12-hour long time formats.
std::optional<TDateTime> ParseDateTime(std::string_view raw) {
  const std::string text = Trim(raw);
  std::size_t pos = 0;
  TDateTime result;
  const auto day = ReadNumber(text, pos, 2);
  if (!day || !Expect(text, pos, '/')) return std::nullopt;
  const auto month = ReadNumber(text, pos, 2);
  if (!month || !Expect(text, pos, '/')) return std::nullopt;
  const auto year = ReadNumber(text, pos, 4);
  if (!year) return std::nullopt;
  result.Day = *day;
  result.Month = *month;
  result.Year = *year;
  SkipBlanks(text, pos);
  if (pos < text.size()) {
    const auto hour = ReadNumber(text, pos, 2);
    if (!hour || !Expect(text, pos, ':')) return std::nullopt;
    const auto minute = ReadNumber(text, pos, 2);
    if (!minute) return std::nullopt;
    std::optional<int> second = 0;
    if (Expect(text, pos, ':')) second = ReadNumber(text, pos, 2);
    if (!second) return std::nullopt;
    result.Hour = *hour;
    result.Minute = *minute;
    result.Second = *second;
    SkipBlanks(text, pos);
    const std::string_view rest = std::string_view(text).substr(pos);
    if (!rest.empty()) {
      const bool pm = SameTextAscii(rest, "PM");
      if (!pm && !SameTextAscii(rest, "AM")) return std::nullopt;
      if (result.Hour < 1 || result.Hour > 12) return std::nullopt;
      result.Hour = result.Hour % 12 + (pm ? 12 : 0);
    }
  }
  if (!result.IsValid()) return std::nullopt;
  return result;
}

std::string FormatDateTime(const TDateTime& value) {
  std::string text = StrFormat("%02d/%02d/%04d", value.Day, value.Month, value.Year);
  if (value.IsMidnight()) return text;
  std::tm tm{};
  tm.tm_hour = value.Hour;
  tm.tm_min = value.Minute;
  tm.tm_sec = value.Second;
  char buffer[64];
  const std::size_t n = std::strftime(buffer, sizeof buffer, "%X", &tm);
  return text + " " + std::string(buffer, n);
}

}  // namespace

std::string TDataAccess::IniFilePath() { return AppFilePath("Settings", "zvcc.ini"); }

namespace {

// One save: waits at most `wait` for a running save; when that is not enough
// and `handOff` holds, leaves its changes to the running save, otherwise throws.
void SaveStore(TDataAccess::TFlush flush, std::chrono::milliseconds wait, bool handOff) {
  TSharedStore& store = Shared();
  std::unique_lock guard(store.Lock);
  if (!store.SaveDone.wait_for(guard, wait, [&store] { return !store.Saving; })) {
    if (!handOff) {
      throw EZVException(StrFormat("The settings file \"%s\" stayed busy for %d ms",
                                   store.FileName.c_str(), static_cast<int>(wait.count())));
    }
    // The saving thread sees this flag before it finishes and renders the
    // store again, so this call's changes reach the file without waiting here.
    store.SaveAgain = true;
    if (flush == TDataAccess::TFlush::kToDisk) store.SaveAgainToDisk = true;
    return;
  }
  store.Saving = true;
  bool toDisk = flush == TDataAccess::TFlush::kToDisk;
  try {
    do {
      toDisk = toDisk || store.SaveAgainToDisk;
      store.SaveAgain = false;
      store.SaveAgainToDisk = false;
      const std::string path = store.FileName;
      const TDataAccess::TFileWriter writer = store.Writer;
      std::vector<TDataAccess::TSaveMerge> merges;
      if (store.Merge) merges.push_back(store.Merge);
      for (const auto& [id, merge] : store.Extra) merges.push_back(merge);
      guard.unlock();
      const TSharedSaveLock shared(path, merges);
      guard.lock();
      const std::string content = store.Ini.Render();
      guard.unlock();
      if (writer) {
        writer(path, content);
      } else {
        WriteIniFile(path, content, toDisk);
      }
      guard.lock();
    } while (store.SaveAgain);
  } catch (...) {
    // The memory keeps every value; the next SaveIni writes them all.
    if (!guard.owns_lock()) guard.lock();
    store.Saving = false;
    guard.unlock();
    store.SaveDone.notify_all();
    throw;
  }
  store.Saving = false;
  guard.unlock();
  store.SaveDone.notify_all();
}

}  // namespace

void TDataAccess::SaveIni(TFlush flush) { SaveStore(flush, kSaveLockTimeout, true); }

void TDataAccess::SaveIniNow(TFlush flush) {
  SaveStore(flush, std::chrono::milliseconds(kSaveWaitMs), false);
}

void TDataAccess::ShareSaves(TSaveMerge merge) {
  TSharedStore& store = Shared();
  std::lock_guard guard(store.Lock);
  store.Merge = std::move(merge);
}

int TDataAccess::AddSaveMerge(TSaveMerge merge) {
  TSharedStore& store = Shared();
  std::lock_guard guard(store.Lock);
  const int id = store.NextMergeId++;
  store.Extra.emplace(id, std::move(merge));
  return id;
}

void TDataAccess::RemoveSaveMerge(int id) {
  TSharedStore& store = Shared();
  std::lock_guard guard(store.Lock);
  store.Extra.erase(id);
}

std::string TDataAccess::LockFilePath() { return IniFilePath() + ".lock"; }

int32_t TDataAccess::ReadFromIni(std::string_view aSection, std::string_view aField,
                                 int32_t aDefault) {
  const auto value = FindValue(aSection, aField);
  return value ? StrToIntDef(*value, aDefault) : aDefault;
}

uint32_t TDataAccess::ReadFromIni(std::string_view aSection, std::string_view aField,
                                  uint32_t aDefault) {
  return static_cast<uint32_t>(ReadFromIni(aSection, aField, static_cast<int32_t>(aDefault)));
}

std::string TDataAccess::ReadFromIni(std::string_view aSection, std::string_view aField,
                                     std::string_view aDefault) {
  auto value = FindValue(aSection, aField);
  if (!value || value->empty()) return std::string(aDefault);
  return std::move(*value);
}

std::string TDataAccess::ReadFromIni(std::string_view aSection, std::string_view aField,
                                     const char* aDefault) {
  return ReadFromIni(aSection, aField, std::string_view(aDefault));
}

bool TDataAccess::ReadFromIni(std::string_view aSection, std::string_view aField, bool aDefault) {
  return ReadFromIni(aSection, aField, int32_t{aDefault ? 1 : 0}) != 0;
}

TDateTime TDataAccess::ReadFromIni(std::string_view aSection, std::string_view aField,
                                   const TDateTime& aDefault) {
  const auto value = FindValue(aSection, aField);
  if (!value) return aDefault;
  return ParseDateTime(*value).value_or(aDefault);
}

void TDataAccess::WriteToIni(std::string_view aSection, std::string_view aField, int32_t newValue) {
  StoreValue(aSection, aField, std::to_string(newValue));
}

void TDataAccess::WriteToIni(std::string_view aSection, std::string_view aField,
                             uint32_t newValue) {
  WriteToIni(aSection, aField, static_cast<int32_t>(newValue));
}

void TDataAccess::WriteToIni(std::string_view aSection, std::string_view aField,
                             std::string_view newValue) {
  StoreValue(aSection, aField, newValue);
}

void TDataAccess::WriteToIni(std::string_view aSection, std::string_view aField,
                             const char* newValue) {
  StoreValue(aSection, aField, newValue);
}

void TDataAccess::WriteToIni(std::string_view aSection, std::string_view aField, bool newValue) {
  StoreValue(aSection, aField, newValue ? "1" : "0");
}

void TDataAccess::WriteToIni(std::string_view aSection, std::string_view aField,
                             const TDateTime& newValue) {
  StoreValue(aSection, aField, FormatDateTime(newValue));
}

std::string TDataAccess::ReadStringFromIni(const TIniStore& ini, std::string_view section,
                                           std::string_view field, std::string_view aDefault) {
  auto value = ini.Value(section, field);
  if (!value || value->empty()) return std::string(aDefault);
  return std::move(*value);
}

void TDataAccess::RemoveSection(std::string_view aSection) {
  TSharedStore& store = Shared();
  std::lock_guard guard(store.Lock);
  store.Ini.EraseSection(aSection);
}

void TDataAccess::DeleteKeys(std::string_view section, const TStringList& keys) {
  TSharedStore& store = Shared();
  std::lock_guard guard(store.Lock);
  for (const std::string& key : keys) store.Ini.DeleteKey(section, key);
}

void TDataAccess::WriteSectionValues(std::string_view aSection, const TStringList& Strings) {
  for (const std::string& line : Strings) {
    const std::size_t eq = line.find('=');
    if (eq == std::string::npos) continue;
    WriteToIni(aSection, std::string_view(line).substr(0, eq),
               std::string_view(line).substr(eq + 1));
  }
}

void TDataAccess::WriteSectionValues(std::string_view section, const TStringList& names,
                                     const TStringList& values) {
  if (names.size() != values.size()) return;
  for (std::size_t i = 0; i < names.size(); ++i) {
    WriteToIni(section, names[i], std::string_view(values[i]));
  }
}

void TDataAccess::WriteToIniSec(std::string_view section, const TStringList& names,
                                const std::vector<TIniValue>& values) {
  if (names.size() != values.size()) return;
  for (std::size_t i = 0; i < names.size(); ++i) {
    const TIniValue& value = values[i];
    if (const auto* b = std::get_if<bool>(&value)) {
      WriteToIni(section, names[i], *b);
    } else if (const auto* n = std::get_if<int32_t>(&value)) {
      WriteToIni(section, names[i], *n);
    } else if (const auto* n64 = std::get_if<int64_t>(&value)) {
      WriteToIni(section, names[i], static_cast<int32_t>(static_cast<uint32_t>(*n64)));
    } else if (const auto* text = std::get_if<std::string>(&value)) {
      WriteToIni(section, names[i], std::string_view(*text));
    }
  }
}

void TDataAccess::ReadFromIniSec(std::string_view section, const TStringList& names,
                                 std::vector<TIniValue>& values,
                                 const std::vector<TIniValue>& defaults) {
  if (names.size() != defaults.size()) return;
  values.assign(names.size(), TIniValue{});
  for (std::size_t i = 0; i < names.size(); ++i) {
    const TIniValue& fallback = defaults[i];
    if (const auto* b = std::get_if<bool>(&fallback)) {
      values[i] = ReadFromIni(section, names[i], *b);
    } else if (const auto* n = std::get_if<int32_t>(&fallback)) {
      values[i] = ReadFromIni(section, names[i], *n);
    } else if (const auto* n64 = std::get_if<int64_t>(&fallback)) {
      values[i] = ReadFromIni(section, names[i], static_cast<int32_t>(static_cast<uint32_t>(*n64)));
    } else if (const auto* text = std::get_if<std::string>(&fallback)) {
      values[i] = ReadFromIni(section, names[i], std::string_view(*text));
    }
  }
}

void TDataAccess::SetWriterForTesting(TFileWriter writer) {
  TSharedStore& store = Shared();
  std::lock_guard guard(store.Lock);
  store.Writer = std::move(writer);
}

void TDataAccess::ReloadForTesting() {
  TSharedStore& store = Shared();
  std::lock_guard guard(store.Lock);
  store.FileName = IniFilePath();
  store.Ini = TIniStore::FromFile(store.FileName);
}

}  // namespace zv
