// The ARM (32-bit) instruction set of ARMv4T. One table of 4096 handlers,
// indexed by opcode bits 27:20 and 7:4, is built once from DecodeArm; each
// handler sees a condition that has already passed.
#include <array>
#include <bit>
#include <cstdint>
#include <utility>

#include "simboard/core/arm_core.h"
#include "simboard/core/arm_core_internal.h"

namespace simboard {

namespace {

using Handler = void (*)(ArmCore&, std::uint32_t);

// Operand 2 forms of data processing.
enum OperandKind : unsigned {
  kImmediate,
  kLslImm, kLsrImm, kAsrImm, kRorImm,
  kLslReg, kLsrReg, kAsrReg, kRorReg,
  kOperandKinds
};

enum DpOpcode : unsigned {
  kAnd, kEor, kSub, kRsb, kAdd, kAdc, kSbc, kRsc, kTst, kTeq, kCmp, kCmn, kOrr, kMov, kBic, kMvn
};

}  // namespace


struct ArmDecoder : ArmInstructions {
  template <unsigned Op, bool S, unsigned Kind>
  static void DataProcessing(ArmCore& core, std::uint32_t op) {
    const unsigned rn = (op >> 16) & 15;
    const unsigned rd = (op >> 12) & 15;
    std::uint32_t carry = Carry(core);
    std::uint32_t operand;
    std::uint32_t a;
    if constexpr (Kind == kImmediate) {
      const unsigned rotate = ((op >> 8) & 15) * 2;
      operand = std::rotr(op & 0xFFu, static_cast<int>(rotate));
      if (rotate != 0) carry = operand >> 31;
      a = core.r_[rn];
    } else if constexpr (Kind < kLslReg) {
      const Shifted s = ShiftImmediate(Kind - kLslImm, core.r_[op & 15], (op >> 7) & 31, carry);
      operand = s.value;
      carry = s.carry;
      a = core.r_[rn];
    } else {
      // A register-specified shift takes an extra cycle, during which the
      // PC has moved on: R15 reads as the instruction's address + 12.
      core.r_[15] += 4;
      const Shifted s = ShiftRegister(Kind - kLslReg, core.r_[op & 15],
                                      core.r_[(op >> 8) & 15], carry);
      a = core.r_[rn];
      core.r_[15] -= 4;
      operand = s.value;
      carry = s.carry;
      ++core.cycles_now_;
    }
    std::uint32_t result = 0;
    // Flags of arithmetic are set inside the helpers; logical ones below.
    constexpr bool kArithmetic = Op == kSub || Op == kRsb || Op == kAdd || Op == kAdc ||
                                 Op == kSbc || Op == kRsc || Op == kCmp || Op == kCmn;
    constexpr bool kTest = Op == kTst || Op == kTeq || Op == kCmp || Op == kCmn;
    // With Rd = R15 and S, the flags come from the SPSR instead.
    const bool flags = S && rd != 15;
    switch (Op) {
      case kAnd: case kTst: result = a & operand; break;
      case kEor: case kTeq: result = a ^ operand; break;
      case kSub: case kCmp: result = SubWithFlags(core, a, operand, 1, flags); break;
      case kRsb: result = SubWithFlags(core, operand, a, 1, flags); break;
      case kAdd: case kCmn: result = AddWithFlags(core, a, operand, 0, flags); break;
      case kAdc: result = AddWithFlags(core, a, operand, Carry(core), flags); break;
      case kSbc: result = SubWithFlags(core, a, operand, Carry(core), flags); break;
      case kRsc: result = SubWithFlags(core, operand, a, Carry(core), flags); break;
      case kOrr: result = a | operand; break;
      case kMov: result = operand; break;
      case kBic: result = a & ~operand; break;
      case kMvn: result = ~operand; break;
      default: break;
    }
    if (!kArithmetic && flags) SetNzc(core, result, carry);
    if constexpr (kTest) {
      // TSTP, TEQP, CMPP, CMNP (Rd = R15), a relic of the 26-bit PSR: the
      // core moves the SPSR of the mode into the CPSR in a privileged mode
      // and does nothing in User or System mode, flags included (ARM7TDMI
      // data sheet, and for the ARM920T the S3C2440A user's manual, both in
      // "TEQ, TST, CMP and CMN opcodes"). The architecture leaves the Rd
      // field should-be-zero.
      if (rd == 15) RestoreCpsr(core);
    } else {
      WriteRegister(core, rd, result);
      // MOVS PC, LR and kin return from an exception; in User or System
      // mode, with no SPSR, the CPSR stays as it was.
      if (S && rd == 15) RestoreCpsr(core);
    }
  }

