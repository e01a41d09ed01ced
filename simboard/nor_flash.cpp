#include "simboard/nor_flash.h"

#include <algorithm>
#include <cstring>
#include <limits>

namespace simboard {

namespace {

constexpr std::uint64_t kForever = std::numeric_limits<std::uint64_t>::max();

// Smallest n with 2^n >= value (value >= 1).
std::uint8_t Log2Ceiling(std::uint64_t value) {
  std::uint8_t n = 0;
  while ((std::uint64_t{1} << n) < value && n < 63) ++n;
  return n;
}

// Runs of equal sector sizes, in address order: (count, size).
std::vector<std::pair<std::uint32_t, std::uint32_t>> EraseRegions(const std::vector<std::uint32_t>& sectors) {
  std::vector<std::pair<std::uint32_t, std::uint32_t>> runs;
  for (auto size : sectors) {
    if (!runs.empty() && runs.back().second == size) {
      ++runs.back().first;
    } else {
      runs.emplace_back(1, size);
    }
  }
  return runs;
}

}  // namespace

// ---------------------------------------------------------------------------
// The CFI query table (Common Flash Interface, query structure overview):
// 10h "QRY", 13h primary command set, 15h primary extended table address,
// 17h/19h alternate set and table, 1Bh-26h system interface (voltages and
// timeouts as powers of two), 27h device size 2^n bytes, 28h interface code,
// 2Ah multi-byte write size, 2Ch number of erase block regions, 2Dh four bytes
// per region (blocks - 1, block size / 256, both 16 bits little-endian).

std::vector<std::uint8_t> BuildCfiTable(const NorDescription& chip) {
  bool amd = chip.command_set == CommandSet::AMD;
  auto runs = EraseRegions(chip.sectors);
  std::uint32_t first = chip.sectors.empty() ? 0 : chip.sectors.front();
  std::uint32_t last = chip.sectors.empty() ? 0 : chip.sectors.back();
  bool top_boot = runs.size() > 1 && last < first;
  bool bottom_boot = runs.size() > 1 && first < last;
  // Top-boot parts of the AMD family list their regions from the small boot
  // sectors up and flag themselves "top boot" in the extended table, which
  // tells software to read the list backwards.
  if (amd && top_boot) std::reverse(runs.begin(), runs.end());

  std::size_t geometry_end = 0x2D + 4 * runs.size();
  std::size_t primary = amd ? std::max<std::size_t>(0x40, geometry_end) : geometry_end;
  std::vector<std::uint8_t> t(primary + 16, 0);
  auto put16 = [&](std::size_t at, std::uint32_t value) {
    t[at] = static_cast<std::uint8_t>(value);
    t[at + 1] = static_cast<std::uint8_t>(value >> 8);
  };

  t[0x10] = 'Q';
  t[0x11] = 'R';
  t[0x12] = 'Y';
  put16(0x13, amd ? 0x0002 : 0x0001);  // AMD/Fujitsu standard, Intel/Sharp extended
  put16(0x15, static_cast<std::uint32_t>(primary));
  put16(0x17, 0x0000);
  put16(0x19, 0x0000);
  t[0x1B] = 0x27;  // Vcc min 2.7 V (BCD volts)
  t[0x1C] = 0x36;  // Vcc max 3.6 V
  t[0x1D] = 0x00;  // no Vpp pin
  t[0x1E] = 0x00;
  // Typical times as 2^n, maximum as 2^m times typical: our times are exact,
  // so the maximum is twice the typical value.
  t[0x1F] = Log2Ceiling(std::max<std::uint32_t>(chip.program_time_us, 1));
  t[0x20] = 0x00;  // no write buffer
  t[0x21] = Log2Ceiling(std::max<std::uint32_t>(chip.sector_erase_time_ms, 1));
  t[0x22] = amd ? Log2Ceiling(std::max<std::uint32_t>(chip.chip_erase_time_ms, 1)) : 0x00;
  t[0x23] = 0x01;
  t[0x24] = 0x00;
  t[0x25] = 0x01;
  t[0x26] = amd ? 0x01 : 0x00;
  t[0x27] = Log2Ceiling(std::max<std::uint32_t>(chip.ChipSize(), 1));
  // Interface: 0 x8 only, 1 x16 only, 2 x8/x16, 3 x32 only.
  std::uint32_t interface = chip.width_bits == 32 ? 0x0003
                            : chip.width_bits == 16 || chip.byte_mode ? 0x0002
                                                                      : 0x0000;
  put16(0x28, interface);
  put16(0x2A, 0x0000);
  t[0x2C] = static_cast<std::uint8_t>(runs.size());
  for (std::size_t i = 0; i < runs.size(); ++i) {
    put16(0x2D + 4 * i, runs[i].first - 1);
    put16(0x2F + 4 * i, runs[i].second / 256);
  }

  std::size_t p = primary;
  t[p] = 'P';
  t[p + 1] = 'R';
  t[p + 2] = 'I';
  t[p + 3] = '1';
  if (amd) {
    // AMD extended query, version 1.1.
    t[p + 4] = '1';
    t[p + 5] = 0x00;   // unlock cycles required (address-sensitive unlock)
    t[p + 6] = 0x00;   // erase suspend not supported
    t[p + 7] = 0x00;   // no sector protection
    t[p + 8] = 0x00;   // no temporary sector unprotect
    t[p + 9] = 0x00;   // no protection scheme
    t[p + 10] = 0x00;  // no simultaneous operation
    t[p + 11] = 0x00;  // no burst mode
    t[p + 12] = 0x00;  // no page mode
    t[p + 13] = 0x00;  // no acceleration supply
    t[p + 14] = 0x00;
    t[p + 15] = top_boot ? 0x03 : bottom_boot ? 0x02 : 0x00;  // boot sector location
  } else {
    // Intel extended query, version 1.0.
    t[p + 4] = '0';
    // Optional features: bit 3 legacy lock/unlock (all blocks at once),
    // bit 5 instant individual block locking.
    put16(p + 5, chip.unlock_clears_all ? 0x0008 : 0x0020);
    put16(p + 7, 0x0000);
    t[p + 9] = 0x00;        // nothing supported after suspend
    put16(p + 10, chip.unlock_clears_all ? 0x0001 : 0x0003);  // block status: lock, lock-down
    t[p + 12] = 0x33;       // Vcc optimum 3.3 V
    t[p + 13] = 0x00;       // no Vpp
    t.resize(p + 14);
  }
  return t;
}

// ---------------------------------------------------------------------------
// Common chip parts

NorChip::NorChip(const NorDescription& description, NorCells& cells, const Clock& clock,
                 const NorTiming& timing, bool no_erase, Counters& counters)
    : description_(description),
      cells_(cells),
      clock_(clock),
      timing_(timing),
      no_erase_(no_erase),
      counters_(counters),
      cfi_(BuildCfiTable(description)) {
  std::uint32_t chip_bytes = description.width_bits / 8;
  std::uint32_t cell = 0;
  for (auto size : description.sectors) {
    sector_starts_.push_back(cell);
    cell += size / chip_bytes;
  }
  cell_count_ = cell;
}

NorChip::Sector NorChip::SectorOf(std::uint32_t address) const {
  address %= cell_count_;  // upper address lines beyond the chip are not decoded
  auto next = std::upper_bound(sector_starts_.begin(), sector_starts_.end(), address);
  std::size_t index = static_cast<std::size_t>(next - sector_starts_.begin()) - 1;
  std::uint32_t end = index + 1 < sector_starts_.size() ? sector_starts_[index + 1] : cell_count_;
  return {index, sector_starts_[index], end - sector_starts_[index]};
}

std::uint32_t NorChip::QueryValue(std::uint32_t address) const {
  std::uint32_t index = CommandIndex(address);
  return index < cfi_.size() ? cfi_[index] : 0;
}

bool NorChip::ProgramCell(std::uint32_t cell, std::uint32_t data, bool& changed) {
  cell %= cell_count_;
  data &= DataMask();
  std::uint32_t old = cells_.Load(cell);
  std::uint32_t stuck = cells_.Stuck(cell);
  std::uint32_t result = old & (data | stuck);
  changed = result != old;
  if (changed) cells_.Store(cell, result);
  counters_.bytes_programmed += description_.width_bits / 8;
  return result == data;
}

void NorChip::EraseSector(std::size_t sector) {
  std::uint32_t first = sector_starts_[sector];
  std::uint32_t end = sector + 1 < sector_starts_.size() ? sector_starts_[sector + 1] : cell_count_;
  std::uint32_t erased = DataMask();
  for (std::uint32_t cell = first; cell < end; ++cell) cells_.Store(cell, erased);
  ++counters_.sectors_erased;
}

// ---------------------------------------------------------------------------
// AMD/JEDEC command set (Am29LV160D data sheet, command definitions table):
//   reset            F0 (any address), or XXX-F0 after the unlock cycles
//   autoselect       555-AA 2AA-55 555-90; X00 manufacturer, X01 device,
//                    SA+X02 sector protection
//   program          555-AA 2AA-55 555-A0 PA-PD
//   unlock bypass    555-AA 2AA-55 555-20; then XXX-A0 PA-PD; exit XXX-90 XXX-00
//   chip erase       555-AA 2AA-55 555-80 555-AA 2AA-55 555-10
//   sector erase     555-AA 2AA-55 555-80 555-AA 2AA-55 SA-30 [SA-30 ...]
//   CFI query        55-98
// Addresses are command indexes (0xAAA/0x555 on the byte bus of an x8/x16
// part). While an embedded algorithm runs, reads return the status bits:
// DQ7 data polling, DQ6 toggle, DQ5 exceeded timing limits, DQ3 sector erase
// timer, DQ2 toggle in the erasing sectors.

namespace {

class AmdChip : public NorChip {
 public:
  using NorChip::NorChip;

