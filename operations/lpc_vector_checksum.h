// LPC2000 parts run user code after reset only when the eight exception
// vectors at 0 add up to zero (modulo 2^32); the reserved vector at 0x14
// holds the word that makes them so. With the "LpcVectorChecksum" option a
// program of an LPC2000 device's first sector puts that word there, and verify
// accepts it where the file holds another.
#pragma once

#include <cstdint>

namespace romsmith {

inline constexpr std::uint32_t kLpcVectorBytes = 32;
inline constexpr std::uint32_t kLpcChecksumOffset = 0x14;

// The word for 0x14 that makes the eight words at `vectors` (in the target's
// byte order) sum to zero; the word at 0x14 itself does not count.
std::uint32_t LpcVectorChecksum(const std::uint8_t* vectors, bool big_endian);

// Stores `value` at vectors + 0x14 in the target's byte order.
void StoreLpcChecksum(std::uint8_t* vectors, std::uint32_t value, bool big_endian);

// The word at vectors + 0x14.
std::uint32_t LoadLpcChecksum(const std::uint8_t* vectors, bool big_endian);

}  // namespace romsmith
