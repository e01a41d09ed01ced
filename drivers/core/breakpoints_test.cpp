#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "drivers/core/breakpoints.h"
#include "drivers/core/testing/fake_core.h"

namespace drivers {
namespace {

using testing::FakeCore;

std::vector<std::string> messages;
void Collect(std::int32_t, const char* text) { messages.push_back(text); }

class BreakpointTest : public ::testing::Test {
 protected:
  BreakpointTest() : core(&state), table(&state, &core) {
    messages.clear();
    state.messenger.set_sink(Collect);
    state.byte_order = 2;
    state.breakpoints.assign(kBreakpointTableSize, BreakpointSlot{});
    core.ice[12] = core.ice[20] = kControlUnitOff;
    core.read_only_from = 0x0;  // flash at 0 .. 0x100000
    core.read_only_to = 0x100000;
  }

  int Execute(std::uint32_t address, std::uint32_t kind, BreakpointSlot* out = nullptr) {
    return table.Set(BreakpointSpec{kFlagExecute, 0, address, 0, kind}, out);
  }
  int Watch(std::uint32_t flags, std::uint32_t address) {
    return table.Set(BreakpointSpec{flags, 0, address, 0, 0}, nullptr);
  }
  bool UnitOn(int unit) const { return (core.ice[IceUnitBase(unit) + 4] & kControlEnable) != 0; }
  void PutWord(std::uint32_t address, std::uint32_t value) { core.Put(address, 4, value); }

