// romsmith-cli end to end with every driver module on a virtual board with
// the module's wiring: the connect lines, and the host-read commands and the
// target test in both byte orders, checked against the flash image the test
// writes.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <tuple>
#include <unistd.h>
#include <vector>

#include "modules_under_test.h"
#include "tests/file_contents.h"

namespace {

namespace fs = std::filesystem;
using modules_test::ModuleFacts;

struct CliRun {
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

std::string ReadText(const fs::path& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// Replaces the value of the first "KEY=" line of an INI text.
void SetKey(std::string& text, const std::string& key, const std::string& value) {
  const std::size_t at = text.find("\n" + key + "=");
  ASSERT_NE(at, std::string::npos) << key;
  const std::size_t start = at + key.size() + 2;
  text.replace(start, text.find('\n', start) - start, value);
}

// A program directory, a board file for the module's wiring and the board's
// flash image, in a directory of the case's own.
class CliBench {
 public:
  // `run_budget`: instructions the core runs at most each time it is let go;
  // the host-read commands run no loader and need few.
  CliBench(const ModuleFacts& module, bool big, const std::string& port_base = "$378",
           const std::string& run_budget = "4000000")
      : module_(module), big_(big) {
    root_ = fs::temp_directory_path() /
            ("module_cli_" + std::to_string(::getpid()) + "_" + std::to_string(counter_++));
    fs::remove_all(root_);
    fs::create_directories(root_ / "program");
    for (const char* name : {"romsmith.ini", "proc.xdl", "rom.xdl"}) {
      fs::copy_file(fs::path(ROMSMITH_STAGE_DIR) / name, root_ / "program" / name);
    }
    for (const fs::directory_entry& entry : fs::directory_iterator(ROMSMITH_STAGE_DIR)) {
      if (entry.path().extension() == ".mdl") {
        fs::copy_file(entry.path(), root_ / "program" / entry.path().filename());
      }
    }
    // The shipped board of the module's core family and this byte order
    // (the S3C44B0X, or the S3C2410 for the ARM9 family, each with an
    // Am29LV160DB on bank 0) behind the module's probe, at one clock rate.
    const char* shipped = module.arm9 ? (big ? "board-arm9-big.ini" : "board-arm9.ini")
                                      : (big ? "board-big.ini" : "board.ini");
    std::string board = ReadText(fs::path(ROMSMITH_STAGE_DIR) / "ports/simboard" / shipped);
    SetKey(board, "Probe", module.probe);
    SetKey(board, "PortBase", port_base);
    SetKey(board, "Image", "flash0.bin");
    SetKey(board, "RunBudget", run_budget);
    SetKey(board, "ClockKHz", "60000");
    std::ofstream(root_ / "board.ini") << board;
    if (module.arm9 && big) {
      // The S3C2410 configuration turned big-endian: enough for the
      // host-read commands (the database has no big-endian ARM9 loader).
      std::string config = ReadText(fs::path(ROMSMITH_SOURCE_DIR) / "data/examples/s3c2410-am29lv160db.cfg");
      SetKey(config, "LittleEndian", "0");
      SetKey(config, "CpuEndian", "BIG");
      std::ofstream(root_ / "s3c2410-big.cfg") << config;
    }
    // 2 MB of flash: the first 24 KiB a pattern, the rest erased.
    image_.assign(0x200000, 0xFF);
    for (std::size_t i = 0; i < 0x6000; ++i) {
      image_[i] = static_cast<unsigned char>((i * 131 + (i >> 7) * 17 + 5) & 0xFF);
    }
    std::ofstream(root_ / "flash0.bin", std::ios::binary)
        .write(reinterpret_cast<const char*>(image_.data()), static_cast<std::streamsize>(image_.size()));
  }
  ~CliBench() {
    std::error_code ignored;
    fs::remove_all(root_, ignored);
  }

  CliRun Cli(const std::string& arguments, const std::string& settings = "") const {
    const std::string examples = std::string(ROMSMITH_SOURCE_DIR) + "/data/examples/";
    const std::string config =
        !module_.arm9 ? examples + (big_ ? "s3c44b0x-am29lv160db-big.cfg" : "s3c44b0x-am29lv160db.cfg")
        : big_        ? (root_ / "s3c2410-big.cfg").string()
                      : examples + "s3c2410-am29lv160db.cfg";
    const std::string command =
        std::string("'") + ROMSMITH_CLI + "' --program-dir '" + (root_ / "program").string() +
        "' --board '" + (root_ / "board.ini").string() + "' --set 'Directory.Device=" +
        ROMSMITH_STAGE_DIR + "/drivers/' --set 'Directory.Driver=" + ROMSMITH_STAGE_DIR +
        "/ports/simboard/' --set 'Remote.Device=" + module_.name + ".so' " + settings + " -y -c '" +
        config + "' " + arguments + " 2>'" + (root_ / "err.txt").string() + "'";
    CliRun run;
    FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe) return run;
    char buffer[4096];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) run.out.append(buffer, n);
    const int status = ::pclose(pipe);
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    run.err = romsmith_tests::ReadFileText(root_ / "err.txt");
    return run;
  }

