#include "simboard/onchip/sam7_flash.h"

#include <algorithm>
#include <cstring>

namespace simboard {

namespace {

// EFC timing, the data sheet's orders of magnitude.
constexpr std::uint64_t kWritePageMs = 4;
constexpr std::uint64_t kLockBitMs = 4;
constexpr std::uint64_t kEraseAllMs = 10;

// The non-volatile word after the array holds the lock bits (0-15), the
// GPNVM bits (16-18) and the security bit (20), stored inverted so an erased
// image has nothing set.
constexpr std::uint32_t kGpnvmShift = 16;
constexpr std::uint32_t kSecurityBit = 1u << 20;

constexpr std::uint32_t kMcOffset = 0xF00;     // memory controller in the system controller
constexpr std::uint32_t kDbguCidr = 0x240;
constexpr std::uint32_t kDbguExid = 0x244;
constexpr std::uint32_t kPmcSr = 0xC68;
constexpr std::uint32_t kPmcReady = 0x0D;      // MOSCS, LOCK, MCKRDY

}  // namespace

Sam7FlashRegion::Sam7FlashRegion(const RegionDescription& description, const Sam7Part& part,
                                 const Clock& clock, std::uint32_t clock_khz, Counters& counters)
    : ControlledFlashRegion(description, part.FlashBytes(), clock, clock_khz, counters),
      part_(part),
      latch_(part.page_bytes, 0xFF) {}

std::unique_ptr<Sam7FlashRegion> Sam7FlashRegion::Create(const RegionDescription& description,
                                                         const Clock& clock,
                                                         std::uint32_t clock_khz,
                                                         Counters& counters, std::string& error) {
  const Sam7Part* part = FindSam7Part(description.onchip.model);
  if (part == nullptr) {
    error = "[" + description.section + "] Model: unknown part";
    return nullptr;
  }
  std::unique_ptr<Sam7FlashRegion> region(
      new Sam7FlashRegion(description, *part, clock, clock_khz, counters));
  if (!region->OpenImage(description, part->FlashBytes(), 4, error)) return nullptr;
  return region;
}

void Sam7FlashRegion::Reset() {
  std::fill(latch_.begin(), latch_.end(), 0xFF);
  fmr_ = 0;
  errors_ = 0;
}

bool Sam7FlashRegion::Read(std::uint32_t offset, unsigned count, AccessKind, std::uint8_t* bytes) {
  ++counters_.flash_reads;
  std::memcpy(bytes, image_.array() + offset, count);
  return true;
}

const std::uint8_t* Sam7FlashRegion::QuietFetchBytes(std::uint32_t offset, std::uint32_t& count) {
  count = static_cast<std::uint32_t>(size() - offset);
  return image_.array() + offset;
}

bool Sam7FlashRegion::Write(std::uint32_t offset, unsigned count, const std::uint8_t* bytes) {
  ++counters_.flash_writes;
  if (count == 4 && !busy()) std::memcpy(&latch_[offset % part_.page_bytes], bytes, 4);
  return true;
}

void Sam7FlashRegion::Peek(std::uint32_t offset, std::uint32_t count, std::uint8_t* bytes) const {
  std::memcpy(bytes, image_.array() + offset, count);
}

void Sam7FlashRegion::Poke(std::uint32_t offset, std::uint32_t count, const std::uint8_t* bytes) {
  std::memcpy(image_.array() + offset, bytes, count);
}

std::uint32_t Sam7FlashRegion::locks() const {
  const std::uint32_t mask = part_.lock_regions >= 32 ? 0xFFFFFFFF : (1u << part_.lock_regions) - 1;
  return ~LoadConfigWord(image_.config()) & mask;
}

void Sam7FlashRegion::SetNonVolatile(std::uint32_t mask, bool set) {
  std::uint32_t stored = LoadConfigWord(image_.config());
  stored = set ? stored & ~mask : stored | mask;
  StoreConfigWord(image_.config(), stored);
}

std::uint32_t Sam7FlashRegion::ReadRegister(std::uint32_t offset) {
  switch (offset) {
    case efc::kFmr: return fmr_;
    case efc::kFsr: {
      const std::uint32_t stored = ~LoadConfigWord(image_.config());
      std::uint32_t value = (busy() ? 0 : efc::kFrdy) | errors_ | (locks() << 16);
      value |= ((stored >> kGpnvmShift) & 0x7) << 8;
      if (stored & kSecurityBit) value |= efc::kSecurity;
      errors_ = 0;  // LOCKE and PROGE clear when read
      return value;
    }
    default: return 0;
  }
}

// MC_FSR shows FRDY when the command ends; a read clears the error bits,
// so it is steady only once they are clear.
std::uint64_t Sam7FlashRegion::RegisterSteadyFor(std::uint32_t offset) const {
  if (offset != efc::kFsr) return kSteadyForever;
  return errors_ != 0 ? 0 : SteadyWhileBusy();
}

void Sam7FlashRegion::WriteRegister(std::uint32_t offset, std::uint32_t value) {
  if (offset == efc::kFmr) {
    fmr_ = value & 0x00FF038D;
  } else if (offset == efc::kFcr) {
    Command(value);
  }
}

void Sam7FlashRegion::Command(std::uint32_t value) {
  const std::uint32_t key = value >> 24;
  const std::uint32_t command = value & 0xF;
  const std::uint32_t page = (value >> 8) & 0x3FF;
  if (key != efc::kKey || busy() || page >= part_.pages) {
    errors_ |= efc::kProge;
    return;
  }
  const std::uint32_t pages_per_region = part_.pages / part_.lock_regions;
  const std::uint32_t region_bit = 1u << (page / pages_per_region);
  std::uint64_t ms = 0;
  switch (command) {
    case efc::kWritePage:
    case efc::kWritePageAndLock: {
      if (locks() & region_bit) {
        errors_ |= efc::kLocke;
        return;
      }
      std::uint8_t* cells = image_.array() + page * part_.page_bytes;
      for (std::uint32_t i = 0; i < part_.page_bytes; ++i) {
        cells[i] = (fmr_ & efc::kNebp) ? cells[i] & latch_[i] : latch_[i];
      }
      std::fill(latch_.begin(), latch_.end(), 0xFF);
      counters_.bytes_programmed += part_.page_bytes;
      if (command == efc::kWritePageAndLock) SetNonVolatile(region_bit, true);
      ms = kWritePageMs;
      break;
    }
    case efc::kSetLockBit:
    case efc::kClearLockBit:
      SetNonVolatile(region_bit, command == efc::kSetLockBit);
      ms = kLockBitMs;
      break;
    case efc::kEraseAll:
      if (locks() != 0) {
        errors_ |= efc::kLocke;
        return;
      }
      std::memset(image_.array(), 0xFF, part_.FlashBytes());
      counters_.sectors_erased += part_.lock_regions;
      ms = kEraseAllMs;
      break;
    case efc::kSetGpnvm:
    case efc::kClearGpnvm:
      if (page > 2) {
        errors_ |= efc::kProge;
        return;
      }
      SetNonVolatile(1u << (kGpnvmShift + page), command == efc::kSetGpnvm);
      ms = kLockBitMs;
      break;
    case efc::kSetSecurity:
      SetNonVolatile(kSecurityBit, true);
      ms = kLockBitMs;
      break;
    default:
      errors_ |= efc::kProge;
      return;
  }
  ready_at_ = clock_.cycles + ms * cycles_per_ms_;
}

// ---------------------------------------------------------------------------

Sam7SystemController::Sam7SystemController(Sam7FlashRegion& flash)
    : Region(flash.name() + " system controller", kSam7SystemBase, 0x1000),
      flash_(flash),
      registers_(0x1000, 0) {}

std::uint32_t Sam7SystemController::Special(std::uint32_t offset, bool& special) const {
  special = true;
  switch (offset) {
    case kDbguCidr: return flash_.part().chip_id;
    case kDbguExid: return 0;
    case kPmcSr: return kPmcReady;
    default: special = false; return 0;
  }
}

bool Sam7SystemController::Read(std::uint32_t offset, unsigned count, AccessKind,
                                std::uint8_t* bytes) {
  const std::uint32_t word = offset & ~3u;
  std::uint32_t value;
  bool special = false;
  if (word >= kMcOffset) {
    value = flash_.ReadRegister(word - kMcOffset);
  } else {
    value = Special(word, special);
    if (!special) value = LoadConfigWord(&registers_[word]);
  }
  for (unsigned k = 0; k < count; ++k) {
    bytes[k] = static_cast<std::uint8_t>(value >> (8 * ((offset & 3) + k)));
  }
  return true;
}

std::uint64_t Sam7SystemController::SteadyReadsFor(std::uint32_t offset, unsigned) {
  return offset >= kMcOffset ? flash_.RegisterSteadyFor((offset & ~3u) - kMcOffset)
                             : kSteadyForever;
}

bool Sam7SystemController::Write(std::uint32_t offset, unsigned count, const std::uint8_t* bytes) {
  if (offset >= kMcOffset) {
    if (count == 4) flash_.WriteRegister(offset - kMcOffset, LoadConfigWord(bytes));
    return true;
  }
  std::memcpy(&registers_[offset], bytes, count);
  return true;
}

void Sam7SystemController::Peek(std::uint32_t offset, std::uint32_t count,
                                std::uint8_t* bytes) const {
  std::memcpy(bytes, &registers_[offset], count);
}

void Sam7SystemController::Poke(std::uint32_t offset, std::uint32_t count,
                                const std::uint8_t* bytes) {
  std::memcpy(&registers_[offset], bytes, count);
}

}  // namespace simboard
