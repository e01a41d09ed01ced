// The ARM7TDMI debug logic driven over JTAG as the technical reference
// manual's debug sequences do it: halting, reading registers through the
// pipeline, system-speed memory accesses, breakpoints, watchpoints, range
// coupling, resuming with the branch back, reset and the faults.
#include <gtest/gtest.h>

#include <array>

#include "simboard/debug/arm7_debug.h"
#include "simboard/core/arm_core.h"
#include "simboard/debug/jtag_side.h"
#include "simboard/tests/arm_test_support.h"
#include "simboard/tests/jtag_test_support.h"

namespace simboard {
namespace {

using testing::JtagMaster;
using testing::RamBus;

constexpr std::uint32_t kNop = 0xE1A00000;        // MOV r0, r0
constexpr std::uint32_t kThumbNop = 0x46C046C0;   // MOV r8, r8 in both halfwords
constexpr std::uint32_t kStmdaAll = 0xE800FFFF;   // STMDA r0, {r0-r15}
constexpr std::uint32_t kData = 0x1000;           // where the loop stores its counter

// 0x00 MOV r2, #0x1000; 0x04 ADD r1, r1, #1; 0x08 STR r1, [r2]; 0x0C B 0x04
const std::uint32_t kArmLoop[] = {0xE3A02A01, 0xE2811001, 0xE5821000, 0xEAFFFFFC};

std::uint32_t ArmBranch(int words) { return 0xEA000000u | (static_cast<std::uint32_t>(words) & 0xFFFFFF); }

class DebugBench : public ::testing::TestWithParam<ByteOrder> {
 protected:
  DebugBench() : bus_(0, 0x10000, GetParam()), core_(bus_, CoreModel::ARM7TDMI, GetParam()) {}

