// The AT91SAM7S embedded flash controller as a loader drives it over the bus.
#include <gtest/gtest.h>

#include "simboard/onchip/sam7_flash.h"
#include "simboard/tests/board_test_support.h"

namespace simboard {
namespace {

using testing::FreshDirectory;
using testing::TestBoard;

constexpr std::uint32_t kMc = 0xFFFFFF00;
constexpr std::uint32_t kFlash = 0x00100000;

std::string Sam7Board(const std::string& model) {
  return "[Board]\nCore=ARM7TDMI\nClockKHz=20000\n"
         "[Region1]\nKind=RAM\nBase=$00200000\nSize=64K\n"
         "[Region2]\nKind=SAM7\nBase=$00100000\nModel=" + model + "\nImage=flash.bin\n";
}

class Efc {
 public:
  explicit Efc(TestBoard& t) : t_(t) {}
  void Fill(std::uint32_t page, std::uint32_t value, std::uint32_t page_bytes = 256) {
    for (std::uint32_t i = 0; i < page_bytes; i += 4) t_.Write(kFlash + page * page_bytes + i, value + i, AccessSize::Word);
  }
  void Command(std::uint32_t command, std::uint32_t page, std::uint32_t key = 0x5A) {
    t_.Write(kMc + efc::kFcr, key << 24 | page << 8 | command, AccessSize::Word);
  }
  std::uint32_t Status() { return t_.Read(kMc + efc::kFsr, AccessSize::Word); }
  // Polls FRDY as a loader does, with a bound.
  std::uint32_t WaitReady() {
    for (int i = 0; i < 1000; ++i) {
      std::uint32_t status = Status();
      if (status & efc::kFrdy) return status;
      t_.Wait(100);
    }
    ADD_FAILURE() << "FRDY never came";
    return 0;
  }

 private:
  TestBoard& t_;
};

TEST(Sam7Efc, CommandsLockBitsAndErrors) {
  TestBoard t(Sam7Board("AT91SAM7S256"), FreshDirectory());
  Efc efc(t);
  EXPECT_EQ(t.Read(0xFFFFF240, AccessSize::Word), 0x270B0940u) << "DBGU_CIDR";
  struct Step {
    const char* what;
    std::uint32_t command, page, key;
    std::uint32_t errors;           // LOCKE/PROGE after the command
    std::uint32_t word_at_page_70;  // first word of page 70 afterwards
  };
  const Step steps[] = {
      {"write page with a wrong key", efc::kWritePage, 70, 0x5B, efc::kProge, 0xFFFFFFFF},
      {"an unknown command", 0x6, 70, 0x5A, efc::kProge, 0xFFFFFFFF},
      {"write page", efc::kWritePage, 70, 0x5A, 0, 0x12340000},
      {"lock region 1 (pages 64-127)", efc::kSetLockBit, 64, 0x5A, 0, 0x12340000},
      {"write a locked page", efc::kWritePage, 70, 0x5A, efc::kLocke, 0x12340000},
      {"erase all with a region locked", efc::kEraseAll, 0, 0x5A, efc::kLocke, 0x12340000},
      {"clear the lock", efc::kClearLockBit, 100, 0x5A, 0, 0x12340000},
      {"write page again: erased before programming", efc::kWritePage, 70, 0x5A, 0, 0x56780000},
      {"erase all", efc::kEraseAll, 0, 0x5A, 0, 0xFFFFFFFF},
  };
  std::uint32_t value = 0x12340000;
  for (const auto& step : steps) {
    efc.Fill(70, value);
    if (step.command == efc::kWritePage && step.errors == 0) value = 0x56780000;
    efc.Command(step.command, step.page, step.key);
    const std::uint32_t status = efc.WaitReady();
    EXPECT_EQ(status & (efc::kLocke | efc::kProge), step.errors) << step.what;
    EXPECT_EQ(efc.Status() & (efc::kLocke | efc::kProge), 0u) << step.what << ": errors clear when read";
    EXPECT_EQ(t.Read(kFlash + 70 * 256, AccessSize::Word), step.word_at_page_70) << step.what;
  }
}

TEST(Sam7Efc, NoEraseBeforeProgrammingOnlyClearsBitsAndBusyHidesReady) {
  TestBoard t(Sam7Board("AT91SAM7S64"), FreshDirectory());
  Efc efc(t);
  efc.Fill(3, 0x0000FFFF, 128);
  efc.Command(efc::kWritePage, 3);
  EXPECT_EQ(efc.Status() & efc::kFrdy, 0u) << "FRDY low while the page is written";
  efc.WaitReady();
  t.Write(kMc + efc::kFmr, efc::kNebp, AccessSize::Word);
  efc.Fill(3, 0x00FF00FF - 0, 128);
  efc.Command(efc::kWritePage, 3);
  efc.WaitReady();
  EXPECT_EQ(t.Read(kFlash + 3 * 128, AccessSize::Word), 0x000000FFu);
  // Pages beyond the part's 512 are refused.
  efc.Command(efc::kWritePage, 512);
  EXPECT_EQ(efc.WaitReady() & efc::kProge, efc::kProge);
}

TEST(Sam7Efc, LockBitsSurviveThePowerCycle) {
  auto dir = FreshDirectory();
  {
    TestBoard t(Sam7Board("AT91SAM7S256"), dir);
    Efc efc(t);
    efc.Command(efc::kSetLockBit, 1023);
    efc.WaitReady();
  }
  TestBoard t(Sam7Board("AT91SAM7S256"), dir);
  Efc efc(t);
  EXPECT_EQ(efc.Status() >> 16, 0x8000u) << "region 15 locked";
  efc.Fill(1023, 0);
  efc.Command(efc::kWritePage, 1023);
  EXPECT_EQ(efc.WaitReady() & efc::kLocke, efc::kLocke);
}

}  // namespace
}  // namespace simboard
