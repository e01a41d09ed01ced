// Differential test: random instruction streams run on our core and on
// Unicorn (TI925T model, an ARMv4T core), which must end in the same
// registers, flags and memory. The streams keep to what ARMv4T defines and
// both implement alike: no unaligned word accesses, no R15 operands, no
// register combinations the architecture leaves unpredictable, Rn zero in
// MOV/MVN. Little-endian only: Unicorn's big-endian ARM mode fetches code
// big-endian but keeps data little-endian, which is no BE-32 system; the
// big-endian paths are covered by the instruction tests.
#include <gtest/gtest.h>
#include <unicorn/unicorn.h>

#include <array>
#include <cstdlib>
#include <cstdint>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "simboard/core/arm_core.h"
#include "simboard/tests/arm_test_support.h"

namespace simboard {
namespace {

constexpr std::uint32_t kCodeBase = 0x00010000;
constexpr std::uint32_t kCodeSize = 0x00010000;
constexpr std::uint32_t kDataBase = 0x00020000;
constexpr std::uint32_t kDataSize = 0x00010000;
constexpr std::uint32_t kDataMiddle = kDataBase + kDataSize / 2;

// Registers the streams keep as bases and offsets, never written.
constexpr unsigned kArmBase = 12;
constexpr unsigned kArmIndex = 11;
constexpr unsigned kThumbBase = 7;
constexpr unsigned kThumbIndex = 6;

class Generator {
 public:
  explicit Generator(std::uint32_t seed) : rng_(seed) {}

  std::uint32_t Bits(unsigned n) { return n == 0 ? 0 : static_cast<std::uint32_t>(rng_() >> (32 - n)); }
  std::uint32_t Below(std::uint32_t n) { return static_cast<std::uint32_t>(rng_() % n); }
  std::uint32_t Word() { return static_cast<std::uint32_t>(rng_()); }

  // A register the stream may write: not the PC, SP, LR-as-return or the
  // reserved base and index.
  unsigned ArmDest() {
    for (;;) {
      const unsigned r = Below(15);
      if (r != kArmBase && r != kArmIndex && r != 13) return r;
    }
  }
  unsigned ArmSource() { return Below(15); }  // R0-R14
  unsigned ThumbDest() {
    for (;;) {
      const unsigned r = Below(8);
      if (r != kThumbBase && r != kThumbIndex) return r;
    }
  }

  std::uint32_t Condition() { return Below(8) == 0 ? Below(15) : 14; }

