// libFuzzer target: decoding a scrambled data file, and encoding followed by
// decoding, which must give the plain bytes back.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "formats/data_file.h"
#include "formats/fuzz/fuzz_files.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace romsmith;
  fuzz::QuietMessages();
  static const std::string input = fuzz::ScratchPath(".in.xdl");
  static const std::string plain = fuzz::ScratchPath(".plain");
  static const std::string scrambled = fuzz::ScratchPath(".out.xdl");
  const std::string_view bytes = fuzz::AsText(data, size);
  if (!fuzz::WriteBytes(input, bytes)) return 0;

  if (DecodeDataFile(input, plain) && fuzz::ReadBytes(plain).size() != (size + 1) / 2) std::abort();

  // The input taken as a plain file.
  if (EncodeDataFile(input, scrambled) && DecodeDataFile(scrambled, plain) && fuzz::ReadBytes(plain) != bytes)
    std::abort();
  return 0;
}