  std::uint32_t Read(std::uint32_t address) override {
    Settle();
    switch (state_) {
      case State::Busy:
        return Status(address);
      case State::Autoselect:
        return Autoselect(address);
      case State::Query:
        return QueryValue(address);
      default:
        return cells_.Load(address % cell_count_);
    }
  }

  void Write(std::uint32_t address, std::uint32_t data) override {
    Settle();
    std::uint32_t index = CommandIndex(address) & 0x7FF;
    std::uint8_t command = static_cast<std::uint8_t>(data);
    switch (state_) {
      case State::Busy:
        if (operation_ == Operation::SectorErase && Now() < window_end_) {
          // Within the sector erase time-out more sectors may be added; any
          // other command abandons the erase.
          if (command == 0x30) {
            AddEraseSector(address);
          } else {
            state_ = State::Read;
          }
        } else if (command == 0xF0 && failed_ && Now() >= done_at_) {
          // After DQ5 went high only a reset brings the array back.
          state_ = bypass_ ? State::Bypass : State::Read;
        }
        return;
      case State::ProgramData:
        StartProgram(address, data);
        return;
      case State::Bypass:
        if (command == 0xA0) {
          state_ = State::ProgramData;
        } else if (command == 0x90) {
          state_ = State::BypassExit;
        }
        return;
      case State::BypassExit:
        if (command == 0x00) {
          bypass_ = false;
          state_ = State::Read;
        } else {
          state_ = State::Bypass;
        }
        return;
      case State::Autoselect:
      case State::Query:
        if (command == 0xF0) {
          state_ = state_ == State::Query && query_from_autoselect_ ? State::Autoselect : State::Read;
        } else if (command == 0x98 && index == 0x55) {
          query_from_autoselect_ = state_ == State::Autoselect;
          state_ = State::Query;
        }
        return;
      default:
        break;
    }
    if (command == 0xF0) {
      state_ = State::Read;
      return;
    }
    switch (state_) {
      case State::Read:
        if (command == 0xAA && index == 0x555) {
          state_ = State::Unlock1;
        } else if (command == 0x98 && index == 0x55) {
          query_from_autoselect_ = false;
          state_ = State::Query;
        }
        return;
      case State::Unlock1:
        state_ = command == 0x55 && index == 0x2AA ? State::Unlock2 : State::Read;
        return;
      case State::Unlock2:
        state_ = State::Read;
        if (index != 0x555) return;
        if (command == 0x90) state_ = State::Autoselect;
        if (command == 0xA0) state_ = State::ProgramData;
        if (command == 0x80) state_ = State::EraseSetup;
        if (command == 0x20) {
          bypass_ = true;
          state_ = State::Bypass;
        }
        return;
      case State::EraseSetup:
        state_ = command == 0xAA && index == 0x555 ? State::EraseUnlock1 : State::Read;
        return;
      case State::EraseUnlock1:
        state_ = command == 0x55 && index == 0x2AA ? State::EraseUnlock2 : State::Read;
        return;
      case State::EraseUnlock2:
        state_ = State::Read;
        if (command == 0x10 && index == 0x555) StartChipErase();
        if (command == 0x30) StartSectorErase(address);
        return;
      default:
        state_ = State::Read;
        return;
    }
  }

