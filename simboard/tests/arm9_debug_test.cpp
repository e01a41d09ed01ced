// The ARM9TDMI / ARM920T debug logic driven over JTAG as a debugger drives
// it: the 5-bit scan chain select, the 67-bit chain 1 and the five-stage
// pipeline (store data on the third scan after the store, load data on the
// third scan after the load, multi-cycle instructions and the load-use
// interlock holding the pipeline), system-speed accesses, the resume branch,
// single step, watchpoints, vector catch and the ARM920T's CP15 on chain 15.
#include <gtest/gtest.h>

#include <array>

#include "simboard/debug/arm920t_cp15.h"
#include "simboard/debug/arm9_debug.h"
#include "simboard/core/arm_core.h"
#include "simboard/debug/jtag_side.h"
#include "simboard/tests/arm_test_support.h"
#include "simboard/tests/jtag_test_support.h"

namespace simboard {
namespace {

using testing::JtagMaster;
using testing::RamBus;

constexpr std::uint32_t kNop = 0xE1A00000;  // MOV r0, r0
constexpr std::uint32_t kData = 0x1000;     // where the loop stores its counter
constexpr unsigned kSelectBits = 5;

// 0x00 MOV r2, #0x1000; 0x04 ADD r1, r1, #1; 0x08 STR r1, [r2]; 0x0C B 0x04
const std::uint32_t kArmLoop[] = {0xE3A02A01, 0xE2811001, 0xE5821000, 0xEAFFFFFC};

class Arm9Bench : public ::testing::TestWithParam<ByteOrder> {
 protected:
  Arm9Bench() : bus_(0, 0x10000, GetParam()), core_(bus_, CoreModel::ARM9TDMI, GetParam()) {}

