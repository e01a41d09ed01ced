// What the ARM7TDMI and ARM9TDMI do where the architecture leaves the result
// unpredictable but the chip does one thing every time, and code written on
// the chip relies on it: halfword loads from odd addresses, empty register
// lists, exception returns, loads into the PC and the 26-bit "P" compares in
// every mode, aborted load multiples, BKPT, and the CP15 each core answers.
// In the first table each row is one behaviour on one core and runs in all
// seven modes and both byte orders: a program starts at 0x100 with the
// registers and memory its row gives and runs until "done"; it reports
// through registers.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "simboard/core/arm_core.h"
#include "simboard/debug/arm920t_cp15.h"
#include "simboard/tests/arm_test_support.h"

namespace simboard {
namespace {

using testing::Assemble;
using testing::RamBus;

constexpr std::uint32_t kRamSize = 0x10000;
constexpr std::uint32_t kStart = 0x100;
// The CPSR each program starts with (N and C set, interrupts off) and the
// SPSR of its mode: Z and V set, System mode.
constexpr std::uint32_t kStartFlags = psr::kN | psr::kC | psr::kI | psr::kF;
constexpr std::uint32_t kSpsr = psr::kZ | psr::kV | psr::kI | psr::kF | 0x1F;

// What the CPSR holds afterwards.
enum class Status : std::uint8_t {
  Mode,        // the starting mode; the flags are the program's business
  SpsrOrKept,  // the SPSR where the mode has one, else the starting CPSR untouched
};

struct Value {
  unsigned reg;
  std::uint32_t little;
  std::uint32_t big;
};
Value Same(unsigned reg, std::uint32_t value) { return {reg, value, value}; }

struct Behaviour {
  const char* name;
  CoreModel model;
  bool thumb;
  std::string body;
  std::vector<std::pair<unsigned, std::uint32_t>> registers;   // before
  std::vector<std::pair<std::uint32_t, std::uint32_t>> words;  // memory before
  std::vector<Value> expected;
  Status status = Status::Mode;
};

// The word 0x8899AABB at 0x2000; halfword loads at 0x2001 and 0x2003, with
// immediate and register offsets.
constexpr const char* kOddHalfwordsArm = R"(
    ldrh r1, [r0, #1]
    ldrh r2, [r0, #3]
    ldrsh r3, [r0, #1]
    ldrsh r4, [r0, #3]
    mov r5, #3
    ldrh r6, [r0, r5]
)";
constexpr const char* kOddHalfwordsThumb = R"(
    movs r5, #1
    ldrh r1, [r0, r5]
    movs r5, #3
    ldrh r2, [r0, r5]
    movs r5, #1
    ldrsh r3, [r0, r5]
    movs r5, #3
    ldrsh r4, [r0, r5]
    ldrh r6, [r0, r5]
)";
const std::vector<std::pair<std::uint32_t, std::uint32_t>> kHalfwordData = {{0x2000, 0x8899AABB}};

// Empty lists at fixed addresses: STMIA r0!, {} at 0x100 stores 0x10C and
// moves r0 by 64; STMDB r1!, {} stores 0x110 at r1 - 64; LDMIA r3!, {}
// loads the PC (0x110) and skips the MOV.
constexpr const char* kEmptyListsArm = R"(
    .word 0xE8A00000
    .word 0xE9210000
    .word 0xE8B30000
    mov r5, #1
    ldr r6, =0x2040
    ldr r6, [r6]
    ldr r7, =0x2080
    ldr r7, [r7]
)";
// THUMB: STMIA r0!, {} at 0x100 stores 0x106; PUSH {} at 0x102 stores
// 0x108 and POP {} at 0x104 returns there; LDMIA r1!, {} at 0x108 loads
// 0x10E from 0x2200 and skips two MOVs.
constexpr const char* kEmptyListsThumb = R"(
    .short 0xC000
    .short 0xB400
    .short 0xBC00
    movs r5, #1
    .short 0xC900
    movs r5, #2
    movs r5, #3
    ldr r6, =0x2040
    ldr r6, [r6]
    ldr r7, =0x20C0
    ldr r7, [r7]
)";

// MOVS PC, LR at 0x100 returns to 0x10C ("done"), past two MOVs.
constexpr const char* kExceptionReturn = R"(
    movs pc, lr
    mov r5, #1
    mov r5, #2
)";

std::vector<Behaviour> Behaviours() {
  const auto odd_halfwords = [](CoreModel model, bool thumb) {
    Behaviour b{"",
                model,
                thumb,
                thumb ? kOddHalfwordsThumb : kOddHalfwordsArm,
                {{0, 0x2000}},
                kHalfwordData,
                {}};
    if (model == CoreModel::ARM7TDMI) {
      // The halfword rotated right by a byte; LDRSH: its bits 7:0
      // sign-extended (the addressed byte, little-endian).
      b.expected = {{1, 0xBB0000AA, 0x99000088},
                    {2, 0x99000088, 0xBB0000AA},
                    {3, 0xFFFFFFAA, 0xFFFFFF88},
                    {4, 0xFFFFFF88, 0xFFFFFFAA},
                    {6, 0x99000088, 0xBB0000AA}};
    } else {
      // Bit 0 ignored: the aligned halfword.
      b.expected = {{1, 0x0000AABB, 0x00008899},
                    {2, 0x00008899, 0x0000AABB},
                    {3, 0xFFFFAABB, 0xFFFF8899},
                    {4, 0xFFFF8899, 0xFFFFAABB},
                    {6, 0x00008899, 0x0000AABB}};
    }
    return b;
  };
  const auto empty_lists = [](CoreModel model, bool thumb) {
    if (thumb) {
      return Behaviour{"",
                       model,
                       true,
                       kEmptyListsThumb,
                       {{0, 0x2040}, {1, 0x2200}, {13, 0x2100}},
                       {{0x2200, 0x10E}},
                       {Same(0, 0x2080), Same(1, 0x2240), Same(13, 0x2100), Same(5, 0),
                        Same(6, 0x106), Same(7, 0x108)}};
    }
    return Behaviour{"",
                     model,
                     false,
                     kEmptyListsArm,
                     {{0, 0x2040}, {1, 0x20C0}, {3, 0x2100}},
                     {{0x2100, 0x110}},
                     {Same(0, 0x2080), Same(1, 0x2080), Same(3, 0x2140), Same(5, 0), Same(6, 0x10C),
                      Same(7, 0x110)}};
  };
  const auto exception_return = [](CoreModel model) {
    return Behaviour{
        "", model, false, kExceptionReturn, {{14, 0x10C}}, {}, {Same(5, 0)}, Status::SpsrOrKept};
  };
  // ARMv4T: a load into the PC never changes the state; the low bits of the
  // loaded address are dropped (LDR to 0x10C from 0x10D, POP to 0x106 from
  // 0x107).
  const auto load_pc = [](CoreModel model, bool thumb) {
    if (thumb) {
      return Behaviour{"",
                       model,
                       true,
                       "\tpop {pc}\n\tmovs r5, #1\n\tmovs r5, #2\n",
                       {{13, 0x2100}},
                       {{0x2100, 0x107}},
                       {Same(5, 0), Same(13, 0x2104)}};
    }
    return Behaviour{"",
                     model,
                     false,
                     "\tldr pc, [r0]\n\tmov r5, #1\n\tmov r5, #2\n",
                     {{0, 0x2100}},
                     {{0x2100, 0x10D}},
                     {Same(5, 0)}};
  };
  // TSTP/TEQP/CMPP/CMNP r0, r0 with r0 = 0: an ordinary compare would set Z.
  const auto p_compare = [](CoreModel model, std::uint32_t opcode) {
    return Behaviour{"",       model, false, "\t.word " + std::to_string(opcode) + "\n",
                     {{0, 0}}, {},    {},    Status::SpsrOrKept};
  };

  struct Named {
    const char* name;
    Behaviour behaviour;
  };
  std::vector<Named> rows;
  for (CoreModel model : {CoreModel::ARM7TDMI, CoreModel::ARM9TDMI}) {
    const bool arm7 = model == CoreModel::ARM7TDMI;
    rows.push_back(
        {arm7 ? "Arm7OddHalfwordLoads" : "Arm9OddHalfwordLoads", odd_halfwords(model, false)});
    rows.push_back({arm7 ? "Arm7ThumbOddHalfwordLoads" : "Arm9ThumbOddHalfwordLoads",
                    odd_halfwords(model, true)});
    rows.push_back(
        {arm7 ? "Arm7EmptyRegisterLists" : "Arm9EmptyRegisterLists", empty_lists(model, false)});
    rows.push_back({arm7 ? "Arm7ThumbEmptyRegisterLists" : "Arm9ThumbEmptyRegisterLists",
                    empty_lists(model, true)});
    rows.push_back({arm7 ? "Arm7MovsPcLr" : "Arm9MovsPcLr", exception_return(model)});
    rows.push_back({arm7 ? "Arm7LdrPcKeepsArm" : "Arm9LdrPcKeepsArm", load_pc(model, false)});
    rows.push_back({arm7 ? "Arm7PopPcKeepsThumb" : "Arm9PopPcKeepsThumb", load_pc(model, true)});
    rows.push_back({arm7 ? "Arm7Tstp" : "Arm9Tstp", p_compare(model, 0xE110F000)});
    rows.push_back({arm7 ? "Arm7Teqp" : "Arm9Teqp", p_compare(model, 0xE130F000)});
    rows.push_back({arm7 ? "Arm7Cmpp" : "Arm9Cmpp", p_compare(model, 0xE150F000)});
    rows.push_back({arm7 ? "Arm7Cmnp" : "Arm9Cmnp", p_compare(model, 0xE170F000)});
  }
  std::vector<Behaviour> table;
  for (Named& row : rows) {
    row.behaviour.name = row.name;
    table.push_back(std::move(row.behaviour));
  }
  return table;
}

const std::vector<Behaviour>& Table() {
  static const std::vector<Behaviour> table = Behaviours();
  return table;
}

constexpr Mode kModes[] = {Mode::User, Mode::System, Mode::Supervisor, Mode::Irq,
                           Mode::Fiq,  Mode::Abort,  Mode::Undefined};

const char* ModeName(Mode mode) {
  switch (mode) {
    case Mode::User:
      return "User";
    case Mode::System:
      return "System";
    case Mode::Supervisor:
      return "Supervisor";
    case Mode::Irq:
      return "Irq";
    case Mode::Fiq:
      return "Fiq";
    case Mode::Abort:
      return "Abort";
    case Mode::Undefined:
      return "Undefined";
  }
  return "";
}

bool HasSpsr(Mode mode) { return mode != Mode::User && mode != Mode::System; }

// Each program once per byte order: the assembler is the slow part.
const std::vector<std::uint8_t>& Program(const Behaviour& b, ByteOrder order) {
  static std::map<std::pair<std::string, ByteOrder>, std::vector<std::uint8_t>> cache;
  const std::string source = std::string("\t.org 0x100\n") + (b.thumb ? "\t.thumb\n" : "") +
                             "start:\n" + b.body + "\ndone:\tb done\n\t.ltorg\n";
  auto [it, fresh] = cache.try_emplace({source, order});
  if (fresh) it->second = Assemble(source, order, 0);
  return it->second;
}

using Param = std::tuple<std::size_t, Mode, ByteOrder>;

class SiliconBehaviour : public ::testing::TestWithParam<Param> {};

TEST_P(SiliconBehaviour, AsTheChipDoes) {
  const auto [row, mode, order] = GetParam();
  const Behaviour& b = Table()[row];
  RamBus bus(0, kRamSize, order);
  ArmCore core(bus, b.model, order);
  bus.Load(0, Program(b, order));
  for (const auto& [address, word] : b.words) bus.Poke(address, AccessSize::Word, word);
  const std::uint32_t start_cpsr = kStartFlags | static_cast<std::uint32_t>(mode);
  core.SetCpsr(start_cpsr);
  core.SetSpsr(mode, kSpsr);
  core.SetThumb(b.thumb);
  for (const auto& [reg, value] : b.registers) core.SetRegister(reg, value);
  core.SetPc(kStart);
  bool done = false;
  for (int i = 0; i < 100 && !done; ++i) {
    const std::uint32_t pc = core.Pc();
    const StepResult step = core.Step();
    ASSERT_EQ(step.outcome, StepOutcome::Executed) << "at 0x" << std::hex << step.address;
    done = step.pc_written && core.Pc() == pc;
  }
  ASSERT_TRUE(done) << "the program did not reach done";
  for (const Value& v : b.expected) {
    EXPECT_EQ(core.Register(v.reg), order == ByteOrder::Little ? v.little : v.big) << "r" << v.reg;
  }
  const std::uint32_t thumb = b.thumb ? psr::kT : 0u;
  if (b.status == Status::SpsrOrKept) {
    EXPECT_EQ(core.Cpsr(), HasSpsr(mode) ? kSpsr : (start_cpsr | thumb));
  } else {
    EXPECT_EQ(core.Cpsr() & (psr::kModeMask | psr::kT), static_cast<std::uint32_t>(mode) | thumb);
  }
}

std::vector<Param> AllParams() {
  std::vector<Param> params;
  for (std::size_t row = 0; row < Table().size(); ++row)
    for (Mode mode : kModes)
      for (ByteOrder order : {ByteOrder::Little, ByteOrder::Big})
        params.emplace_back(row, mode, order);
  return params;
}

INSTANTIATE_TEST_SUITE_P(RowsModesOrders, SiliconBehaviour, ::testing::ValuesIn(AllParams()),
                         [](const ::testing::TestParamInfo<Param>& info) {
                           return std::string(Table()[std::get<0>(info.param)].name) + "_" +
                                  ModeName(std::get<1>(info.param)) + "_" +
                                  (std::get<2>(info.param) == ByteOrder::Little ? "Little" : "Big");
                         });

// BKPT: undefined on the ARM7TDMI; on the ARM9TDMI a stop before it when
// the debug logic takes it, else undefined too. Stepped, and run through
// the decoded fast path.
struct BreakpointCase {
  const char* name;
  CoreModel model;
  bool thumb;
  bool observer_stops;
  bool stops;  // else: the undefined vector
};

constexpr BreakpointCase kBreakpointCases[] = {
    {"Arm7Arm", CoreModel::ARM7TDMI, false, true, false},
    {"Arm7Thumb", CoreModel::ARM7TDMI, true, true, false},
    {"Arm9Arm", CoreModel::ARM9TDMI, false, true, true},
    {"Arm9Thumb", CoreModel::ARM9TDMI, true, true, true},
    {"Arm9ArmNotTaken", CoreModel::ARM9TDMI, false, false, false},
    {"Arm9ThumbNotTaken", CoreModel::ARM9TDMI, true, false, false},
};

class BreakpointInstruction
    : public ::testing::TestWithParam<std::tuple<BreakpointCase, ByteOrder, bool>> {};

TEST_P(BreakpointInstruction, StopsOrIsUndefined) {
  const auto [c, order, fast] = GetParam();
  struct Observer : DebugObserver {
    bool stops = false;
    std::vector<std::uint32_t> asked;
    bool BeforeInstruction(std::uint32_t, std::uint32_t, bool) override { return false; }
    bool AfterDataAccess(std::uint32_t, AccessSize, std::uint32_t, bool) override { return false; }
    bool WatchesInstructions() const override { return false; }
    bool WatchesData() const override { return false; }
    bool StopsAtBreakpointInstruction(std::uint32_t address, bool) override {
      asked.push_back(address);
      return stops;
    }
  } observer;
  observer.stops = c.observer_stops;
  RamBus bus(0, kRamSize, order);
  ArmCore core(bus, c.model, order);
  // MOV r1, #1 (MOVS in THUMB), BKPT, MOV r1, #2.
  const std::string body = c.thumb ? "\t.thumb\n\tmovs r1, #1\n\t.short 0xBE00\n\tmovs r1, #2\n"
                                   : "\tmov r1, #1\n\t.word 0xE1200070\n\tmov r1, #2\n";
  bus.Load(kStart, Assemble(body + "\tb .\n", order, kStart));
  if (fast) core.MapFastMemory(0, kRamSize, bus.Memory());
  core.SetDebugObserver(&observer);
  core.SetThumb(c.thumb);
  core.SetPc(kStart);
  const std::uint32_t at = kStart + (c.thumb ? 2 : 4);
  const RunResult run = core.Run(2);
  EXPECT_EQ(core.Register(1), 1u);
  if (c.stops) {
    EXPECT_EQ(run.last.outcome, StepOutcome::Halted);
    EXPECT_EQ(run.last.halt, HaltReason::Breakpoint);
    EXPECT_EQ(run.instructions, 1u);  // the BKPT did not execute
    EXPECT_EQ(core.Pc(), at);
    EXPECT_EQ(core.CurrentMode(), Mode::Supervisor);
    EXPECT_EQ(core.Thumb(), c.thumb);
    EXPECT_EQ(observer.asked, std::vector<std::uint32_t>{at});
    // Stopped again at once; it stays until the debugger moves the PC on.
    EXPECT_EQ(core.Step().halt, HaltReason::Breakpoint);
    EXPECT_EQ(core.Pc(), at);
  } else {
    EXPECT_EQ(run.last.outcome, StepOutcome::Undefined);
    EXPECT_EQ(core.CurrentMode(), Mode::Undefined);
    EXPECT_EQ(core.Pc(), 0x04u);
    EXPECT_EQ(core.BankedRegister(Mode::Undefined, 14), at + (c.thumb ? 2 : 4));
    EXPECT_EQ(observer.asked.size(), c.model == CoreModel::ARM9TDMI ? 1u : 0u);
  }
  // Clocked in by the debug logic it is reported as undefined, not taken.
  core.SetThumb(c.thumb);
  core.SetPc(at);
  observer.asked.clear();
  const StepResult injected = core.ExecuteInstruction(c.thumb ? 0xBE00 : 0xE1200070, c.thumb, bus);
  EXPECT_EQ(injected.outcome, StepOutcome::Undefined);
  EXPECT_TRUE(observer.asked.empty());
}

INSTANTIATE_TEST_SUITE_P(CasesOrdersPaths, BreakpointInstruction,
                         ::testing::Combine(::testing::ValuesIn(kBreakpointCases),
                                            ::testing::Values(ByteOrder::Little, ByteOrder::Big),
                                            ::testing::Bool()),
                         [](const auto& info) {
                           return std::string(std::get<0>(info.param).name) +
                                  (std::get<1>(info.param) == ByteOrder::Little ? "_Little"
                                                                                : "_Big") +
                                  (std::get<2>(info.param) ? "_Fast" : "_Bus");
                         });

// A load multiple that aborts on its third word (RAM ends at 0x10000): the
// ARM7TDMI keeps the two registers loaded before the abort and ends with
// the written-back base, or the original one without writeback even when it
// was loaded; the ARM9TDMI restores the base and changes no register.
struct AbortCase {
  const char* name;
  CoreModel model;
  std::uint32_t opcode;
  std::uint32_t r0, r1, r2;  // afterwards
};

constexpr AbortCase kAbortCases[] = {
    // LDMIA r0!, {r1-r4}
    {"Arm7Writeback", CoreModel::ARM7TDMI, 0xE8B0001E, 0x10008, 0x11111111, 0x22222222},
    {"Arm9Writeback", CoreModel::ARM9TDMI, 0xE8B0001E, 0xFFF8, 0xA1, 0xA2},
    // LDMIA r0, {r0-r3}: the loaded base goes back to its first value
    {"Arm7BaseInList", CoreModel::ARM7TDMI, 0xE890000F, 0xFFF8, 0x22222222, 0xA2},
    {"Arm9BaseInList", CoreModel::ARM9TDMI, 0xE890000F, 0xFFF8, 0xA1, 0xA2},
};

class LoadMultipleAbort : public ::testing::TestWithParam<std::tuple<AbortCase, ByteOrder>> {};

TEST_P(LoadMultipleAbort, KeepsWhatTheCoreKeeps) {
  const auto [c, order] = GetParam();
  RamBus bus(0, kRamSize, order);
  ArmCore core(bus, c.model, order);
  bus.Poke(kStart, AccessSize::Word, c.opcode);
  bus.Poke(0xFFF8, AccessSize::Word, 0x11111111);
  bus.Poke(0xFFFC, AccessSize::Word, 0x22222222);
  core.SetRegister(0, 0xFFF8);
  core.SetRegister(1, 0xA1);
  core.SetRegister(2, 0xA2);
  core.SetPc(kStart);
  const StepResult step = core.Step();
  EXPECT_EQ(step.exception, Exception::DataAbort);
  EXPECT_EQ(core.CurrentMode(), Mode::Abort);
  EXPECT_EQ(core.Register(0), c.r0);
  EXPECT_EQ(core.Register(1), c.r1);
  EXPECT_EQ(core.Register(2), c.r2);
}

INSTANTIATE_TEST_SUITE_P(CasesOrders, LoadMultipleAbort,
                         ::testing::Combine(::testing::ValuesIn(kAbortCases),
                                            ::testing::Values(ByteOrder::Little, ByteOrder::Big)),
                         [](const auto& info) {
                           return std::string(std::get<0>(info.param).name) +
                                  (std::get<1>(info.param) == ByteOrder::Little ? "_Little"
                                                                                : "_Big");
                         });

// The system control coprocessor each core answers MRC and MCR with: none
// on the ARM7TDMI; the ARM920T's (ID, cache type, control; c7 and c8 are
// operations, written only; c4, c11, c12 and opcode1 other than 0 are
// reserved); the minimal one of a bare ARM9TDMI board.
enum class Cp15Kind : std::uint8_t { None, Bare, Arm920t };

struct Cp15Case {
  const char* name;
  std::uint32_t opcode;  // with r0 as the ARM register
  Cp15Kind kind;
  bool undefined;
  std::uint32_t r0;  // after an MRC that is not undefined
};

constexpr std::uint32_t kMrcId = 0xEE100F10;          // MRC p15, 0, r0, c0, c0, 0
constexpr std::uint32_t kMrcCacheType = 0xEE100F30;   // c0, c0, 1
constexpr std::uint32_t kMrcControl = 0xEE110F10;     // c1
constexpr std::uint32_t kMrcCacheOps = 0xEE170F10;    // c7
constexpr std::uint32_t kMcrInvalidate = 0xEE070F17;  // MCR c7, c7, 0
constexpr std::uint32_t kMrcReserved = 0xEE140F10;    // c4
constexpr std::uint32_t kMrcOpcode1 = 0xEE300F10;     // opcode1 = 1

constexpr Cp15Case kCp15Cases[] = {
    {"Arm7Id", kMrcId, Cp15Kind::None, true, 0},
    {"Arm7Invalidate", kMcrInvalidate, Cp15Kind::None, true, 0},
    {"BareId", kMrcId, Cp15Kind::Bare, false, 0x41129200},
    {"BareCacheType", kMrcCacheType, Cp15Kind::Bare, false, 0},
    {"BareControl", kMrcControl, Cp15Kind::Bare, false, 0x78},
    {"BareCacheOpsRead", kMrcCacheOps, Cp15Kind::Bare, true, 0},
    {"BareInvalidate", kMcrInvalidate, Cp15Kind::Bare, false, 0},
    {"Arm920tId", kMrcId, Cp15Kind::Arm920t, false, 0x41129200},
    {"Arm920tCacheType", kMrcCacheType, Cp15Kind::Arm920t, false, 0x0D172172},
    {"Arm920tControl", kMrcControl, Cp15Kind::Arm920t, false, 0x78},
    {"Arm920tCacheOpsRead", kMrcCacheOps, Cp15Kind::Arm920t, true, 0},
    {"Arm920tInvalidate", kMcrInvalidate, Cp15Kind::Arm920t, false, 0},
    {"Arm920tReserved", kMrcReserved, Cp15Kind::Arm920t, true, 0},
    {"Arm920tOpcode1", kMrcOpcode1, Cp15Kind::Arm920t, true, 0},
};

class Cp15Access : public ::testing::TestWithParam<std::tuple<Cp15Case, ByteOrder>> {};

TEST_P(Cp15Access, AnswersAsTheCoreDoes) {
  const auto [c, order] = GetParam();
  RamBus bus(0, kRamSize, order);
  ArmCore core(bus, c.kind == Cp15Kind::None ? CoreModel::ARM7TDMI : CoreModel::ARM9TDMI, order);
  Arm920tCp15 cp15(core);
  if (c.kind == Cp15Kind::Arm920t) core.AttachCoprocessor(15, &cp15);
  core.SetRegister(0, 0xDEADBEEF);
  core.SetPc(kStart);
  const StepResult step = core.ExecuteInstruction(c.opcode, false, bus);
  EXPECT_EQ(step.outcome, c.undefined ? StepOutcome::Undefined : StepOutcome::Executed);
  const bool mrc = (c.opcode & (1u << 20)) != 0;
  if (!c.undefined && mrc) {
    // The control register shows the byte order in bit 7.
    const std::uint32_t b =
        c.opcode == kMrcControl && order == ByteOrder::Big ? cp15::kBigEndian : 0;
    EXPECT_EQ(core.Register(0), c.r0 | b);
  } else {
    EXPECT_EQ(core.Register(0), 0xDEADBEEFu);
  }
  core.AttachCoprocessor(15, nullptr);
}

INSTANTIATE_TEST_SUITE_P(CasesOrders, Cp15Access,
                         ::testing::Combine(::testing::ValuesIn(kCp15Cases),
                                            ::testing::Values(ByteOrder::Little, ByteOrder::Big)),
                         [](const auto& info) {
                           return std::string(std::get<0>(info.param).name) +
                                  (std::get<1>(info.param) == ByteOrder::Little ? "_Little"
                                                                                : "_Big");
                         });

}  // namespace
}  // namespace simboard
