// The THUMB (16-bit) instruction set of ARMv4T: the nineteen formats, one
// table of 1024 handlers indexed by opcode bits 15:6, built once.
#include <array>
#include <bit>
#include <cstdint>

#include "simboard/core/arm_core.h"
#include "simboard/core/arm_core_internal.h"

namespace simboard {

namespace {

using Handler = void (*)(ArmCore&, std::uint32_t);

enum AluOp : unsigned {
  kAluAnd, kAluEor, kAluLsl, kAluLsr, kAluAsr, kAluAdc, kAluSbc, kAluRor,
  kAluTst, kAluNeg, kAluCmp, kAluCmn, kAluOrr, kAluMul, kAluBic, kAluMvn
};

}  // namespace

struct ThumbDecoder : ArmInstructions {
  static std::uint32_t& R(ArmCore& core, unsigned n) { return core.r_[n]; }
  static std::uint32_t Pc(const ArmCore& core) { return core.r_[15]; }
  static std::uint32_t InstructionAddress(const ArmCore& core) { return core.pc_; }
  static std::uint32_t& Cycles(ArmCore& core) { return core.cycles_now_; }
  static bool Read(ArmCore& core, std::uint32_t address, AccessSize size, std::uint32_t& value) {
    return core.ReadData(address, size, value);
  }
  static bool Write(ArmCore& core, std::uint32_t address, AccessSize size, std::uint32_t value) {
    return core.WriteData(address, size, value);
  }
  static void SetThumbBit(ArmCore& core, bool thumb) {
    if (thumb) {
      core.cpsr_ |= psr::kT;
    } else {
      core.cpsr_ &= ~psr::kT;
    }
  }
  static bool ConditionHolds(const ArmCore& core, unsigned cond) {
    return ConditionPassed(core, cond);
  }

  // Format 1: LSL, LSR, ASR by an immediate.
  template <unsigned Type>
  static void ShiftByImmediate(ArmCore& core, std::uint32_t op) {
    const Shifted s = ShiftImmediate(Type, R(core, (op >> 3) & 7), (op >> 6) & 31, Carry(core));
    R(core, op & 7) = s.value;
    SetNzc(core, s.value, s.carry);
  }

  // Format 2: ADD/SUB with a register or a 3-bit immediate.
  static void AddSubtract(ArmCore& core, std::uint32_t op) {
    const std::uint32_t a = R(core, (op >> 3) & 7);
    const std::uint32_t b = (op & (1u << 10)) ? ((op >> 6) & 7) : R(core, (op >> 6) & 7);
    R(core, op & 7) = (op & (1u << 9)) ? SubWithFlags(core, a, b, 1, true)
                                       : AddWithFlags(core, a, b, 0, true);
  }

  // Format 3: MOV, CMP, ADD, SUB with an 8-bit immediate.
  template <unsigned Op>
  static void Immediate(ArmCore& core, std::uint32_t op) {
    const unsigned rd = (op >> 8) & 7;
    const std::uint32_t imm = op & 0xFF;
    switch (Op) {
      case 0: R(core, rd) = imm; SetNz(core, imm); break;
      case 1: SubWithFlags(core, R(core, rd), imm, 1, true); break;
      case 2: R(core, rd) = AddWithFlags(core, R(core, rd), imm, 0, true); break;
      default: R(core, rd) = SubWithFlags(core, R(core, rd), imm, 1, true); break;
    }
  }

