// Erase, program, protect and the target test end to end: romsmith-cli with
// osprey7 on virtual boards, in a program directory of their own per test.
// Each test reads the board's flash image files back byte for byte.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <numeric>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<unsigned char>;

Bytes ReadBytes(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void WriteBytes(const fs::path& path, const Bytes& bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc)
      .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

void WriteText(const fs::path& path, const std::string& text) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

Bytes Pattern(std::size_t count, unsigned seed) {
  Bytes bytes(count);
  for (std::size_t i = 0; i < count; ++i)
    bytes[i] = static_cast<unsigned char>((i * 29 + (i >> 9) * 7 + seed) & 0xFF);
  return bytes;
}

// A flash chip as the board file and the configuration name it.
struct Flash {
  const char* vendor;
  const char* chip;      // FlashChip of the configuration
  const char* board;     // keys of the board's NOR region
  std::vector<std::uint32_t> sectors;  // one chip's sector sizes
};

std::vector<std::uint32_t> Repeat(std::vector<std::pair<unsigned, std::uint32_t>> runs) {
  std::vector<std::uint32_t> sizes;
  for (auto [count, size] : runs) sizes.insert(sizes.end(), count, size);
  return sizes;
}

const Flash kAm29LV160DB{"AMD", "Am29LV160DB",
                         "CommandSet=AMD\nManufacturerId=$01\nDeviceId=$2249\n"
                         "Sectors=16K,8K,8K,32K,31*64K\n",
                         Repeat({{1, 0x4000}, {2, 0x2000}, {1, 0x8000}, {31, 0x10000}})};
const Flash k28F320C3B{"Intel", "28F320C3B",
                       "CommandSet=Intel\nManufacturerId=$89\nDeviceId=$88C5\nLockedAtReset=1\n"
                       "Sectors=8*8K,63*64K\n",
                       Repeat({{8, 0x2000}, {63, 0x10000}})};

struct Target {
  bool big = false;
  unsigned width = 16;
  unsigned chips = 1;
  const Flash* flash = &kAm29LV160DB;
  std::string board_extra;  // more keys of the NOR region
  std::string faults;       // [Faults] keys
  bool real_time = false;
};

struct CliResult {
  int status = -1;
  std::string out;
  bool Has(const std::string& line) const { return out.find(line + "\n") != std::string::npos; }
};

class FlashCommands : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/romsmith-flash-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    root_ = pattern;
    fs::create_directories(root_ / "program");
    for (const char* name : {"romsmith.ini", "proc.xdl", "rom.xdl", "parl.mdl", "parb.mdl"})
      fs::copy_file(fs::path(ROMSMITH_STAGE_DIR) / name, root_ / "program" / name);
    WriteText(root_ / "profile.ini", "[Option]\nTimeOut=12\nResetCount=1\nRegChkPop=0\n");
  }
  void TearDown() override {
    std::error_code ignored;
    fs::remove_all(root_, ignored);
  }

  // Board and configuration for `t`; the flash image starts as `image`
  // (erased when empty).
  void Prepare(const Target& t, const Bytes& image = {}) {
    target_ = t;
    const std::uint32_t chip_bytes =
        std::accumulate(t.flash->sectors.begin(), t.flash->sectors.end(), 0u);
    size_ = chip_bytes * t.chips;
    image_ = image.empty() ? Bytes(size_, 0xFF) : image;
    image_.resize(size_, 0xFF);
    WriteBytes(root_ / "flash.bin", image_);
    WriteText(root_ / "board.ini",
              std::string("[Board]\nCore=ARM7TDMI\nEndian=") + (t.big ? "Big" : "Little") +
                  "\nIdCode=$3F0F0F0F\nProbe=emulator\nPortBase=$378\nTiming=" +
                  (t.real_time ? "RealTime" : "Deterministic") +
                  // Real time at a clock this machine keeps up with.
                  "\nClockKHz=" + (t.real_time ? "2000" : "60000") + "\nRunBudget=4000000\n\n"
                  "[Region1]\nKind=RAM\nBase=$0C000000\nSize=8M\n\n"
                  "[Region2]\nKind=IO\nBase=$01C00000\nSize=4M\n\n"
                  "[Region3]\nKind=NOR\nBase=$00000000\n" + t.flash->board +
                  "Width=" + std::to_string(t.width) + "\nChips=" + std::to_string(t.chips) +
                  "\nImage=flash.bin\nProgramTimeUs=10\nSectorEraseTimeMs=2\nChipEraseTimeMs=20\n" +
                  t.board_extra + (t.faults.empty() ? "" : "\n[Faults]\n" + t.faults + "\n"));
    std::string cfg = ReadText(fs::path(ROMSMITH_SOURCE_DIR) / "data/examples/s3c44b0x-am29lv160db.cfg");
    Replace(cfg, "FlashVendor=AMD", std::string("FlashVendor=") + t.flash->vendor);
    Replace(cfg, "FlashChip=Am29LV160DB", std::string("FlashChip=") + t.flash->chip);
    Replace(cfg, "FlashWidth=16", "FlashWidth=" + std::to_string(t.width));
    Replace(cfg, "FlashChipsPerSector=1", "FlashChipsPerSector=" + std::to_string(t.chips));
    if (t.big) {
      Replace(cfg, "LittleEndian=1", "LittleEndian=0");
      Replace(cfg, "CpuEndian=LITTLE", "CpuEndian=BIG");
    }
    WriteText(root_ / "target.cfg", cfg);
  }

  std::vector<std::string> Arguments(const std::string& arguments) const {
    std::vector<std::string> args = {
        ROMSMITH_CLI, "--program-dir", (root_ / "program").string(), "--board",
        (root_ / "board.ini").string(), "--set", std::string("Directory.Device=") + ROMSMITH_STAGE_DIR + "/drivers/",
        "--set", std::string("Directory.Driver=") + ROMSMITH_STAGE_DIR + "/ports/simboard/", "-y", "-c",
        (root_ / "target.cfg").string()};
    std::size_t at = 0;
    while (at < arguments.size()) {
      std::size_t space = arguments.find(' ', at);
      if (space == std::string::npos) space = arguments.size();
      if (space > at) args.push_back(arguments.substr(at, space - at));
      at = space + 1;
    }
    return args;
  }

  // Starts the command line; its standard output comes through `fd`.
  pid_t Start(const std::string& arguments, int& fd) {
    std::vector<std::string> args = Arguments(arguments);
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    int pipe_fds[2];
    if (::pipe(pipe_fds) != 0) return -1;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipe_fds[1], STDOUT_FILENO);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addclose(&actions, pipe_fds[0]);
    std::vector<std::string> env_strings;
    for (char** e = environ; *e; ++e) env_strings.emplace_back(*e);
    env_strings.push_back("ROMSMITH_PROFILE=" + (root_ / "profile.ini").string());
    std::vector<char*> envp;
    for (auto& e : env_strings) envp.push_back(e.data());
    envp.push_back(nullptr);
    pid_t pid = -1;
    if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data()) != 0) pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    ::close(pipe_fds[1]);
    fd = pipe_fds[0];
    return pid;
  }

  static int Wait(pid_t pid) {
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

  CliResult Cli(const std::string& arguments) {
    CliResult run;
    int fd = -1;
    const pid_t pid = Start(arguments, fd);
    if (pid < 0) return run;
    char buffer[4096];
    ssize_t n;
    while ((n = ::read(fd, buffer, sizeof buffer)) > 0) run.out.append(buffer, static_cast<std::size_t>(n));
    ::close(fd);
    run.status = Wait(pid);
    return run;
  }

  Bytes Flash() const { return ReadBytes(root_ / "flash.bin"); }
  // Bus offset of sector k (counted from 0).
  std::uint32_t SectorOffset(std::size_t k) const {
    return std::accumulate(target_.flash->sectors.begin(), target_.flash->sectors.begin() + k, 0u) *
           target_.chips;
  }
  // The expected image: `image_` with [from, to) replaced by `with`, padded
  // with 0xFF up to `to`.
  Bytes With(std::uint32_t from, std::uint32_t to, const Bytes& with) const {
    Bytes expected = image_;
    for (std::uint32_t i = from; i < to; ++i)
      expected[i] = i - from < with.size() ? with[i - from] : 0xFF;
    return expected;
  }
  static std::string ReadText(const fs::path& path) {
    Bytes bytes = ReadBytes(path);
    return std::string(bytes.begin(), bytes.end());
  }
  static void Replace(std::string& text, const std::string& from, const std::string& to) {
    const std::size_t at = text.find(from);
    ASSERT_NE(at, std::string::npos) << from;
    text.replace(at, from.size(), to);
  }

  fs::path root_;
  Target target_;
  std::uint32_t size_ = 0;
  Bytes image_;
};