  // One ARM instruction; `remaining` bounds forward branches.
  std::uint32_t Arm(unsigned remaining, bool allow_branch = true) {
    const std::uint32_t cond = Condition() << 28;
    switch (Below(14)) {
      case 0: case 1: case 2: case 3: {  // data processing
        const std::uint32_t opcode = Below(16);
        const bool test = opcode >= 8 && opcode <= 11;
        const std::uint32_t s = test ? 1 : Bits(1);
        const std::uint32_t rd = test ? 0 : ArmDest();
        const bool move = opcode == 13 || opcode == 15;  // Rn should be zero
        std::uint32_t op = cond | (opcode << 21) | (s << 20) | ((move ? 0 : ArmSource()) << 16) |
                           (rd << 12);
        switch (Below(3)) {
          case 0: return op | (1u << 25) | Bits(12);
          case 1: return op | (Bits(5) << 7) | (Bits(2) << 5) | ArmSource();
          default: {
            // Shift amounts around the 32 boundary matter most.
            return op | (ArmSource() << 8) | (Bits(2) << 5) | (1u << 4) | ArmSource();
          }
        }
      }
      case 4: {  // MUL, MLA
        const unsigned rd = ArmDest();
        unsigned rm;
        do rm = ArmSource(); while (rm == rd);
        const std::uint32_t as = Bits(2);
        const std::uint32_t rn = (as & 2) ? ArmSource() : 0;  // MUL: Rn should be zero
        return cond | (as << 20) | (rd << 16) | (rn << 12) | (ArmSource() << 8) | 0x90 | rm;
      }
      case 5: {  // long multiplies
        const unsigned hi = ArmDest();
        unsigned lo, rm;
        do lo = ArmDest(); while (lo == hi);
        do rm = ArmSource(); while (rm == hi || rm == lo);
        return cond | 0x00800090 | (Bits(3) << 20) | (hi << 16) | (lo << 12) | (ArmSource() << 8) | rm;
      }
      case 6: case 7: {  // LDR/STR/LDRB/STRB, word-aligned addresses
        const std::uint32_t pre = Bits(1), up = Bits(1), byte = Bits(1), load = Bits(1);
        const std::uint32_t w = pre ? Bits(1) : 0;
        unsigned rd = load ? ArmDest() : ArmSource();
        std::uint32_t op = cond | (1u << 26) | (pre << 24) | (up << 23) | (byte << 22) | (w << 21) |
                           (load << 20) | (kArmBase << 16) | (rd << 12);
        if (Bits(1)) return op | (Below(64) << 2);
        return op | (1u << 25) | (Below(3) << 7) | kArmIndex;  // [Rn, R11, LSL #0-2]
      }
      case 8: {  // halfword and signed transfers, aligned
        const std::uint32_t pre = Bits(1), up = Bits(1), load = Bits(1);
        const std::uint32_t w = pre ? Bits(1) : 0;
        const std::uint32_t sh = load ? 1 + Below(3) : 1;
        const unsigned rd = load ? ArmDest() : ArmSource();
        std::uint32_t op = cond | (pre << 24) | (up << 23) | (w << 21) | (load << 20) |
                           (kArmBase << 16) | (rd << 12) | 0x90 | (sh << 5);
        if (Bits(1)) {
          const std::uint32_t offset = Below(64) << 2;
          return op | (1u << 22) | ((offset & 0xF0) << 4) | (offset & 0xF);
        }
        return op | kArmIndex;
      }
      case 9: {  // LDM/STM on the base, no PC, no user bank
        const std::uint32_t load = Bits(1), w = Bits(1);
        std::uint32_t list = Bits(15) & ~(1u << 13);
        if (load) list &= ~((1u << kArmBase) | (1u << kArmIndex));
        if (w) list &= ~(1u << kArmBase);
        if (list == 0) list = 1;
        return cond | (4u << 25) | (Bits(2) << 23) | (w << 21) | (load << 20) | (kArmBase << 16) |
               list;
      }
      case 10: {  // SWP, SWPB
        const unsigned rd = ArmDest();
        unsigned rm;
        do rm = ArmSource(); while (rm == kArmBase);
        return cond | 0x01000090 | (Bits(1) << 22) | (kArmBase << 16) | (rd << 12) | rm;
      }
      case 11: {  // forward B/BL that lands inside the stream or at its end
        if (remaining < 2 || !allow_branch) return cond | 0x01A00000;  // MOV R0, R0
        return cond | (5u << 25) | (Bits(1) << 24) | Below(remaining - 1);
      }
      case 12: {  // MRS / MSR to the flags
        if (Bits(1)) return cond | 0x010F0000 | (ArmDest() << 12);
        if (Bits(1)) return cond | 0x0328F000 | (Below(16) << 8) | Bits(8);
        return cond | 0x0128F000 | ArmSource();
      }
      default: {  // more data processing with immediates: flags-heavy
        const std::uint32_t opcode = Below(16);
        const bool test = opcode >= 8 && opcode <= 11;
        const bool move = opcode == 13 || opcode == 15;
        return cond | (1u << 25) | (opcode << 21) | (1u << 20) | ((move ? 0 : ArmSource()) << 16) |
               ((test ? 0 : ArmDest()) << 12) | Bits(12);
      }
    }
  }

  // Privileged streams: mode changes through MSR, SPSR transfers and the
  // User-bank forms of LDM/STM mixed into ordinary instructions. `mode`
  // follows the stream (the privileged instructions are unconditional).
  std::uint32_t ArmPrivileged(unsigned remaining, std::uint32_t& mode) {
    const bool has_spsr = mode != 0x10 && mode != 0x1F;
    switch (Below(10)) {
      case 0: {  // MSR CPSR_c: a new mode with IRQ and FIQ masked (no FIQ: its R12 is banked)
        static constexpr std::array<std::uint32_t, 5> kModes = {0x10, 0x12, 0x13, 0x17, 0x1B};
        const std::uint32_t next = Below(6) == 0 ? 0x1F : kModes[Below(kModes.size())];
        if (mode != 0x10) mode = next;  // User mode cannot leave
        return 0xE321F000 | 0xC0 | next;
      }
      case 1:
        if (!has_spsr) break;
        // MSR SPSR_fc, #imm with the reserved bits 27:8 clear (Unicorn keeps
        // them in an SPSR, ARMv4T has none).
        if (Bits(1)) return 0xE369F000 | Bits(8);
        return 0xE369F400 | (Bits(4) << 4);
      case 2:
        if (!has_spsr) break;
        return 0xE14F0000 | (ArmDest() << 12);  // MRS Rd, SPSR
      case 3: {  // STMIA R12, {..}^ (User and System mode leave it unpredictable)
        if (!has_spsr) break;
        const std::uint32_t list = (Bits(15) & ~(1u << 13)) | 1;
        return 0xE8CC0000 | list;
      }
      case 4: {  // LDMIA R12, {..}^ without PC
        if (!has_spsr) break;
        std::uint32_t list = Bits(15) & ~((1u << kArmBase) | (1u << kArmIndex) | (1u << 13));
        if (list == 0) list = 1;
        return 0xE8DC0000 | list;
      }
      default: break;
    }
    return Arm(remaining, false);  // no branches: the generator follows the mode
  }