  // Format 4: register-to-register ALU operations.
  template <unsigned Op>
  static void Alu(ArmCore& core, std::uint32_t op) {
    const unsigned rd = op & 7;
    const std::uint32_t a = R(core, rd);
    const std::uint32_t b = R(core, (op >> 3) & 7);
    std::uint32_t result = 0;
    switch (Op) {
      case kAluAnd: result = a & b; SetNz(core, result); break;
      case kAluEor: result = a ^ b; SetNz(core, result); break;
      case kAluLsl: case kAluLsr: case kAluAsr: case kAluRor: {
        const unsigned type = Op == kAluLsl ? kLsl : Op == kAluLsr ? kLsr : Op == kAluAsr ? kAsr : kRor;
        const Shifted s = ShiftRegister(type, a, b, Carry(core));
        result = s.value;
        SetNzc(core, result, s.carry);
        ++Cycles(core);
        break;
      }
      case kAluAdc: result = AddWithFlags(core, a, b, Carry(core), true); break;
      case kAluSbc: result = SubWithFlags(core, a, b, Carry(core), true); break;
      case kAluTst: SetNz(core, a & b); return;
      case kAluNeg: result = SubWithFlags(core, 0, b, 1, true); break;
      case kAluCmp: SubWithFlags(core, a, b, 1, true); return;
      case kAluCmn: AddWithFlags(core, a, b, 0, true); return;
      case kAluOrr: result = a | b; SetNz(core, result); break;
      case kAluMul:
        result = a * b;
        Cycles(core) += MultiplyCycles(a, true);
        SetNz(core, result);  // C left as it was
        break;
      case kAluBic: result = a & ~b; SetNz(core, result); break;
      default: result = ~b; SetNz(core, result); break;
    }
    R(core, rd) = result;
  }

  // Format 5: ADD, CMP, MOV on any register, and BX.
  template <unsigned Op>
  static void HighRegister(ArmCore& core, std::uint32_t op) {
    const unsigned rd = (op & 7) | ((op >> 4) & 8);
    const unsigned rs = (op >> 3) & 15;
    const std::uint32_t b = R(core, rs);
    switch (Op) {
      case 0: WriteRegister(core, rd, R(core, rd) + b); break;
      case 1: SubWithFlags(core, R(core, rd), b, 1, true); break;
      case 2: WriteRegister(core, rd, b); break;
      default:
        SetThumbBit(core, (b & 1) != 0);
        WriteRegister(core, 15, b & ~1u);
        break;
    }
  }

  // Format 6: LDR Rd, [PC, #imm8*4], from the word-aligned PC.
  static void PcRelativeLoad(ArmCore& core, std::uint32_t op) {
    std::uint32_t value;
    Cycles(core) += 2;
    if (Read(core, (Pc(core) & ~3u) + ((op & 0xFF) << 2), AccessSize::Word, value)) {
      R(core, (op >> 8) & 7) = value;
    }
  }

  // Formats 7, 8, 9, 10: loads and stores with register or immediate offsets.
  // Kind: 0 STR, 1 STRB, 2 LDR, 3 LDRB, 4 STRH, 5 LDRH, 6 LDRSB, 7 LDRSH.
  template <unsigned Kind>
  static void Transfer(ArmCore& core, std::uint32_t op, std::uint32_t address) {
    const unsigned rd = op & 7;
    std::uint32_t value;
    switch (Kind) {
      case 0: ++Cycles(core); Write(core, address, AccessSize::Word, R(core, rd)); return;
      case 1: ++Cycles(core); Write(core, address, AccessSize::Byte, R(core, rd) & 0xFF); return;
      case 4: ++Cycles(core); Write(core, address, AccessSize::Half, R(core, rd) & 0xFFFF); return;
      default: break;
    }
    Cycles(core) += 2;
    switch (Kind) {
      case 2: if (!LoadWord(core, address, value)) return; break;
      case 3: if (!Read(core, address, AccessSize::Byte, value)) return; break;
      case 5:
        if (!LoadHalfword(core, address, false, value)) return;
        break;
      case 6:
        if (!Read(core, address, AccessSize::Byte, value)) return;
        value = static_cast<std::uint32_t>(static_cast<std::int8_t>(value));
        break;
      default:
        if (!LoadHalfword(core, address, true, value)) return;
        break;
    }
    R(core, rd) = value;
  }

  template <unsigned Kind>
  static void RegisterOffset(ArmCore& core, std::uint32_t op) {
    Transfer<Kind>(core, op, R(core, (op >> 3) & 7) + R(core, (op >> 6) & 7));
  }

  template <unsigned Kind, unsigned Scale>
  static void ImmediateOffset(ArmCore& core, std::uint32_t op) {
    Transfer<Kind>(core, op, R(core, (op >> 3) & 7) + ((op >> 6) & 31) * Scale);
  }