  std::vector<unsigned char> Flash() const {
    return romsmith_tests::ReadFileBytes(root_ / "flash0.bin");
  }
  const fs::path& root() const { return root_; }
  const std::vector<unsigned char>& image() const { return image_; }

 private:
  static inline int counter_ = 0;
  const ModuleFacts& module_;
  bool big_;
  fs::path root_;
  std::vector<unsigned char> image_;
};

std::string IdLine(const ModuleFacts& module) {
  return module.arm9 ? "Info: target device ID is: 0x32409d." : "Info: target device ID is: 0x3f0f0f0f.";
}

using ModuleAndOrder = std::tuple<ModuleFacts, bool>;

// The host-read commands run no loader: the core, let go, runs little.
class ModuleCliHostRead : public ::testing::TestWithParam<ModuleAndOrder> {
 protected:
  const ModuleFacts& module = std::get<0>(GetParam());
  bool big = std::get<1>(GetParam());
  CliBench bench{module, big, "$378", "100000"};
};

// A loader run is one run of the core: a 1 KiB chunk at 10 us a word is
// about 300000 instructions of polling at the board's clock; 4 KiB of program
// make four such runs.
class ModuleCliLoader : public ::testing::TestWithParam<ModuleAndOrder> {
 protected:
  const ModuleFacts& module = std::get<0>(GetParam());
  bool big = std::get<1>(GetParam());
  CliBench bench{module, big, "$378", "400000"};
};

// Every host-read command in one case: checksum, blank check (written and
// erased sectors), upload, verify (same and changed), and the target test up
// to its loader step.
TEST_P(ModuleCliHostRead, CommandsAndTheTargetTest) {
  const auto& image = bench.image();
  unsigned sum = 0;
  for (std::size_t i = 0x4000; i < 0x6000; ++i) sum += image[i];  // sector 2
  char line[96];
  std::snprintf(line, sizeof line, "Info: checksum completed, it is 0x%04X.", sum & 0xFFFF);
  const CliRun checksum = bench.Cli("-s 2-2 checksum");
  EXPECT_EQ(checksum.status, 0) << checksum.out << checksum.err;
  EXPECT_TRUE(checksum.Has(IdLine(module))) << checksum.out << checksum.err;
  EXPECT_TRUE(checksum.Has(line)) << checksum.out << checksum.err;

  const CliRun written = bench.Cli("-s 2-3 blank-check");
  EXPECT_EQ(written.status, 1);
  std::snprintf(line, sizeof line, "Error: blank check failed, address 0x00004000 contain data 0x%02X.",
                image[0x4000]);
  EXPECT_TRUE(written.Has(line)) << written.out << written.err;
  const CliRun erased = bench.Cli("-s 3-3 blank-check");
  EXPECT_EQ(erased.status, 0) << erased.out << erased.err;
  EXPECT_TRUE(erased.Has("Info: blank check success.")) << erased.out << erased.err;

  const fs::path upload = bench.root() / "upload.bin";
  // Sector 2: 8 KiB at 0x4000.
  const CliRun up = bench.Cli("-s 2-2 -f '" + upload.string() + "' upload");
  EXPECT_EQ(up.status, 0) << up.out << up.err;
  EXPECT_TRUE(up.Has("Info: upload completed.")) << up.out << up.err;
  std::vector<unsigned char> back = romsmith_tests::ReadFileBytes(upload);
  ASSERT_EQ(back.size(), 0x2000u);
  EXPECT_TRUE(std::equal(back.begin(), back.end(), image.begin() + 0x4000));

  const CliRun same = bench.Cli("-s 2-2 -f '" + upload.string() + "' verify");
  EXPECT_EQ(same.status, 0) << same.out << same.err;
  EXPECT_TRUE(same.Has("Info: verify success.")) << same.out << same.err;
  back[0x321] ^= 0x10;
  std::ofstream(upload, std::ios::binary | std::ios::trunc)
      .write(reinterpret_cast<const char*>(back.data()), static_cast<std::streamsize>(back.size()));
  const CliRun differs = bench.Cli("-s 2-2 -f '" + upload.string() + "' verify");
  EXPECT_EQ(differs.status, 1);
  EXPECT_TRUE(differs.Has("Error: verify failed, different at address 0x00004321.")) << differs.out << differs.err;

  const CliRun test = bench.Cli("target-test");
  EXPECT_TRUE(test.Has("Info: start target test...")) << test.out << test.err;
  EXPECT_TRUE(test.Has("Info: RAM test success.")) << test.out << test.err;
  EXPECT_TRUE(test.Has("Info: start get flash device code...")) << test.out << test.err;
}

// The loader commands through the module: erase, program with auto erase
// and auto verify, the whole target test with the device code, and protect
// on a chip that has no software protection. Sectors outside the range are
// never touched.
TEST_P(ModuleCliLoader, EraseProgramTestTheTargetAndProtect) {
  const CliRun erase = bench.Cli("-s 2-2 erase");
  EXPECT_EQ(erase.status, 0) << erase.out << erase.err;
  EXPECT_TRUE(erase.Has("Info: erase completed.")) << erase.out << erase.err;
  std::vector<unsigned char> flash = bench.Flash();
  ASSERT_EQ(flash.size(), bench.image().size());
  EXPECT_TRUE(std::equal(flash.begin(), flash.begin() + 0x4000, bench.image().begin()));
  EXPECT_TRUE(std::all_of(flash.begin() + 0x4000, flash.begin() + 0x6000, [](unsigned char b) { return b == 0xFF; }));

  // 4 KiB into sector 4 (0x8000 on), with its own pattern.
  std::vector<unsigned char> program(0x1000);
  for (std::size_t i = 0; i < program.size(); ++i) program[i] = static_cast<unsigned char>(i * 7 + (i >> 9));
  const fs::path file = bench.root() / "program.bin";
  std::ofstream(file, std::ios::binary).write(reinterpret_cast<const char*>(program.data()),
                                              static_cast<std::streamsize>(program.size()));
  const CliRun run = bench.Cli("-s 4-4 -f '" + file.string() + "' --auto-erase --auto-verify program");
  EXPECT_EQ(run.status, 0) << run.out << run.err;
  EXPECT_TRUE(run.Has("Info: program suceess.")) << run.out << run.err;
  flash = bench.Flash();
  EXPECT_TRUE(std::equal(program.begin(), program.end(), flash.begin() + 0x8000));
  EXPECT_TRUE(std::equal(flash.begin(), flash.begin() + 0x4000, bench.image().begin()));

  const CliRun test = bench.Cli("target-test");
  EXPECT_EQ(test.status, 0) << test.out << test.err;
  EXPECT_TRUE(test.Has("Info: device code is 0x2249, target test success.")) << test.out << test.err;

  const CliRun protect = bench.Cli("-s 1-2 protect");
  EXPECT_EQ(protect.status, 1) << protect.out << protect.err;
  EXPECT_TRUE(protect.Has("Info: the chip does not support sector protect function, protect end."))
      << protect.out << protect.err;
}

std::string CaseName(const ::testing::TestParamInfo<ModuleAndOrder>& info) {
  return std::string(std::get<0>(info.param).name) + (std::get<1>(info.param) ? "_Big" : "_Little");
}

// Every module little-endian; the byte order itself lives in the shared core,
// so one big-endian board per probe family with its own clocking suffices
// here (the slot-level board tests run every module in both orders).
auto Arm7Little() {
  return ::testing::Combine(::testing::ValuesIn(modules_test::ModulesOn(false)), ::testing::Values(false));
}
auto Arm7Big() {
  return ::testing::Combine(
      ::testing::Values(modules_test::kAllModules[0], modules_test::kAllModules[4]), ::testing::Values(true));
}
INSTANTIATE_TEST_SUITE_P(Arm7Little, ModuleCliHostRead, Arm7Little(), CaseName);
INSTANTIATE_TEST_SUITE_P(Arm7Big, ModuleCliHostRead, Arm7Big(), CaseName);
INSTANTIATE_TEST_SUITE_P(Arm7Little, ModuleCliLoader, Arm7Little(), CaseName);
INSTANTIATE_TEST_SUITE_P(Arm7Big, ModuleCliLoader, Arm7Big(), CaseName);

class ModuleCliConnect : public ::testing::TestWithParam<ModuleFacts> {
 protected:
  const ModuleFacts& module = GetParam();
};

// No probe at the port the host names (the board's probe sits on LPT2): the
// module's own line, and the command fails.
TEST_P(ModuleCliConnect, NoProbeAnsweringGivesTheModulesNotFoundLine) {
  CliBench bench(module, false, "$278", "100000");
  const CliRun run = bench.Cli("-s 2-2 checksum");
  EXPECT_EQ(run.status, 1) << run.out << run.err;
  std::string line = module.probe_not_found ? module.probe_not_found : module.cpu_not_found;
  line.pop_back();  // the newline
  EXPECT_TRUE(run.Has(line)) << run.out << run.err;
  EXPECT_EQ(run.out.find("Info: checksum completed"), std::string::npos) << run.out << run.err;
}

// A speed index past the module's names: its warning, then the command runs
// at full speed.
TEST_P(ModuleCliConnect, AnOutOfRangeSpeedWarnsAndRunsAtFullSpeed) {
  CliBench bench(module, false, "$378", "100000");
  const CliRun run = bench.Cli("-s 2-2 checksum", "--set Remote.Speed=7");
  EXPECT_EQ(run.status, 0) << run.out << run.err;
  if (module.speed_warning) {
    std::string line = module.speed_warning;
    line.pop_back();
    EXPECT_TRUE(run.Has(line)) << run.out << run.err;
  } else {
    EXPECT_EQ(run.err.find("Warning: JTAG speed"), std::string::npos) << run.err;
  }
  EXPECT_NE(run.out.find("Info: checksum completed"), std::string::npos) << run.out << run.err;
}

INSTANTIATE_TEST_SUITE_P(Arm7, ModuleCliConnect, ::testing::ValuesIn(modules_test::ModulesOn(false)),
                         [](const auto& info) { return std::string(info.param.name); });

// The database's ARM9 processors have no big-endian loader: the big-endian
// ARM9 board runs the host-read commands only.
#if ROMSMITH_BOARD_HAS_ARM9
auto Arm9Little() {
  return ::testing::Combine(::testing::ValuesIn(modules_test::ModulesOn(true)), ::testing::Values(false));
}
INSTANTIATE_TEST_SUITE_P(Arm9Little, ModuleCliHostRead, Arm9Little(), CaseName);
INSTANTIATE_TEST_SUITE_P(Arm9Big, ModuleCliHostRead,
                         ::testing::Combine(::testing::Values(modules_test::kAllModules[1],
                                                              modules_test::kAllModules[5]),
                                            ::testing::Values(true)),
                         CaseName);
INSTANTIATE_TEST_SUITE_P(Arm9Little, ModuleCliLoader, Arm9Little(), CaseName);
INSTANTIATE_TEST_SUITE_P(Arm9, ModuleCliConnect, ::testing::ValuesIn(modules_test::ModulesOn(true)),
                         [](const auto& info) { return std::string(info.param.name); });
#endif

}  // namespace