  DriverState state;
  FakeCore core;
  Breakpoints table;
};

TEST_F(BreakpointTest, TheTableHoldsTwoHundredFiftyFiveEntries) {
  for (int i = 0; i < 255; ++i) ASSERT_EQ(Execute(0x2000000 + 4u * i, 3), 0) << i;  // recorded only
  EXPECT_EQ(Execute(0x2000400, 0), 4);
  EXPECT_EQ(messages, (std::vector<std::string>{"Warning: too many breakpoints.\n"}));
  EXPECT_FALSE(UnitOn(0)) << "units were free but the table was full";
}

TEST_F(BreakpointTest, TwoHardwareUnitsThenNothingElseFits) {
  BreakpointSlot first;
  ASSERT_EQ(Execute(0x1000, kKindHardware, &first), 0);
  EXPECT_EQ(first.number, 1u);
  EXPECT_EQ(core.ice[8], 0x1000u);
  EXPECT_EQ(core.ice[9], 1u);
  EXPECT_EQ(core.ice[12], 0xFFFFFFF7u);
  ASSERT_EQ(Execute(0x2000, kKindHardware), 0);
  EXPECT_EQ(core.ice[16], 0x2000u);
  EXPECT_EQ(Execute(0x3000, kKindHardware), 4);
  EXPECT_EQ(Watch(0x02, 0x4000), 4);
  EXPECT_EQ(Execute(0x2100000, kKindSoftware), 4);
  EXPECT_EQ(messages.size(), 3u);
  for (const std::string& m : messages) EXPECT_EQ(m, "Warning: too many breakpoints.\n");
}

TEST_F(BreakpointTest, SoftwareBreakpointsShareOneUnitUntilTheLastIsCleared) {
  ASSERT_EQ(Execute(0x1000, kKindHardware), 0);
  PutWord(0x2100000, 0x11111111);
  PutWord(0x2100010, 0x22222222);
  BreakpointSlot a, b;
  ASSERT_EQ(Execute(0x2100000, kKindSoftware, &a), 0);
  EXPECT_EQ(a.unit, 1);
  EXPECT_EQ(core.ice[16 + kIceDataValue], kWordPattern);
  EXPECT_EQ(core.Get(0x2100000, 4), kWordPattern);
  ASSERT_EQ(Execute(0x2100010, kKindSoftware, &b), 0);
  EXPECT_EQ(b.unit, 1);
  EXPECT_EQ(Execute(0x3000, kKindHardware), 4);
  EXPECT_EQ(Watch(0x04, 0x2100020), 4);

  ASSERT_EQ(table.Clear(a.number), 0);
  EXPECT_EQ(core.Get(0x2100000, 4), 0x11111111u);
  EXPECT_TRUE(UnitOn(1)) << "another software entry still needs the pattern unit";
  ASSERT_EQ(table.Clear(b.number), 0);
  EXPECT_EQ(core.Get(0x2100010, 4), 0x22222222u);
  EXPECT_FALSE(UnitOn(1));
  EXPECT_EQ(table.Clear(b.number), 2);
  EXPECT_EQ(table.Clear(0), 2);
  EXPECT_EQ(table.Clear(256), 2);
}

TEST_F(BreakpointTest, HalfwordPairsSplitTheWholeWordOnBothByteOrders) {
  for (int big = 0; big < 2; ++big) {
    state.byte_order = big ? 1 : 2;
    table.ClearAll();
    const std::uint32_t a = 0x2200000;
    PutWord(a, 0x11223344);  // halfword at a: 0x3344 (LE) or 0x1122 (BE)
    BreakpointSlot first, second;
    ASSERT_EQ(Execute(a, kKindSoftware, &first), 0);
    EXPECT_EQ(first.kind, kKindSoftware);
    core.ClearCounts();
    ASSERT_EQ(Execute(a + 2, kKindSoftware, &second), 0);
    EXPECT_EQ(core.stores, 0) << "the pattern is already there";
    EXPECT_EQ(state.breakpoints[first.number - 1].width, 1);
    EXPECT_EQ(state.breakpoints[second.number - 1].width, 1);
    const std::uint32_t low_half = big ? 0x1122 : 0x3344;
    const std::uint32_t high_half = big ? 0x3344 : 0x1122;
    EXPECT_EQ(state.breakpoints[first.number - 1].saved, low_half) << big;
    EXPECT_EQ(state.breakpoints[second.number - 1].saved, high_half) << big;

    ASSERT_EQ(table.Clear(first.number), 0);
    EXPECT_EQ(core.Get(a, 2), low_half);
    EXPECT_EQ(core.Get(a + 2, 2), kHalfwordPattern);
    // A halfword entry next to a 16-bit partner writes only its halfword.
    core.ClearCounts();
    ASSERT_EQ(Execute(a, kKindSoftware, &first), 0);
    EXPECT_EQ(core.log.back(), "store2 " + FakeCore::Hex(a) + "=EFEF");
    EXPECT_EQ(state.breakpoints[first.number - 1].saved, low_half);
  }
}

TEST_F(BreakpointTest, AutomaticKindProbesTheWordAndRestoresRam) {
  PutWord(0x2300000, 0xCAFEBABE);
  BreakpointSlot ram, flash;
  ASSERT_EQ(Execute(0x2300000, kKindAutomatic, &ram), 0);
  EXPECT_EQ(ram.kind, kKindSoftware);
  EXPECT_EQ(state.breakpoints[ram.number - 1].saved, 0xCAFEBABEu);
  for (int k = 0; k < 4; ++k) core.SetByte(0x8000 + k, static_cast<std::uint8_t>(0x78 - 0x22 * k));
  ASSERT_EQ(Execute(0x8000, kKindAutomatic, &flash), 0);
  EXPECT_EQ(flash.kind, kKindHardware);
  EXPECT_EQ(core.Get(0x8000, 4), 0x12345678u);
  EXPECT_EQ(core.ice[16], 0x8000u) << "unit 1 holds the flash breakpoint, unit 0 the pattern";
}

TEST_F(BreakpointTest, RequestsThatAreRefused) {
  EXPECT_EQ(table.Set(BreakpointSpec{0x11, 0, 0x1000, 0, 0}, nullptr), 4);
  EXPECT_EQ(table.Set(BreakpointSpec{kFlagExecute, 0, 0x1000, 1, 0}, nullptr), 4);
  EXPECT_EQ(Execute(0x1001, kKindHardware), 2);
  EXPECT_EQ(table.Set(BreakpointSpec{0x02, 0, 0x1000, 1, 0}, nullptr), 4);
  core.halted = false;
  EXPECT_EQ(Execute(0x1000, kKindHardware), 5);
  EXPECT_EQ(messages.back(),
            "Debug: Can not execute set breakpoint command while CPU is running!\n");
  for (const BreakpointSlot& e : state.breakpoints) EXPECT_EQ(e.number, 0u);
}

TEST_F(BreakpointTest, WatchpointsProgramTheirAccessKind) {
  struct Case {
    std::uint32_t flags;
    int code;
    std::uint32_t control, mask;
  };
  for (const Case& c : {Case{0x02, 0, 0x108, 0xFFFFFFF6}, Case{0x04, 1, 0x109, 0xFFFFFFF6},
                        Case{0x06, 2, 0x108, 0xFFFFFFF7}, Case{0x08, 2, 0x108, 0xFFFFFFF7}}) {
    ASSERT_EQ(Watch(c.flags, 0x2400000), 0);
    EXPECT_EQ(core.ice[8], 0x2400000u);
    EXPECT_EQ(core.ice[9], 0u);
    EXPECT_EQ(core.ice[11], 0xFFFFFFFFu);
    EXPECT_EQ(core.ice[12], c.control);
    EXPECT_EQ(core.ice[13], c.mask);
    EXPECT_EQ(state.breakpoints[0].width, c.code);
    ASSERT_EQ(table.Clear(1), 0);
    EXPECT_EQ(core.ice[12], kControlUnitOff);
  }
}

TEST_F(BreakpointTest, ClearAllRestoresEveryPatternAndSwitchesBothUnitsOff) {
  PutWord(0x2500000, 0xAAAAAAAA);
  PutWord(0x2500008, 0xBBBBBBBB);
  ASSERT_EQ(Execute(0x2500000, kKindSoftware), 0);
  ASSERT_EQ(Execute(0x2500008, kKindSoftware), 0);
  ASSERT_EQ(Execute(0x1000, kKindHardware), 0);
  ASSERT_EQ(table.ClearAll(), 0);
  EXPECT_EQ(core.Get(0x2500000, 4), 0xAAAAAAAAu);
  EXPECT_EQ(core.Get(0x2500008, 4), 0xBBBBBBBBu);
  EXPECT_FALSE(UnitOn(0));
  EXPECT_FALSE(UnitOn(1));
  for (const BreakpointSlot& e : state.breakpoints) EXPECT_EQ(e.number, 0u);

  ASSERT_EQ(Execute(0x2500000, kKindSoftware), 0);
  core.fail_ice_writes = true;
  EXPECT_EQ(table.ClearAll(), 5);
  EXPECT_NE(state.breakpoints[0].number, 0u) << "nothing freed when a unit cannot be switched off";
}

TEST_F(BreakpointTest, ShadowingHidesAndDivertsOnlyBytesInsideTheTransfer) {
  for (int big = 0; big < 2; ++big) {
    state.byte_order = big ? 1 : 2;
    table.ClearAll();
    PutWord(0x2600004, 0x44332211);
    ASSERT_EQ(Execute(0x2600004, kKindSoftware), 0);
    // Read bytes 0x2600006..0x2600009: two pattern bytes inside, two outside.
    std::uint8_t bytes[4] = {kPatternByte, kPatternByte, 0x99, 0x99};
    table.ShadowRead(0x2600006, bytes, 4);
    const std::uint8_t at6 = big ? 0x22 : 0x33;
    const std::uint8_t at7 = big ? 0x11 : 0x44;
    EXPECT_EQ(bytes[0], at6) << big;
    EXPECT_EQ(bytes[1], at7) << big;
    EXPECT_EQ(bytes[2], 0x99);

    std::uint8_t written[3] = {0xA0, 0xA1, 0xA2};  // 0x2600003 .. 0x2600005
    table.ShadowWrite(0x2600003, written, 3);
    EXPECT_EQ(written[0], 0xA0);
    EXPECT_EQ(written[1], kPatternByte);
    EXPECT_EQ(written[2], kPatternByte);
    const std::uint32_t saved = state.breakpoints[0].saved;
    EXPECT_EQ(saved, big ? 0xA1A22211u : 0x4433A2A1u) << big;
  }
}

TEST_F(BreakpointTest, SplittingAWholeWordGivesTheOtherHalfwordBack) {
  PutWord(0x2700000, 0x5678ABCD);
  ASSERT_EQ(Execute(0x2700002, kKindSoftware), 0);
  BreakpointSlot& entry = state.breakpoints[0];
  ASSERT_TRUE(table.Split(entry));
  EXPECT_EQ(entry.width, 1);
  EXPECT_EQ(entry.saved, 0x5678u);
  EXPECT_EQ(core.Get(0x2700000, 2), 0xABCDu);
  EXPECT_EQ(core.Get(0x2700002, 2), kHalfwordPattern);
  EXPECT_EQ(table.SoftwareAt(0x2700002), &entry);
  EXPECT_EQ(table.ExecutionAt(0x2700002), &entry);
  EXPECT_EQ(table.ExecutionAt(0x2700000), nullptr);
}

}  // namespace
}  // namespace drivers
