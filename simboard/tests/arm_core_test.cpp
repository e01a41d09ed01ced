// Behaviour of the ARMv4T core: instruction classes in both states and both
// byte orders with their flag results, modes and banks, exceptions, hooks.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "simboard/arm_core.h"
#include "simboard/tests/arm_test_support.h"

namespace simboard {
namespace {

using testing::Assemble;
using testing::RamBus;

constexpr std::uint32_t kRamBase = 0x00000000;
constexpr std::uint32_t kRamSize = 0x00010000;

// A board with RAM at 0 that runs an assembled program until it reaches the
// "done" label (an endless branch) or a budget runs out.
class CoreTest : public ::testing::TestWithParam<ByteOrder> {
 protected:
  CoreTest() : bus_(kRamBase, kRamSize, GetParam()), core_(bus_, CoreModel::ARM7TDMI, GetParam()) {}

  // Runs `body` from address 0x100 in the state the source selects with
  // .arm/.thumb; the program ends with a branch to itself at "done".
  void RunProgram(const std::string& body, std::uint64_t budget = 10000) {
    const std::string source = "\t.org 0x100\n" + body + "\ndone:\tb done\n";
    bus_.Load(0, Assemble(source, GetParam(), 0));
    core_.SetPc(0x100);
    for (std::uint64_t i = 0; i < budget; ++i) {
      const std::uint32_t pc = core_.Pc();
      const StepResult step = core_.Step();
      last_ = step;
      if (step.outcome == StepOutcome::Executed && step.pc_written && core_.Pc() == pc) return;
    }
    FAIL() << "program did not reach done";
  }

  std::uint32_t R(unsigned n) const { return core_.Register(n); }
  std::uint32_t Flags() const { return core_.Cpsr() >> 28; }

  RamBus bus_;
  ArmCore core_;
  StepResult last_;
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

INSTANTIATE_TEST_SUITE_P(ByteOrders, CoreTest,
                         ::testing::Values(ByteOrder::Little, ByteOrder::Big),
                         [](const auto& info) {
                           return info.param == ByteOrder::Little ? std::string("Little")
                                                                  : std::string("Big");
                         });

}  // namespace
}  // namespace simboard
