// Pieces of the core shared by the ARM and THUMB instruction sets: the barrel
// shifter, flag arithmetic, register writes that may move the PC, and the
// block transfer both states use. Private to the core's sources.
#pragma once

#include <array>
#include <bit>
#include <cstdint>

#include "simboard/core/arm_core.h"

namespace simboard {

// For each condition, bit n is set when it holds with NZCV = n.
constexpr std::array<std::uint16_t, 16> MakeConditionTable() {
  std::array<std::uint16_t, 16> table{};
  for (unsigned cond = 0; cond < 16; ++cond) {
    std::uint16_t mask = 0;
    for (unsigned flags = 0; flags < 16; ++flags) {
      const bool n = flags & 8, z = flags & 4, c = flags & 2, v = flags & 1;
      bool pass = false;
      switch (cond) {
        case 0x0: pass = z; break;               // EQ
        case 0x1: pass = !z; break;              // NE
        case 0x2: pass = c; break;               // CS
        case 0x3: pass = !c; break;              // CC
        case 0x4: pass = n; break;               // MI
        case 0x5: pass = !n; break;              // PL
        case 0x6: pass = v; break;               // VS
        case 0x7: pass = !v; break;              // VC
        case 0x8: pass = c && !z; break;         // HI
        case 0x9: pass = !c || z; break;         // LS
        case 0xA: pass = n == v; break;          // GE
        case 0xB: pass = n != v; break;          // LT
        case 0xC: pass = !z && n == v; break;    // GT
        case 0xD: pass = z || n != v; break;     // LE
        case 0xE: pass = true; break;            // AL
        default: pass = false; break;            // NV: never on ARMv4
      }
      if (pass) mask = static_cast<std::uint16_t>(mask | (1u << flags));
    }
    table[cond] = mask;
  }
  return table;
}

inline constexpr std::array<std::uint16_t, 16> kConditionTable = MakeConditionTable();

// A shifter result with its carry out.
struct Shifted {
  std::uint32_t value;
  std::uint32_t carry;  // 0 or 1
};

enum ShiftType : unsigned { kLsl = 0, kLsr = 1, kAsr = 2, kRor = 3 };

// Shift by an immediate amount (0-31), with the encodings of 0 that mean
// LSR #32, ASR #32 and RRX.
inline Shifted ShiftImmediate(unsigned type, std::uint32_t value, unsigned amount,
                              std::uint32_t carry_in) {
  switch (type) {
    case kLsl:
      if (amount == 0) return {value, carry_in};
      return {value << amount, (value >> (32 - amount)) & 1};
    case kLsr:
      if (amount == 0) return {0, value >> 31};
      return {value >> amount, (value >> (amount - 1)) & 1};
    case kAsr:
      if (amount == 0) return {static_cast<std::uint32_t>(static_cast<std::int32_t>(value) >> 31),
                               value >> 31};
      return {static_cast<std::uint32_t>(static_cast<std::int32_t>(value) >> amount),
              (value >> (amount - 1)) & 1};
    default:
      if (amount == 0) return {(carry_in << 31) | (value >> 1), value & 1};  // RRX
      return {std::rotr(value, static_cast<int>(amount)), (value >> (amount - 1)) & 1};
  }
}

// Shift by the bottom byte of a register.
inline Shifted ShiftRegister(unsigned type, std::uint32_t value, std::uint32_t amount,
                             std::uint32_t carry_in) {
  amount &= 0xFF;
  if (amount == 0) return {value, carry_in};
  switch (type) {
    case kLsl:
      if (amount < 32) return {value << amount, (value >> (32 - amount)) & 1};
      if (amount == 32) return {0, value & 1};
      return {0, 0};
    case kLsr:
      if (amount < 32) return {value >> amount, (value >> (amount - 1)) & 1};
      if (amount == 32) return {0, value >> 31};
      return {0, 0};
    case kAsr:
      if (amount < 32) {
        return {static_cast<std::uint32_t>(static_cast<std::int32_t>(value) >> amount),
                (value >> (amount - 1)) & 1};
      }
      return {static_cast<std::uint32_t>(static_cast<std::int32_t>(value) >> 31), value >> 31};
    default: {
      const unsigned r = amount & 31;
      if (r == 0) return {value, value >> 31};
      const std::uint32_t result = std::rotr(value, static_cast<int>(r));
      return {result, result >> 31};
    }
  }
}

// Multiplier early termination (ARM7TDMI): cycles by the significant bytes of Rs.
inline std::uint32_t MultiplyCycles(std::uint32_t rs, bool is_signed) {
  std::uint32_t cycles = 1;
  for (unsigned shift = 8; shift < 32; shift += 8) {
    const std::uint32_t top = rs >> shift;
    if (top == 0 || (is_signed && top == (0xFFFFFFFFu >> shift))) break;
    ++cycles;
  }
  return cycles;
}

struct ArmInstructions {
  static void Execute(ArmCore& core, std::uint32_t opcode);
  // The handler of an opcode's encoding; it expects the condition to have
  // passed.
  static ArmCore::Handler HandlerFor(std::uint32_t opcode);

