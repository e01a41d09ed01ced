// Verify with the flash checksummed on the target: a small ARM routine in
// target RAM computes the CRC-32 of a whole batch of flash, and only when it
// differs from the file's, the CRC of each 1024-byte block of the batch; only
// a block whose CRC differs is read back through the probe and compared byte
// by byte.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

#include "operations/command_context.h"
#include "operations/file_checks.h"
#include "operations/loader_job.h"

namespace romsmith {

// CRC-32 (reflected, polynomial 0xEDB88320, initial and final complement),
// what the target routine computes.
std::uint32_t Crc32(const std::uint8_t* bytes, std::size_t count);

// Where the routine lives, from the RAM address on. It builds its CRC table
// itself, so only the code and the parameters cross the probe.
struct ChecksumProgramLayout {
  static constexpr std::uint32_t kDone = 0x84;        // its last instruction: B .
  // Flash address, byte count, block size (one CRC per block), polynomial.
  static constexpr std::uint32_t kParameters = 0x90;
  static constexpr std::uint32_t kImageSize = 0xA0;   // code and parameters
  static constexpr std::uint32_t kTable = 0x100;      // 256 words, built by the routine
  static constexpr std::uint32_t kResults = 0x500;    // one CRC per block
  static constexpr std::uint32_t kBlocksPerRun = 256;
  static constexpr std::uint32_t kSize = kResults + 4 * kBlocksPerRun;
};

// The routine and its parameter words, as bytes for target RAM in the
// target's byte order (address, count and block size zero).
std::vector<std::uint8_t> ChecksumProgramImage(bool big_endian);

// The routine written to target RAM; false after the logged line.
bool LoadChecksumProgram(const CommandContext& context);

// One run of the routine (already in RAM) over `count` bytes at `address`,
// at least one, one CRC per `block` bytes (at most kBlocksPerRun of them).
// The verify's run lines unless the caller gives its own.
RunResult RunChecksum(const CommandContext& context, std::uint32_t address, std::uint32_t count,
                      std::uint32_t block, const RunLines& lines);
RunResult RunChecksum(const CommandContext& context, std::uint32_t address, std::uint32_t count,
                      std::uint32_t block);

// The first `count` CRCs of the last run; false after the logged line.
bool ReadChecksumResults(const CommandContext& context, std::size_t count,
                         std::vector<std::uint32_t>& crcs);

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
