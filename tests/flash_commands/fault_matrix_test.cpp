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
#include <sys/stat.h>

#include <atomic>
#include <cstdio>
#include <functional>
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
      if (first_line_time_ == Duration{}) first_line_time_ = now;
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

  // Runs `command` and sends SIGINT `delay` after its first line (or after
  // its connect line).
  CliResult StopAfter(const CommandRow& command, bool after_connect, std::chrono::milliseconds delay) {
    int fd = -1;
    const pid_t pid = Start(Expand(command.arguments, root_), fd);
    EXPECT_GT(pid, 0);
    if (pid <= 0) return {};
    std::atomic<bool> connected{!after_connect};
    std::atomic<bool> started{false};
    std::thread stopper([pid, delay, &connected, &started] {
      for (int i = 0; i < 10000 && !(started && connected); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
      std::this_thread::sleep_for(delay);
      ::kill(pid, SIGINT);
    });
    CliResult run;
    char buffer[4096];
    for (ssize_t n; (n = ::read(fd, buffer, sizeof buffer)) > 0;) {
      run.out.append(buffer, static_cast<std::size_t>(n));
      started = true;
      if (run.out.find(kConnectedLine) != std::string::npos) connected = true;
    }
    ::close(fd);
    started = true;
    connected = true;
    stopper.join();
    run.status = Wait(pid);
    run.err = Errors();
    return run;
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
  // From the start of the process: its first line (the program is loaded
  // and takes signals), the connect line, the success line.
  Duration first_line_time_{};
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
  // One read may bring both lines of a quick command.
  ASSERT_GE(healthy_time_, connected_time_);
  std::mt19937 random(static_cast<unsigned>(std::hash<std::string>{}(command.name)));
  std::uniform_real_distribution<double> share(0.3, 0.75);
  for (const bool after_connect : {false, true}) {
    PrepareBoard();
    // Counted from the process's first line: before it the program may still
    // be loading on a busy machine, and a signal then ends it unhandled.
    const Duration span = after_connect ? healthy_time_ - connected_time_ : connected_time_ - first_line_time_;
    // A command that ends within a few milliseconds of its connect line (a
    // register read) leaves no point after the connect that a signal could
    // be sure to reach before the success line; the stop while connecting
    // covers it.
    if (after_connect && span < std::chrono::milliseconds(20)) continue;
    auto delay = std::chrono::duration_cast<std::chrono::milliseconds>(span * share(random));
    // On a busy machine a quick command can run faster than the healthy run
    // did and end before the signal; such a run proves nothing, so the stop
    // is sent again sooner (at last right after the first line).
    CliResult run;
    for (int attempt = 0;; ++attempt) {
      if (attempt > 0) PrepareBoard();
      run = StopAfter(command, after_connect, delay);
      if (!(run.status == 0 && Succeeded(run)) || attempt == 3) break;
      delay = attempt == 2 ? std::chrono::milliseconds(0) : delay / 2;
    }
    CheckFaultyRun(std::string("stop ") + (after_connect ? "after connecting, " : "") +
                       std::to_string(delay.count()) + " ms in",
                   run, true);
  }
}

// ---------------------------------------------------------------- inputs

// The mistakes a user makes in what a command is given: each is refused
// before anything on the target or in a file changes (the flash image keeps
// its contents), with a line that says what is wrong, and exits 1, or 2 for
// a set-up error; what works despite a flaw says so and goes on. Output and
// error lines are read together.
class InputMatrix : public FlashCommands {
 protected:
  void SetUp() override {
    FlashCommands::SetUp();
    merge_stderr_ = true;
    WriteText(root_ / "profile.ini", "[Option]\nTimeOut=2\nResetCount=1\nRegChkPop=0\n");
  }
  // Sectors 1-4 (64 KiB) hold an older program.
  void PrepareBoard() {
    Target t;
    t.run_budget = 200000;
    t.board_extra = "ProgramTimeUs=1\n";
    Bytes image(0x10000, 0xFF);
    const Bytes old = Pattern(0x10000, 5);
    std::copy(old.begin(), old.end(), image.begin());
    Prepare(t, image);
  }
  void EditConfig(const std::string& from, const std::string& to) {
    std::string cfg = ReadText(root_ / "target.cfg");
    Replace(cfg, from, to);
    WriteText(root_ / "target.cfg", cfg);
  }
  void EditBoard(const std::string& from, const std::string& to) {
    std::string board = ReadText(root_ / "board.ini");
    Replace(board, from, to);
    WriteText(root_ / "board.ini", board);
  }
  // Files of this process's run directories left in the temporary
  // directory by `pid`.
  static bool RunDirectoryLeft(pid_t pid) {
    const std::string prefix = "romsmith-run-" + std::to_string(pid) + "-";
    for (const auto& entry : fs::directory_iterator(fs::temp_directory_path()))
      if (entry.path().filename().string().rfind(prefix, 0) == 0) return true;
    return false;
  }
};

// Intel HEX text of `bytes` from address 0, 16 bytes a record; the record
// at `bad_record` (counted from 0) gets a wrong checksum.
std::string HexText(const Bytes& bytes, std::size_t bad_record = SIZE_MAX) {
  std::string text;
  char field[16];
  for (std::size_t at = 0, record = 0; at < bytes.size(); at += 16, ++record) {
    const std::size_t n = std::min<std::size_t>(16, bytes.size() - at);
    unsigned sum = static_cast<unsigned>(n + (at >> 8) + (at & 0xFF));
    std::snprintf(field, sizeof field, ":%02X%04X00", static_cast<unsigned>(n), static_cast<unsigned>(at & 0xFFFF));
    text += field;
    for (std::size_t i = 0; i < n; ++i) {
      sum += bytes[at + i];
      std::snprintf(field, sizeof field, "%02X", bytes[at + i]);
      text += field;
    }
    std::snprintf(field, sizeof field, "%02X\n", ((0x100 - (sum & 0xFF)) + (record == bad_record)) & 0xFF);
    text += field;
  }
  return text + ":00000001FF\n";
}

TEST_F(InputMatrix, EveryInputMistakeIsRefusedBeforeTheTargetOrAFileChanges) {
  struct Row {
    const char* name;
    std::function<void()> arrange;
    const char* arguments;
    int status;
    std::string line;  // a line, or the start of one, the run prints
    bool flash_kept = true;
    bool erase_starts = false;  // the erase's start line comes before its failure
  };
  const fs::path root = root_;
  const auto nothing = [] {};
  const Bytes fits = Pattern(0x8000, 9);
  const std::vector<Row> rows = {
      {"program file missing", nothing, "-s 1-4 -f ROOT/typo.bin --auto-erase program", 1,
       "Error: cannot find program file.\n"},
      {"program file empty", [this] { WriteText(root_ / "empty.bin", ""); },
       "-s 1-4 -f ROOT/empty.bin --auto-erase program", 1,
       "Error: program file is empty, program failed.\n"},
      {"program file a FIFO",
       [this] { ASSERT_EQ(::mkfifo((root_ / "pipe.bin").c_str(), 0600), 0); },
       "-s 1-4 -f ROOT/pipe.bin --auto-erase program", 1, "is not a regular file"},
      {"verify file a FIFO",
       [this] { ASSERT_EQ(::mkfifo((root_ / "pipe.bin").c_str(), 0600), 0); },
       "-s 1-4 -f ROOT/pipe.bin verify", 1, "is not a regular file"},
      {"program file a device", nothing, "-s 1-4 -f /dev/zero --auto-erase program", 1,
       "Error: program file /dev/zero is not a regular file (a pipe, a device or a directory).\n"},
      {"program file too large",
       [this] { WriteBytes(root_ / "big.bin", Pattern(0x10001, 1)); },
       "-s 1-4 -f ROOT/big.bin --auto-erase program", 1,
       "Error: program file too large, program failed.\n"},
      {"HEX file missing", nothing, "-s 1-4 -f ROOT/typo.hex --format hex --auto-erase program", 1,
       "Error: convert Intel Hex format file failed, program stop.\n"},
      {"loader cut to 100 bytes",
       [this] { fs::resize_file(root_ / "program/parl.mdl", 100); },
       "-s 1-4 -f ROOT/fits.bin --auto-erase program", 1, "not whole 32-bit words"},
      {"loader cut at a word",
       [this] { fs::resize_file(root_ / "program/parl.mdl", 400); },
       "-s 1-4 -f ROOT/fits.bin --auto-erase program", 1,
       "Error: the loader did not run to its end", true, true},
      {"loader empty", [this] { fs::resize_file(root_ / "program/parl.mdl", 0); },
       "-s 1-4 erase", 1, "is empty, command stopped.\n", true, true},
      {"upload onto the board's flash image", nothing, "-s 1-4 -f ROOT/flash.bin upload", 1,
       "is held open by this program"},
      {"upload into a missing directory", nothing, "-s 1-4 -f ROOT/none/up.bin upload", 1,
       "does not exist, upload stopped.\n"},
      {"unknown flash device",
       [this] { EditConfig("FlashChip=Am29LV160DB", "FlashChip=Am29LV999"); },
       "-s 1-4 erase", 2,
       "Error: flash device \"Am29LV999\" is not in the flash device database; choose one from "
       "the flash list.\n"},
      {"a 100 KB flash device name",
       [this] { EditConfig("FlashChip=Am29LV160DB", "FlashChip=" + std::string(100000, 'x')); },
       "-s 1-4 erase", 2, "... (100000 bytes)\" is not in the flash device database"},
      {"unknown CPU", [this] { EditConfig("CpuChip=S3C44B0X", "CpuChip=S3C44B9X"); },
       "-s 1-4 erase", 2,
       "Error: CPU \"S3C44B9X\" is not in the CPU database; choose one from the CPU list.\n"},
      {"CPU database missing", [this] { fs::remove(root_ / "program/proc.xdl"); },
       "-s 1-4 erase", 2, "Error: the CPU database (proc.xdl) could not be read"},
      {"no loader for the byte order",
       [this] {
         EditConfig("CpuChip=S3C44B0X", "CpuChip=S3C2410");
         EditConfig("CpuEndian=LITTLE", "CpuEndian=BIG");
       },
       "-s 1-4 erase", 2,
       "Error: CPU S3C2410 has no loader for big-endian targets in the CPU database (no "
       "LoadFileBE): choose the other byte order or another CPU.\n"},
      {"checksum of a NAND CPU",
       [this] { EditConfig("CpuChip=S3C44B0X", "CpuChip=S3C2410 (Nand)"); },
       "-s 1-4 checksum", 2, "checksum is not available for CPU 'S3C2410 (Nand)'"},
      {"blank check of a NAND CPU",
       [this] { EditConfig("CpuChip=S3C44B0X", "CpuChip=S3C2410 (Nand)"); },
       "-s 1-4 blank-check", 2, "is not available for CPU 'S3C2410 (Nand)'"},
      {"an ARM7 module against an ARM920T",
       [this] {
         EditBoard("Core=ARM7TDMI", "Core=ARM920T");
         EditBoard("IdCode=$3F0F0F0F", "IdCode=$0032409D");
       },
       "-s 1-4 erase", 1,
       "Error: the target's ID code 0x0032409D is an ARM920T, but osprey7.so drives ARM7 cores: "
       "choose an ARM9 module such as osprey9.so.\n"},
      {"upload overwrite cancelled",
       [this] {
         WriteText(root_ / "up.bin", "keep");
         answer_ = "-n";
       },
       "-s 1-4 -f ROOT/up.bin upload", 3, "Info: upload cancelled, ROOT/up.bin is kept.\n"},
      {"hex2bin onto its own input",
       [this] { WriteText(root_ / "in.hex", ":00000001FF\n"); },
       "hex2bin ROOT/in.hex ROOT/in.hex", 2, "the input and the output are the same file"},
      // What works despite a flaw goes on and says so.
      {"configuration with a byte-order mark",
       [this] { WriteText(root_ / "target.cfg", "\xEF\xBB\xBF" + ReadText(root_ / "target.cfg")); },
       "-s 1-4 -f ROOT/fits.bin program", 0, "Info: program suceess.\n", false},
      {"HEX file with a bad checksum",
       [this, fits] { WriteText(root_ / "fits.hex", HexText(fits, 1000)); },
       "-s 1-4 -f ROOT/fits.hex --format hex program", 0,
       "Warning: hex file line 1001: 1 record with a bad checksum; the data was converted as "
       "read.\n",
       false},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    PrepareBoard();
    answer_ = "-y";
    for (const char* name : {"parl.mdl", "proc.xdl"})
      fs::copy_file(fs::path(ROMSMITH_STAGE_DIR) / name, root_ / "program" / name,
                    fs::copy_options::overwrite_existing);
    WriteBytes(root_ / "fits.bin", fits);
    row.arrange();
    const CliResult run = Cli(Expand(row.arguments, root_));
    SCOPED_TRACE(run.out);
    EXPECT_EQ(run.status, row.status);
    EXPECT_NE(run.out.find(Expand(row.line, root_)), std::string::npos) << row.line;
    if (row.status != 0) {
      if (!row.erase_starts) {
        EXPECT_EQ(run.out.find("Info: start erase"), std::string::npos);
      }
      EXPECT_EQ(run.out.find(" completed."), std::string::npos);
    }
    if (row.status == 3) {
      EXPECT_EQ(run.out.find("Error: "), std::string::npos);
    }
    const Bytes expected = row.flash_kept ? image_ : With(0, 0x10000, fits);
    EXPECT_TRUE(SameImage(Flash(), expected)) << "the flash is not as expected";
    EXPECT_EQ(fs::file_size(root_ / "flash.bin"), size_) << "the board's image lost its size";
    for (const char* name : {"pipe.bin", "empty.bin", "big.bin", "up.bin", "in.hex", "fits.hex"})
      fs::remove(root_ / name);
  }
}

// The decoded loader is made new in the command's own directory: a link
// planted under the old fixed name beside the loader writes nothing through
// it, and such a name left by a killed run goes at the next start.
TEST_F(InputMatrix, TemporaryFilesAreMadeNewAndStaleOnesGo) {
  PrepareBoard();
  WriteText(root_ / "victim.txt", "mine");
  fs::create_symlink(root_ / "victim.txt", root_ / "program/parl.mdl.ddl");
  WriteText(root_ / "program/parb.mdl.ddl", "left by a killed run");
  WriteBytes(root_ / "fits.bin", Pattern(0x4000, 2));
  WriteText(root_ / "fits.hex", HexText(Pattern(0x4000, 2)));
  const CliResult run = Cli(Expand("-s 1-4 -f ROOT/fits.hex --format hex program", root_));
  EXPECT_EQ(run.status, 0) << run.out;
  EXPECT_EQ(ReadText(root_ / "victim.txt"), "mine");
  EXPECT_FALSE(fs::exists(fs::symlink_status(root_ / "program/parl.mdl.ddl")));
  EXPECT_FALSE(fs::exists(root_ / "program/parb.mdl.ddl"));
  EXPECT_FALSE(fs::exists(root_ / "fits.hex.bin")) << "the converted copy is made beside the file";
}

// SIGTERM and SIGHUP stop a running program as Ctrl-C does: the user-stop
// line, exit 3, and nothing of the run left in its temporary directory.
TEST_F(InputMatrix, TerminationSignalsStopTheCommandAndRemoveItsFiles) {
  for (const int signal_number : {SIGTERM, SIGHUP}) {
    SCOPED_TRACE(signal_number);
    PrepareBoard();
    WriteBytes(root_ / "fits.bin", Pattern(0x10000, 4));
    int fd = -1;
    const pid_t pid = Start(Expand("-s 1-4 -f ROOT/fits.bin program", root_), fd);
    ASSERT_GT(pid, 0);
    CliResult run;
    bool sent = false;
    char buffer[4096];
    for (ssize_t n; (n = ::read(fd, buffer, sizeof buffer)) > 0;) {
      run.out.append(buffer, static_cast<std::size_t>(n));
      if (!sent && run.out.find("Info: start program...") != std::string::npos) {
        ::kill(pid, signal_number);
        sent = true;
      }
    }
    ::close(fd);
    run.status = Wait(pid);
    SCOPED_TRACE(run.out);
    EXPECT_TRUE(sent);
    EXPECT_EQ(run.status, 3);
    EXPECT_NE(run.out.find("Info: user stop program.\n"), std::string::npos);
    EXPECT_FALSE(RunDirectoryLeft(pid));
    for (const auto& entry : fs::directory_iterator(root_ / "program"))
      EXPECT_NE(entry.path().extension(), ".ddl") << entry.path();
  }
}

INSTANTIATE_TEST_SUITE_P(Commands, FaultMatrix, ::testing::ValuesIn(kCommands),
                         [](const ::testing::TestParamInfo<CommandRow>& info) {
                           return std::string(info.param.name);
                         });

}  // namespace
}  // namespace flash_commands