  void Build(JtagSettings settings = {}) {
    settings.debug.run_budget = 1000;
    side_ = std::make_unique<JtagSide>(core_, bus_, settings);
    jtag_ = std::make_unique<JtagMaster>(*side_);
    jtag_->Reset();
  }
  void LoadArm(const std::uint32_t* words, std::size_t count, std::uint32_t at = 0) {
    for (std::size_t i = 0; i < count; ++i)
      bus_.Poke(at + 4 * static_cast<std::uint32_t>(i), AccessSize::Word, words[i]);
  }
  void PowerUp() {
    side_->SetSystemReset(true);
    side_->SetSystemReset(false);
  }
  ArmDebugLogic& Debug() { return side_->Debug(); }
  std::uint32_t Status() {
    EXPECT_TRUE(jtag_->SelectChain(2));
    return jtag_->IceRead(static_cast<unsigned>(IceRegister::DebugStatus));
  }
  void Ice(IceRegister reg, std::uint32_t value) {
    ASSERT_TRUE(jtag_->SelectChain(2));
    jtag_->IceWrite(static_cast<unsigned>(reg), value);
  }
  // Stops the running core with a debug request and clears the request.
  void HaltByRequest() {
    Ice(IceRegister::DebugControl, debug_control::kDbgRq | debug_control::kIntDis);
    ASSERT_NE(Status() & debug_status::kDbgAck, 0u);
    Ice(IceRegister::DebugControl, debug_control::kIntDis);
  }
  // STMDA r0, {r0-r15} at debug speed: the registers leave on the data bus
  // from the fourth scan on. Three words are fetched.
  std::array<std::uint32_t, 16> ReadArmRegisters(bool* watchpoint_hit = nullptr) {
    EXPECT_TRUE(jtag_->SelectChain(1));
    jtag_->Chain1(kStmdaAll, false, watchpoint_hit);
    jtag_->Chain1(kNop);
    jtag_->Chain1(kNop);
    std::array<std::uint32_t, 16> r{};
    for (auto& value : r) value = jtag_->Chain1(kNop);
    return r;
  }
  // The branch back after ReadArmRegisters: two more words and the branch
  // are fetched; a debug request entry comes back with -(3 + N), any other
  // entry with -(4 + N), N = 6 debug-speed instructions.
  void ResumeAfterRegisterRead(bool debug_request) {
    jtag_->Chain1(kNop);
    jtag_->Chain1(kNop, true);
    jtag_->Chain1(ArmBranch(debug_request ? -9 : -10));
    jtag_->Restart();
  }
  // A word read at system speed: LDR r0, [r0] with r0 loaded at debug speed.
  std::uint32_t ReadWord(std::uint32_t address) {
    EXPECT_TRUE(jtag_->SelectChain(1));
    jtag_->Chain1(0xE0400000);  // SUB r0, r0, r0
    jtag_->Chain1(0xE5900000);  // LDR r0, [r0]
    jtag_->Chain1(kNop);
    jtag_->Chain1(kNop);
    jtag_->Chain1(address);     // the load's data cycle
    jtag_->Chain1(kNop);
    jtag_->Chain1(kNop);
    jtag_->Chain1(kNop, true);
    jtag_->Chain1(0xE5900000);  // LDR r0, [r0] at system speed
    jtag_->Restart();
    EXPECT_EQ(Status() & (debug_status::kDbgAck | debug_status::kSysComp),
              debug_status::kDbgAck | debug_status::kSysComp);
    EXPECT_TRUE(jtag_->SelectChain(1));
    jtag_->Chain1(0xE5800000);  // STR r0, [r0]
    jtag_->Chain1(kNop);
    jtag_->Chain1(kNop);
    return jtag_->Chain1(kNop);
  }
  void WriteWord(std::uint32_t address, std::uint32_t value) {
    ASSERT_TRUE(jtag_->SelectChain(1));
    jtag_->Chain1(0xE8900003);  // LDMIA r0, {r0, r1}
    jtag_->Chain1(kNop);
    jtag_->Chain1(kNop);
    jtag_->Chain1(address);
    jtag_->Chain1(value);
    jtag_->Chain1(kNop);
    jtag_->Chain1(kNop);
    jtag_->Chain1(kNop, true);
    jtag_->Chain1(0xE5801000);  // STR r1, [r0] at system speed
    jtag_->Restart();
  }