  // 16-bit masks over NZCV (bit n set: condition holds for flags value n).
  static bool ConditionPassed(const ArmCore& core, unsigned cond) {
    return (kConditionTable[cond & 15] >> (core.cpsr_ >> 28)) & 1;
  }

  static std::uint32_t Carry(const ArmCore& core) { return (core.cpsr_ >> 29) & 1; }

  static void SetNz(ArmCore& core, std::uint32_t result) {
    core.cpsr_ = (core.cpsr_ & ~(psr::kN | psr::kZ)) | (result & psr::kN) |
                 (result == 0 ? psr::kZ : 0u);
  }
  static void SetNzc(ArmCore& core, std::uint32_t result, std::uint32_t carry) {
    core.cpsr_ = (core.cpsr_ & ~(psr::kN | psr::kZ | psr::kC)) | (result & psr::kN) |
                 (result == 0 ? psr::kZ : 0u) | (carry << 29);
  }
  static void SetNzcv(ArmCore& core, std::uint32_t result, std::uint32_t carry,
                      std::uint32_t overflow) {
    core.cpsr_ = (core.cpsr_ & ~psr::kFlags) | (result & psr::kN) | (result == 0 ? psr::kZ : 0u) |
                 (carry << 29) | (overflow << 28);
  }

  // a + b + carry_in with its flags.
  static std::uint32_t AddWithFlags(ArmCore& core, std::uint32_t a, std::uint32_t b,
                                    std::uint32_t carry_in, bool set_flags) {
    const std::uint64_t wide = static_cast<std::uint64_t>(a) + b + carry_in;
    const std::uint32_t result = static_cast<std::uint32_t>(wide);
    if (set_flags) {
      SetNzcv(core, result, static_cast<std::uint32_t>(wide >> 32),
              (~(a ^ b) & (a ^ result)) >> 31);
    }
    return result;
  }
  // a - b - (1 - carry_in), C = no borrow.
  static std::uint32_t SubWithFlags(ArmCore& core, std::uint32_t a, std::uint32_t b,
                                    std::uint32_t carry_in, bool set_flags) {
    return AddWithFlags(core, a, ~b, carry_in, set_flags);
  }

  // Writes a register; R15 becomes a branch target taken after the instruction.
  static void WriteRegister(ArmCore& core, unsigned n, std::uint32_t value) {
    core.r_[n] = value;
    if (n == 15) {
      core.current_.pc_written = true;
      core.cycles_now_ += 2;
    }
  }

  // CPSR = SPSR of the current mode (exception return); nothing in User/System.
  static void RestoreCpsr(ArmCore& core) {
    const unsigned bank = ArmCore::BankOf(core.cpsr_);
    if (bank != ArmCore::kBankUser) core.WriteCpsr(core.bank_spsr_[bank]);
  }

