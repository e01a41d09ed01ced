#include "simboard/onchip/lpc_flash.h"

#include <algorithm>
#include <cstring>

#include "simboard/core/arm_core.h"

namespace simboard {

namespace {

// THUMB instructions the ROM answers fetches with.
constexpr std::uint16_t kBxLr = 0x4770;
constexpr std::uint16_t kSpin = 0xE7FE;         // B .
constexpr std::uint16_t kBranchToWait = 0xE7F6;  // B 0x7FFFFFE0, from the entry
// A call in ARM state lands on an undefined instruction, as a wrong call
// into a THUMB ROM would go astray.
constexpr std::uint32_t kArmUndefined = 0xE7F000F0;
constexpr std::uint32_t kWaitAddress = 0x7FFFFFE0;

// Flash timing of the LPC2000 data sheets: an erase of any number of
// sectors 400 ms, programming 1 ms per 256 bytes.
constexpr std::uint64_t kEraseMs = 400;
constexpr std::uint64_t kProgramMsPer256 = 1;

// The boot block holds the chip's own boot loader; stand-in code that loops
// where it starts, so nothing mistakes it for erased flash.
constexpr std::uint32_t kBootBlockWord = 0xEAFFFFFE;

}  // namespace

// ---------------------------------------------------------------------------
// The flash array

LpcFlashRegion::LpcFlashRegion(const RegionDescription& description, const LpcPart& part)
    : Region(description.section, description.base, part.FlashBytes()), part_(part) {
  std::uint32_t at = 0;
  for (auto size : part.sectors) {
    starts_.push_back(at);
    at += size;
  }
  starts_.push_back(at);  // the boot block
}

std::unique_ptr<LpcFlashRegion> LpcFlashRegion::Create(const RegionDescription& description,
                                                       std::string& error) {
  const LpcPart* part = FindLpcPart(description.onchip.model);
  if (part == nullptr) {
    error = "[" + description.section + "] Model: unknown part";
    return nullptr;
  }
  std::unique_ptr<LpcFlashRegion> region(new LpcFlashRegion(description, *part));
  if (!region->image_.Open(description.onchip.image, part->FlashBytes(), 0, error)) {
    error = "[" + description.section + "] " + error;
    return nullptr;
  }
  std::uint8_t* boot = region->array() + region->starts_.back();
  for (std::uint32_t i = 0; i + 4 <= part->boot_block_bytes; i += 4) {
    for (int k = 0; k < 4; ++k) boot[i + k] = static_cast<std::uint8_t>(kBootBlockWord >> (8 * k));
  }
  return region;
}

std::size_t LpcFlashRegion::SectorOf(std::uint32_t offset) const {
  auto after = std::upper_bound(starts_.begin(), starts_.end(), offset);
  return static_cast<std::size_t>(after - starts_.begin()) - 1;
}

bool LpcFlashRegion::Read(std::uint32_t offset, unsigned count, AccessKind, std::uint8_t* bytes) {
  std::memcpy(bytes, image_.array() + offset, count);
  return true;
}

bool LpcFlashRegion::Write(std::uint32_t, unsigned, const std::uint8_t*) { return true; }

void LpcFlashRegion::Peek(std::uint32_t offset, std::uint32_t count, std::uint8_t* bytes) const {
  std::memcpy(bytes, image_.array() + offset, count);
}

void LpcFlashRegion::Poke(std::uint32_t offset, std::uint32_t count, const std::uint8_t* bytes) {
  std::memcpy(image_.array() + offset, bytes, count);
}

// ---------------------------------------------------------------------------
// The boot ROM and its IAP entry

LpcBootRom::LpcBootRom(LpcFlashRegion& flash, MemoryBus& bus, Clock& clock,
                       std::uint32_t clock_khz, bool deterministic, Counters& counters)
    : Region(flash.name() + " boot ROM", flash.part().rom_base,
             0x80000000ull - flash.part().rom_base),
      flash_(flash),
      bus_(bus),
      clock_(clock),
      cycles_per_ms_(clock_khz),
      deterministic_(deterministic),
      counters_(counters),
      prepared_(flash.SectorCount(), false) {}

void LpcBootRom::Reset() {
  std::fill(prepared_.begin(), prepared_.end(), false);
  in_call_ = false;
}

bool LpcBootRom::Read(std::uint32_t offset, unsigned count, AccessKind kind, std::uint8_t* bytes) {
  std::uint32_t value = 0;
  const std::uint32_t address = base() + offset;
  if (kind == AccessKind::InstructionFetch) {
    if (count == 2 && address == kLpcIapEntry) {
      value = Entry();
    } else if (count == 2 && address == kWaitAddress) {
      value = Wait();
    } else {
      value = count == 2 ? kSpin : kArmUndefined;
    }
  }
  for (unsigned k = 0; k < count; ++k) bytes[k] = static_cast<std::uint8_t>(value >> (8 * k));
  return true;
}

bool LpcBootRom::Write(std::uint32_t, unsigned, const std::uint8_t*) { return true; }

void LpcBootRom::Peek(std::uint32_t, std::uint32_t count, std::uint8_t* bytes) const {
  std::memset(bytes, 0, count);
}

std::uint32_t LpcBootRom::LoadWord(std::uint32_t address) {
  std::uint32_t value = 0;
  bus_.Read(address, AccessSize::Word, AccessKind::DataRead, value);
  return value;
}

void LpcBootRom::StoreWord(std::uint32_t address, std::uint32_t value) {
  bus_.Write(address, AccessSize::Word, value);
}

std::uint16_t LpcBootRom::Entry() {
  if (core_ == nullptr) return kBxLr;
  const std::uint32_t table = core_->Register(0);
  const std::uint32_t results = core_->Register(1);
  if (busy()) {
    StoreWord(results, static_cast<std::uint32_t>(IapStatus::Busy));
    return kBxLr;
  }
  std::uint32_t command[5];
  for (unsigned i = 0; i < 5; ++i) command[i] = LoadWord(table + 4 * i);
  std::uint32_t out[2] = {0, 0};
  std::uint64_t cycles = 0;
  const IapStatus status = Execute(command, out, cycles);
  in_call_ = true;
  result_table_ = results;
  pending_status_ = static_cast<std::uint32_t>(status);
  pending_results_[0] = out[0];
  pending_results_[1] = out[1];
  // Result words beyond the status: the part ID, the boot code version, the
  // mismatch offset, or the first non-blank word's offset and contents.
  const auto code = static_cast<IapCommand>(command[0]);
  pending_result_words_ =
      status == IapStatus::SectorNotBlank ? 2
      : status == IapStatus::CompareError ? 1
      : status == IapStatus::CmdSuccess &&
              (code == IapCommand::ReadPartId || code == IapCommand::ReadBootVersion)
          ? 1
          : 0;
  if (cycles == 0) return Wait();
  ready_at_ = clock_.cycles + cycles;
  return kBranchToWait;
}

std::uint16_t LpcBootRom::Wait() {
  if (!in_call_) return kBxLr;
  if (busy()) {
    // In deterministic time the ROM's busy loop moves the clock by a
    // millisecond a turn, so a long erase costs few host instructions.
    if (deterministic_) clock_.cycles += std::min(ready_at_ - clock_.cycles, cycles_per_ms_);
    return kSpin;
  }
  StoreWord(result_table_, pending_status_);
  for (unsigned i = 0; i < pending_result_words_; ++i) {
    StoreWord(result_table_ + 4 + 4 * i, pending_results_[i]);
  }
  in_call_ = false;
  return kBxLr;
}

bool LpcBootRom::SectorRange(std::uint32_t first, std::uint32_t last) const {
  return first <= last && last < flash_.SectorCount();
}

bool LpcBootRom::InRam(std::uint32_t address, std::uint32_t count) const {
  return address >= kLpcRamBase &&
         std::uint64_t{address} + count <= std::uint64_t{kLpcRamBase} + flash_.part().ram_bytes;
}

bool LpcBootRom::InUserFlash(std::uint32_t address, std::uint32_t count) const {
  return std::uint64_t{address} + count <= flash_.SectorStart(flash_.SectorCount());
}

IapStatus LpcBootRom::Execute(const std::uint32_t* command, std::uint32_t results[2],
                              std::uint64_t& cycles) {
  const std::uint32_t p0 = command[1], p1 = command[2], p2 = command[3], p3 = command[4];
  switch (static_cast<IapCommand>(command[0])) {
    case IapCommand::Prepare:
      if (!SectorRange(p0, p1)) return IapStatus::InvalidSector;
      for (std::uint32_t s = p0; s <= p1; ++s) prepared_[s] = true;
      return IapStatus::CmdSuccess;

    case IapCommand::CopyRamToFlash: {
      const std::uint32_t dst = p0, src = p1, count = p2;
      if (dst % 256 != 0) return IapStatus::DstAddrError;
      if (src % 4 != 0) return IapStatus::SrcAddrError;
      if (std::uint64_t{dst} + count > flash_.size()) return IapStatus::DstAddrNotMapped;
      if (!InRam(src, count)) return IapStatus::SrcAddrNotMapped;
      if (count != 256 && count != 512 && count != 1024 && count != 4096) {
        return IapStatus::CountError;
      }
      // The boot block is never prepared, so a copy into it fails here.
      for (std::size_t s = flash_.SectorOf(dst); s <= flash_.SectorOf(dst + count - 1); ++s) {
        if (s >= prepared_.size() || !prepared_[s]) return IapStatus::SectorNotPrepared;
      }
      std::vector<std::uint8_t> data(count);
      bus_.Peek(src, count, data.data());
      std::uint8_t* cells = flash_.array() + dst;
      for (std::uint32_t i = 0; i < count; ++i) cells[i] &= data[i];  // only 1 -> 0
      counters_.bytes_programmed += count;
      std::fill(prepared_.begin(), prepared_.end(), false);
      last_cclk_khz_ = p3;
      cycles = kProgramMsPer256 * (count / 256) * cycles_per_ms_;
      return IapStatus::CmdSuccess;
    }

    case IapCommand::Erase:
      if (!SectorRange(p0, p1)) return IapStatus::InvalidSector;
      for (std::uint32_t s = p0; s <= p1; ++s) {
        if (!prepared_[s]) return IapStatus::SectorNotPrepared;
      }
      for (std::uint32_t s = p0; s <= p1; ++s) {
        std::memset(flash_.array() + flash_.SectorStart(s), 0xFF,
                    flash_.SectorStart(s + 1) - flash_.SectorStart(s));
        ++counters_.sectors_erased;
      }
      std::fill(prepared_.begin(), prepared_.end(), false);
      last_cclk_khz_ = p2;
      cycles = kEraseMs * cycles_per_ms_;
      return IapStatus::CmdSuccess;

    case IapCommand::BlankCheck: {
      if (!SectorRange(p0, p1)) return IapStatus::InvalidSector;
      const std::uint8_t* cells = flash_.array();
      for (std::uint32_t at = flash_.SectorStart(p0); at < flash_.SectorStart(p1 + 1); at += 4) {
        const std::uint32_t word = LoadConfigWord(cells + at);
        if (word != 0xFFFFFFFF) {
          results[0] = at;
          results[1] = word;
          return IapStatus::SectorNotBlank;
        }
      }
      return IapStatus::CmdSuccess;
    }

    case IapCommand::ReadPartId:
      results[0] = flash_.part().part_id;
      return IapStatus::CmdSuccess;

    case IapCommand::ReadBootVersion:
      results[0] = flash_.part().boot_version;
      return IapStatus::CmdSuccess;

    case IapCommand::Compare: {
      const std::uint32_t dst = p0, src = p1, count = p2;
      if (dst % 4 != 0) return IapStatus::DstAddrError;
      if (src % 4 != 0) return IapStatus::SrcAddrError;
      if (count % 4 != 0) return IapStatus::CountError;
      if (!InUserFlash(dst, count) && !InRam(dst, count)) return IapStatus::DstAddrNotMapped;
      if (!InUserFlash(src, count) && !InRam(src, count)) return IapStatus::SrcAddrNotMapped;
      for (std::uint32_t i = 0; i < count; i += 4) {
        if (LoadWord(dst + i) != LoadWord(src + i)) {
          results[0] = i;
          return IapStatus::CompareError;
        }
      }
      return IapStatus::CmdSuccess;
    }
  }
  return IapStatus::InvalidCommand;
}

}  // namespace simboard
