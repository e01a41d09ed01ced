// The on-chip flash parts and NAND chips the virtual board can be, described
// as data from their data sheets and user manuals: geometry, identification
// codes, where their controllers sit and how long their operations take.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace simboard {

// LPC2000: flash at 0, the boot ROM at the top of the first 2 GB with the
// IAP entry at 0x7FFFFFF0 (called in THUMB state as 0x7FFFFFF1). The boot
// block sits above the user sectors and is not reachable through IAP.
struct LpcPart {
  const char* name;
  std::uint32_t part_id;
  std::vector<std::uint32_t> sectors;  // the user sectors (IAP sector numbers 0..n-1)
  std::uint32_t boot_block_bytes;
  std::uint32_t rom_base;  // boot ROM, up to 0x7FFFFFFF
  std::uint32_t boot_version;
  std::uint32_t ram_bytes;  // on-chip static RAM at 0x40000000
  std::uint32_t FlashBytes() const;
};

// AT91SAM7S: flash at 0x00100000 in pages, 16 lock regions; the embedded
// flash controller is part of the memory controller at 0xFFFFFF00 inside
// the system controller (0xFFFFF000-0xFFFFFFFF).
struct Sam7Part {
  const char* name;
  std::uint32_t chip_id;     // DBGU_CIDR
  std::uint32_t page_bytes;  // also the latch buffer
  std::uint32_t pages;
  std::uint32_t lock_regions;
  std::uint32_t FlashBytes() const { return page_bytes * pages; }
};

// STR71x: bank 0 at 0x40000000, bank 1 at 0x400C0000, the flash interface
// registers at 0x40100000 and the non-volatile protection registers at
// 0x4010DFB0.
struct Str71xPart {
  const char* name;
  std::vector<std::uint32_t> bank0;
  std::vector<std::uint32_t> bank1;
};

// Samsung NAND: data and spare bytes per page, pages per block.
struct NandPart {
  const char* name;
  std::uint8_t id[4];  // maker, device, then the chip's further ID bytes
  std::uint32_t page_bytes;
  std::uint32_t spare_bytes;
  std::uint32_t pages_per_block;
  std::uint32_t blocks;
  unsigned address_cycles;  // column and row cycles of a read or program
  bool large_page;          // 2048-byte pages: two column cycles, read confirm 0x30
  std::uint32_t read_us;    // tR
  std::uint32_t program_us; // tPROG
  std::uint32_t erase_us;   // tBERS
  std::uint32_t PageTotal() const { return page_bytes + spare_bytes; }
  std::uint32_t BlockTotal() const { return PageTotal() * pages_per_block; }
  // The spare byte that a factory bad block holds non-0xFF in its first or
  // second page.
  std::uint32_t BadMarkColumn() const { return large_page ? page_bytes : page_bytes + 5; }
};

enum class NandControllerKind : std::uint8_t { S3C2410, S3C2440 };

const LpcPart* FindLpcPart(const std::string& name);
const Sam7Part* FindSam7Part(const std::string& name);
const Str71xPart* FindStr71xPart(const std::string& name);
const NandPart* FindNandPart(const std::string& name);
// The names of a table, for error messages ("LPC2106, LPC2129 or LPC2148").
std::string LpcPartNames();
std::string Sam7PartNames();
std::string Str71xPartNames();
std::string NandPartNames();

inline constexpr std::uint32_t kLpcIapEntry = 0x7FFFFFF0;
inline constexpr std::uint32_t kLpcRamBase = 0x40000000;
inline constexpr std::uint32_t kSam7FlashBase = 0x00100000;
inline constexpr std::uint32_t kSam7SystemBase = 0xFFFFF000;
inline constexpr std::uint32_t kStr71xFlashBase = 0x40000000;
inline constexpr std::uint32_t kStr71xBank1Offset = 0x000C0000;
inline constexpr std::uint32_t kStr71xWindowBytes = 0x00110000;  // banks, registers, protection
inline constexpr std::uint32_t kNandControllerBase = 0x4E000000;

}  // namespace simboard
