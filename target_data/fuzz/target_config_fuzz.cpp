// libFuzzer target: a target configuration file loaded as the File menu
// does (onto pages that hold the shipped databases), taken back from the
// pages and validated; and the "SETUP" section read, written and read again.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "formats/fuzz/fuzz_files.h"
#include "target_data/target_config.h"
#include "target_data/target_document.h"

namespace {

romsmith::TargetPages PagesWithDatabases() {
  romsmith::TargetPages pages;
  romsmith::ReadCpuDatabase(ROMSMITH_SOURCE_DIR "/data/cpu.ini", pages.cpu.database);
  romsmith::ReadFlashDatabase(ROMSMITH_SOURCE_DIR "/data/flash.ini", pages.flash.database);
  return pages;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace romsmith;
  fuzz::QuietMessages();
  static const TargetPages kPages = PagesWithDatabases();
  static const std::string path = fuzz::ScratchPath(".cfg");
  if (!fuzz::WriteBytes(path, fuzz::AsText(data, size))) return 0;

  TargetPages pages = kPages;
  TargetDocument document(pages);
  if (document.Load(path)) {
    document.TakeFromPages();
    document.Validate([](const std::string&) {});
    document.IsModified();
  }

  // What a save writes is read back as the same configuration.
  IniDocument file;
  file.LoadFromText(fuzz::AsText(data, size));
  TargetConfig first;
  ReadTargetConfig(file, first);
  ValidateTargetConfig(first, 64, [](const std::string&) {});
  TargetConfig second;
  ReadTargetConfig(WriteTargetConfig(first), second);
  if (!SameTargetSettings(first, second)) std::abort();
  return 0;
}