  static bool BaseUpdatedOnAbort(const ArmCore& core) {
    return core.model_ == CoreModel::ARM7TDMI;  // ARM9TDMI restores the base
  }

  // LDM/STM over `list` from `base` (lowest address first). `increment` and
  // `before` pick the addressing mode; `user_bank` transfers User registers
  // (the ^ form without R15); `restore_cpsr` is the ^ form of LDM with R15.
  static void BlockTransfer(ArmCore& core, unsigned rn, std::uint32_t list, bool load,
                            bool increment, bool before, bool writeback, bool user_bank,
                            bool restore_cpsr);

  // Word load with the unaligned rotation, byte and halfword loads; all false
  // on an abort.
  static bool LoadWord(ArmCore& core, std::uint32_t address, std::uint32_t& value) {
    if (!core.ReadData(address, AccessSize::Word, value)) return false;
    value = core.RotateUnaligned(value, address);
    return true;
  }

  // Halfword loads: LDRH, or LDRSH when `sign`. An odd address is left
  // unpredictable by the architecture, but each core does one thing with
  // it, and code written on the chip relies on it. The ARM7TDMI makes the
  // halfword bus cycle, selects the halfword as usual and then turns it
  // right by a byte, as its load rotator turns a word by the address bits
  // (the same amount in either byte order). Its data sheet only calls the
  // value unpredictable ("Halfword and signed data transfer"); this follows
  // its data path (the rotation of loaded data in "Single data transfer")
  // and what the chip is measured to do little-endian: LDRH gives the
  // halfword rotated right by 8 bits, LDRSH its bits 7:0 sign-extended (the
  // addressed byte, little-endian). The ARM9TDMI's load path ignores bit 0:
  // both read the aligned halfword.
  static bool LoadHalfword(ArmCore& core, std::uint32_t address, bool sign, std::uint32_t& value) {
    if (!core.ReadData(address, AccessSize::Half, value)) return false;
    if ((address & 1) != 0 && core.model_ == CoreModel::ARM7TDMI) {
      value = std::rotr(value, 8);
      if (sign) value = static_cast<std::uint32_t>(static_cast<std::int8_t>(value));
      return true;
    }
    if (sign) value = static_cast<std::uint32_t>(static_cast<std::int16_t>(value));
    return true;
  }

  // R15 as a store of it sees it: one fetch further on than an operand,
  // address + 12 in ARM state, + 6 in THUMB state (only an empty THUMB
  // register list stores it).
  static std::uint32_t StoredPc(const ArmCore& core) {
    return core.r_[15] + ((core.cpsr_ & psr::kT) != 0 ? 2u : 4u);
  }

  // BKPT, in either state. The ARM9TDMI's debug logic takes it as a
  // breakpoint on itself while it stops the core at breakpoints: the core
  // enters debug state before it, as the debugger's code that ends on one
  // expects. Otherwise, and always on the ARM7TDMI (ARMv4T knows no BKPT),
  // it is an undefined instruction.
  static void Breakpoint(ArmCore& core, bool thumb) {
    if (core.model_ == CoreModel::ARM9TDMI && !core.injected_ && core.observer_ != nullptr &&
        core.observer_->StopsAtBreakpointInstruction(core.pc_, thumb)) {
      core.current_.breakpoint_hit = true;
      core.r_[15] = core.pc_;  // stays where it is
      core.current_.pc_written = true;
      return;
    }
    core.cycles_now_ += 3;
    RaiseUndefined(core);
  }

  static void RaiseUndefined(ArmCore& core) {
    core.current_.exception_pending = true;
    core.pending_exception_ = Exception::Undefined;
  }
  static void RaiseSwi(ArmCore& core, std::uint32_t comment) {
    core.current_.exception_pending = true;
    core.pending_exception_ = Exception::Swi;
    core.swi_comment_ = comment;
  }
};

struct ThumbInstructions {
  static void Execute(ArmCore& core, std::uint32_t opcode);
  static ArmCore::Handler HandlerFor(std::uint32_t opcode);
};

}  // namespace simboard
