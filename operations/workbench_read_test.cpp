// The host-read commands and the second loader family against the
// in-process target.
#include <algorithm>
#include <chrono>
#include <functional>
#include <thread>

#include "operations/target_checksum.h"
#include "operations/testing/workbench_fixture.h"

namespace romsmith::testing {
namespace {

using Texts = std::vector<std::string>;
using std::chrono::milliseconds;

std::uint32_t LittleWord(const std::vector<std::uint8_t>& bytes, std::size_t at) {
  return bytes[at] | (bytes[at + 1] << 8) | (bytes[at + 2] << 16) |
         (static_cast<std::uint32_t>(bytes[at + 3]) << 24);
}

std::string Pattern(std::size_t length, unsigned seed = 5) {
  std::string bytes(length, '\0');
  for (std::size_t i = 0; i < length; ++i)
    bytes[i] = static_cast<char>((i * 13 + seed + i / 509) & 0xFF);
  return bytes;
}

class ReadTest : public WorkbenchTest {
 protected:
  void SelectSectors(int from, int to) {
    bench_->pages().flash.sector_from = from;
    bench_->pages().flash.sector_to = to;
  }
  void PutFlash(std::size_t offset, const std::string& bytes) {
    std::copy(bytes.begin(), bytes.end(),
              target_->flash().begin() + static_cast<std::ptrdiff_t>(offset));
  }
  std::string UploadPath() {
    const auto path = dir_ / "upload.bin";
    keep_.insert("upload.bin");
    bench_->pages().program.upload_file = path.string();
    return path.string();
  }
  void UseProgram(const std::string& bytes) {
    WriteFileBytes(dir_ / "image.bin", bytes);
    keep_.insert("image.bin");
    bench_->pages().program.program_file = (dir_ / "image.bin").string();
  }
};

TEST_F(ReadTest, BlankCheckReportsTheFirstWrittenByte) {
  EXPECT_EQ(Run(&Workbench::OnBlankCheck), CommandOutcome::kSucceeded);
  EXPECT_EQ(Lines(), (Texts{"Info: start blank check...\n", "Info: blank check success.\n"}));
  EXPECT_EQ(target_->calls("dump"), 32);
  EXPECT_EQ(frontend_->range_high, 32);
  EXPECT_EQ(frontend_->steps, 32);
  EXPECT_EQ(frontend_->position, 0);

  target_->flash()[5] = 0x00;
  target_->flash()[9] = 0x12;
  EXPECT_EQ(Run(&Workbench::OnBlankCheck), CommandOutcome::kFailed);
  EXPECT_EQ(LastLine(), "Error: blank check failed, address 0x00000005 contain data 0x00.\n");
  EXPECT_TRUE(frontend_->lines.back().error);
  EXPECT_FALSE(frontend_->animating);
  EXPECT_EQ(frontend_->position, 0);

  // Only the selected sectors are read.
  SelectSectors(2, 3);
  EXPECT_EQ(Run(&Workbench::OnBlankCheck), CommandOutcome::kSucceeded);
  target_->flash()[3 * 4096 + 7] = 0xFE;
  EXPECT_EQ(Run(&Workbench::OnBlankCheck), CommandOutcome::kSucceeded);
  SelectSectors(4, 4);
  EXPECT_EQ(Run(&Workbench::OnBlankCheck), CommandOutcome::kFailed);
  EXPECT_EQ(LastLine(), "Error: blank check failed, address 0x00003007 contain data 0xFE.\n");
}

TEST_F(ReadTest, ChecksumIsThePlainSixteenBitSum) {
  SelectSectors(1, 1);
  EXPECT_EQ(Run(&Workbench::OnChecksum), CommandOutcome::kSucceeded);
  EXPECT_EQ(LastLine(), "Info: checksum completed, it is 0xF000.\n");  // 4096 x 0xFF
  PutFlash(4096, std::string(4096, '\0'));
  target_->flash()[4096] = 0x34;
  target_->flash()[4097] = 0x12;
  SelectSectors(2, 2);
  EXPECT_EQ(Run(&Workbench::OnChecksum), CommandOutcome::kSucceeded);
  EXPECT_EQ(LastLine(), "Info: checksum completed, it is 0x0046.\n");

  target_->FailAfter("dump", 0);
  EXPECT_EQ(Run(&Workbench::OnChecksum), CommandOutcome::kFailed);
  EXPECT_EQ(LinesFrom("Error: dump"),
            (Texts{"Error: dump memory failed.", "Error: read Flash memory failed.\n"}));
}

TEST_F(ReadTest, UploadWritesTheRangeAndAsksBeforeOverwriting) {
  const std::string image = Pattern(8192);
  PutFlash(4096, image);
  const std::string path = UploadPath();
  SelectSectors(2, 3);
  EXPECT_EQ(Run(&Workbench::OnUpload), CommandOutcome::kSucceeded);
  EXPECT_EQ(Lines(), (Texts{"Info: start upload...\n", "Info: upload completed.\n"}));
  EXPECT_EQ(ReadFileText(path), image);

  // A cancel is the user's choice: a stop, with no line of its own.
  frontend_->answers = {platform::MessageAnswer::Cancel};
  const int dumps = target_->calls("dump");
  EXPECT_EQ(Run(&Workbench::OnUpload), CommandOutcome::kStopped);
  ASSERT_EQ(frontend_->questions.size(), 1u);
  EXPECT_EQ(frontend_->questions[0].text, "Overwrite " + path + "?");
  EXPECT_EQ(frontend_->questions[0].buttons, platform::MessageButtons::OkCancel);
  EXPECT_EQ(LastLine(), "Info: start upload...\n");
  EXPECT_TRUE(bench_->last_report().result.cancelled);
  EXPECT_EQ(target_->calls("dump"), dumps);
  EXPECT_EQ(ReadFileText(path), image);

  bench_->pages().program.upload_file = (dir_ / "no-such-dir" / "u.bin").string();
  EXPECT_EQ(Run(&Workbench::OnUpload), CommandOutcome::kFailed);
  EXPECT_EQ(LastLine(), "Error: the directory of upload file " + (dir_ / "no-such-dir" / "u.bin").string() +
                            " does not exist, upload stopped.\n");
}

TEST_F(ReadTest, UploadThatReadsNothingOrCannotNameItsFileKeepsTheOldFile) {
  const std::string path = UploadPath();
  WriteFileBytes(path, "old contents");
  frontend_->answers = {platform::MessageAnswer::Ok};
  target_->FailAfter("dump", 0);
  EXPECT_EQ(Run(&Workbench::OnUpload), CommandOutcome::kFailed);
  EXPECT_EQ(LastLine(), "Error: read Flash memory failed.\n");
  EXPECT_EQ(ReadFileText(path), "old contents");

  // A name of 260 characters or more, in a directory that exists: refused,
  // nothing written or asked.
  const std::filesystem::path deep = dir_ / std::string(200, 'd');
  std::filesystem::create_directory(deep);
  keep_.insert(deep.filename().string());
  const std::filesystem::path long_name = deep / (std::string(60, 'u') + ".bin");
  bench_->pages().program.upload_file = long_name.string();
  frontend_->questions.clear();
  EXPECT_EQ(Run(&Workbench::OnUpload), CommandOutcome::kFailed);
  EXPECT_EQ(LastLine(), "Error: file name error.\n");
  EXPECT_TRUE(frontend_->questions.empty());
  EXPECT_TRUE(std::filesystem::is_empty(deep));
}

TEST_F(ReadTest, VerifyOfAnEmptyFileIsNoSuccess) {
  UseProgram("");
  EXPECT_EQ(Run(&Workbench::OnVerify), CommandOutcome::kFailed);
  EXPECT_EQ(LastLine(), "Error: verify failed, the program file is empty.\n");
}

TEST_F(ReadTest, StoppedUploadKeepsTheWholeBlocksRead) {
  UploadPath();
  target_->set_dump_delay_ms(4);
  WriteSettings();
  ASSERT_TRUE(bench_->OnUpload());
  while (target_->calls("dump") < 4) std::this_thread::sleep_for(milliseconds(1));
  bench_->OnCloseOrStop();
  bench_->WaitForCommand();
  EXPECT_EQ(bench_->outcome(), CommandOutcome::kStopped);
  EXPECT_EQ(LastLine(), "Info: user stop upload.\n");
  const auto size = std::filesystem::file_size(dir_ / "upload.bin");
  EXPECT_EQ(size % 1024, 0u);
  EXPECT_EQ(size, static_cast<std::uintmax_t>(target_->calls("dump")) * 1024);
  EXPECT_LT(size, 32u * 1024);
}

TEST_F(ReadTest, UploadToAFullDeviceReportsTheFileException) {
  if (!std::filesystem::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
  bench_->pages().program.upload_file = "/dev/full";
  frontend_->answers = {platform::MessageAnswer::Ok};
  EXPECT_EQ(Run(&Workbench::OnUpload), CommandOutcome::kFailed);
  EXPECT_EQ(LastLine(), "Error: file exception, the disk is full, upload failed.\n");
  EXPECT_EQ(frontend_->position, 0);
}

// The host's CRC must be the one the target routine builds its table for:
// the standard check values, and the polynomial the image hands it.
TEST(TargetChecksum, CrcIsTheStandardCrc32AndTheImageCarriesItsPolynomial) {
  const std::string check = "123456789";
  EXPECT_EQ(Crc32(reinterpret_cast<const std::uint8_t*>(check.data()), check.size()), 0xCBF43926u);
  EXPECT_EQ(Crc32(nullptr, 0), 0u);
  const std::uint8_t zeros[4] = {};
  EXPECT_EQ(Crc32(zeros, 4), 0x2144DF1Cu);
  for (bool big : {false, true}) {
    const std::vector<std::uint8_t> image = ChecksumProgramImage(big);
    ASSERT_EQ(image.size(), ChecksumProgramLayout::kImageSize);
    const std::size_t at = ChecksumProgramLayout::kParameters + 12;
    const std::uint32_t word = big ? (image[at] << 24 | image[at + 1] << 16 | image[at + 2] << 8 | image[at + 3])
                                   : LittleWord(image, at);
    EXPECT_EQ(word, 0xEDB88320u) << big;
  }
}

TEST_F(ReadTest, VerifyComparesTheFileOverItsOwnLength) {
  const std::string image = Pattern(1500);
  PutFlash(0, image);
  UseProgram(image);
  EXPECT_EQ(Run(&Workbench::OnVerify), CommandOutcome::kSucceeded);
  EXPECT_EQ(Lines(), (Texts{"Info: start verify...\n", "Info: verify success.\n"}));
  EXPECT_EQ(target_->calls("dump"), 2);
  EXPECT_EQ(frontend_->range_high, 1);
  EXPECT_FALSE(std::count(frontend_->events.begin(), frontend_->events.end(), "animation start"));

  target_->flash()[1400] ^= 0x01;
  EXPECT_EQ(Run(&Workbench::OnVerify), CommandOutcome::kFailed);
  EXPECT_EQ(LastLine(), "Error: verify failed, different at address 0x00000578.\n");

  // A file one byte longer than the range fails before reading flash.
  SelectSectors(1, 1);
  UseProgram(Pattern(4097));
  const int dumps = target_->calls("dump");
  EXPECT_EQ(Run(&Workbench::OnVerify), CommandOutcome::kFailed);
  EXPECT_EQ(LastLine(), "Error: verify failed, file length is beyond flash memory.\n");
  EXPECT_EQ(target_->calls("dump"), dumps);

  bench_->pages().program.program_file = (dir_ / "missing.bin").string();
  EXPECT_EQ(Run(&Workbench::OnVerify), CommandOutcome::kFailed);
  EXPECT_EQ(LastLine(), "Error: cannot find program file.\n");
}

// ---------------------------------------------------------------- second family

class NandTest : public ReadTest {
 protected:
  void SetUp() override {
    BenchOptions options;
    options.cpu_name = "S3C2410 (Nand)";
    options.flash_name = "K9F1208";
    options.width = 8;
    options.sector_sizes = std::vector<std::int32_t>(48, 16384);
    options.nand = true;
    Build(options);
    WriteFileBytes(dir_ / "loader.bin", std::string(3000, '\x33'));
  }
  std::vector<std::uint32_t> ChunkOffsets() const {
    std::vector<std::uint32_t> offsets;
    for (const auto& run : target_->runs()) offsets.push_back(LittleWord(run.params, 12));
    return offsets;
  }
};

TEST_F(NandTest, CheckBlockGoesInGroupsOfThirtyTwoAndFillsTheTable) {
  target_->MarkBad(0);
  target_->MarkBad(2);
  target_->MarkBad(33);
  SelectSectors(1, 41);
  EXPECT_EQ(Run(&Workbench::OnProtect), CommandOutcome::kSucceeded);
  EXPECT_EQ(Lines(), (Texts{"Info: start check block...\n", "Info: block check completed.\n"}));
  const auto runs = target_->runs();
  ASSERT_EQ(runs.size(), 2u);
  EXPECT_EQ(runs[0].params[0], 15);
  EXPECT_EQ(LittleWord(runs[0].params, 20), 0u);
  EXPECT_EQ(LittleWord(runs[0].params, 24), 31u);
  EXPECT_EQ(LittleWord(runs[0].params, 60), 512u);
  EXPECT_EQ(LittleWord(runs[0].params, 64), 32u);
  EXPECT_EQ(LittleWord(runs[1].params, 20), 32u);
  EXPECT_EQ(LittleWord(runs[1].params, 24), 40u);
  const auto& table = bench_->bad_block_table();
  EXPECT_EQ(table[0], 1);
  EXPECT_EQ(table[1], 0);
  EXPECT_EQ(table[2], 1);
  EXPECT_EQ(table[33], 1);
  EXPECT_EQ(table[40], 0);
  EXPECT_EQ(frontend_->range_high, 41);
  EXPECT_NE(std::find(frontend_->events.begin(), frontend_->events.end(), "position 32"),
            frontend_->events.end());
  // The image area is 3072 bytes here.
  EXPECT_EQ(target_->ReadRamWord(0x0C000000 + 2996), 0x33333333u);
  EXPECT_EQ(target_->ReadRamWord(0x0C000000 + 3000), 0xFFFFFFFFu);
}

TEST_F(NandTest, UnreadBadBlockMaskFailsTheCheckAndKeepsTheEarlierMarks) {
  target_->MarkBad(1);
  target_->MarkBad(35);
  SelectSectors(1, 41);
  ASSERT_EQ(Run(&Workbench::OnProtect), CommandOutcome::kSucceeded);
  // The second group's mask cannot be read: its blocks keep what the last
  // check found instead of all counting as good.
  target_->MarkBad(3);
  // Each run's mark, then its mask: the second group's mask fails.
  target_->FailAfter("read", 3);
  EXPECT_EQ(Run(&Workbench::OnProtect), CommandOutcome::kFailed);
  EXPECT_EQ(LinesFrom("Info: start check block...\n"),
            (Texts{"Info: start check block...\n", "Error: read memory failed.",
                   "Error: read memory failed, block check failed.\n"}));
  const auto& table = bench_->bad_block_table();
  EXPECT_EQ(table[1], 1);
  EXPECT_EQ(table[3], 1);   // the first group was read
  EXPECT_EQ(table[35], 1);  // the second kept its mark
}

TEST_F(NandTest, EraseSetsItsOwnFlagAndProgramWalksOverBadBlocks) {
  SelectSectors(1, 4);
  EXPECT_EQ(Run(&Workbench::OnErase), CommandOutcome::kSucceeded);
  EXPECT_EQ(Lines(), (Texts{"Info: start erase...\n", "Info: erase completed.\n"}));
  EXPECT_TRUE(bench_->last_report().result.completed);
  EXPECT_EQ(bench_->last_report().code, CommandCode::kNandErase);
  EXPECT_EQ(target_->runs()[0].params[0], 13);

  target_->MarkBad(1);
  Run(&Workbench::OnProtect);  // check block marks block 1
  const std::string image = Pattern(5 * 4096 - 100);
  UseProgram(image);
  const std::size_t before = target_->runs().size();
  EXPECT_EQ(Run(&Workbench::OnProgram), CommandOutcome::kSucceeded);
  EXPECT_EQ(LastLine(), "Info: program completed.\n");
  auto offsets = ChunkOffsets();
  offsets.erase(offsets.begin(), offsets.begin() + static_cast<std::ptrdiff_t>(before));
  EXPECT_EQ(offsets, (std::vector<std::uint32_t>{0, 4096, 8192, 12288, 32768}));
  const auto last = target_->runs().back();
  EXPECT_EQ(last.params[0], 14);
  EXPECT_EQ(LittleWord(last.params, 16), 4096u);
  EXPECT_EQ(last.data.size(), 4096u);
  EXPECT_EQ(std::string(target_->flash().begin(), target_->flash().begin() + 16384),
            image.substr(0, 16384));
  EXPECT_EQ(std::string(target_->flash().begin() + 32768, target_->flash().begin() + 32768 + 3996),
            image.substr(16384));

  // The capacity leaves out bad blocks.
  UseProgram(Pattern(3 * 16384 + 1));
  EXPECT_EQ(Run(&Workbench::OnProgram), CommandOutcome::kFailed);
  EXPECT_EQ(LastLine(), "Error: program file too large, program failed.\n");
}

TEST_F(NandTest, UploadEndsAfterTheLastGoodBlockAndVerifyReportsFileOffsets) {
  target_->MarkBad(2);
  SelectSectors(1, 4);
  Run(&Workbench::OnProtect);
  const std::string image = Pattern(3 * 16384);
  std::copy(image.begin(), image.begin() + 32768, target_->flash().begin());
  std::copy(image.begin() + 32768, image.end(), target_->flash().begin() + 3 * 16384);
  const std::string path = UploadPath();
  EXPECT_EQ(Run(&Workbench::OnUpload), CommandOutcome::kSucceeded);
  EXPECT_EQ(LastLine(), "Info: upload success.\n");
  EXPECT_EQ(ReadFileText(path), image);
  EXPECT_EQ(frontend_->range_high, 4);

  UseProgram(image.substr(0, 40000));
  EXPECT_EQ(Run(&Workbench::OnVerify), CommandOutcome::kSucceeded);
  EXPECT_EQ(LastLine(), "Info: verify success.\n");
  target_->flash()[3 * 16384 + 10] ^= 0x80;  // file offset 32768 + 10
  EXPECT_EQ(Run(&Workbench::OnVerify), CommandOutcome::kFailed);
  EXPECT_EQ(LastLine(), "Error: verify failed, different at address 0x0000800a.\n");
  EXPECT_EQ(frontend_->position, 0);
}

// A program, upload or verify whose blocks no check block has looked at
// checks them first, so nothing lands in or is read from a bad block; blocks
// known from an earlier check are not checked again.
TEST_F(NandTest, BlocksNotCheckedYetAreCheckedBeforeDataMoves) {
  const std::string checking = "Info: bad blocks of the selected blocks not known yet, checking them first.\n";
  const Texts check_lines{checking, "Info: start check block...\n", "Info: block check completed.\n"};
  target_->MarkBad(1);
  const std::string image = Pattern(2 * 16384);
  UseProgram(image);
  SelectSectors(1, 4);
  const std::string upload = UploadPath();
  auto checks = [&] {
    const auto runs = target_->runs();
    return std::count_if(runs.begin(), runs.end(), [](const auto& run) { return run.params[0] == 15; });
  };
  struct Step {
    const char* what;
    int from, to;
    bool (Workbench::*entry)();
    const char* last_line;
    bool checks_first;
  };
  const Step steps[] = {
      {"program, nothing known", 1, 4, &Workbench::OnProgram, "Info: program completed.\n", true},
      {"verify, the same blocks", 1, 4, &Workbench::OnVerify, "Info: verify success.\n", false},
      {"upload, a part of them", 2, 3, &Workbench::OnUpload, "Info: upload success.\n", false},
      {"verify, one block more", 1, 5, &Workbench::OnVerify, "Info: verify success.\n", true},
  };
  for (const Step& step : steps) {
    SCOPED_TRACE(step.what);
    SelectSectors(step.from, step.to);
    const auto checks_before = checks();
    const std::size_t lines_before = Lines().size();
    EXPECT_EQ(Run(std::mem_fn(step.entry)), CommandOutcome::kSucceeded);
    EXPECT_EQ(LastLine(), step.last_line);
    const Texts lines = Lines();
    const Texts head(lines.begin() + static_cast<std::ptrdiff_t>(lines_before),
                     lines.begin() + static_cast<std::ptrdiff_t>(std::min(lines.size(), lines_before + 3)));
    if (step.checks_first) {
      EXPECT_EQ(head, check_lines);
      EXPECT_GT(checks(), checks_before);
    } else {
      EXPECT_NE(head.front(), checking);
      EXPECT_EQ(checks(), checks_before);
    }
  }
  EXPECT_EQ(bench_->bad_block_table()[1], 1);
  EXPECT_EQ(std::string(target_->flash().begin() + 16384, target_->flash().begin() + 32768),
            std::string(16384, '\xFF'))
      << "nothing was written into the bad block";
  EXPECT_EQ(std::string(target_->flash().begin() + 32768, target_->flash().begin() + 49152),
            image.substr(16384));
  EXPECT_EQ(ReadFileText(upload), image.substr(16384)) << "block 2 alone: block 1 is bad";
}

// Upload writes beside its file and replaces it with what it read, also
// after a failure part way; with nothing read, or on Cancel, the old file
// stays; no file is left beside it.
TEST_F(NandTest, UploadReplacesTheOldFileOnlyWithWhatItRead) {
  SelectSectors(1, 1);
  Run(&Workbench::OnProtect);
  const std::string image = Pattern(16384);
  PutFlash(0, image);
  const std::string path = UploadPath();
  struct Case {
    const char* what;
    int dumps_before_failure;  // -1: none fails
    platform::MessageAnswer answer;
    CommandOutcome outcome;
    std::string kept;
  };
  const Case cases[] = {
      {"nothing read", 0, platform::MessageAnswer::Ok, CommandOutcome::kFailed, "old contents"},
      {"one chunk read", 1, platform::MessageAnswer::Ok, CommandOutcome::kFailed, image.substr(0, 4096)},
      {"cancelled", -1, platform::MessageAnswer::Cancel, CommandOutcome::kStopped, "old contents"},
      {"all read", -1, platform::MessageAnswer::Ok, CommandOutcome::kSucceeded, image},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    WriteFileBytes(path, "old contents");
    frontend_->answers = {c.answer};
    target_->FailAfter("dump", c.dumps_before_failure < 0 ? 1 << 30 : c.dumps_before_failure);
    EXPECT_EQ(Run(&Workbench::OnUpload), c.outcome);
    EXPECT_EQ(ReadFileText(path), c.kept);
    EXPECT_TRUE(StrayFiles().empty());
  }
}

// In debug mode no loader runs: no check either, the debug files hold the
// command's own blocks.
TEST_F(NandTest, DebugModeRunsNoCheckFirst) {
  debug_ = 1;
  debug_file_ = (dir_ / "P").string();
  keep_ = {"P0", "P1", "P2"};
  UseProgram(Pattern(5000));
  EXPECT_EQ(Run(&Workbench::OnVerify), CommandOutcome::kSucceeded);
  EXPECT_EQ(Lines().front(), "Info: start verify...\n");
  EXPECT_EQ(static_cast<std::uint8_t>(ReadFileText(dir_ / "P0")[0]), 17);
}

TEST_F(NandTest, AutoVerifiedProgramFailsOnTheLoadersVerdict) {
  UseProgram(Pattern(9000));
  bench_->pages().program.auto_verify = true;
  EXPECT_EQ(Run(&Workbench::OnProgram), CommandOutcome::kSucceeded);
  EXPECT_EQ(LastLine(), "Info: program suceess.\n");
  target_->set_verify_fails(true);
  EXPECT_EQ(Run(&Workbench::OnProgram), CommandOutcome::kFailed);
  EXPECT_EQ(LastLine(), "Error: verify error, program failed.\n");
}

TEST_F(NandTest, OversizedFamilyImageIsRefused) {
  WriteFileBytes(dir_ / "loader.bin", std::string(3073, '\x33'));
  EXPECT_EQ(Run(&Workbench::OnErase), CommandOutcome::kFailed);
  EXPECT_EQ(LastLine(),
            "Error: execute file is 3073 bytes, more than the 3072 bytes of its area, command "
            "stopped.\n");
}

}  // namespace
}  // namespace romsmith::testing
