#include "simboard/onchip/str71x_flash.h"

#include <algorithm>
#include <cstring>

namespace simboard {

namespace {

// Flash timing after the data sheet's figures, shortened for sector erases:
// a word 20 us, a double word 40 us, a sector 40 ms plus 1.5 ms per KiB.
constexpr std::uint64_t kWordUs = 20;
std::uint64_t EraseUs(std::uint32_t bytes) { return 40000 + bytes / 1024 * 1500; }

constexpr std::uint32_t kAddressMask = 0x1FFFFF;  // FLASH_AR bits 20:0
constexpr std::uint32_t kOperations = str71x::kWpg | str71x::kDwpg | str71x::kSer | str71x::kSpr;

}  // namespace

Str71xFlashRegion::Str71xFlashRegion(const RegionDescription& description, const Str71xPart& part,
                                     const Clock& clock, std::uint32_t clock_khz,
                                     Counters& counters)
    : ControlledFlashRegion(description, kStr71xWindowBytes, clock, clock_khz, counters) {
  std::uint32_t at = 0;
  for (std::size_t i = 0; i < part.bank0.size(); ++i) {
    sectors_.push_back({static_cast<std::uint32_t>(i), at, part.bank0[i]});
    at += part.bank0[i];
  }
  bank0_bytes_ = at;
  at = kStr71xBank1Offset;
  for (std::size_t i = 0; i < part.bank1.size(); ++i) {
    sectors_.push_back({static_cast<std::uint32_t>(16 + i), at, part.bank1[i]});
    at += part.bank1[i];
  }
  bank1_bytes_ = at - kStr71xBank1Offset;
}

std::unique_ptr<Str71xFlashRegion> Str71xFlashRegion::Create(const RegionDescription& description,
                                                             const Clock& clock,
                                                             std::uint32_t clock_khz,
                                                             Counters& counters,
                                                             std::string& error) {
  const Str71xPart* part = FindStr71xPart(description.onchip.model);
  if (part == nullptr) {
    error = "[" + description.section + "] Model: unknown part";
    return nullptr;
  }
  std::unique_ptr<Str71xFlashRegion> region(
      new Str71xFlashRegion(description, *part, clock, clock_khz, counters));
  // The image: bank 0, bank 1, then NVWPAR, NVAPR0 and NVAPR1.
  if (!region->OpenImage(description, region->bank0_bytes_ + region->bank1_bytes_, 12, error))
    return nullptr;
  return region;
}

void Str71xFlashRegion::Reset() {
  cr0_ = cr1_ = dr0_ = dr1_ = ar_ = er_ = 0;
  busy_bits_ = 0;
}

std::uint32_t Str71xFlashRegion::protection() const { return LoadConfigWord(image_.config()); }

std::uint8_t* Str71xFlashRegion::Cell(std::uint32_t offset) {
  if (offset < bank0_bytes_) return image_.array() + offset;
  if (offset >= kStr71xBank1Offset && offset - kStr71xBank1Offset < bank1_bytes_) {
    return image_.array() + bank0_bytes_ + (offset - kStr71xBank1Offset);
  }
  return nullptr;
}

const Str71xFlashRegion::Sector* Str71xFlashRegion::SectorAt(std::uint32_t offset) const {
  for (const auto& sector : sectors_) {
    if (offset >= sector.offset && offset - sector.offset < sector.size) return &sector;
  }
  return nullptr;
}

bool Str71xFlashRegion::Read(std::uint32_t offset, unsigned count, AccessKind,
                             std::uint8_t* bytes) {
  if (offset >= str71x::kCr0) {
    const std::uint32_t value = ReadRegister(offset & ~3u);
    for (unsigned k = 0; k < count; ++k) {
      bytes[k] = static_cast<std::uint8_t>(value >> (8 * ((offset & 3) + k)));
    }
    return true;
  }
  ++counters_.flash_reads;
  const std::uint8_t* cell = Cell(offset);
  if (cell == nullptr) {
    std::memset(bytes, 0, count);
  } else {
    std::memcpy(bytes, cell, count);
  }
  return true;
}

const std::uint8_t* Str71xFlashRegion::QuietFetchBytes(std::uint32_t offset, std::uint32_t& count) {
  if (offset >= str71x::kCr0) return nullptr;
  std::uint32_t end = 0;
  if (offset < bank0_bytes_) {
    end = bank0_bytes_;
  } else if (offset >= kStr71xBank1Offset && offset - kStr71xBank1Offset < bank1_bytes_) {
    end = kStr71xBank1Offset + bank1_bytes_;
  } else {
    return nullptr;
  }
  count = std::min<std::uint32_t>(end, str71x::kCr0) - offset;
  return Cell(offset);
}

bool Str71xFlashRegion::Write(std::uint32_t offset, unsigned count, const std::uint8_t* bytes) {
  // The array is written only through the interface; the registers take words.
  if (offset >= str71x::kCr0 && count == 4) WriteRegister(offset, LoadConfigWord(bytes));
  return true;
}

void Str71xFlashRegion::Peek(std::uint32_t offset, std::uint32_t count,
                             std::uint8_t* bytes) const {
  for (std::uint32_t i = 0; i < count; ++i) {
    const std::uint8_t* cell = const_cast<Str71xFlashRegion*>(this)->Cell(offset + i);
    bytes[i] = cell ? *cell : 0;
  }
}

void Str71xFlashRegion::Poke(std::uint32_t offset, std::uint32_t count,
                             const std::uint8_t* bytes) {
  for (std::uint32_t i = 0; i < count; ++i) {
    if (std::uint8_t* cell = Cell(offset + i)) *cell = bytes[i];
  }
}

std::uint32_t Str71xFlashRegion::ReadRegister(std::uint32_t offset) {
  if (busy_bits_ != 0 && !busy()) {
    // The operation has ended: the interface drops its set-up bits.
    cr0_ &= ~(kOperations | str71x::kWms);
    cr1_ &= ~(str71x::kB0s | str71x::kB1s | 0x000300FFu);
    busy_bits_ = 0;
  }
  switch (offset) {
    case str71x::kCr0: return cr0_ | (busy() ? str71x::kLock | busy_bits_ : 0);
    case str71x::kCr1:
      return cr1_ | (busy() && (busy_bits_ & str71x::kBsy0) ? str71x::kB0s : 0) |
             (busy() && (busy_bits_ & str71x::kBsy1) ? str71x::kB1s : 0);
    case str71x::kDr0: return dr0_;
    case str71x::kDr1: return dr1_;
    case str71x::kAr: return ar_;
    case str71x::kEr: return er_;
    case str71x::kNvwpar: return LoadConfigWord(image_.config());
    case str71x::kNvapr0: return LoadConfigWord(image_.config() + 4);
    case str71x::kNvapr1: return LoadConfigWord(image_.config() + 8);
    default: return 0;
  }
}

void Str71xFlashRegion::WriteRegister(std::uint32_t offset, std::uint32_t value) {
  ReadRegister(str71x::kCr0);  // lets an ended operation clear its bits
  if (busy()) return;          // LOCK: no new set-up while an operation runs
  switch (offset) {
    case str71x::kCr0:
      cr0_ = value & (kOperations | str71x::kSusp | (1u << 21) | (1u << 20) | (1u << 15));
      if (value & str71x::kWms) Start();
      break;
    case str71x::kCr1: cr1_ = value & 0x000300FF; break;
    case str71x::kDr0: dr0_ = value; break;
    case str71x::kDr1: dr1_ = value; break;
    case str71x::kAr: ar_ = value & kAddressMask; break;
    case str71x::kEr: er_ = value & er_; break;  // written 0 to clear
    default: break;
  }
}

bool Str71xFlashRegion::ProgramWord(std::uint32_t offset, std::uint32_t value) {
  std::uint8_t* cell = Cell(offset);
  const Sector* sector = SectorAt(offset);
  if (cell == nullptr || sector == nullptr) {
    Fail(str71x::kPger);
    return false;
  }
  if ((protection() & (1u << sector->bit)) == 0) {
    Fail(str71x::kWpf);
    return false;
  }
  const std::uint32_t old = LoadConfigWord(cell);
  if (value & ~old) Fail(str71x::k10er);  // a 1 over a 0 stays 0
  StoreConfigWord(cell, old & value);
  counters_.bytes_programmed += 4;
  busy_bits_ |= sector->offset >= kStr71xBank1Offset ? str71x::kBsy1 : str71x::kBsy0;
  return true;
}

void Str71xFlashRegion::Start() {
  const std::uint32_t operation = cr0_ & kOperations;
  busy_bits_ = 0;
  std::uint64_t us = 0;
  if (operation == str71x::kWpg) {
    if (ar_ % 4 != 0) return Fail(str71x::kPger);
    if (ProgramWord(ar_, dr0_)) us = kWordUs;
  } else if (operation == str71x::kDwpg) {
    if (ar_ % 8 != 0) return Fail(str71x::kPger);
    if (ProgramWord(ar_, dr0_) && ProgramWord(ar_ + 4, dr1_)) us = 2 * kWordUs;
  } else if (operation == str71x::kSer) {
    const std::uint32_t selected = cr1_ & 0x000300FF;
    if (selected == 0) return Fail(str71x::kSeqer);
    for (const auto& sector : sectors_) {
      if ((selected & (1u << sector.bit)) && (protection() & (1u << sector.bit)) == 0) {
        return Fail(str71x::kWpf | str71x::kErer);
      }
    }
    for (const auto& sector : sectors_) {
      if ((selected & (1u << sector.bit)) == 0) continue;
      std::memset(Cell(sector.offset), 0xFF, sector.size);
      ++counters_.sectors_erased;
      us += EraseUs(sector.size);
      busy_bits_ |= sector.offset >= kStr71xBank1Offset ? str71x::kBsy1 : str71x::kBsy0;
    }
  } else if (operation == str71x::kSpr) {
    // Protection bits only go from 1 to 0 (unprotected to protected).
    if (ar_ != str71x::kNvwpar) return Fail(str71x::kSeqer);
    StoreConfigWord(image_.config(), protection() & dr0_);
    us = kWordUs;
    busy_bits_ = str71x::kBsy0;
  } else {
    return Fail(str71x::kSeqer);
  }
  if (busy_bits_ == 0) return;
  ready_at_ = clock_.cycles + us * cycles_per_ms_ / 1000;
  if (ready_at_ == clock_.cycles) ++ready_at_;
}

}  // namespace simboard
