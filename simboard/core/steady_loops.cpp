// Passing over the repeats of a polling loop: a flash loader waiting for a
// program or erase to finish spends most of its instructions reading a status
// that will not change for hundreds of cycles. Once such a loop is seen to
// come back to where it was two visits before, having done nothing but
// steady reads, its future up to the end of the bus's promise is known; Run
// adds it at once, as stepping through it would have: instruction and cycle
// counts, board time, and the reads (which devices count).
#include <algorithm>
#include <bit>

#include "simboard/core/arm_core.h"

namespace simboard {

void ArmCore::ForgetLoop() {
  loop_visits_ = 0;
  loop_misses_ = 0;
  loop_quiet_ = 0;
  loop_reads_ = 0;
  loop_dirty_ = false;
  loop_now_ = LoopInterval{};
}

void ArmCore::NoteLoopRead(std::uint32_t address, AccessSize size) {
  ++loop_reads_;
  LoopInterval& interval = loop_now_;
  // A quiet head does not look at the reads; any other head starts afresh.
  if (!interval.steady || loop_quiet_ != 0) return;
  // Board time is the cycle count here: the caller flushed the cycles.
  const std::uint64_t left = data_bus_->SteadyReadsFor(address, size);
  if (left == 0) {
    interval.steady = false;
    return;
  }
  const std::uint64_t end = left >= kSteadyForever - cycles_ ? kSteadyForever : cycles_ + left;
  for (unsigned i = 0; i < interval.addresses; ++i) {
    LoopRead& read = interval.reads[i];
    if (read.address == address && read.size == size) {
      // Another end: the state answering there changed within the interval.
      if (read.end != end) interval.steady = false;
      ++read.reads;
      return;
    }
  }
  if (interval.addresses == kMaxLoopReads) {
    interval.steady = false;
    return;
  }
  interval.reads[interval.addresses++] = LoopRead{address, size, 1, end};
}

ArmCore::LoopVisit ArmCore::SaveLoopVisit() const {
  LoopVisit visit;
  auto* at = visit.state.data();
  at = std::copy_n(r_.begin(), 15, at);
  *at++ = cpsr_;
  at = std::copy(user_r8_r12_.begin(), user_r8_r12_.end(), at);
  at = std::copy(fiq_r8_r12_.begin(), fiq_r8_r12_.end(), at);
  at = std::copy(bank_r13_.begin(), bank_r13_.end(), at);
  at = std::copy(bank_r14_.begin(), bank_r14_.end(), at);
  std::copy(bank_spsr_.begin(), bank_spsr_.end(), at);
  visit.instructions = instructions_;
  visit.cycles = cycles_;
  return visit;
}

// A loop that keeps a count (a time-out) never comes back to the same
// state; after this many visits that did not repeat, its head is left
// unwatched for kQuietVisits visits, which costs a loop nearly nothing.
constexpr unsigned kMissesBeforeQuiet = 8;
constexpr unsigned kQuietVisits = 256;

ArmCore::LoopCount ArmCore::CountOfLoop(std::uint32_t head, std::uint32_t branch) const {
  constexpr std::uint32_t kMaxBody = 16;
  const LoopCount none;
  if (Thumb() || branch - head < 4 || branch - head > 4 * kMaxBody) return none;
  const FastRegion* region = FindFast(head, branch + 4 - head);
  if (region == nullptr) return none;
  const std::uint8_t* code = region->memory + (head - region->base);
  const std::uint32_t words = (branch - head) / 4 + 1;
  const std::uint32_t bne = LoadFast(code + 4 * (words - 1), AccessSize::Word);
  const std::uint32_t subs = LoadFast(code + 4 * (words - 2), AccessSize::Word);
  // BNE back to the head, after SUBS rX, rX, #imm (AL) with imm not 0.
  if ((bne & 0xFF000000u) != 0x1A000000u) return none;
  if ((subs & 0xFFF00000u) != 0xE2500000u || (subs & 0xFFu) == 0) return none;
  const unsigned counter = (subs >> 16) & 15;
  if (((subs >> 12) & 15) != counter || counter == 15) return none;
  // No other instruction may name the register: in a field that holds a
  // register in some encoding of its class, or in a block transfer's list.
  // Branches name none; immediate forms only Rn and Rd.
  for (std::uint32_t i = 0; i + 2 < words; ++i) {
    const std::uint32_t op = LoadFast(code + 4 * i, AccessSize::Word);
    const unsigned kind = (op >> 25) & 7;
    if (kind == 5) continue;
    const bool immediate = kind == 1 || kind == 2;
    for (unsigned shift : {0u, 8u, 12u, 16u}) {
      if (immediate && shift < 12) continue;
      if (((op >> shift) & 15) == counter) return none;
    }
    if (kind == 4 && ((op >> counter) & 1) != 0) return none;
  }
  const auto step = std::rotr(subs & 0xFFu, static_cast<int>(2 * ((subs >> 8) & 15)));
  return LoopCount{static_cast<int>(counter), step, words};
}

namespace {

// Equal but for register `n`.
bool SameButFor(const std::array<std::uint32_t, 44>& a, const std::array<std::uint32_t, 44>& b,
                unsigned n) {
  for (unsigned i = 0; i < a.size(); ++i)
    if (i != n && a[i] != b[i]) return false;
  return true;
}

}  // namespace

std::uint64_t ArmCore::AtLoopHead(std::uint32_t head, std::uint32_t branch, std::uint64_t budget) {
  std::uint64_t passed = 0;
  const bool clean = !loop_dirty_ && loop_now_.steady;
  if (head != loop_head_) {
    loop_head_ = head;
    loop_visits_ = 0;
    loop_misses_ = 0;
    loop_quiet_ = 0;
  }
  if (loop_quiet_ != 0) {
    --loop_quiet_;
    loop_visits_ = 0;  // the quiet visits' reads went unseen
  } else if (!clean || loop_visits_ == 0) {
    // This visit starts a new watch of the loop.
    loop_visit_[1] = SaveLoopVisit();
    loop_visits_ = 1;
  } else {
    LoopVisit visit = SaveLoopVisit();
    if (loop_visits_ == 2) {
      if (visit.state == loop_visit_[0].state) {
        passed = RepeatLoop(budget, LoopCount{});
      } else if (const LoopCount count = CountOfLoop(head, branch);
                 count.reg >= 0 &&
                 SameButFor(visit.state, loop_visit_[0].state, static_cast<unsigned>(count.reg))) {
        passed = RepeatLoop(budget, count);
      } else if (++loop_misses_ >= kMissesBeforeQuiet) {
        loop_misses_ = 0;
        loop_quiet_ = kQuietVisits;
      }
    }
    if (passed != 0) {
      // Back at the head with the counts moved on; the promise is nearly
      // over, so the loop now runs as it is.
      loop_visits_ = 0;
    } else {
      loop_visit_[0] = loop_visit_[1];
      loop_visit_[1] = visit;
      loop_before_ = loop_now_;
      loop_visits_ = 2;
    }
  }
  loop_now_.addresses = 0;
  loop_now_.steady = true;
  loop_reads_ = 0;
  loop_dirty_ = false;
  return passed;
}

std::uint64_t ArmCore::RepeatLoop(std::uint64_t budget, const LoopCount& count) {
  const std::uint64_t period_cycles = cycles_ - loop_visit_[0].cycles;
  const std::uint64_t period_instructions = instructions_ - loop_visit_[0].instructions;
  if (period_cycles == 0 || period_instructions == 0) return 0;
  // A counted loop: both visits ran its body straight through, and the
  // count stays positive (so SUBS sets the same flags) through every repeat.
  std::uint64_t counted_repeats = ~std::uint64_t{0};
  std::uint32_t period_step = 0;
  if (count.reg >= 0) {
    const std::uint32_t now = r_[count.reg];
    period_step = loop_visit_[0].state[count.reg] - now;
    if (period_instructions != 2 * count.body || period_step != 2 * count.step ||
        now >= 0x80000000u)
      return 0;
    counted_repeats = now / period_step;
    if (counted_repeats <= 1) return 0;
    counted_repeats -= 1;
  }
  // The reads of the two visits, by address: one state each, an even count.
  std::array<LoopRead, 2 * kMaxLoopReads> reads{};
  unsigned addresses = 0;
  for (const LoopInterval* interval : {&loop_before_, &loop_now_}) {
    for (unsigned i = 0; i < interval->addresses; ++i) {
      const LoopRead& read = interval->reads[i];
      unsigned k = 0;
      while (k < addresses && !(reads[k].address == read.address && reads[k].size == read.size))
        ++k;
      if (k == addresses) {
        reads[addresses++] = read;
      } else if (reads[k].end != read.end) {
        return 0;
      } else {
        reads[k].reads += read.reads;
      }
    }
  }
  std::uint64_t end = kSteadyForever;
  for (unsigned k = 0; k < addresses; ++k) {
    if ((reads[k].reads & 1) != 0) return 0;
    end = std::min(end, reads[k].end);
  }
  FlushCycles();
  if (end <= cycles_) return 0;
  // Every read of a repeat comes before its end; the repeat that would
  // reach the end of the promise runs as it is.
  std::uint64_t repeats = (end - cycles_) / period_cycles;
  if (repeats <= 1) return 0;
  repeats = std::min({repeats - 1, budget / period_instructions, counted_repeats});
  if (repeats == 0) return 0;
  if (count.reg >= 0) r_[count.reg] -= static_cast<std::uint32_t>(repeats) * period_step;
  instructions_ += repeats * period_instructions;
  repeated_ += repeats * period_instructions;
  cycles_ += repeats * period_cycles;
  FlushCycles();
  for (unsigned k = 0; k < addresses; ++k)
    data_bus_->CountSteadyReads(reads[k].address, reads[k].size, repeats * reads[k].reads);
  return repeats * period_instructions;
}

}  // namespace simboard
