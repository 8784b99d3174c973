// The settings file loader on any bytes: the store reads the file as zvcc.ini
// from a scratch program folder, every entry reads as a number, text, switch
// and date without harm, and the file the store writes reads back as the same
// store.
#include <cstddef>
#include <cstdint>
#include <fstream>
#include <string>
#include <string_view>

#include "fuzz_support.h"
#include "support/data_access.h"
#include "support/exceptions.h"
#include "support/helpers.h"
#include "support/ini_store.h"
#include "support/text.h"

namespace {

std::string gWritten;  // the last file the store wrote

void Setup() {
  static const bool done = [] {
    zv::fuzz::ScratchProgramFolder();
    zv::TDataAccess::SetWriterForTesting(
        [](const std::string&, std::string_view content) { gWritten = content; });
    return true;
  }();
  (void)done;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  Setup();
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  {
    std::ofstream out(zv::TDataAccess::IniFilePath(), std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  }
  try {
    zv::TDataAccess::ReloadForTesting();
  } catch (const zv::Exception&) {
    zv::fuzz::Fail("a regular file of any content must load");
  }

  const zv::TIniStore parsed = zv::TIniStore::FromText(bytes);
  for (const zv::TIniSection& section : parsed.Sections()) {
    for (const std::string& line : section.Lines) {
      const std::string key = line.substr(0, line.find('='));
      (void)zv::TDataAccess::ReadFromIni(section.Name, key, int32_t{7});
      (void)zv::TDataAccess::ReadFromIni(section.Name, key, uint32_t{7});
      (void)zv::TDataAccess::ReadFromIni(section.Name, key, true);
      (void)zv::TDataAccess::ReadFromIni(section.Name, key, zv::TDateTime());
      const std::string text = zv::TDataAccess::ReadFromIni(section.Name, key, "default");
      (void)zv::UnescapeText(text);
      (void)zv::VisibleText(text);
    }
  }

  // Written and read again, the store is unchanged.
  gWritten.clear();
  zv::TDataAccess::WriteToIni("ConsoleSys", "LastMsgNo", int32_t{1});
  zv::TDataAccess::SaveIni(zv::TDataAccess::TFlush::kToSystem);
  const zv::TIniStore reread = zv::TIniStore::FromText(gWritten);
  ZV_FUZZ_CHECK(reread.Render() == gWritten);
  ZV_FUZZ_CHECK(reread.Value("ConsoleSys", "LastMsgNo") == std::optional<std::string>("1"));
  const zv::TIniStore once = zv::TIniStore::FromText(parsed.Render());
  ZV_FUZZ_CHECK(once.Render() == parsed.Render());
  return 0;
}