  void Build(DebugCore kind = DebugCore::ARM920T) {
    JtagSettings settings;
    settings.core = kind;
    settings.debug.run_budget = 1000;
    side_ = std::make_unique<JtagSide>(core_, bus_, settings);
    jtag_ = std::make_unique<JtagMaster>(*side_);
    jtag_->Reset();
  }
  void Load(const std::uint32_t* words, std::size_t count, std::uint32_t at = 0) {
    for (std::size_t i = 0; i < count; ++i)
      bus_.Poke(at + 4 * static_cast<std::uint32_t>(i), AccessSize::Word, words[i]);
  }
  void PowerUp() {
    side_->SetSystemReset(true);
    side_->SetSystemReset(false);
  }
  std::uint32_t Status() {
    EXPECT_TRUE(jtag_->SelectChain(2, kSelectBits));
    return jtag_->IceRead(static_cast<unsigned>(IceRegister::DebugStatus));
  }
  void Ice(IceRegister reg, std::uint32_t value) {
    ASSERT_TRUE(jtag_->SelectChain(2, kSelectBits));
    jtag_->IceWrite(static_cast<unsigned>(reg), value);
  }
  void HaltByRequest() {
    Ice(IceRegister::DebugControl, debug_control::kDbgRq | debug_control::kIntDis);
    ASSERT_EQ(Status() & (debug_status::kDbgAck | debug_status::kSysComp),
              debug_status::kDbgAck | debug_status::kSysComp);
    Ice(IceRegister::DebugControl, debug_control::kIntDis);
  }
  // One chain-1 scan; the captured data bus.
  std::uint32_t Scan(std::uint32_t instruction, std::uint32_t data = 0, bool sysspeed = false) {
    return arm9_chain1::Data(jtag_->Arm9Chain1(instruction, data, sysspeed));
  }
  // STMIA r0, {r0-r15}; MRS r0, CPSR; STR r0, [r0]: R0..R15 on the 4th to
  // 19th scans, the CPSR three scans later (the STM holds the pipeline for
  // sixteen cycles, the MRS for two).
  std::array<std::uint32_t, 17> ReadRegisters(bool* watchpoint = nullptr) {
    EXPECT_TRUE(jtag_->SelectChain(1, kSelectBits));
    ScanBits first = jtag_->Arm9Chain1(0xE880FFFF);
    if (watchpoint) *watchpoint = arm9_chain1::Bit(first, arm9_chain1::kSysSpeed);
    Scan(0xE10F0000);
    Scan(0xE5800000);
    std::array<std::uint32_t, 17> r{};
    for (unsigned i = 0; i < 16; ++i) r[i] = Scan(kNop);
    Scan(kNop);
    Scan(kNop);
    r[16] = Scan(kNop);
    return r;
  }
  // A system-speed load: r0 := address at debug speed, then the load with
  // SYSSPEED on the NOP behind it, RESTART, and STR r0 with its word on the
  // third NOP.
  std::uint32_t Read(std::uint32_t address, std::uint32_t load = 0xE5900000) {
    EXPECT_TRUE(jtag_->SelectChain(1, kSelectBits));
    Scan(0xE0400000);  // SUB r0, r0, r0
    Scan(0xE5900000);  // LDR r0, [r0]
    Scan(kNop);
    Scan(kNop);
    Scan(kNop, address);
    Scan(load);
    Scan(kNop, 0, true);
    jtag_->Restart();
    EXPECT_EQ(Status() & (debug_status::kDbgAck | debug_status::kSysComp),
              debug_status::kDbgAck | debug_status::kSysComp);
    EXPECT_TRUE(jtag_->SelectChain(1, kSelectBits));
    Scan(0xE5800000);  // STR r0, [r0]
    Scan(kNop);
    Scan(kNop);
    return Scan(kNop);
  }
  void Write(std::uint32_t address, std::uint32_t value, std::uint32_t store = 0xE5801000) {
    ASSERT_TRUE(jtag_->SelectChain(1, kSelectBits));
    Scan(0xE8900003);  // LDMIA r0, {r0, r1}
    Scan(kNop);
    Scan(kNop);
    Scan(kNop, address);
    Scan(kNop, value);
    Scan(store);
    Scan(kNop, 0, true);
    jtag_->Restart();
  }
  // The resume: r0 := pc by a load, MOV pc, r0; then R0 back by a load and
  // SUB pc, pc, #20 with SYSSPEED on the NOP behind it.
  void Resume(std::uint32_t pc, std::uint32_t r0) {
    ASSERT_TRUE(jtag_->SelectChain(1, kSelectBits));
    Scan(0xE0400000);
    Scan(0xE5900000);
    Scan(kNop);
    Scan(kNop);
    Scan(kNop, pc);
    Scan(0xE1A0F000);  // MOV pc, r0
    Scan(kNop);
    Scan(kNop);
    Scan(0xE5900000);
    Scan(kNop);
    Scan(kNop);
    Scan(kNop, r0);
    Scan(0xE24FF014);  // SUB pc, pc, #20
    Scan(kNop, 0, true);
    jtag_->Restart();
  }