  RamBus bus_;
  ArmCore core_;
  std::unique_ptr<JtagSide> side_;
  std::unique_ptr<JtagMaster> jtag_;
};

TEST_P(DebugBench, IceRegistersKeepTheirImplementedBitsOnly) {
  Build();
  ASSERT_TRUE(jtag_->SelectChain(2));
  struct Case {
    IceRegister reg;
    std::uint32_t written;
    std::uint32_t expected;
  };
  const std::uint32_t kAll = 0xFFFFFFFF;
  for (Case c : {Case{IceRegister::DebugControl, kAll & ~debug_control::kDbgRq, 0x3D},
                 Case{IceRegister::Wp0AddressValue, kAll, kAll},
                 Case{IceRegister::Wp0ControlValue, kAll, 0x1FF},
                 Case{IceRegister::Wp0ControlMask, kAll, 0xFF},
                 Case{IceRegister::Wp1DataMask, kAll, kAll},
                 Case{IceRegister::Wp1ControlValue, 0xFFFFFEFF, 0x0FF}}) {
    unsigned address = static_cast<unsigned>(c.reg);
    jtag_->IceWrite(address, c.written);
    EXPECT_EQ(jtag_->IceRead(address), c.expected) << FindIceRegister(address)->name;
  }
  // Status is read-only; unused addresses read 0; the comms control carries its version.
  jtag_->IceWrite(static_cast<unsigned>(IceRegister::DebugStatus), 0x1F);
  EXPECT_EQ(jtag_->IceRead(static_cast<unsigned>(IceRegister::DebugStatus)) & debug_status::kDbgAck, 0u);
  jtag_->IceWrite(0x1F, 0x12345678);
  EXPECT_EQ(jtag_->IceRead(0x1F), 0u);
  EXPECT_EQ(jtag_->IceRead(static_cast<unsigned>(IceRegister::CommsControl)) >> 28, 1u);
}

TEST_P(DebugBench, DebugRequestHaltsAndRegistersReadThroughThePipeline) {
  Build();
  LoadArm(kArmLoop, 4);
  PowerUp();
  EXPECT_EQ(Status() & debug_status::kDbgAck, 0u);
  EXPECT_NE(Status() & debug_status::kIfEn, 0u);
  HaltByRequest();
  EXPECT_EQ(Debug().LastEntry(), DebugEntry::DebugRequest);
  std::uint32_t stopped_at = core_.Pc();
  std::uint32_t r1 = core_.Register(1);
  std::uint32_t cpsr = core_.Cpsr();
  std::uint32_t status = Status();
  EXPECT_EQ(status & debug_status::kIfEn, 0u);
  EXPECT_EQ(status & debug_status::kThumb, 0u);

  bool watchpoint_hit = true;
  auto r = ReadArmRegisters(&watchpoint_hit);
  EXPECT_FALSE(watchpoint_hit);
  EXPECT_EQ(r[1], r1);
  EXPECT_EQ(r[2], kData);
  // STM stores R15 as its address + 12; the first instruction after a debug
  // request sits two instructions past the one to resume at.
  EXPECT_EQ(r[15] - 20, stopped_at);
  // MRS r0, CPSR then STR r0, [r0]: the store's data cycle is the third scan.
  jtag_->Chain1(0xE10F0000);
  jtag_->Chain1(0xE5800000);
  jtag_->Chain1(kNop);
  jtag_->Chain1(kNop);
  EXPECT_EQ(jtag_->Chain1(kNop), cpsr);
  EXPECT_GT(Debug().Counters().debug_instructions, 3u);
}

TEST_P(DebugBench, SystemSpeedAccessesUseTheBoardBusAndComeBack) {
  Build();
  LoadArm(kArmLoop, 4);
  PowerUp();
  HaltByRequest();
  std::uint32_t counter = core_.Register(1);
  EXPECT_EQ(ReadWord(kData), bus_.Peek(kData, AccessSize::Word));
  EXPECT_NE(counter, 0u);
  WriteWord(0x2000, 0xCAFEBABE);
  EXPECT_NE(Status() & debug_status::kDbgAck, 0u);
  EXPECT_EQ(bus_.Peek(0x2000, AccessSize::Word), 0xCAFEBABEu);
  EXPECT_EQ(ReadWord(0x2000), 0xCAFEBABEu);
  EXPECT_EQ(Debug().Counters().system_speed_accesses, 3u);
  EXPECT_EQ(Debug().LastEntry(), DebugEntry::SystemSpeed);
}

TEST_P(DebugBench, BranchBackResumesWhereTheCoreStopped) {
  Build();
  LoadArm(kArmLoop, 4);
  PowerUp();
  HaltByRequest();
  std::uint32_t stopped_at = core_.Pc();
  std::uint32_t before = core_.Register(1);
  ReadArmRegisters();
  ResumeAfterRegisterRead(true);
  EXPECT_EQ(Status() & debug_status::kDbgAck, 0u);
  EXPECT_EQ(Debug().Counters().run_instructions > 1000, true);
  HaltByRequest();
  auto r = ReadArmRegisters();
  // The loop went on from where it stopped: three instructions per count.
  EXPECT_GT(r[1], before + 300);
  std::uint32_t now_at = r[15] - 20;
  EXPECT_TRUE(now_at == 0x04 || now_at == 0x08 || now_at == 0x0C) << now_at;
  std::uint32_t stored = bus_.Peek(kData, AccessSize::Word);
  EXPECT_EQ(stored, now_at == 0x08 ? r[1] - 1 : r[1]);
  EXPECT_TRUE(stopped_at == 0x04 || stopped_at == 0x08 || stopped_at == 0x0C);
}

TEST_P(DebugBench, BreakpointStopsBeforeTheInstruction) {
  Build();
  LoadArm(kArmLoop, 4);
  PowerUp();
  Ice(IceRegister::Wp0AddressValue, 0x08);
  Ice(IceRegister::Wp0AddressMask, 0);
  Ice(IceRegister::Wp0DataMask, 0xFFFFFFFF);
  Ice(IceRegister::Wp0ControlMask, 0xFF & ~watch_control::kData);
  Ice(IceRegister::Wp0ControlValue, watch_control::kEnable);
  ASSERT_NE(Status() & debug_status::kDbgAck, 0u);
  EXPECT_EQ(Debug().LastEntry(), DebugEntry::Breakpoint);
  std::uint32_t stored = bus_.Peek(kData, AccessSize::Word);
  bool watchpoint_hit = true;
  auto r = ReadArmRegisters(&watchpoint_hit);
  EXPECT_FALSE(watchpoint_hit);
  EXPECT_EQ(r[15] - 24, 0x08u);
  EXPECT_EQ(r[1], stored + 1);  // the ADD ran, the STR did not
  // Resume with the breakpoint gone: -(4 + N) lands on the STR again.
  Ice(IceRegister::Wp0ControlValue, 0);
  ASSERT_TRUE(jtag_->SelectChain(1));
  ResumeAfterRegisterRead(false);
  EXPECT_EQ(Status() & debug_status::kDbgAck, 0u);
  EXPECT_GT(bus_.Peek(kData, AccessSize::Word), stored + 1);
}

TEST_P(DebugBench, SoftwareBreakpointPatternMatchesOnTheFetchedData) {
  Build();
  std::uint32_t program[] = {kArmLoop[0], kArmLoop[1], 0xE7FFDEFE, kArmLoop[3]};
  LoadArm(program, 4);
  PowerUp();
  Ice(IceRegister::Wp1AddressMask, 0xFFFFFFFF);
  Ice(IceRegister::Wp1DataValue, 0xE7FFDEFE);
  Ice(IceRegister::Wp1DataMask, 0);
  Ice(IceRegister::Wp1ControlMask, 0xFF & ~watch_control::kData);
  Ice(IceRegister::Wp1ControlValue, watch_control::kEnable);
  ASSERT_NE(Status() & debug_status::kDbgAck, 0u);
  auto r = ReadArmRegisters();
  EXPECT_EQ(r[15] - 24, 0x08u);
}

TEST_P(DebugBench, DataWatchpointStopsAfterTheAccessAndFlagsBreakpt) {
  Build();
  LoadArm(kArmLoop, 4);
  PowerUp();
  Ice(IceRegister::Wp1AddressValue, kData);
  Ice(IceRegister::Wp1AddressMask, 0);
  Ice(IceRegister::Wp1DataMask, 0xFFFFFFFF);
  Ice(IceRegister::Wp1ControlMask, 0xFF & ~(watch_control::kData | watch_control::kWrite));
  Ice(IceRegister::Wp1ControlValue, watch_control::kEnable | watch_control::kData | watch_control::kWrite);
  ASSERT_NE(Status() & debug_status::kDbgAck, 0u);
  EXPECT_EQ(Debug().LastEntry(), DebugEntry::Watchpoint);
  bool watchpoint_hit = false;
  auto r = ReadArmRegisters(&watchpoint_hit);
  EXPECT_TRUE(watchpoint_hit);
  EXPECT_EQ(r[15] - 24, 0x0Cu);  // the STR completed; next is the branch
  EXPECT_EQ(bus_.Peek(kData, AccessSize::Word), r[1]);
  // A read watchpoint on the same address never fires in this loop.
  Ice(IceRegister::Wp1ControlValue, watch_control::kEnable | watch_control::kData);
  ResumeAfterRegisterRead(false);
  EXPECT_EQ(Status() & debug_status::kDbgAck, 0u);
}

TEST_P(DebugBench, RangeCouplingStepsOneInstruction) {
  Build();
  LoadArm(kArmLoop, 4);
  PowerUp();
  HaltByRequest();
  std::uint32_t pc = core_.Pc();
  ReadArmRegisters();
  // Unit 1 compares the current instruction's address but does not halt;
  // unit 0 halts on any fetch that unit 1 does not match (RANGE low).
  ASSERT_TRUE(jtag_->SelectChain(2));
  jtag_->IceWrite(static_cast<unsigned>(IceRegister::Wp1AddressValue), pc);
  jtag_->IceWrite(static_cast<unsigned>(IceRegister::Wp1AddressMask), 1);
  jtag_->IceWrite(static_cast<unsigned>(IceRegister::Wp1DataMask), 0xFFFFFFFF);
  jtag_->IceWrite(static_cast<unsigned>(IceRegister::Wp1ControlValue), 0xFFFFFEF7);
  jtag_->IceWrite(static_cast<unsigned>(IceRegister::Wp1ControlMask), 0xFFFFFFF7);
  jtag_->IceWrite(static_cast<unsigned>(IceRegister::Wp0AddressMask), 0xFFFFFFFF);
  jtag_->IceWrite(static_cast<unsigned>(IceRegister::Wp0DataMask), 0xFFFFFFFF);
  jtag_->IceWrite(static_cast<unsigned>(IceRegister::Wp0ControlValue), 0xFFFFFF77);
  jtag_->IceWrite(static_cast<unsigned>(IceRegister::Wp0ControlMask), 0xFFFFFF77);
  ASSERT_TRUE(jtag_->SelectChain(1));
  ResumeAfterRegisterRead(true);
  ASSERT_NE(Status() & debug_status::kDbgAck, 0u);
  EXPECT_EQ(Debug().LastEntry(), DebugEntry::Breakpoint);
  std::uint32_t expected = pc == 0x0C ? 0x04 : pc + 4;
  EXPECT_EQ(core_.Pc(), expected);
  auto r = ReadArmRegisters();
  EXPECT_EQ(r[15] - 24, expected);
}

TEST_P(DebugBench, ThumbStateShowsInStatusAndReadsWithThumbInstructions) {
  Build();
  // 0x00 ADD r0, pc, #1; 0x04 BX r0; 0x08 (THUMB) ADD r1, #1; 0x0A B 0x08
  std::uint32_t program[] = {0xE28F0001, 0xE12FFF10, 0};
  LoadArm(program, 3);
  bus_.Poke(0x08, AccessSize::Half, 0x3101);
  bus_.Poke(0x0A, AccessSize::Half, 0xE7FD);
  PowerUp();
  HaltByRequest();
  ASSERT_NE(Status() & debug_status::kThumb, 0u);
  std::uint32_t stopped_at = core_.Pc();
  std::uint32_t r0 = core_.Register(0);
  ASSERT_TRUE(jtag_->SelectChain(1));
  jtag_->Chain1(0x60006000);  // STR r0, [r0]
  jtag_->Chain1(kThumbNop);
  jtag_->Chain1(kThumbNop);
  EXPECT_EQ(jtag_->Chain1(kThumbNop), r0);
  jtag_->Chain1(0x46784678);  // MOV r0, pc
  jtag_->Chain1(0x60006000);
  jtag_->Chain1(kThumbNop);
  jtag_->Chain1(kThumbNop);
  std::uint32_t pc = jtag_->Chain1(kThumbNop);
  EXPECT_EQ(pc - 14, stopped_at);
  jtag_->Chain1(0x47784778);  // BX pc: into ARM state
  jtag_->Chain1(kThumbNop);
  jtag_->Chain1(kThumbNop);
  jtag_->Chain1(kNop);
  EXPECT_FALSE(core_.Thumb());
  EXPECT_EQ(Status() & debug_status::kThumb, 0u);
}

TEST_P(DebugBench, ResetLineRestartsTheCoreAndKeepsTheWatchpoints) {
  Build();
  LoadArm(kArmLoop, 4);
  side_->SetSystemReset(true);
  Ice(IceRegister::Wp0AddressValue, 0);
  Ice(IceRegister::Wp0AddressMask, 3);
  Ice(IceRegister::Wp0DataMask, 0xFFFFFFFF);
  Ice(IceRegister::Wp0ControlMask, 0xF7);
  Ice(IceRegister::Wp0ControlValue, watch_control::kEnable);
  EXPECT_EQ(Status() & debug_status::kDbgAck, 0u);  // held in reset, not halted
  side_->SetSystemReset(false);
  ASSERT_NE(Status() & debug_status::kDbgAck, 0u);
  EXPECT_EQ(core_.Pc(), 0u);
  EXPECT_EQ(core_.CurrentMode(), Mode::Supervisor);
  auto r = ReadArmRegisters();
  EXPECT_EQ(r[15] - 24, 0u);
  // Asserting reset leaves debug state.
  side_->SetSystemReset(true);
  EXPECT_FALSE(Debug().InDebugState());
}

TEST_P(DebugBench, NeverHaltIgnoresRequestsAndWatchpoints) {
  JtagSettings settings;
  settings.debug.never_halt = true;
  Build(settings);
  LoadArm(kArmLoop, 4);
  PowerUp();
  Ice(IceRegister::DebugControl, debug_control::kDbgRq);
  EXPECT_EQ(Status() & debug_status::kDbgAck, 0u);
  Ice(IceRegister::Wp0AddressMask, 0xFFFFFFFF);
  Ice(IceRegister::Wp0DataMask, 0xFFFFFFFF);
  Ice(IceRegister::Wp0ControlMask, 0xF7);
  Ice(IceRegister::Wp0ControlValue, watch_control::kEnable);
  EXPECT_EQ(Status() & debug_status::kDbgAck, 0u);
  EXPECT_GT(Debug().Counters().run_instructions, 1000u);
}

TEST_P(DebugBench, CommsChannelCarriesWordsBothWays) {
  Build();
  // 0x00 MOV r1, #0x55; 0x04 MCR p14, 0, r1, c1, c0; 0x08 MRC p14, 0, r4, c0, c0;
  // 0x0C TST r4, #1; 0x10 BEQ 0x08; 0x14 MRC p14, 0, r3, c1, c0; 0x18 B .
  const std::uint32_t program[] = {0xE3A01055, 0xEE011E10, 0xEE104E10, 0xE3140001,
                                   0x0AFFFFFC, 0xEE113E10, 0xEAFFFFFE};
  LoadArm(program, 7);
  PowerUp();
  ASSERT_TRUE(jtag_->SelectChain(2));
  const unsigned control = static_cast<unsigned>(IceRegister::CommsControl);
  const unsigned data = static_cast<unsigned>(IceRegister::CommsData);
  EXPECT_EQ(jtag_->IceRead(control) & 3u, 2u);  // W: the core has written
  EXPECT_EQ(jtag_->IceRead(data), 0x55u);
  EXPECT_EQ(jtag_->IceRead(control) & 3u, 0u);
  jtag_->IceWrite(data, 0x12345678);  // R for the core, which reads it and stops waiting
  EXPECT_EQ(jtag_->IceRead(control) & 3u, 0u);
  HaltByRequest();
  EXPECT_EQ(core_.Register(3), 0x12345678u);
  EXPECT_EQ(core_.Pc(), 0x18u);
}

// The core takes a word in its own time, which the TCK periods since pay: a
// word written while the last one waits is lost, not written over it.
TEST_P(DebugBench, CommsWordWaitingForTheCoreIsNotOverwritten) {
  Build();
  // 0x00 MOV r5, #0x10000; 0x04 SUBS r5, r5, #1; 0x08 BNE 0x04 (a delay);
  // 0x0C MRC p14, 0, r4, c0, c0; 0x10 TST r4, #1; 0x14 BEQ 0x0C;
  // 0x18 MRC p14, 0, r3, c1, c0; 0x1C B .
  const std::uint32_t program[] = {0xE3A05801, 0xE2555001, 0x1AFFFFFD, 0xEE104E10,
                                   0xE3140001, 0x0AFFFFFC, 0xEE113E10, 0xEAFFFFFE};
  LoadArm(program, 8);
  PowerUp();
  ASSERT_TRUE(jtag_->SelectChain(2));
  const unsigned control = static_cast<unsigned>(IceRegister::CommsControl);
  const unsigned data = static_cast<unsigned>(IceRegister::CommsData);
  jtag_->IceWrite(data, 0x11);
  jtag_->IceWrite(data, 0x22);  // the core is still in its delay
  EXPECT_EQ(Debug().Counters().comms_overruns, 1u);
  EXPECT_EQ(jtag_->IceRead(control) & 1u, 1u);
  // Each read clocks the TAP: the core runs out its delay and takes the word.
  int reads = 0;
  while ((jtag_->IceRead(control) & 1u) != 0 && reads < 100000) ++reads;
  EXPECT_GT(reads, 2);
  ASSERT_LT(reads, 100000);
  HaltByRequest();
  EXPECT_EQ(core_.Register(3), 0x11u);
  EXPECT_EQ(core_.Pc(), 0x1Cu);
}

// The sequences of a debugger that counts every pipeline advance between its
// register read and its resume, and undoes them with a computed PC write and
// the final branch.
TEST_P(DebugBench, CountedResumeReturnsToTheRegisterFilePc) {
  Build();
  LoadArm(kArmLoop, 4);
  // 0x18 MOV r5, #2; 0x1C ADD r5, r5, #1; 0x20 B .: where the core lands shows in r5.
  const std::uint32_t landing[] = {0xE3A05002, 0xE2855001, 0xEAFFFFFE};
  LoadArm(landing, 3, 0x18);
  PowerUp();
  // Halt at the next fetch: unit 0 matches any instruction fetch.
  Ice(IceRegister::Wp0AddressMask, 0xFFFFFFFF);
  Ice(IceRegister::Wp0DataMask, 0xFFFFFFFF);
  Ice(IceRegister::Wp0ControlMask, 0xFFFFFFF7);
  Ice(IceRegister::Wp0ControlValue, 0xFFFFFFF7);
  ASSERT_NE(Status() & debug_status::kDbgAck, 0u);
  Ice(IceRegister::Wp0ControlValue, 0xFFFFFEFF);
  std::uint32_t stopped_at = core_.Pc();
  std::uint32_t r1 = core_.Register(1);

  ASSERT_TRUE(jtag_->SelectChain(1));
  unsigned count = 0;  // pipeline advances since the register read began
  auto clock = [&](std::uint32_t word, bool counted, bool fast = false) {
    std::uint32_t in = jtag_->Chain1(word, fast);
    if (counted) ++count;
    return in;
  };
  clock(kStmdaAll, true);
  clock(0xE10F0000, true);  // MRS r0, CPSR
  clock(0xE5800000, false); // STR r0, [r0]
  std::array<std::uint32_t, 16> r{};
  for (auto& value : r) value = clock(kNop, false);
  std::uint32_t pc = r[15] - 24;
  EXPECT_EQ(pc, stopped_at);
  std::uint32_t saved_pc = pc;
  ++count;
  clock(kNop, true);
  clock(kNop, true);
  std::uint32_t cpsr = clock(kNop, false);
  EXPECT_EQ(cpsr & 0x1F, 0x13u);
  clock(0xE14F1000, false);  // MRS r1, SPSR
  clock(0xE5801000, true);   // STR r1, [r0]
  clock(kNop, true);
  clock(kNop, true);
  std::uint32_t spsr = clock(kNop, false);
  ++count;

  // Resume somewhere else, with registers changed.
  std::uint32_t resume_at = 0x1C;
  r[1] = r1 + 100;
  r[5] = 10;
  clock(0xE0400000, true);  // SUB r0, r0, r0
  clock(0xE5900000, true);  // LDR r0, [r0]
  clock(kNop, true);
  clock(kNop, false);
  unsigned c = count;
  ++count;
  clock(saved_pc + 4 * c - resume_at + 4, false);
  clock(kNop, false);
  clock(kNop, false);
  count = 0;
  clock(0xE04FF000, true);  // SUB pc, pc, r0
  clock(kNop, true);
  clock(kNop, true);
  clock(0xE0411001, true);  // SUB r1, r1, r1
  clock(0xE10F0000, true);  // MRS r0, CPSR
  // The Supervisor bank with its SPSR.
  clock(0xE3C0001F, true);  // BIC r0, r0, #0x1F
  clock(0xE3800013, true);  // ORR r0, r0, #0x13
  clock(0xE129F000, true);  // MSR CPSR_fc, r0
  clock(0xE8916000, true);  // LDMIA r1, {r13, r14}
  clock(kNop, true);
  clock(kNop, false);
  clock(r[13], false);
  clock(r[14], true);
  clock(kNop, false);
  clock(0xE0422002, true);  // SUB r2, r2, r2
  clock(0xE5921000, true);  // LDR r1, [r2]
  clock(kNop, true);
  clock(kNop, true);
  clock(spsr, false);
  clock(kNop, false);
  clock(0xE169F001, true);  // MSR SPSR_fc, r1
  clock(kNop, true);
  clock(kNop, true);
  // The mode, then the shared registers.
  clock(0xE3C0001F, true);
  clock(0xE3800013, true);
  clock(0xE129F000, true);
  clock(0xE8901FFF, true);  // LDMIA r0, {r0-r12}
  clock(kNop, true);
  clock(kNop, true);
  for (unsigned n = 0; n <= 12; ++n) clock(r[n], false);
  clock(kNop, false);
  clock(kNop, true);
  clock(kNop, false, true);
  ++count;
  int offset = -4 - static_cast<int>(count) - 1;
  clock(ArmBranch(offset), false);
  jtag_->Restart();
  EXPECT_EQ(Debug().LastEntry(), DebugEntry::Breakpoint);
  EXPECT_EQ(Status() & debug_status::kDbgAck, 0u);
  HaltByRequest();
  // Exactly the ADD at 0x1C ran, with the registers as written.
  EXPECT_EQ(core_.Register(5), 11u);
  EXPECT_EQ(core_.Pc(), 0x20u);
  EXPECT_EQ(core_.Register(1), r1 + 100);
  EXPECT_EQ(core_.Register(2), kData);
  EXPECT_EQ(core_.Spsr(Mode::Supervisor), spsr);
  EXPECT_EQ(core_.CurrentMode(), Mode::Supervisor);
}

TEST_P(DebugBench, StuckTdoReadsOnesEverywhere) {
  JtagSettings settings;
  settings.tdo_stuck = true;
  Build(settings);
  EXPECT_EQ(jtag_->IrScan(tap_instruction::kIdCode), 0xFu);
  EXPECT_EQ(jtag_->DrScan(0, 32), 0xFFFFFFFFu);
}

INSTANTIATE_TEST_SUITE_P(BothByteOrders, DebugBench,
                         ::testing::Values(ByteOrder::Little, ByteOrder::Big),
                         [](const auto& info) {
                           return info.param == ByteOrder::Little ? "Little" : "Big";
                         });

}  // namespace
}  // namespace simboard
