#include "simboard/onchip/onchip_regions.h"

#include <algorithm>
#include <cstdio>

#include "simboard/onchip/lpc_flash.h"
#include "simboard/description/onchip_board_file.h"
#include "simboard/nand/nand_controller.h"
#include "simboard/onchip/sam7_flash.h"
#include "simboard/onchip/str71x_flash.h"

namespace simboard {

namespace {

// The same memory seen at a second address (the boot alias at 0).
class AliasRegion : public Region {
 public:
  AliasRegion(Region& target, std::uint32_t base, std::uint64_t size)
      : Region(target.name() + " at 0", base, size), target_(target) {}
  bool Read(std::uint32_t offset, unsigned count, AccessKind kind, std::uint8_t* bytes) override {
    return target_.Read(offset, count, kind, bytes);
  }
  bool Write(std::uint32_t offset, unsigned count, const std::uint8_t* bytes) override {
    return target_.Write(offset, count, bytes);
  }
  void Peek(std::uint32_t offset, std::uint32_t count, std::uint8_t* bytes) const override {
    target_.Peek(offset, count, bytes);
  }
  void Poke(std::uint32_t offset, std::uint32_t count, const std::uint8_t* bytes) override {
    target_.Poke(offset, count, bytes);
  }
  const std::uint8_t* QuietFetchBytes(std::uint32_t offset, std::uint32_t& count) override {
    const std::uint8_t* bytes = target_.QuietFetchBytes(offset, count);
    if (bytes != nullptr) count = static_cast<std::uint32_t>(std::min<std::uint64_t>(count, size() - offset));
    return bytes;
  }
  void CountQuietFetches(std::uint64_t fetches) override { target_.CountQuietFetches(fetches); }
  std::uint64_t SteadyReadsFor(std::uint32_t offset, unsigned count) override {
    return target_.SteadyReadsFor(offset, count);
  }
  void CountSteadyReads(std::uint32_t offset, unsigned count, std::uint64_t reads) override {
    target_.CountSteadyReads(offset, count, reads);
  }

 private:
  Region& target_;
};

}  // namespace

bool AddOnChipRegions(const RegionDescription& region, const BoardDescription& board,
                      MemoryBus& bus, Clock& clock, Counters& counters, std::string& error) {
  switch (region.kind) {
    case RegionKind::LPC: {
      auto flash = LpcFlashRegion::Create(region, error);
      if (!flash) return false;
      auto rom = std::make_unique<LpcBootRom>(*flash, bus, clock, board.clock_khz,
                                              board.timing == TimingMode::Deterministic, counters);
      bus.Add(std::move(flash));
      bus.Add(std::move(rom));
      return true;
    }
    case RegionKind::SAM7: {
      auto flash = Sam7FlashRegion::Create(region, clock, board.clock_khz, counters, error);
      if (!flash) return false;
      auto system = std::make_unique<Sam7SystemController>(*flash);
      bus.Add(std::make_unique<AliasRegion>(*flash, 0, flash->size()));
      bus.Add(std::move(flash));
      bus.Add(std::move(system));
      return true;
    }
    case RegionKind::STR71x: {
      auto flash = Str71xFlashRegion::Create(region, clock, board.clock_khz, counters, error);
      if (!flash) return false;
      const BusSpan boot = RegionSpans(region).back();
      bus.Add(std::make_unique<AliasRegion>(*flash, 0, boot.size));
      bus.Add(std::move(flash));
      return true;
    }
    case RegionKind::NAND: {
      auto nand = NandControllerRegion::Create(region, clock, board.clock_khz, counters, error);
      if (!nand) return false;
      bus.Add(std::move(nand));
      return true;
    }
    default:
      error = "[" + region.section + "] Kind: not an on-chip flash";
      return false;
  }
}

void AttachCoreToRegions(MemoryBus& bus, ArmCore& core) {
  for (const auto& region : bus.regions()) {
    if (auto* rom = dynamic_cast<LpcBootRom*>(region.get())) rom->AttachCore(core);
  }
}

std::string OnChipInfo(const RegionDescription& region) {
  char text[160];
  const OnChipDescription& chip = region.onchip;
  switch (region.kind) {
    case RegionKind::LPC: {
      const LpcPart* part = FindLpcPart(chip.model);
      std::snprintf(text, sizeof text, "%s, part ID $%08X, %zu user sectors, %u-byte boot block",
                    chip.model.c_str(), part->part_id, part->sectors.size(), part->boot_block_bytes);
      break;
    }
    case RegionKind::SAM7: {
      const Sam7Part* part = FindSam7Part(chip.model);
      std::snprintf(text, sizeof text, "%s, chip ID $%08X, %u pages of %u bytes, %u lock regions",
                    chip.model.c_str(), part->chip_id, part->pages, part->page_bytes,
                    part->lock_regions);
      break;
    }
    case RegionKind::STR71x:
      std::snprintf(text, sizeof text, "%s, bank 0 at $40000000, bank 1 at $400C0000",
                    chip.model.c_str());
      break;
    default: {
      const NandPart* part = FindNandPart(chip.chip);
      std::string bad;
      for (auto block : chip.bad_blocks) bad += (bad.empty() ? "" : ",") + std::to_string(block);
      std::snprintf(text, sizeof text, "%s controller, %s: %u blocks of %u pages of %u+%u bytes, bad blocks %s",
                    chip.model.c_str(), chip.chip.c_str(), part->blocks, part->pages_per_block,
                    part->page_bytes, part->spare_bytes, bad.empty() ? "none" : bad.c_str());
      break;
    }
  }
  std::string line = text;
  line += "\n  Image=" + (chip.image.empty() ? std::string("(none, kept in memory)") : chip.image.string());
  return line;
}

}  // namespace simboard
