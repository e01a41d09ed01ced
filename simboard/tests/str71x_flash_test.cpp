// The STR71x flash interface as a loader drives it over the bus.
#include <gtest/gtest.h>

#include "simboard/onchip/str71x_flash.h"
#include "simboard/tests/board_test_support.h"

namespace simboard {
namespace {

using testing::FreshDirectory;
using testing::TestBoard;

constexpr std::uint32_t kBase = 0x40000000;

std::string StrBoard() {
  return "[Board]\nCore=ARM7TDMI\nClockKHz=20000\n"
         "[Region1]\nKind=RAM\nBase=$20000000\nSize=64K\n"
         "[Region2]\nKind=STR71x\nBase=$40000000\nModel=STR711\nImage=flash.bin\n";
}

class Interface {
 public:
  explicit Interface(TestBoard& t) : t_(t) {}
  void Set(std::uint32_t offset, std::uint32_t value) { t_.Write(kBase + offset, value, AccessSize::Word); }
  std::uint32_t Get(std::uint32_t offset) { return t_.Read(kBase + offset, AccessSize::Word); }
  // Starts an operation as the manual's sequences do and waits for LOCK to drop.
  std::uint32_t Run(std::uint32_t operation, std::uint32_t address, std::uint32_t data0,
                    std::uint32_t data1 = 0, std::uint32_t sectors = 0) {
    Set(str71x::kEr, 0);
    Set(str71x::kCr0, operation);
    if (sectors) Set(str71x::kCr1, sectors);
    Set(str71x::kAr, address);
    Set(str71x::kDr0, data0);
    Set(str71x::kDr1, data1);
    Set(str71x::kCr0, operation | str71x::kWms);
    for (int i = 0; i < 100000; ++i) {
      if ((Get(str71x::kCr0) & str71x::kLock) == 0) return Get(str71x::kEr);
      t_.Wait(100);
    }
    ADD_FAILURE() << "LOCK never dropped";
    return 0;
  }

 private:
  TestBoard& t_;
};

TEST(Str71xFlash, OperationsAndTheirErrorBits) {
  TestBoard t(StrBoard(), FreshDirectory());
  Interface f(t);
  using namespace str71x;
  struct Step {
    const char* what;
    std::uint32_t operation, address, data0, data1, sectors;
    std::uint32_t errors;
    std::uint32_t check_address, check_value;
  };
  const Step steps[] = {
      {"word program", kWpg, 0x0100, 0x12345678, 0, 0, 0, 0x0100, 0x12345678},
      {"a one over a zero", kWpg, 0x0100, 0xFFFFFFFF, 0, 0, kErr | k10er, 0x0100, 0x12345678},
      {"double word program", kDwpg, 0x2008, 0xAAAA5555, 0x0000FFFF, 0, 0, 0x200C, 0x0000FFFF},
      {"bank 1 word", kWpg, 0x0C2000, 0x00C0FFEE, 0, 0, 0, 0x0C2000, 0x00C0FFEE},
      {"start without an operation", 0, 0, 0, 0, 0, kErr | kSeqer, 0x0100, 0x12345678},
      {"erase with no sector selected", kSer, 0, 0, 0, 0, kErr | kSeqer, 0x0100, 0x12345678},
      {"erase bank 0 sector 0", kSer, 0, 0, 0, 0x01, 0, 0x0100, 0xFFFFFFFF},
      {"protect bank 0 sector 1", kSpr, kNvwpar, 0xFFFFFFFD, 0, 0, 0, 0x2008, 0xAAAA5555},
      {"program a protected sector", kWpg, 0x2010, 0, 0, 0, kErr | kWpf, 0x2010, 0xFFFFFFFF},
      {"erase a protected sector", kSer, 0, 0, 0, 0x02, kErr | kWpf | kErer, 0x2008, 0xAAAA5555},
      {"erase bank 1 sector 1", kSer, 0, 0, 0, 0x20000, 0, 0x0C2000, 0xFFFFFFFF},
  };
  for (const auto& s : steps) {
    EXPECT_EQ(f.Run(s.operation, s.address, s.data0, s.data1, s.sectors), s.errors) << s.what;
    EXPECT_EQ(t.Read(kBase + s.check_address, AccessSize::Word), s.check_value) << s.what;
  }
  EXPECT_EQ(f.Get(kNvwpar), 0xFFFFFFFDu);
}

TEST(Str71xFlash, BusyShowsInLockAndTheBankBitUntilTheEraseEnds) {
  TestBoard t(StrBoard(), FreshDirectory());
  Interface f(t);
  using namespace str71x;
  f.Set(kCr0, kSer);
  f.Set(kCr1, 0x10000);  // bank 1 sector 0
  f.Set(kCr0, kSer | kWms);
  EXPECT_EQ(f.Get(kCr0) & (kLock | kBsy1 | kBsy0), kLock | kBsy1);
  EXPECT_EQ(f.Get(kCr1) & (kB1s | kB0s), kB1s);
  f.Set(kAr, 0x1234);  // ignored while locked
  t.Wait(100000);
  EXPECT_EQ(f.Get(kCr0) & (kLock | kBsy1 | kSer | kWms), 0u);
  EXPECT_EQ(f.Get(kAr), 0u);
}

TEST(Str71xFlash, ProtectionIsNonVolatile) {
  auto dir = FreshDirectory();
  {
    TestBoard t(StrBoard(), dir);
    Interface f(t);
    EXPECT_EQ(f.Run(str71x::kSpr, str71x::kNvwpar, 0xFFFEFFFF), 0u);
  }
  TestBoard t(StrBoard(), dir);
  Interface f(t);
  EXPECT_EQ(f.Get(str71x::kNvwpar), 0xFFFEFFFFu);
  EXPECT_EQ(f.Run(str71x::kWpg, 0x0C0000, 0), str71x::kErr | str71x::kWpf);
}

}  // namespace
}  // namespace simboard