  void Reset() override {
    Settle();
    state_ = State::Read;
    bypass_ = false;
  }

  bool ReadsArray() override {
    Settle();
    return state_ != State::Busy && state_ != State::Autoselect && state_ != State::Query;
  }

  void Settle() override {
    if (state_ != State::Busy) return;
    std::uint64_t now = Now();
    if (operation_ == Operation::SectorErase && !erase_started_ && now >= window_end_) {
      erase_started_ = true;
      if (!failed_) {
        for (std::size_t s = 0; s < erasing_.size(); ++s) {
          if (erasing_[s]) EraseSector(s);
        }
      }
    }
    if (!failed_ && now >= done_at_ &&
        (operation_ != Operation::SectorErase || erase_started_)) {
      state_ = bypass_ ? State::Bypass : State::Read;
    }
  }

 private:
  enum class State {
    Read, Unlock1, Unlock2, Autoselect, Query, ProgramData, EraseSetup, EraseUnlock1,
    EraseUnlock2, Bypass, BypassExit, Busy,
  };
  enum class Operation { Program, SectorErase, ChipErase };

  std::uint32_t Autoselect(std::uint32_t address) const {
    switch (CommandIndex(address) & 0xFF) {
      case 0x00: return description_.manufacturer_id & DataMask();
      case 0x01: return description_.device_id & DataMask();
      case 0x02: return 0x00;  // sector not protected
      default: return 0x00;
    }
  }