  // Format 11: SP-relative load and store.
  template <bool Load>
  static void SpRelative(ArmCore& core, std::uint32_t op) {
    const unsigned rd = (op >> 8) & 7;
    const std::uint32_t address = R(core, 13) + ((op & 0xFF) << 2);
    if constexpr (Load) {
      std::uint32_t value;
      Cycles(core) += 2;
      if (LoadWord(core, address, value)) R(core, rd) = value;
    } else {
      ++Cycles(core);
      Write(core, address, AccessSize::Word, R(core, rd));
    }
  }

  // Format 12: ADD Rd, PC/SP, #imm8*4.
  template <bool FromSp>
  static void LoadAddress(ArmCore& core, std::uint32_t op) {
    const std::uint32_t base = FromSp ? R(core, 13) : (Pc(core) & ~3u);
    R(core, (op >> 8) & 7) = base + ((op & 0xFF) << 2);
  }

  // Format 13: ADD SP, #+/-imm7*4.
  static void AdjustSp(ArmCore& core, std::uint32_t op) {
    const std::uint32_t offset = (op & 0x7F) << 2;
    R(core, 13) = (op & 0x80) ? R(core, 13) - offset : R(core, 13) + offset;
  }

  // Format 14: PUSH {rlist, LR}, POP {rlist, PC}: a full descending stack on SP.
  template <bool Pop>
  static void PushPop(ArmCore& core, std::uint32_t op) {
    std::uint32_t list = op & 0xFF;
    if (op & (1u << 8)) list |= Pop ? 0x8000u : 0x4000u;
    if constexpr (Pop) {
      BlockTransfer(core, 13, list, true, true, false, true, false, false);
    } else {
      BlockTransfer(core, 13, list, false, false, true, true, false, false);
    }
  }

  // Format 15: STMIA/LDMIA Rb!, {rlist}.
  template <bool Load>
  static void Multiple(ArmCore& core, std::uint32_t op) {
    const unsigned rb = (op >> 8) & 7;
    const std::uint32_t list = op & 0xFF;
    // A loaded base is not written back over.
    const bool writeback = !(Load && (list & (1u << rb)));
    BlockTransfer(core, rb, list, Load, true, false, writeback, false, false);
  }

  // Format 16: conditional branch.
  static void ConditionalBranch(ArmCore& core, std::uint32_t op) {
    if (!ConditionHolds(core, (op >> 8) & 15)) return;
    const std::uint32_t offset = static_cast<std::uint32_t>(static_cast<std::int8_t>(op & 0xFF)) << 1;
    WriteRegister(core, 15, Pc(core) + offset);
  }

  // Format 17.
  static void SoftwareInterrupt(ArmCore& core, std::uint32_t op) {
    Cycles(core) += 2;
    RaiseSwi(core, op & 0xFF);
  }

  // Format 18: unconditional branch.
  static void Branch(ArmCore& core, std::uint32_t op) {
    const std::uint32_t offset =
        static_cast<std::uint32_t>(static_cast<std::int32_t>(op << 21) >> 20);
    WriteRegister(core, 15, Pc(core) + offset);
  }

  // Format 19: BL as two instructions; the first leaves the high part of
  // the target in LR, the second branches and leaves the return address.
  static void LongBranchHigh(ArmCore& core, std::uint32_t op) {
    const std::uint32_t offset =
        static_cast<std::uint32_t>(static_cast<std::int32_t>(op << 21) >> 9);
    R(core, 14) = Pc(core) + offset;
  }

  static void LongBranchLow(ArmCore& core, std::uint32_t op) {
    const std::uint32_t target = R(core, 14) + ((op & 0x7FF) << 1);
    R(core, 14) = (InstructionAddress(core) + 2) | 1;
    WriteRegister(core, 15, target);
  }

  static void Undefined(ArmCore& core, std::uint32_t) {
    Cycles(core) += 3;
    RaiseUndefined(core);
  }

  static void BreakpointInstruction(ArmCore& core, std::uint32_t) { Breakpoint(core, true); }