// Mismatch reports name the first differing offset rather than dump images.
::testing::AssertionResult SameImage(const Bytes& actual, const Bytes& expected) {
  if (actual.size() != expected.size())
    return ::testing::AssertionFailure() << "sizes " << actual.size() << " and " << expected.size();
  for (std::size_t i = 0; i < actual.size(); ++i) {
    if (actual[i] != expected[i])
      return ::testing::AssertionFailure() << "first difference at 0x" << std::hex << i << ": 0x"
                                           << int(actual[i]) << " instead of 0x" << int(expected[i]);
  }
  return ::testing::AssertionSuccess();
}

// Program with auto erase and auto verify into sectors 3-5 of a flash whose
// every other byte holds data: the range gets the file, the rest stays.
struct ProgramCase {
  const char* name;
  bool big;
  bool hex;
  bool whole_sectors;  // "LoadSectData"
  unsigned chips;
};

class ProgramEndToEnd : public FlashCommands, public ::testing::WithParamInterface<ProgramCase> {};

TEST_P(ProgramEndToEnd, WritesTheFileIntoTheRangeAndNothingElse) {
  const ProgramCase& c = GetParam();
  Target t;
  t.big = c.big;
  t.chips = c.chips;
  t.width = c.chips == 2 ? 8 : 16;
  Prepare(t, Pattern(0x200000 * c.chips, 1));
  const Bytes data = Pattern(45000, 77);
  std::string file = (root_ / "data.bin").string();
  WriteBytes(file, data);
  if (c.hex) {
    // The Intel HEX form of the same bytes: 16-byte data records.
    std::string hex = (root_ / "data.hex").string();
    std::string text;
    char line[80];
    for (std::size_t at = 0; at < data.size(); at += 16) {
      if (at % 0x10000 == 0) {
        std::snprintf(line, sizeof line, ":02000004%04X%02X\n", unsigned(at >> 16),
                      unsigned((0x100 - ((2 + 4 + (at >> 24) + ((at >> 16) & 0xFF)) & 0xFF)) & 0xFF));
        text += line;
      }
      const std::size_t n = std::min<std::size_t>(16, data.size() - at);
      unsigned sum = unsigned(n) + ((at >> 8) & 0xFF) + (at & 0xFF);
      std::snprintf(line, sizeof line, ":%02X%04X00", unsigned(n), unsigned(at & 0xFFFF));
      text += line;
      for (std::size_t i = 0; i < n; ++i) {
        std::snprintf(line, sizeof line, "%02X", data[at + i]);
        text += line;
        sum += data[at + i];
      }
      std::snprintf(line, sizeof line, "%02X\n", (0x100 - (sum & 0xFF)) & 0xFF);
      text += line;
    }
    text += ":00000001FF\n";
    WriteText(hex, text);
    file = hex + " --format hex";
  }
  const std::string set = c.whole_sectors ? " --set Option.LoadSectData=1" : "";
  const CliResult run = Cli("-f " + file + set + " -s 4-6 --auto-erase --auto-verify program");
  EXPECT_EQ(run.status, 0) << run.out;
  EXPECT_TRUE(run.Has("Info: erase completed.")) << run.out;
  EXPECT_TRUE(run.Has("Info: program suceess.")) << run.out;
  // Sectors 4-6 (from 1) are sectors 3-5: the range is erased, then holds the file.
  EXPECT_TRUE(SameImage(Flash(), With(SectorOffset(3), SectorOffset(6), data)));
  if (c.hex) {
    EXPECT_FALSE(fs::exists(root_ / "data.hex.bin")) << "the converted copy stays behind";
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ProgramEndToEnd,
    ::testing::Values(ProgramCase{"Little", false, false, false, 1},
                      ProgramCase{"BigWholeSectors", true, false, true, 1},
                      ProgramCase{"LittleIntelHex", false, true, false, 1},
                      ProgramCase{"BigTwoByteChips", true, false, false, 2}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(FlashCommands, EraseTakesTheWholeChipOrOnlyTheSectorsAsked) {
  Prepare(Target{}, Pattern(0x200000, 5));
  const CliResult some = Cli("-s 3-5 erase");
  EXPECT_EQ(some.status, 0) << some.out;
  EXPECT_TRUE(some.Has("Info: erase completed.")) << some.out;
  EXPECT_TRUE(SameImage(Flash(), With(SectorOffset(2), SectorOffset(5), {})));

  const CliResult all = Cli("-s 1-35 erase");
  EXPECT_EQ(all.status, 0) << all.out;
  EXPECT_FALSE(all.Has("Info: not support chip erase, use sector erase.")) << all.out;
  EXPECT_TRUE(SameImage(Flash(), Bytes(size_, 0xFF)));
}

TEST_F(FlashCommands, IntelChipsEraseSectorBySectorAndUnlockWhatProtectLocked) {
  Target t;
  t.flash = &k28F320C3B;
  t.big = true;
  Prepare(t, Pattern(0x400000, 9));
  const CliResult lock = Cli("-s 2-3 protect");
  EXPECT_EQ(lock.status, 0) << lock.out;
  EXPECT_TRUE(lock.Has("Info: protect completed.")) << lock.out;
  EXPECT_TRUE(SameImage(Flash(), image_)) << "protect changed data";

  const CliResult all = Cli("-s 1-71 erase");
  EXPECT_EQ(all.status, 0) << all.out;
  EXPECT_TRUE(all.Has("Info: not support chip erase, use sector erase.")) << all.out;
  EXPECT_TRUE(all.Has("Info: erase completed.")) << all.out;
  EXPECT_TRUE(SameImage(Flash(), Bytes(size_, 0xFF)));
}

TEST_F(FlashCommands, ProtectWithoutASequenceSaysSoAndWritesNothing) {
  Prepare(Target{}, Pattern(0x200000, 3));
  const CliResult run = Cli("-s 1-35 protect");
  EXPECT_EQ(run.status, 1) << run.out;
  EXPECT_TRUE(run.Has("Info: the chip does not support protect function, protect end.")) << run.out;
  EXPECT_TRUE(SameImage(Flash(), image_));
}

TEST_F(FlashCommands, AFileLargerThanTheRangeIsRefusedBeforeAnythingIsWritten) {
  Prepare(Target{}, Pattern(0x200000, 4));
  WriteBytes(root_ / "big.bin", Pattern(0x4001, 0));
  const CliResult run = Cli("-f " + (root_ / "big.bin").string() + " -s 1-1 --no-auto-erase program");
  EXPECT_EQ(run.status, 1) << run.out;
  EXPECT_TRUE(run.Has("Error: program file too large, program failed.")) << run.out;
  EXPECT_TRUE(SameImage(Flash(), image_));
}

TEST_F(FlashCommands, DebugModeWritesTheBlocksToFilesAndLeavesTheFlash) {
  Prepare(Target{});
  const Bytes data = Pattern(3000, 2);
  WriteBytes(root_ / "data.bin", data);
  const std::string prefix = (root_ / "chunk").string();
  const CliResult run = Cli("-f " + (root_ / "data.bin").string() + " -s 2-2 --no-auto-erase" +
                      " --set Tevrin.Debug=1 --set Tevrin.DebugFile=" + prefix +
                      " --set Tevrin.DebugCount=2 program");
  EXPECT_EQ(run.status, 0) << run.out;
  EXPECT_TRUE(SameImage(Flash(), image_));
  for (int i = 0; i < 2; ++i) {
    const Bytes block = ReadBytes(prefix + std::to_string(i));
    ASSERT_EQ(block.size(), 1124u);
    EXPECT_EQ(block[0], 4);
    // The same chunk both times: its address word and the file's next bytes.
    EXPECT_EQ(Bytes(block.begin() + 12, block.begin() + 16), (Bytes{0x00, 0x40, 0x00, 0x00}));
    EXPECT_EQ(Bytes(block.begin() + 100, block.end()),
              Bytes(data.begin() + 1024 * i, data.begin() + 1024 * (i + 1)));
  }
  EXPECT_FALSE(fs::exists(prefix + "2"));
}

// The target test's last step reads the device code of every chip.
struct DeviceCase {
  const char* name;
  int status;  // a wrong code fails the command
  unsigned chips;
  unsigned width;
  const char* board_id;
  const char* line;
};

class TargetTestEndToEnd : public FlashCommands, public ::testing::WithParamInterface<DeviceCase> {};

TEST_P(TargetTestEndToEnd, ReportsTheDeviceCode) {
  const DeviceCase& c = GetParam();
  ::Flash flash = kAm29LV160DB;
  std::string board = flash.board;
  board.replace(board.find("$2249"), 5, c.board_id);
  flash.board = board.c_str();
  Target t;
  t.flash = &flash;
  t.chips = c.chips;
  t.width = c.width;
  Prepare(t);
  const CliResult run = Cli("target-test");
  EXPECT_EQ(run.status, c.status) << run.out;
  EXPECT_TRUE(run.Has("Info: RAM test success.")) << run.out;
  EXPECT_TRUE(run.Has(c.line)) << run.out;
  EXPECT_TRUE(SameImage(Flash(), image_));
  // The chips left identifier mode: a host read sees the erased array.
  char line[64];
  std::snprintf(line, sizeof line, "Info: checksum completed, it is 0x%04X.",
                unsigned(SectorOffset(1) * 0xFF) & 0xFFFF);
  const CliResult sum = Cli("-s 1-1 checksum");
  EXPECT_TRUE(sum.Has(line)) << sum.out;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, TargetTestEndToEnd,
    ::testing::Values(
        DeviceCase{"Right", 0, 1, 16, "$2249", "Info: device code is 0x2249, target test success."},
        DeviceCase{"Wrong", 1, 1, 16, "$22C4",
                   "Info: device code is 0x2249, read value is 0x22C4, target test failed."},
        DeviceCase{"TwoChips", 0, 2, 16, "$2249",
                   "Info: device code is 0x2249, read value is 0x22492249, target test success."}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(FlashCommands, AnEraseThatNeverEndsTimesOut) {
  Target t;
  t.faults = "NoErase=1";
  Prepare(t, Pattern(0x200000, 6));
  WriteText(root_ / "profile.ini", "[Option]\nTimeOut=1\nResetCount=1\nRegChkPop=0\n");
  const CliResult run = Cli("-s 2-2 erase");
  EXPECT_EQ(run.status, 1) << run.out;
  EXPECT_TRUE(run.Has("Error: time out, erase failed.")) << run.out;
  EXPECT_TRUE(SameImage(Flash(), image_));
}

TEST_F(FlashCommands, StopDuringProgramEndsWithinTwoHundredMilliseconds) {
  Target t;
  t.real_time = true;
  t.board_extra = "ProgramTimeUs=1000\n";  // a chunk takes about half a second
  Prepare(t);
  WriteBytes(root_ / "data.bin", Pattern(8192, 1));
  int fd = -1;
  const pid_t pid = Start("-f " + (root_ / "data.bin").string() + " -s 1-1 --no-auto-erase program", fd);
  ASSERT_GT(pid, 0);
  // A command line that never stops must not hang the suite.
  std::atomic<bool> ended{false};
  std::thread guard([pid, &ended] {
    for (int i = 0; i < 600 && !ended; ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    if (!ended) ::kill(pid, SIGKILL);  // not reaped yet: the pid is still the child's
  });
  std::string out;
  char buffer[4096];
  const auto read_until = [&](const std::string& line) {
    while (out.find(line) == std::string::npos) {
      const ssize_t n = ::read(fd, buffer, sizeof buffer);
      if (n <= 0) return false;
      out.append(buffer, static_cast<std::size_t>(n));
    }
    return true;
  };
  ASSERT_TRUE(read_until("Info: start program...\n")) << out;
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  const auto stop = std::chrono::steady_clock::now();
  ::kill(pid, SIGINT);
  ASSERT_TRUE(read_until("Info: user stop program.\n")) << out;
  const auto waited = std::chrono::steady_clock::now() - stop;
  EXPECT_LE(std::chrono::duration_cast<std::chrono::milliseconds>(waited).count(), 200);
  while (::read(fd, buffer, sizeof buffer) > 0) {
  }
  ::close(fd);
  ended = true;
  guard.join();
  EXPECT_EQ(Wait(pid), 3) << out;
}

}  // namespace
