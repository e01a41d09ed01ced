// Behaviour of the ARMv4T core: instruction classes in both states and both
// byte orders with their flag results, modes and banks, exceptions, hooks.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "simboard/core/arm_core.h"
#include "simboard/tests/arm_test_support.h"

namespace simboard {
namespace {

using testing::Assemble;
using testing::RamBus;

constexpr std::uint32_t kRamBase = 0x00000000;
constexpr std::uint32_t kRamSize = 0x00010000;

// A board with RAM at 0 that runs an assembled program until it reaches the
// "done" label (a branch to itself) or a budget runs out. Vector code may sit
// below 0x100; the program starts at "start" (0x100 unless moved).
class CoreTest : public ::testing::TestWithParam<ByteOrder> {
 protected:
  explicit CoreTest(CoreModel model = CoreModel::ARM7TDMI)
      : bus_(kRamBase, kRamSize, GetParam()), core_(bus_, model, GetParam()) {}

  bool Big() const { return GetParam() == ByteOrder::Big; }

  // `vectors` is placed at address 0, `body` at 0x100 (ARM or, with thumb,
  // THUMB state); both share the labels.
  void RunSource(const std::string& vectors, const std::string& body, bool thumb = false,
                 std::uint64_t budget = 10000) {
    const std::string source = "\t.arm\n" + vectors + "\n\t.org 0x100\n" +
                               (thumb ? "\t.thumb\n" : "") + "start:\n" + body +
                               "\ndone:\tb done\n\t.ltorg\n";
    bus_.Load(0, Assemble(source, GetParam(), 0));
    core_.SetThumb(thumb);
    core_.SetPc(0x100);
    RunUntilDone(budget);
  }

  void RunProgram(const std::string& body, std::uint64_t budget = 10000) {
    RunSource("", body, false, budget);
  }
  void RunThumb(const std::string& body, std::uint64_t budget = 10000) {
    RunSource("", body, true, budget);
  }

  void RunUntilDone(std::uint64_t budget) {
    for (std::uint64_t i = 0; i < budget; ++i) {
      const std::uint32_t pc = core_.Pc();
      const StepResult step = core_.Step();
      steps_.push_back(step);
      if (step.outcome == StepOutcome::Executed && step.pc_written && core_.Pc() == pc) return;
      if (step.outcome == StepOutcome::Halted) return;
    }
    FAIL() << "program did not reach done";
  }

  std::uint32_t R(unsigned n) const { return core_.Register(n); }
  std::uint32_t Word(std::uint32_t address) const { return bus_.Peek(address, AccessSize::Word); }
  std::uint32_t Byte(std::uint32_t address) const { return bus_.Peek(address, AccessSize::Byte); }