  template <std::size_t... I>
  static constexpr std::array<Handler, sizeof...(I)> MakeDataProcessing(std::index_sequence<I...>) {
    return {&DataProcessing<static_cast<unsigned>(I / (2 * kOperandKinds)),
                            ((I / kOperandKinds) % 2) != 0,
                            static_cast<unsigned>(I % kOperandKinds)>...};
  }

  static Handler DataProcessingHandler(unsigned opcode, bool s, unsigned kind) {
    static constexpr auto table =
        MakeDataProcessing(std::make_index_sequence<16 * 2 * kOperandKinds>());
    return table[(opcode * 2 + (s ? 1 : 0)) * kOperandKinds + kind];
  }

  // MUL, MLA.
  static void Multiply(ArmCore& core, std::uint32_t op) {
    const unsigned rd = (op >> 16) & 15;
    const std::uint32_t rs = core.r_[(op >> 8) & 15];
    std::uint32_t result = core.r_[op & 15] * rs;
    core.cycles_now_ += MultiplyCycles(rs, true);
    if (op & (1u << 21)) {
      result += core.r_[(op >> 12) & 15];
      ++core.cycles_now_;
    }
    // C is left as it was (its value is meaningless on ARMv4), V unaffected.
    if (op & (1u << 20)) SetNz(core, result);
    WriteRegister(core, rd, result);
  }

  // UMULL, UMLAL, SMULL, SMLAL.
  static void MultiplyLong(ArmCore& core, std::uint32_t op) {
    const unsigned hi = (op >> 16) & 15;
    const unsigned lo = (op >> 12) & 15;
    const bool is_signed = (op >> 22) & 1;
    const std::uint32_t rs = core.r_[(op >> 8) & 15];
    const std::uint32_t rm = core.r_[op & 15];
    std::uint64_t result;
    if (is_signed) {
      result = static_cast<std::uint64_t>(static_cast<std::int64_t>(static_cast<std::int32_t>(rm)) *
                                          static_cast<std::int32_t>(rs));
    } else {
      result = static_cast<std::uint64_t>(rm) * rs;
    }
    core.cycles_now_ += MultiplyCycles(rs, is_signed) + 1;
    if (op & (1u << 21)) {
      result += (static_cast<std::uint64_t>(core.r_[hi]) << 32) | core.r_[lo];
      ++core.cycles_now_;
    }
    if (op & (1u << 20)) {
      core.cpsr_ = (core.cpsr_ & ~(psr::kN | psr::kZ)) |
                   (static_cast<std::uint32_t>(result >> 32) & psr::kN) |
                   (result == 0 ? psr::kZ : 0u);
    }
    WriteRegister(core, lo, static_cast<std::uint32_t>(result));
    WriteRegister(core, hi, static_cast<std::uint32_t>(result >> 32));
  }

  // SWP, SWPB: the read and then the write, as one locked bus sequence.
  static void Swap(ArmCore& core, std::uint32_t op) {
    const bool byte = (op >> 22) & 1;
    const std::uint32_t address = core.r_[(op >> 16) & 15];
    const std::uint32_t source = core.r_[op & 15];
    std::uint32_t value;
    core.cycles_now_ += 3;
    if (byte) {
      if (!core.ReadData(address, AccessSize::Byte, value)) return;
      if (!core.WriteData(address, AccessSize::Byte, source & 0xFF)) return;
    } else {
      if (!LoadWord(core, address, value)) return;
      if (!core.WriteData(address, AccessSize::Word, source)) return;
    }
    WriteRegister(core, (op >> 12) & 15, value);
  }

