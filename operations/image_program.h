// Program and verify of the image format: ELF files, S-records and Intel HEX
// with every record type, whose bytes carry their own target addresses.
//
// A program builds a plan first: the sectors the image touches, each with
// the bytes it is to hold. Where the image leaves part of a touched sector
// undefined, those bytes are read from the target and written back with the
// sector, so a segment never destroys its neighbours; bytes between segments
// in untouched sectors are neither erased nor written. With "SkipUnchanged"
// a sector whose contents on the target already match is left alone: its
// CRC is computed on the target over the pieces the image defines, so an
// unchanged sector costs neither a read-back nor a write.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "formats/address_image.h"
#include "operations/command_context.h"

namespace romsmith {

// Where the flash sits and how it is cut into sectors, as the
// configuration places it.
struct FlashLayout {
  std::uint32_t flash_address = 0;
  std::vector<std::uint32_t> sector_bytes;  // every chip side by side
  std::int32_t first_selected = 0;          // counted from 0
  std::int32_t last_selected = 0;

  std::uint64_t end() const;  // one past the last flash byte
  std::uint64_t SectorStart(std::size_t sector) const;
};

FlashLayout LayoutOf(const CommandContext& context);

// A range of offsets inside a sector, [begin, end).
struct SectorPiece {
  std::uint32_t begin = 0;
  std::uint32_t end = 0;
};

// One sector the image touches.
struct ImageSector {
  std::int32_t index = 0;     // counted from 0
  std::uint32_t address = 0;  // its first byte on the target
  // What it is to hold: the image's bytes, 0xFF where the image has none
  // until they are read back from the target.
  std::vector<std::uint8_t> bytes;
  // The offsets the image defines, ascending, none touching another.
  std::vector<SectorPiece> pieces;

  bool covered_whole() const {
    return pieces.size() == 1 && pieces[0].begin == 0 && pieces[0].end == bytes.size();
  }
};

struct ImagePlan {
  std::vector<ImageSector> sectors;  // ascending
};

// Checks that every byte of `image` lies inside the flash; on failure
// `error` names the first byte outside and the range (no trailing stop).
bool CheckImagePlacement(const AddressImage& image, const FlashLayout& layout, std::string& error);

// The plan for `image`: every byte inside the flash, and every sector it
// touches inside the selected range. Nothing on `error` set when it fails.
std::optional<ImagePlan> PlanImage(const AddressImage& image, const FlashLayout& layout,
                                   std::string& error);

// The program body with the image format (ProgramBody hands over to it).
CommandResult ImageProgramBody(const CommandContext& context);
// The verify body with the image format: exactly the image's bytes are
// compared, on the target with "TargetVerify".
CommandResult ImageVerifyBody(const CommandContext& context);

// False (logged) when the command cannot take the configuration's program
// file format: the image format places bytes at flash addresses, which a
// NAND device with bad blocks does not keep.
bool CheckImageFormatAllowed(const CommandSnapshot& job, MessageLog& log);

}  // namespace romsmith
