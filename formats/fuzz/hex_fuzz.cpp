// libFuzzer target: Intel HEX records and the conversion to binary.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "formats/fuzz/fuzz_files.h"
#include "formats/intel_hex.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace romsmith;
  fuzz::QuietMessages();
  static const std::string hex = fuzz::ScratchPath(".hex");
  static const std::string bin = fuzz::ScratchPath(".hex.bin");
  const std::string_view text = fuzz::AsText(data, size);

  // Every line on its own: the parser must stay inside the line.
  for (const std::string& line : fuzz::Split(text, '\n')) {
    HexRecord record;
    ParseHexRecord(line, record);
  }

  if (fuzz::WriteBytes(hex, text)) HexToBinary(hex, bin);
  return 0;
}
