// The loader-driven bodies against the in-process target: parameter blocks,
// runs, progress, outcomes, files written and temporary files removed.
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <thread>

#include "formats/data_file.h"
#include "operations/testing/workbench_fixture.h"

namespace romsmith::testing {
namespace {

using Texts = std::vector<std::string>;
using std::chrono::milliseconds;

std::uint32_t LittleWord(const std::vector<std::uint8_t>& bytes, std::size_t at) {
  return bytes[at] | (bytes[at + 1] << 8) | (bytes[at + 2] << 16) |
         (static_cast<std::uint32_t>(bytes[at + 3]) << 24);
}

std::string Pattern(std::size_t length, unsigned seed = 7) {
  std::string bytes(length, '\0');
  for (std::size_t i = 0; i < length; ++i)
    bytes[i] = static_cast<char>((i * 31 + seed + i / 251) & 0xFF);
  return bytes;
}

// Intel HEX text of `bytes` from address 0, 16 bytes a record.
std::string ToHex(const std::string& bytes) {
  std::string text;
  char line[64];
  for (std::size_t at = 0; at < bytes.size(); at += 16) {
    const std::size_t n = std::min<std::size_t>(16, bytes.size() - at);
    unsigned sum = static_cast<unsigned>(n + (at >> 8) + (at & 0xFF));
    std::snprintf(line, sizeof line, ":%02X%04X00", static_cast<unsigned>(n),
                  static_cast<unsigned>(at));
    text += line;
    for (std::size_t i = 0; i < n; ++i) {
      const unsigned byte = static_cast<unsigned char>(bytes[at + i]);
      sum += byte;
      std::snprintf(line, sizeof line, "%02X", byte);
      text += line;
    }
    std::snprintf(line, sizeof line, "%02X\n", (0x100 - (sum & 0xFF)) & 0xFF);
    text += line;
  }
  return text + ":00000001FF\n";
}

class LoaderTest : public WorkbenchTest {
 protected:
  void UseProgram(const std::string& bytes, const std::string& name = "image.bin") {
    WriteFileBytes(dir_ / name, bytes);
    keep_.insert(name);
    bench_->pages().program.program_file = (dir_ / name).string();
    bench_->pages().program.format = "Flat Bin";
  }
  void SelectSectors(int from, int to) {  // counted from 1, as the page shows them
    bench_->pages().flash.sector_from = from;
    bench_->pages().flash.sector_to = to;
  }
  std::string FlashBytes(std::size_t offset, std::size_t length) const {
    return std::string(target_->flash().begin() + static_cast<std::ptrdiff_t>(offset),
                       target_->flash().begin() + static_cast<std::ptrdiff_t>(offset + length));
  }
};

// ---------------------------------------------------------------- parameters

TEST(LoaderParamsPacking, WordsFollowTheTargetByteOrderLeadingBytesDoNot) {
  LoaderParams params;
  params.operation = LoaderOperation::kProgram;
  params.cycle_count = 3;
  params.width_bytes = 2;
  params.chips = 1;
  params.program_mode = 1;
  params.auto_verify = 1;
  params.flash_start = 0x01020304;
  params.address = 0x1000;
  params.length = 1024;
  params.cycle_address[9] = 0xA1B2C3D4;
  params.cycle_data[0] = 0xAA;
  std::uint8_t little[100], big[100];
  PackLoaderParams(little, params, true);
  PackLoaderParams(big, params, false);
  EXPECT_EQ(std::vector<std::uint8_t>(little, little + 8),
            std::vector<std::uint8_t>(big, big + 8));
  EXPECT_EQ(std::vector<std::uint8_t>(little + 12, little + 16),
            (std::vector<std::uint8_t>{0x00, 0x10, 0x00, 0x00}));
  EXPECT_EQ(std::vector<std::uint8_t>(big + 12, big + 16),
            (std::vector<std::uint8_t>{0x00, 0x00, 0x10, 0x00}));
  EXPECT_EQ(std::vector<std::uint8_t>(big + 8, big + 12),
            (std::vector<std::uint8_t>{0x01, 0x02, 0x03, 0x04}));
  EXPECT_EQ(std::vector<std::uint8_t>(big + 56, big + 60),
            (std::vector<std::uint8_t>{0xA1, 0xB2, 0xC3, 0xD4}));
  EXPECT_EQ(big[63], 0xAA);
  EXPECT_EQ(little[60], 0xAA);
}

TEST(LoaderParamsCycles, AddressScalesByBusWidthAndDataIsReplicatedAcrossChips) {
  CommandSequence sequence;
  sequence.count = 2;
  for (std::size_t row = 0; row < 4; ++row) {
    sequence.addresses[row] = {0x555, 0};
    sequence.data[row] = {0xAA, 0x30};
  }
  struct Case {
    std::uint32_t width, chips, address, data;
  };
  const Case cases[] = {
      {1, 1, 0x555, 0xAA},          {1, 2, 0x555 * 2, 0xAAAA},
      {1, 4, 0x555 * 4, 0xAAAAAAAA}, {2, 1, 0x555 * 2, 0xAA},
      {2, 2, 0x555 * 4, 0x00AA00AA}, {4, 1, 0x555 * 4, 0xAA},
  };
  for (const Case& c : cases) {
    LoaderParams params;
    std::uint32_t sector_cycles = 0;
    EXPECT_EQ(BuildCycles(sequence, c.width, c.chips, 0x1000000, params, &sector_cycles), 2);
    EXPECT_EQ(params.cycle_address[0], 0x1000000 + c.address) << c.width << "x" << c.chips;
    EXPECT_EQ(params.cycle_data[0], c.data) << c.width << "x" << c.chips;
    EXPECT_EQ(sector_cycles, 2u);
    EXPECT_EQ(params.cycle_address[2], 0u);
  }
  LoaderParams params;
  std::uint32_t sector_cycles = 0;
  BuildCycles(sequence, 2, 1, 0, params, &sector_cycles);
  SetSectorAddressCycles(params, sector_cycles, 0x8000);
  EXPECT_EQ(params.cycle_address[0], 0x555u * 2);
  EXPECT_EQ(params.cycle_address[1], 0x8000u);
  // More cycles than slots are cut at ten.
  sequence.count = 16;
  EXPECT_EQ(BuildCycles(sequence, 2, 1, 0, params), 10);
}

// ---------------------------------------------------------------- erase

// An empty program file programs and compares nothing: no success line, and
// no loader run, in either family.
TEST_F(LoaderTest, EmptyProgramFileFailsProgramAndVerifyInBothFamilies) {
  struct Case {
    bool nand;
    bool (Workbench::*entry)();
    const char* line;
  };
  const Case cases[] = {
      {false, &Workbench::OnProgram, "Error: program file is empty, program failed.\n"},
      {true, &Workbench::OnProgram, "Error: program file is empty, program failed.\n"},
      {true, &Workbench::OnVerify, "Error: verify failed, the program file is empty.\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    BenchOptions options;
    if (c.nand) {
      options.cpu_name = "S3C2410 (Nand)";
      options.width = 8;
      options.sector_sizes = std::vector<std::int32_t>(8, 16384);
      options.nand = true;
    }
    Build(options);
    UseProgram("");
    EXPECT_EQ(Run(c.entry), CommandOutcome::kFailed);
    EXPECT_EQ(LastLine(), c.line);
    // (A NAND command may check its blocks first.)
    EXPECT_TRUE(c.nand || target_->runs().empty());
  }
}

TEST_F(LoaderTest, WholeChipEraseIsOneChipModeRun) {
  target_->flash()[100] = 0;
  EXPECT_EQ(Run(&Workbench::OnErase), CommandOutcome::kSucceeded);
  EXPECT_EQ(Lines(), (Texts{"Info: start erase...\n", "Info: erase completed.\n"}));
  EXPECT_TRUE(bench_->last_report().result.completed);
  const auto runs = target_->runs();
  ASSERT_EQ(runs.size(), 1u);
  const auto& p = runs[0].params;
  EXPECT_EQ(p[0], 3);
  EXPECT_EQ(p[1], 6);
  EXPECT_EQ(p[2], 2);
  EXPECT_EQ(p[3], 1);
  EXPECT_EQ(LittleWord(p, 20), 0x555u * 2);
  EXPECT_EQ(LittleWord(p, 60 + 4 * 5), 0x10u);
  EXPECT_EQ(target_->flash()[100], 0xFF);
  EXPECT_EQ(frontend_->range_high, 8);
  EXPECT_EQ(frontend_->position, 0);
  EXPECT_FALSE(frontend_->animating);
  EXPECT_TRUE(StrayFiles().empty());
}

TEST_F(LoaderTest, ChipEraseMissingFallsBackToSectorsAndSectorAddressCycles) {
  command_set_.chip_erase = CommandSequence();
  EXPECT_EQ(Run(&Workbench::OnErase), CommandOutcome::kSucceeded);
  EXPECT_EQ(Lines(), (Texts{"Info: start erase...\n",
                            "Info: not support chip erase, use sector erase.\n",
                            "Info: erase completed.\n"}));
  const auto runs = target_->runs();
  ASSERT_EQ(runs.size(), 8u);
  for (std::size_t k = 0; k < runs.size(); ++k) {
    EXPECT_EQ(LittleWord(runs[k].params, 12), 4096u * k);
    EXPECT_EQ(LittleWord(runs[k].params, 20 + 4 * 5), 4096u * k);  // the sector address cycle
    EXPECT_EQ(LittleWord(runs[k].params, 20), 0x555u * 2);
  }
  EXPECT_NE(std::find(frontend_->events.begin(), frontend_->events.end(), "position 8"),
            frontend_->events.end());
}

TEST_F(LoaderTest, EraseRefusalsWriteNothingToTheTarget) {
  command_set_.sector_erase = CommandSequence();
  SelectSectors(3, 4);
  EXPECT_EQ(Run(&Workbench::OnErase), CommandOutcome::kFailed);
  EXPECT_EQ(LastLine(), "Info: the chip does not support sector erase function, erase end.\n");
  EXPECT_FALSE(frontend_->lines.back().error);
  EXPECT_EQ(target_->calls("fill"), 0);

  command_set_.chip_erase = CommandSequence();
  SelectSectors(1, 8);
  EXPECT_EQ(Run(&Workbench::OnErase), CommandOutcome::kFailed);
  EXPECT_EQ(LastLine(), "Info: the chip does not support erase function, erase end.\n");
  EXPECT_TRUE(frontend_->lines.back().error);
  EXPECT_EQ(target_->calls("fill"), 0);
}

TEST_F(LoaderTest, Str71xAndLpcDevicesEraseSectorBySector) {
  BenchOptions options;
  options.flash_name = "STR71x bank 0";
  Build(options);
  EXPECT_EQ(Run(&Workbench::OnErase), CommandOutcome::kSucceeded);
  EXPECT_EQ(target_->runs().size(), 8u);
  EXPECT_EQ(Run(&Workbench::OnProtect), CommandOutcome::kSucceeded);
  EXPECT_EQ(target_->runs().size(), 16u);

  options.flash_name = "LPC2106";
  Build(options);
  profile_extra_ = "LpcFreq=14745\n";
  SelectSectors(3, 4);
  EXPECT_EQ(Run(&Workbench::OnErase), CommandOutcome::kSucceeded);
  const auto runs = target_->runs();
  ASSERT_EQ(runs.size(), 2u);
  EXPECT_EQ(runs[0].params[1], 2);
  EXPECT_EQ(runs[0].params[2], 2);
  EXPECT_EQ(runs[1].params[1], 3);
  EXPECT_EQ(LittleWord(runs[1].params, 8), 14745u);
  EXPECT_EQ(LittleWord(runs[1].params, 12), 3u * 4096);
}

TEST_F(LoaderTest, LpcVectorChecksumGoesIntoTheFirstSectorAndVerifyAcceptsIt) {
  struct Case {
    const char* profile;
    bool checksum;  // the option on: the vectors sum to zero afterwards
  };
  const std::string image = Pattern(3000);
  for (const Case c : {Case{"", true}, Case{"LpcVectorChecksum=0\n", false}}) {
    BenchOptions options;
    options.flash_name = "LPC2106";
    Build(options);
    profile_extra_ = c.profile;
    UseProgram(image);
    SelectSectors(1, 1);
    ASSERT_EQ(Run(&Workbench::OnProgram), CommandOutcome::kSucceeded) << c.profile;
    std::uint32_t sum = 0;
    const std::string vectors = FlashBytes(0, 32);
    const std::vector<std::uint8_t> bytes(vectors.begin(), vectors.end());
    for (std::size_t at = 0; at < 32; at += 4) sum += LittleWord(bytes, at);
    const std::string put = "Info: LPC vector checksum ";
    const auto lines = Lines();
    const auto logged = std::count_if(lines.begin(), lines.end(),
                                      [&](const std::string& l) { return l.rfind(put, 0) == 0; });
    if (c.checksum) {
      EXPECT_EQ(sum, 0u);
      EXPECT_EQ(logged, 1);
      EXPECT_EQ(FlashBytes(0, 0x14), image.substr(0, 0x14));
      EXPECT_EQ(FlashBytes(0x18, 3000 - 0x18), image.substr(0x18));
    } else {
      EXPECT_EQ(FlashBytes(0, 3000), image);
      EXPECT_EQ(logged, 0);
    }
    EXPECT_EQ(Run(&Workbench::OnVerify), CommandOutcome::kSucceeded) << c.profile;
  }
  // The plain verify does not know the checksum Program put there.
  profile_extra_ = "";
  EXPECT_EQ(Run(&Workbench::OnProgram), CommandOutcome::kSucceeded);
  profile_extra_ = "LpcVectorChecksum=0\n";
  EXPECT_EQ(Run(&Workbench::OnVerify), CommandOutcome::kFailed);
  EXPECT_EQ(LastLine(), "Error: verify failed, different at address 0x00000014.\n");
}

TEST_F(LoaderTest, DebugModeWritesTheBlockOfTheFirstSectorThreeTimes) {
  debug_ = 1;
  debug_file_ = (dir_ / "P").string();
  keep_ = {"P0", "P1", "P2"};
  command_set_.chip_erase = CommandSequence();
  SelectSectors(2, 4);
  EXPECT_EQ(Run(&Workbench::OnErase), CommandOutcome::kSucceeded);
  EXPECT_TRUE(target_->runs().empty());
  EXPECT_EQ(target_->calls("run"), 0);
  const std::string first = ReadFileText(dir_ / "P0");
  ASSERT_EQ(first.size(), 100u);
  EXPECT_EQ(ReadFileText(dir_ / "P1"), first);
  EXPECT_EQ(ReadFileText(dir_ / "P2"), first);
  EXPECT_FALSE(std::filesystem::exists(dir_ / "P3"));
  EXPECT_EQ(static_cast<std::uint8_t>(first[12 + 1]), 0x10);  // word 12 = 0x1000
  EXPECT_EQ(Lines(), (Texts{"Info: start erase...\n", "Info: output debug file success.\n",
                            "Info: output debug file success.\n",
                            "Info: output debug file success.\n"}));
  EXPECT_TRUE(StrayFiles().empty());
}

TEST_F(LoaderTest, DebugModeProgramWritesBlockAndDataWithTheNextFilePart) {
  debug_ = 1;
  debug_file_ = (dir_ / "D").string();
  keep_ = {"D0", "D1", "D2"};
  const std::string image = Pattern(2500);
  UseProgram(image);
  EXPECT_EQ(Run(&Workbench::OnProgram), CommandOutcome::kSucceeded);
  EXPECT_EQ(target_->calls("run"), 0);
  for (int n = 0; n < 3; ++n) {
    const std::string file = ReadFileText(dir_ / ("D" + std::to_string(n)));
    ASSERT_EQ(file.size(), 1124u) << n;
    EXPECT_EQ(static_cast<std::uint8_t>(file[0]), 4);
    EXPECT_EQ(file.substr(12, 4), std::string(4, '\0'));  // the chunk address stays
    const std::string part = image.substr(std::min<std::size_t>(1024u * n, image.size()), 1024);
    EXPECT_EQ(file.substr(100, part.size()), part) << n;
    EXPECT_EQ(file.substr(100 + part.size()), std::string(1024 - part.size(), '\xFF')) << n;
  }
  EXPECT_FALSE(std::filesystem::exists(dir_ / "D3"));
  EXPECT_TRUE(StrayFiles().empty());
}

TEST_F(LoaderTest, TimeOutsAndWaitingLines) {
  // A time-out outside 1..360 s is no time-out to wait for: the default
  // stands in, with one warning, and the erase runs to its end.
  time_out_ = 0;
  EXPECT_EQ(Run(&Workbench::OnErase), CommandOutcome::kSucceeded);
  const std::vector<std::string> lines = Lines();
  EXPECT_NE(std::find(lines.begin(), lines.end(),
                      "Warning: TimeOut=0 in the profile (section \"Option\") is not an integer "
                      "between 1 and 360; the default 12 is used.\n"),
            lines.end());

  time_out_ = 2;
  target_->set_never_halt(true);
  bench_->set_loader_poll_interval(milliseconds(5));
  EXPECT_EQ(Run(&Workbench::OnErase), CommandOutcome::kFailed);
  EXPECT_EQ(LinesFrom("Info: start erase"),
            (Texts{"Info: start erase...\n", "Info: erasing, waiting 1 s.\n",
                   "Error: time out, erase failed.\n"}));
  EXPECT_EQ(frontend_->position, 0);
  EXPECT_FALSE(frontend_->animating);
}

TEST_F(LoaderTest, StopDuringALoaderRunEndsWithinAPoll) {
  target_->set_never_halt(true);
  WriteSettings();
  ASSERT_TRUE(bench_->OnProtect());
  while (!target_->running()) std::this_thread::sleep_for(milliseconds(1));
  std::this_thread::sleep_for(milliseconds(30));
  const auto asked = std::chrono::steady_clock::now();
  bench_->OnCloseOrStop();
  bench_->WaitForCommand();
  EXPECT_LT(std::chrono::steady_clock::now() - asked, milliseconds(150));
  EXPECT_EQ(bench_->outcome(), CommandOutcome::kStopped);
  EXPECT_EQ(LastLine(), "Info: user stop protect.\n");
  EXPECT_FALSE(frontend_->lines.back().error);
  EXPECT_TRUE(frontend_->controls_enabled);
  EXPECT_EQ(target_->calls("clear"), 0);  // the breakpoint stays
}

TEST_F(LoaderTest, RunStartAndStatusFailures) {
  target_->FailAfter("run", 0);
  EXPECT_EQ(Run(&Workbench::OnErase), CommandOutcome::kFailed);
  EXPECT_EQ(LastLine(), "Error: execute file failed.\n");
  EXPECT_EQ(target_->calls("pc"), 1);
  EXPECT_EQ(target_->calls("breakpoint"), 1);

  target_->FailAfter("run", 1 << 30);
  target_->set_never_halt(true);
  target_->FailAfter("status", 1);  // board initialisation's poll passes
  EXPECT_EQ(Run(&Workbench::OnErase), CommandOutcome::kFailed);
  // The wrapper's line, then the run's own.
  const auto lines = Lines();
  ASSERT_GE(lines.size(), 2u);
  EXPECT_EQ(Texts(lines.end() - 2, lines.end()),
            (Texts{"Error: get target status failed.\n", "Error: get target status failed.\n"}));
}

TEST_F(LoaderTest, MissingOrOversizedLoaderIsRefused) {
  std::filesystem::remove(dir_ / "loader.bin");
  EXPECT_EQ(Run(&Workbench::OnErase), CommandOutcome::kFailed);
  EXPECT_EQ(LastLine(), "Error: cannot find execute file.\n");

  WriteFileBytes(dir_ / "loader.bin", std::string(2049, 'L'));
  EXPECT_EQ(Run(&Workbench::OnErase), CommandOutcome::kFailed);
  EXPECT_EQ(LastLine(),
            "Error: execute file is 2049 bytes, more than the 2048 bytes of its area, command "
            "stopped.\n");
  EXPECT_TRUE(target_->runs().empty());
  WriteFileBytes(dir_ / "loader.bin", std::string(2048, 'L'));
  EXPECT_EQ(Run(&Workbench::OnErase), CommandOutcome::kSucceeded);
}

TEST_F(LoaderTest, ScrambledLoaderIsDecodedAndTheCopyRemoved) {
  plain_loaders_ = 0;
  WriteFileBytes(dir_ / "plain.bin", std::string(40, '\x5A'));
  ASSERT_TRUE(EncodeDataFile((dir_ / "plain.bin").string(), (dir_ / "loader.bin").string()));
  std::filesystem::remove(dir_ / "plain.bin");
  EXPECT_EQ(Run(&Workbench::OnErase), CommandOutcome::kSucceeded);
  EXPECT_TRUE(StrayFiles().empty());
  EXPECT_FALSE(std::filesystem::exists(dir_ / "loader.bin.ddl"));
  // Decoded, the image is 40 bytes of 0x5A, then 0xFF padding.
  EXPECT_EQ(target_->ReadRamWord(0x0C000000), 0x5A5A5A5Au);
  EXPECT_EQ(target_->ReadRamWord(0x0C000000 + 40), 0xFFFFFFFFu);
}

// ---------------------------------------------------------------- program

TEST_F(LoaderTest, ProgramSendsKilobyteChunksPaddedWithErasedBytes) {
  const std::string image = Pattern(3000);
  UseProgram(image);
  EXPECT_EQ(Run(&Workbench::OnProgram), CommandOutcome::kSucceeded);
  EXPECT_EQ(Lines(), (Texts{"Info: start program...\n", "Info: program completed.\n"}));
  const auto runs = target_->runs();
  ASSERT_EQ(runs.size(), 3u);
  for (std::size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(runs[i].params[0], 4);
    EXPECT_EQ(runs[i].params[1], 3);
    EXPECT_EQ(LittleWord(runs[i].params, 12), 1024u * i);
    EXPECT_EQ(LittleWord(runs[i].params, 16), 1024u);
  }
  EXPECT_EQ(std::string(runs[2].data.end() - 72, runs[2].data.end()), std::string(72, '\xFF'));
  EXPECT_EQ(FlashBytes(0, 3000), image);
  EXPECT_EQ(target_->flash()[3000], 0xFF);
  EXPECT_EQ(frontend_->range_high, 3000 / 256);
  EXPECT_NE(std::find(frontend_->events.begin(), frontend_->events.end(), "position 9"),
            frontend_->events.end());
}

// StreamProgram (or Fast) asks for the comms channel; a driver without it,
// or a flash the NOR loader's stream does not program, gets the chunks, and
// says so before anything else.
TEST_F(LoaderTest, StreamProgramFallsBackToChunksWhereItCannotStream) {
  struct Case {
    const char* setting;
    const char* flash;
    const char* line;
  };
  for (const Case& c :
       {Case{"StreamProgram=1\n", nullptr,
             "Info: the driver has no debug comms channel; the data goes in chunks.\n"},
        Case{"Fast=1\n", nullptr,
             "Info: the driver has no debug comms channel; the data goes in chunks.\n"},
        Case{"StreamProgram=1\n", "LPC2106",
             "Info: this flash is not programmed through the comms channel; the data goes in "
             "chunks.\n"}}) {
    BenchOptions options;
    if (c.flash) options.flash_name = c.flash;
    Build(options);
    profile_extra_ = c.setting;
    const std::string image = Pattern(3000);
    UseProgram(image);
    EXPECT_EQ(Run(&Workbench::OnProgram), CommandOutcome::kSucceeded) << c.setting;
    const Texts lines = Lines();
    ASSERT_GE(lines.size(), 3u);
    EXPECT_EQ(lines[0], c.line);
    EXPECT_EQ(lines[1], "Info: start program...\n");
    EXPECT_EQ(target_->runs().size(), 3u) << c.setting;  // 1 KiB chunks
    EXPECT_EQ(target_->runs()[0].params[0], 4);
  }
}

TEST_F(LoaderTest, ProgramIntoALaterRangeAndWholeSectorMode) {
  profile_extra_ = "LoadSectData=1\n";
  const std::string image = Pattern(6000, 3);
  UseProgram(image);
  SelectSectors(3, 5);
  EXPECT_EQ(Run(&Workbench::OnProgram), CommandOutcome::kSucceeded);
  const auto runs = target_->runs();
  ASSERT_EQ(runs.size(), 2u);
  EXPECT_EQ(runs[0].params[4], 1);
  EXPECT_EQ(LittleWord(runs[0].params, 12), 2u * 4096);
  EXPECT_EQ(LittleWord(runs[0].params, 16), 4096u);
  EXPECT_EQ(LittleWord(runs[1].params, 12), 3u * 4096);
  EXPECT_EQ(FlashBytes(2 * 4096, 6000), image);
}

TEST_F(LoaderTest, BigEndianTargetGetsItsWordsReversed) {
  BenchOptions options;
  options.little_endian = false;
  Build(options);
  UseProgram(Pattern(100));
  SelectSectors(2, 2);
  EXPECT_EQ(Run(&Workbench::OnProgram), CommandOutcome::kSucceeded);
  const auto runs = target_->runs();
  ASSERT_EQ(runs.size(), 1u);
  EXPECT_EQ(std::vector<std::uint8_t>(runs[0].params.begin() + 12, runs[0].params.begin() + 16),
            (std::vector<std::uint8_t>{0x00, 0x00, 0x10, 0x00}));
  // The image for big-endian targets, and program data as it is in the file.
  EXPECT_EQ(target_->ReadRamWord(0x0C000000), 0x22222222u);
  EXPECT_EQ(FlashBytes(4096, 100), Pattern(100));
}

TEST_F(LoaderTest, AutoEraseFailureEndsBeforeTheProgramStarts) {
  UseProgram(Pattern(10));
  bench_->pages().program.auto_erase = true;
  command_set_.chip_erase = CommandSequence();
  command_set_.sector_erase = CommandSequence();
  EXPECT_EQ(Run(&Workbench::OnProgram), CommandOutcome::kFailed);
  EXPECT_EQ(Lines(), (Texts{"Info: start erase...\n",
                            "Info: the chip does not support erase function, erase end.\n"}));
  EXPECT_FALSE(bench_->last_report().result.completed);

  command_set_.chip_erase = Sequence({{0x555, 0x10}});
  target_->flash()[0] = 0x00;
  EXPECT_EQ(Run(&Workbench::OnProgram), CommandOutcome::kSucceeded);
  EXPECT_EQ(LinesFrom("Info: start erase"),
            (Texts{"Info: start erase...\n", "Info: erase completed.\n",
                   "Info: start program...\n", "Info: program completed.\n"}));
  EXPECT_EQ(FlashBytes(0, 10), Pattern(10));
}

TEST_F(LoaderTest, VerifyErrorFromTheLoaderAndTheSuccessWording) {
  UseProgram(Pattern(2048));
  bench_->pages().program.auto_verify = true;
  EXPECT_EQ(Run(&Workbench::OnProgram), CommandOutcome::kSucceeded);
  EXPECT_EQ(LastLine(), "Info: program suceess.\n");
  target_->set_verify_fails(true);
  EXPECT_EQ(Run(&Workbench::OnProgram), CommandOutcome::kFailed);
  EXPECT_EQ(LastLine(), "Error: verify error, program failed.\n");
  EXPECT_EQ(target_->runs().size(), 3u);  // the first chunk only
}

TEST_F(LoaderTest, ProgramFileChecks) {
  UseProgram(Pattern(4097));
  SelectSectors(1, 1);
  EXPECT_EQ(Run(&Workbench::OnProgram), CommandOutcome::kFailed);
  EXPECT_EQ(LastLine(), "Error: program file too large, program failed.\n");
  bench_->pages().program.program_file = (dir_ / "none.bin").string();
  EXPECT_EQ(Run(&Workbench::OnProgram), CommandOutcome::kFailed);
  EXPECT_EQ(LastLine(), "Error: cannot find program file.\n");
  EXPECT_TRUE(target_->runs().empty());
  EXPECT_TRUE(StrayFiles().empty());
}

TEST_F(LoaderTest, IntelHexProgramIsConvertedAndTheCopyRemoved) {
  const std::string image = Pattern(1500, 11);
  WriteFileBytes(dir_ / "image.hex", ToHex(image));
  keep_.insert("image.hex");
  bench_->pages().program.program_file = (dir_ / "image.hex").string();
  bench_->pages().program.format = "Intel Hex";
  EXPECT_EQ(Run(&Workbench::OnProgram), CommandOutcome::kSucceeded);
  EXPECT_EQ(FlashBytes(0, 1500), image);
  EXPECT_FALSE(std::filesystem::exists(dir_ / "image.hex.bin"));
  EXPECT_TRUE(StrayFiles().empty());

  WriteFileBytes(dir_ / "image.hex", "not a hex file\n");
  EXPECT_EQ(Run(&Workbench::OnProgram), CommandOutcome::kFailed);
  EXPECT_EQ(LastLine(), "Error: convert Intel Hex format file failed, program stop.\n");
  EXPECT_TRUE(StrayFiles().empty());
}

TEST_F(LoaderTest, StopBeforeAChunkAndFailedBlockWrite) {
  UseProgram(Pattern(3000));
  target_->FailAfter("fill", 2);  // the image, the first chunk
  EXPECT_EQ(Run(&Workbench::OnProgram), CommandOutcome::kFailed);
  EXPECT_EQ(LastLine(), "Error: fill memory failed.\n");
  EXPECT_EQ(target_->runs().size(), 1u);
}

// ---------------------------------------------------------------- protect

TEST_F(LoaderTest, ProtectGoesSectorBySectorWithItsOwnLines) {
  SelectSectors(2, 3);
  EXPECT_EQ(Run(&Workbench::OnProtect), CommandOutcome::kSucceeded);
  EXPECT_EQ(Lines(), (Texts{"Info: start protect...\n", "Info: protect completed.\n"}));
  const auto runs = target_->runs();
  ASSERT_EQ(runs.size(), 2u);
  EXPECT_EQ(runs[0].params[0], 5);
  EXPECT_EQ(runs[0].params[1], 2);
  EXPECT_EQ(LittleWord(runs[1].params, 24), 2u * 4096);  // the sector address cycle
  SelectSectors(1, 8);
  EXPECT_EQ(Run(&Workbench::OnProtect), CommandOutcome::kSucceeded);
  EXPECT_EQ(LinesFrom("Info: start protect")[1],
            "Info: not support chip protect, use sector protect.\n");
  command_set_.sector_protect = CommandSequence();
  EXPECT_EQ(Run(&Workbench::OnProtect), CommandOutcome::kFailed);
  EXPECT_EQ(LastLine(), "Info: the chip does not support protect function, protect end.\n");
}

}  // namespace
}  // namespace romsmith::testing

namespace romsmith::testing {
namespace {

// ---------------------------------------------------------------- results checked

// A target call that fails where nothing used to look ends the command with
// a line of its own and never with a success line.
TEST_F(LoaderTest, FailedTargetCallsEndTheCommandWithoutASuccessLine) {
  struct Case {
    const char* name;
    const char* call;  // the FakeTarget switch
    int after;         // calls that still succeed
    bool auto_verify;
    Texts last_lines;
    std::size_t runs;
  };
  const Case cases[] = {
      // The loader image never reached RAM: nothing may run.
      {"image write", "fill", 0, false, {"Info: start program...\n", "Error: fill memory failed.\n"},
       0},
      // A breakpoint that could not be cleared after the first chunk.
      {"breakpoint clear", "clear", 0, false, {"Error: clear all breakpoints failed.\n"}, 1},
      // The loader's verify byte could not be read.
      {"verify byte", "read", 1, true,  // past the read of the area's mark
       {"Error: read memory failed.", "Error: read verify result failed, program failed.\n"}, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Build(BenchOptions());
    UseProgram(Pattern(3000));
    bench_->pages().program.auto_verify = c.auto_verify;
    target_->FailAfter(c.call, c.after);
    EXPECT_EQ(Run(&Workbench::OnProgram), CommandOutcome::kFailed);
    const Texts lines = Lines();
    ASSERT_GE(lines.size(), c.last_lines.size());
    EXPECT_EQ(Texts(lines.end() - static_cast<std::ptrdiff_t>(c.last_lines.size()), lines.end()),
              c.last_lines);
    for (const std::string& line : lines) EXPECT_EQ(line.find("success"), std::string::npos);
    EXPECT_EQ(LinesFrom("Info: program completed.\n"), Texts{});
    EXPECT_EQ(target_->runs().size(), c.runs);
    EXPECT_FALSE(bench_->last_report().result.completed);
  }
}

TEST_F(LoaderTest, ChipEraseWhoseBreakpointStaysIsNotCompleted) {
  target_->FailAfter("clear", 0);
  EXPECT_EQ(Run(&Workbench::OnErase), CommandOutcome::kFailed);
  EXPECT_EQ(Lines(), (Texts{"Info: start erase...\n", "Error: clear all breakpoints failed.\n"}));
}

// ---------------------------------------------------------------- verify

TEST_F(LoaderTest, VerifyComparesAnIntelHexFileAsTheBinaryItStandsFor) {
  const std::string image = Pattern(1500, 5);
  WriteFileBytes(dir_ / "image.hex", ToHex(image));
  keep_.insert("image.hex");
  bench_->pages().program.program_file = (dir_ / "image.hex").string();
  bench_->pages().program.format = "Intel Hex";
  ASSERT_EQ(Run(&Workbench::OnProgram), CommandOutcome::kSucceeded);

  EXPECT_EQ(Run(&Workbench::OnVerify), CommandOutcome::kSucceeded);
  EXPECT_EQ(LinesFrom("Info: start verify...\n"),
            (Texts{"Info: start verify...\n", "Info: verify success.\n"}));
  EXPECT_TRUE(StrayFiles().empty());

  // A difference is found at its flash address, and the copy still goes.
  target_->flash()[1200] ^= 0x01;
  EXPECT_EQ(Run(&Workbench::OnVerify), CommandOutcome::kFailed);
  EXPECT_EQ(LastLine(), "Error: verify failed, different at address 0x000004b0.\n");
  EXPECT_TRUE(StrayFiles().empty());

  // A HEX file that does not convert is not compared at all.
  WriteFileBytes(dir_ / "image.hex", "not a hex file\n");
  const int dumps = target_->calls("dump");
  EXPECT_EQ(Run(&Workbench::OnVerify), CommandOutcome::kFailed);
  EXPECT_EQ(LastLine(), "Error: convert Intel Hex format file failed, program stop.\n");
  EXPECT_EQ(target_->calls("dump"), dumps);
  EXPECT_TRUE(StrayFiles().empty());
}

}  // namespace
}  // namespace romsmith::testing

namespace romsmith::testing {
namespace {

// Program with auto erase proves every input before the erase: a program
// file or loader that cannot be used leaves the old flash contents, runs
// no loader and says why.
TEST_F(LoaderTest, AutoEraseRunsOnlyOnceEveryInputIsGood) {
  struct Row {
    const char* name;
    std::function<void()> arrange;
    const char* line;  // the last line
  };
  const auto fifo = [this] {
    const auto path = dir_ / "pipe.bin";
    ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0);
    keep_.insert("pipe.bin");
    bench_->pages().program.program_file = path.string();
  };
  const std::vector<Row> rows = {
      {"missing file",
       [this] { bench_->pages().program.program_file = (dir_ / "typo.bin").string(); },
       "Error: cannot find program file.\n"},
      {"empty file", [this] { UseProgram(""); },
       "Error: program file is empty, program failed.\n"},
      {"too large for the sectors", [this] { UseProgram(Pattern(4 * 4096 + 1)); },
       "Error: program file too large, program failed.\n"},
      {"a FIFO", fifo, nullptr},
      {"a device",
       [this] { bench_->pages().program.program_file = "/dev/zero"; },
       "Error: program file /dev/zero is not a regular file (a pipe, a device or a directory).\n"},
      {"missing HEX file",
       [this] {
         bench_->pages().program.program_file = (dir_ / "typo.hex").string();
         bench_->pages().program.format = "Intel Hex";
       },
       "Error: convert Intel Hex format file failed, program stop.\n"},
      {"HEX converting to more than the sectors",
       [this] {
         WriteFileBytes(dir_ / "big.hex", ToHex(Pattern(4 * 4096 + 16)));
         keep_.insert("big.hex");
         bench_->pages().program.program_file = (dir_ / "big.hex").string();
         bench_->pages().program.format = "Intel Hex";
       },
       "Error: program file too large, program failed.\n"},
      {"empty loader", [this] { WriteFileBytes(dir_ / "loader.bin", ""); }, nullptr},
      {"loader cut inside a word",
       [this] { WriteFileBytes(dir_ / "loader.bin", std::string(50, '\x11')); },
       nullptr},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    Build(BenchOptions());
    UseProgram(Pattern(1000));
    SelectSectors(1, 4);
    bench_->pages().program.auto_erase = true;
    std::fill(target_->flash().begin(), target_->flash().end(), 0x00);
    row.arrange();
    EXPECT_EQ(Run(&Workbench::OnProgram), CommandOutcome::kFailed);
    EXPECT_TRUE(target_->runs().empty());
    EXPECT_EQ(FlashBytes(0, 4 * 4096), std::string(4 * 4096, '\0')) << "the flash was erased";
    const Texts lines = Lines();
    EXPECT_TRUE(std::none_of(lines.begin(), lines.end(), [](const std::string& line) {
      return line.rfind("Info: start erase", 0) == 0;
    }));
    if (row.line) {
      EXPECT_EQ(LastLine(), row.line);
    }
    EXPECT_EQ(LastLine().rfind("Error: ", 0), 0u) << LastLine();
    EXPECT_TRUE(StrayFiles().empty());
  }

