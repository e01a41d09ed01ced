#include <gtest/gtest.h>

#include <chrono>
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "drivers/core/arm7_core.h"
#include "drivers/core/testing/fake_jtag.h"

namespace drivers {
namespace {

using testing::FakeJtag;

constexpr std::uint32_t NOP = kArmNop;

std::vector<std::string> messages;
void Collect(std::int32_t kind, const char* text) {
  EXPECT_EQ(kind, 2048);
  messages.push_back(text);
}

class Arm7CoreTest : public ::testing::Test {
 protected:
  Arm7CoreTest() : core(&jtag, &state, Arm7Timing{50, 20, 255, 4}) {
    messages.clear();
    state.messenger.set_sink(Collect);
    jtag.ice[1] = kDebugAck;  // halted unless a test says otherwise
  }

  FakeJtag jtag;
  DriverState state;
  Arm7Core core;
};

TEST_F(Arm7CoreTest, IceRegistersGoThroughChainTwoWithTheReadWriteBit) {
  ASSERT_TRUE(core.WriteIce(kIceUnit1 + kIceControlValue, 0x12345678));
  EXPECT_EQ(jtag.ice[20], 0x12345678u);
  EXPECT_EQ(jtag.chain, 2);
  EXPECT_EQ(jtag.scan_n_bits, 4);
  EXPECT_EQ(jtag.irs, (std::vector<std::uint32_t>{kScanN, kIntest}));
  jtag.ice[9] = 0xCAFEF00D;
  std::uint32_t value = 0;
  ASSERT_TRUE(core.ReadIce(9, &value));
  EXPECT_EQ(value, 0xCAFEF00Du);
  jtag.broken = true;
  EXPECT_FALSE(core.ReadIce(9, &value));
  EXPECT_FALSE(core.WriteIce(9, 1));
}

// The host side of the debug comms channel: one write scan a word, the
// control read before the first and then every `check_every`; a word from
// the core stops the writing, a core that does not take the last word
// holds it up for a bounded time.
TEST_F(Arm7CoreTest, CommsWritesCheckTheControlEveryNWords) {
  std::vector<std::uint32_t> words(600);
  for (std::uint32_t k = 0; k < words.size(); ++k) words[k] = 0xA0000000 + k;
  struct Case {
    std::uint32_t control;
    std::uint32_t check_every;
    std::uint32_t written;
    bool status_read;
    int control_reads;
  };
  for (const Case& c :
       {Case{0, 256, 600, false, 3}, Case{0, 0, 600, false, 1},
        Case{kCommsFromCoreFull, 256, 0, true, 1}, Case{kCommsToCoreFull, 256, 0, false, -1}}) {
    jtag.ice_writes.clear();
    jtag.ice_reads = 0;
    jtag.ice[kIceCommsControl] = c.control;
    jtag.ice[kIceCommsData] = 0x1;
    CommsProgress progress;
    const auto started = std::chrono::steady_clock::now();
    ASSERT_TRUE(core.WriteComms(words.data(), 600, c.check_every, &progress));
    EXPECT_EQ(progress.written, c.written) << c.control;
    EXPECT_EQ(progress.status_read, c.status_read) << c.control;
    EXPECT_EQ(progress.status, c.status_read ? 1u : 0u);
    std::vector<std::uint32_t> sent;
    for (const auto& write : jtag.ice_writes) {
      EXPECT_EQ(write.first, kIceCommsData);
      sent.push_back(write.second);
    }
    EXPECT_EQ(sent, std::vector<std::uint32_t>(words.begin(), words.begin() + c.written));
    // Reads: the control at each check, and the core's word when there is one.
    if (c.control_reads >= 0) {
      EXPECT_EQ(jtag.ice_reads, c.control_reads + (c.status_read ? 1 : 0)) << c.control;
    } else {
      EXPECT_GE(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(15));
    }
  }
  jtag.broken = true;
  CommsProgress progress;
  EXPECT_FALSE(core.WriteComms(words.data(), 1, 1, &progress));
}

TEST_F(Arm7CoreTest, IdcodeNeedsBitZeroAndAHealthyIr) {
  jtag.idcode = 0x3F0F0F0F;
  EXPECT_EQ(core.ReadIdcode(), 0x3F0F0F0Fu);
  jtag.idcode = 0xFFFFFFFE;
  EXPECT_EQ(core.ReadIdcode(), 0u);
  jtag.idcode = 0x3F0F0F0F;
  jtag.broken = true;
  EXPECT_EQ(core.ReadIdcode(), 0u);
}

TEST_F(Arm7CoreTest, WordLoadFeedsTheAddressThenReadsTheValueAfterRestart) {
  // The captured access is the third NOP after the STR once the core is back.
  jtag.bus = {0xA5A5F00D};
  std::uint32_t value = 0;
  ASSERT_TRUE(core.Load(0x40001000, 4, &value));
  EXPECT_EQ(value, 0xA5A5F00Du);
  const std::vector<std::uint32_t> expected = {
      0xE0400000, 0xE5900000, NOP, NOP, 0x40001000, NOP, NOP, NOP, 0xE5900000,
      0xE5800000, NOP, NOP, NOP, NOP, NOP};
  EXPECT_EQ(jtag.Words(), expected);
  for (std::size_t i = 0; i < jtag.chain1.size(); ++i) {
    EXPECT_EQ(jtag.chain1[i].fast, i == 7) << i;
    EXPECT_EQ(jtag.chain1[i].capture, i == 12) << i;
  }
  EXPECT_EQ(jtag.restarts, 1);
  EXPECT_EQ(jtag.idle_clocks, 1);
  // 6 marked advances before RESTART, 4 for the system-speed access, 5 after.
  EXPECT_EQ(state.cycle_counter, 6 + 4 + 5);
}

TEST_F(Arm7CoreTest, LoadsAndStoresRefuseBadWidthsOddHalfwordsAndARunningCore) {
  std::uint32_t value = 0;
  EXPECT_FALSE(core.Load(0x1001, 2, &value));
  EXPECT_FALSE(core.Store(0x1001, 2, 0));
  EXPECT_FALSE(core.Load(0x1000, 3, &value));
  EXPECT_TRUE(jtag.irs.empty()) << "refused without any scan";

  jtag.ice[1] = 0;  // running
  EXPECT_FALSE(core.Load(0x1000, 1, &value));
  EXPECT_FALSE(core.Store(0x1000, 4, 0));
  std::uint32_t words[12] = {};
  EXPECT_FALSE(core.BlockLoad(0x1000, words, 8));
  EXPECT_FALSE(core.BlockStore(0x1000, words, 12));
  EXPECT_EQ(messages, (std::vector<std::string>{
                          "Debug: Can not execute READ_MEMORY command while CPU is running!\n",
                          "Debug: Can not execute write memory command while CPU is running!\n",
                          "Debug: Can not execute dump memblock command while CPU is running!\n",
                          "Debug: Can not execute fill memblock command while CPU is running!\n"}));
  EXPECT_TRUE(jtag.chain1.empty());
}

TEST_F(Arm7CoreTest, ByteStoreLoadsAddressAndValueThenStoresAtSystemSpeed) {
  ASSERT_TRUE(core.Store(0x2003, 1, 0x5A));
  const std::vector<std::uint32_t> expected = {0xE8900003, NOP, NOP, 0x2003, 0x5A,
                                               NOP,        NOP, NOP, 0xE5C01000};
  EXPECT_EQ(jtag.Words(), expected);
  EXPECT_TRUE(jtag.chain1[7].fast);
  EXPECT_EQ(jtag.restarts, 1);
  ASSERT_TRUE(core.Store(0x2002, 2, 0xBEEF));
  EXPECT_EQ(jtag.Words().back(), 0xE1C010B0u);
}

TEST_F(Arm7CoreTest, BlockTransfersComeInGroupsOfEightAndTwelve) {
  std::uint32_t words[24] = {};
  EXPECT_FALSE(core.BlockLoad(0x3000, words, 12));
  EXPECT_FALSE(core.BlockStore(0x3000, words, 8));
  EXPECT_TRUE(jtag.chain1.empty());

  for (std::uint32_t k = 0; k < 16; ++k) jtag.bus.push_back(0x100 + k);
  ASSERT_TRUE(core.BlockLoad(0x3000, words, 16));
  for (std::uint32_t k = 0; k < 16; ++k) EXPECT_EQ(words[k], 0x100 + k);
  std::vector<std::uint32_t> addresses;
  const auto fed = jtag.Words();
  for (std::size_t i = 0; i < fed.size(); ++i) {
    if (fed[i] == 0xE89000FF) addresses.push_back(fed[i - 4]);
  }
  EXPECT_EQ(addresses, (std::vector<std::uint32_t>{0x3000, 0x3020}));
  EXPECT_EQ(jtag.restarts, 2);

  jtag.chain1.clear();
  for (std::uint32_t k = 0; k < 24; ++k) words[k] = 0xD000 + k;
  ASSERT_TRUE(core.BlockStore(0x4000, words, 24));
  const auto stored = jtag.Words();
  EXPECT_EQ(stored.front(), 0xE0400000u) << "r0 cleared once, before the first group";
  int clears = 0;
  std::vector<std::uint32_t> bases;
  for (std::size_t i = 0; i < stored.size(); ++i) {
    clears += stored[i] == 0xE0400000;
    if (stored[i] == 0xE8903FFE) {
      EXPECT_EQ(stored[i + 3], 0xD000u + 12 * bases.size());  // first of the 12 words
      bases.push_back(stored[i + 15]);                       // r13 after r1..r12
    }
  }
  EXPECT_EQ(clears, 1);
  EXPECT_EQ(bases, (std::vector<std::uint32_t>{0x4000, 0x4030}));
}

// The captured values of an ARM-state register read, in capture order.
void ScriptArmRead(FakeJtag& jtag, std::uint32_t cpsr, std::uint32_t pc, std::uint32_t spsr) {
  jtag.bus.push_back(0);  // the STM itself
  for (std::uint32_t r = 0; r < 15; ++r) jtag.bus.push_back(0x1000 + r);
  jtag.bus.push_back(pc);
  jtag.bus.push_back(cpsr);
  jtag.bus.push_back(spsr);
}

TEST_F(Arm7CoreTest, ArmRegisterReadCorrectsThePcAndFillsTheCurrentBank) {
  ScriptArmRead(jtag, 0x600000D3, 0x8118, 0x10);
  jtag.breakpt = 1;
  state.modes[4].loaded = true;  // irq from an earlier halt
  ASSERT_TRUE(core.ReadRegisters());
  EXPECT_EQ(state.watchpoint_hit, 1);
  EXPECT_EQ(state.regs[0], 0x1000u);
  EXPECT_EQ(state.regs[14], 0x100Eu);
  EXPECT_EQ(state.regs[15], 0x8118u - 24);
  EXPECT_EQ(state.saved_pc, 0x8100u);
  EXPECT_EQ(state.regs[16], 0x600000D3u);
  EXPECT_EQ(state.regs[25], 0x100Du);  // R13_svc
  EXPECT_EQ(state.regs[26], 0x100Eu);  // R14_svc
  EXPECT_EQ(state.regs[27], 0x10u);    // SPSR_svc
  EXPECT_TRUE(state.modes[2].loaded);
  EXPECT_FALSE(state.modes[4].loaded);
  EXPECT_FALSE(state.modes[0].loaded);
  EXPECT_EQ(jtag.Words()[0], 0xE800FFFFu);

  state.entered_by_debug_request = 1;
  ScriptArmRead(jtag, 0x1F, 0x8118, 0);
  ASSERT_TRUE(core.ReadRegisters());
  EXPECT_EQ(state.regs[15], 0x8118u - 20);
  EXPECT_TRUE(state.modes[0].loaded) << "system mode uses the user bank";
  EXPECT_EQ(state.regs[8], 0x1008u);
}

TEST_F(Arm7CoreTest, ThumbRegisterReadSavesR0AndPcFirstAndMarksTheState) {
  state.thumb = 1;
  jtag.bus = {0, 0xAAAA0000, 0x2010};  // STR, R0, PC
  jtag.bus.push_back(0);               // STMDA r0,{r1-r14}
  for (std::uint32_t r = 1; r <= 14; ++r) jtag.bus.push_back(0x2000 + r);
  jtag.bus.push_back(0x10);  // CPSR: user
  ASSERT_TRUE(core.ReadRegisters());
  EXPECT_EQ(state.regs[0], 0xAAAA0000u);
  EXPECT_EQ(state.regs[1], 0x2001u);
  EXPECT_EQ(state.regs[14], 0x200Eu);
  EXPECT_EQ(state.regs[15], 0x2010u - 16);
  EXPECT_EQ(state.regs[16], 0x30u);
  const auto words = jtag.Words();
  EXPECT_EQ(words[0], 0x60006000u);
  EXPECT_EQ(words[4], 0x46784678u);
  EXPECT_EQ(words[9], 0x47784778u);
  EXPECT_EQ(words[12], 0xE8007FFEu);
}

TEST_F(Arm7CoreTest, ResumeMovesThePcAndBranchesBackOverEveryFedInstruction) {
  state.regs[16] = 0x10;  // user mode, only its own bank loaded
  state.modes[0].loaded = true;
  for (int r = 0; r < 15; ++r) state.regs[r] = 0x500 + static_cast<std::uint32_t>(r);
  state.regs[15] = 0x8000;
  state.saved_pc = 0x8100;
  state.cycle_counter = 3;
  ASSERT_TRUE(core.Resume());
  const auto words = jtag.Words();
  // The distance SUB pc,pc,r0 takes off, counting the three advances just fed.
  EXPECT_EQ(words[4], 0x8100u + 4 * (3 + 3) - 0x8000u + 4);
  // LDMIA r0,{r0-r7} of the user mode, then its eight values.
  std::size_t shared = 0;
  for (std::size_t i = 0; i < words.size(); ++i) {
    if (words[i] == 0xE89000FF) shared = i;
  }
  ASSERT_NE(shared, 0u);
  for (std::uint32_t r = 0; r < 8; ++r) EXPECT_EQ(words[shared + 3 + r], 0x500 + r);
  // Nineteen marked advances since the PC was set, one more for a
  // breakpoint entry, four for the pipeline: B -24.
  EXPECT_EQ(words.back(), 0xEAFFFFE8u);
  EXPECT_TRUE(jtag.chain1[words.size() - 2].fast);
  EXPECT_EQ(jtag.irs.back(), kRestart);
  EXPECT_EQ(jtag.idle_clocks, 1);
  EXPECT_EQ(state.cycle_counter, 0);
  EXPECT_EQ(state.entered_by_debug_request, 0);
}

TEST_F(Arm7CoreTest, ResumeRestoresEveryLoadedBankAndFailsWithoutIntest) {
  state.regs[16] = 0x13;  // supervisor
  state.modes[2].loaded = true;
  state.modes[4].loaded = true;  // irq
  state.regs[31] = 0x31;
  state.regs[32] = 0x32;
  state.regs[33] = 0x33;
  ASSERT_TRUE(core.Resume());
  const auto words = jtag.Words();
  std::vector<std::uint32_t> set_modes;
  for (std::size_t i = 0; i + 1 < words.size(); ++i) {
    if (words[i] == 0xE3C0001F && (words[i + 1] & 0xFFFFFF00) == 0xE3800000) {
      set_modes.push_back(words[i + 1] & 0x1F);
    }
  }
  EXPECT_EQ(set_modes, (std::vector<std::uint32_t>{0x13, 0x12, 0x13}));
  std::size_t irq_bank = 0;
  for (std::size_t i = 0; i < words.size(); ++i) {
    if (words[i] == 0xE8916000) irq_bank = i;  // the last one: irq
  }
  EXPECT_EQ(words[irq_bank + 3], 0x31u);
  EXPECT_EQ(words[irq_bank + 4], 0x32u);
  EXPECT_EQ(words[irq_bank + 10], 0x33u) << "SPSR after SUB r2, LDR r1,[r2] and two NOPs";
  EXPECT_EQ(words.back() & 0xFF000000, 0xEA000000u);

  jtag.broken = true;
  EXPECT_FALSE(core.Resume());
  EXPECT_EQ(messages.back(), "Debug: Failed to run INTEST instruction!!\n");
}

TEST_F(Arm7CoreTest, ThumbHaltOffAWordBoundaryResumesAtTheSameInstruction) {
  // Halted at 0x100E: the BX pc of the register read runs from a halfword
  // position, so the core's ARM-state PC lost bit 1.
  state.thumb = 1;
  jtag.bus = {0, 0x0, 0x100E + 16};
  jtag.bus.push_back(0);
  for (int r = 1; r <= 14; ++r) jtag.bus.push_back(0);
  jtag.bus.push_back(0x10);
  ASSERT_TRUE(core.ReadRegisters());
  ASSERT_EQ(state.regs[15], 0x100Eu);
  EXPECT_EQ(state.pc_alignment_loss, 2u);
  const int c = state.cycle_counter;
  jtag.chain1.clear();
  ASSERT_TRUE(core.Resume());
  EXPECT_EQ(jtag.Words()[4], 0x100Eu - 2 + 4u * static_cast<std::uint32_t>(c + 3) - 0x100E + 4);
  const std::uint32_t misaligned_branch = jtag.Words().back();

  // The branch back makes up for a target PC off a word boundary.
  state.pc_alignment_loss = 0;
  state.regs[15] = 0x1010;
  state.cycle_counter = c;
  jtag.chain1.clear();
  ASSERT_TRUE(core.Resume());
  EXPECT_EQ((misaligned_branch & 0x7FF) - (jtag.Words().back() & 0x7FF), 1u);

  // Aligned halts and ARM state need no adjustment.
  state.thumb = 0;
  ScriptArmRead(jtag, 0x10, 0x100E + 24, 0);
  ASSERT_TRUE(core.ReadRegisters());
  EXPECT_EQ(state.pc_alignment_loss, 0u);
}

TEST_F(Arm7CoreTest, ThumbResumeBranchesInThumbState) {
  state.thumb = 1;
  state.regs[16] = 0x30;
  state.modes[0].loaded = true;
  state.regs[0] = 0xFEED;
  ASSERT_TRUE(core.Resume());
  const auto words = jtag.Words();
  const std::uint32_t branch = words.back();
  EXPECT_EQ(branch & 0xF800F800, 0xE000E000u) << "THUMB B in both halfwords";
  EXPECT_EQ(branch >> 16, branch & 0xFFFF);
  EXPECT_EQ(words[words.size() - 5], 0xFEEDu) << "R0 loaded again after the BX";
  EXPECT_TRUE(jtag.chain1[words.size() - 2].fast);
}

TEST_F(Arm7CoreTest, HaltOnTheFirstPollUsesUnitZeroAndRestoresIt) {
  jtag.ice[8] = 0x11;
  jtag.ice[12] = 0x22;
  jtag.status_script = {0, kDebugAck};
  ScriptArmRead(jtag, 0xD3, 0x8018, 0);
  EXPECT_EQ(core.Halt(), kHalted);
  EXPECT_TRUE(messages.empty());
  EXPECT_EQ(state.entered_by_debug_request, 0);
  EXPECT_EQ(state.regs[15], 0x8000u);
  EXPECT_EQ(jtag.ice[8], 0x11u);
  EXPECT_EQ(jtag.ice[12], 0x22u);
  bool caught = false;
  for (const auto& [reg, value] : jtag.ice_writes) caught |= reg == 12 && value == 0xFFFFFFF7;
  EXPECT_TRUE(caught);
}

TEST_F(Arm7CoreTest, HaltCountsMissedPollsAndFallsBackToADebugRequest) {
  jtag.status_script = {0, 0, 0, 0, kDebugAck};
  ScriptArmRead(jtag, 0xD3, 0x8018, 0);
  EXPECT_EQ(core.Halt(), kHalted);
  EXPECT_EQ(messages, (std::vector<std::string>{"Debug: Waiting for stop 3 times.\n"}));

  messages.clear();
  jtag.ice_writes.clear();
  jtag.status_script.assign(1 + 255, 0);
  jtag.status_script.push_back(kDebugAck | kDebugThumb);
  jtag.bus = {0, 0, 0x8010};
  EXPECT_EQ(core.Halt(), kHalted);
  EXPECT_EQ(state.entered_by_debug_request, 1);
  EXPECT_EQ(state.thumb, 1);
  EXPECT_EQ(state.regs[15], 0x8010u - 14);
  bool requested = false;
  for (const auto& [reg, value] : jtag.ice_writes) requested |= reg == 0 && value == 6;
  EXPECT_TRUE(requested);

  messages.clear();
  EXPECT_EQ(core.Halt(), kWasHalted);
  EXPECT_EQ(messages, (std::vector<std::string>{"Debug: CPU is already stoped!\n"}));

  messages.clear();
  jtag.status_script.assign(1, 0);  // never halts
  EXPECT_EQ(core.Halt(), kHaltFailed);
  EXPECT_EQ(messages.back(), "Debug: Debug request failed!!\n");
}

TEST_F(Arm7CoreTest, StepNeedsAHaltedCoreAndArmsBothUnits) {
  jtag.ice[1] = 0;
  EXPECT_FALSE(core.SingleStep());
  EXPECT_EQ(messages.back(), "Debug: Can not execute step command while CPU is running!\n");

  jtag.ice[1] = kDebugAck;
  jtag.ice[16] = 0x77;
  state.regs[16] = 0x13;
  state.regs[15] = 0x9000;
  state.modes[2].loaded = true;
  ASSERT_TRUE(core.SingleStep());
  bool unit1_at_pc = false;
  for (const auto& [reg, value] : jtag.ice_writes) unit1_at_pc |= reg == 16 && value == 0x9000;
  EXPECT_TRUE(unit1_at_pc);
  EXPECT_EQ(jtag.ice[16], 0x77u) << "unit 1 restored";
  EXPECT_EQ(jtag.ice[8 + 4], 0u) << "unit 0 restored";
}

TEST_F(Arm7CoreTest, ResetCatchKeepsPcZeroWhenTheCoreNeverHalts) {
  jtag.ice[1] = 0;
  jtag.ice[12] = 0xABC;
  state.regs[15] = 0x1234;
  EXPECT_TRUE(core.ResetAndCatch());
  EXPECT_EQ(jtag.reset_pulses, 1);
  EXPECT_GE(jtag.tap_resets, 1);
  EXPECT_EQ(state.regs[15], 0u);
  EXPECT_EQ(jtag.ice[12], 0xABCu);

  // Caught: the register read runs in ARM state.
  jtag.on_reset = [&] { jtag.ice[1] = kDebugAck | kDebugThumb; };
  state.thumb = 1;
  ScriptArmRead(jtag, 0xD3, 0x18, 0);
  EXPECT_TRUE(core.ResetAndCatch());
  EXPECT_EQ(state.thumb, 0);
  EXPECT_EQ(state.regs[15], 0u);
  EXPECT_EQ(state.regs[16], 0xD3u);
}

// A core that never halts: every wait gives up at the poll after the cancel
// request, where it would otherwise poll on to its full count or time.
TEST_F(Arm7CoreTest, EveryWaitGivesUpOnceCancelled) {
  struct Wait {
    const char* name;
    std::deque<std::uint32_t> status;    // the debug status reads, the last kept
    std::function<bool(Arm7Core&)> run;  // true: the call succeeded
  };
  const std::vector<Wait> waits = {
      {"halt", {0}, [](Arm7Core& c) { return c.Halt() != kHaltFailed; }},
      // Halted for the step's own check, then running for good.
      {"step", {kDebugAck, 0}, [](Arm7Core& c) { return c.SingleStep(); }},
      {"reset catch", {0}, [](Arm7Core& c) { return c.ResetAndCatch(); }},
  };
  Arm7Core slow(&jtag, &state, Arm7Timing{0, 60000, 100000, 4});
  for (const Wait& wait : waits) {
    SCOPED_TRACE(wait.name);
    state.waits_cancelled = false;
    jtag.status_script = wait.status;
    jtag.keep_last_status = true;
    jtag.status_reads = 0;
    jtag.on_status_read = [&] {
      if (jtag.status_reads == 5) state.waits_cancelled = true;
    };
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(wait.run(slow));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(200));
    EXPECT_LE(jtag.status_reads, 7);
    for (const std::string& line : messages) EXPECT_NE(line, "Debug: Debug request failed!!\n");
    messages.clear();
  }
  jtag.on_status_read = nullptr;
  jtag.keep_last_status = false;
}

}  // namespace
}  // namespace drivers