  // LDRH, STRH, LDRSB, LDRSH with immediate or register offsets.
  static void HalfwordTransfer(ArmCore& core, std::uint32_t op) {
    const bool pre = (op >> 24) & 1;
    const bool up = (op >> 23) & 1;
    const bool immediate = (op >> 22) & 1;
    const bool writeback = !pre || ((op >> 21) & 1);
    const bool load = (op >> 20) & 1;
    const unsigned rn = (op >> 16) & 15;
    const unsigned rd = (op >> 12) & 15;
    const unsigned sh = (op >> 5) & 3;
    const std::uint32_t offset = immediate ? (((op >> 4) & 0xF0) | (op & 15)) : core.r_[op & 15];
    const std::uint32_t base = core.r_[rn];
    const std::uint32_t moved = up ? base + offset : base - offset;
    const std::uint32_t address = pre ? moved : base;
    const bool update = writeback && rn != 15;
    if (load) {
      std::uint32_t value;
      core.cycles_now_ += 2;
      const bool ok = sh == 2 ? core.ReadData(address, AccessSize::Byte, value)
                              : LoadHalfword(core, address, sh == 3, value);
      if (!ok) {
        if (update && BaseUpdatedOnAbort(core)) core.r_[rn] = moved;
        return;
      }
      if (sh == 2) value = static_cast<std::uint32_t>(static_cast<std::int8_t>(value));
      if (update) core.r_[rn] = moved;
      WriteRegister(core, rd, value);
    } else {
      const std::uint32_t value = rd == 15 ? StoredPc(core) : core.r_[rd];
      ++core.cycles_now_;
      if (!core.WriteData(address, AccessSize::Half, value & 0xFFFF)) {
        if (update && BaseUpdatedOnAbort(core)) core.r_[rn] = moved;
        return;
      }
      if (update) core.r_[rn] = moved;
    }
  }

  // LDR, STR, LDRB, STRB (and the T forms, which differ only in the
  // privilege the bus would see).
  template <bool RegisterOffset, bool Load, bool Byte>
  static void SingleTransfer(ArmCore& core, std::uint32_t op) {
    const bool pre = (op >> 24) & 1;
    const bool up = (op >> 23) & 1;
    constexpr bool byte = Byte;
    const bool writeback = !pre || ((op >> 21) & 1);
    constexpr bool load = Load;
    const unsigned rn = (op >> 16) & 15;
    const unsigned rd = (op >> 12) & 15;
    std::uint32_t offset;
    if constexpr (RegisterOffset) {
      offset = ShiftImmediate((op >> 5) & 3, core.r_[op & 15], (op >> 7) & 31, Carry(core)).value;
    } else {
      offset = op & 0xFFF;
    }
    const std::uint32_t base = core.r_[rn];
    const std::uint32_t moved = up ? base + offset : base - offset;
    const std::uint32_t address = pre ? moved : base;
    const bool update = writeback && rn != 15;
    if constexpr (load) {
      std::uint32_t value;
      core.cycles_now_ += 2;
      const bool ok = byte ? core.ReadData(address, AccessSize::Byte, value)
                           : LoadWord(core, address, value);
      if (!ok) {
        if (update && BaseUpdatedOnAbort(core)) core.r_[rn] = moved;
        return;
      }
      if (update) core.r_[rn] = moved;
      WriteRegister(core, rd, value);  // a loaded base wins over the writeback
    } else {
      const std::uint32_t value = rd == 15 ? StoredPc(core) : core.r_[rd];
      ++core.cycles_now_;
      const bool ok = byte ? core.WriteData(address, AccessSize::Byte, value & 0xFF)
                           : core.WriteData(address, AccessSize::Word, value);
      if (!ok) {
        if (update && BaseUpdatedOnAbort(core)) core.r_[rn] = moved;
        return;
      }
      if (update) core.r_[rn] = moved;
    }
  }