  // The NAND family the same way: its check block may run, its erase not.
  for (const char* name : {"typo.bin", "large.bin"}) {
    SCOPED_TRACE(name);
    BenchOptions nand;
    nand.cpu_name = "S3C2410 (Nand)";
    nand.width = 8;
    nand.sector_sizes = std::vector<std::int32_t>(8, 16384);
    nand.nand = true;
    Build(nand);
    UseProgram(Pattern(4 * 16384 + 1), "large.bin");
    bench_->pages().program.program_file = (dir_ / name).string();
    SelectSectors(1, 4);
    bench_->pages().program.auto_erase = true;
    std::fill(target_->flash().begin(), target_->flash().end(), 0x00);
    EXPECT_EQ(Run(&Workbench::OnProgram), CommandOutcome::kFailed);
    for (const FakeTarget::Run& run : target_->runs())
      EXPECT_NE(run.params[0], static_cast<std::uint8_t>(LoaderOperation::kNandErase));
    EXPECT_EQ(FlashBytes(0, 4 * 16384), std::string(4 * 16384, '\0')) << "the flash was erased";
  }
}

// The image area around the loader: padding that reports a run into it,
// and the mark behind the breakpoint that a finished run leaves in place.
TEST_F(LoaderTest, LoaderPaddingTrapsARunIntoItAndTheMarkMustSurvive) {
  WriteFileBytes(dir_ / "loader.bin", std::string(64, '\x11'));
  EXPECT_EQ(Run(&Workbench::OnErase), CommandOutcome::kSucceeded);
  // The padding is erased bytes up to the word before the breakpoint,
  // STR PC, [PC], which stores into the word behind the breakpoint, where
  // the mark is.
  EXPECT_EQ(target_->ReadRamWord(0x0C000000 + 64), 0xFFFFFFFFu);
  EXPECT_EQ(target_->ReadRamWord(0x0C000000 + 0x7F0), 0xFFFFFFFFu);
  EXPECT_EQ(target_->ReadRamWord(0x0C000000 + 0x7F4), 0xE58FF000u);
  EXPECT_EQ(target_->ReadRamWord(0x0C000000 + 0x7F8), 0xFFFFFFFFu);
  EXPECT_EQ(target_->ReadRamWord(0x0C000000 + 0x7FC), 0xA5C3D2E1u);

  // RAM that does not keep the mark (a run into the padding, or no RAM at
  // the address) is no finished run.
  ASSERT_TRUE(target_->WriteMemory(0x0C000000 + 0x7FC, 0, 4));
  target_->set_broken_ram_word(0x0C000000 + 0x7FC);
  EXPECT_EQ(Run(&Workbench::OnErase), CommandOutcome::kFailed);
  EXPECT_EQ(LastLine().rfind("Error: the loader did not run to its end", 0), 0u) << LastLine();
  EXPECT_EQ(target_->runs().size(), 2u);  // one erase each, no second sector tried
}

}  // namespace
}  // namespace romsmith::testing
