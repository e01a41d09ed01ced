// Program and verify of 1 MiB through romsmith-cli and osprey7 on the
// default virtual board: wall and CPU time of each command, port accesses
// and TCK cycles per byte beside the least the driver's block transfers
// need, the time the host-read pauses take, and the rate a real parallel
// port would give at 1 us per access.
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <sstream>
#include <string>
#include <vector>

extern char** environ;

namespace {

namespace fs = std::filesystem;

constexpr std::uint32_t kBytes = 1 << 20;
// Sectors 1-19 of the Am29LV160DB: 16K + 8K + 8K + 32K + 15 x 64K = 1 MiB.
constexpr const char* kSectors = "1-19";

// What the driver's block transfers cost at least per KiB on the emulator
// wiring (the sequences' own scan lengths; measured by the driver's
// benchmark): FillMemory moves the parameter block and data, DumpMemory
// reads the flash back.
constexpr double kFillWritesPerKiB = 33429, kFillTckPerKiB = 16619;
constexpr double kDumpAccessesPerKiB = 8736 + 58592, kDumpTckPerKiB = 24928;

struct Measured {
  int status = -1;
  double wall_s = 0, cpu_s = 0;
  std::map<std::string, double> counters;
};

Measured RunCli(const std::vector<std::string>& arguments, const fs::path& counters,
                const fs::path& profile) {
  std::vector<std::string> args = arguments;
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  std::vector<std::string> env;
  for (char** e = environ; *e; ++e) env.emplace_back(*e);
  env.push_back("ROMSMITH_BOARD_COUNTERS=" + counters.string());
  env.push_back("ROMSMITH_PROFILE=" + profile.string());
  std::vector<char*> envp;
  for (auto& e : env) envp.push_back(e.data());
  envp.push_back(nullptr);

  Measured m;
  const auto start = std::chrono::steady_clock::now();
  pid_t pid = -1;
  if (posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), envp.data()) != 0) return m;
  int status = 0;
  rusage usage{};
  ::wait4(pid, &status, 0, &usage);
  m.wall_s = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  m.cpu_s = usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
            (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
  m.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  std::ifstream in(counters);
  std::string line;
  while (std::getline(in, line)) {
    const auto eq = line.find('=');
    if (eq != std::string::npos) m.counters[line.substr(0, eq)] = std::stod(line.substr(eq + 1));
  }
  return m;
}

void Report(const char* what, const Measured& m, double min_accesses_per_byte,
            double min_tck_per_byte, double pause_s) {
  const double accesses = m.counters.count("port_reads") ? m.counters.at("port_reads") + m.counters.at("port_writes") : 0;
  const double tck = m.counters.count("tck_cycles") ? m.counters.at("tck_cycles") : 0;
  const double instructions = m.counters.count("instructions") ? m.counters.at("instructions") : 0;
  const double repeated =
      m.counters.count("repeated_instructions") ? m.counters.at("repeated_instructions") : 0;
  std::printf("%s of 1 MiB: exit %d, %.2f s wall, %.2f s CPU\n", what, m.status, m.wall_s, m.cpu_s);
  std::printf("  port accesses per byte %.1f (block transfers need at least %.1f), TCK per byte %.1f (%.1f)\n",
              accesses / kBytes, min_accesses_per_byte, tck / kBytes, min_tck_per_byte);
  std::printf(
      "  core instructions per byte %.1f, of them %.1f passed over at once in polling loops\n",
      instructions / kBytes, repeated / kBytes);
  std::printf("  prescribed pauses %.2f s, %.0f%% of the wall time\n", pause_s,
              m.wall_s > 0 ? 100.0 * pause_s / m.wall_s : 0.0);
  if (accesses > 0)
    std::printf("  at 1 us per port access a real port would move %.1f KiB/s\n",
                kBytes / (accesses * 1e-6) / 1024);
}

}  // namespace

int main() {
  const fs::path stage = ROMSMITH_STAGE_DIR;
  char pattern[] = "/tmp/romsmith-bench-XXXXXX";
  if (::mkdtemp(pattern) == nullptr) return 1;
  const fs::path root = pattern;
  fs::create_directories(root / "program");
  for (const char* name : {"romsmith.ini", "proc.xdl", "rom.xdl", "parl.mdl"})
    fs::copy_file(stage / name, root / "program" / name);
  {
    std::ifstream in(stage / "ports/simboard/board.ini");
    std::stringstream text;
    text << in.rdbuf();
    std::string board = text.str();
    board.replace(board.find("Image=flash0.bin"), 16, "Image=flash.bin");
    std::ofstream(root / "board.ini") << board;
  }
  std::ofstream(root / "profile.ini") << "[Option]\nTimeOut=12\nResetCount=1\nRegChkPop=0\n";
  std::vector<char> data(kBytes);
  std::mt19937 random(1);
  for (auto& b : data) b = static_cast<char>(random());
  std::ofstream(root / "data.bin", std::ios::binary).write(data.data(), kBytes);

  const std::vector<std::string> common = {
      (stage / "romsmith-cli").string(), "--program-dir", (root / "program").string(), "--board",
      (root / "board.ini").string(), "--set", "Directory.Device=" + (stage / "drivers").string() + "/",
      "--set", "Directory.Driver=" + (stage / "ports/simboard").string() + "/", "-q", "-y", "-c",
      (stage / "examples/s3c44b0x-am29lv160db.cfg").string(), "-s", kSectors, "-f",
      (root / "data.bin").string()};
  auto with = [&](std::vector<std::string> more) {
    std::vector<std::string> args = common;
    args.insert(args.end(), more.begin(), more.end());
    return args;
  };
  // The image starts erased: program without the erase, with the loader's
  // own read-back on.
  const Measured program =
      RunCli(with({"--no-auto-erase", "--auto-verify", "program"}), root / "program.counters", root / "profile.ini");
  const Measured verify = RunCli(with({"verify"}), root / "verify.counters", root / "profile.ini");
  // The same program once more, a whole sector per loader run ("LoadSectData"),
  // onto an erased image again.
  fs::remove(root / "flash.bin");
  const Measured sectors = RunCli(
      with({"--no-auto-erase", "--auto-verify", "--set", "Option.LoadSectData=1", "program"}),
      root / "sectors.counters", root / "profile.ini");

  // Program moves 1124 bytes (block and chunk) per 1024 programmed; verify
  // reads 1 KiB per block and sleeps 1 ms after each of the 1024 blocks.
  Report("program", program, kFillWritesPerKiB * 1124 / 1024 / 1024, kFillTckPerKiB * 1124 / 1024 / 1024, 0.0);
  Report("verify", verify, kDumpAccessesPerKiB / 1024, kDumpTckPerKiB / 1024, 1024 * 1e-3);
  Report("program by whole sectors", sectors, kFillWritesPerKiB / 1024, kFillTckPerKiB / 1024, 0.0);
  std::printf("program + verify: %.2f s wall, %.2f s CPU (goal at most 10 s wall)\n",
              program.wall_s + verify.wall_s, program.cpu_s + verify.cpu_s);
  std::error_code ignored;
  fs::remove_all(root, ignored);
  return program.status == 0 && verify.status == 0 && sectors.status == 0 ? 0 : 1;
}