  std::uint16_t Thumb(unsigned remaining) {
    if (pending_thumb_ != 0) {
      const std::uint16_t second = pending_thumb_;
      pending_thumb_ = 0;
      return second;
    }
    auto low = [&] { return Below(8); };
    if (remaining >= 3 && Below(24) == 0) {  // BL pair, forward inside the stream
      pending_thumb_ = static_cast<std::uint16_t>(0xF800 | Below(remaining - 2));
      return 0xF000;
    }
    switch (Below(16)) {
      case 0: return static_cast<std::uint16_t>((Below(3) << 11) | (Bits(5) << 6) | (low() << 3) | ThumbDest());
      case 1: return static_cast<std::uint16_t>(0x1800 | (Bits(2) << 9) | (low() << 6) | (low() << 3) | ThumbDest());
      case 2: {
        const unsigned op = Below(4);
        const unsigned rd = op == 1 ? low() : ThumbDest();
        return static_cast<std::uint16_t>(0x2000 | (op << 11) | (rd << 8) | Bits(8));
      }
      case 3: case 4: {
        const unsigned op = Below(16);
        const bool test = op == 8 || op == 10 || op == 11;
        return static_cast<std::uint16_t>(0x4000 | (op << 6) | (low() << 3) | (test ? low() : ThumbDest()));
      }
      case 5: {  // ADD/CMP/MOV with a high register (at least one operand high)
        const unsigned op = Below(3);
        for (;;) {
          const unsigned rs = Below(15);
          unsigned rd = op == 1 ? Below(15) : ThumbDest();
          if (op != 1 && Bits(1)) rd = 8 + Below(5);  // R8-R12
          if (rd < 8 && rs < 8) continue;
          if (op != 1 && (rd == 13 || rd == kThumbBase || rd == kThumbIndex)) continue;
          return static_cast<std::uint16_t>(0x4400 | (op << 8) | ((rd & 8) << 4) | (rs << 3) | (rd & 7));
        }
      }
      case 6: {  // register offset transfers, aligned
        const unsigned kind = Below(8);
        const bool load = kind == 2 || kind == 3 || kind >= 5;
        const unsigned rd = load ? ThumbDest() : low();
        static constexpr std::array<std::uint16_t, 8> kBase = {0x5000, 0x5400, 0x5800, 0x5C00,
                                                              0x5200, 0x5A00, 0x5600, 0x5E00};
        return static_cast<std::uint16_t>(kBase[kind] | (kThumbIndex << 6) | (kThumbBase << 3) | rd);
      }
      case 7: {  // immediate offset words and bytes
        const unsigned bl = Below(4);
        const bool load = bl & 1;
        const unsigned rd = load ? ThumbDest() : low();
        const unsigned offset = (bl & 2) ? (Below(8) << 2) : Below(32);
        return static_cast<std::uint16_t>(0x6000 | (bl << 11) | (offset << 6) | (kThumbBase << 3) | rd);
      }
      case 8: {  // halfwords
        const bool load = Bits(1);
        const unsigned rd = load ? ThumbDest() : low();
        return static_cast<std::uint16_t>(0x8000 | (load << 11) | ((Below(16) << 1) << 6) | (kThumbBase << 3) | rd);
      }
      case 9: {  // SP-relative
        const bool load = Bits(1);
        return static_cast<std::uint16_t>(0x9000 | (load << 11) | ((load ? ThumbDest() : low()) << 8) | Below(32));
      }
      case 10: return static_cast<std::uint16_t>(0xA800 | (ThumbDest() << 8) | Bits(8));  // ADD Rd, SP
      case 11: return static_cast<std::uint16_t>(0xB000 | (Bits(1) << 7) | Below(16));      // ADD SP
      case 12: {  // PUSH/POP without PC, balanced enough to stay in the data area
        std::uint32_t list = Bits(8) & ~((1u << kThumbBase) | (1u << kThumbIndex));
        if (list == 0) list = 1;
        if (Bits(1)) return static_cast<std::uint16_t>(0xB400 | (Bits(1) << 8) | list);
        return static_cast<std::uint16_t>(0xBC00 | list);
      }
      case 13: {  // STMIA/LDMIA R7!
        const bool load = Bits(1);
        // Writeback moves R7; small lists keep it in the data area.
        std::uint32_t list = Bits(4);
        if (list == 0) list = 1;
        return static_cast<std::uint16_t>(0xC000 | (load << 11) | (kThumbBase << 8) | list);
      }
      case 14: {  // conditional branch forward
        if (remaining < 2) return 0x1C00;  // ADDS R0, R0, #0
        return static_cast<std::uint16_t>(0xD000 | (Below(14) << 8) | Below(remaining - 1));
      }
      default: {
        if (remaining < 2) return 0x1C00;
        return static_cast<std::uint16_t>(0xE000 | Below(remaining - 1));
      }
    }
  }

