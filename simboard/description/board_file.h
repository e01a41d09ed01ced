// The board file: an INI text that describes one virtual board, its core,
// its timing, its memory regions and the faults switched on. Reading it
// checks every value; a wrong file is refused with a message that names the
// section and key at fault.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "simboard/description/onchip_description.h"

namespace simboard {

// A small reader for the INI texts of board files: "[Section]" lines,
// "Key=Value" lines, ";" or "#" comments (also after a value). Section and key
// names are case-sensitive; the last of two equal keys wins.
class IniText {
 public:
  static std::optional<IniText> Load(const std::filesystem::path& path, std::string& error);
  static IniText Parse(std::string_view text);

  bool HasSection(const std::string& section) const;
  const std::string* Find(const std::string& section, const std::string& key) const;
  std::vector<std::string> Sections() const;
  // Keys of a section in file order.
  std::vector<std::string> Keys(const std::string& section) const;

 private:
  struct Section {
    std::vector<std::pair<std::string, std::string>> entries;
  };
  std::vector<std::pair<std::string, Section>> sections_;
};

// "$1F", "0x1F", "31", each optionally followed by K (x1024) or M
// (x1048576) when `allow_suffix`. Nothing else may follow; the result must
// fit in 64 bits.
std::optional<std::uint64_t> ParseBoardNumber(std::string_view text, bool allow_suffix);

// ARM920T: an ARM9TDMI core with the ARM920T's CP15.
enum class CoreKind : std::uint8_t { ARM7TDMI, ARM9TDMI, ARM920T };
enum class TimingMode : std::uint8_t { Deterministic, RealTime };
enum class RegionKind : std::uint8_t { RAM, IO, NOR, LPC, SAM7, STR71x, NAND };
enum class CommandSet : std::uint8_t { AMD, Intel, SST };

const char* CoreKindName(CoreKind kind);
const char* RegionKindName(RegionKind kind);
const char* CommandSetName(CommandSet set);

struct NorDescription {
  CommandSet command_set = CommandSet::AMD;
  std::uint32_t manufacturer_id = 0;
  std::uint32_t device_id = 0;
  unsigned width_bits = 16;  // of one chip: 8, 16 or 32
  unsigned chips = 1;        // side by side: 1, 2 or 4
  // An 8-bit chip that is an x8/x16 part in byte mode: its command, code and
  // query addresses count in bytes with the lowest line (A-1) ignored, so the
  // unlock cycles go to 0xAAA/0x555 and the query to 0xAA. A plain x8 part
  // (ByteMode=0) takes 0x555/0x2AA and 0x55.
  bool byte_mode = true;
  std::vector<std::uint32_t> sectors;  // sizes of one chip's sectors, in address order
  std::filesystem::path image;         // empty: contents kept in memory only
  std::uint32_t program_time_us = 10;
  std::uint32_t sector_erase_time_ms = 2;
  std::uint32_t chip_erase_time_ms = 20;
  // Intel blocks: locked when the chip powers up, and whether the unlock
  // command clears every block's lock at once rather than the addressed one.
  bool locked_at_reset = false;
  bool unlock_clears_all = false;
  // Intel: bytes of one chip's write buffer (0xE8 buffered writes); 0 when
  // the part has none.
  std::uint32_t write_buffer_bytes = 0;
  // SST: bytes of one chip's erase block (0x50 block erase); 0 when the part
  // has no block erase.
  std::uint32_t block_bytes = 0;
  // AMD: the part has persistent protection bits (one per sector, set by
  // the PPB command set, cleared all at once), kept in `protection_image`
  // across runs when one is named.
  bool persistent_protection = false;
  std::filesystem::path protection_image;

  std::uint32_t ChipSize() const;  // sum of the sectors
  unsigned BusBytes() const { return width_bits / 8 * chips; }
};

struct RegionDescription {
  std::string section;  // "Region1", ...
  RegionKind kind = RegionKind::RAM;
  std::uint32_t base = 0;
  std::uint64_t size = 0;  // bytes the region spans on the bus
  NorDescription nor;      // kind NOR only
  OnChipDescription onchip;  // kinds LPC, SAM7, STR71x and NAND
};

// Bits that never program: the mask is a value of the region's bus width at
// `address`, in the board's byte order.
struct StuckBits {
  std::uint32_t address = 0;
  std::uint32_t mask = 0;
};

struct FaultDescription {
  std::vector<StuckBits> stuck_bits;
  bool no_erase = false;
  // Every erase is taken and never finishes: the status stays busy (no
  // time-out bit either), as with a chip that hangs.
  bool erase_never_ends = false;
};

struct BoardDescription {
  std::filesystem::path file;  // the board file; images are relative to its directory
  CoreKind core = CoreKind::ARM7TDMI;
  bool big_endian = false;
  std::uint32_t id_code = 0x3F0F0F0F;
  std::string probe = "emulator";
  std::uint32_t port_base = 0x378;
  TimingMode timing = TimingMode::Deterministic;
  std::uint32_t clock_khz = 20000;
  std::uint64_t run_budget = 100000000;
  std::vector<RegionDescription> regions;  // in file order
  FaultDescription faults;
  // Every key as written, for the parts that read more of the file (the probe
  // and JTAG side).
  IniText ini;
};

// Reads and checks a board file. On failure returns nothing and sets `error`
// to one line such as "board.ini: [Region2] Sectors: ...".
std::optional<BoardDescription> LoadBoardFile(const std::filesystem::path& path,
                                              std::string& error);
// The same from a text; `file` names it in messages and anchors image paths.
std::optional<BoardDescription> ParseBoardText(std::string_view text,
                                               const std::filesystem::path& file,
                                               std::string& error);

}  // namespace simboard
