#include "operations/lpc_vector_checksum.h"

namespace romsmith {

namespace {

std::uint32_t Word(const std::uint8_t* bytes, bool big_endian) {
  std::uint32_t value = 0;
  for (int i = 0; i < 4; ++i) value |= std::uint32_t{bytes[big_endian ? 3 - i : i]} << (8 * i);
  return value;
}

}  // namespace

std::uint32_t LpcVectorChecksum(const std::uint8_t* vectors, bool big_endian) {
  std::uint32_t sum = 0;
  for (std::uint32_t at = 0; at < kLpcVectorBytes; at += 4) {
    if (at != kLpcChecksumOffset) sum += Word(vectors + at, big_endian);
  }
  return 0u - sum;
}

void StoreLpcChecksum(std::uint8_t* vectors, std::uint32_t value, bool big_endian) {
  for (int i = 0; i < 4; ++i) {
    vectors[kLpcChecksumOffset + (big_endian ? 3 - i : i)] = static_cast<std::uint8_t>(value >> (8 * i));
  }
}

std::uint32_t LoadLpcChecksum(const std::uint8_t* vectors, bool big_endian) {
  return Word(vectors + kLpcChecksumOffset, big_endian);
}

}  // namespace romsmith
