// The LPC2000 boot ROM's IAP entry as a caller on the core reaches it.
#include <gtest/gtest.h>

#include <fstream>
#include <vector>

#include "simboard/onchip/lpc_flash.h"
#include "simboard/tests/board_test_support.h"

namespace simboard {
namespace {

using testing::FreshDirectory;
using testing::TestBoard;

constexpr std::uint32_t kRam = 0x40000000;
constexpr std::uint32_t kCommand = kRam + 0x100;
constexpr std::uint32_t kResult = kRam + 0x200;
constexpr std::uint32_t kData = kRam + 0x1000;
constexpr std::uint32_t kReturn = kRam + 0x40;  // holds B . in ARM state

std::string LpcBoard(const std::string& model, const std::string& timing = "Deterministic") {
  return "[Board]\nCore=ARM7TDMI\nClockKHz=20000\nTiming=" + timing +
         "\n[Region1]\nKind=RAM\nBase=$40000000\nSize=64K\n"
         "[Region2]\nKind=LPC\nBase=0\nModel=" + model + "\nImage=flash.bin\n";
}

class Iap {
 public:
  explicit Iap(TestBoard& board) : t_(board) { t_.Write(kReturn, 0xEAFFFFFE, AccessSize::Word); }

  // Calls the entry as a THUMB BX would and runs until the call returned.
  std::uint32_t Call(std::vector<std::uint32_t> command, std::uint64_t budget = 5000) {
    Start(command);
    t_.board().Run(budget);
    EXPECT_EQ(t_.board().core().Pc(), kReturn) << "the call did not return";
    return t_.Read(kResult, AccessSize::Word);
  }
  // Enters the ROM and runs `instructions` (the call may still be in progress).
  void Start(std::vector<std::uint32_t> command, std::uint64_t instructions = 0) {
    command.resize(5, 0);
    for (unsigned i = 0; i < 5; ++i) t_.Write(kCommand + 4 * i, command[i], AccessSize::Word);
    t_.Write(kResult, 0xDEAD, AccessSize::Word);
    ArmCore& core = t_.board().core();
    core.SetRegister(0, kCommand);
    core.SetRegister(1, kResult);
    core.SetRegister(14, kReturn);
    core.SetThumb(true);
    core.SetPc(kLpcIapEntry);
    if (instructions) t_.board().Run(instructions);
  }
  std::uint32_t Result(unsigned n) { return t_.Read(kResult + 4 * n, AccessSize::Word); }

