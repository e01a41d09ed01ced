// The ARM9 family's core access against a JTAG layer that decodes the 67-bit
// chain 1: the two access forms, where the system-speed flag and the data
// words go, and the run control that differs from the ARM7 family.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "drivers/core/arm9_core.h"
#include "drivers/core/testing/fake_jtag.h"

namespace drivers {
namespace {

using testing::Chain1Access;
using testing::FakeJtag;

constexpr std::uint32_t NOP = kArmNop;
constexpr std::uint32_t TNOP = kThumbNop;

std::vector<std::string> messages;
void Collect(std::int32_t, const char* text) { messages.push_back(text); }

class Arm9CoreTest : public ::testing::Test {
 protected:
  Arm9CoreTest()
      : core(&jtag, &state, Arm7Timing{50, 20, 255, 5, "Debug: image reg failed!!\n"}) {
    messages.clear();
    state.messenger.set_sink(Collect);
    jtag.ice[1] = kDebugAck | kDebugSystemDone;
  }
  // The data words that went in with the 67-bit form, in order.
  std::vector<std::uint32_t> DataWords() const {
    std::vector<std::uint32_t> words;
    for (const Chain1Access& a : jtag.chain1) {
      if (a.with_data) {
        EXPECT_TRUE(a.word == NOP || a.word == TNOP) << std::hex << a.word;
        words.push_back(a.data);
      }
    }
    return words;
  }
  std::vector<int> ControlWrites() const {
    std::vector<int> values;
    for (const auto& [address, value] : jtag.ice_writes) {
      EXPECT_EQ(address, kIceDebugControl) << "no watchpoint unit is used";
      values.push_back(static_cast<int>(value));
    }
    return values;
  }

