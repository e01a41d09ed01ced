// AMD/JEDEC command set (Am29LV160D data sheet, command definitions table):
//   reset            F0 (any address), or XXX-F0 after the unlock cycles
//   autoselect       555-AA 2AA-55 555-90; X00 manufacturer, X01 device,
//                    SA+X02 sector protection
//   program          555-AA 2AA-55 555-A0 PA-PD
//   unlock bypass    555-AA 2AA-55 555-20; then XXX-A0 PA-PD; exit XXX-90 XXX-00
//   chip erase       555-AA 2AA-55 555-80 555-AA 2AA-55 555-10
//   sector erase     555-AA 2AA-55 555-80 555-AA 2AA-55 SA-30 [SA-30 ...]
//   CFI query        55-98
// Parts with persistent protection bits (S29GL-P data sheet, non-volatile
// sector protection command set) add:
//   PPB entry        555-AA 2AA-55 555-C0; reads then give DQ0 = 0 for a
//                    protected sector at SA, 1 for an unprotected one
//   PPB program      XXX-A0 SA-00 (DQ6 toggles until done)
//   all PPB erase    XXX-80 00-30
//   PPB exit         XXX-90 XXX-00 (a reset does not leave the command set)
// A protected sector refuses program (DQ7 polling for about 1 us) and erase
// (toggling for about 100 us); a chip erase skips it.
// Addresses are command indexes (0xAAA/0x555 on the byte bus of an x8/x16
// part). While an embedded algorithm runs, reads return the status bits:
// DQ7 data polling, DQ6 toggle, DQ5 exceeded timing limits, DQ3 sector erase
// timer, DQ2 toggle in the erasing sectors.
#include <vector>

#include "simboard/nor/nor_flash.h"