 private:
  TestBoard& t_;
};

constexpr std::uint32_t P = 50, COPY = 51, ERASE = 52, BLANK = 53, PART = 54, CMP = 56;

TEST(LpcIap, CommandsAnswerTheStatusCodesOfTheUserManual) {
  TestBoard t(LpcBoard("LPC2106"), FreshDirectory());
  Iap iap(t);
  for (std::uint32_t i = 0; i < 256; i += 4) t.Write(kData + i, 0x11000000 + i, AccessSize::Word);
  struct Step {
    const char* what;
    std::vector<std::uint32_t> command;
    IapStatus status;
  };
  const Step steps[] = {
      {"erase before prepare", {ERASE, 0, 0, 12000}, IapStatus::SectorNotPrepared},
      {"prepare the boot block", {P, 14, 15}, IapStatus::InvalidSector},
      {"prepare backwards", {P, 3, 2}, IapStatus::InvalidSector},
      {"prepare", {P, 0, 1}, IapStatus::CmdSuccess},
      {"copy an odd count", {COPY, 0x100, kData, 100, 12000}, IapStatus::CountError},
      {"copy to a misaligned flash address", {COPY, 0x80, kData, 256, 12000}, IapStatus::DstAddrError},
      {"copy from a misaligned RAM address", {COPY, 0x100, kData + 2, 256, 12000}, IapStatus::SrcAddrError},
      {"copy from outside RAM", {COPY, 0x100, 0x2000, 256, 12000}, IapStatus::SrcAddrNotMapped},
      {"copy past the flash", {COPY, 0x20000, kData, 256, 12000}, IapStatus::DstAddrNotMapped},
      {"copy to a sector not prepared", {COPY, 0x4000, kData, 256, 12000}, IapStatus::SectorNotPrepared},
      {"copy", {COPY, 0x100, kData, 256, 12000}, IapStatus::CmdSuccess},
      {"copy again: the sectors locked again", {COPY, 0x100, kData, 256, 12000}, IapStatus::SectorNotPrepared},
      {"compare equal", {CMP, 0x100, kData, 256}, IapStatus::CmdSuccess},
      {"compare a differing range", {CMP, 0x104, kData, 8}, IapStatus::CompareError},
      {"blank check a programmed sector", {BLANK, 0, 0}, IapStatus::SectorNotBlank},
      {"prepare the last user sector", {P, 14, 14}, IapStatus::CmdSuccess},
      {"copy into the boot block", {COPY, 0x1E000, kData, 256, 12000}, IapStatus::SectorNotPrepared},
      {"unknown command", {99}, IapStatus::InvalidCommand},
      {"part ID", {PART}, IapStatus::CmdSuccess},
  };
  for (const auto& step : steps) {
    EXPECT_EQ(iap.Call(step.command), static_cast<std::uint32_t>(step.status)) << step.what;
  }
  EXPECT_EQ(iap.Result(1), 0xFFF0FF32u);
  EXPECT_EQ(t.Read(0x100, AccessSize::Word), 0x11000000u);
  EXPECT_EQ(t.Read(0x1FC, AccessSize::Word), 0x110000FCu);
  // The boot block keeps its code.
  EXPECT_EQ(t.Read(0x1E000, AccessSize::Word), 0xEAFFFFFEu);

  EXPECT_EQ(iap.Call({BLANK, 0, 0}), 8u);
  EXPECT_EQ(iap.Result(1), 0x100u) << "offset of the first word that is not blank";
  EXPECT_EQ(iap.Result(2), 0x11000000u);
  EXPECT_EQ(iap.Call({CMP, 0x104, kData, 8}), 10u);
  EXPECT_EQ(iap.Result(1), 0u);

  EXPECT_EQ(iap.Call({P, 0, 0}), 0u);
  EXPECT_EQ(iap.Call({ERASE, 0, 0, 14745}), 0u);
  EXPECT_EQ(iap.Call({BLANK, 0, 0}), 0u);
}

TEST(LpcIap, ProgrammingOnlyClearsBitsAndReachesTheImage) {
  TestBoard t(LpcBoard("LPC2148"), FreshDirectory());
  Iap iap(t);
  for (std::uint32_t i = 0; i < 1024; i += 4) t.Write(kData + i, 0x0F0F0F0F, AccessSize::Word);
  ASSERT_EQ(iap.Call({P, 26, 26}), 0u);
  ASSERT_EQ(iap.Call({COPY, 0x7C000, kData, 1024, 12000}), 0u);
  for (std::uint32_t i = 0; i < 1024; i += 4) t.Write(kData + i, 0xFFFF00FF, AccessSize::Word);
  ASSERT_EQ(iap.Call({P, 26, 26}), 0u);
  ASSERT_EQ(iap.Call({COPY, 0x7C000, kData, 1024, 12000}), 0u);
  EXPECT_EQ(t.Read(0x7C3FC, AccessSize::Word), 0x0F0F000Fu);
  // Sector 26 is the last user sector; 27 would be the boot block.
  EXPECT_EQ(iap.Call({P, 27, 27}), 7u);
  auto* rom = dynamic_cast<LpcBootRom*>(t.board().RegionAt(kLpcIapEntry));
  ASSERT_NE(rom, nullptr);
  EXPECT_EQ(rom->last_cclk_khz(), 12000u);

  std::ifstream image(t.dir() / "flash.bin", std::ios::binary);
  image.seekg(0x7C000);
  std::uint8_t first[4] = {};
  image.read(reinterpret_cast<char*>(first), 4);
  EXPECT_EQ(first[0], 0x0F);
  EXPECT_EQ(first[1], 0x00);
}

TEST(LpcIap, ACallWhileTheFlashIsBusyAnswersBusy) {
  TestBoard t(LpcBoard("LPC2129"), FreshDirectory());
  Iap iap(t);
  ASSERT_EQ(iap.Call({P, 0, 16}), 0u);
  // The erase runs 400 ms; a debugger stops the caller inside the ROM.
  iap.Start({ERASE, 0, 16, 12000}, 20);
  EXPECT_NE(t.board().core().Pc(), kReturn);
  auto* rom = dynamic_cast<LpcBootRom*>(t.board().RegionAt(kLpcIapEntry));
  ASSERT_TRUE(rom->busy());
  EXPECT_EQ(iap.Call({PART}), static_cast<std::uint32_t>(IapStatus::Busy));
  t.Wait(400000);
  EXPECT_EQ(iap.Call({PART}), 0u);
  EXPECT_EQ(iap.Result(1), 0x0201FF13u);
}

TEST(LpcIap, AnEraseTakesItsTimeOnTheBoardClock) {
  TestBoard t(LpcBoard("LPC2106"), FreshDirectory());
  Iap iap(t);
  ASSERT_EQ(iap.Call({P, 2, 3}), 0u);
  const std::uint64_t before = t.board().clock().cycles;
  ASSERT_EQ(iap.Call({ERASE, 2, 3, 12000}), 0u);
  const std::uint64_t spent_ms = (t.board().clock().cycles - before) / 20000;
  EXPECT_GE(spent_ms, 400u);
  EXPECT_LT(spent_ms, 410u);
}

TEST(LpcBoardFile, RefusesWrongModelsAndBasesAndOverlapsWithTheBootRom) {
  struct Case {
    std::string region;
    std::string error;
  };
  const Case cases[] = {
      {"Kind=LPC\nBase=0\nModel=LPC9999\n", "[Region2] Model: \"LPC9999\" is not LPC2106, LPC2129 or LPC2148"},
      {"Kind=LPC\nBase=$1000\nModel=LPC2106\n", "[Region2] Base: the part's flash sits at $00000000"},
  };
  for (const auto& c : cases) {
    std::string error;
    auto board = ParseBoardText("[Board]\n[Region1]\nKind=RAM\nBase=$40000000\nSize=16K\n[Region2]\n" + c.region,
                                "b.ini", error);
    EXPECT_FALSE(board);
    EXPECT_EQ(error, "b.ini: " + c.error);
  }
  std::string error;
  auto board = ParseBoardText(
      "[Board]\n[Region1]\nKind=RAM\nBase=$7FFFF000\nSize=4K\n[Region2]\nKind=LPC\nBase=0\nModel=LPC2148\n",
      "b.ini", error);
  EXPECT_FALSE(board);
  EXPECT_EQ(error, "b.ini: [Region2] Base: the region overlaps [Region1]");
}

}  // namespace
}  // namespace simboard
