// libFuzzer target: Intel HEX records and the conversion to binary.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

#include "formats/intel_hex.h"
#include "platform/message_box.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const platform::ScopedMessageHandler quiet{
      [](const platform::MessageRequest&) { return platform::MessageAnswer::Ok; }};
  static const std::string base = "/tmp/romsmith-hex-fuzz-" + std::to_string(::getpid());
  std::string_view text(reinterpret_cast<const char*>(data), size);

  // Every line on its own: the parser must stay inside the line.
  std::size_t start = 0;
  while (start <= text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    romsmith::HexRecord record;
    romsmith::ParseHexRecord(text.substr(start, end - start), record);
    start = end + 1;
  }

  const std::string hex = base + ".hex";
  const std::string bin = base + ".bin";
  if (std::FILE* file = std::fopen(hex.c_str(), "wb")) {
    std::fwrite(data, 1, size, file);
    std::fclose(file);
    romsmith::HexToBinary(hex, bin);
  }
  return 0;
}
