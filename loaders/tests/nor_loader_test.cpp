// The NOR loaders on virtual boards: every operation over the command sets
// of the shipped database, chip widths and counts, both byte orders, and
// the failures a loader must report rather than hide.
#include <gtest/gtest.h>

#include <numeric>

#include "loaders/tests/loader_bench.h"

namespace romsmith::loader_testing {
namespace {

constexpr std::uint32_t kRam = 0x0C000000;
constexpr std::uint32_t kFlash = 0x01000000;
// One chip's sectors; a sector spans size x chips bytes of the bus. SST
// parts erase 4 KiB sectors.
const std::vector<std::uint32_t> kBootSectors = {8192, 8192, 16384, 32768};
const std::vector<std::uint32_t> kSstSectors(32, 4096);  // room for the 0x5555 unlock

struct Bus {
  const char* name;
  const char* loader;
  const char* core;       // board Core
  bool big;
  const char* chip_set;   // board CommandSet
  const char* type;       // database CommandType
  std::uint8_t mode;      // database ProgramMode
  unsigned width_bits;
  unsigned chips;
  bool byte_mode;
  std::uint32_t device_id;  // as the chip answers in its widest mode
  const std::vector<std::uint32_t>& sectors = kBootSectors;
};

const Bus kBuses[] = {
    {"Amd16", "parl", "ARM7TDMI", false, "AMD", "AMD_JEDEC", 0, 16, 1, false, 0x2249},
    {"Amd16Big", "parb", "ARM7TDMI", true, "AMD", "AMD_JEDEC", 0, 16, 1, false, 0x2249},
    {"Amd16x2", "a40l", "ARM7TDMI", false, "AMD", "AMD_JEDEC", 0, 16, 2, false, 0x22C4},
    {"Amd16x2Big", "a40b", "ARM7TDMI", true, "AMD", "AMD_JEDEC", 0, 16, 2, false, 0x22C4},
    {"AmdByteMode", "parl", "ARM7TDMI", false, "AMD", "AMD_JEDEC", 0, 8, 1, true, 0x2249},
    {"AmdByteModeX2Big", "parb", "ARM7TDMI", true, "AMD", "AMD_JEDEC", 0, 8, 2, true, 0x2249},
    {"AmdX8x4", "parl", "ARM7TDMI", false, "AMD", "AMD_JEDEC_X8", 0, 8, 4, false, 0x4F},
    {"Intel16", "parl", "ARM7TDMI", false, "Intel", "INTEL_CFI", 2, 16, 1, false, 0x18},
    {"Intel16x2Big", "parb", "ARM7TDMI", true, "Intel", "INTEL_CFI", 2, 16, 2, false, 0x17},
    {"IntelByteMode", "parl", "ARM7TDMI", false, "Intel", "INTEL_CFI", 2, 8, 1, true, 0x18},
    {"Sst16", "parl", "ARM7TDMI", false, "SST", "SST_JEDEC", 3, 16, 1, false, 0x2781, kSstSectors},
    {"Sst16x2Big", "parb", "ARM7TDMI", true, "SST", "SST_JEDEC", 3, 16, 2, false, 0x2782, kSstSectors},
    {"SstX8", "a40l", "ARM7TDMI", false, "SST", "SST_JEDEC", 3, 8, 1, false, 0xD7, kSstSectors},
    {"Arm920tAmd16", "hwl", "ARM9TDMI", false, "AMD", "AMD_JEDEC", 0, 16, 1, false, 0x2249},
};

std::string BoardText(const Bus& bus, const std::string& faults = "") {
  std::string sectors;
  for (auto size : bus.sectors) sectors += (sectors.empty() ? "" : ",") + std::to_string(size);
  return std::string("[Board]\nCore=") + bus.core + "\nEndian=" + (bus.big ? "Big" : "Little") +
         "\nClockKHz=20000\n\n[Region1]\nKind=RAM\nBase=$0C000000\nSize=1M\n\n"
         "[Region2]\nKind=NOR\nBase=$01000000\nCommandSet=" + bus.chip_set +
         "\nManufacturerId=$01\nDeviceId=" + std::to_string(bus.device_id) +
         "\nWidth=" + std::to_string(bus.width_bits) + "\nChips=" + std::to_string(bus.chips) +
         "\nByteMode=" + (bus.byte_mode ? "1" : "0") + "\nSectors=" + sectors +
         "\nProgramTimeUs=2\nSectorEraseTimeMs=1\nChipEraseTimeMs=2\n" +
         (faults.empty() ? "" : "\n[Faults]\n" + faults + "\n");
}

std::uint32_t SectorStart(const Bus& bus, std::size_t k) {
  return kFlash + std::accumulate(bus.sectors.begin(), bus.sectors.begin() + k, 0u) * bus.chips;
}
std::uint32_t SectorBytes(const Bus& bus, std::size_t k) { return bus.sectors[k] * bus.chips; }

Params BaseParams(const Bus& bus, std::uint8_t operation) {
  Params p;
  p.operation = operation;
  p.width_bytes = static_cast<std::uint8_t>(bus.width_bits / 8);
  p.chips = static_cast<std::uint8_t>(bus.chips);
  p.mode = bus.mode;
  p.flash_start = kFlash;
  return p;
}

std::vector<std::uint8_t> Pattern(std::size_t count, unsigned seed) {
  std::vector<std::uint8_t> bytes(count);
  for (std::size_t i = 0; i < count; ++i) bytes[i] = static_cast<std::uint8_t>((i * 7 + seed + i / 253) & 0xFF);
  // Some erased words, which a loader may skip.
  for (std::size_t i = 64; i < 80 && i < count; ++i) bytes[i] = 0xFF;
  return bytes;
}

class NorLoader : public ::testing::TestWithParam<Bus> {
 protected:
  const Bus& bus() const { return GetParam(); }
  CommandSet set_ = ShippedCommandSet(GetParam().type);