  RamBus bus_;
  ArmCore core_;
  std::vector<StepResult> steps_;
};

TEST_P(CoreTest, ResetEntersSupervisorArmWithInterruptsOff) {
  core_.SetCpsr(0x10);
  core_.SetPc(0x1234);
  core_.Reset();
  EXPECT_EQ(core_.CurrentMode(), Mode::Supervisor);
  EXPECT_FALSE(core_.Thumb());
  EXPECT_EQ(core_.Cpsr() & (psr::kI | psr::kF), psr::kI | psr::kF);
  EXPECT_EQ(core_.Pc(), 0u);
}

TEST_P(CoreTest, DataProcessingArithmeticFlags) {
  RunProgram(R"(
    mov r0, #0x80000000
    adds r1, r0, r0        @ 0, C=1 V=1 Z=1
    mrs r2, cpsr
    mov r3, #1
    subs r4, r3, #2        @ -1, N=1 C=0 (borrow)
    mrs r5, cpsr
    subs r6, r3, #1        @ 0, Z=1 C=1
    mrs r7, cpsr
    mvn r8, #0
    adds r9, r8, #1        @ carry out, zero
    adcs r10, r3, r3       @ 1+1+C=3
    rsbs r11, r3, #0       @ 0-1
    mrs r12, cpsr
  )");
  EXPECT_EQ(R(1), 0u);
  EXPECT_EQ(R(2) >> 28, 0b0111u);
  EXPECT_EQ(R(4), 0xFFFFFFFFu);
  EXPECT_EQ(R(5) >> 28, 0b1000u);
  EXPECT_EQ(R(6), 0u);
  EXPECT_EQ(R(7) >> 28, 0b0110u);
  EXPECT_EQ(R(10), 3u);
  EXPECT_EQ(R(11), 0xFFFFFFFFu);
  EXPECT_EQ(R(12) >> 28, 0b1000u);
}

TEST_P(CoreTest, ShifterOperandsAndTheirCarry) {
  RunProgram(R"(
    msr cpsr_f, #0              @ clear flags
    mov r0, #0x81
    movs r1, r0, lsl #31        @ 0x80000000, C = bit 1 of r0 = 0
    mrs r2, cpsr
    movs r3, r0, lsr #1         @ 0x40, C = 1
    mrs r4, cpsr
    mov r5, #0x80000000
    movs r6, r5, asr #32        @ encoded as asr #0: all ones, C = 1
    movs r7, r0, rrx            @ C was 1: 0x80000040, C = 1
    mrs r8, cpsr
    mov r9, #32
    movs r10, r0, lsl r9        @ by 32: 0, C = bit 0 = 1
    mrs r11, cpsr
    mov r9, #33
    movs r12, r0, lsr r9        @ by 33: 0, C = 0
    mrs r13, cpsr
    movs r14, #0xF000000F       @ rotated immediate: C = bit 31 = 1
  )");
  EXPECT_EQ(R(1), 0x80000000u);
  EXPECT_EQ(R(2) >> 28, 0b1000u);
  EXPECT_EQ(R(3), 0x40u);
  EXPECT_EQ(R(4) >> 28, 0b0010u);
  EXPECT_EQ(R(6), 0xFFFFFFFFu);
  EXPECT_EQ(R(7), 0x80000040u);
  EXPECT_EQ(R(8) >> 28, 0b1010u);
  EXPECT_EQ(R(10), 0u);
  EXPECT_EQ(R(11) >> 28, 0b0110u);
  EXPECT_EQ(R(12), 0u);
  EXPECT_EQ(R(13) >> 28, 0b0100u);
  EXPECT_EQ(R(14), 0xF000000Fu);
  EXPECT_EQ(core_.Cpsr() >> 28, 0b1010u);
}

TEST_P(CoreTest, RegisterShiftByZeroAndRotateBy32) {
  RunProgram(R"(
    msr cpsr_f, #0x20000000     @ C set
    mov r0, #0x80000001
    mov r1, #0
    movs r2, r0, lsl r1         @ by 0: unchanged, C kept
    mrs r3, cpsr
    mov r1, #32
    movs r4, r0, ror r1         @ by 32: unchanged, C = bit 31
    mov r1, #0x100              @ only the bottom byte counts: shift by 0
    movs r5, r0, asr r1
    mov r1, #40
    movs r6, r0, asr r1         @ >= 32: sign fill
    mrs r7, cpsr
  )");
  EXPECT_EQ(R(2), 0x80000001u);
  EXPECT_EQ(R(3) >> 28, 0b1010u);
  EXPECT_EQ(R(4), 0x80000001u);
  EXPECT_EQ(R(5), 0x80000001u);
  EXPECT_EQ(R(6), 0xFFFFFFFFu);
  EXPECT_EQ(R(7) >> 28, 0b1010u);
}

TEST_P(CoreTest, ProgramCounterReadsAheadOfTheInstruction) {
  RunProgram(R"(
    mov r0, pc                  @ 0x100 + 8
    mov r2, #0
    add r1, pc, r2, lsl r2      @ register shift: 0x108 + 12
    str pc, [r3, #0]            @ stores address + 12 (r3 = 0)
  )");
  EXPECT_EQ(R(0), 0x108u);
  EXPECT_EQ(R(1), 0x114u);
  EXPECT_EQ(Word(0), 0x10Cu + 12);
}

TEST_P(CoreTest, ConditionCodesSelectByFlags) {
  RunProgram(R"(
    mov r0, #0
    cmp r0, #1                  @ N=1, C=0: lt, ne, cc, mi
    addlt r1, r0, #1
    addge r2, r0, #1
    addne r3, r0, #1
    addcc r4, r0, #1
    addhi r5, r0, #1
    addls r6, r0, #1
    mov r7, #5
    cmp r7, #5
    addeq r8, r0, #1
    addgt r9, r0, #1
    addle r10, r0, #1
    addhs r11, r0, #1
  )");
  EXPECT_EQ(R(1), 1u);
  EXPECT_EQ(R(2), 0u);
  EXPECT_EQ(R(3), 1u);
  EXPECT_EQ(R(4), 1u);
  EXPECT_EQ(R(5), 0u);
  EXPECT_EQ(R(6), 1u);
  EXPECT_EQ(R(8), 1u);
  EXPECT_EQ(R(9), 0u);
  EXPECT_EQ(R(10), 1u);
  EXPECT_EQ(R(11), 1u);
}

TEST_P(CoreTest, MultipliesAndLongMultiplies) {
  RunProgram(R"(
    ldr r0, =0xFFFFFFFE         @ -2
    mov r1, #3
    muls r2, r0, r1             @ -6, N
    mrs r3, cpsr
    mov r4, #10
    mla r5, r1, r1, r4          @ 19
    umull r6, r7, r0, r1        @ 0x2_FFFFFFFA
    smull r8, r9, r0, r1        @ -6
    mov r10, #1
    mov r11, #0
    smlal r10, r11, r0, r1      @ 1 + -6 = -5
    umlals r12, r13, r11, r11   @ r12:r13 = 0 + (-1)*(-1)... unsigned 0xFFFFFFFF^2 + acc
  )");
  EXPECT_EQ(R(2), 0xFFFFFFFAu);
  EXPECT_EQ(R(3) >> 31, 1u);
  EXPECT_EQ(R(5), 19u);
  EXPECT_EQ(R(6), 0xFFFFFFFAu);
  EXPECT_EQ(R(7), 2u);
  EXPECT_EQ(R(8), 0xFFFFFFFAu);
  EXPECT_EQ(R(9), 0xFFFFFFFFu);
  EXPECT_EQ(R(10), 0xFFFFFFFBu);
  EXPECT_EQ(R(11), 0xFFFFFFFFu);
}

TEST_P(CoreTest, SingleTransfersInEveryAddressingMode) {
  RunProgram(R"(
    ldr r0, =0x2000
    ldr r1, =0x11223344
    str r1, [r0]                @ offset
    str r1, [r0, #8]!           @ pre-indexed with writeback: r0 = 0x2008
    str r1, [r0], #-4           @ post-indexed: r0 = 0x2004
    mov r2, #2
    strb r1, [r0, r2, lsl #1]   @ byte 0x44 at 0x2008
    ldr r3, [r0, #-4]           @ 0x2000
    ldrb r4, [r0, #-4]          @ the byte at 0x2000
    ldr r5, [r0, -r2, lsl #1]!  @ r0 = 0x2000
    mov r6, r0
    ldr r7, [r6], #4            @ r6 = 0x2004
  )");
  EXPECT_EQ(Word(0x2000), 0x11223344u);
  EXPECT_EQ(Byte(0x2008), 0x44u);
  EXPECT_EQ(R(3), 0x11223344u);
  EXPECT_EQ(R(4), Big() ? 0x11u : 0x44u);
  EXPECT_EQ(R(5), 0x11223344u);
  EXPECT_EQ(R(0), 0x2000u);
  EXPECT_EQ(R(6), 0x2004u);
  EXPECT_EQ(R(7), 0x11223344u);
}

TEST_P(CoreTest, UnalignedWordLoadRotatesByByteOrder) {
  RunProgram(R"(
    ldr r0, =0x2000
    ldr r1, =0x11223344
    str r1, [r0]
    ldr r2, [r0, #1]
    ldr r3, [r0, #2]
    ldr r4, [r0, #3]
    str r1, [r0, #1]            @ stores ignore the low address bits
  )");
  if (Big()) {
    // The same rotation: the addressed byte lands in bits 15:8 at offsets 1
    // and 3, in bits 31:24 at offset 2.
    EXPECT_EQ(R(2), 0x44112233u);
    EXPECT_EQ(R(3), 0x33441122u);
    EXPECT_EQ(R(4), 0x22334411u);
  } else {
    // The addressed byte lands in bits 7:0.
    EXPECT_EQ(R(2), 0x44112233u);
    EXPECT_EQ(R(3), 0x33441122u);
    EXPECT_EQ(R(4), 0x22334411u);
  }
  EXPECT_EQ(Word(0x2000), 0x11223344u);
}

TEST_P(CoreTest, HalfwordAndSignedTransfers) {
  RunProgram(R"(
    ldr r0, =0x2000
    ldr r1, =0x8001F0F0
    strh r1, [r0]               @ 0xF0F0 at 0x2000
    mov r2, #2
    strh r1, [r0, r2]!          @ r0 = 0x2002
    ldrh r3, [r0], #-2          @ r0 = 0x2000
    ldrsh r4, [r0]
    ldrsb r5, [r0, #1]
    mov r6, #0x7F
    strb r6, [r0, #4]
    ldrsb r7, [r0, #4]
    ldrh r8, [r0, #-0]
  )");
  EXPECT_EQ(bus_.Peek(0x2000, AccessSize::Half), 0xF0F0u);
  EXPECT_EQ(bus_.Peek(0x2002, AccessSize::Half), 0xF0F0u);
  EXPECT_EQ(Byte(Big() ? 0x2000 : 0x2001), 0xF0u);
  EXPECT_EQ(R(0), 0x2000u);
  EXPECT_EQ(R(3), 0xF0F0u);
  EXPECT_EQ(R(4), 0xFFFFF0F0u);
  EXPECT_EQ(R(5), 0xFFFFFFF0u);
  EXPECT_EQ(R(7), 0x7Fu);
  EXPECT_EQ(R(8), 0xF0F0u);
}

TEST_P(CoreTest, BlockTransfersInAllFourModes) {
  RunProgram(R"(
    ldr r0, =0x2010
    mov r1, #1
    mov r2, #2
    mov r3, #3
    stmia r0, {r1-r3}           @ 0x2010..0x2018
    stmib r0, {r1, r2}          @ 0x2014, 0x2018
    stmdb r0!, {r1-r3}          @ 0x2004..0x200C, r0 = 0x2004
    stmda r0, {r3}              @ 0x2004
    ldr r4, =0x2004
    ldmia r4!, {r5-r7}          @ r4 = 0x2010
    ldmdb r4, {r8, r9}          @ 0x2008, 0x200C
    ldmib r4, {r10}             @ 0x2014
    ldmda r4!, {r11, r12}       @ 0x200C, 0x2010; r4 = 0x2008
  )");
  EXPECT_EQ(R(0), 0x2004u);
  EXPECT_EQ(R(4), 0x2008u);
  EXPECT_EQ(R(5), 3u);
  EXPECT_EQ(R(6), 2u);
  EXPECT_EQ(R(7), 3u);
  EXPECT_EQ(R(8), 2u);
  EXPECT_EQ(R(9), 3u);
  EXPECT_EQ(R(10), 1u);
  EXPECT_EQ(R(11), 3u);
  EXPECT_EQ(R(12), 1u);
  EXPECT_EQ(Word(0x2018), 2u);
}

TEST_P(CoreTest, StoreMultipleWithBaseInTheList) {
  RunProgram(R"(
    ldr r0, =0x2000
    mov r1, #7
    stmia r0!, {r0, r1}         @ base first: the original value
    ldr r1, =0x2100
    mov r0, #9
    stmia r1!, {r0, r1}         @ base second: the written-back value
    mov r2, #0                  @ empty list: R15 stored, base moves by 64
    ldr r3, =0x2200
    .word 0xE8A30000            @ stmia r3!, {}
  )");
  EXPECT_EQ(Word(0x2000), 0x2000u);
  EXPECT_EQ(Word(0x2004), 7u);
  EXPECT_EQ(Word(0x2100), 9u);
  EXPECT_EQ(Word(0x2104), 0x2108u);
  EXPECT_EQ(R(3), 0x2240u);
  EXPECT_EQ(Word(0x2200), 0x120u + 12);
}

TEST_P(CoreTest, SwapExchangesWordsAndBytes) {
  RunProgram(R"(
    ldr r0, =0x2000
    ldr r1, =0xAABBCCDD
    str r1, [r0]
    mov r2, #0x55
    swp r3, r2, [r0]
    ldr r4, =0x2004
    mov r5, #0x66
    strb r5, [r4]
    ldr r6, =0x1FF
    swpb r7, r6, [r4]
    swp r8, r8, [r0]            @ same register: old memory in, old register out
  )");
  EXPECT_EQ(R(3), 0xAABBCCDDu);
  EXPECT_EQ(R(7), 0x66u);
  EXPECT_EQ(Byte(0x2004), 0xFFu);
  EXPECT_EQ(R(8), 0x55u);
}

TEST_P(CoreTest, StatusRegisterTransfersAndBanks) {
  RunProgram(R"(
    mov r13, #0x13              @ supervisor's SP
    mrs r0, cpsr
    bic r0, r0, #0x1F
    orr r0, r0, #0x12           @ IRQ mode
    msr cpsr_c, r0
    mov r13, #0x12              @ IRQ's SP
    ldr r1, =0xF00000D3
    msr spsr_fc, r1
    mrs r2, spsr
    msr cpsr_c, #0xD3           @ back to supervisor
    mov r3, r13
    msr cpsr_c, #0x10           @ user
    mov r13, #0x10
    msr cpsr_fc, #0x4000001F    @ user may not leave: only the flags change
    mrs r4, cpsr
  )");
  EXPECT_EQ(R(2), 0xF00000D3u);
  EXPECT_EQ(R(3), 0x13u);
  EXPECT_EQ(R(4), 0x40000010u);
  EXPECT_EQ(core_.CurrentMode(), Mode::User);
  EXPECT_EQ(core_.BankedRegister(Mode::Irq, 13), 0x12u);
  EXPECT_EQ(core_.BankedRegister(Mode::Supervisor, 13), 0x13u);
  EXPECT_EQ(core_.BankedRegister(Mode::System, 13), 0x10u);
  EXPECT_EQ(core_.Spsr(Mode::Irq), 0xF00000D3u);
}

TEST_P(CoreTest, UserBankTransfersAndExceptionReturnByLdm) {
  RunProgram(R"(
    msr cpsr_c, #0xDF           @ system: set the user bank
    mov r8, #0x18
    mov r13, #0x1D
    msr cpsr_c, #0xD1           @ FIQ
    mov r8, #0xF8
    ldr r0, =0x2000
    stmia r0, {r8, r13}^        @ user registers
    mov r1, #0x21
    mov r2, #0x22
    stmia r0, {r1, r2}
    ldmia r0, {r8, r13}^        @ into the user bank
    adr r3, back
    ldr r4, =0x60000010         @ user mode, Z and C set
    msr spsr_fc, r4
    str r3, [r0, #8]
    add r0, r0, #4
    ldmia r0, {r5, pc}^         @ loads PC and CPSR = SPSR
    b done
  back:
    mov r6, r8
    mov r7, r13
  )");
  EXPECT_EQ(core_.CurrentMode(), Mode::User);
  EXPECT_EQ(core_.Cpsr() >> 28, 0b0110u);
  EXPECT_EQ(R(5), 0x22u);
  EXPECT_EQ(R(6), 0x21u);
  EXPECT_EQ(R(7), 0x22u);
  EXPECT_EQ(core_.BankedRegister(Mode::Fiq, 8), 0xF8u);
}

TEST_P(CoreTest, BranchesAndInterworking) {
  RunProgram(R"(
    bl sub
    mov r1, #1
    adr r2, thumb_code + 1
    bx r2
  sub:
    mov r0, lr
    mov pc, lr
    .thumb
  thumb_code:
    movs r3, #3
    bl tsub
    adr r4, arm_code
    bx r4
  tsub:
    mov r5, lr
    bx lr
    .align 2
    .arm
  arm_code:
    mov r6, #6
  )");
  EXPECT_EQ(R(0), 0x104u);
  EXPECT_EQ(R(1), 1u);
  EXPECT_EQ(R(3), 3u);
  EXPECT_EQ(R(5) & 1, 1u);  // the THUMB return address carries bit 0
  EXPECT_EQ(R(6), 6u);
  EXPECT_FALSE(core_.Thumb());
}

TEST_P(CoreTest, SoftwareInterruptEntersSupervisorAndReturns) {
  RunSource(R"(
    b start
    b .
    b swi_handler
  swi_handler:
    ldr r1, [lr, #-4]
    bic r1, r1, #0xFF000000
    mrs r2, spsr
    mov r3, lr
    movs pc, lr
  )", R"(
    msr cpsr_c, #0x10           @ user mode
    swi 0x123
    mov r4, #4
  )");
  EXPECT_EQ(R(1), 0x123u);
  EXPECT_EQ(R(2) & 0x1F, 0x10u);
  EXPECT_EQ(R(3), 0x108u);
  EXPECT_EQ(R(4), 4u);
  EXPECT_EQ(core_.CurrentMode(), Mode::User);
}

TEST_P(CoreTest, SwiHookSeesCommentsInBothStates) {
  std::vector<std::pair<std::uint32_t, bool>> seen;
  core_.SetSwiHook([&](std::uint32_t comment, bool thumb) {
    seen.emplace_back(comment, thumb);
    return comment == 0x18 ? SwiAction::Halt : SwiAction::Resume;
  });
  RunProgram(R"(
    swi 0x123456
    adr r0, t + 1
    bx r0
    .thumb
  t:
    swi 0xAB
    movs r1, #1
    swi 0x18
    movs r2, #2
  )");
  ASSERT_EQ(seen.size(), 3u);
  EXPECT_EQ(seen[0], std::make_pair(0x123456u, false));
  EXPECT_EQ(seen[1], std::make_pair(0xABu, true));
  EXPECT_EQ(R(1), 1u);
  EXPECT_EQ(R(2), 0u);
  EXPECT_EQ(steps_.back().outcome, StepOutcome::Halted);
  EXPECT_EQ(steps_.back().halt, HaltReason::SwiHook);
  EXPECT_EQ(core_.CurrentMode(), Mode::Supervisor);
}

TEST_P(CoreTest, UndefinedInstructionsTakeTheUndefinedVector) {
  RunSource(R"(
    b start
    b undef
  undef:
    mov r1, lr
    mrs r2, cpsr
    movs pc, lr
  )", R"(
    .word 0xE7F000F0            @ undefined space
    mrc p15, 0, r3, c0, c0, 0   @ ARM7TDMI: no CP15
    mov r4, #4
  )");
  EXPECT_EQ(R(1), 0x108u);
  EXPECT_EQ(R(2) & 0x1F, 0x1Bu);
  EXPECT_EQ(R(4), 4u);
  int undefined = 0;
  for (const StepResult& step : steps_) undefined += step.outcome == StepOutcome::Undefined;
  EXPECT_EQ(undefined, 2);
}

TEST_P(CoreTest, ThumbShiftsArithmeticAndLogic) {
  RunThumb(R"(
    movs r0, #0x81
    lsls r1, r0, #31            @ C = bit 1 = 0, N
    lsrs r2, r0, #1             @ C = 1
    .hword 0x100B               @ asrs r3, r1, #32 (encoded as 0)
    adds r4, r0, #7
    subs r5, r0, r0             @ Z C
    movs r6, #200
    cmp r6, #201
    adcs r6, r6                 @ 400 + C(0)
    movs r7, #1
    negs r7, r7
    mvns r7, r7                 @ 0
  )");
  EXPECT_EQ(R(1), 0x80000000u);
  EXPECT_EQ(R(2), 0x40u);
  EXPECT_EQ(R(3), 0xFFFFFFFFu);
  EXPECT_EQ(R(4), 0x88u);
  EXPECT_EQ(R(5), 0u);
  EXPECT_EQ(R(6), 400u);
  EXPECT_EQ(R(7), 0u);
  EXPECT_EQ(core_.Cpsr() >> 28, 0b0100u);  // MVNS: Z, C from the ADCS (0), V unchanged
}

TEST_P(CoreTest, ThumbAluOperations) {
  RunThumb(R"(
    movs r0, #0xF0
    movs r1, #0x3C
    adds r2, r0, #0
    ands r2, r1                 @ 0x30
    adds r3, r0, #0
    eors r3, r1                 @ 0xCC
    adds r4, r0, #0
    orrs r4, r1                 @ 0xFC
    adds r5, r0, #0
    bics r5, r1                 @ 0xC0
    movs r6, #4
    adds r7, r0, #0
    lsls r7, r6                 @ 0xF00
    movs r6, #33
    mov r8, r7
    adds r7, r0, #0
    lsrs r7, r6                 @ 0, C = 0
    movs r6, #3
    muls r6, r1                 @ 0xB4
    movs r1, #8
    mov r9, r0
    mov r0, r9
    rors r0, r1                 @ 0xF0000000
    tst r0, r0
    cmn r0, r0                  @ carry out
  )");
  EXPECT_EQ(R(2), 0x30u);
  EXPECT_EQ(R(3), 0xCCu);
  EXPECT_EQ(R(4), 0xFCu);
  EXPECT_EQ(R(5), 0xC0u);
  EXPECT_EQ(R(8), 0xF00u);
  EXPECT_EQ(R(7), 0u);
  EXPECT_EQ(R(6), 0xB4u);
  EXPECT_EQ(R(0), 0xF0000000u);
  EXPECT_EQ(core_.Cpsr() >> 28, 0b1010u);  // CMN: 0xE0000000, N and C
}

TEST_P(CoreTest, ThumbHighRegistersAndPcRelativeForms) {
  RunThumb(R"(
    ldr r0, value               @ PC-relative
    mov r8, r0
    add r8, r8                  @ no flags
    cmp r8, r0
    add r1, pc, #8              @ word-aligned PC + 8
    add r2, sp, #16
    add sp, #-8
    mov r3, sp
    b skip
    .align 2
  value:
    .word 0x12345678
  skip:
    mov r4, pc
  )");
  EXPECT_EQ(R(0), 0x12345678u);
  EXPECT_EQ(R(8), 0x2468ACF0u);
  EXPECT_EQ(core_.Cpsr() >> 28, 0b0010u);  // 0x2468ACF0 - 0x12345678: C, no N/Z/V
  EXPECT_EQ(R(1), ((0x108u + 4) & ~3u) + 8);
  EXPECT_EQ(R(2), 16u);
  EXPECT_EQ(R(3), 0xFFFFFFF8u);
}

TEST_P(CoreTest, ThumbLoadsAndStores) {
  RunThumb(R"(
    ldr r0, =0x2000
    ldr r1, =0x8899AABB
    str r1, [r0]
    str r1, [r0, #4]
    movs r2, #4
    ldr r3, [r0, r2]
    ldrb r4, [r0, #1]
    ldrh r5, [r0, #2]
    movs r2, #3
    ldrsb r6, [r0, r2]
    movs r2, #2
    ldrsh r7, [r0, r2]
    strb r2, [r0, #8]
    strh r2, [r0, #10]
    mov sp, r0
    str r1, [sp, #16]
    ldr r2, [sp, #16]
  )");
  EXPECT_EQ(R(3), 0x8899AABBu);
  EXPECT_EQ(R(4), Big() ? 0x99u : 0xAAu);
  EXPECT_EQ(R(5), Big() ? 0xAABBu : 0x8899u);
  EXPECT_EQ(R(6), Big() ? 0xFFFFFFBBu : 0xFFFFFF88u);
  EXPECT_EQ(R(7), Big() ? 0xFFFFAABBu : 0xFFFF8899u);
  EXPECT_EQ(Byte(0x2008), 2u);
  EXPECT_EQ(bus_.Peek(0x200A, AccessSize::Half), 2u);
  EXPECT_EQ(R(2), 0x8899AABBu);
}

TEST_P(CoreTest, ThumbStackAndMultipleTransfers) {
  RunThumb(R"(
    ldr r0, =0x3000
    mov sp, r0
    movs r1, #1
    movs r2, #2
    push {r1, r2, lr}
    mov r3, sp
    pop {r4, r5}
    pop {r6}
    ldr r0, =0x2000
    stmia r0!, {r1, r2}
    subs r0, #8
    ldmia r0!, {r6, r7}
    ldr r0, =0x2000
    .hword 0xC803               @ ldmia r0!, {r0, r1}: the loaded base stays
  )");
  EXPECT_EQ(R(3), 0x3000u - 12);
  EXPECT_EQ(R(4), 1u);
  EXPECT_EQ(R(5), 2u);
  EXPECT_EQ(R(13), 0x3000u);
  EXPECT_EQ(R(6), 1u);
  EXPECT_EQ(R(7), 2u);
  EXPECT_EQ(R(0), 1u);
  EXPECT_EQ(R(1), 2u);
}

TEST_P(CoreTest, ThumbBranchesAndPopIntoPc) {
  RunThumb(R"(
    ldr r0, =0x3000
    mov sp, r0
    movs r1, #0
    movs r2, #5
  loop:
    adds r1, r2
    subs r2, #1
    bne loop                    @ 5+4+3+2+1
    bl far
    movs r4, #4
    b done
  far:
    push {lr}
    movs r3, #3
    pop {pc}
  )");
  EXPECT_EQ(R(1), 15u);
  EXPECT_EQ(R(3), 3u);
  EXPECT_EQ(R(4), 4u);
  EXPECT_TRUE(core_.Thumb());
}

TEST_P(CoreTest, DataAbortReturnsToTheInstructionPlusEight) {
  RunSource(R"(
    b start
    b .
    b .
    b prefetch
    b data
  data:
    mov r5, lr
    mrs r6, cpsr
    subs pc, lr, #4             @ skip the aborted instruction
  prefetch:
    mov r7, lr
    ldr pc, =after_fetch
  )", R"(
    ldr r0, =0x80000000
    mov r1, r0
    ldr r2, [r1, #4]!           @ aborts; ARM7TDMI leaves the base updated
    mov r3, #3
    ldr r4, =0x80000000
    bx r4                       @ prefetch abort from address 0x80000000
  after_fetch:
  )");
  EXPECT_EQ(R(5), 0x108u + 8);
  EXPECT_EQ(R(6) & 0x1F, 0x17u);
  EXPECT_EQ(R(1), 0x80000004u);
  EXPECT_EQ(R(3), 3u);
  EXPECT_EQ(R(7), 0x80000004u);
  EXPECT_EQ(core_.CurrentMode(), Mode::Abort);
}

TEST_P(CoreTest, InterruptsAreTakenBetweenInstructionsWhenEnabled) {
  bus_.Load(0, Assemble(R"(
    b .
    b .
    b .
    b .
    b .
    b .
    b irq
    mov r9, #0x99               @ FIQ at 0x1C: banked R8-R14
    mov r10, lr
    subs pc, lr, #4
  irq:
    mov r11, lr
    mov r12, #0
    subs pc, lr, #4
    .org 0x100
    mov r12, #1
    mov r0, #0
  loop:
    add r0, r0, #1
    b loop
  )", GetParam()));
  core_.SetPc(0x100);
  core_.Run(10);
  core_.SetIrqLine(true);  // masked: I is set after reset
  core_.Run(10);
  EXPECT_EQ(core_.CurrentMode(), Mode::Supervisor);
  core_.SetCpsr(0x13 | psr::kF);  // unmask IRQ only
  const StepResult irq = core_.Step();
  EXPECT_EQ(irq.outcome, StepOutcome::Exception);
  EXPECT_EQ(irq.exception, Exception::Irq);
  EXPECT_EQ(core_.CurrentMode(), Mode::Irq);
  EXPECT_EQ(core_.Pc(), 0x18u);
  EXPECT_EQ(core_.BankedRegister(Mode::Irq, 14), irq.address + 4);
  EXPECT_EQ(core_.Spsr(Mode::Irq), 0x13u | psr::kF);
  core_.SetIrqLine(false);
  core_.Run(4);
  EXPECT_EQ(core_.CurrentMode(), Mode::Supervisor);
  EXPECT_EQ(R(11), irq.address + 4);

  // FIQ wins over IRQ and gets its own R8-R14.
  core_.SetRegister(9, 0x1234);
  core_.SetCpsr(0x13);
  core_.SetIrqLine(true);
  core_.SetFiqLine(true);
  const StepResult fiq = core_.Step();
  EXPECT_EQ(fiq.exception, Exception::Fiq);
  EXPECT_EQ(core_.Cpsr() & (psr::kI | psr::kF), psr::kI | psr::kF);
  core_.SetFiqLine(false);
  core_.SetIrqLine(false);
  core_.Run(3);
  EXPECT_EQ(core_.CurrentMode(), Mode::Supervisor);
  EXPECT_EQ(R(9), 0x1234u);
  EXPECT_EQ(core_.BankedRegister(Mode::Fiq, 9), 0x99u);
  EXPECT_EQ(core_.BankedRegister(Mode::Fiq, 10), fiq.address + 4);
}

TEST_P(CoreTest, BankedRegistersThroughTheInterface) {
  const Mode modes[] = {Mode::User, Mode::Fiq, Mode::Irq, Mode::Supervisor, Mode::Abort,
                        Mode::Undefined};
  for (unsigned m = 0; m < 6; ++m) {
    for (unsigned n = 8; n < 15; ++n) core_.SetBankedRegister(modes[m], n, m * 100 + n);
    core_.SetSpsr(modes[m], 0x10 + m);
  }
  for (unsigned m = 0; m < 6; ++m) {
    for (unsigned n = 8; n < 15; ++n) {
      const bool shared = n < 13 && modes[m] != Mode::Fiq;  // R8-R12 outside FIQ are one set
      const unsigned expected = shared ? 500 + n : m * 100 + n;
      EXPECT_EQ(core_.BankedRegister(modes[m], n), expected) << m << " " << n;
    }
  }
  EXPECT_EQ(core_.Spsr(Mode::User), 0u);
  EXPECT_EQ(core_.Spsr(Mode::Abort), 0x14u);
  EXPECT_EQ(core_.BankedRegister(Mode::System, 13), 13u);
  core_.SetCpsr(static_cast<std::uint32_t>(Mode::Fiq));
  EXPECT_EQ(R(8), 108u);
  EXPECT_EQ(R(14), 114u);
  core_.SetCpsr(static_cast<std::uint32_t>(Mode::Undefined));
  EXPECT_EQ(R(8), 508u);
  EXPECT_EQ(R(13), 513u);
  EXPECT_EQ(core_.BankedRegister(Mode::Fiq, 8), 108u);
  core_.SetCpsr(0xF0000000u | 0x05);  // no such mode: flags change, the mode stays
  EXPECT_EQ(core_.CurrentMode(), Mode::Undefined);
  EXPECT_EQ(core_.Cpsr() >> 28, 0xFu);
}

TEST_P(CoreTest, FastMemoryMatchesTheBusInBothByteOrders) {
  const std::string program = R"(
    ldr r0, =0x2000
    ldr r1, =0xA1B2C3D4
    str r1, [r0]
    strh r1, [r0, #4]
    strb r1, [r0, #7]
    ldrb r2, [r0, #1]
    ldrh r3, [r0, #2]
    ldr r4, [r0, #1]
    ldr r5, [r0, #4]
    adr r6, t + 1
    bx r6
    .thumb
  t:
    ldrh r7, [r0, #2]
    ldrb r6, [r0, #3]
  )";
  RunProgram(program);
  std::vector<std::uint32_t> via_bus;
  for (unsigned n = 0; n < 8; ++n) via_bus.push_back(R(n));
  const std::uint32_t word = Word(0x2004);

  RamBus other(kRamBase, kRamSize, GetParam());
  ArmCore fast(other, CoreModel::ARM7TDMI, GetParam());
  other.Load(0, Assemble("\t.org 0x100\n" + program + "\ndone: b done\n\t.ltorg\n", GetParam()));
  fast.MapFastMemory(other.Base(), other.Size(), other.Memory());
  fast.SetPc(0x100);
  fast.Run(30);
  for (unsigned n = 0; n < 8; ++n) EXPECT_EQ(fast.Register(n), via_bus[n]) << "r" << n;
  EXPECT_EQ(other.Peek(0x2004, AccessSize::Word), word);
  EXPECT_EQ(other.fetches + other.data_reads + other.data_writes, 0u);
}

TEST_P(CoreTest, BreakpointStopsBeforeAndWatchpointAfter) {
  struct Observer : DebugObserver {
    std::uint32_t break_at = 0;
    std::uint32_t watch = 0;
    std::vector<std::uint32_t> accesses;
    bool BeforeInstruction(std::uint32_t address, std::uint32_t, bool) override {
      return address == break_at;
    }
    bool AfterDataAccess(std::uint32_t address, AccessSize, std::uint32_t value,
                         bool write) override {
      accesses.push_back(address);
      return write && address == watch && value != 0;
    }
  } observer;
  bus_.Load(0, Assemble(R"(
    .org 0x100
    ldr r0, =0x2000
    mov r1, #5
    str r1, [r0]
    mov r2, #2
    mov r3, #3
    b .
    .ltorg
  )", GetParam()));
  observer.break_at = 0x10C;
  observer.watch = 0x2000;
  core_.SetDebugObserver(&observer);
  core_.SetPc(0x100);
  RunResult run = core_.Run(100);
  EXPECT_EQ(run.last.outcome, StepOutcome::Halted);
  EXPECT_EQ(run.last.halt, HaltReason::Watchpoint);
  EXPECT_EQ(core_.Pc(), 0x10Cu);  // after the STR
  EXPECT_EQ(run.instructions, 3u);
  run = core_.Run(100);
  EXPECT_EQ(run.last.halt, HaltReason::Breakpoint);
  EXPECT_EQ(run.instructions, 0u);
  EXPECT_EQ(core_.Pc(), 0x10Cu);
  EXPECT_EQ(R(2), 0u);
  observer.break_at = 0;
  core_.RequestHalt();
  EXPECT_EQ(core_.Step().halt, HaltReason::DebugRequest);
  EXPECT_EQ(core_.Pc(), 0x10Cu);
  core_.ClearHaltRequest();
  core_.Step();
  EXPECT_EQ(R(2), 2u);
}

TEST_P(CoreTest, InjectedInstructionsLeaveThePcToTheCaller) {
  RamBus debug_bus(0x40000000, 0x100, GetParam());
  debug_bus.Poke(0x40000010, AccessSize::Word, 0xCAFEF00D);
  core_.SetPc(0x200);
  core_.SetRegister(0, 0x40000010);
  // LDR r1, [r0]: served by the debug bus, PC unchanged.
  StepResult r = core_.ExecuteInstruction(0xE5901000, false, debug_bus);
  EXPECT_EQ(r.outcome, StepOutcome::Executed);
  EXPECT_EQ(R(1), 0xCAFEF00Du);
  EXPECT_EQ(core_.Pc(), 0x200u);
  EXPECT_EQ(debug_bus.data_reads, 1u);
  EXPECT_EQ(bus_.data_reads, 0u);
  // MOV r2, pc reads Pc() + 8.
  core_.ExecuteInstruction(0xE1A0200F, false, debug_bus);
  EXPECT_EQ(R(2), 0x208u);
  // B to 0x300 (offset (0x300 - 0x208) / 4): the PC moves, pc_written says so.
  r = core_.ExecuteInstruction(0xEA000000 | ((0x300 - 0x208) / 4), false, debug_bus);
  EXPECT_TRUE(r.pc_written);
  EXPECT_EQ(core_.Pc(), 0x300u);
  // An access the debug bus does not answer is reported, not taken.
  core_.SetRegister(0, 0x50000000);
  r = core_.ExecuteInstruction(0xE5901000, false, debug_bus);
  EXPECT_EQ(r.outcome, StepOutcome::Exception);
  EXPECT_EQ(r.exception, Exception::DataAbort);
  EXPECT_FALSE(r.exception_taken);
  EXPECT_EQ(core_.CurrentMode(), Mode::Supervisor);
  // A THUMB instruction: BX PC (0x4778) at 0x300 goes to ARM state at 0x304.
  r = core_.ExecuteInstruction(0x4778, true, debug_bus);
  EXPECT_TRUE(r.pc_written);
  EXPECT_FALSE(core_.Thumb());
  EXPECT_EQ(core_.Pc(), 0x304u);
  // SWI is reported with its comment.
  r = core_.ExecuteInstruction(0xEF000042, false, debug_bus);
  EXPECT_EQ(r.outcome, StepOutcome::Swi);
  EXPECT_EQ(r.swi_comment, 0x42u);
  EXPECT_EQ(core_.Pc(), 0x304u);
}

TEST_P(CoreTest, RunCountsInstructionsAndCycles) {
  bus_.Load(0, Assemble(R"(
    .org 0x100
    mov r0, #100
  loop:
    subs r0, r0, #1
    bne loop
    swi 0
  )", GetParam()));
  core_.SetSwiHook([](std::uint32_t, bool) { return SwiAction::Halt; });
  core_.SetPc(0x100);
  const RunResult run = core_.Run(1000000);
  EXPECT_EQ(run.last.halt, HaltReason::SwiHook);
  EXPECT_EQ(run.instructions, 1u + 200u + 1u);
  EXPECT_EQ(core_.InstructionCount(), 202u);
  EXPECT_GT(core_.CycleCount(), 202u);  // branches take more than one cycle
  EXPECT_EQ(bus_.advanced, core_.CycleCount());
  core_.SetPc(0x100);
  EXPECT_TRUE(core_.Run(10).limit_reached);
}

TEST_P(CoreTest, ThumbExceptionsReturnAddressesAndArmEntry) {
  RunSource(R"(
    b start
    b undef
    b swi
  undef:
    mov r8, lr
    movs pc, lr
  swi:
    mov r9, lr
    mrs r10, spsr
    movs pc, lr
  )", R"(
    .hword 0xDE00               @ undefined in THUMB state
    swi 7
    movs r0, #1
  )", true);
  EXPECT_EQ(R(8), 0x102u);  // the next THUMB instruction
  EXPECT_EQ(R(9), 0x104u);
  EXPECT_EQ(R(10) & psr::kT, psr::kT);
  EXPECT_EQ(R(0), 1u);
  EXPECT_TRUE(core_.Thumb());
}

// With nothing at the vectors every fetch aborts; each aborted fetch counts
// against the budget so the run still ends.
TEST_P(CoreTest, RunEndsWhenTheVectorsAbort) {
  RamBus high(0x10000000, 0x1000, GetParam());
  ArmCore core(high, CoreModel::ARM7TDMI, GetParam());
  core.SetPc(0x10000000);  // zeros: ANDEQ r0, r0, r0 ... then off the end
  const RunResult run = core.Run(5000);
  EXPECT_TRUE(run.limit_reached);
  EXPECT_EQ(run.last.exception, Exception::PrefetchAbort);
  EXPECT_EQ(core.CurrentMode(), Mode::Abort);
}

// Time reaches the board before an access that leaves fast memory, so a
// device polled by a loop sees the loop's cycles.
TEST_P(CoreTest, TimeReachesTheBusBeforeEachAccess) {
  struct TimedBus : RamBus {
    using RamBus::RamBus;
    std::vector<std::uint64_t> seen;
    bool Read(std::uint32_t address, AccessSize size, AccessKind kind,
              std::uint32_t& value) override {
      if (address == 0x40000000) {
        seen.push_back(advanced);
        value = 0;
        return true;
      }
      return RamBus::Read(address, size, kind, value);
    }
  } bus(kRamBase, kRamSize, GetParam());
  bus.Load(0, Assemble(R"(
    .org 0x100
    ldr r0, =0x40000000
    mov r1, #50
  loop:
    subs r1, r1, #1
    bne loop
    ldr r2, [r0]
    ldr r2, [r0]
    b .
    .ltorg
  )", GetParam()));
  ArmCore core(bus, CoreModel::ARM7TDMI, GetParam());
  core.MapFastMemory(bus.Base(), bus.Size(), bus.Memory());
  core.SetPc(0x100);
  core.Run(200);
  ASSERT_EQ(bus.seen.size(), 2u);
  EXPECT_GE(bus.seen[0], 2u + 100u);  // every instruction before the load
  EXPECT_GT(bus.seen[1], bus.seen[0]);
  EXPECT_EQ(bus.advanced, core.CycleCount());
}

INSTANTIATE_TEST_SUITE_P(ByteOrders, CoreTest,
                         ::testing::Values(ByteOrder::Little, ByteOrder::Big),
                         [](const auto& info) {
                           return info.param == ByteOrder::Little ? std::string("Little")
                                                                  : std::string("Big");
                         });

}  // namespace
}  // namespace simboard

namespace simboard {
namespace {

// ARM9TDMI boards: CP15 ID and control, high vectors, the base-restored
// abort model.
class Arm9Test : public CoreTest {
 protected:
  Arm9Test() : CoreTest(CoreModel::ARM9TDMI) {}
};

TEST_P(Arm9Test, Cp15IdentifiesAndControlsTheVectors) {
  core_.SetCp15Id(0x41129200);
  RunSource(R"(
    b start
    b undef
  undef:
    mov r9, #9
    movs pc, lr
  )", R"(
    mrc p15, 0, r0, c0, c0, 0
    mrc p15, 0, r1, c1, c0, 0
    orr r2, r1, #0x2000
    mcr p15, 0, r2, c1, c0, 0
    mrc p15, 0, r3, c1, c0, 0
    mcr p15, 0, r1, c1, c0, 0
    mcr p15, 0, r0, c7, c7, 0   @ cache maintenance: accepted
    mrc p14, 0, r4, c0, c0, 0   @ no CP14: undefined
  )");
  EXPECT_EQ(R(0), 0x41129200u);
  EXPECT_EQ(R(1) & cp15::kBigEndian, Big() ? cp15::kBigEndian : 0u);
  EXPECT_EQ(R(3) & cp15::kHighVectors, cp15::kHighVectors);
  EXPECT_EQ(R(9), 9u);
  EXPECT_EQ(core_.Cp15Control() & cp15::kHighVectors, 0u);
}

TEST_P(Arm9Test, HighVectorsMoveExceptionsTo0xFFFF0000) {
  core_.SetCp15Control(core_.Cp15Control() | cp15::kHighVectors);
  bus_.Load(0x100, Assemble(".word 0xEF000001", GetParam()));
  core_.SetPc(0x100);
  const StepResult step = core_.Step();
  EXPECT_EQ(step.outcome, StepOutcome::Swi);
  EXPECT_EQ(core_.Pc(), 0xFFFF0008u);
  core_.Reset();
  EXPECT_EQ(core_.Pc(), 0u);  // reset clears V
}

TEST_P(Arm9Test, AbortedLoadRestoresTheBase) {
  bus_.Load(0x100, Assemble(R"(
    ldr r0, =0x80000000
    ldr r1, [r0, #4]!
    ldmia r0!, {r2, r3}
    .ltorg
  )", GetParam()));
  core_.SetPc(0x100);
  core_.Step();
  EXPECT_EQ(core_.Step().exception, Exception::DataAbort);
  EXPECT_EQ(core_.BankedRegister(Mode::Abort, 14), 0x104u + 8);
  EXPECT_EQ(R(0), 0x80000000u);
  core_.SetPc(0x108);
  core_.SetCpsr(0x13);
  EXPECT_EQ(core_.Step().exception, Exception::DataAbort);
  EXPECT_EQ(R(0), 0x80000000u);
}

INSTANTIATE_TEST_SUITE_P(ByteOrders, Arm9Test,
                         ::testing::Values(ByteOrder::Little, ByteOrder::Big),
                         [](const auto& info) {
                           return info.param == ByteOrder::Little ? std::string("Little")
                                                                  : std::string("Big");
                         });

}  // namespace
}  // namespace simboard
