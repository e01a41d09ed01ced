// The on-chip flash and NAND loaders on virtual boards of their chips, run
// as the host runs them.
#include <gtest/gtest.h>

#include <random>

#include "loaders/tests/loader_bench.h"

namespace romsmith::loader_testing {
namespace {

std::vector<std::uint8_t> RandomBytes(std::size_t count, unsigned seed) {
  std::mt19937 random(seed);
  std::vector<std::uint8_t> bytes(count);
  for (auto& b : bytes) b = static_cast<std::uint8_t>(random());
  return bytes;
}

// ------------------------------------------------------------------ NAND

struct NandCase {
  const char* loader;
  const char* controller;
  const char* chip;
  std::uint32_t page_size;
  std::uint32_t pages_per_block;
  std::uint32_t device_code;
};

constexpr std::uint32_t kNandRam = 0x30000000;

class NandLoader : public ::testing::TestWithParam<NandCase> {
 protected:
  LoaderBench MakeBench() {
    const NandCase& c = GetParam();
    return LoaderBench(std::string("[Board]\nCore=ARM9TDMI\nClockKHz=200000\n"
                                   "[Region1]\nKind=RAM\nBase=$30000000\nSize=64K\n"
                                   "[Region2]\nKind=NAND\nBase=$4E000000\nController=") +
                           c.controller + "\nChip=" + c.chip + "\nImage=nand.bin\nBadBlocks=3,33\n",
                       c.loader, kNandRam, 3072);
  }
  Params Block(std::uint8_t operation, std::uint32_t first = 0, std::uint32_t last = 0) {
    Params p;
    p.operation = operation;
    p.cycle_address[0] = first;
    p.cycle_address[1] = last;
    p.cycle_data[0] = GetParam().page_size;
    p.cycle_data[1] = GetParam().pages_per_block;
    return p;
  }
  Params Chunk(std::uint8_t operation, std::uint32_t offset, bool verify = false) {
    Params p;
    p.operation = operation;
    p.auto_verify = verify;
    p.flash_start = 0x1000000;  // the configuration's flash start, taken off by the loader
    p.address = p.flash_start + offset;
    p.length = 4096;
    p.cycle_data[0] = GetParam().page_size;
    return p;
  }
  std::uint32_t BlockBytes() { return GetParam().page_size * GetParam().pages_per_block; }
  std::vector<std::uint8_t> DataArea(LoaderBench& bench) {
    std::vector<std::uint8_t> bytes(4096);
    EXPECT_TRUE(bench.board().Peek(kNandRam + 3072 + 100, 4096, bytes.data()));
    return bytes;
  }
};

TEST_P(NandLoader, DeviceCodeAndCheckBlockMasksPerGroup) {
  LoaderBench bench = MakeBench();
  // The host sends the device code with no geometry at all.
  Params device_code;
  device_code.operation = 18;
  ASSERT_EQ(bench.Run(device_code), RunEnd::Finished);
  EXPECT_EQ(bench.DeviceCode(), GetParam().device_code);
  ASSERT_EQ(bench.Run(Block(15, 0, 31)), RunEnd::Finished);
  EXPECT_EQ(bench.ParamsWord(20), 1u << 3);
  ASSERT_EQ(bench.Run(Block(15, 32, 40)), RunEnd::Finished);
  EXPECT_EQ(bench.ParamsWord(20), 1u << 1);
}

TEST_P(NandLoader, ProgramUploadAndEraseKeepingTheFactoryMarks) {
  LoaderBench bench = MakeBench();
  const std::uint32_t block = BlockBytes();
  struct Step {
    const char* what;
    std::uint32_t offset;
    unsigned seed;
  };
  const Step steps[] = {{"first chunk of block 1", block, 1},
                        {"second chunk of block 1", block + 4096, 2},
                        {"a chunk of block 4", 4 * block + 8192, 3}};
  for (const auto& s : steps) {
    ASSERT_EQ(bench.Run(Chunk(14, s.offset, true), RandomBytes(4096, s.seed)), RunEnd::Finished) << s.what;
    EXPECT_EQ(bench.ResultByte(), 0) << s.what;
  }
  for (const auto& s : steps) {
    ASSERT_EQ(bench.Run(Chunk(16, s.offset)), RunEnd::Finished) << s.what;
    EXPECT_EQ(DataArea(bench), RandomBytes(4096, s.seed)) << s.what;
  }
  // Erase blocks 0-5: the data goes, bad block 3 keeps its mark.
  ASSERT_EQ(bench.Run(Block(13, 0, 5)), RunEnd::Finished);
  ASSERT_EQ(bench.Run(Chunk(17, block)), RunEnd::Finished);
  EXPECT_EQ(DataArea(bench), std::vector<std::uint8_t>(4096, 0xFF));
  ASSERT_EQ(bench.Run(Block(15, 0, 5)), RunEnd::Finished);
  EXPECT_EQ(bench.ParamsWord(20), 1u << 3);
}

TEST_P(NandLoader, ProgramIntoABadBlockReportsThroughTheResultByte) {
  LoaderBench bench = MakeBench();
  ASSERT_EQ(bench.Run(Chunk(14, 3 * BlockBytes(), true), RandomBytes(4096, 9)), RunEnd::Finished);
  EXPECT_EQ(bench.ResultByte(), 1);
  // Without auto verify there is no result to read: the run parks for the
  // host's time-out.
  EXPECT_EQ(bench.Run(Chunk(14, 3 * BlockBytes(), false), RandomBytes(4096, 9), 2000000), RunEnd::Parked);
}

INSTANTIATE_TEST_SUITE_P(
    Chips, NandLoader,
    ::testing::Values(NandCase{"nan24l", "S3C2410", "K9F1208U0B", 512, 32, 0xEC76},
                      NandCase{"nan65l", "S3C2440", "K9F1208U0B", 512, 32, 0xEC76},
                      NandCase{"nan24l", "S3C2410", "K9F1G08U0A", 2048, 64, 0xECF1},
                      NandCase{"nan65l", "S3C2440", "K9F1G08U0A", 2048, 64, 0xECF1}),
    [](const auto& info) { return std::string(info.param.loader) + "_" + info.param.chip; });

// ------------------------------------------------------------------ LPC2000

TEST(LpcLoader, ProgramsTheLastUserSectorAndReadsThePartId) {
  LoaderBench bench("[Board]\nCore=ARM7TDMI\nClockKHz=12000\n"
                    "[Region1]\nKind=RAM\nBase=$40000000\nSize=32K\n"
                    "[Region2]\nKind=LPC\nBase=0\nModel=LPC2148\nImage=flash.bin\n",
                    "lpcl", 0x40000000);
  Params id;
  id.operation = 8;
  ASSERT_EQ(bench.Run(id), RunEnd::Finished);
  EXPECT_EQ(bench.DeviceCode(), 0x0402FF25u);

  // The last 1024 bytes of sector 26: the host names sectors 26 to 27, and
  // 27 is the boot block.
  Params program;
  program.operation = 4;
  program.cycle_count = 26;
  program.width_bytes = 27;
  program.auto_verify = 1;
  program.flash_start = 11059;  // the crystal in kHz
  program.address = 0x7CC00;
  program.length = 1024;
  const auto data = RandomBytes(1024, 4);
  ASSERT_EQ(bench.Run(program, data), RunEnd::Finished);
  EXPECT_EQ(bench.ResultByte(), 0);
  EXPECT_EQ(bench.Flash(0x7CC00, 1024), data);

  Params erase;
  erase.operation = 3;
  erase.cycle_count = 26;
  erase.width_bytes = 26;
  erase.flash_start = 11059;
  ASSERT_EQ(bench.Run(erase), RunEnd::Finished);
  EXPECT_EQ(bench.Flash(0x7CC00, 4), std::vector<std::uint8_t>(4, 0xFF));
  // A sector the part does not have: IAP refuses, the run parks.
  erase.cycle_count = erase.width_bytes = 30;
  EXPECT_EQ(bench.Run(erase, {}, 2000000), RunEnd::Parked);
}

// ------------------------------------------------------------------ AT91SAM7S

TEST(Sam7Loader, ChipEraseClearsLocksAndProtectSetsThem) {
  LoaderBench bench("[Board]\nCore=ARM7TDMI\nClockKHz=48000\n"
                    "[Region1]\nKind=RAM\nBase=$00200000\nSize=64K\n"
                    "[Region2]\nKind=SAM7\nBase=$00100000\nModel=AT91SAM7S256\nImage=flash.bin\n",
                    "saml", 0x00200000);
  auto locks = [&] {
    std::uint32_t value = 0;
    bench.board().bus().Read(0xFFFFFF68, simboard::AccessSize::Word, simboard::AccessKind::DataRead, value);
    return value >> 16;
  };
  const auto data = RandomBytes(16384, 5);
  Params program;
  program.operation = 4;
  program.auto_verify = 1;
  program.flash_start = 0x00100000;
  program.address = 0x00104000;  // lock region 1, whole
  program.length = 16384;
  ASSERT_EQ(bench.Run(program, data), RunEnd::Finished);
  EXPECT_EQ(bench.ResultByte(), 0);
  EXPECT_EQ(bench.Flash(0x00104000, 16384), data);

  Params protect;
  protect.operation = 5;
  protect.address = 0x00104000;
  ASSERT_EQ(bench.Run(protect), RunEnd::Finished);
  EXPECT_EQ(locks(), 0x2u);

  Params erase;
  erase.operation = 3;
  erase.cycle_count = 1;
  erase.flash_start = erase.address = erase.cycle_address[0] = 0x00100000;
  erase.cycle_data[0] = 8;  // the chip erase
  ASSERT_EQ(bench.Run(erase), RunEnd::Finished);
  EXPECT_EQ(locks(), 0u);
  EXPECT_EQ(bench.Flash(0x00104000, 4), std::vector<std::uint8_t>(4, 0xFF));
  Params id;
  id.operation = 8;
  ASSERT_EQ(bench.Run(id), RunEnd::Finished);
  EXPECT_EQ(bench.DeviceCode(), 0x270B0940u);
}

// ------------------------------------------------------------------ STR71x

TEST(Str71xLoader, ProtectedSectorsRefuseAndOneOverZeroFailsVerify) {
  LoaderBench bench("[Board]\nCore=ARM7TDMI\nClockKHz=16000\n"
                    "[Region1]\nKind=RAM\nBase=$20000000\nSize=64K\n"
                    "[Region2]\nKind=STR71x\nBase=$40000000\nModel=STR711\nImage=flash.bin\n",
                    "str71x", 0x20000000);
  Params program;
  program.operation = 4;
  program.auto_verify = 1;
  program.address = 0x400C0400;  // bank 1
  program.length = 1024;
  const auto data = RandomBytes(1024, 6);
  ASSERT_EQ(bench.Run(program, data), RunEnd::Finished);
  EXPECT_EQ(bench.ResultByte(), 0);
  EXPECT_EQ(bench.Flash(0x400C0400, 1024), data);
  // Programming ones over the zeros just written cannot verify.
  ASSERT_EQ(bench.Run(program, std::vector<std::uint8_t>(1024, 0xFE)), RunEnd::Finished);
  EXPECT_EQ(bench.ResultByte(), 1);

  Params protect;
  protect.operation = 5;
  protect.address = 0x400C0000;
  ASSERT_EQ(bench.Run(protect), RunEnd::Finished);
  const auto before = bench.Flash(0x400C0400, 1024);
  Params erase;
  erase.operation = 3;
  erase.address = 0x400C0000;
  EXPECT_EQ(bench.Run(erase, {}, 2000000), RunEnd::Parked) << "a protected sector is never erased";
  EXPECT_EQ(bench.Flash(0x400C0400, 1024), before);
  erase.address = 0x40004000;  // bank 0 sector 2
  EXPECT_EQ(bench.Run(erase), RunEnd::Finished);
  erase.address = 0x40004100;  // not a sector's start
  EXPECT_EQ(bench.Run(erase, {}, 2000000), RunEnd::Parked);
}

}  // namespace
}  // namespace romsmith::loader_testing
