// The fixture of the end-to-end flash command tests: romsmith-cli with
// osprey7 on a virtual board written for each test, in a program directory
// of its own, and the board's flash image read back byte for byte.
#pragma once
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <numeric>
#include <string>
#include <thread>
#include <vector>

#include "tests/file_contents.h"

extern char** environ;

namespace flash_commands {

namespace fs = std::filesystem;
using Bytes = std::vector<unsigned char>;

inline Bytes ReadBytes(const fs::path& path) { return romsmith_tests::ReadFileBytes(path); }

inline void WriteBytes(const fs::path& path, const Bytes& bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc)
      .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

inline void WriteText(const fs::path& path, const std::string& text) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

inline Bytes Pattern(std::size_t count, unsigned seed) {
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

inline std::vector<std::uint32_t> Repeat(std::vector<std::pair<unsigned, std::uint32_t>> runs) {
  std::vector<std::uint32_t> sizes;
  for (auto [count, size] : runs) sizes.insert(sizes.end(), count, size);
  return sizes;
}

inline const Flash kAm29LV160DB{"AMD", "Am29LV160DB",
                         "CommandSet=AMD\nManufacturerId=$01\nDeviceId=$2249\n"
                         "Sectors=16K,8K,8K,32K,31*64K\n",
                         Repeat({{1, 0x4000}, {2, 0x2000}, {1, 0x8000}, {31, 0x10000}})};
inline const Flash k28F320C3B{"Intel", "28F320C3B",
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
  // Instructions the core runs at power-on, after a reset and (at most a
  // million) per status read while it runs.
  unsigned long run_budget = 4000000;
};

struct CliResult {
  int status = -1;
  std::string out;
  std::string err;
  // A line on the stream it belongs to: "Error:" and "Warning:" lines on
  // standard error, every other line on standard output.
  bool Has(const std::string& line) const {
    const bool to_err = line.rfind("Error:", 0) == 0 || line.rfind("Warning:", 0) == 0;
    return (to_err ? err : out).find(line + "\n") != std::string::npos;
  }
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
                  "\nClockKHz=" + (t.real_time ? "2000" : "60000") + "\nRunBudget=" + std::to_string(t.run_budget) + "\n\n"
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
        "--set", std::string("Directory.Driver=") + ROMSMITH_STAGE_DIR + "/ports/simboard/", answer_, "-c",
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

  // Starts `args` with this test's profile and the streams of `actions`
  // (which it destroys); -1 when it cannot.
  pid_t Spawn(std::vector<std::string> args, posix_spawn_file_actions_t& actions) const {
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    std::vector<std::string> env_strings;
    for (char** e = environ; *e; ++e) env_strings.emplace_back(*e);
    env_strings.push_back("ROMSMITH_PROFILE=" + (root_ / "profile.ini").string());
    std::vector<char*> envp;
    for (auto& e : env_strings) envp.push_back(e.data());
    envp.push_back(nullptr);
    pid_t pid = -1;
    if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data()) != 0) pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    return pid;
  }

  // Starts the command line; its standard output comes through `fd`, its
  // standard error goes to a file that Errors() reads.
  pid_t Start(const std::string& arguments, int& fd) {
    int pipe_fds[2];
    if (::pipe(pipe_fds) != 0) return -1;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipe_fds[1], STDOUT_FILENO);
    if (merge_stderr_)
      posix_spawn_file_actions_adddup2(&actions, pipe_fds[1], STDERR_FILENO);
    else
      posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, (root_ / "err.txt").c_str(),
                                       O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addclose(&actions, pipe_fds[0]);
    const pid_t pid = Spawn(Arguments(arguments), actions);
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
    run.err = Errors();
    return run;
  }

  // What the last command started wrote on standard error.
  std::string Errors() const { return ReadText(root_ / "err.txt"); }

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
  // How questions are answered ("-y" or "-n"), and whether standard error
  // comes through the same pipe as standard output.
  std::string answer_ = "-y";
  bool merge_stderr_ = false;
  Target target_;
  std::uint32_t size_ = 0;
  Bytes image_;
};

// Mismatch reports name the first differing offset rather than dump images.
inline ::testing::AssertionResult SameImage(const Bytes& actual, const Bytes& expected) {
  if (actual.size() != expected.size())
    return ::testing::AssertionFailure() << "sizes " << actual.size() << " and " << expected.size();
  // memcmp first: the byte loop below, unoptimised, only finds the place.
  if (actual.empty() || std::memcmp(actual.data(), expected.data(), actual.size()) == 0)
    return ::testing::AssertionSuccess();
  for (std::size_t i = 0; i < actual.size(); ++i) {
    if (actual[i] != expected[i])
      return ::testing::AssertionFailure() << "first difference at 0x" << std::hex << i << ": 0x"
                                           << int(actual[i]) << " instead of 0x" << int(expected[i]);
  }
  return ::testing::AssertionSuccess();
}

}  // namespace flash_commands