  std::uint32_t Status(std::uint32_t address) {
    std::uint64_t now = Now();
    std::uint32_t status = 0;
    toggle_ = !toggle_;
    if (toggle_) status |= 0x40;  // DQ6 toggles on every read
    if (failed_ && now >= done_at_) status |= 0x20;  // DQ5: exceeded timing limits
    if (operation_ == Operation::Program) {
      status |= ~program_data_ & 0x80;  // DQ7: complement of the data being programmed
      status |= 0x04;
    } else {
      // DQ7 reads 0 while erasing; DQ3 is 1 once the erase has begun.
      if (operation_ == Operation::ChipErase || now >= window_end_) status |= 0x08;
      bool in_erasing = operation_ == Operation::ChipErase || erasing_[SectorOf(address).index];
      if (in_erasing) {
        dq2_ = !dq2_;
        if (dq2_) status |= 0x04;
      } else {
        status |= 0x04;
      }
    }
    return status;
  }

  void StartProgram(std::uint32_t address, std::uint32_t data) {
    bool changed = false;
    operation_ = Operation::Program;
    program_data_ = data;
    failed_ = !ProgramCell(address, data, changed);
    done_at_ = Now() + timing_.program_cycles;
    state_ = State::Busy;
  }

  void StartChipErase() {
    operation_ = Operation::ChipErase;
    failed_ = no_erase_;
    if (!failed_) {
      for (std::size_t s = 0; s < SectorCount(); ++s) EraseSector(s);
    }
    done_at_ = Now() + timing_.chip_erase_cycles;
    window_end_ = Now();
    state_ = State::Busy;
  }

