// Every command against every fault of the virtual board, end to end through
// romsmith-cli and osprey7: the cable pulled (TDO stuck), the probe dying
// part-way through, a core that never halts, bits that never program, a chip
// that never finishes erasing, a loader that runs out of time, and the user's
// Stop at a random point. Whatever happens, the command says why ("Error: "
// or its user-stop line), exits 1 or 3, never claims success, leaves the
// program directory and the settings alone, leaves an upload file whole or
// clearly partial, and the same command works on the healed board after.
//
// One test per command, so ctest runs the commands side by side.
#include <signal.h>

#include <atomic>
#include <cstring>
#include <random>
#include <sstream>

#include "tests/flash_commands/flash_commands_fixture.h"

namespace flash_commands {
namespace {

struct CommandRow {
  const char* name;
  const char* arguments;  // ROOT/ stands for the test's directory
  const char* success;    // the start of the line that reports success
  bool intel = false;     // needs a chip with software protection
  bool loader = false;    // runs a flash loader
  bool erases = false;
  bool programs = false;
};

// Sector 2 (0x4000, 8 KiB) holds `kData`, the file verify compares; sector 3
// (0x6000, 8 KiB) holds it too and is what erase, program and protect work
// on; sector 4 (0x8000, 32 KiB) is erased.
const CommandRow kCommands[] = {
    {"blank_check", "-s 4-4 blank-check", "Info: blank check success."},
    {"checksum", "-s 2-2 checksum", "Info: checksum completed"},
    {"upload", "-s 2-2 -f ROOT/up.bin upload", "Info: upload completed."},
    {"verify", "-s 2-2 -f ROOT/data.bin verify", "Info: verify success."},
    {"erase", "-s 3-3 erase", "Info: erase completed.", false, true, true},
    {"program", "-s 3-3 -f ROOT/new.bin program", "Info: program suceess.", false, true, true, true},
    {"protect", "-s 3-3 protect", "Info: protect completed.", true, true},
    {"target_test", "target-test", "target test success.", false, true},
    {"read_registers", "read-registers", "Info: register read completed."},
};

constexpr std::uint32_t kSector2 = 0x4000, kSector3 = 0x6000, kSectorBytes = 0x2000;
const Bytes kData = Pattern(kSectorBytes, 3);
const Bytes kNew = Pattern(kSectorBytes, 77);
const std::string kOldUpload = "an upload from before\n";

std::string Expand(std::string text, const fs::path& root) {
  for (std::size_t at; (at = text.find("ROOT/")) != std::string::npos;)
    text.replace(at, 5, root.string() + "/");
  return text;
}

// Every file of a directory tree with its contents.
std::map<std::string, Bytes> Snapshot(const fs::path& dir) {
  std::map<std::string, Bytes> files;
  for (const auto& entry : fs::recursive_directory_iterator(dir)) {
    if (entry.is_regular_file())
      files[fs::relative(entry.path(), dir).string()] = ReadBytes(entry.path());
  }
  return files;
}

class FaultMatrix : public FlashCommands, public ::testing::WithParamInterface<CommandRow> {
 protected:
  void SetUp() override {
    FlashCommands::SetUp();
    // A loader may wait one second: the time-out cases end quickly.
    WriteText(root_ / "profile.ini", "[Option]\nTimeOut=1\nResetCount=1\nRegChkPop=0\n");
    WriteBytes(root_ / "data.bin", kData);
    WriteBytes(root_ / "new.bin", kNew);
  }

  // The board as the command finds it: healthy unless `faults` or a budget
  // say otherwise; the flash and the upload file as before every run.
  void PrepareBoard(const std::string& faults = "", unsigned long run_budget = 200000) {
    Target t;
    if (GetParam().intel) t.flash = &k28F320C3B;
    t.faults = faults;
    t.run_budget = run_budget;
    t.board_extra = "ProgramTimeUs=1\n";
    Bytes image(kSector3 + 0x20000, 0xFF);
    std::copy(kData.begin(), kData.end(), image.begin() + kSector2);
    std::copy(kData.begin(), kData.end(), image.begin() + kSector3);
    Prepare(t, image);
    WriteText(root_ / "up.bin", kOldUpload);
  }

