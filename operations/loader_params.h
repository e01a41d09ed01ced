// The flash loader contract: where the loader image, its parameter block and
// its data sit in target RAM, the 100-byte parameter block itself, and the
// bus cycles of a flash command as the loader replays them.
#pragma once

#include <array>
#include <cstdint>

#include "target_data/flash_database.h"

namespace romsmith {

inline constexpr std::size_t kLoaderParamsSize = 100;
inline constexpr std::size_t kLoaderCycleSlots = 10;

// Target RAM layout of one loader family, relative to the RAM address R.
struct LoaderLayout {
  std::uint32_t image_size;       // the image area, padded with 0xFF
  std::uint32_t breakpoint;       // where a run ends
  std::uint32_t params;           // the parameter block
  std::uint32_t data;             // the data behind it
};

// Erase, program, protect and the device-code test.
inline constexpr LoaderLayout kFirstFamilyLayout{0x800, 0x7F8, 0x800, 0x864};
// The NAND family (erase, program, check block, upload, verify, device code).
inline constexpr LoaderLayout kSecondFamilyLayout{0xC00, 0xBF8, 0xC00, 0xC64};
inline constexpr std::uint32_t kSecondFamilyChunk = 4096;

// Offsets inside the parameter block.
inline constexpr std::uint32_t kResultByteOffset = 7;
inline constexpr std::uint32_t kDeviceCodeOffset = 4;
inline constexpr std::uint32_t kFirstCycleAddressOffset = 20;

// Byte 0 of the parameter block: what the loader is asked to do.
enum class LoaderOperation : std::uint8_t {
  kNone = 0,
  kErase = 3,
  kProgram = 4,
  kProtect = 5,
  kDeviceCode = 8,     // read the device code, or leave the software-ID mode
  kStreamProgram = 9,  // NOR: program a range from the debug comms channel
  kNandErase = 13,
  kNandProgram = 14,
  kNandCheckBlock = 15,
  kNandUpload = 16,
  kNandVerify = 17,
  kNandDeviceCode = 18,
};

struct LoaderParams {
  LoaderOperation operation = LoaderOperation::kNone;  // byte 0
  std::uint8_t cycle_count = 0;    // byte 1: cycles used, or the first LPC sector
  std::uint8_t width_bytes = 0;    // byte 2: chip width in bytes, or the last LPC sector
  std::uint8_t chips = 0;          // byte 3: chips side by side
  std::uint8_t program_mode = 0;   // byte 4: whole-sector programming
  std::uint8_t auto_verify = 0;    // byte 5
  std::uint8_t reserved = 0;       // byte 6
  std::uint8_t result = 0;         // byte 7: set to 1 by the loader on a verify error
  std::uint32_t flash_start = 0;   // word 8, or the crystal frequency for LPC devices
  std::uint32_t address = 0;       // word 12: sector or chunk address
  std::uint32_t length = 0;        // word 16: bytes of data behind the block
  std::array<std::uint32_t, kLoaderCycleSlots> cycle_address{};  // words 20..56
  std::array<std::uint32_t, kLoaderCycleSlots> cycle_data{};     // words 60..96
};

// Copies the block into `destination` (100 bytes): the eight leading bytes as
// they are, every word in the target's byte order.
void PackLoaderParams(std::uint8_t* destination, const LoaderParams& params, bool little_endian);

// The bus cycles of `sequence` for a flash of `width_bytes` chip width and
// `chips` chips side by side at `flash_start`: the cycle address is the
// table address times the bus width in bytes (chips side by side each see
// the bus address divided by the bus width), the data is replicated across
// the chips. Cycles beyond the slots are dropped. Returns the cycle count and
// sets bit i of `sector_address_cycles` for each cycle whose table address
// is 0 (it takes the sector's own address in the sector-by-sector modes).
std::uint8_t BuildCycles(const CommandSequence& sequence, std::uint32_t width_bytes,
                         std::uint32_t chips, std::uint32_t flash_start, LoaderParams& params,
                         std::uint32_t* sector_address_cycles = nullptr);

// Gives every sector address cycle the address `sector_start`.
void SetSectorAddressCycles(LoaderParams& params, std::uint32_t sector_address_cycles,
                            std::uint32_t sector_start);

}  // namespace romsmith
