// libFuzzer target: the read-write INI document.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "formats/fuzz/fuzz_files.h"
#include "formats/ini_document.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  romsmith::fuzz::QuietMessages();
  static const std::string path = romsmith::fuzz::ScratchPath(".ini");
  const std::string_view text = romsmith::fuzz::AsText(data, size);

  // Section and key names come from the first line, so the fuzzer can aim.
  std::string_view first = text.substr(0, text.find('\n'));
  std::size_t split = first.find(' ');
  std::string section(first.substr(0, split));
  std::string key(split == std::string_view::npos ? "" : first.substr(split + 1));

  romsmith::IniDocument document;
  document.LoadFromText(text);
  std::string saved = document.Text();
  romsmith::IniDocument again;
  again.LoadFromText(saved);
  if (again.lines() != document.lines()) std::abort();  // save and load keep every line

  std::string value;
  std::int32_t number = 0;
  std::uint32_t unsigned_number = 0;
  romsmith::IniRect rect;
  document.GetString(section, key, value);
  document.GetInt(section, key, number);
  document.GetUnsigned(section, key, unsigned_number);
  document.GetRect(section, key, rect);
  document.SetInt(section, key, 5);
  if (!document.GetInt(section, key, number) || number != 5) {
    // A key that ends in '=' or holds a line break cannot be read back as
    // written; every other key can.
    if (key.find_first_of("=\n") == std::string::npos && section.find('\n') == std::string::npos &&
        !section.empty() && romsmith::IniDocument::IsHeaderLine("[" + section + "]"))
      std::abort();
  }
  document.RemoveSection(section);

  // The same text through a file: load, save beside, load again.
  if (romsmith::fuzz::WriteBytes(path, text)) {
    romsmith::IniDocument loaded;
    if (loaded.Load(path) && loaded.lines() != again.lines()) std::abort();
    if (loaded.SaveAs(path)) {
      romsmith::IniDocument reloaded(path);
      if (reloaded.lines() != loaded.lines()) std::abort();
    }
  }
  return 0;
}