  void StartSectorErase(std::uint32_t address) {
    operation_ = Operation::SectorErase;
    erasing_.assign(SectorCount(), false);
    sector_count_ = 0;
    erase_started_ = false;
    failed_ = no_erase_;
    state_ = State::Busy;
    AddEraseSector(address);
  }

  void AddEraseSector(std::uint32_t address) {
    std::size_t s = SectorOf(address).index;
    if (!erasing_[s]) {
      erasing_[s] = true;
      ++sector_count_;
    }
    window_end_ = Now() + timing_.erase_window_cycles;
    done_at_ = window_end_ + sector_count_ * timing_.sector_erase_cycles;
  }

  State state_ = State::Read;
  Operation operation_ = Operation::Program;
  bool bypass_ = false;
  bool query_from_autoselect_ = false;
  bool failed_ = false;
  bool toggle_ = false;
  bool dq2_ = false;
  bool erase_started_ = false;
  std::uint32_t program_data_ = 0;
  std::uint64_t done_at_ = 0;
  std::uint64_t window_end_ = 0;
  std::vector<bool> erasing_;
  std::size_t sector_count_ = 0;
};

// ---------------------------------------------------------------------------
// Intel command set (28F128J3 and 28F320C3 data sheets, bus operations and
// command definitions):
//   FF read array, 90 read identifier (00 manufacturer, 01 device, BA+02
//   block lock configuration), 70 read status, 50 clear status, 98 query,
//   40 or 10 then data: word program, 20 then D0 at the block: block erase,
//   60 then 01: lock block, 60 then D0: unlock, 60 then 2F: lock down.
// Program and erase leave the chip reading status. Status register: SR7
// write state machine ready, SR5 erase error, SR4 program error (both: bad
// command sequence), SR1 block locked.

class IntelChip : public NorChip {
 public:
  IntelChip(const NorDescription& description, NorCells& cells, const Clock& clock,
            const NorTiming& timing, bool no_erase, Counters& counters)
      : NorChip(description, cells, clock, timing, no_erase, counters) {
    Reset();
  }

  std::uint32_t Read(std::uint32_t address) override {
    if (Busy()) return status_ & 0x7F;
    switch (mode_) {
      case Mode::Status:
        return status_ | 0x80;
      case Mode::Identifier: {
        std::uint32_t index = CommandIndex(address);
        if (index == 0) return description_.manufacturer_id & DataMask();
        if (index == 1) return description_.device_id & DataMask();
        Sector sector = SectorOf(address);
        if (index - CommandIndex(sector.first_cell) == 2) return locks_[sector.index];
        return 0;
      }
      case Mode::Query:
        return QueryValue(address);
      case Mode::Array:
        break;
    }
    return cells_.Load(address % cell_count_);
  }

