// Intel command set (28F128J3 and 28F320C3 data sheets, bus operations and
// command definitions):
//   FF read array, 90 read identifier (00 manufacturer, 01 device, BA+02
//   block lock configuration), 70 read status, 50 clear status, 98 query,
//   40 or 10 then data: word program, 20 then D0 at the block: block erase,
//   60 then 01: lock block, 60 then D0: unlock, 60 then 2F: lock down,
//   E8 at the block, then the count N-1, N address/data cycles and D0:
//   buffered write (J3 parts; the cells lie in one block and one
//   buffer-aligned window), B0 while busy: suspend the erase or program, D0:
//   resume it.
// Program and erase leave the chip reading status. Status register: SR7
// write state machine ready, SR6 erase suspended, SR5 erase error, SR4
// program error (SR5 and SR4 both: bad command sequence), SR2 program
// suspended, SR1 block locked (with SR4 or SR5: the operation was refused).
#include <vector>

#include "simboard/nor/nor_flash.h"

namespace simboard {

namespace {

constexpr std::uint8_t kEraseSuspended = 0x40;
constexpr std::uint8_t kEraseError = 0x20;
constexpr std::uint8_t kProgramError = 0x10;
constexpr std::uint8_t kSequenceError = kEraseError | kProgramError;
constexpr std::uint8_t kProgramSuspended = 0x04;
constexpr std::uint8_t kBlockLocked = 0x02;

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
      if (command == 0xB0) Suspend();
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
          status_ |= kSequenceError;
        }
        return;
      case Pending::Lock:
        mode_ = Mode::Status;
        Lock(address, command);
        return;
      case Pending::BufferCount:
        BufferCount(address, data);
        return;
      case Pending::BufferData:
        BufferData(address, data);
        return;
      case Pending::BufferConfirm:
        BufferConfirm(command);
        return;
      case Pending::None:
        break;
    }
    switch (command) {
      case 0xFF: mode_ = Mode::Array; break;
      case 0x90: mode_ = Mode::Identifier; break;
      case 0x70: mode_ = Mode::Status; break;
      case 0x98: mode_ = Mode::Query; break;
      case 0x50: status_ &= static_cast<std::uint8_t>(~(kSequenceError | 0x08 | kBlockLocked)); break;
      case 0x40:
      case 0x10: Begin(Pending::Program, suspended_ != Operation::Program); break;
      case 0x20: Begin(Pending::Erase, suspended_ == Operation::None); break;
      case 0x60: Begin(Pending::Lock, suspended_ == Operation::None); break;
      case 0xE8:
        if (description_.write_buffer_bytes == 0) break;  // a part without a buffer
        buffer_sector_ = SectorOf(address).index;
        Begin(Pending::BufferCount, suspended_ != Operation::Program);
        break;
      case 0xB0: mode_ = Mode::Status; break;  // nothing running: only the status shows
      case 0xD0:
        if (suspended_ != Operation::None) Resume();
        break;
      default: break;
    }
  }

  void Reset() override {
    mode_ = Mode::Array;
    pending_ = Pending::None;
    status_ = 0;
    busy_until_ = 0;
    running_ = Operation::None;
    suspended_ = Operation::None;
    locks_.assign(SectorCount(), description_.locked_at_reset ? 0x01 : 0x00);
  }

  bool ReadsArray() override { return !Busy() && mode_ == Mode::Array; }
  void Settle() override {}

  // The status register changes only when the state machine becomes ready.
  std::uint64_t SteadyFor(std::uint32_t) override {
    if (!Busy() || busy_until_ == kNever) return kSteadyForever;
    return busy_until_ - Now();
  }

 private:
  enum class Mode { Array, Identifier, Status, Query };
  enum class Pending { None, Program, Erase, Lock, BufferCount, BufferData, BufferConfirm };
  enum class Operation { None, Program, Erase };

  bool Busy() const { return Now() < busy_until_; }

  // The first cycle of a two-cycle command; refused with a sequence error
  // when a suspended operation does not allow it.
  void Begin(Pending pending, bool allowed) {
    mode_ = Mode::Status;
    if (allowed) {
      pending_ = pending;
    } else {
      status_ |= kSequenceError;
    }
  }

  void StartBusy(Operation operation, std::uint64_t cycles) {
    running_ = operation;
    busy_until_ = cycles == kNever ? kNever : Now() + cycles;
  }

  void Suspend() {
    // Only an erase or a program that is not itself running inside a
    // suspended erase can be suspended.
    if (running_ == Operation::None || suspended_ != Operation::None) return;
    suspended_ = running_;
    remaining_ = busy_until_ == kNever ? kNever : busy_until_ - Now();
    busy_until_ = Now();
    status_ |= suspended_ == Operation::Erase ? kEraseSuspended : kProgramSuspended;
    mode_ = Mode::Status;
  }

  void Resume() {
    status_ &= static_cast<std::uint8_t>(~(kEraseSuspended | kProgramSuspended));
    StartBusy(suspended_, remaining_);
    suspended_ = Operation::None;
    mode_ = Mode::Status;
  }

  bool Locked(std::uint32_t address) const { return locks_[SectorOf(address).index] & 0x01; }

  // Programs one cell; SR4 when a bit it was asked to clear stays 1.
  void ProgramChecked(std::uint32_t address, std::uint32_t data) {
    bool changed = false;
    std::uint32_t old = cells_.Load(address % cell_count_);
    ProgramCell(address, data, changed);
    std::uint32_t wanted = old & data & DataMask();
    if ((cells_.Load(address % cell_count_) & DataMask()) != wanted) status_ |= kProgramError;
  }

  void Program(std::uint32_t address, std::uint32_t data) {
    mode_ = Mode::Status;
    if (Locked(address)) {
      status_ |= kProgramError | kBlockLocked;
      return;
    }
    ProgramChecked(address, data);
    StartBusy(Operation::Program, timing_.program_cycles);
  }

  void Erase(std::uint32_t address) {
    if (Locked(address)) {
      status_ |= kEraseError | kBlockLocked;
      return;
    }
    if (no_erase_) {
      StartBusy(Operation::Erase, kNever);
      return;
    }
    EraseSector(SectorOf(address).index);
    StartBusy(Operation::Erase, timing_.sector_erase_cycles);
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
        status_ |= kSequenceError;
        break;
    }
  }

  // Buffered write: the count cycle at the block, then the data cycles.
  void BufferCount(std::uint32_t address, std::uint32_t data) {
    std::uint32_t capacity = description_.write_buffer_bytes / (description_.width_bits / 8);
    std::uint32_t count = (data & DataMask()) + 1;
    buffer_.clear();
    if (count > capacity || SectorOf(address).index != buffer_sector_) {
      status_ |= kSequenceError;
      return;
    }
    buffer_count_ = count;
    pending_ = Pending::BufferData;
  }

  void BufferData(std::uint32_t address, std::uint32_t data) {
    std::uint32_t capacity = description_.write_buffer_bytes / (description_.width_bits / 8);
    std::uint32_t cell = address % cell_count_;
    bool same_window = buffer_.empty() || buffer_.front().cell / capacity == cell / capacity;
    if (SectorOf(cell).index != buffer_sector_ || !same_window) {
      status_ |= kSequenceError;
      buffer_.clear();
      return;
    }
    buffer_.push_back({cell, data});
    pending_ = buffer_.size() == buffer_count_ ? Pending::BufferConfirm : Pending::BufferData;
  }

  void BufferConfirm(std::uint8_t command) {
    mode_ = Mode::Status;
    std::vector<BufferedCell> cells;
    cells.swap(buffer_);
    if (command != 0xD0) {
      status_ |= kSequenceError;
      return;
    }
    if (Locked(cells.front().cell)) {
      status_ |= kProgramError | kBlockLocked;
      return;
    }
    for (const auto& item : cells) ProgramChecked(item.cell, item.data);
    // A buffer programs in about the time of a few single words.
    StartBusy(Operation::Program, timing_.program_cycles * (1 + cells.size() / 8));
  }

  static constexpr std::uint64_t kNever = ~std::uint64_t{0};

  struct BufferedCell {
    std::uint32_t cell;
    std::uint32_t data;
  };

  Mode mode_ = Mode::Array;
  Pending pending_ = Pending::None;
  std::uint8_t status_ = 0;
  std::uint64_t busy_until_ = 0;
  Operation running_ = Operation::None;    // the last operation started
  Operation suspended_ = Operation::None;  // waiting for D0
  std::uint64_t remaining_ = 0;            // of the suspended operation
  std::vector<std::uint8_t> locks_;        // bit 0 locked, bit 1 locked down
  std::size_t buffer_sector_ = 0;
  std::uint32_t buffer_count_ = 0;
  std::vector<BufferedCell> buffer_;
};

}  // namespace

std::unique_ptr<NorChip> MakeIntelChip(const NorDescription& description, NorCells& cells,
                                       const Clock& clock, const NorTiming& timing, bool no_erase,
                                       Counters& counters) {
  return std::make_unique<IntelChip>(description, cells, clock, timing, no_erase, counters);
}

}  // namespace simboard