  // By the L (bit 20) and B (bit 22) bits of the opcode in `upper`.
  template <bool RegisterOffset>
  static Handler SingleTransferHandler(unsigned upper) {
    const bool load = upper & 1, byte = (upper >> 2) & 1;
    if (load)
      return byte ? &SingleTransfer<RegisterOffset, true, true>
                  : &SingleTransfer<RegisterOffset, true, false>;
    return byte ? &SingleTransfer<RegisterOffset, false, true>
                : &SingleTransfer<RegisterOffset, false, false>;
  }

  static void BlockTransferArm(ArmCore& core, std::uint32_t op) {
    const bool pre = (op >> 24) & 1;
    const bool up = (op >> 23) & 1;
    const bool s = (op >> 22) & 1;
    const bool writeback = (op >> 21) & 1;
    const bool load = (op >> 20) & 1;
    const std::uint32_t list = op & 0xFFFF;
    const bool pc_in_list = (list & 0x8000) != 0;
    BlockTransfer(core, (op >> 16) & 15, list, load, up, pre, writeback,
                  s && !(load && pc_in_list), s && load && pc_in_list);
  }

  static void Branch(ArmCore& core, std::uint32_t op) {
    const std::uint32_t offset = static_cast<std::uint32_t>(static_cast<std::int32_t>(op << 8) >> 6);
    if (op & (1u << 24)) core.r_[14] = core.r_[15] - 4;
    WriteRegister(core, 15, core.r_[15] + offset);
  }

  static void BranchExchange(ArmCore& core, std::uint32_t op) {
    const std::uint32_t target = core.r_[op & 15];
    if (target & 1) {
      core.cpsr_ |= psr::kT;
    } else {
      core.cpsr_ &= ~psr::kT;
    }
    WriteRegister(core, 15, target & ~1u);
  }

  static void MoveFromStatus(ArmCore& core, std::uint32_t op) {
    const bool spsr = (op >> 22) & 1;
    const unsigned bank = ArmCore::BankOf(core.cpsr_);
    std::uint32_t value = core.cpsr_;
    if (spsr && bank != ArmCore::kBankUser) value = core.bank_spsr_[bank];
    WriteRegister(core, (op >> 12) & 15, value);
  }

  template <bool Immediate>
  static void MoveToStatus(ArmCore& core, std::uint32_t op) {
    std::uint32_t value;
    if constexpr (Immediate) {
      value = std::rotr(op & 0xFFu, static_cast<int>(((op >> 8) & 15) * 2));
    } else {
      value = core.r_[op & 15];
    }
    // Field mask: f (bits 31:24) and c (7:0); the x and s fields hold no
    // implemented bits on ARMv4T.
    std::uint32_t mask = ((op & (1u << 19)) ? 0xFF000000u : 0u) | ((op & (1u << 16)) ? 0xFFu : 0u);
    mask &= psr::kImplemented;
    const bool spsr = (op >> 22) & 1;
    if (spsr) {
      const unsigned bank = ArmCore::BankOf(core.cpsr_);
      if (bank != ArmCore::kBankUser) {
        core.bank_spsr_[bank] = (core.bank_spsr_[bank] & ~mask) | (value & mask);
      }
      return;
    }
    if ((core.cpsr_ & psr::kModeMask) == static_cast<std::uint32_t>(Mode::User)) {
      mask &= psr::kFlags;  // User mode may change the flags only
    }
    mask &= ~psr::kT;  // MSR never changes the state
    core.WriteCpsr((core.cpsr_ & ~mask) | (value & mask));
  }

  static void SoftwareInterrupt(ArmCore& core, std::uint32_t op) {
    core.cycles_now_ += 2;
    RaiseSwi(core, op & 0xFFFFFF);
  }

