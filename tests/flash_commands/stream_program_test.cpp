// Program with StreamProgram on, end to end through romsmith-cli on virtual
// boards: every NOR command set, both byte orders, an ARM7TDMI board behind
// osprey7 and an ARM920T board behind osprey9. The data goes through the
// debug comms channel (the board counts the chain-2 scans and any word the
// host wrote over one the core had not read); a bit that never programs ends
// the command with the program's error line; Stop ends it at once with whole
// flash words only (stop_test.cpp, run on its own).
#include <cstdlib>
#include <sstream>

#include "tests/flash_commands/flash_commands_fixture.h"

namespace flash_commands {
namespace {

const Flash kSst39vf160{"SST", "SST39VF160",
                        "CommandSet=SST\nManufacturerId=$BF\nDeviceId=$2782\nSectors=512*4K\n",
                        Repeat({{512, 0x1000}})};

struct Case {
  const char* name;
  bool arm9;
  bool big;
  const Flash* flash;
  unsigned chips;
};

std::string CaseName(const ::testing::TestParamInfo<Case>& info) { return info.param.name; }

// 40002 bytes: the last word is padded, and the range spans several sectors.
constexpr std::size_t kFileBytes = 40002;

class StreamProgram : public FlashCommands, public ::testing::WithParamInterface<Case> {
 protected:
  void SetUp() override {
    FlashCommands::SetUp();
    fs::copy_file(fs::path(ROMSMITH_STAGE_DIR) / "hwl.mdl", root_ / "program" / "hwl.mdl");
  }

  // The board and configuration of the case; the ARM920T board stands for
  // an S3C2410 with SDRAM at 0x30000000.
  void PrepareCase(const Case& c, const std::string& faults = "", bool real_time = false,
                   const std::string& extra = "") {
    Target t;
    t.big = c.big;
    t.flash = c.flash;
    t.chips = c.chips;
    t.faults = faults;
    t.real_time = real_time;
    t.board_extra = extra;
    Prepare(t);
    if (!c.arm9) return;
    std::string board = ReadText(root_ / "board.ini");
    Replace(board, "Core=ARM7TDMI", "Core=ARM920T");
    Replace(board, "IdCode=$3F0F0F0F", "IdCode=$0032409D");
    Replace(board, "Base=$0C000000\nSize=8M", "Base=$30000000\nSize=64M");
    Replace(board, "Base=$01C00000\nSize=4M", "Base=$48000000\nSize=$18000000");
    WriteText(root_ / "board.ini", board);
    std::string cfg =
        ReadText(fs::path(ROMSMITH_SOURCE_DIR) / "data/examples/s3c2410-am29lv160db.cfg");
    Replace(cfg, "FlashVendor=AMD", std::string("FlashVendor=") + c.flash->vendor);
    Replace(cfg, "FlashChip=Am29LV160DB", std::string("FlashChip=") + c.flash->chip);
    Replace(cfg, "FlashChipsPerSector=1", "FlashChipsPerSector=" + std::to_string(c.chips));
    if (c.big) {
      Replace(cfg, "LittleEndian=1", "LittleEndian=0");
      Replace(cfg, "CpuEndian=LITTLE", "CpuEndian=BIG");
      GiveTheS3c2410ABigEndianLoader();
    }
    WriteText(root_ / "target.cfg", cfg);
  }

  // The shipped CPU database has no big-endian ARM920T part. This copy lets
  // the S3C2410 run big-endian with the big-endian NOR loader: its ARMv4T
  // code runs as it is on the ARM920T, whose MMU and caches are off out of
  // reset.
  void GiveTheS3c2410ABigEndianLoader() {
    std::string cpu = ReadText(fs::path(ROMSMITH_SOURCE_DIR) / "data/cpu.ini");
    const std::size_t section = cpu.find("[S3C2410]\n");
    ASSERT_NE(section, std::string::npos);
    for (const auto& [from, to] :
         {std::pair<std::string, std::string>{"Endian=Little\n", "Endian=Little,Big\n"},
          {"LoadFileBE=\n", "LoadFileBE=parb.mdl\n"}}) {
      const std::size_t at = cpu.find(from, section);
      ASSERT_NE(at, std::string::npos) << from;
      cpu.replace(at, from.size(), to);
    }
    WriteText(root_ / "cpu.ini", cpu);
    const std::string encode = std::string(ROMSMITH_CLI) + " encode " +
                               (root_ / "cpu.ini").string() + " " +
                               (root_ / "program/proc.xdl").string() + " > /dev/null";
    ASSERT_EQ(std::system(encode.c_str()), 0);
  }

  // "-s 1-N" with N the sectors the file needs.
  std::string Sectors(std::size_t bytes) const {
    std::size_t k = 0;
    while (SectorOffset(k) < bytes) ++k;
    return "-s 1-" + std::to_string(k);
  }

  std::string Driver() const { return GetParam().arm9 ? " --set Remote.Device=osprey9.so" : ""; }

