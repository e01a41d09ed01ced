#include "simboard/nand/nand_controller.h"

#include <bit>
#include <cstring>

namespace simboard {

namespace {

// S3C2410 register offsets.
namespace r2410 {
constexpr std::uint32_t kConf = 0x00, kCmd = 0x04, kAddr = 0x08, kData = 0x0C, kStat = 0x10,
                        kEcc = 0x14;
constexpr std::uint32_t kEnable = 1u << 15, kInitEcc = 1u << 12, kNfce = 1u << 11;
}  // namespace r2410

// S3C2440 register offsets.
namespace r2440 {
constexpr std::uint32_t kConf = 0x00, kCont = 0x04, kCmmd = 0x08, kAddr = 0x0C, kData = 0x10,
                        kMeccd0 = 0x14, kMeccd1 = 0x18, kSeccd = 0x1C, kStat = 0x20,
                        kEstat0 = 0x24, kEstat1 = 0x28, kMecc0 = 0x2C, kMecc1 = 0x30,
                        kSecc = 0x34, kSblk = 0x38, kEblk = 0x3C;
// NFCONF read-only boot-pin bits.
constexpr std::uint32_t kAdvFlash = 1u << 3, kPageSize = 1u << 2, kAddrCycle = 1u << 1;
// NFCONT
constexpr std::uint32_t kMode = 1u << 0, kRegNce = 1u << 1, kInitEcc = 1u << 4,
                        kMainEccLock = 1u << 5, kSpareEccLock = 1u << 6, kLock = 1u << 12,
                        kLockTight = 1u << 13;
// NFSTAT
constexpr std::uint32_t kRnb = 1u << 0, kNce = 1u << 1, kRnbTransDetect = 1u << 2,
                        kIllegalAccess = 1u << 3;
}  // namespace r2440

unsigned Parity(std::uint32_t value) { return std::popcount(value) & 1u; }

}  // namespace

// ---------------------------------------------------------------------------
// ECC

void NandEcc::Add(std::uint8_t byte) {
  const unsigned parity = Parity(byte);
  for (unsigned k = 0; k < 11; ++k) line_odd_[(count_ >> k) & 1][k] ^= parity;
  column_xor_ ^= byte;
  ++count_;
}

std::uint32_t NandEcc::Code(unsigned address_bits) const {
  std::uint32_t code = 0;
  for (unsigned k = 0; k < address_bits; ++k) {
    code |= line_odd_[0][k] << (2 * k);
    code |= line_odd_[1][k] << (2 * k + 1);
  }
  static constexpr std::uint8_t kColumnMasks[6] = {0x55, 0xAA, 0x33, 0xCC, 0x0F, 0xF0};
  for (unsigned c = 0; c < 6; ++c) code |= Parity(column_xor_ & kColumnMasks[c]) << (2 * address_bits + c);
  const unsigned bits = 2 * address_bits + 6;
  return ~code & ((1u << bits) - 1);
}

unsigned NandEcc::Check(std::uint32_t stored, std::uint32_t computed, unsigned address_bits,
                        std::uint32_t& byte, unsigned& bit) {
  const unsigned bits = 2 * address_bits + 6;
  const std::uint32_t syndrome = (stored ^ computed) & ((1u << bits) - 1);
  if (syndrome == 0) return 0;
  if (std::popcount(syndrome) == 1) return 3;
  for (unsigned pair = 0; pair < bits / 2; ++pair) {
    if (((syndrome >> (2 * pair)) ^ (syndrome >> (2 * pair + 1))) & 1u) continue;
    return 2;
  }
  byte = 0;
  for (unsigned k = 0; k < address_bits; ++k) byte |= ((syndrome >> (2 * k + 1)) & 1u) << k;
  const unsigned column = 2 * address_bits;
  bit = ((syndrome >> (column + 1)) & 1u) | ((syndrome >> (column + 3)) & 1u) << 1 |
        ((syndrome >> (column + 5)) & 1u) << 2;
  return 1;
}

// ---------------------------------------------------------------------------

NandControllerRegion::NandControllerRegion(const RegionDescription& description,
                                           NandControllerKind kind)
    : Region(description.section, description.base, description.size), kind_(kind) {}

std::unique_ptr<NandControllerRegion> NandControllerRegion::Create(
    const RegionDescription& description, const Clock& clock, std::uint32_t clock_khz,
    Counters& counters, std::string& error) {
  const NandPart* part = FindNandPart(description.onchip.chip);
  if (part == nullptr) {
    error = "[" + description.section + "] Chip: unknown part";
    return nullptr;
  }
  const NandControllerKind kind = description.onchip.model == "S3C2410"
                                      ? NandControllerKind::S3C2410
                                      : NandControllerKind::S3C2440;
  std::unique_ptr<NandControllerRegion> region(new NandControllerRegion(description, kind));
  region->chip_ = NandChip::Create(*part, description.onchip.image, description.onchip.bad_blocks,
                                   clock, clock_khz, counters, error);
  if (!region->chip_) {
    error = "[" + description.section + "] " + error;
    return nullptr;
  }
  region->Reset();
  return region;
}

void NandControllerRegion::Reset() {
  nfconf_ = kind_ == NandControllerKind::S3C2410 ? 0 : 0x1000;
  nfcont_ = r2440::kRegNce;
  illegal_access_ = false;
  ready_edge_ = false;
  was_ready_ = true;
  sblk_ = eblk_ = 0;
  main_ecc_.Clear();
  spare_ecc_.Clear();
  if (chip_) chip_->Reset();
}

bool NandControllerRegion::ChipSelected() const {
  if (kind_ == NandControllerKind::S3C2410) {
    return (nfconf_ & r2410::kEnable) && !(nfconf_ & r2410::kNfce);
  }
  return (nfcont_ & r2440::kMode) && !(nfcont_ & r2440::kRegNce);
}

std::uint8_t NandControllerRegion::DataIn() {
  if (!ChipSelected()) return 0xFF;
  const std::uint8_t byte = chip_->ReadData();
  if (kind_ == NandControllerKind::S3C2410 || !(nfcont_ & r2440::kMainEccLock)) main_ecc_.Add(byte);
  if (kind_ == NandControllerKind::S3C2440 && !(nfcont_ & r2440::kSpareEccLock)) spare_ecc_.Add(byte);
  return byte;
}

void NandControllerRegion::DataOut(std::uint8_t byte) {
  if (!ChipSelected()) return;
  chip_->WriteData(byte);
  if (kind_ == NandControllerKind::S3C2410 || !(nfcont_ & r2440::kMainEccLock)) main_ecc_.Add(byte);
  if (kind_ == NandControllerKind::S3C2440 && !(nfcont_ & r2440::kSpareEccLock)) spare_ecc_.Add(byte);
}

bool NandControllerRegion::Unlocked(std::uint32_t page) const {
  if (kind_ != NandControllerKind::S3C2440) return true;
  if (!(nfcont_ & (r2440::kLock | r2440::kLockTight))) return true;
  return page >= sblk_ && page < eblk_;
}

std::uint32_t NandControllerRegion::Status() {
  const bool ready = chip_->Ready();
  if (!was_ready_ && ready) ready_edge_ = true;
  was_ready_ = ready;
  if (kind_ == NandControllerKind::S3C2410) return ready ? 1 : 0;
  return (ready ? r2440::kRnb : 0) | (nfcont_ & r2440::kRegNce ? r2440::kNce : 0) |
         (ready_edge_ ? r2440::kRnbTransDetect : 0) |
         (illegal_access_ ? r2440::kIllegalAccess : 0);
}

std::uint32_t NandControllerRegion::ReadRegister(std::uint32_t offset, unsigned count) {
  const NandPart& part = chip_->part();
  const unsigned main_bits = static_cast<unsigned>(std::countr_zero(part.page_bytes));
  if (kind_ == NandControllerKind::S3C2410) {
    switch (offset) {
      case r2410::kConf: return nfconf_;
      case r2410::kData: return DataIn();
      case r2410::kStat: return Status();
      case r2410::kEcc: return main_ecc_.Code(9);  // 512-byte areas
      default: return 0;
    }
  }
  switch (offset) {
    case r2440::kConf: {
      std::uint32_t pins = r2440::kPageSize;  // 512 (small) or 2048 (large) bytes a page
      if (part.large_page) pins |= r2440::kAdvFlash;
      if (part.large_page ? part.address_cycles > 4 : part.address_cycles > 3) pins |= r2440::kAddrCycle;
      return (nfconf_ & ~0xFu) | pins;
    }
    case r2440::kCont: return nfcont_;
    case r2440::kData: {
      std::uint32_t value = 0;
      for (unsigned k = 0; k < count; ++k) value |= std::uint32_t{DataIn()} << (8 * k);
      return value;
    }
    case r2440::kMeccd0: return mecc_data_[0];
    case r2440::kMeccd1: return mecc_data_[1];
    case r2440::kSeccd: return secc_data_;
    case r2440::kStat: return Status();
    case r2440::kEstat0: {
      // The ECC that software wrote back, in the data registers' lanes.
      const std::uint32_t stored_main = (mecc_data_[0] & 0xFF) | ((mecc_data_[0] >> 16) & 0xFF) << 8 |
                                        (mecc_data_[1] & 0xFF) << 16 |
                                        ((mecc_data_[1] >> 16) & 0xFF) << 24;
      const std::uint32_t stored_spare = (secc_data_ & 0xFF) | ((secc_data_ >> 16) & 0xFF) << 8;
      std::uint32_t byte = 0;
      unsigned bit = 0;
      const unsigned main = NandEcc::Check(stored_main, main_ecc_.Code(main_bits), main_bits, byte, bit);
      std::uint32_t value = main;
      if (main == 1) value |= bit << 4 | (byte & 0x7FF) << 7;
      std::uint32_t spare_byte = 0;
      unsigned spare_bit = 0;
      value |= NandEcc::Check(stored_spare, spare_ecc_.Code(2), 2, spare_byte, spare_bit) << 2;
      return value;
    }
    case r2440::kEstat1: return 0;  // the second I/O byte lane of a 16-bit chip
    case r2440::kMecc0: return main_ecc_.Code(main_bits);
    case r2440::kMecc1: return 0;
    case r2440::kSecc: return spare_ecc_.Code(2);
    case r2440::kSblk: return sblk_;
    case r2440::kEblk: return eblk_;
    default: return 0;
  }
}

void NandControllerRegion::WriteRegister(std::uint32_t offset, std::uint32_t value, unsigned count) {
  std::uint32_t command_offset, address_offset, data_offset;
  if (kind_ == NandControllerKind::S3C2410) {
    if (offset == r2410::kConf) {
      // NFCONF is a plain read/write register: InitECC reads back as
      // written, and each write with it set starts a new ECC.
      nfconf_ = value;
      if (value & r2410::kInitEcc) main_ecc_.Clear();
      return;
    }
    command_offset = r2410::kCmd;
    address_offset = r2410::kAddr;
    data_offset = r2410::kData;
  } else {
    switch (offset) {
      case r2440::kConf: nfconf_ = value & 0x3770; return;
      case r2440::kCont: {
        // LockTight, once set, stays until reset.
        const std::uint32_t tight = nfcont_ & r2440::kLockTight;
        nfcont_ = (value & ~r2440::kInitEcc & 0x37E3) | tight;
        if (value & r2440::kInitEcc) {
          main_ecc_.Clear();
          spare_ecc_.Clear();
        }
        return;
      }
      case r2440::kMeccd0: mecc_data_[0] = value; return;
      case r2440::kMeccd1: mecc_data_[1] = value; return;
      case r2440::kSeccd: secc_data_ = value; return;
      case r2440::kStat:
        if (value & r2440::kRnbTransDetect) ready_edge_ = false;
        if (value & r2440::kIllegalAccess) illegal_access_ = false;
        return;
      case r2440::kSblk:
        if (!(nfcont_ & r2440::kLockTight)) sblk_ = value & 0xFFFFFF;
        return;
      case r2440::kEblk:
        if (!(nfcont_ & r2440::kLockTight)) eblk_ = value & 0xFFFFFF;
        return;
      default: break;
    }
    command_offset = r2440::kCmmd;
    address_offset = r2440::kAddr;
    data_offset = r2440::kData;
  }
  if (!ChipSelected()) return;
  const NandPart& part = chip_->part();
  if (offset == command_offset) {
    const std::uint8_t command = static_cast<std::uint8_t>(value);
    if (command == 0x80 || command == 0x60) {
      last_command_ = command;
      address_count_ = 0;
      row_ = 0;
    }
    if ((command == 0x10 && last_command_ == 0x80) || (command == 0xD0 && last_command_ == 0x60)) {
      if (!Unlocked(row_)) {
        illegal_access_ = true;
        return;
      }
    }
    chip_->Command(command);
  } else if (offset == address_offset) {
    const std::uint8_t address = static_cast<std::uint8_t>(value);
    // The row of a program (after the column cycles) or an erase (every cycle).
    const unsigned columns = last_command_ == 0x60 ? 0 : part.large_page ? 2 : 1;
    if (address_count_ >= columns && address_count_ - columns < 3) {
      row_ |= std::uint32_t{address} << (8 * (address_count_ - columns));
    }
    ++address_count_;
    chip_->Address(address);
  } else if (offset == data_offset) {
    const unsigned bytes = kind_ == NandControllerKind::S3C2410 ? 1 : count;
    for (unsigned k = 0; k < bytes; ++k) DataOut(static_cast<std::uint8_t>(value >> (8 * k)));
  } else {
    return;
  }
  if (!chip_->Ready()) was_ready_ = false;
}

bool NandControllerRegion::Read(std::uint32_t offset, unsigned count, AccessKind,
                                std::uint8_t* bytes) {
  const std::uint32_t word = offset & ~3u;
  std::uint32_t value = ReadRegister(word, count);
  for (unsigned k = 0; k < count; ++k) bytes[k] = static_cast<std::uint8_t>(value >> (8 * ((offset & 3) + k)));
  return true;
}

std::uint64_t NandControllerRegion::SteadyReadsFor(std::uint32_t offset, unsigned) {
  const std::uint32_t status = kind_ == NandControllerKind::S3C2410 ? r2410::kStat : r2440::kStat;
  if ((offset & ~3u) != status) return 0;
  if (!chip_->Ready()) return chip_->CyclesToReady();
  return was_ready_ ? kSteadyForever : 0;
}

bool NandControllerRegion::Write(std::uint32_t offset, unsigned count, const std::uint8_t* bytes) {
  std::uint32_t value = 0;
  for (unsigned k = 0; k < count; ++k) value |= std::uint32_t{bytes[k]} << (8 * k);
  WriteRegister(offset & ~3u, value, count);
  return true;
}

void NandControllerRegion::Peek(std::uint32_t, std::uint32_t count, std::uint8_t* bytes) const {
  std::memset(bytes, 0, count);
}

}  // namespace simboard
