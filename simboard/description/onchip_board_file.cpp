#include "simboard/description/onchip_board_file.h"

#include <algorithm>

#include "simboard/description/onchip_parts.h"

namespace simboard {

namespace {

std::string HexText(std::uint64_t value) {
  char text[24];
  std::snprintf(text, sizeof text, "$%08llX", static_cast<unsigned long long>(value));
  return text;
}

std::uint32_t FixedBase(const RegionDescription& region) {
  switch (region.kind) {
    case RegionKind::SAM7: return kSam7FlashBase;
    case RegionKind::STR71x: return kStr71xFlashBase;
    case RegionKind::NAND: return kNandControllerBase;
    default: return 0;
  }
}

// The controller window of a NAND region: the whole 16 MiB bank of the
// special-function-register space that the S3C24x0 decodes for it. The
// S3C2410 has six registers and the S3C2440 sixteen at its start; the rest
// reads 0, as on silicon, where an access there does not abort (a
// debugger's 32-byte block read of the last register reaches past it).
std::uint64_t NandWindowBytes() { return 0x1000000; }

bool ReadBadBlocks(const std::string& text, std::uint32_t blocks, std::vector<std::uint32_t>& out,
                   std::string& what) {
  std::size_t at = 0;
  while (at < text.size()) {
    std::size_t comma = text.find(',', at);
    std::string item = text.substr(at, comma == std::string::npos ? std::string::npos : comma - at);
    at = comma == std::string::npos ? text.size() : comma + 1;
    item.erase(0, item.find_first_not_of(" \t"));
    item.erase(item.find_last_not_of(" \t") + 1);
    if (item.empty()) continue;
    auto value = ParseBoardNumber(item, false);
    if (!value || *value >= blocks) {
      what = "\"" + item + "\" is not a block number below " + std::to_string(blocks);
      return false;
    }
    out.push_back(static_cast<std::uint32_t>(*value));
  }
  std::sort(out.begin(), out.end());
  out.erase(std::unique(out.begin(), out.end()), out.end());
  return true;
}

}  // namespace

bool IsOnChipKind(RegionKind kind) {
  return kind == RegionKind::LPC || kind == RegionKind::SAM7 || kind == RegionKind::STR71x ||
         kind == RegionKind::NAND;
}

bool ReadOnChipRegion(const IniText& ini, const std::string& section,
                      const std::filesystem::path& directory, RegionDescription& region,
                      std::string& key, std::string& what) {
  OnChipDescription& chip = region.onchip;
  auto text = [&](const char* name) {
    const std::string* value = ini.Find(section, name);
    return value ? *value : std::string();
  };
  auto fail = [&](const char* name, std::string message) {
    key = name;
    what = std::move(message);
    return false;
  };
  if (region.kind == RegionKind::NAND) {
    chip.model = text("Controller");
    chip.chip = text("Chip");
    if (chip.model != "S3C2410" && chip.model != "S3C2440") {
      return fail("Controller", "\"" + chip.model + "\" is not S3C2410 or S3C2440");
    }
    const NandPart* part = FindNandPart(chip.chip);
    if (part == nullptr) return fail("Chip", "\"" + chip.chip + "\" is not " + NandPartNames());
    if (!ReadBadBlocks(text("BadBlocks"), part->blocks, chip.bad_blocks, what)) {
      key = "BadBlocks";
      return false;
    }
    region.size = NandWindowBytes();
  } else {
    chip.model = text("Model");
    std::uint64_t size = 0;
    std::string names;
    if (region.kind == RegionKind::LPC) {
      if (const LpcPart* part = FindLpcPart(chip.model)) size = part->FlashBytes();
      names = LpcPartNames();
    } else if (region.kind == RegionKind::SAM7) {
      if (const Sam7Part* part = FindSam7Part(chip.model)) size = part->FlashBytes();
      names = Sam7PartNames();
    } else {
      if (FindStr71xPart(chip.model)) size = kStr71xWindowBytes;
      names = Str71xPartNames();
    }
    if (size == 0) return fail("Model", "\"" + chip.model + "\" is not " + names);
    region.size = size;
  }
  if (region.base != FixedBase(region)) {
    return fail("Base", "the part's flash sits at " + HexText(FixedBase(region)));
  }
  if (const std::string* image = ini.Find(section, "Image"); image && !image->empty()) {
    std::filesystem::path path(*image);
    chip.image = path.is_absolute() ? path : directory / path;
  }
  return true;
}

std::vector<BusSpan> RegionSpans(const RegionDescription& region) {
  std::vector<BusSpan> spans = {{region.base, region.size}};
  if (region.kind == RegionKind::LPC) {
    if (const LpcPart* part = FindLpcPart(region.onchip.model)) {
      spans.push_back({part->rom_base, 0x80000000ull - part->rom_base});
    }
  } else if (region.kind == RegionKind::SAM7) {
    spans.push_back({kSam7SystemBase, 0x1000});
    spans.push_back({0, region.size});  // the flash seen at 0 after reset
  } else if (region.kind == RegionKind::STR71x) {
    if (const Str71xPart* part = FindStr71xPart(region.onchip.model)) {
      std::uint64_t bank0 = 0;
      for (auto size : part->bank0) bank0 += size;
      spans.push_back({0, bank0});  // bank 0 seen at 0 when booting from flash
    }
  }
  return spans;
}

}  // namespace simboard
