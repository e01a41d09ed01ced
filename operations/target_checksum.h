// Verify with the flash checksummed on the target: a small ARM routine in
// target RAM computes the CRC-32 of each 1024-byte block of a batch, the host
// compares them with the file's, and only a block whose CRC differs is read
// back through the probe and compared byte by byte.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

#include "operations/command_context.h"
#include "operations/file_checks.h"

namespace romsmith {

// CRC-32 (reflected, polynomial 0xEDB88320, initial and final complement),
// what the target routine computes.
std::uint32_t Crc32(const std::uint8_t* bytes, std::size_t count);

// Where the routine lives, from the RAM address on.
struct ChecksumProgramLayout {
  static constexpr std::uint32_t kDone = 0x50;        // its last instruction: B .
  static constexpr std::uint32_t kParameters = 0x60;  // flash address, byte count
  static constexpr std::uint32_t kTable = 0x100;      // 256 CRC table words
  static constexpr std::uint32_t kResults = 0x500;    // one CRC per block
  static constexpr std::uint32_t kBlocksPerRun = 64;
  static constexpr std::uint32_t kSize = kResults + 4 * kBlocksPerRun;
};

// The routine with its table, as bytes for target RAM in the target's byte
// order (parameters zero).
std::vector<std::uint8_t> ChecksumProgramImage(bool big_endian);

// Compares `count` bytes of `flash` (read at `address`) with the file's
// `data`; false after it has logged the difference.
using BlockCompare = std::function<bool(std::uint32_t address, const std::uint8_t* flash,
                                        const std::uint8_t* data, std::size_t count)>;

// Verify's block loop over the first `length` bytes of `file` against the
// flash from the first selected sector on: a stop check before each batch of
// blocks, one progress step per block. kFailed after a logged line.
CommandOutcome VerifyOnTarget(const CommandContext& context, BinaryFile& file,
                              std::uint64_t length, const BlockCompare& compare);

}  // namespace romsmith
