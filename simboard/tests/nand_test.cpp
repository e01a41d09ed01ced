// NAND chips behind the S3C2410 and S3C2440 controllers, driven over the bus
// as a loader drives them.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <vector>

#include "simboard/nand/nand_controller.h"
#include "simboard/tests/board_test_support.h"

namespace simboard {
namespace {

using testing::FreshDirectory;
using testing::TestBoard;

constexpr std::uint32_t kNand = 0x4E000000;

struct NandSetup {
  const char* controller;
  const char* chip;
};

std::string NandBoard(const NandSetup& s, const std::string& bad = "") {
  return std::string("[Board]\nCore=ARM9TDMI\nClockKHz=200000\n"
                     "[Region1]\nKind=RAM\nBase=$30000000\nSize=64K\n"
                     "[Region2]\nKind=NAND\nBase=$4E000000\nController=") +
         s.controller + "\nChip=" + s.chip + "\nImage=nand.bin\nBadBlocks=" + bad + "\n";
}

// The register offsets that differ between the two controllers.
class Host {
 public:
  Host(TestBoard& t, bool s3c2440) : t_(t), s3c2440_(s3c2440) {
    if (s3c2440_) {
      t_.Write(kNand + 0x04, 0x1, AccessSize::Word);  // NFCONT: mode on, nCE low
    } else {
      t_.Write(kNand + 0x00, 0x8000, AccessSize::Word);  // NFCONF: enable, nFCE low
    }
  }
  void Command(std::uint8_t c) { t_.Write(kNand + (s3c2440_ ? 0x08 : 0x04), c, AccessSize::Byte); }
  void Address(std::uint8_t a) { t_.Write(kNand + (s3c2440_ ? 0x0C : 0x08), a, AccessSize::Byte); }
  std::uint8_t Read() { return static_cast<std::uint8_t>(t_.Read(kNand + (s3c2440_ ? 0x10 : 0x0C), AccessSize::Byte)); }
  void Write(std::uint8_t d) { t_.Write(kNand + (s3c2440_ ? 0x10 : 0x0C), d, AccessSize::Byte); }
  bool Ready() { return t_.Read(kNand + (s3c2440_ ? 0x20 : 0x10), AccessSize::Word) & 1; }
  void WaitReady() {
    for (int i = 0; i < 100000 && !Ready(); ++i) t_.Wait(1);
    ASSERT_TRUE(Ready());
  }
  void PageAddress(const NandPart& part, std::uint32_t page, std::uint32_t column) {
    Address(static_cast<std::uint8_t>(column));
    if (part.large_page) Address(static_cast<std::uint8_t>(column >> 8));
    for (unsigned i = 0; i < part.address_cycles - (part.large_page ? 2 : 1); ++i) {
      Address(static_cast<std::uint8_t>(page >> (8 * i)));
    }
  }
  std::vector<std::uint8_t> ReadPage(const NandPart& part, std::uint32_t page) {
    Command(0x00);
    PageAddress(part, page, 0);
    if (part.large_page) Command(0x30);
    WaitReady();
    std::vector<std::uint8_t> bytes(part.PageTotal());
    for (auto& b : bytes) b = Read();
    return bytes;
  }
  std::uint8_t ProgramPage(const NandPart& part, std::uint32_t page, const std::vector<std::uint8_t>& data) {
    Command(0x00);  // small pages: from area A
    Command(0x80);
    PageAddress(part, page, 0);
    for (auto b : data) Write(b);
    Command(0x10);
    WaitReady();
    Command(0x70);
    return Read();
  }
  std::uint8_t EraseBlock(const NandPart& part, std::uint32_t block) {
    Command(0x60);
    const std::uint32_t page = block * part.pages_per_block;
    for (unsigned i = 0; i < part.address_cycles - (part.large_page ? 2 : 1); ++i) {
      Address(static_cast<std::uint8_t>(page >> (8 * i)));
    }
    Command(0xD0);
    WaitReady();
    Command(0x70);
    return Read();
  }