  RamBus bus_;
  ArmCore core_;
  std::unique_ptr<JtagSide> side_;
  std::unique_ptr<JtagMaster> jtag_;
};

TEST_P(Arm9Bench, ScanChainLengthsAndTheFiveBitSelect) {
  Build();
  ASSERT_EQ(jtag_->IrScan(tap_instruction::kScanN), kIrCaptureValue);
  EXPECT_EQ(jtag_->MeasureDr(), 5u);
  EXPECT_EQ(jtag_->DrScan(1, 5), 0b10000u);  // what Capture-DR loads under SCAN_N
  struct Case {
    unsigned chain;
    unsigned length;
  };
  for (Case c : {Case{1, 67}, Case{2, 38}, Case{15, 40}, Case{17, 1}}) {
    ASSERT_TRUE(jtag_->SelectChain(c.chain, kSelectBits));
    EXPECT_EQ(jtag_->MeasureDr(), c.length) << "chain " << c.chain;
  }
  // A bare ARM9TDMI has no chain 15.
  Build(DebugCore::ARM9TDMI);
  ASSERT_TRUE(jtag_->SelectChain(15, kSelectBits));
  EXPECT_EQ(jtag_->MeasureDr(), 1u);
}

TEST_P(Arm9Bench, RegistersReadThroughTheFiveStagePipeline) {
  Build();
  Load(kArmLoop, 4);
  PowerUp();
  EXPECT_EQ(Status() & debug_status::kDbgAck, 0u);
  HaltByRequest();
  std::uint32_t resume_at = core_.Pc();
  std::uint32_t r1 = core_.Register(1);
  std::uint32_t cpsr = core_.Cpsr();
  bool watchpoint = true;
  auto r = ReadRegisters(&watchpoint);
  EXPECT_FALSE(watchpoint);
  EXPECT_EQ(r[1], r1);
  EXPECT_EQ(r[2], kData);
  // Entry puts the first fetch three instructions past the one to resume
  // at; STM stores its own address + 12.
  EXPECT_EQ(r[15] - 24, resume_at);
  EXPECT_EQ(r[16], cpsr);
}

TEST_P(Arm9Bench, SystemSpeedReadsAndWritesAtEveryWidth) {
  Build();
  Load(kArmLoop, 4);
  PowerUp();
  HaltByRequest();
  bool big = GetParam() == ByteOrder::Big;
  Write(0x2000, 0x11223344);
  EXPECT_EQ(bus_.Peek(0x2000, AccessSize::Word), 0x11223344u);
  EXPECT_EQ(Read(0x2000), 0x11223344u);
  struct Case {
    std::uint32_t address, load;
    std::uint32_t expected_little, expected_big;
  };
  for (Case c : {Case{0x2001, 0xE5D00000, 0x33, 0x22},     // LDRB
                 Case{0x2002, 0xE1D000B0, 0x1122, 0x3344}}) {  // LDRH
    EXPECT_EQ(Read(c.address, c.load) & (c.load == 0xE5D00000 ? 0xFF : 0xFFFF),
              big ? c.expected_big : c.expected_little)
        << std::hex << c.address;
  }
  Write(0x2003, 0xA5, 0xE5C01000);    // STRB
  Write(0x2000, 0xBEEF, 0xE1C010B0);  // STRH
  EXPECT_EQ(bus_.Peek(0x2000, AccessSize::Word), big ? 0xBEEF33A5u : 0xA522BEEFu);
  EXPECT_EQ(side_->Debug().Counters().system_speed_accesses, 6u);
  EXPECT_EQ(side_->Debug().LastEntry(), DebugEntry::SystemSpeed);
}

TEST_P(Arm9Bench, BlockTransfersOfEightAndTwelveWords) {
  Build();
  Load(kArmLoop, 4);
  PowerUp();
  HaltByRequest();
  ASSERT_TRUE(jtag_->SelectChain(1, kSelectBits));
  // Twelve words: LDMIA r0, {r1-r13} takes them and the address, then
  // STMIA r13, {r1-r12} at system speed.
  Scan(0xE0400000);
  Scan(0xE8903FFE);
  Scan(kNop);
  Scan(kNop);
  for (std::uint32_t i = 0; i < 12; ++i) Scan(kNop, 0xA0000000u + i);
  Scan(kNop, 0x3000);
  Scan(0xE88D1FFE);
  Scan(kNop, 0, true);
  jtag_->Restart();
  for (std::uint32_t i = 0; i < 12; ++i)
    EXPECT_EQ(bus_.Peek(0x3000 + 4 * i, AccessSize::Word), 0xA0000000u + i);
  // Eight words: LDMIA r0, {r0-r7} at system speed, then STMIA r0, {r0-r7}
  // brings them out from the fourth scan on.
  ASSERT_TRUE(jtag_->SelectChain(1, kSelectBits));
  Scan(0xE0400000);
  Scan(0xE5900000);
  Scan(kNop);
  Scan(kNop);
  Scan(kNop, 0x3010);
  Scan(0xE89000FF);
  Scan(kNop, 0, true);
  jtag_->Restart();
  ASSERT_TRUE(jtag_->SelectChain(1, kSelectBits));
  Scan(0xE88000FF);
  Scan(kNop);
  Scan(kNop);
  for (std::uint32_t i = 0; i < 8; ++i) EXPECT_EQ(Scan(kNop), 0xA0000004u + i) << i;
}

TEST_P(Arm9Bench, ResumeRestoresThePcAndTheLoopGoesOn) {
  Build();
  Load(kArmLoop, 4);
  PowerUp();
  HaltByRequest();
  auto r = ReadRegisters();
  std::uint32_t pc = r[15] - 24;
  std::uint32_t count = r[1];
  Resume(pc, r[0]);
  EXPECT_FALSE(side_->Debug().InDebugState());
  EXPECT_EQ(Status() & debug_status::kDbgAck, 0u);
  HaltByRequest();
  auto after = ReadRegisters();
  EXPECT_GT(after[1], count + 100);
  std::uint32_t now_at = after[15] - 24;
  EXPECT_TRUE(now_at == 0x04 || now_at == 0x08 || now_at == 0x0C) << now_at;
  // Resuming elsewhere: the core runs from exactly that address.
  Resume(0x00, after[0]);
  HaltByRequest();
  EXPECT_EQ(ReadRegisters()[2], kData);
}

TEST_P(Arm9Bench, SingleStepRunsOneInstruction) {
  Build();
  Load(kArmLoop, 4);
  PowerUp();
  HaltByRequest();
  auto r = ReadRegisters();
  // From 0x04 (ADD r1): one step is one count, the PC moves to 0x08.
  Ice(IceRegister::DebugControl, debug_control::kIntDis | debug_control::kSingleStep);
  Resume(0x04, r[0]);
  EXPECT_NE(Status() & debug_status::kDbgAck, 0u);
  Ice(IceRegister::DebugControl, debug_control::kIntDis);
  auto after = ReadRegisters();
  EXPECT_EQ(after[1], r[1] + 1);
  EXPECT_EQ(after[15] - 24, 0x08u);
}

TEST_P(Arm9Bench, DataWatchpointLetsTheNextInstructionRun) {
  Build();
  Load(kArmLoop, 4);
  PowerUp();
  HaltByRequest();
  auto r = ReadRegisters();
  // A write watchpoint on the counter: the STR at 0x08 hits it, the branch
  // at 0x0C completes too, so the core resumes at 0x04.
  Ice(IceRegister::Wp0AddressValue, kData);
  Ice(IceRegister::Wp0AddressMask, 0);
  Ice(IceRegister::Wp0DataMask, 0xFFFFFFFF);
  Ice(IceRegister::Wp0ControlMask, 0xFF & ~(watch_control::kData | watch_control::kWrite));
  Ice(IceRegister::Wp0ControlValue, watch_control::kEnable | watch_control::kData |
                                        watch_control::kWrite);
  Resume(0x04, r[0]);
  ASSERT_NE(Status() & debug_status::kDbgAck, 0u);
  EXPECT_EQ(side_->Debug().LastEntry(), DebugEntry::Watchpoint);
  ASSERT_TRUE(jtag_->SelectChain(1, kSelectBits));
  bool watchpoint = false;
  auto hit = ReadRegisters(&watchpoint);
  EXPECT_TRUE(watchpoint);
  EXPECT_EQ(hit[15] - 24, 0x04u);
  // With a breakpoint on the branch as well, the branch does not run and
  // WPTANDBKPT says so.
  Ice(IceRegister::Wp1AddressValue, 0x0C);
  Ice(IceRegister::Wp1AddressMask, 0);
  Ice(IceRegister::Wp1DataMask, 0xFFFFFFFF);
  Ice(IceRegister::Wp1ControlMask, 0xFF & ~watch_control::kData);
  Ice(IceRegister::Wp1ControlValue, watch_control::kEnable);
  Resume(0x04, hit[0]);
  ASSERT_NE(Status() & debug_status::kDbgAck, 0u);
  ASSERT_TRUE(jtag_->SelectChain(1, kSelectBits));
  ScanBits first = jtag_->Arm9Chain1(0xE880FFFF);
  EXPECT_TRUE(arm9_chain1::Bit(first, arm9_chain1::kSysSpeed));
  EXPECT_TRUE(arm9_chain1::Bit(first, arm9_chain1::kWptAndBkpt));
}

TEST_P(Arm9Bench, BreakpointInstructionEntersDebugStateBeforeIt) {
  // As a debugger's own routine ends: 0x00 MOV r1, #1; 0x04 BKPT; 0x08 MOV
  // r1, #2; 0x0C B . The core stops at the BKPT, in its own mode, without an
  // undefined-instruction entry, and resumes there like at a breakpoint.
  Build();
  const std::uint32_t program[] = {0xE3A01001, 0xE1200070, 0xE3A01002, 0xEAFFFFFE};
  Load(program, 4);
  PowerUp();
  ASSERT_NE(Status() & debug_status::kDbgAck, 0u);
  EXPECT_EQ(side_->Debug().LastEntry(), DebugEntry::Breakpoint);
  auto r = ReadRegisters();
  EXPECT_EQ(r[1], 1u);
  EXPECT_EQ(r[15] - 24, 0x04u);
  EXPECT_EQ(r[16] & 0x1F, 0x13u);
  // Resumed past it, the program runs on to its end.
  Resume(0x08, r[0]);
  HaltByRequest();
  EXPECT_EQ(ReadRegisters()[1], 2u);
}

TEST_P(Arm9Bench, VectorCatchHaltsAtTheResetVector) {
  Build();
  Load(kArmLoop, 4);
  PowerUp();
  Ice(IceRegister::VectorCatch, 0x01);
  side_->SetSystemReset(true);
  side_->SetSystemReset(false);
  ASSERT_NE(Status() & debug_status::kDbgAck, 0u);
  auto r = ReadRegisters();
  EXPECT_EQ(r[15] - 24, 0u);
  EXPECT_EQ(r[16] & 0x1F, 0x13u);
}

TEST_P(Arm9Bench, Arm920tCp15ThroughScanChain15) {
  Build();
  Load(kArmLoop, 4);
  PowerUp();
  HaltByRequest();
  bool big = GetParam() == ByteOrder::Big;
  auto physical_read = [&](unsigned address) {
    EXPECT_TRUE(jtag_->SelectChain(15, kSelectBits));
    jtag_->DrScanWide(arm920t::Chain15Word(true, 0, address, false), kArm920tChain15Length);
    return arm920t::Chain15Data(
        jtag_->DrScanWide(arm920t::Chain15Word(true, 0, address, false), kArm920tChain15Length));
  };
  auto physical_write = [&](unsigned address, std::uint32_t value) {
    ASSERT_TRUE(jtag_->SelectChain(15, kSelectBits));
    jtag_->DrScanWide(arm920t::Chain15Word(true, value, address, true), kArm920tChain15Length);
  };
  EXPECT_EQ(physical_read(arm920t::kPhysId), 0x41129200u);
  EXPECT_EQ(physical_read(arm920t::kPhysCacheType), arm920t::kCacheType);
  // Reset: MMU and caches off, the byte order in bit 7.
  EXPECT_EQ(physical_read(arm920t::kPhysControl), big ? 0xF8u : 0x78u);
  physical_write(arm920t::kPhysControl, 0x1078);  // I-cache on
  EXPECT_EQ(core_.Cp15Control() & 0x1000u, 0x1000u);
  physical_write(arm920t::kPhysControl, 0x78);

  // Interpreted: MRC p15, 0, r0, c5, c0, 0 runs in place of a system-speed
  // STR while the test state's interpret bit is set.
  ASSERT_TRUE(side_->Debug().InDebugState());
  auto* cp15 = static_cast<Arm9DebugLogic&>(side_->Debug()).Cp15();
  ASSERT_NE(cp15, nullptr);
  ASSERT_TRUE(cp15->Write(0, 5, 0, 0, 0x000000F5));
  physical_write(arm920t::kPhysTestState, arm920t::kTestStateInterpret);
  ASSERT_TRUE(jtag_->SelectChain(15, kSelectBits));
  jtag_->DrScanWide(arm920t::Chain15Word(false, 0xEE150F10, 0, false), kArm920tChain15Length);
  ASSERT_TRUE(jtag_->SelectChain(1, kSelectBits));
  Scan(0xE5801000);
  Scan(kNop, 0, true);
  jtag_->Restart();
  physical_write(arm920t::kPhysTestState, 0);
  EXPECT_EQ(ReadRegisters()[0], 0xF5u);
}

INSTANTIATE_TEST_SUITE_P(ByteOrders, Arm9Bench,
                         ::testing::Values(ByteOrder::Little, ByteOrder::Big),
                         [](const auto& info) {
                           return info.param == ByteOrder::Little ? "Little" : "Big";
                         });

}  // namespace
}  // namespace simboard