  CliResult RunCommand() { return Cli(Expand(GetParam().arguments, root_)); }

  bool Succeeded(const CliResult& run) const {
    return run.out.find(GetParam().success) != std::string::npos;
  }

  // Port accesses of one healthy run, from the board's counter report.
  std::uint64_t HealthyPortAccesses() {
    PrepareBoard();
    const fs::path report = root_ / "counters.txt";
    ::setenv("ROMSMITH_BOARD_COUNTERS", report.c_str(), 1);
    const auto start = std::chrono::steady_clock::now();
    int fd = -1;
    const pid_t pid = Start(Expand(GetParam().arguments, root_), fd);
    ::unsetenv("ROMSMITH_BOARD_COUNTERS");
    CliResult run;
    char buffer[4096];
    for (ssize_t n; (n = ::read(fd, buffer, sizeof buffer)) > 0;) {
      run.out.append(buffer, static_cast<std::size_t>(n));
      const auto now = std::chrono::steady_clock::now() - start;
      if (connected_time_ == Duration{} && run.out.find(kConnectedLine) != std::string::npos)
        connected_time_ = now;
      if (healthy_time_ == Duration{} && Succeeded(run)) healthy_time_ = now;
    }
    ::close(fd);
    run.status = Wait(pid);
    run.err = Errors();
    EXPECT_EQ(run.status, 0) << run.out << run.err;
    EXPECT_TRUE(Succeeded(run)) << run.out;
    std::istringstream text(ReadText(report));
    std::uint64_t accesses = 0;
    for (std::string line; std::getline(text, line);) {
      for (const char* key : {"port_reads=", "port_writes="})
        if (line.rfind(key, 0) == 0) accesses += std::stoull(line.substr(std::strlen(key)));
    }
    return accesses;
  }

  // What every faulty run must hold; then the same command on the healed
  // board works.
  void CheckFaultyRun(const std::string& fault, const CliResult& run, bool stopped) {
    SCOPED_TRACE(fault + ":\n" + run.out + run.err);
    if (stopped) {
      EXPECT_EQ(run.status, 3);
      EXPECT_NE(run.out.find("Info: user stop "), std::string::npos);
    } else {
      EXPECT_EQ(run.status, 1);
      EXPECT_NE(run.err.find("Error: "), std::string::npos);
      EXPECT_EQ(run.out.find("Error: "), std::string::npos);
    }
    EXPECT_FALSE(Succeeded(run));
    EXPECT_EQ(Snapshot(root_ / "program"), program_before_) << "the program directory changed";
    EXPECT_EQ(ReadText(root_ / "profile.ini"), profile_before_);
    EXPECT_EQ(ReadText(root_ / "target.cfg"), config_before_);
    if (std::string(GetParam().name) == "upload") {
      // The old file, or whole blocks of the range from its start.
      const Bytes upload = ReadBytes(root_ / "up.bin");
      const bool old = upload == Bytes(kOldUpload.begin(), kOldUpload.end());
      const bool partial = upload.size() % 1024 == 0 && upload.size() < kSectorBytes &&
                           std::equal(upload.begin(), upload.end(), kData.begin());
      EXPECT_TRUE(old || partial) << "upload file of " << upload.size() << " bytes";
    }
    PrepareBoard();
    const CliResult healed = RunCommand();
    EXPECT_EQ(healed.status, 0) << "healed board:\n" << healed.out;
    EXPECT_TRUE(Succeeded(healed)) << "healed board:\n" << healed.out;
  }

  void Remember() {
    program_before_ = Snapshot(root_ / "program");
    profile_before_ = ReadText(root_ / "profile.ini");
    config_before_ = ReadText(root_ / "target.cfg");
  }

