// libFuzzer target: ELF, S-record and Intel HEX images parsed whole.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "formats/address_image.h"
#include "formats/fuzz/fuzz_files.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace romsmith;
  std::string error;
  const std::optional<AddressImage> image = ParseAddressImage(fuzz::AsText(data, size), error);
  if (image) {
    // What the parser promises: sorted, apart, and every byte where it says.
    std::uint64_t end = 0;
    for (const ImageSegment& segment : image->segments) {
      if (segment.address < end || segment.bytes.empty() || segment.end() > (std::uint64_t{1} << 32)) __builtin_trap();
      if (image->ByteAt(segment.address) != segment.bytes.front()) __builtin_trap();
      end = segment.end();
    }
  } else if (error.empty()) {
    __builtin_trap();
  }
  return 0;
}