  static void Undefined(ArmCore& core, std::uint32_t) {
    core.cycles_now_ += 3;
    RaiseUndefined(core);
  }

  static void BreakpointInstruction(ArmCore& core, std::uint32_t) { Breakpoint(core, false); }

  // MRC, MCR. Without a coprocessor that answers, undefined.
  static void CoprocessorRegister(ArmCore& core, std::uint32_t op) {
    const unsigned cp = (op >> 8) & 15;
    const unsigned op1 = (op >> 21) & 7;
    const unsigned crn = (op >> 16) & 15;
    const unsigned crm = op & 15;
    const unsigned op2 = (op >> 5) & 7;
    const unsigned rd = (op >> 12) & 15;
    if (op & (1u << 20)) {
      std::uint32_t value;
      if (!core.CoprocessorRead(cp, op1, crn, crm, op2, value)) {
        RaiseUndefined(core);
        return;
      }
      if (rd == 15) {
        core.cpsr_ = (core.cpsr_ & ~psr::kFlags) | (value & psr::kFlags);
      } else {
        core.r_[rd] = value;
      }
    } else {
      const std::uint32_t value = rd == 15 ? StoredPc(core) : core.r_[rd];
      if (!core.CoprocessorWrite(cp, op1, crn, crm, op2, value)) {
        RaiseUndefined(core);
        return;
      }
    }
    core.cycles_now_ += 2;
    core.UpdatePendingEvents();
  }

  // index = opcode bits 27:20 << 4 | bits 7:4.
  static Handler Decode(unsigned index) {
    const unsigned upper = index >> 4;  // bits 27:20
    const unsigned lower = index & 15;  // bits 7:4
    const unsigned opcode = (upper >> 1) & 15;
    const bool s = upper & 1;
    switch (upper >> 5) {  // bits 27:25
      case 0: {
        if ((lower & 9) == 9) {  // bits 7 and 4 set: multiplies, swap, halfword transfers
          if ((lower & 6) == 0) {
            if ((upper & 0xFC) == 0x00) return &Multiply;
            if ((upper & 0xF8) == 0x08) return &MultiplyLong;
            if ((upper & 0xFB) == 0x10) return &Swap;
            return &Undefined;
          }
          const bool load = upper & 1;
          const unsigned sh = (lower >> 1) & 3;
          if (!load && sh != 1) return &Undefined;  // doubleword forms are ARMv5TE
          return &HalfwordTransfer;
        }
        if (opcode >= kTst && opcode <= kCmn && !s) {  // status register and BX space
          if (lower == 0) return (upper & 2) ? &MoveToStatus<false> : &MoveFromStatus;
          if (upper == 0x12 && lower == 1) return &BranchExchange;
          if (upper == 0x12 && lower == 7) return &BreakpointInstruction;  // BKPT
          return &Undefined;
        }
        const unsigned type = (lower >> 1) & 3;
        const unsigned kind = (lower & 1) ? kLslReg + type : kLslImm + type;
        return DataProcessingHandler(opcode, s, kind);
      }
      case 1:
        if (opcode >= kTst && opcode <= kCmn && !s) {
          return (upper & 2) ? &MoveToStatus<true> : &Undefined;
        }
        return DataProcessingHandler(opcode, s, kImmediate);
      case 2:
        return SingleTransferHandler<false>(upper);
      case 3:
        return (lower & 1) ? &Undefined : SingleTransferHandler<true>(upper);
      case 4: return &BlockTransferArm;
      case 5: return &Branch;
      case 6: return &Undefined;  // LDC, STC: no coprocessor takes memory transfers
      default:
        if (upper & 0x10) return &SoftwareInterrupt;
        return (lower & 1) ? &CoprocessorRegister : &Undefined;  // CDP: undefined
    }
  }