  Params EraseSector(std::size_t k) {
    Params p = BaseParams(bus(), 3);
    p.address = SectorStart(bus(), k);
    SetCycles(p, set_.sector_erase, p.address);
    return p;
  }
  Params ProgramChunk(std::uint32_t address, std::uint32_t length, bool verify) {
    Params p = BaseParams(bus(), 4);
    p.address = address;
    p.length = length;
    p.auto_verify = verify ? 1 : 0;
    SetCycles(p, set_.program);
    return p;
  }
};

TEST_P(NorLoader, ReadsTheDeviceCodeOfEveryChipThenLeavesIdentifierMode) {
  LoaderBench bench(BoardText(bus()), bus().loader, kRam);
  Params p = BaseParams(bus(), 8);
  p.mode = 0;
  SetCycles(p, set_.read_device_code);
  ASSERT_EQ(bench.Run(p), RunEnd::Finished);
  std::uint32_t lane = bus().byte_mode ? bus().device_id & 0xFF : bus().device_id;
  std::uint32_t expected = 0;
  for (unsigned chip = 0; chip < bus().chips; ++chip) expected |= lane << (bus().width_bits * chip);
  EXPECT_EQ(bench.DeviceCode(), expected);

  SetCycles(p, set_.read_mode);
  ASSERT_EQ(bench.Run(p), RunEnd::Finished);
  std::uint32_t read = 0;
  ASSERT_TRUE(bench.board().bus().Read(kFlash, simboard::AccessSize::Word,
                                       simboard::AccessKind::DataRead, read));
  std::uint32_t peeked = 0;
  ASSERT_TRUE(bench.board().PeekValue(kFlash, simboard::AccessSize::Word, peeked));
  EXPECT_EQ(read, peeked) << "the chips still answer identifier codes";
}

TEST_P(NorLoader, ErasesOneSectorAndNothingElse) {
  LoaderBench bench(BoardText(bus()), bus().loader, kRam);
  const std::uint32_t total = SectorStart(bus(), bus().sectors.size()) - kFlash;
  std::vector<std::uint8_t> zeros(total, 0x00);
  ASSERT_TRUE(bench.board().Poke(kFlash, total, zeros.data()));

  ASSERT_EQ(bench.Run(EraseSector(1)), RunEnd::Finished);
  const std::uint32_t start = SectorStart(bus(), 1) - kFlash;
  const std::uint32_t end = start + SectorBytes(bus(), 1);
  std::vector<std::uint8_t> flash = bench.Flash(kFlash, total);
  for (std::uint32_t i = 0; i < total; ++i) {
    const std::uint8_t want = i >= start && i < end ? 0xFF : 0x00;
    ASSERT_EQ(flash[i], want) << "at offset 0x" << std::hex << i;
  }
}

TEST_P(NorLoader, ProgramsAChunkAndVerifiesIt) {
  LoaderBench bench(BoardText(bus()), bus().loader, kRam);
  const std::uint32_t address = SectorStart(bus(), 2) + 1024;
  const std::vector<std::uint8_t> data = Pattern(1024, 3);
  ASSERT_EQ(bench.Run(ProgramChunk(address, 1024, true), data), RunEnd::Finished);
  EXPECT_EQ(bench.ResultByte(), 0);
  EXPECT_EQ(bench.Flash(address, 1024), data);
  EXPECT_EQ(bench.Flash(address + 1024, 4), std::vector<std::uint8_t>(4, 0xFF));
  EXPECT_EQ(bench.Flash(address - 4, 4), std::vector<std::uint8_t>(4, 0xFF));
}

TEST_P(NorLoader, ProgramsAWholeSectorInOneRun) {
  LoaderBench bench(BoardText(bus()), bus().loader, kRam);
  const std::uint32_t length = SectorBytes(bus(), 1);
  const std::vector<std::uint8_t> data = Pattern(length, 11);
  Params p = ProgramChunk(SectorStart(bus(), 1), length, true);
  p.mode = 1;  // whole-sector transfer: the loader tells the command set by the cycles
  ASSERT_EQ(bench.Run(p, data), RunEnd::Finished);
  EXPECT_EQ(bench.ResultByte(), 0);
  EXPECT_EQ(bench.Flash(SectorStart(bus(), 1), length), data);
}

TEST_P(NorLoader, StartsFromThumbState) {
  LoaderBench bench(BoardText(bus()), bus().loader, kRam);
  const std::vector<std::uint8_t> data = Pattern(1024, 5);
  ASSERT_EQ(bench.Run(ProgramChunk(kFlash, 1024, true), data, 20000000, true), RunEnd::Finished);
  EXPECT_EQ(bench.Flash(kFlash, 1024), data);
}

TEST_P(NorLoader, ProgramOverBitsThatWillNotProgramFails) {
  // The chip reports the failure (DQ5, SR4, or for SST the array read after
  // the toggling stops): with auto verify the run says so in the result
  // byte, without it the run never ends.
  for (bool verify : {true, false}) {
    SCOPED_TRACE(verify ? "auto verify" : "no verify");
    LoaderBench bench(BoardText(bus(), "StuckBits=$01000000:$FF"), bus().loader, kRam);
    const RunEnd end = bench.Run(ProgramChunk(kFlash, 1024, verify), Pattern(1024, 1), 500000);
    EXPECT_EQ(end, verify ? RunEnd::Finished : RunEnd::Parked);
    EXPECT_EQ(bench.ResultByte(), 1);
  }
}

TEST_P(NorLoader, ProgramOverUnerasedDataFailsItsVerify) {
  // Bits at 0 stay 0: only the read-back can tell on chips that do not
  // report it.
  LoaderBench bench(BoardText(bus()), bus().loader, kRam);
  std::vector<std::uint8_t> zeros(1024, 0x00);
  ASSERT_TRUE(bench.board().Poke(kFlash, 1024, zeros.data()));
  EXPECT_EQ(bench.Run(ProgramChunk(kFlash, 1024, true), Pattern(1024, 1), 500000), RunEnd::Finished);
  EXPECT_EQ(bench.ResultByte(), 1);
}

TEST_P(NorLoader, SectorThatNeverErasesFailsTheRun) {
  LoaderBench bench(BoardText(bus(), "NoErase=1"), bus().loader, kRam);
  EXPECT_EQ(bench.Run(EraseSector(0), {}, 500000), RunEnd::Parked);
  if (std::string(bus().chip_set) != "AMD") return;  // busy for good: only a reset line helps
  // A JEDEC chip that reported its time-out is reset and reads its array.
  std::uint32_t read = 0, peeked = 0;
  ASSERT_TRUE(bench.board().bus().Read(kFlash, simboard::AccessSize::Word,
                                       simboard::AccessKind::DataRead, read));
  ASSERT_TRUE(bench.board().PeekValue(kFlash, simboard::AccessSize::Word, peeked));
  EXPECT_EQ(read, peeked);
}

INSTANTIATE_TEST_SUITE_P(Buses, NorLoader, ::testing::ValuesIn(kBuses),
                         [](const auto& info) { return std::string(info.param.name); });

// Chip erase: the whole bank in one run (command sets that have it).
TEST(NorLoaderChipErase, ErasesEveryChip) {
  for (const Bus& bus : kBuses) {
    const CommandSet set = ShippedCommandSet(bus.type);
    if (set.chip_erase.count == 0) continue;
    SCOPED_TRACE(bus.name);
    LoaderBench bench(BoardText(bus), bus.loader, kRam);
    const std::uint32_t total = SectorStart(bus, bus.sectors.size()) - kFlash;
    std::vector<std::uint8_t> zeros(total, 0x00);
    ASSERT_TRUE(bench.board().Poke(kFlash, total, zeros.data()));
    Params p = BaseParams(bus, 3);
    p.address = kFlash;
    SetCycles(p, set.chip_erase);
    ASSERT_EQ(bench.Run(p), RunEnd::Finished);
    EXPECT_EQ(bench.Flash(kFlash, total), std::vector<std::uint8_t>(total, 0xFF));
  }
}

// Protect on Intel chips sets the block's lock bit: a plain erase of the
// block is then refused, while the loader's own erase unlocks it first.
TEST(NorLoaderProtect, LocksIntelBlocksThatTheEraseUnlocksAgain) {
  for (const Bus& bus : kBuses) {
    if (std::string(bus.chip_set) != "Intel") continue;
    SCOPED_TRACE(bus.name);
    const CommandSet set = ShippedCommandSet(bus.type);
    LoaderBench bench(BoardText(bus), bus.loader, kRam);
    std::vector<std::uint8_t> zeros(1024, 0x00);
    const std::uint32_t sector = SectorStart(bus, 1);
    ASSERT_TRUE(bench.board().Poke(sector, 1024, zeros.data()));
    Params p = BaseParams(bus, 5);
    p.address = sector;
    SetCycles(p, set.sector_protect, sector);
    ASSERT_EQ(bench.Run(p), RunEnd::Finished);

    const std::uint32_t rep = bus.chips == 1 ? 1 : bus.width_bits == 8 ? 0x101 : 0x10001;
    const auto size = bus.width_bits * bus.chips == 8 ? simboard::AccessSize::Byte
                      : bus.width_bits * bus.chips == 16 ? simboard::AccessSize::Half
                                                         : simboard::AccessSize::Word;
    ASSERT_TRUE(bench.board().bus().Write(sector, size, 0x20 * rep));
    ASSERT_TRUE(bench.board().bus().Write(sector, size, 0xD0 * rep));
    std::uint32_t status = 0;
    ASSERT_TRUE(bench.board().bus().Read(sector, size, simboard::AccessKind::DataRead, status));
    EXPECT_EQ(status & 0x22 * rep, 0x22 * rep) << "the block took an erase while locked";
    ASSERT_TRUE(bench.board().bus().Write(sector, size, 0x50 * rep));
    ASSERT_TRUE(bench.board().bus().Write(sector, size, 0xFF * rep));

    Params erase = BaseParams(bus, 3);
    erase.address = sector;
    SetCycles(erase, set.sector_erase, sector);
    ASSERT_EQ(bench.Run(erase), RunEnd::Finished);
    EXPECT_EQ(bench.Flash(sector, 1024), std::vector<std::uint8_t>(1024, 0xFF));
  }
}

// Protect through the persistent protection bits: the protected sector
// then refuses the loader's erase, which never completes.
TEST(NorLoaderProtect, PersistentProtectionKeepsASectorFromErase) {
  Bus bus = kBuses[0];
  bus.type = "AMD_PPB";
  const CommandSet set = ShippedCommandSet(bus.type);
  ASSERT_GT(set.sector_protect.count, 0u);
  std::string text = BoardText(bus);
  text.insert(text.find("Sectors="), "PersistentProtection=1\n");
  LoaderBench bench(text, bus.loader, kRam);
  const std::uint32_t sector = SectorStart(bus, 1);
  std::vector<std::uint8_t> zeros(16, 0x00);
  ASSERT_TRUE(bench.board().Poke(sector, 16, zeros.data()));
  ASSERT_TRUE(bench.board().Poke(SectorStart(bus, 2), 16, zeros.data()));

  Params p = BaseParams(bus, 5);
  p.address = sector;
  SetCycles(p, set.sector_protect, sector);
  ASSERT_EQ(bench.Run(p), RunEnd::Finished);

  Params erase = BaseParams(bus, 3);
  erase.address = sector;
  SetCycles(erase, set.sector_erase, sector);
  EXPECT_EQ(bench.Run(erase, {}, 500000), RunEnd::Parked);
  EXPECT_EQ(bench.Flash(sector, 16), zeros);
  // Its neighbour is not protected.
  erase.address = SectorStart(bus, 2);
  SetCycles(erase, set.sector_erase, erase.address);
  EXPECT_EQ(bench.Run(erase), RunEnd::Finished);
  EXPECT_EQ(bench.Flash(erase.address, 16), std::vector<std::uint8_t>(16, 0xFF));
}

// Parameter blocks a loader cannot serve park it instead of writing anything.
TEST(NorLoaderRefusal, UnknownOperationsModesAndWidthsPark) {
  const Bus& bus = kBuses[0];
  struct Case {
    const char* what;
    std::uint8_t operation, mode, width, chips;
  } cases[] = {
      {"operation 6", 6, 0, 2, 1},
      {"NAND mode 5", 4, 5, 2, 1},
      {"three-byte chips", 4, 0, 3, 1},
      {"a 64-bit bus", 4, 0, 4, 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    LoaderBench bench(BoardText(bus), bus.loader, kRam);
    Params p = BaseParams(bus, c.operation);
    p.mode = c.mode;
    p.width_bytes = c.width;
    p.chips = c.chips;
    p.address = kFlash;
    p.length = 1024;
    EXPECT_EQ(bench.Run(p, Pattern(1024, 0), 100000), RunEnd::Parked);
    EXPECT_EQ(bench.Flash(kFlash, 16), std::vector<std::uint8_t>(16, 0xFF));
  }
}

}  // namespace
}  // namespace romsmith::loader_testing