  void Write(std::uint32_t address, std::uint32_t data) override {
    std::uint8_t command = static_cast<std::uint8_t>(data);
    if (Busy()) {
      // The state machine takes no new work until it is ready; reads show
      // the status meanwhile.
      if (command == 0x70) mode_ = Mode::Status;
      return;
    }
    Pending pending = pending_;
    pending_ = Pending::None;
    switch (pending) {
      case Pending::Program:
        Program(address, data);
        return;
      case Pending::Erase:
        mode_ = Mode::Status;
        if (command == 0xD0) {
          Erase(address);
        } else {
          status_ |= 0x30;  // command sequence error
        }
        return;
      case Pending::Lock:
        mode_ = Mode::Status;
        Lock(address, command);
        return;
      case Pending::None:
        break;
    }
    switch (command) {
      case 0xFF: mode_ = Mode::Array; break;
      case 0x90: mode_ = Mode::Identifier; break;
      case 0x70: mode_ = Mode::Status; break;
      case 0x98: mode_ = Mode::Query; break;
      case 0x50: status_ &= static_cast<std::uint8_t>(~0x3A); break;
      case 0x40:
      case 0x10: pending_ = Pending::Program; mode_ = Mode::Status; break;
      case 0x20: pending_ = Pending::Erase; mode_ = Mode::Status; break;
      case 0x60: pending_ = Pending::Lock; mode_ = Mode::Status; break;
      default: break;
    }
  }

  void Reset() override {
    mode_ = Mode::Array;
    pending_ = Pending::None;
    status_ = 0;
    busy_until_ = 0;
    locks_.assign(SectorCount(), description_.locked_at_reset ? 0x01 : 0x00);
  }

  bool ReadsArray() override { return !Busy() && mode_ == Mode::Array; }
  void Settle() override {}

 private:
  enum class Mode { Array, Identifier, Status, Query };
  enum class Pending { None, Program, Erase, Lock };

  bool Busy() const { return Now() < busy_until_; }

  void Program(std::uint32_t address, std::uint32_t data) {
    mode_ = Mode::Status;
    Sector sector = SectorOf(address);
    if (locks_[sector.index] & 0x01) {
      status_ |= 0x12;  // program error: block locked
      return;
    }
    bool changed = false;
    std::uint32_t old = cells_.Load(address % cell_count_);
    ProgramCell(address, data, changed);
    // The chip only reports bits that it was asked to clear and could not.
    if ((cells_.Load(address % cell_count_) & DataMask()) != (old & data & DataMask())) status_ |= 0x10;
    busy_until_ = Now() + timing_.program_cycles;
  }

  void Erase(std::uint32_t address) {
    Sector sector = SectorOf(address);
    if (locks_[sector.index] & 0x01) {
      status_ |= 0x22;  // erase error: block locked
      return;
    }
    if (no_erase_) {
      busy_until_ = kForever;
      return;
    }
    EraseSector(sector.index);
    busy_until_ = Now() + timing_.sector_erase_cycles;
  }

  void Lock(std::uint32_t address, std::uint8_t command) {
    Sector sector = SectorOf(address);
    switch (command) {
      case 0x01:
        locks_[sector.index] |= 0x01;
        break;
      case 0x2F:
        locks_[sector.index] |= 0x03;
        break;
      case 0xD0:
        if (description_.unlock_clears_all) {
          for (auto& lock : locks_) {
            if (!(lock & 0x02)) lock = 0;
          }
        } else if (!(locks_[sector.index] & 0x02)) {
          locks_[sector.index] = 0;
        }
        break;
      default:
        status_ |= 0x30;  // command sequence error
        break;
    }
  }

  Mode mode_ = Mode::Array;
  Pending pending_ = Pending::None;
  std::uint8_t status_ = 0;
  std::uint64_t busy_until_ = 0;
  std::vector<std::uint8_t> locks_;  // bit 0 locked, bit 1 locked down
};

}  // namespace

std::unique_ptr<NorChip> MakeNorChip(const NorDescription& description, NorCells& cells,
                                     const Clock& clock, const NorTiming& timing, bool no_erase,
                                     Counters& counters) {
  if (description.command_set == CommandSet::Intel) {
    return std::make_unique<IntelChip>(description, cells, clock, timing, no_erase, counters);
  }
  return std::make_unique<AmdChip>(description, cells, clock, timing, no_erase, counters);
}

// ---------------------------------------------------------------------------
// The bank

// One chip's cells within the region's bytes: chip `chip` drives data lines
// chip*width .. chip*width + width - 1 of each bus word.
class NorRegion::ChipCells : public NorCells {
 public:
  ChipCells(NorRegion& region, unsigned chip) : region_(region), chip_(chip) {}