  static const std::array<Handler, 4096>& Table() {
    static const std::array<Handler, 4096> table = [] {
      std::array<Handler, 4096> t{};
      for (unsigned i = 0; i < 4096; ++i) t[i] = Decode(i);
      return t;
    }();
    return table;
  }
};

void ArmInstructions::BlockTransfer(ArmCore& core, unsigned rn, std::uint32_t list, bool load,
                                    bool increment, bool before, bool writeback, bool user_bank,
                                    bool restore_cpsr) {
  // An empty list transfers R15 and moves the base by 64 bytes, as the
  // ARM7TDMI does.
  const bool empty = list == 0;
  if (empty) list = 0x8000;
  const std::uint32_t count = empty ? 16u : static_cast<std::uint32_t>(std::popcount(list));
  const std::uint32_t base = core.r_[rn];
  std::uint32_t address;
  std::uint32_t new_base;
  if (increment) {
    address = before ? base + 4 : base;
    new_base = base + 4 * count;
  } else {
    address = before ? base - 4 * count : base - 4 * count + 4;
    new_base = base - 4 * count;
  }
  const bool update = writeback && rn != 15;
  if (load) {
    core.cycles_now_ += static_cast<std::uint32_t>(std::popcount(list)) + 1;
    std::array<std::uint32_t, 16> values{};
    for (unsigned i = 0; i < 16; ++i) {
      if (!(list & (1u << i))) continue;
      if (!core.ReadData(address, AccessSize::Word, values[i])) {
        if (BaseUpdatedOnAbort(core)) {
          // The ARM7TDMI stops overwriting registers at the abort: those
          // loaded before it keep their new values (the PC, always last, is
          // never reached), and the base ends as written back, or as it was
          // without writeback (ARM7TDMI data sheet, "Block data transfer",
          // data aborts).
          for (unsigned j = 0; j < i; ++j) {
            if (!(list & (1u << j))) continue;
            if (user_bank) {
              core.SetUserRegister(j, values[j]);
            } else {
              core.r_[j] = values[j];
            }
          }
          if (rn != 15) core.r_[rn] = update ? new_base : base;
        }
        return;
      }
      address += 4;
    }
    if (update) core.r_[rn] = new_base;
    for (unsigned i = 0; i < 16; ++i) {
      if (!(list & (1u << i))) continue;
      if (i == 15) {
        WriteRegister(core, 15, values[i]);
      } else if (user_bank) {
        core.SetUserRegister(i, values[i]);
      } else {
        core.r_[i] = values[i];
      }
    }
    if (restore_cpsr) RestoreCpsr(core);
  } else {
    core.cycles_now_ += static_cast<std::uint32_t>(std::popcount(list));
    // The base is written back after the first transfer: a base stored later
    // in the list is the updated one.
    bool first = true;
    for (unsigned i = 0; i < 16; ++i) {
      if (!(list & (1u << i))) continue;
      std::uint32_t value;
      if (i == 15) {
        value = StoredPc(core);
      } else if (i == rn && update && !first) {
        value = new_base;
      } else if (user_bank) {
        value = core.UserRegister(i);
      } else {
        value = core.r_[i];
      }
      first = false;
      if (!core.WriteData(address, AccessSize::Word, value)) {
        if (update && BaseUpdatedOnAbort(core)) core.r_[rn] = new_base;
        return;
      }
      address += 4;
    }
    if (update) core.r_[rn] = new_base;
  }
}

void ArmInstructions::Execute(ArmCore& core, std::uint32_t opcode) {
  if (!((kConditionTable[opcode >> 28] >> (core.cpsr_ >> 28)) & 1)) return;
  static const std::array<Handler, 4096>& table = ArmDecoder::Table();
  table[((opcode >> 16) & 0xFF0) | ((opcode >> 4) & 0xF)](core, opcode);
}

ArmCore::Handler ArmInstructions::HandlerFor(std::uint32_t opcode) {
  static const std::array<Handler, 4096>& table = ArmDecoder::Table();
  return table[((opcode >> 16) & 0xFF0) | ((opcode >> 4) & 0xF)];
}

}  // namespace simboard
