// libFuzzer target: the memory-mapped profile reader and its section index.
// The first line names the section and key to look up ("section key"); the
// whole input is the file the reader maps.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "formats/fuzz/fuzz_files.h"
#include "formats/profile_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace romsmith;
  fuzz::QuietMessages();
  static const std::string path = fuzz::ScratchPath(".profile.ini");
  const std::string_view text = fuzz::AsText(data, size);
  const std::string_view first = text.substr(0, text.find('\n'));
  const std::size_t split = first.find(' ');
  const std::string section(first.substr(0, split));
  const std::string key(split == std::string_view::npos ? "" : first.substr(split + 1));

  if (!fuzz::WriteBytes(path, text)) return 0;
  ProfileReader reader(path);
  std::string value;
  std::int32_t number = 0;
  std::uint32_t unsigned_number = 0;
  reader.ReadString(section, key, value);
  if (value.size() >= ProfileReader::kBufferSize) std::abort();  // a read is bounded by its buffer
  reader.ReadInt(section, key, number);
  reader.ReadUnsigned(section, key, unsigned_number);
  // A name that is not in the file, after the index was built.
  reader.ReadString(section + "~", key, value);
  reader.Close();
  // Closing cuts the file back to its text, which drops trailing zero bytes
  // and nothing else.
  std::string_view kept = text;
  while (!kept.empty() && kept.back() == '\0') kept.remove_suffix(1);
  if (fuzz::ReadBytes(path) != kept) std::abort();
  return 0;
}
