// The core's state machine: register banks, mode switches, exceptions, the
// fetch/execute loop and the data path to the bus. The instruction sets live in
// arm_instructions.cpp and thumb_instructions.cpp.
#include "simboard/core/arm_core.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <utility>

#include "simboard/core/arm_core_internal.h"

namespace simboard {

namespace {

// ARM920T-style main ID: implementer 0x41 (ARM), architecture 2 (v4T),
// part 0x920, revision 0. A board may set its own.
constexpr std::uint32_t kDefaultCp15Id = 0x41129200u;
// Control register at reset: the bits that read as one (3-6) and B from the
// board's byte order.
constexpr std::uint32_t kCp15ControlOnes = 0x78u;
// M, A, C (2:0), S, R (9:8), I, V, RR, L4 (15:12) and the clocking bits
// (31:30) keep what is written; no MMU or cache acts on them.
constexpr std::uint32_t kCp15ControlWritable = 0xC000F307u;

constexpr std::uint32_t kHighVectorBase = 0xFFFF0000u;

}  // namespace

std::uint32_t ExceptionVectorOffset(Exception exception) {
  switch (exception) {
    case Exception::Reset: return 0x00;
    case Exception::Undefined: return 0x04;
    case Exception::Swi: return 0x08;
    case Exception::PrefetchAbort: return 0x0C;
    case Exception::DataAbort: return 0x10;
    case Exception::Irq: return 0x18;
    case Exception::Fiq: return 0x1C;
  }
  return 0;
}

Mode ExceptionMode(Exception exception) {
  switch (exception) {
    case Exception::Reset:
    case Exception::Swi: return Mode::Supervisor;
    case Exception::Undefined: return Mode::Undefined;
    case Exception::PrefetchAbort:
    case Exception::DataAbort: return Mode::Abort;
    case Exception::Irq: return Mode::Irq;
    case Exception::Fiq: return Mode::Fiq;
  }
  return Mode::Supervisor;
}

bool IsValidMode(std::uint32_t mode_bits) {
  switch (mode_bits & psr::kModeMask) {
    case 0x10: case 0x11: case 0x12: case 0x13: case 0x17: case 0x1B: case 0x1F: return true;
    default: return false;
  }
}

ArmCore::ArmCore(Bus& bus, CoreModel model, ByteOrder order)
    : bus_(bus), data_bus_(&bus), model_(model), order_(order), cp15_id_(kDefaultCp15Id) {
  cpsr_ = static_cast<std::uint32_t>(Mode::Supervisor) | psr::kI | psr::kF;
  Reset();
}

ArmCore::~ArmCore() = default;

unsigned ArmCore::BankOf(std::uint32_t mode_bits) {
  switch (mode_bits & psr::kModeMask) {
    case 0x11: return kBankFiq;
    case 0x12: return kBankIrq;
    case 0x13: return kBankSupervisor;
    case 0x17: return kBankAbort;
    case 0x1B: return kBankUndefined;
    default: return kBankUser;  // User, System (and encodings no core should hold)
  }
}

// The one place where banks change: store the outgoing mode's banked
// registers, load the incoming mode's.
void ArmCore::SwitchMode(std::uint32_t new_mode_bits) {
  const unsigned old_bank = BankOf(cpsr_);
  const unsigned new_bank = BankOf(new_mode_bits);
  cpsr_ = (cpsr_ & ~psr::kModeMask) | (new_mode_bits & psr::kModeMask);
  if (old_bank == new_bank) return;
  bank_r13_[old_bank] = r_[13];
  bank_r14_[old_bank] = r_[14];
  if (old_bank == kBankFiq) {
    for (unsigned i = 0; i < 5; ++i) {
      fiq_r8_r12_[i] = r_[8 + i];
      r_[8 + i] = user_r8_r12_[i];
    }
  } else if (new_bank == kBankFiq) {
    for (unsigned i = 0; i < 5; ++i) {
      user_r8_r12_[i] = r_[8 + i];
      r_[8 + i] = fiq_r8_r12_[i];
    }
  }
  r_[13] = bank_r13_[new_bank];
  r_[14] = bank_r14_[new_bank];
}

void ArmCore::WriteCpsr(std::uint32_t value) {
  value &= psr::kImplemented;
  // A mode field that names no mode leaves the mode as it was.
  if (!IsValidMode(value)) value = (value & ~psr::kModeMask) | (cpsr_ & psr::kModeMask);
  SwitchMode(value);
  cpsr_ = value;
  UpdatePendingEvents();
}

void ArmCore::SetCpsr(std::uint32_t value) { WriteCpsr(value); }

void ArmCore::SetThumb(bool thumb) {
  if (thumb) {
    cpsr_ |= psr::kT;
  } else {
    cpsr_ &= ~psr::kT;
  }
}

std::uint32_t ArmCore::Spsr(Mode mode) const {
  const unsigned bank = BankOf(static_cast<std::uint32_t>(mode));
  return bank == kBankUser ? 0 : bank_spsr_[bank];
}

void ArmCore::SetSpsr(Mode mode, std::uint32_t value) {
  const unsigned bank = BankOf(static_cast<std::uint32_t>(mode));
  if (bank != kBankUser) bank_spsr_[bank] = value & psr::kImplemented;
}

std::uint32_t ArmCore::Register(unsigned n) const {
  n &= 15;
  return n == 15 ? pc_ : r_[n];
}

void ArmCore::SetRegister(unsigned n, std::uint32_t value) {
  n &= 15;
  if (n == 15) {
    pc_ = value;
  } else {
    r_[n] = value;
  }
}

std::uint32_t ArmCore::BankedRegister(Mode mode, unsigned n) const {
  n &= 15;
  if (n == 15) return pc_;
  if (n < 8) return r_[n];
  const unsigned bank = BankOf(static_cast<std::uint32_t>(mode));
  const unsigned current = BankOf(cpsr_);
  if (n < 13) {
    const bool want_fiq = bank == kBankFiq;
    const bool in_fiq = current == kBankFiq;
    if (want_fiq == in_fiq) return r_[n];
    return want_fiq ? fiq_r8_r12_[n - 8] : user_r8_r12_[n - 8];
  }
  if (bank == current) return r_[n];
  return n == 13 ? bank_r13_[bank] : bank_r14_[bank];
}

void ArmCore::SetBankedRegister(Mode mode, unsigned n, std::uint32_t value) {
  n &= 15;
  if (n == 15) {
    pc_ = value;
    return;
  }
  if (n < 8) {
    r_[n] = value;
    return;
  }
  const unsigned bank = BankOf(static_cast<std::uint32_t>(mode));
  const unsigned current = BankOf(cpsr_);
  if (n < 13) {
    const bool want_fiq = bank == kBankFiq;
    const bool in_fiq = current == kBankFiq;
    if (want_fiq == in_fiq) {
      r_[n] = value;
    } else if (want_fiq) {
      fiq_r8_r12_[n - 8] = value;
    } else {
      user_r8_r12_[n - 8] = value;
    }
    return;
  }
  if (bank == current) {
    r_[n] = value;
  } else if (n == 13) {
    bank_r13_[bank] = value;
  } else {
    bank_r14_[bank] = value;
  }
}

std::uint32_t ArmCore::UserRegister(unsigned n) const { return BankedRegister(Mode::User, n); }

void ArmCore::SetUserRegister(unsigned n, std::uint32_t value) {
  SetBankedRegister(Mode::User, n, value);
}

void ArmCore::Reset() {
  const std::uint32_t old_cpsr = cpsr_;
  SwitchMode(static_cast<std::uint32_t>(Mode::Supervisor));
  bank_spsr_[kBankSupervisor] = old_cpsr;
  cpsr_ = static_cast<std::uint32_t>(Mode::Supervisor) | psr::kI | psr::kF;
  cp15_control_ = kCp15ControlOnes | (order_ == ByteOrder::Big ? cp15::kBigEndian : 0u);
  cp15_registers_.fill(0);
  pc_ = VectorBase() + ExceptionVectorOffset(Exception::Reset);
  current_.exception_pending = false;
  UpdatePendingEvents();
}

std::uint32_t ArmCore::VectorBase() const {
  return (model_ == CoreModel::ARM9TDMI && (cp15_control_ & cp15::kHighVectors) != 0)
             ? kHighVectorBase
             : 0u;
}

void ArmCore::SetCp15Control(std::uint32_t value) {
  // B follows the board's wiring; the bits that read as one stay one.
  cp15_control_ = (value & kCp15ControlWritable & ~cp15::kBigEndian) | kCp15ControlOnes |
                  (order_ == ByteOrder::Big ? cp15::kBigEndian : 0u);
}

void ArmCore::EnterException(Exception exception, std::uint32_t return_address) {
  const std::uint32_t old_cpsr = cpsr_;
  const Mode mode = ExceptionMode(exception);
  SwitchMode(static_cast<std::uint32_t>(mode));
  bank_spsr_[BankOf(static_cast<std::uint32_t>(mode))] = old_cpsr;
  r_[14] = return_address;
  cpsr_ = (cpsr_ & ~psr::kT) | psr::kI;
  if (exception == Exception::Fiq || exception == Exception::Reset) cpsr_ |= psr::kF;
  pc_ = VectorBase() + ExceptionVectorOffset(exception);
  UpdatePendingEvents();
}

void ArmCore::TakeException(Exception exception) {
  const bool thumb = Thumb();
  const std::uint32_t next = pc_ + (thumb ? 2u : 4u);
  switch (exception) {
    case Exception::Reset: Reset(); return;
    case Exception::Undefined:
    case Exception::Swi: EnterException(exception, next); return;
    case Exception::PrefetchAbort: EnterException(exception, pc_ + 4); return;
    case Exception::DataAbort: EnterException(exception, pc_ + 8); return;
    case Exception::Irq:
    case Exception::Fiq: EnterException(exception, pc_ + 4); return;
  }
}

void ArmCore::SetIrqLine(bool asserted) {
  irq_line_ = asserted;
  UpdatePendingEvents();
}

void ArmCore::SetFiqLine(bool asserted) {
  fiq_line_ = asserted;
  UpdatePendingEvents();
}

void ArmCore::RequestHalt() {
  halt_request_ = true;
  UpdatePendingEvents();
}

void ArmCore::ClearHaltRequest() {
  halt_request_ = false;
  UpdatePendingEvents();
}

void ArmCore::UpdatePendingEvents() {
  events_pending_ = halt_request_ || (irq_line_ && (cpsr_ & psr::kI) == 0) ||
                    (fiq_line_ && (cpsr_ & psr::kF) == 0);
}

void ArmCore::SetDebugObserver(DebugObserver* observer) { observer_ = observer; }

void ArmCore::SetSwiHook(SwiHook hook) { swi_hook_ = std::move(hook); }

void ArmCore::MapFastMemory(std::uint32_t base, std::uint32_t size, std::uint8_t* memory) {
  if (size == 0 || memory == nullptr) return;
  FastRegion region{base, size, memory, {}};
  region.code.resize((std::uint64_t{size} + kCodePageBytes - 1) >> kCodePageShift);
  fast_.push_back(std::move(region));
  // The vector may have moved: no window points into it now.
  data_window_.size = 0;
}

void ArmCore::ClearFastMemory() {
  fast_.clear();
  last_fast_ = 0;
  data_window_.size = 0;
  code_page_ = nullptr;
  code_memory_ = nullptr;
  code_span_ = 0;
}

void ArmCore::InvalidateCode(std::uint32_t address, std::uint32_t count) {
  if (count == 0) return;
  const std::uint64_t low = address;
  const std::uint64_t high = low + count;
  for (FastRegion& region : fast_) {
    const std::uint64_t base = region.base;
    const std::uint64_t limit = base + region.size;
    if (high <= base || low >= limit) continue;
    // An ARM instruction that starts up to 3 bytes below the change covers it.
    std::uint64_t start = low > base ? low - base : 0;
    start = start >= 2 ? (start - 2) & ~std::uint64_t{1} : 0;
    const std::uint64_t end = std::min(high, limit) - base;
    for (std::uint64_t at = start; at < end;) {
      const std::uint64_t page = at >> kCodePageShift;
      const std::uint64_t page_end = std::min<std::uint64_t>((page + 1) << kCodePageShift, end);
      if (CodePage* code = region.code[page].get()) {
        const std::size_t from = (at & (kCodePageBytes - 1)) >> 1;
        const std::size_t to = ((page_end - 1) & (kCodePageBytes - 1)) >> 1;
        for (std::size_t slot = from; slot <= to; ++slot) code->slots[slot].state = DecodedState::Empty;
      }
      at = page_end;
    }
  }
}

void ArmCore::AttachCoprocessor(unsigned number, Coprocessor* coprocessor) {
  coprocessors_[number & 15] = coprocessor;
}

const ArmCore::FastRegion* ArmCore::FindFastRegion(std::uint32_t address,
                                                   std::uint32_t bytes) const {
  if (last_fast_ < fast_.size()) {
    const FastRegion& region = fast_[last_fast_];
    const std::uint32_t offset = address - region.base;
    if (offset < region.size && region.size - offset >= bytes) return &region;
  }
  for (std::size_t i = 0; i < fast_.size(); ++i) {
    const FastRegion& region = fast_[i];
    const std::uint32_t offset = address - region.base;
    if (offset < region.size && region.size - offset >= bytes) {
      last_fast_ = i;
      return &region;
    }
  }
  return nullptr;
}

const ArmCore::Decoded* ArmCore::DecodeAtPc() {
  const bool thumb = Thumb();
  const std::uint32_t bytes = thumb ? 2u : 4u;
  if ((pc_ & (bytes - 1)) != 0) return nullptr;
  std::uint32_t offset = pc_ - code_base_;
  if (code_page_ == nullptr || offset >= code_span_ || code_span_ - offset < bytes) {
    const FastRegion* region = FindFast(pc_, bytes);
    if (region == nullptr) return nullptr;
    const std::uint32_t in_region = pc_ - region->base;
    const std::uint32_t page = in_region >> kCodePageShift;
    auto& slot = region->code[page];
    if (!slot) slot = std::make_unique<CodePage>();
    code_page_ = slot.get();
    code_base_ = region->base + (page << kCodePageShift);
    code_memory_ = region->memory + (page << kCodePageShift);
    code_span_ = std::min<std::uint32_t>(kCodePageBytes, region->size - (page << kCodePageShift));
    offset = pc_ - code_base_;
    if (code_span_ - offset < bytes) return nullptr;  // the last halfword of a region
  }
  Decoded& decoded = code_page_->slots[offset >> 1];
  const DecodedState state = thumb ? DecodedState::Thumb : DecodedState::Arm;
  if (decoded.state != state) {
    if (thumb) {
      decoded.opcode = LoadFast(code_memory_ + offset, AccessSize::Half);
      decoded.handler = ThumbInstructions::HandlerFor(decoded.opcode);
    } else {
      decoded.opcode = LoadFast(code_memory_ + offset, AccessSize::Word);
      decoded.handler = ArmInstructions::HandlerFor(decoded.opcode);
    }
    decoded.state = state;
  }
  return &decoded;
}

void ArmCore::AskObserver() {
  watch_instructions_ = observer_ != nullptr && observer_->WatchesInstructions();
  watch_data_ = observer_ != nullptr && observer_->WatchesData();
  UpdateDataPlain();
  watched_instruction_count_ =
      watch_instructions_
          ? std::min(observer_->WatchedInstructions(watched_instructions_.data()),
                     kMaxWatchMatches)
          : 0;
  watched_data_count_ =
      watch_data_ ? std::min(observer_->WatchedData(watched_data_.data()), kMaxWatchMatches)
                  : 0;
}

std::uint64_t ArmCore::SkipUnexecuted(std::uint64_t limit) {
  if (limit == 0 || events_pending_ || (observer_ != nullptr && observer_->WatchesInstructions()))
    return 0;
  const std::uint8_t* bytes = nullptr;
  std::uint32_t span = 0;
  const FastRegion* region = FindFast(pc_, 4);
  if (region != nullptr) {
    bytes = region->memory + (pc_ - region->base);
    span = region->size - (pc_ - region->base);
  } else {
    FlushCycles();  // the region's state machines see the time up to now
    bytes = bus_.QuietFetchBytes(pc_, span);
    if (bytes == nullptr) return 0;
  }
  const std::uint64_t words = std::min<std::uint64_t>(limit, span / 4);
  // The condition field is the top nibble of the word's most significant byte.
  std::uint16_t failing = 0;
  for (unsigned cond = 0; cond < 16; ++cond) {
    if (!ArmInstructions::ConditionPassed(*this, cond)) failing |= static_cast<std::uint16_t>(1u << cond);
  }
  const std::uint8_t* top = bytes + (order_ == ByteOrder::Little ? 3 : 0);
  std::uint64_t count = 0;
  while (count < words && ((failing >> (top[4 * count] >> 4)) & 1) != 0) ++count;
  if (count == 0) return 0;
  const std::uint32_t start = pc_;
  pc_ += static_cast<std::uint32_t>(4 * count);
  instructions_ += count;
  cycles_ += count;  // one cycle each, as a failed condition costs
  if (region == nullptr) {
    FlushCycles();
    bus_.CountQuietFetches(start, count);
    loop_dirty_ = true;
  }
  return count;
}

bool ArmCore::BranchesToItself(std::uint32_t opcode, bool thumb) {
  if (thumb) {
    // B . (0xE7FE) or B<cond> . (0xDxFE); a taken branch leaves the flags alone.
    return opcode == 0xE7FE || ((opcode & 0xF0FF) == 0xD0FE && ((opcode >> 8) & 0xF) < 0xE);
  }
  return (opcode & 0x0FFFFFFF) == 0x0AFFFFFE;  // B<cond> . (without link)
}

std::uint64_t ArmCore::SpinInPlace(std::uint64_t limit, std::uint32_t cycles_each) {
  if (limit == 0 || events_pending_ || (observer_ != nullptr && observer_->WatchesInstructions()))
    return 0;
  const bool fast = FindFast(pc_, Thumb() ? 2 : 4) != nullptr;
  if (!fast) {
    FlushCycles();
    std::uint32_t span = 0;
    if (bus_.QuietFetchBytes(pc_, span) == nullptr || span < (Thumb() ? 2u : 4u)) return 0;
  }
  loop_dirty_ = true;
  instructions_ += limit;
  cycles_ += limit * cycles_each;
  if (!fast) {
    FlushCycles();
    bus_.CountQuietFetches(pc_, limit);
  }
  return limit;
}

// ARM7TDMI/ARM9TDMI word loads from an address that is not word aligned: the
// aligned word is rotated right by 8 bits per byte of offset in either byte
// order. Little-endian, the addressed byte lands in bits 7:0; big-endian, in
// bits 31:24 at offset 2 and in bits 15:8 at offsets 1 and 3 (ARM7TDMI data
// sheet, "Single data transfer", big-endian configuration).
std::uint32_t ArmCore::RotateUnaligned(std::uint32_t word, std::uint32_t address) const {
  return std::rotr(word, static_cast<int>(8 * (address & 3)));
}

bool ArmCore::ReadDataSlow(std::uint32_t address, AccessSize size, std::uint32_t& value) {
  const std::uint32_t bytes = static_cast<std::uint32_t>(size);
  bool ok;
  if (!injected_) {
    if (const FastRegion* region = FindFast(address, bytes)) {
      SetDataWindow(*region);
      value = LoadFast(region->memory + (address - region->base), size);
      ok = true;
    } else {
      FlushCycles();
      NoteLoopRead(address, size);
      ok = data_bus_->Read(address, size, AccessKind::DataRead, value);
    }
    if (ok && watch_data_ && DataWatched(address, size, value)) {
      loop_dirty_ = true;
      if (observer_->AfterDataAccess(address, size, value, false)) current_.watch_hit = true;
    }
  } else {
    ok = data_bus_->Read(address, size, AccessKind::DataRead, value);
  }
  if (!ok) {
    value = 0;
    current_.exception_pending = true;
    pending_exception_ = Exception::DataAbort;
  }
  return ok;
}

void ArmCore::ForgetDecoded(const std::unique_ptr<CodePage>* code, std::uint32_t offset,
                            std::uint32_t bytes) {
  CodePage* page = code[offset >> kCodePageShift].get();
  const std::uint32_t in_page = offset & (kCodePageBytes - 1);
  const std::uint32_t first = in_page >= 2 ? ((in_page - 2) & ~1u) >> 1 : 0;
  const std::uint32_t last = (in_page + bytes - 1) >> 1;
  for (std::uint32_t slot = first; slot <= last; ++slot)
    page->slots[slot].state = DecodedState::Empty;
}

bool ArmCore::WriteDataSlow(std::uint32_t address, AccessSize size, std::uint32_t value) {
  const std::uint32_t bytes = static_cast<std::uint32_t>(size);
  bool ok;
  if (!injected_) {
    loop_dirty_ = true;
    if (const FastRegion* region = FindFast(address, bytes)) {
      SetDataWindow(*region);
      const std::uint32_t offset = address - region->base;
      StoreFast(region->memory + offset, size, value);
      if (region->code[offset >> kCodePageShift]) ForgetDecoded(region->code.data(), offset, bytes);
      ok = true;
    } else {
      FlushCycles();
      ok = data_bus_->Write(address, size, value);
    }
    if (ok && watch_data_ && DataWatched(address, size, value) &&
        observer_->AfterDataAccess(address, size, value, true)) {
      current_.watch_hit = true;
    }
  } else {
    ok = data_bus_->Write(address, size, value);
  }
  if (!ok) {
    current_.exception_pending = true;
    pending_exception_ = Exception::DataAbort;
  }
  return ok;
}

void ArmCore::SetDataWindow(const FastRegion& region) {
  data_window_.base = region.base;
  data_window_.size = region.size;
  data_window_.memory = region.memory;
  data_window_.code = region.code.data();
}

bool ArmCore::Fetch(std::uint32_t address, bool thumb, std::uint32_t& opcode) {
  const AccessSize size = thumb ? AccessSize::Half : AccessSize::Word;
  const std::uint32_t bytes = thumb ? 2u : 4u;
  if (const FastRegion* region = FindFast(address, bytes)) {
    opcode = LoadFast(region->memory + (address - region->base), size);
    return true;
  }
  FlushCycles();
  loop_dirty_ = true;
  return bus_.Read(address, size, AccessKind::InstructionFetch, opcode);
}

bool ArmCore::CoprocessorRead(unsigned cp, unsigned op1, unsigned crn, unsigned crm, unsigned op2,
                              std::uint32_t& value) {
  loop_dirty_ = true;
  if (coprocessors_[cp] != nullptr) return coprocessors_[cp]->Read(op1, crn, crm, op2, value);
  if (cp != 15 || model_ != CoreModel::ARM9TDMI || op1 != 0) return false;
  switch (crn) {
    case 0:
      if (op2 == 1) {
        value = 0;  // cache type: no caches modelled
      } else {
        value = cp15_id_;  // main ID (also for the reserved opcode2 values)
      }
      return true;
    case 1: value = cp15_control_; return true;
    case 2: case 3: case 5: case 6: case 13: value = cp15_registers_[crn]; return true;
    default: return false;
  }
}

bool ArmCore::CoprocessorWrite(unsigned cp, unsigned op1, unsigned crn, unsigned crm, unsigned op2,
                               std::uint32_t value) {
  loop_dirty_ = true;
  if (coprocessors_[cp] != nullptr) return coprocessors_[cp]->Write(op1, crn, crm, op2, value);
  if (cp != 15 || model_ != CoreModel::ARM9TDMI || op1 != 0) return false;
  switch (crn) {
    case 0: return true;  // read-only: writes are ignored
    case 1: SetCp15Control(value); return true;
    case 2: case 3: case 5: case 6: case 13: cp15_registers_[crn] = value; return true;
    case 7: case 8: case 9: case 10: return true;  // cache and TLB maintenance: nothing cached
    default: return false;
  }
}

// Executes the instruction at pc_ whose opcode is known, leaving pc_ at the
// next instruction and any exception it raised pending.
void ArmCore::ExecuteCurrent(std::uint32_t opcode, StepResult& result) {
  current_.pc_written = false;
  current_.exception_pending = false;
  cycles_now_ = 1;
  if (Thumb()) {
    r_[15] = pc_ + 4;
    ThumbInstructions::Execute(*this, opcode);
  } else {
    r_[15] = pc_ + 8;
    ArmInstructions::Execute(*this, opcode);
  }
  result.pc_written = current_.pc_written;
  result.cycles = cycles_now_;
}

inline void ArmCore::FinishStep(bool thumb, StepResult& result) {
  if (current_.breakpoint_hit) {
    // A BKPT the debug logic stops at: it did not execute, as at a
    // breakpoint on its address.
    current_.breakpoint_hit = false;
    loop_dirty_ = true;
    pc_ = result.address;
    result.outcome = StepOutcome::Halted;
    result.halt = HaltReason::Breakpoint;
    result.pc_written = false;
    result.cycles = 0;
    return;
  }
  ++instructions_;
  if (!current_.pc_written) {
    pc_ += thumb ? 2 : 4;
  } else {
    pc_ = Thumb() ? (r_[15] & ~1u) : (r_[15] & ~3u);
  }
  if (current_.exception_pending) {
    current_.exception_pending = false;
    loop_dirty_ = true;
    result.exception = pending_exception_;
    switch (pending_exception_) {
      case Exception::DataAbort:
        result.outcome = StepOutcome::Exception;
        EnterException(Exception::DataAbort, result.address + 8);
        result.exception_taken = true;
        break;
      case Exception::Undefined:
        result.outcome = StepOutcome::Undefined;
        EnterException(Exception::Undefined, result.address + (thumb ? 2 : 4));
        result.exception_taken = true;
        break;
      case Exception::Swi: {
        result.outcome = StepOutcome::Swi;
        result.swi_comment = swi_comment_;
        const SwiAction action =
            swi_hook_ ? swi_hook_(swi_comment_, thumb) : SwiAction::TakeException;
        if (action == SwiAction::TakeException) {
          EnterException(Exception::Swi, result.address + (thumb ? 2 : 4));
          result.exception_taken = true;
        } else if (action == SwiAction::Halt) {
          result.outcome = StepOutcome::Halted;
          result.halt = HaltReason::SwiHook;
        }
        break;
      }
      default: break;
    }
  }
  if (current_.watch_hit && result.outcome != StepOutcome::Halted) {
    current_.watch_hit = false;
    loop_dirty_ = true;
    result.outcome = StepOutcome::Halted;
    result.halt = HaltReason::Watchpoint;
  }
}

inline bool ArmCore::AfterRunStep(const StepResult& step, RunResult& run, std::uint64_t max_instructions,
                           unsigned stop_on_exceptions) {
  cycles_ += step.cycles;
  // Breakpoints and debug requests stop before anything ran; interrupt
  // entries are not instructions. An aborted fetch takes the place of an
  // instruction, so a core whose vectors lie where nothing answers still
  // ends its run.
  const bool entry_only = step.outcome == StepOutcome::Exception &&
                          (step.exception == Exception::Irq || step.exception == Exception::Fiq ||
                           step.exception == Exception::Reset);
  if (!entry_only &&
      !(step.outcome == StepOutcome::Halted &&
        (step.halt == HaltReason::DebugRequest || step.halt == HaltReason::Breakpoint))) {
    ++run.instructions;
  }
  run.last = step;
  if (step.outcome == StepOutcome::Halted) return true;
  if (step.exception_taken &&
      (stop_on_exceptions & (1u << static_cast<unsigned>(step.exception))) != 0) {
    return true;
  }
  // A core running through erased flash or zeroed memory meets long runs
  // of instructions whose condition never passes; pass over them at once.
  if (step.outcome == StepOutcome::Executed && !step.pc_written && !Thumb() &&
      !ArmInstructions::ConditionPassed(*this, step.opcode >> 28)) {
    run.instructions += SkipUnexecuted(max_instructions - run.instructions);
  }
  // A core parked on a branch to itself (a boot ROM or firmware idle loop)
  // repeats it until something outside stops it.
  if (step.outcome == StepOutcome::Executed && step.pc_written && pc_ == step.address &&
      BranchesToItself(step.opcode, Thumb())) {
    run.instructions += SpinInPlace(max_instructions - run.instructions, step.cycles);
  }
  return false;
}

StepResult ArmCore::StepInternal(bool outside_fast) {
  StepResult result;
  result.address = pc_;
  if (events_pending_) {
    loop_dirty_ = true;
    if (halt_request_) {
      result.outcome = StepOutcome::Halted;
      result.halt = HaltReason::DebugRequest;
      result.cycles = 0;
      return result;
    }
    if (fiq_line_ && (cpsr_ & psr::kF) == 0) {
      EnterException(Exception::Fiq, pc_ + 4);
      result.outcome = StepOutcome::Exception;
      result.exception = Exception::Fiq;
      result.exception_taken = true;
      result.cycles = 3;
      return result;
    }
    if (irq_line_ && (cpsr_ & psr::kI) == 0) {
      EnterException(Exception::Irq, pc_ + 4);
      result.outcome = StepOutcome::Exception;
      result.exception = Exception::Irq;
      result.exception_taken = true;
      result.cycles = 3;
      return result;
    }
  }
  const bool thumb = Thumb();
  std::uint32_t opcode = 0;
  const Decoded* decoded = outside_fast || fast_.empty() ? nullptr : DecodedAtPc();
  if (decoded != nullptr) {
    opcode = decoded->opcode;
  } else if (!Fetch(pc_, thumb, opcode)) {
    EnterException(Exception::PrefetchAbort, result.address + 4);
    result.outcome = StepOutcome::Exception;
    result.exception = Exception::PrefetchAbort;
    result.exception_taken = true;
    result.cycles = 3;
    return result;
  }
  result.opcode = opcode;
  if (watch_instructions_ && InstructionWatched(pc_, opcode, thumb)) {
    loop_dirty_ = true;  // the observer may count or act on it
    if (observer_->BeforeInstruction(pc_, opcode, thumb)) {
      result.outcome = StepOutcome::Halted;
      result.halt = HaltReason::Breakpoint;
      result.cycles = 0;
      return result;
    }
  }
  current_.watch_hit = false;
  ExecuteCurrent(opcode, result);
  FinishStep(thumb, result);
  return result;
}

StepResult ArmCore::Step() {
  AskObserver();
  ForgetLoop();
  StepResult result = StepInternal();
  cycles_ += result.cycles;
  FlushCycles();
  return result;
}

std::uint64_t ArmCore::RunStraight(std::uint64_t budget, StraightEnd& end) {
  std::uint64_t done = 0;     // instructions run here, repeats included
  std::uint64_t counted = 0;  // of them, not yet in instructions_
  bool thumb = Thumb();
  while (done < budget && !events_pending_) {
    const std::uint32_t address = pc_;
    const Decoded* decoded = DecodedAtPc(thumb);
    if (decoded == nullptr) {
      end.outside = true;
      break;
    }
    const std::uint32_t opcode = decoded->opcode;
    const bool fetched_thumb = thumb;  // the slot may be gone once it ran
    // The observer sees a watched instruction before it runs.
    if (watch_instructions_ && InstructionWatched(address, opcode, thumb)) break;
    current_ = InstructionEvents{};
    cycles_now_ = 1;
    bool plain = true;  // nothing but the next instruction follows
    if (thumb) {
      r_[15] = address + 4;
      decoded->handler(*this, opcode);
    } else {
      r_[15] = address + 8;
      plain = ArmInstructions::ConditionPassed(*this, opcode >> 28);
      if (plain) {
        decoded->handler(*this, opcode);
      } else {
        // Passing over a stretch of such instructions at once only pays
        // when the next one does not execute either.
        const std::uint32_t next = address + 4 - code_base_;
        plain = next + 4 <= code_span_ &&
                ArmInstructions::ConditionPassed(
                    *this, LoadFast(code_memory_ + next, AccessSize::Word) >> 28);
      }
    }
    // The common cases: on to the next instruction, or a branch (or a load
    // or data processing into R15) that does not branch to itself.
    std::uint32_t next = address + (thumb ? 2u : 4u);
    bool simple = plain;
    if (current_.Unusual()) {
      simple = false;
    } else if (current_.pc_written) {
      thumb = Thumb();
      next = r_[15] & (thumb ? ~1u : ~3u);
      simple = next != address;
    }
    if (!simple) {
      end.unfinished = true;
      end.address = address;
      end.opcode = opcode;
      end.thumb = fetched_thumb;
      break;
    }
    ++done;
    ++counted;
    pc_ = next;
    cycles_ += cycles_now_;
    end.address = address;
    end.opcode = opcode;
    if (current_.pc_written && next < address) {
      // The end of a loop: a polling loop may repeat itself.
      if (loop_reads_ != 0) {
        instructions_ += counted;
        counted = 0;
        done += AtLoopHead(next, address, budget - done);
      } else {
        loop_visits_ = 0;
        loop_dirty_ = false;
      }
    }
  }
  instructions_ += counted;
  return done;
}

RunResult ArmCore::Run(std::uint64_t max_instructions, unsigned stop_on_exceptions) {
  RunResult run;
  AskObserver();
  ForgetLoop();
  // Straight-line code in fast memory runs without the general step's
  // handling.
  const bool straight = !fast_.empty();
  // The last instruction ran on the straight-line path, for run.last.
  bool straight_last = false;
  StraightEnd end;
  while (run.instructions < max_instructions) {
    bool outside_fast = false;  // Pc() is known to lie outside fast memory
    if (straight && !events_pending_) {
      end = StraightEnd{};
      const std::uint64_t done = RunStraight(max_instructions - run.instructions, end);
      run.instructions += done;
      if (done != 0) straight_last = true;
      if (end.unfinished) {
        // It ran, and what it did needs the general handling.
        straight_last = false;
        StepResult step;
        step.address = end.address;
        step.opcode = end.opcode;
        step.pc_written = current_.pc_written;
        step.cycles = cycles_now_;
        FinishStep(end.thumb, step);
        if (AfterRunStep(step, run, max_instructions, stop_on_exceptions)) break;
        continue;
      }
      if (run.instructions >= max_instructions) break;
      outside_fast = end.outside;
    }
    straight_last = false;
    const StepResult step = StepInternal(outside_fast);
    if (AfterRunStep(step, run, max_instructions, stop_on_exceptions)) break;
  }
  if (straight_last) {
    run.last = StepResult{};
    run.last.address = end.address;
    run.last.opcode = end.opcode;
    run.last.cycles = cycles_now_;
    run.last.pc_written = current_.pc_written;
  }
  FlushCycles();
  run.limit_reached =
      run.instructions >= max_instructions && run.last.outcome != StepOutcome::Halted;
  return run;
}

StepResult ArmCore::ExecuteInstruction(std::uint32_t opcode, bool thumb, Bus& data_bus) {
  StepResult result;
  result.address = pc_;
  result.opcode = opcode;
  SetThumb(thumb);
  Bus* saved_bus = data_bus_;
  data_bus_ = &data_bus;
  injected_ = true;
  UpdateDataPlain();
  ExecuteCurrent(opcode, result);
  injected_ = false;
  UpdateDataPlain();
  data_bus_ = saved_bus;
  if (current_.pc_written) pc_ = Thumb() ? (r_[15] & ~1u) : (r_[15] & ~3u);
  if (current_.exception_pending) {
    current_.exception_pending = false;
    result.exception = pending_exception_;
    switch (pending_exception_) {
      case Exception::Swi:
        result.outcome = StepOutcome::Swi;
        result.swi_comment = swi_comment_;
        break;
      case Exception::Undefined: result.outcome = StepOutcome::Undefined; break;
      default: result.outcome = StepOutcome::Exception; break;
    }
  }
  if (result.cycles != 0) data_bus.Advance(result.cycles);
  return result;
}

}  // namespace simboard