namespace simboard {

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
      case State::Ppb:
      case State::PpbProgramSetup:
      case State::PpbEraseSetup:
      case State::PpbExit:
        return cells_.Protected(SectorOf(address).index) ? 0x00 : 0x01;
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
          state_ = after_busy_;
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
      case State::Ppb:
        if (command == 0xA0) state_ = State::PpbProgramSetup;
        if (command == 0x80) state_ = State::PpbEraseSetup;
        if (command == 0x90) state_ = State::PpbExit;
        return;
      case State::PpbProgramSetup:
        state_ = State::Ppb;
        if (command == 0x00) StartPpb(Operation::PpbProgram, address);
        return;
      case State::PpbEraseSetup:
        state_ = State::Ppb;
        if (command == 0x30 && index == 0) StartPpb(Operation::PpbErase, address);
        return;
      case State::PpbExit:
        state_ = command == 0x00 ? State::Read : State::Ppb;
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
        if (command == 0xC0 && description_.persistent_protection) state_ = State::Ppb;
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
    switch (state_) {
      case State::Busy:
      case State::Autoselect:
      case State::Query:
      case State::Ppb:
      case State::PpbProgramSetup:
      case State::PpbEraseSetup:
      case State::PpbExit:
        return false;
      default:
        return true;
    }
  }

  // Busy: the status changes when the sector window closes (DQ3), when the
  // operation ends or when DQ5 rises; DQ6 and DQ2 only alternate till then.
  std::uint64_t SteadyFor(std::uint32_t) override {
    Settle();
    if (state_ != State::Busy) return kSteadyForever;
    const std::uint64_t now = Now();
    std::uint64_t until = kSteadyForever;
    if (operation_ == Operation::SectorErase && now < window_end_) until = window_end_;
    if (now < done_at_) until = std::min(until, done_at_);
    return until == kSteadyForever ? until : until - now;
  }

  void Settle() override {
    if (state_ != State::Busy) return;
    std::uint64_t now = Now();
    if (operation_ == Operation::SectorErase && !erase_started_ && now >= window_end_) {
      erase_started_ = true;
      bool any = false;
      for (std::size_t s = 0; s < erasing_.size(); ++s) {
        if (erasing_[s] && cells_.Protected(s)) erasing_[s] = false;  // protected: skipped
        any = any || erasing_[s];
      }
      if (!any) {
        // Every selected sector is protected: the chip toggles a while and
        // goes back to reading, erasing nothing.
        failed_ = false;
        done_at_ = window_end_ + timing_.refused_erase_cycles;
      } else if (!failed_) {
        for (std::size_t s = 0; s < erasing_.size(); ++s) {
          if (erasing_[s]) EraseSector(s);
        }
      }
    }
    if (!failed_ && now >= done_at_ &&
        (operation_ != Operation::SectorErase || erase_started_)) {
      state_ = after_busy_;
    }
  }

 private:
  enum class State {
    Read, Unlock1, Unlock2, Autoselect, Query, ProgramData, EraseSetup, EraseUnlock1,
    EraseUnlock2, Bypass, BypassExit, Ppb, PpbProgramSetup, PpbEraseSetup, PpbExit, Busy,
  };
  enum class Operation { Program, SectorErase, ChipErase, PpbProgram, PpbErase };

  std::uint32_t Autoselect(std::uint32_t address) const {
    switch (CommandIndex(address) & 0xFF) {
      case 0x00: return description_.manufacturer_id & DataMask();
      case 0x01: return description_.device_id & DataMask();
      case 0x02: return cells_.Protected(SectorOf(address).index) ? 0x01 : 0x00;
      default: return 0x00;
    }
  }

  std::uint32_t Status(std::uint32_t address) {
    std::uint64_t now = Now();
    std::uint32_t status = polling_.Next(operation_ == Operation::Program);
    if (failed_ && now >= done_at_) status |= 0x20;  // DQ5: exceeded timing limits
    switch (operation_) {
      case Operation::Program:
        status |= 0x04;
        break;
      case Operation::PpbProgram:
      case Operation::PpbErase:
        break;
      case Operation::SectorErase:
      case Operation::ChipErase: {
        // DQ7 reads 0 while erasing; DQ3 is 1 once the erase has begun.
        if (operation_ == Operation::ChipErase || now >= window_end_) status |= 0x08;
        bool in_erasing = operation_ == Operation::ChipErase || erasing_[SectorOf(address).index];
        if (in_erasing) {
          dq2_ = !dq2_;
          if (dq2_) status |= 0x04;
        } else {
          status |= 0x04;
        }
        break;
      }
    }
    return status;
  }

  void BeginBusy(Operation operation, std::uint64_t cycles) {
    operation_ = operation;
    after_busy_ = bypass_ ? State::Bypass : State::Read;
    done_at_ = Now() + cycles;
    state_ = State::Busy;
  }

  void StartProgram(std::uint32_t address, std::uint32_t data) {
    polling_.Program(data);
    if (cells_.Protected(SectorOf(address).index)) {
      // Refused: DQ7 polling shows a moment, then the array as it was.
      failed_ = false;
      BeginBusy(Operation::Program, timing_.refused_program_cycles);
      return;
    }
    bool changed = false;
    failed_ = !ProgramCell(address, data, changed);
    BeginBusy(Operation::Program, timing_.program_cycles);
  }

  void StartChipErase() {
    failed_ = no_erase_;
    bool any = false;
    for (std::size_t s = 0; s < SectorCount(); ++s) {
      if (cells_.Protected(s)) continue;
      any = true;
      if (!failed_) EraseSector(s);
    }
    if (!any) failed_ = false;
    BeginBusy(Operation::ChipErase, any ? timing_.chip_erase_cycles : timing_.refused_erase_cycles);
    window_end_ = Now();
  }

  void StartSectorErase(std::uint32_t address) {
    erasing_.assign(SectorCount(), false);
    sector_count_ = 0;
    erase_started_ = false;
    failed_ = no_erase_;
    BeginBusy(Operation::SectorErase, 0);
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

  // Programming one protection bit or erasing all of them; the chip stays in
  // the protection command set afterwards.
  void StartPpb(Operation operation, std::uint32_t address) {
    failed_ = false;
    if (operation == Operation::PpbProgram) {
      cells_.SetProtected(SectorOf(address).index, true);
    } else {
      for (std::size_t s = 0; s < SectorCount(); ++s) cells_.SetProtected(s, false);
    }
    BeginBusy(operation, operation == Operation::PpbProgram ? timing_.program_cycles
                                                            : timing_.sector_erase_cycles);
    after_busy_ = State::Ppb;
  }

  State state_ = State::Read;
  State after_busy_ = State::Read;
  Operation operation_ = Operation::Program;
  bool bypass_ = false;
  bool query_from_autoselect_ = false;
  bool failed_ = false;
  bool dq2_ = false;
  bool erase_started_ = false;
  DataPolling polling_;
  std::uint64_t done_at_ = 0;
  std::uint64_t window_end_ = 0;
  std::vector<bool> erasing_;
  std::size_t sector_count_ = 0;
};

}  // namespace

std::unique_ptr<NorChip> MakeAmdChip(const NorDescription& description, NorCells& cells,
                                     const Clock& clock, const NorTiming& timing, bool no_erase,
                                     Counters& counters) {
  return std::make_unique<AmdChip>(description, cells, clock, timing, no_erase, counters);
}

}  // namespace simboard