 private:
  std::mt19937 rng_;
  std::uint16_t pending_thumb_ = 0;  // second half of a BL pair
};

struct Machine {
  std::array<std::uint32_t, 16> r{};
  std::uint32_t cpsr = 0;
  std::vector<std::uint8_t> data;
};

std::string Describe(const Machine& m) {
  std::ostringstream out;
  out << std::hex;
  for (unsigned i = 0; i < 16; ++i) out << " r" << std::dec << i << std::hex << "=" << m.r[i];
  out << " cpsr=" << m.cpsr;
  return out.str();
}

int UnicornRegister(unsigned n) {
  static constexpr std::array<int, 16> kRegisters = {
      UC_ARM_REG_R0, UC_ARM_REG_R1, UC_ARM_REG_R2,  UC_ARM_REG_R3,  UC_ARM_REG_R4,  UC_ARM_REG_R5,
      UC_ARM_REG_R6, UC_ARM_REG_R7, UC_ARM_REG_R8,  UC_ARM_REG_R9,  UC_ARM_REG_R10, UC_ARM_REG_R11,
      UC_ARM_REG_R12, UC_ARM_REG_SP, UC_ARM_REG_LR, UC_ARM_REG_PC};
  return kRegisters[n];
}



// Runs `code` from kCodeBase on both and compares; returns false on a mismatch.
void RunBoth(ByteOrder order, const std::vector<std::uint8_t>& code, bool thumb,
             const std::array<std::uint32_t, 16>& start, std::uint32_t flags,
             const std::vector<std::uint8_t>& data, const std::string& listing,
             std::uint32_t start_mode = 0x1F) {
  // Unicorn.
  uc_engine* uc = nullptr;
  const int mode = UC_MODE_ARM | (order == ByteOrder::Big ? UC_MODE_BIG_ENDIAN : 0);
  ASSERT_EQ(uc_open(UC_ARCH_ARM, static_cast<uc_mode>(mode), &uc), UC_ERR_OK);
  ASSERT_EQ(uc_ctl_set_cpu_model(uc, UC_CPU_ARM_TI925T), UC_ERR_OK);
  ASSERT_EQ(uc_mem_map(uc, kCodeBase, kCodeSize, UC_PROT_ALL), UC_ERR_OK);
  ASSERT_EQ(uc_mem_map(uc, kDataBase, kDataSize, UC_PROT_ALL), UC_ERR_OK);
  uc_mem_write(uc, kCodeBase, code.data(), code.size());
  uc_mem_write(uc, kDataBase, data.data(), data.size());
  // Every SPSR starts known (after reset they are unpredictable).
  static constexpr std::array<std::uint32_t, 4> kSpsrModes = {0x12, 0x13, 0x17, 0x1B};
  for (std::uint32_t m : kSpsrModes) {
    std::uint32_t c = m | 0xC0;
    std::uint32_t spsr = 0x10 | ((m & 0xF) << 28);
    uc_reg_write(uc, UC_ARM_REG_CPSR, &c);
    uc_reg_write(uc, UC_ARM_REG_SPSR, &spsr);
  }
  std::uint32_t cpsr = start_mode | (flags << 28);
  uc_reg_write(uc, UC_ARM_REG_CPSR, &cpsr);
  for (unsigned i = 0; i < 15; ++i) {
    std::uint32_t v = start[i];
    uc_reg_write(uc, UnicornRegister(i), &v);
  }
  const std::uint64_t end = kCodeBase + code.size();
  const uc_err err = uc_emu_start(uc, kCodeBase | (thumb ? 1 : 0), end, 0, 0);
  ASSERT_EQ(err, UC_ERR_OK) << uc_strerror(err) << "\n" << listing;
  Machine theirs;
  for (unsigned i = 0; i < 16; ++i) uc_reg_read(uc, UnicornRegister(i), &theirs.r[i]);
  uc_reg_read(uc, UC_ARM_REG_CPSR, &theirs.cpsr);
  std::uint32_t their_spsr = 0;
  const std::uint32_t final_mode = theirs.cpsr & 0x1F;
  const bool has_spsr = final_mode != 0x10 && final_mode != 0x1F;
  if (has_spsr) uc_reg_read(uc, UC_ARM_REG_SPSR, &their_spsr);
  theirs.data.resize(kDataSize);
  uc_mem_read(uc, kDataBase, theirs.data.data(), kDataSize);
  uc_close(uc);

  // Ours.
  testing::RamBus code_bus(kCodeBase, kCodeSize + kDataSize, order);
  code_bus.Load(kCodeBase, code);
  code_bus.Load(kDataBase, data);
  ArmCore core(code_bus, CoreModel::ARM9TDMI, order);
  for (std::uint32_t m : kSpsrModes) core.SetSpsr(static_cast<Mode>(m), 0x10 | ((m & 0xF) << 28));
  core.SetCpsr(start_mode | (flags << 28) | (thumb ? psr::kT : 0));
  for (unsigned i = 0; i < 15; ++i) core.SetRegister(i, start[i]);
  core.SetPc(kCodeBase);
  for (unsigned steps = 0; core.Pc() != end && steps < 100000; ++steps) {
    const StepResult step = core.Step();
    ASSERT_EQ(step.outcome, StepOutcome::Executed) << "at " << std::hex << step.address << "\n"
                                                   << listing;
  }
  Machine ours;
  for (unsigned i = 0; i < 16; ++i) ours.r[i] = core.Register(i);
  ours.cpsr = core.Cpsr();
  ours.data.resize(kDataSize);
  for (std::uint32_t i = 0; i < kDataSize; ++i) {
    ours.data[i] = static_cast<std::uint8_t>(code_bus.Peek(kDataBase + i, AccessSize::Byte));
  }
  // Unicorn leaves the PC at the exit address; ours too.
  const std::uint32_t mask = psr::kImplemented;
  EXPECT_TRUE(ours.r == theirs.r && (ours.cpsr & mask) == (theirs.cpsr & mask))
      << "ours:  " << Describe(ours) << "\ntheirs:" << Describe(theirs) << "\n" << listing;
  EXPECT_TRUE(ours.data == theirs.data) << "memory differs\n" << listing;
  if (has_spsr) {
    EXPECT_EQ(core.Spsr(core.CurrentMode()) & mask, their_spsr & mask) << listing;
  }
}

std::array<std::uint32_t, 16> StartRegisters(Generator& gen, bool thumb) {
  std::array<std::uint32_t, 16> r{};
  for (unsigned i = 0; i < 15; ++i) {
    // Small values, values near the edges and random words.
    switch (gen.Below(4)) {
      case 0: r[i] = gen.Below(40); break;
      case 1: r[i] = 0xFFFFFFFFu - gen.Below(4); break;
      case 2: r[i] = 0x80000000u - 2 + gen.Below(4); break;
      default: r[i] = gen.Word(); break;
    }
  }
  if (thumb) {
    r[kThumbBase] = kDataMiddle;
    r[kThumbIndex] = gen.Below(32) << 2;
    r[13] = kDataMiddle + 0x4000;
  } else {
    r[kArmBase] = kDataMiddle;
    r[kArmIndex] = gen.Below(16) << 2;
    r[13] = kDataMiddle + 0x4000;
  }
  return r;
}

// The streams are fixed by their seed; ROMSMITH_CORE_SEED picks others when
// hunting for disagreements.
std::uint32_t Seed(std::uint32_t fixed) {
  const char* text = std::getenv("ROMSMITH_CORE_SEED");
  return text != nullptr ? static_cast<std::uint32_t>(std::strtoul(text, nullptr, 0)) ^ fixed : fixed;
}

// A THUMB branch or BL that landed on the second half of a BL pair would
// branch through a random LR; such targets are moved to the first half.
void AvoidBlSecondHalves(std::vector<std::uint8_t>& code, ByteOrder order) {
  const std::size_t count = code.size() / 2;
  auto get = [&](std::size_t i) -> std::uint16_t {
    return order == ByteOrder::Little ? static_cast<std::uint16_t>(code[2 * i] | (code[2 * i + 1] << 8))
                                      : static_cast<std::uint16_t>((code[2 * i] << 8) | code[2 * i + 1]);
  };
  auto put = [&](std::size_t i, std::uint16_t op) {
    const std::uint8_t lo = static_cast<std::uint8_t>(op), hi = static_cast<std::uint8_t>(op >> 8);
    code[2 * i] = order == ByteOrder::Little ? lo : hi;
    code[2 * i + 1] = order == ByteOrder::Little ? hi : lo;
  };
  std::vector<bool> second_half(count + 1, false);
  for (std::size_t i = 0; i + 1 < count; ++i) {
    if ((get(i) & 0xF800) == 0xF000 && (get(i + 1) & 0xF800) == 0xF800) second_half[++i] = true;
  }
  for (std::size_t i = 0; i < count; ++i) {
    const std::uint16_t op = get(i);
    if (second_half[i]) {  // BL: the target is this half + 2 + offset
      const std::size_t target = i + 1 + (op & 0x7FF);
      if (second_half[target]) put(i, static_cast<std::uint16_t>(op - 1));
      continue;
    }
    if ((op & 0xF000) == 0xD000 && (op & 0x0F00) < 0x0E00) {
      const std::size_t target = i + 2 + (op & 0xFF);
      if (second_half[target]) put(i, static_cast<std::uint16_t>((op & 0xFF00) | ((op - 1) & 0xFF)));
    } else if ((op & 0xF800) == 0xE000) {
      const std::size_t target = i + 2 + (op & 0x7FF);
      if (second_half[target]) put(i, static_cast<std::uint16_t>(0xE000 | ((op - 1) & 0x7FF)));
    }
  }
}

void Differential(ByteOrder order, bool thumb, std::uint32_t seed, bool privileged = false) {
  Generator gen(seed);
  std::vector<std::uint8_t> data(kDataSize);
  for (auto& b : data) b = static_cast<std::uint8_t>(gen.Bits(8));
  constexpr unsigned kSequences = 150;
  constexpr unsigned kLength = 24;
  for (unsigned s = 0; s < kSequences; ++s) {
    std::vector<std::uint8_t> code;
    std::ostringstream listing;
    std::uint32_t mode = 0x13;
    listing << std::hex << "sequence " << s << (thumb ? " (thumb):" : " (arm):");
    for (unsigned i = 0; i < kLength; ++i) {
      const unsigned remaining = kLength - i;
      if (thumb) {
        const std::uint16_t op = gen.Thumb(remaining);
        listing << " " << op;
        if (order == ByteOrder::Little) {
          code.push_back(static_cast<std::uint8_t>(op));
          code.push_back(static_cast<std::uint8_t>(op >> 8));
        } else {
          code.push_back(static_cast<std::uint8_t>(op >> 8));
          code.push_back(static_cast<std::uint8_t>(op));
        }
      } else {
        const std::uint32_t op = privileged ? gen.ArmPrivileged(remaining, mode) : gen.Arm(remaining);
        listing << " " << op;
        for (unsigned b = 0; b < 4; ++b) {
          const unsigned lane = order == ByteOrder::Little ? b : 3 - b;
          code.push_back(static_cast<std::uint8_t>(op >> (8 * lane)));
        }
      }
    }
    if (thumb) AvoidBlSecondHalves(code, order);
    const auto start = StartRegisters(gen, thumb);
    RunBoth(order, code, thumb, start, gen.Bits(4), data, listing.str(),
            privileged ? 0xD3 : 0x1F);
    if (::testing::Test::HasFailure()) return;
  }
}

TEST(UnicornDifferential, ArmStreamsAgree) { Differential(ByteOrder::Little, false, Seed(0xA5A5u)); }

TEST(UnicornDifferential, PrivilegedStreamsAgree) {
  Differential(ByteOrder::Little, false, Seed(0x3C3Cu), true);
}

TEST(UnicornDifferential, ThumbStreamsAgree) { Differential(ByteOrder::Little, true, Seed(0x5A5Au)); }

}  // namespace
}  // namespace simboard