  FakeJtag jtag;
  DriverState state;
  Arm9Core core;
};

TEST_F(Arm9CoreTest, ChainsAreSelectedWithFiveBitsAndTheIceMapIsTheArm7s) {
  ASSERT_TRUE(core.WriteIce(kIceUnit0 + kIceControlMask, 0xFFFFFFF7));
  EXPECT_EQ(jtag.scan_n_bits, 5);
  EXPECT_EQ(jtag.ice[13], 0xFFFFFFF7u);
}

// The address goes in as data beside a NOP; the access instruction follows
// two NOPs and the NOP after it runs at system speed; the value is the third
// NOP's capture after STR r0,[r0].
TEST_F(Arm9CoreTest, WordLoadPutsTheAddressOnTheDataBusAndReadsTheThirdNopAfterTheStore) {
  jtag.bus = {0xDEADBEEF};
  std::uint32_t value = 0;
  ASSERT_TRUE(core.Load(0x30000010, 4, &value, false));
  EXPECT_EQ(value, 0xDEADBEEFu);
  EXPECT_EQ(DataWords(), (std::vector<std::uint32_t>{0x30000010}));
  EXPECT_EQ(jtag.Words(), (std::vector<std::uint32_t>{0xE0400000, 0xE5900000, NOP, NOP, NOP, NOP, NOP,
                                                      0xE5900000, NOP, 0xE5800000, NOP, NOP, NOP,
                                                      NOP, NOP}));
  std::vector<bool> fast;
  for (const Chain1Access& a : jtag.chain1) fast.push_back(a.fast);
  EXPECT_TRUE(fast[8]);
  EXPECT_EQ(std::count(fast.begin(), fast.end(), true), 1);
  EXPECT_TRUE(jtag.chain1[12].capture);
  EXPECT_EQ(jtag.restarts, 1);
}

TEST_F(Arm9CoreTest, StoresAndBlockTransfersSendEveryWordAsData) {
  ASSERT_TRUE(core.Store(0x30000020, 2, 0xBEEF, false));
  EXPECT_EQ(DataWords(), (std::vector<std::uint32_t>{0x30000020, 0xBEEF}));
  jtag.chain1.clear();
  std::uint32_t words[12];
  for (int k = 0; k < 12; ++k) words[k] = 0x1000u + k;
  ASSERT_TRUE(core.BlockStore(0x30000100, words, 12, false));
  std::vector<std::uint32_t> expected(words, words + 12);
  expected.push_back(0x30000100);
  EXPECT_EQ(DataWords(), expected);
  jtag.chain1.clear();
  for (std::uint32_t k = 0; k < 8; ++k) jtag.bus.push_back(0xA0 + k);
  std::uint32_t read[8] = {};
  ASSERT_TRUE(core.BlockLoad(0x30000200, read, 8, false));
  EXPECT_EQ(read[0], 0xA0u);
  EXPECT_EQ(read[7], 0xA7u);
}

// ARM state: STMIA r0,{r0-r15}, and the PC runs 24 ahead whatever stopped
// the core; THUMB state: STMIA r0,{r1-r14} after the THUMB prologue, 18.
TEST_F(Arm9CoreTest, RegisterReadsUseTheUpwardStoresAndTheArm9PcCorrection) {
  for (int by_request : {0, 1}) {
    jtag.chain1.clear();
    jtag.bus = {0};  // the store itself: the watchpoint indicator's access
    for (std::uint32_t r = 0; r < 16; ++r) jtag.bus.push_back(r == 15 ? 0x30000100 : r);
    jtag.bus.push_back(0x600000D3);  // CPSR: supervisor
    jtag.bus.push_back(0x10);        // SPSR
    state.thumb = 0;
    state.entered_by_debug_request = by_request;
    ASSERT_TRUE(core.ReadRegisters());
    EXPECT_EQ(jtag.chain1[0].word, 0xE880FFFFu);
    EXPECT_EQ(state.regs[kPcIndex], 0x30000100u - 24);
  }
  jtag.chain1.clear();
  jtag.bus = {0, 7, 0x30000200, 0};  // indicator, R0, the PC, the store
  for (std::uint32_t r = 1; r <= 14; ++r) jtag.bus.push_back(r);
  jtag.bus.push_back(0x600000D3);
  jtag.bus.push_back(0x10);
  state.thumb = 1;
  ASSERT_TRUE(core.ReadRegisters());
  const auto words = jtag.Words();
  EXPECT_NE(std::find(words.begin(), words.end(), 0xE8807FFEu), words.end());
  EXPECT_EQ(state.regs[0], 7u);
  EXPECT_EQ(state.regs[kPcIndex], 0x30000200u - 18);
  EXPECT_EQ(state.regs[kCpsrIndex] & 0x20, 0x20u);
}

TEST_F(Arm9CoreTest, HaltRequestsDebugAndWaitsForTheSystemAccessToComplete) {
  // DBGACK without bit 3 is not "already stopped".
  jtag.status_script = {kDebugAck, 0, kDebugAck, kDebugAck | kDebugSystemDone};
  EXPECT_EQ(core.Halt(), kHalted);
  EXPECT_EQ(ControlWrites(), (std::vector<int>{6, 4}));
  EXPECT_EQ(jtag.idle_clocks, 1);
  EXPECT_EQ(messages, (std::vector<std::string>{"Debug: Waiting for stop 2 times.\n"}));
  EXPECT_EQ(state.entered_by_debug_request, 1);

  messages.clear();
  jtag.status_script = {kDebugAck | kDebugSystemDone};
  EXPECT_EQ(core.Halt(), kWasHalted);
  EXPECT_EQ(messages, (std::vector<std::string>{"Debug: CPU is already stoped!\n"}));

  messages.clear();
  jtag.status_script = {0};
  EXPECT_EQ(core.Halt(), kHaltFailed);
  EXPECT_EQ(messages, (std::vector<std::string>{"Debug: Waiting for stop 255 times.\n",
                                                "Debug: Debug request failed!!\n"}));
}

TEST_F(Arm9CoreTest, HaltNamesAFailedRegisterReadWhenTheModuleHasALineForIt) {
  jtag.status_script = {0, kDebugAck | kDebugSystemDone};
  jtag.fail_after_ir = 8;  // the chain selection of the register read fails
  EXPECT_EQ(core.Halt(), kHaltFailed);
  EXPECT_EQ(messages.back(), "Debug: image reg failed!!\n");
}

// The step is the core's own; a breakpoint unit matching the instruction
// being stepped would stop it before it executes, so enabled units are
// switched off for the step and given back their control values after it.
TEST_F(Arm9CoreTest, StepUsesTheCoresSingleStepBitWithTheUnitsQuiet) {
  state.regs[kCpsrIndex] = 0xD3;
  jtag.ice[kIceUnit0 + kIceControlValue] = 0x100;  // an execution breakpoint
  jtag.ice[kIceUnit1 + kIceControlValue] = 0x008;  // switched off already
  std::uint32_t at_restart[2] = {};
  jtag.on_restart = [&] {
    at_restart[0] = jtag.ice[kIceUnit0 + kIceControlValue];
    at_restart[1] = jtag.ice[kIceUnit1 + kIceControlValue];
  };
  jtag.status_script = {kDebugAck, 0, kDebugAck};
  ASSERT_TRUE(core.SingleStep());
  EXPECT_EQ(at_restart[0], 0u);
  EXPECT_EQ(at_restart[1], 0x008u);
  EXPECT_EQ(jtag.ice[kIceUnit0 + kIceControlValue], 0x100u);
  EXPECT_EQ(jtag.ice[kIceUnit1 + kIceControlValue], 0x008u);
  std::vector<std::uint32_t> control;
  for (const auto& [address, value] : jtag.ice_writes) {
    if (address == kIceDebugControl) control.push_back(value);
  }
  EXPECT_EQ(control, (std::vector<std::uint32_t>{12, 4}));
  EXPECT_EQ(messages, (std::vector<std::string>{"Debug: Waiting for stop 1 times.\n"}));
  EXPECT_EQ(state.entered_by_debug_request, 0);

  messages.clear();
  jtag.status_script = {0};
  EXPECT_FALSE(core.SingleStep());
  EXPECT_EQ(messages,
            (std::vector<std::string>{"Debug: Can not execute step command while CPU is running!\n"}));
}

// Resume sends the loaded banks, the current mode's registers, the PC and R0
// as data beside NOPs, then branches back at system speed.
TEST_F(Arm9CoreTest, ResumeSendsTheRegisterFileAsDataAndBranchesBackAtSystemSpeed) {
  for (int r = 0; r < kRegisterFileSize; ++r) state.regs[r] = 0x100u + r;
  state.regs[kPcIndex] = 0x30000400;
  state.regs[kCpsrIndex] = 0x600000D3;  // supervisor
  for (ModeRecord& m : state.modes) m.loaded = m.mode == kModeSupervisor;
  state.thumb = 0;
  ASSERT_TRUE(core.Resume());
  std::vector<std::uint32_t> expected = {0x100 + 25, 0x100 + 26, 0x100 + 27};  // R13, R14, SPSR_svc
  for (int r = 0; r <= 12; ++r) expected.push_back(0x100u + r);
  expected.push_back(0x30000400);
  expected.push_back(0x100);  // R0 again, after the branch
  EXPECT_EQ(DataWords(), expected);
  ASSERT_FALSE(jtag.chain1.empty());
  EXPECT_EQ(jtag.chain1[jtag.chain1.size() - 2].word, 0xE24FF014u);  // SUB pc,pc,#20
  EXPECT_TRUE(jtag.chain1.back().fast);
  EXPECT_EQ(jtag.irs.back(), kRestart);

  jtag.chain1.clear();
  state.thumb = 1;
  ASSERT_TRUE(core.Resume());
  EXPECT_EQ(jtag.chain1[jtag.chain1.size() - 2].word, 0xE7FAE7FAu);
  EXPECT_EQ(jtag.chain1.back().word, TNOP);
  EXPECT_TRUE(jtag.chain1.back().fast);
}

}  // namespace
}  // namespace drivers