  using Duration = std::chrono::steady_clock::duration;
  static constexpr const char* kConnectedLine = "Info: target device ID is";
  // From the start of a healthy run to its connect line and its success line.
  Duration connected_time_{};
  Duration healthy_time_{};
  std::map<std::string, Bytes> program_before_;
  std::string profile_before_;
  std::string config_before_;
};

TEST_P(FaultMatrix, EveryFaultEndsInAnErrorOrAStopAndTheHealedBoardWorks) {
  const CommandRow& command = GetParam();
  const std::uint64_t accesses = HealthyPortAccesses();
  ASSERT_GT(accesses, 1000u);
  Remember();

  struct Fault {
    std::string name;
    std::string keys;
    unsigned long run_budget = 200000;
    bool applies = true;
  };
  std::vector<Fault> faults = {
      {"TDO stuck", "TdoStuck=1"},
      // The halt polls of a core that never stops run the core each time: a
      // small budget keeps them short.
      {"core never halts", "NeverHalt=1", 2000},
      {"bits that never program", "StuckBits=$6000:$0101", 200000, command.programs},
      {"erase never ends", "EraseNeverEnds=1", 200000, command.erases},
      // Three instructions a status poll: no loader finishes within TimeOut.
      {"loader time-out", "", 3, command.loader},
  };
  for (const double share : {0.1, 0.5, 0.9}) {
    const auto n = static_cast<std::uint64_t>(static_cast<double>(accesses) * share);
    faults.push_back({"probe dead after " + std::to_string(n) + " of " +
                          std::to_string(accesses) + " port accesses",
                      "DeadAfterPortAccesses=" + std::to_string(n)});
  }
  for (const Fault& fault : faults) {
    if (!fault.applies) continue;
    PrepareBoard(fault.keys, fault.run_budget);
    CheckFaultyRun(fault.name, RunCommand(), false);
  }

  // Stop at a random point (a fixed seed per command, so a failure
  // repeats): once while connecting, timed from the start, and once between
  // the connect and the point where the healthy run reported success, timed
  // from the connect line of this run.
  ASSERT_GT(healthy_time_, connected_time_);
  std::mt19937 random(static_cast<unsigned>(std::hash<std::string>{}(command.name)));
  std::uniform_real_distribution<double> share(0.3, 0.75);
  for (const bool after_connect : {false, true}) {
    PrepareBoard();
    const Duration span = after_connect ? healthy_time_ - connected_time_ : connected_time_;
    // A command that ends within a few milliseconds of its connect line (a
    // register read) leaves no point after the connect that a signal could
    // be sure to reach before the success line; the stop while connecting
    // covers it.
    if (after_connect && span < std::chrono::milliseconds(20)) continue;
    const auto delay = std::chrono::duration_cast<std::chrono::milliseconds>(span * share(random));
    int fd = -1;
    const pid_t pid = Start(Expand(command.arguments, root_), fd);
    ASSERT_GT(pid, 0);
    std::atomic<bool> connected{!after_connect};
    std::thread stopper([pid, delay, &connected] {
      for (int i = 0; i < 10000 && !connected; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
      std::this_thread::sleep_for(delay);
      ::kill(pid, SIGINT);
    });
    CliResult run;
    char buffer[4096];
    for (ssize_t n; (n = ::read(fd, buffer, sizeof buffer)) > 0;) {
      run.out.append(buffer, static_cast<std::size_t>(n));
      if (run.out.find(kConnectedLine) != std::string::npos) connected = true;
    }
    ::close(fd);
    connected = true;
    stopper.join();
    run.status = Wait(pid);
    run.err = Errors();
    CheckFaultyRun(std::string("stop ") + (after_connect ? "after connecting, " : "") +
                       std::to_string(delay.count()) + " ms in",
                   run, true);
  }
}

INSTANTIATE_TEST_SUITE_P(Commands, FaultMatrix, ::testing::ValuesIn(kCommands),
                         [](const ::testing::TestParamInfo<CommandRow>& info) {
                           return std::string(info.param.name);
                         });

}  // namespace
}  // namespace flash_commands