  static Handler AluFor(unsigned op) {
    static constexpr std::array<Handler, 16> table = {
        &Alu<0>, &Alu<1>, &Alu<2>, &Alu<3>, &Alu<4>, &Alu<5>, &Alu<6>, &Alu<7>,
        &Alu<8>, &Alu<9>, &Alu<10>, &Alu<11>, &Alu<12>, &Alu<13>, &Alu<14>, &Alu<15>};
    return table[op & 15];
  }

  // index = opcode bits 15:6.
  static Handler Decode(unsigned index) {
    const unsigned top = index >> 5;  // bits 15:11
    switch (top) {
      case 0: return &ShiftByImmediate<kLsl>;
      case 1: return &ShiftByImmediate<kLsr>;
      case 2: return &ShiftByImmediate<kAsr>;
      case 3: return &AddSubtract;
      case 4: return &Immediate<0>;
      case 5: return &Immediate<1>;
      case 6: return &Immediate<2>;
      case 7: return &Immediate<3>;
      case 8:
        if (!(index & 0x10)) return AluFor(index & 15);
        switch ((index >> 2) & 3) {
          case 0: return &HighRegister<0>;
          case 1: return &HighRegister<1>;
          case 2: return &HighRegister<2>;
          default: return (index & 2) ? &Undefined : &HighRegister<3>;  // H1 set: BLX on ARMv5
        }
      case 9: return &PcRelativeLoad;
      case 10: case 11: {
        const unsigned lb = (index >> 4) & 3;  // bits 11:10
        if (!(index & 8)) {                     // bit 9 clear: format 7
          switch (lb) {
            case 0: return &RegisterOffset<0>;
            case 1: return &RegisterOffset<1>;
            case 2: return &RegisterOffset<2>;
            default: return &RegisterOffset<3>;
          }
        }
        switch (lb) {  // format 8: H (bit 11), S (bit 10)
          case 0: return &RegisterOffset<4>;
          case 1: return &RegisterOffset<6>;
          case 2: return &RegisterOffset<5>;
          default: return &RegisterOffset<7>;
        }
      }
      case 12: return &ImmediateOffset<0, 4>;
      case 13: return &ImmediateOffset<2, 4>;
      case 14: return &ImmediateOffset<1, 1>;
      case 15: return &ImmediateOffset<3, 1>;
      case 16: return &ImmediateOffset<4, 2>;
      case 17: return &ImmediateOffset<5, 2>;
      case 18: return &SpRelative<false>;
      case 19: return &SpRelative<true>;
      case 20: return &LoadAddress<false>;
      case 21: return &LoadAddress<true>;
      case 22: case 23: {
        const unsigned bits = (index >> 2) & 15;  // bits 11:8
        if (bits == 0) return &AdjustSp;
        if (bits == 4 || bits == 5) return &PushPop<false>;
        if (bits == 12 || bits == 13) return &PushPop<true>;
        if (bits == 14) return &BreakpointInstruction;  // BKPT
        return &Undefined;
      }
      case 24: return &Multiple<false>;
      case 25: return &Multiple<true>;
      case 26: case 27: {
        const unsigned cond = (index >> 2) & 15;
        if (cond == 15) return &SoftwareInterrupt;
        if (cond == 14) return &Undefined;
        return &ConditionalBranch;
      }
      case 28: return &Branch;
      case 29: return &Undefined;  // BLX suffix: ARMv5
      case 30: return &LongBranchHigh;
      default: return &LongBranchLow;
    }
  }

  static const std::array<Handler, 1024>& Table() {
    static const std::array<Handler, 1024> table = [] {
      std::array<Handler, 1024> t{};
      for (unsigned i = 0; i < 1024; ++i) t[i] = Decode(i);
      return t;
    }();
    return table;
  }
};

void ThumbInstructions::Execute(ArmCore& core, std::uint32_t opcode) {
  static const std::array<Handler, 1024>& table = ThumbDecoder::Table();
  table[(opcode >> 6) & 0x3FF](core, opcode & 0xFFFF);
}

ArmCore::Handler ThumbInstructions::HandlerFor(std::uint32_t opcode) {
  static const std::array<Handler, 1024>& table = ThumbDecoder::Table();
  return table[(opcode >> 6) & 0x3FF];
}

}  // namespace simboard