  std::uint32_t Load(std::uint32_t cell) const override {
    std::uint32_t value = 0;
    for (unsigned b = 0; b < region_.chip_bytes_; ++b) {
      value |= std::uint32_t{region_.data_[Offset(cell, b)]} << (8 * b);
    }
    return value;
  }

  void Store(std::uint32_t cell, std::uint32_t value) override {
    for (unsigned b = 0; b < region_.chip_bytes_; ++b) {
      region_.data_[Offset(cell, b)] = static_cast<std::uint8_t>(value >> (8 * b));
    }
  }

  std::uint32_t Stuck(std::uint32_t cell) const override {
    if (region_.stuck_.empty()) return 0;
    std::uint32_t value = 0;
    for (unsigned b = 0; b < region_.chip_bytes_; ++b) {
      auto found = region_.stuck_.find(static_cast<std::uint32_t>(Offset(cell, b)));
      if (found != region_.stuck_.end()) value |= std::uint32_t{found->second} << (8 * b);
    }
    return value;
  }

 private:
  std::size_t Offset(std::uint32_t cell, unsigned chip_byte) const {
    return region_.LaneOffset(cell, chip_ * region_.chip_bytes_ + chip_byte);
  }

  NorRegion& region_;
  unsigned chip_;
};

NorRegion::NorRegion(const RegionDescription& description, bool big_endian)
    : Region(description.section, description.base, description.size),
      description_(description),
      big_endian_(big_endian),
      bus_bytes_(description.nor.BusBytes()),
      chip_bytes_(description.nor.width_bits / 8) {}

NorRegion::~NorRegion() {
  Settle();
  chips_.clear();
}

// Lane 0 carries data lines D0-D7. On a little-endian bus the byte at the
// lowest address of a bus word rides on lane 0; on a big-endian bus on the
// highest lane.
std::size_t NorRegion::LaneOffset(std::uint32_t bus_word, unsigned lane) const {
  unsigned k = big_endian_ ? bus_bytes_ - 1 - lane : lane;
  return std::size_t{bus_word} * bus_bytes_ + k;
}

std::unique_ptr<NorRegion> NorRegion::Create(const RegionDescription& description, bool big_endian,
                                             std::uint32_t clock_khz, const FaultDescription& faults,
                                             const Clock& clock, Counters& counters,
                                             std::string& error) {
  std::unique_ptr<NorRegion> region(new NorRegion(description, big_endian));
  region->counters_ = &counters;
  std::size_t size = static_cast<std::size_t>(description.size);
  const auto& image = description.nor.image;
  if (image.empty()) {
    region->memory_.assign(size, 0xFF);
    region->data_ = region->memory_.data();
  } else {
    if (!region->file_.Open(image, platform::MappedFile::OpenMode::OpenOrCreate)) {
      error = "[" + description.section + "] Image: cannot open or create " + image.string();
      return nullptr;
    }
    std::uint64_t old_size = region->file_.Size().value_or(0);
    if (!region->file_.Map(size)) {
      error = "[" + description.section + "] Image: cannot map " + image.string();
      return nullptr;
    }
    region->data_ = reinterpret_cast<std::uint8_t*>(region->file_.data());
    // A new or short image starts erased.
    if (old_size < size) std::memset(region->data_ + old_size, 0xFF, size - old_size);
  }
  for (const auto& stuck : faults.stuck_bits) {
    if (!region->Contains(stuck.address, 1)) continue;
    std::uint8_t bytes[4];
    SplitValue(stuck.mask, region->bus_bytes_, big_endian, bytes);
    for (unsigned k = 0; k < region->bus_bytes_; ++k) {
      if (bytes[k]) region->stuck_[stuck.address - description.base + k] |= bytes[k];
    }
  }
  NorTiming timing;
  std::uint64_t khz = clock_khz;
  timing.program_cycles = description.nor.program_time_us * khz / 1000;
  timing.sector_erase_cycles = description.nor.sector_erase_time_ms * khz;
  timing.chip_erase_cycles = description.nor.chip_erase_time_ms * khz;
  timing.erase_window_cycles = 50 * khz / 1000;  // 50 us sector erase time-out
  for (unsigned c = 0; c < description.nor.chips; ++c) {
    region->cells_.push_back(std::make_unique<ChipCells>(*region, c));
    region->chips_.push_back(MakeNorChip(region->description_.nor, *region->cells_.back(), clock,
                                         timing, faults.no_erase, counters));
  }
  return region;
}

bool NorRegion::Read(std::uint32_t offset, unsigned count, AccessKind, std::uint8_t* bytes) {
  ++counters_->flash_reads;
  bool plain = true;
  for (auto& chip : chips_) plain = plain && chip->ReadsArray();
  if (plain) {
    std::memcpy(bytes, data_ + offset, count);
    return true;
  }
  // Each bus word is one read cycle for every chip; the bytes come from the
  // lanes of the chips' answers.
  std::uint32_t word = offset / bus_bytes_;
  std::uint32_t values[4] = {};
  bool read[4] = {};
  for (unsigned i = 0; i < count; ++i) {
    std::uint32_t at = offset + i;
    if (at / bus_bytes_ != word) {
      word = at / bus_bytes_;
      std::fill(std::begin(read), std::end(read), false);
    }
    unsigned k = at % bus_bytes_;
    unsigned lane = big_endian_ ? bus_bytes_ - 1 - k : k;
    unsigned chip = lane / chip_bytes_;
    if (!read[chip]) {
      values[chip] = chips_[chip]->Read(word);
      read[chip] = true;
    }
    bytes[i] = static_cast<std::uint8_t>(values[chip] >> (8 * (lane % chip_bytes_)));
  }
  return true;
}

bool NorRegion::Write(std::uint32_t offset, unsigned count, const std::uint8_t* bytes) {
  ++counters_->flash_writes;
  // Gather each chip's data lines per bus word; lanes the access does not
  // drive read as 1s (the data bus floats high).
  std::uint32_t i = 0;
  while (i < count) {
    std::uint32_t word = (offset + i) / bus_bytes_;
    std::uint32_t values[4] = {0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF};
    bool driven[4] = {};
    for (; i < count && (offset + i) / bus_bytes_ == word; ++i) {
      unsigned k = (offset + i) % bus_bytes_;
      unsigned lane = big_endian_ ? bus_bytes_ - 1 - k : k;
      unsigned chip = lane / chip_bytes_;
      unsigned shift = 8 * (lane % chip_bytes_);
      values[chip] = (values[chip] & ~(0xFFu << shift)) | (std::uint32_t{bytes[i]} << shift);
      driven[chip] = true;
    }
    for (unsigned c = 0; c < chips_.size(); ++c) {
      if (driven[c]) chips_[c]->Write(word, values[c]);
    }
  }
  return true;
}

void NorRegion::Peek(std::uint32_t offset, std::uint32_t count, std::uint8_t* bytes) const {
  std::memcpy(bytes, data_ + offset, count);
}

void NorRegion::Poke(std::uint32_t offset, std::uint32_t count, const std::uint8_t* bytes) {
  std::memcpy(data_ + offset, bytes, count);
}

void NorRegion::Reset() {
  for (auto& chip : chips_) chip->Reset();
}

void NorRegion::Settle() {
  for (auto& chip : chips_) chip->Settle();
}

}  // namespace simboard