 private:
  TestBoard& t_;
  bool s3c2440_;
};

class NandTest : public ::testing::TestWithParam<NandSetup> {};

TEST_P(NandTest, IdProgramEraseAndFactoryBadBlocks) {
  const NandSetup setup = GetParam();
  const NandPart& part = *FindNandPart(setup.chip);
  auto dir = FreshDirectory();
  TestBoard t(NandBoard(setup, "3, 17"), dir);
  Host host(t, std::string(setup.controller) == "S3C2440");

  host.Command(0x90);
  host.Address(0);
  for (unsigned i = 0; i < 4; ++i) EXPECT_EQ(host.Read(), part.id[i]) << "ID byte " << i;

  // Bad blocks carry their marker in the first two pages and refuse work.
  for (std::uint32_t block : {3u, 17u}) {
    for (std::uint32_t page : {0u, 1u}) {
      EXPECT_NE(host.ReadPage(part, block * part.pages_per_block + page)[part.BadMarkColumn()], 0xFF);
    }
    EXPECT_EQ(host.EraseBlock(part, block) & nand::kStatusFail, nand::kStatusFail) << block;
    EXPECT_NE(host.ReadPage(part, block * part.pages_per_block)[part.BadMarkColumn()], 0xFF);
  }

  std::vector<std::uint8_t> data(part.PageTotal());
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(i * 7 + 1);
  const std::uint32_t page = 5 * part.pages_per_block + 2;
  EXPECT_EQ(host.ProgramPage(part, page, data), nand::kStatusReady | nand::kStatusNotProtected);
  EXPECT_EQ(host.ReadPage(part, page), data);
  // Programming again with other data only clears bits.
  std::vector<std::uint8_t> zeros(part.PageTotal(), 0xF0);
  host.ProgramPage(part, page, zeros);
  auto both = host.ReadPage(part, page);
  for (std::size_t i = 0; i < data.size(); ++i) ASSERT_EQ(both[i], data[i] & 0xF0) << i;
  EXPECT_EQ(host.EraseBlock(part, 5), nand::kStatusReady | nand::kStatusNotProtected);
  EXPECT_EQ(host.ReadPage(part, page), std::vector<std::uint8_t>(part.PageTotal(), 0xFF));

  // The image holds whole blocks up to the last one written: bad block 17.
  struct stat info {};
  ASSERT_EQ(stat((dir / "nand.bin").c_str(), &info), 0);
  EXPECT_EQ(static_cast<std::uint64_t>(info.st_size), 18ull * part.BlockTotal());
}

INSTANTIATE_TEST_SUITE_P(Controllers, NandTest,
                         ::testing::Values(NandSetup{"S3C2410", "K9F1208U0B"}, NandSetup{"S3C2440", "K9F1208U0B"},
                                           NandSetup{"S3C2410", "K9F1G08U0A"}, NandSetup{"S3C2440", "K9F1G08U0A"}),
                         [](const auto& info) { return std::string(info.param.controller) + "_" + info.param.chip; });

TEST(NandChip, ContentsSurviveReopeningAndSmallPagesReadTheSpareAreaWith0x50) {
  auto dir = FreshDirectory();
  const NandSetup setup{"S3C2410", "K9F1208U0B"};
  const NandPart& part = *FindNandPart(setup.chip);
  std::vector<std::uint8_t> data(part.PageTotal(), 0x3C);
  {
    TestBoard t(NandBoard(setup), dir);
    Host host(t, false);
    host.ProgramPage(part, 40, data);
  }
  TestBoard t(NandBoard(setup), dir);
  Host host(t, false);
  host.Command(0x50);
  host.PageAddress(part, 40, 0);
  host.WaitReady();
  for (unsigned i = 0; i < part.spare_bytes; ++i) EXPECT_EQ(host.Read(), 0x3C) << i;
  // Sequential reading goes on with the spare bytes of the next page.
  host.WaitReady();
  EXPECT_EQ(host.Read(), 0xFF);
}

TEST(NandChip, LargePagesNeedTheReadConfirmAndOfferRandomDataOutput) {
  const NandSetup setup{"S3C2440", "K9F1G08U0A"};
  const NandPart& part = *FindNandPart(setup.chip);
  TestBoard t(NandBoard(setup), FreshDirectory());
  Host host(t, true);
  std::vector<std::uint8_t> data(part.PageTotal());
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(i >> 3);
  host.ProgramPage(part, 7, data);
  host.Command(0x00);
  host.PageAddress(part, 7, 0x100);
  host.Command(0x30);
  host.WaitReady();
  EXPECT_EQ(host.Read(), data[0x100]);
  host.Command(0x05);
  host.Address(0x00);
  host.Address(0x08);  // column 0x800: the spare area
  host.Command(0xE0);
  EXPECT_EQ(host.Read(), data[0x800]);
}

TEST(NandController, S3C2440SoftLockRefusesProgramsOutsideTheUnlockedBlocks) {
  const NandSetup setup{"S3C2440", "K9F1208U0B"};
  const NandPart& part = *FindNandPart(setup.chip);
  TestBoard t(NandBoard(setup), FreshDirectory());
  Host host(t, true);
  t.Write(kNand + 0x38, 32, AccessSize::Word);   // NFSBLK: block 1
  t.Write(kNand + 0x3C, 64, AccessSize::Word);   // NFEBLK: up to block 2
  t.Write(kNand + 0x04, 0x1 | 1u << 12, AccessSize::Word);  // soft lock on
  std::vector<std::uint8_t> data(part.PageTotal(), 0);
  host.ProgramPage(part, 0, data);
  EXPECT_EQ(t.Read(kNand + 0x20, AccessSize::Word) & 0x8, 0x8u) << "IllegalAccess";
  EXPECT_EQ(host.ReadPage(part, 0)[0], 0xFF);
  host.ProgramPage(part, 33, data);
  EXPECT_EQ(host.ReadPage(part, 33)[0], 0x00);
  EXPECT_EQ(t.Read(kNand + 0x00, AccessSize::Word) & 0xE, 0x6u) << "512-byte pages, 4 address cycles";
}

// What a board set-up writes to the controller and reads back, as the two
// user manuals give it: the S3C2410's NFCONF keeps InitECC as written; the
// S3C2440's NFCONT InitECC is write-only, and its NFCONF shows the boot pins
// that describe the chip. Past the last register the bank reads 0 and takes
// no abort, so a debugger's 32-byte block read of any register succeeds.
TEST(NandController, SetUpValuesReadBackAsOnSilicon) {
  struct Case {
    NandSetup setup;
    std::uint32_t offset;
    std::uint32_t written;
    std::uint32_t read;
  };
  const Case cases[] = {
      {{"S3C2410", "K9F1208U0B"}, 0x00, 0xF830, 0xF830},
      {{"S3C2410", "K9F1208U0B"}, 0x18, 0x1234, 0},
      {{"S3C2410", "K9F1208U0B"}, 0x14 + 0x1C, 0x1234, 0},
      {{"S3C2440", "K9F1G08U0A"}, 0x04, 0x0011, 0x0001},
      {{"S3C2440", "K9F1G08U0A"}, 0x00, 0x1000, 0x100C},
      {{"S3C2440", "K9F1208U0B"}, 0x00, 0x1000, 0x1006},
      {{"S3C2440", "K9F1G08U0A"}, 0x3C + 0x1C, 0x1234, 0},
  };
  for (const Case& c : cases) {
    TestBoard t(NandBoard(c.setup), FreshDirectory());
    t.Write(kNand + c.offset, c.written, AccessSize::Word);
    EXPECT_EQ(t.Read(kNand + c.offset, AccessSize::Word), c.read)
        << c.setup.controller << " " << c.setup.chip << " offset " << c.offset;
  }
}

// InitECC held set in NFCONF does not stop the ECC: a later write with it
// set starts the code afresh.
TEST(NandController, S3C2410InitEccHeldSetRestartsTheCodeOnEachWrite) {
  const NandSetup setup{"S3C2410", "K9F1208U0B"};
  const NandPart& part = *FindNandPart(setup.chip);
  TestBoard t(NandBoard(setup), FreshDirectory());
  Host host(t, false);
  std::vector<std::uint8_t> data(part.PageTotal(), 0x00);
  host.ProgramPage(part, 2, data);
  t.Write(kNand, 0xF030, AccessSize::Word);  // enabled, InitECC set, chip selected
  host.Command(0x00);
  host.PageAddress(part, 2, 0);
  host.WaitReady();
  for (unsigned i = 0; i < 16; ++i) host.Read();
  t.Write(kNand, t.Read(kNand, AccessSize::Word), AccessSize::Word);  // read-modify-write
  NandEcc expected;
  for (unsigned i = 16; i < 512; ++i) expected.Add(host.Read());
  EXPECT_EQ(t.Read(kNand + 0x14, AccessSize::Word), expected.Code(9));
}

TEST(NandEcc, CodesFindAndLocateSingleBitErrors) {
  std::vector<std::uint8_t> data(512);
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(i * 13);
  NandEcc good;
  for (auto b : data) good.Add(b);
  const std::uint32_t code = good.Code(9);
  NandEcc erased;
  for (int i = 0; i < 512; ++i) erased.Add(0xFF);
  EXPECT_EQ(erased.Code(9), 0xFFFFFFu) << "erased data gives all ones";
  struct Case {
    std::size_t byte;
    unsigned bit;
  };
  for (const Case c : {Case{0, 0}, Case{511, 7}, Case{200, 3}}) {
    auto bad = data;
    bad[c.byte] ^= static_cast<std::uint8_t>(1u << c.bit);
    NandEcc ecc;
    for (auto b : bad) ecc.Add(b);
    std::uint32_t byte = 0;
    unsigned bit = 0;
    EXPECT_EQ(NandEcc::Check(code, ecc.Code(9), 9, byte, bit), 1u);
    EXPECT_EQ(byte, c.byte);
    EXPECT_EQ(bit, c.bit);
  }
  auto two = data;
  two[1] ^= 1;
  two[2] ^= 1;
  NandEcc ecc;
  for (auto b : two) ecc.Add(b);
  std::uint32_t byte = 0;
  unsigned bit = 0;
  EXPECT_EQ(NandEcc::Check(code, ecc.Code(9), 9, byte, bit), 2u);
  EXPECT_EQ(NandEcc::Check(code ^ 0x10, code, 9, byte, bit), 3u);
}

TEST(NandController, S3C2410EccFollowsTheBytesReadSinceInitEcc) {
  const NandSetup setup{"S3C2410", "K9F1208U0B"};
  const NandPart& part = *FindNandPart(setup.chip);
  TestBoard t(NandBoard(setup), FreshDirectory());
  Host host(t, false);
  std::vector<std::uint8_t> data(part.PageTotal());
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(i ^ 0x5A);
  host.ProgramPage(part, 9, data);
  t.Write(kNand, 0x8000 | 1u << 12, AccessSize::Word);  // InitECC
  host.Command(0x00);
  host.PageAddress(part, 9, 0);
  host.WaitReady();
  NandEcc expected;
  for (unsigned i = 0; i < 512; ++i) expected.Add(host.Read());
  EXPECT_EQ(t.Read(kNand + 0x14, AccessSize::Word), expected.Code(9));
}

}  // namespace
}  // namespace simboard