  // The board's counters of the last run that asked for them.
  std::map<std::string, std::uint64_t> Counters() const {
    std::map<std::string, std::uint64_t> counters;
    std::istringstream text(ReadText(root_ / "counters.txt"));
    for (std::string line; std::getline(text, line);) {
      const auto equals = line.find('=');
      if (equals != std::string::npos)
        counters[line.substr(0, equals)] = std::stoull(line.substr(equals + 1));
    }
    return counters;
  }
};

const Case kCases[] = {
    {"Arm7AmdLittle", false, false, &kAm29LV160DB, 1},
    {"Arm7AmdBig", false, true, &kAm29LV160DB, 1},
    {"Arm7IntelLittle", false, false, &k28F320C3B, 1},
    {"Arm7IntelBigTwoChips", false, true, &k28F320C3B, 2},
    {"Arm7SstLittle", false, false, &kSst39vf160, 1},
    {"Arm7SstBig", false, true, &kSst39vf160, 1},
    {"Arm9AmdLittle", true, false, &kAm29LV160DB, 1},
    {"Arm9IntelLittle", true, false, &k28F320C3B, 1},
    {"Arm9SstLittle", true, false, &kSst39vf160, 1},
    {"Arm9AmdBig", true, true, &kAm29LV160DB, 1},
    {"Arm9IntelBigTwoChips", true, true, &k28F320C3B, 2},
    {"Arm9SstBig", true, true, &kSst39vf160, 1},
};

TEST_P(StreamProgram, PutsTheFileIntoTheFlashThroughTheCommsChannel) {
  PrepareCase(GetParam());
  const Bytes file = Pattern(kFileBytes, 41);
  WriteBytes(root_ / "data.bin", file);
  const std::string sectors = Sectors(file.size());
  ::setenv("ROMSMITH_BOARD_COUNTERS", (root_ / "counters.txt").c_str(), 1);
  const CliResult run = Cli("-f " + (root_ / "data.bin").string() + " " + sectors + Driver() +
                            " --set Option.StreamProgram=1 --auto-erase --auto-verify program");
  ::unsetenv("ROMSMITH_BOARD_COUNTERS");
  ASSERT_EQ(run.status, 0) << run.out << run.err;
  EXPECT_TRUE(run.Has("Info: program suceess.")) << run.out;
  EXPECT_EQ(run.out.find("in chunks"), std::string::npos) << run.out;
  const std::size_t end = SectorOffset(std::stoul(sectors.substr(5)));
  EXPECT_TRUE(Flash() == With(0, static_cast<std::uint32_t>(end), file));
  const auto counters = Counters();
  EXPECT_EQ(counters.at("comms_overruns"), 0u);
  // One chain-2 scan a word at least: the data did not go through RAM.
  EXPECT_GE(counters.at("chain2_scans"), kFileBytes / 4);
}

TEST_P(StreamProgram, ABitThatNeverProgramsFailsTheCommand) {
  // Mid-stream, in the second sector: the file has zeros there.
  PrepareCase(GetParam(), "StuckBits=$00004100:$FFFF");
  const Bytes file = Pattern(kFileBytes, 41);
  WriteBytes(root_ / "data.bin", file);
  const CliResult run =
      Cli("-f " + (root_ / "data.bin").string() + " " + Sectors(file.size()) + Driver() +
          " --set Option.StreamProgram=1 --auto-erase --no-auto-verify program");
  EXPECT_EQ(run.status, 1) << run.out << run.err;
  EXPECT_TRUE(run.Has("Error: verify error, program failed.")) << run.out << run.err;
  EXPECT_EQ(run.out.find("Info: program"), run.out.find("Info: programming")) << run.out;
  EXPECT_NE(run.out.find("Info: the flash did not take the data at 0x0000410"), std::string::npos)
      << run.out;
}

// --fast: the stream, the checksum on the target for auto verify and the
// separate verify, 14-word reads; a flash that differs afterwards is found.
TEST_F(FlashCommands, FastProgramsAndVerifiesWithEveryCheck) {
  Prepare(Target{});
  const Bytes file = Pattern(kFileBytes, 9);
  WriteBytes(root_ / "data.bin", file);
  const std::string args = "-f " + (root_ / "data.bin").string() + " -s 1-4 --fast";
  const CliResult program = Cli(args + " --auto-erase --auto-verify program");
  ASSERT_EQ(program.status, 0) << program.out << program.err;
  EXPECT_TRUE(program.Has("Info: program suceess.")) << program.out;
  EXPECT_EQ(program.out.find("in chunks"), std::string::npos) << program.out;
  EXPECT_TRUE(Flash() == With(0, SectorOffset(4), file));
  EXPECT_EQ(Cli(args + " verify").status, 0);
  Bytes changed = file;
  changed[30001] ^= 0x10;
  WriteBytes(root_ / "data.bin", changed);
  const CliResult verify = Cli(args + " verify");
  EXPECT_EQ(verify.status, 1);
  EXPECT_TRUE(verify.Has("Error: verify failed, different at address 0x00007531.")) << verify.err;
}

INSTANTIATE_TEST_SUITE_P(EveryCommandSet, StreamProgram, ::testing::ValuesIn(kCases), CaseName);

}  // namespace
}  // namespace flash_commands
