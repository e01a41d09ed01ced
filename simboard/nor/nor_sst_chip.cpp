// SST command set (SST39VF040 and SST39VF160/1601 data sheets, software
// command sequence table). The unlock cycles go to 5555/2AAA in the chip's
// own units on x8 and x16 parts alike; address lines above A14 are not
// decoded in command cycles:
//   program          5555-AA 2AAA-55 5555-A0 WA-data
//   sector erase     5555-AA 2AAA-55 5555-80 5555-AA 2AAA-55 SA-30 (4 KiB)
//   block erase      5555-AA 2AAA-55 5555-80 5555-AA 2AAA-55 BA-50
//   chip erase       5555-AA 2AAA-55 5555-80 5555-AA 2AAA-55 5555-10
//   software ID      5555-AA 2AAA-55 5555-90; 0 manufacturer, 1 device
//   CFI query        5555-AA 2AAA-55 5555-98
//   ID or CFI exit   XXXX-F0, or 5555-AA 2AAA-55 5555-F0
// End of an operation shows only on DQ7 (data polling: the complement of the
// data's bit 7 while programming, 0 while erasing) and DQ6 (toggling). There
// is no DQ5: a chip that cannot finish keeps toggling, and a cell that will
// not program ends the operation with the wrong data in it.
#include <algorithm>

#include "simboard/nor/nor_flash.h"

namespace simboard {

namespace {

class SstChip : public NorChip {
 public:
  using NorChip::NorChip;

  std::uint32_t Read(std::uint32_t address) override {
    Settle();
    switch (state_) {
      case State::Busy:
        return polling_.Next(program_);
      case State::SoftwareId: {
        std::uint32_t index = CommandIndex(address) & 0xFF;
        if (index == 0) return description_.manufacturer_id & DataMask();
        if (index == 1) return description_.device_id & DataMask();
        return 0;
      }
      case State::Query:
        return QueryValue(address);
      default:
        return cells_.Load(address % cell_count_);
    }
  }

  void Write(std::uint32_t address, std::uint32_t data) override {
    Settle();
    if (state_ == State::Busy) return;  // no command is taken while busy
    std::uint32_t index = CommandIndex(address) & 0x7FFF;
    std::uint8_t command = static_cast<std::uint8_t>(data);
    if (state_ == State::ProgramData) {
      StartProgram(address, data);
      return;
    }
    if (command == 0xF0) {
      state_ = State::Read;
      return;
    }
    bool in_mode = state_ == State::SoftwareId || state_ == State::Query;
    switch (state_) {
      case State::Read:
      case State::SoftwareId:
      case State::Query:
        // The three-cycle exit starts like any other sequence; until it
        // completes the chip keeps showing its codes.
        if (command == 0xAA && index == 0x5555) {
          return_to_ = in_mode ? state_ : State::Read;
          state_ = State::Unlock1;
        }
        return;
      case State::Unlock1:
        state_ = command == 0x55 && index == 0x2AAA ? State::Unlock2 : return_to_;
        return;
      case State::Unlock2:
        state_ = return_to_;
        if (index != 0x5555 || return_to_ != State::Read) return;
        if (command == 0xA0) state_ = State::ProgramData;
        if (command == 0x80) state_ = State::EraseSetup;
        if (command == 0x90) state_ = State::SoftwareId;
        if (command == 0x98) state_ = State::Query;
        return;
      case State::EraseSetup:
        state_ = command == 0xAA && index == 0x5555 ? State::EraseUnlock1 : State::Read;
        return;
      case State::EraseUnlock1:
        state_ = command == 0x55 && index == 0x2AAA ? State::EraseUnlock2 : State::Read;
        return;
      case State::EraseUnlock2:
        state_ = State::Read;
        if (command == 0x10 && index == 0x5555) StartChipErase();
        if (command == 0x30) StartErase(SectorCells(address), timing_.sector_erase_cycles);
        if (command == 0x50 && description_.block_bytes != 0) {
          StartErase(BlockCells(address), timing_.sector_erase_cycles);
        }
        return;
      default:
        state_ = State::Read;
        return;
    }
  }

  void Reset() override {
    Settle();
    state_ = State::Read;
  }

  bool ReadsArray() override {
    Settle();
    return state_ != State::Busy && state_ != State::SoftwareId && state_ != State::Query;
  }

  void Settle() override {
    if (state_ == State::Busy && !stalled_ && Now() >= done_at_) state_ = State::Read;
  }

  std::uint64_t SteadyFor(std::uint32_t) override {
    Settle();
    if (state_ != State::Busy || stalled_) return kSteadyForever;
    return done_at_ - Now();
  }

 private:
  enum class State {
    Read, Unlock1, Unlock2, ProgramData, EraseSetup, EraseUnlock1, EraseUnlock2, SoftwareId,
    Query, Busy,
  };
  struct Cells {
    std::uint32_t first;
    std::uint32_t end;
  };

  Cells SectorCells(std::uint32_t address) const {
    Sector sector = SectorOf(address);
    return {sector.first_cell, sector.first_cell + sector.cells};
  }

  Cells BlockCells(std::uint32_t address) const {
    std::uint32_t cells = description_.block_bytes / (description_.width_bits / 8);
    std::uint32_t first = address % cell_count_ / cells * cells;
    return {first, std::min(first + cells, cell_count_)};
  }

  void BeginBusy(bool program, std::uint64_t cycles) {
    program_ = program;
    done_at_ = Now() + cycles;
    state_ = State::Busy;
  }

  void StartProgram(std::uint32_t address, std::uint32_t data) {
    bool changed = false;
    polling_.Program(data);
    stalled_ = false;
    ProgramCell(address, data, changed);
    BeginBusy(true, timing_.program_cycles);
  }

  void StartErase(Cells cells, std::uint64_t cycles) {
    stalled_ = no_erase_;
    if (!stalled_) {
      for (std::uint32_t cell = cells.first; cell < cells.end; ++cell) cells_.Store(cell, DataMask());
      ++counters_.sectors_erased;
    }
    BeginBusy(false, cycles);
  }

  void StartChipErase() {
    stalled_ = no_erase_;
    if (!stalled_) {
      for (std::size_t s = 0; s < SectorCount(); ++s) EraseSector(s);
    }
    BeginBusy(false, timing_.chip_erase_cycles);
  }

  State state_ = State::Read;
  State return_to_ = State::Read;
  bool program_ = false;
  bool stalled_ = false;  // an erase that will never finish (fault)
  DataPolling polling_;
  std::uint64_t done_at_ = 0;
};

}  // namespace

std::unique_ptr<NorChip> MakeSstChip(const NorDescription& description, NorCells& cells,
                                     const Clock& clock, const NorTiming& timing, bool no_erase,
                                     Counters& counters) {
  return std::make_unique<SstChip>(description, cells, clock, timing, no_erase, counters);
}

}  // namespace simboard
