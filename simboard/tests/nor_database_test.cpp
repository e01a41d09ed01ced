// Every command sequence of the flash database, replayed cycle by cycle on a
// virtual chip of the command type that names it, in each width the database
// gives: the chip must do exactly what the sequence asks for.
#include <map>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "simboard/description/board_file.h"
#include "simboard/tests/board_test_support.h"

namespace simboard {
namespace {

using testing::FlashBoardText;
using testing::FreshDirectory;
using testing::TestBoard;

struct Cycle {
  std::uint32_t address;
  std::uint32_t data;
};

// The cycles of sequence `name` at chip width `width` in `type`; the count
// key is `count_key` (the sector-protect cycles share the read-protection
// count).
std::vector<Cycle> Sequence(const IniText& ini, const std::string& type, const std::string& name,
                            const std::string& count_key, unsigned width) {
  std::vector<Cycle> cycles;
  const std::string* count = ini.Find(type, count_key);
  if (count == nullptr) return cycles;
  auto n = ParseBoardNumber(*count, false);
  for (std::uint64_t i = 1; n && i <= *n; ++i) {
    std::string key = std::to_string(width) + name + std::to_string(i);
    const std::string* a = ini.Find(type, key + "A");
    const std::string* d = ini.Find(type, key + "D");
    if (a == nullptr || d == nullptr) return {};
    cycles.push_back({static_cast<std::uint32_t>(*ParseBoardNumber(*a, false)),
                      static_cast<std::uint32_t>(*ParseBoardNumber(*d, false))});
  }
  return cycles;
}

struct ChipCase {
  const char* command_type;  // section of the database
  unsigned width;            // the row of cycles used
  const char* board_keys;    // the chip on the virtual board
  bool has_chip_erase;
  bool has_protect;
  bool intel;
};

// Sector 1 is erased, sector 2 protected (where the type can); all sectors
// are 64 KiB so that sector n starts at n * 64 KiB.
const ChipCase kChips[] = {
    {"AMD_JEDEC", 16, "CommandSet=AMD\nManufacturerId=$01\nDeviceId=$2249\nWidth=16\n", true, false, false},
    {"AMD_JEDEC", 8, "CommandSet=AMD\nManufacturerId=$01\nDeviceId=$49\nWidth=8\n", true, false, false},
    {"AMD_JEDEC_X8", 8, "CommandSet=AMD\nManufacturerId=$01\nDeviceId=$4F\nWidth=8\nByteMode=0\n", true, false, false},
    {"AMD_PPB", 16, "CommandSet=AMD\nManufacturerId=$01\nDeviceId=$227E\nWidth=16\nPersistentProtection=1\n", true, true, false},
    {"AMD_PPB", 8, "CommandSet=AMD\nManufacturerId=$01\nDeviceId=$7E\nWidth=8\nPersistentProtection=1\n", true, true, false},
    {"SST_JEDEC", 16, "CommandSet=SST\nManufacturerId=$BF\nDeviceId=$2782\nWidth=16\n", true, false, false},
    {"SST_JEDEC", 8, "CommandSet=SST\nManufacturerId=$BF\nDeviceId=$D7\nWidth=8\n", true, false, false},
    {"INTEL_CFI", 16, "CommandSet=Intel\nManufacturerId=$89\nDeviceId=$18\nWidth=16\n", false, true, true},
    {"INTEL_CFI", 8, "CommandSet=Intel\nManufacturerId=$89\nDeviceId=$18\nWidth=8\n", false, true, true},
};

class DatabaseSequences : public ::testing::TestWithParam<ChipCase> {};

TEST_P(DatabaseSequences, DoWhatTheyName) {
  const ChipCase& c = GetParam();
  std::string error;
  auto ini = IniText::Load(std::filesystem::path(ROMSMITH_SOURCE_DIR) / "data/flash.ini", error);
  ASSERT_TRUE(ini) << error;
  ASSERT_TRUE(ini->HasSection(c.command_type));

  auto dir = FreshDirectory();
  TestBoard tb(FlashBoardText(std::string(c.board_keys) + "Sectors=32*64K\nImage=flash.bin\n"), dir);
  ASSERT_TRUE(tb);
  const unsigned unit = c.width / 8;  // bus bytes of one chip unit
  const AccessSize size = unit == 1 ? AccessSize::Byte : AccessSize::Half;
  const std::uint32_t sector_units = 0x10000 / unit;
  auto read = [&](std::uint32_t at) { return tb.Read(at * unit, size); };
  // A cycle address of 0 stands for `sector` (erase and protect cycles).
  auto run = [&](const std::vector<Cycle>& cycles, std::uint32_t sector) {
    for (const auto& cycle : cycles) {
      tb.Write((cycle.address == 0 ? sector : cycle.address) * unit, cycle.data, size);
    }
  };
  // Completion as a loader sees it: SR7 for Intel, DQ6 still for the rest.
  auto wait_ready = [&](std::uint32_t at) {
    for (int i = 0; i < 1000; ++i) {
      if (c.intel ? (read(at) & 0x80) != 0 : read(at) == read(at)) return true;
      tb.Wait(1000);
    }
    return false;
  };
  // Protection commands start embedded operations in the middle of their
  // sequences, so a loader waits after each cycle.
  auto run_waiting = [&](const std::vector<Cycle>& cycles, std::uint32_t sector) {
    for (const auto& cycle : cycles) {
      run({cycle}, sector);
      EXPECT_TRUE(wait_ready(sector));
    }
  };
  auto seq = [&](const char* name, const char* count_key) {
    auto cycles = Sequence(*ini, c.command_type, name, count_key, c.width);
    EXPECT_FALSE(cycles.empty()) << name;
    return cycles;
  };
  const auto reset = seq("Reset", "ResetSequence");
  const auto to_array = seq("Read", "ReadSequence");
  const std::uint32_t mask = c.width == 8 ? 0xFF : 0xFFFF;
  const IniText keys = IniText::Parse(std::string("[x]\n") + c.board_keys);
  auto key = [&](const char* name) {
    return static_cast<std::uint32_t>(*ParseBoardNumber(*keys.Find("x", name), false));
  };

  SCOPED_TRACE(std::string(c.command_type) + " x" + std::to_string(c.width));
  run(seq("GetMC", "GetMCSequence"), 0);
  EXPECT_EQ(read(0), key("ManufacturerId"));
  run(reset, 0);
  EXPECT_EQ(read(0), mask);
  run(seq("GetDID", "GetDIDSequence"), 0);
  // An x8/x16 part on a byte bus shows its codes at byte addresses 0 and 2.
  const std::uint32_t code_step = tb.board().FlashAt(0)->nor().byte_mode ? 2 : 1;
  EXPECT_EQ(read(code_step), key("DeviceId") & mask);
  run(to_array, 0);
  EXPECT_EQ(read(1), mask);

  // Program: the cycles, then the data at the address. An Intel cycle at
  // the flash start stands for the address being programmed.
  const std::uint32_t target = 3 * sector_units + 5;
  auto program = [&](std::uint32_t at, std::uint32_t value) {
    run(seq("Program", "ProgramSequence"), at);
    tb.Write(at * unit, value, size);
    EXPECT_TRUE(wait_ready(at));
    run(to_array, 0);
  };
  program(target, 0x1234 & mask);
  EXPECT_EQ(read(target), 0x1234u & mask);
  program(1 * sector_units + 7, 0x5A & mask);
  program(2 * sector_units + 7, 0x5A & mask);

  // Sector erase of sector 1 only.
  run(seq("SectorErase", "SectorEraseSequence"), 1 * sector_units);
  EXPECT_TRUE(wait_ready(1 * sector_units));
  run(to_array, 0);
  EXPECT_EQ(read(1 * sector_units + 7), mask);
  EXPECT_EQ(read(2 * sector_units + 7), 0x5Au & mask);
  EXPECT_EQ(read(target), 0x1234u & mask);

  if (c.has_protect) {
    run_waiting(Sequence(*ini, c.command_type, "SectorProtect", "GetProtectionSequence", c.width),
                2 * sector_units);
    run(to_array, 0);
    EXPECT_EQ(read(0), mask);  // back to the array
    // The protected sector refuses erase and program; its neighbour does not.
    run(seq("SectorErase", "SectorEraseSequence"), 2 * sector_units);
    wait_ready(2 * sector_units);
    run(to_array, 0);
    EXPECT_EQ(read(2 * sector_units + 7), 0x5Au & mask);
    run(seq("Program", "ProgramSequence"), 2 * sector_units + 8);
    tb.Write((2 * sector_units + 8) * unit, 0, size);
    wait_ready(2 * sector_units + 8);
    run(to_array, 0);
    EXPECT_EQ(read(2 * sector_units + 8), mask);
    program(4 * sector_units, 0);
    EXPECT_EQ(read(4 * sector_units), 0u);
  }

  if (c.has_chip_erase) {
    run(seq("ChipErase", "ChipEraseSequence"), 0);
    EXPECT_TRUE(wait_ready(0));
    run(to_array, 0);
    EXPECT_EQ(read(target), mask);
  } else {
    EXPECT_TRUE(Sequence(*ini, c.command_type, "ChipErase", "ChipEraseSequence", c.width).empty());
  }
}

INSTANTIATE_TEST_SUITE_P(FlashIni, DatabaseSequences, ::testing::ValuesIn(kChips),
                         [](const ::testing::TestParamInfo<ChipCase>& info) {
                           return std::string(info.param.command_type) + "_x" +
                                  std::to_string(info.param.width);
                         });

}  // namespace
}  // namespace simboard
