// Romsmith beside OpenOCD on the same virtual board (the default board: an
// ARM7TDMI with a 16-bit Am29LV160DB), one table from one run:
//   - reading 2 MiB of NOR: upload, standard and with FastRead, against
//     dump_image;
//   - writing 256 KiB of RAM: FillMemory (1 KiB per call, as the loader
//     commands write) against load_image;
//   - programming 256 KiB of NOR with verify: program with auto erase and
//     auto verify (in 1 KiB chunks, or by whole sectors with LoadSectData),
//     then verify (standard, FastRead, TargetVerify); streamed through the
//     debug comms channel with TargetVerify (also on the ARM920T board);
//     against flash write_image erase and verify_image; and the verify
//     alone.
// Each row gives the board's TCK cycles and its port accesses (OpenOCD:
// remote_bitbang commands, one port access each on a bit-banged parallel
// port) per byte, the wall time, and what a real parallel port at 1 us per
// access would move. Figures count the whole command, connect and halt
// included.
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "driver_host/driver_binding.h"
#include "reporting/message_log.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
using Counters = std::map<std::string, double>;

constexpr std::uint32_t kRam = 0x0C000000;
constexpr std::uint32_t kReadBytes = 2u << 20;
constexpr std::uint32_t kRamBytes = 256u << 10;
constexpr std::uint32_t kProgramBytes = 256u << 10;
// Sectors 1-7 of the Am29LV160DB: 16K + 8K + 8K + 32K + 3 x 64K = 256 KiB.
constexpr const char* kProgramSectors = "1-7";

struct Measured {
  int status = -1;
  double wall_s = 0;
  Counters counters;
  double pause_s = 0;  // the prescribed 1 ms per 1 KiB block read by the host

  Measured& operator+=(const Measured& other) {
    if (status == 0) status = other.status;
    wall_s += other.wall_s;
    pause_s += other.pause_s;
    for (const auto& [name, value] : other.counters) counters[name] += value;
    return *this;
  }
};

Counters ParseCounters(std::istream& in) {
  Counters counters;
  std::string line;
  while (std::getline(in, line)) {
    const auto eq = line.find('=');
    if (eq == std::string::npos) continue;
    try {
      counters[line.substr(0, eq)] = std::stod(line.substr(eq + 1));
    } catch (const std::exception&) {
    }
  }
  return counters;
}

Counters ReadCounters(const fs::path& path) {
  std::ifstream in(path);
  return ParseCounters(in);
}

// Starts `args` with `env` added to this process's environment and its
// standard output and error going to `out` and `err` (empty: inherited).
pid_t Spawn(const std::vector<std::string>& args, const std::vector<std::string>& env,
            const fs::path& out, const fs::path& err) {
  std::vector<std::string> a = args;
  std::vector<char*> argv;
  for (auto& s : a) argv.push_back(s.data());
  argv.push_back(nullptr);
  std::vector<std::string> e;
  for (char** p = environ; *p; ++p) e.emplace_back(*p);
  e.insert(e.end(), env.begin(), env.end());
  std::vector<char*> envp;
  for (auto& s : e) envp.push_back(s.data());
  envp.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (!out.empty())
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (!err.empty())
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  pid_t pid = -1;
  if (posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), envp.data()) != 0) pid = -1;
  posix_spawn_file_actions_destroy(&actions);
  return pid;
}

int Wait(pid_t pid) {
  int status = 0;
  if (::waitpid(pid, &status, 0) != pid) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string ReadText(const fs::path& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

class Bench {
 public:
  explicit Bench(fs::path root) : stage_(ROMSMITH_STAGE_DIR), root_(std::move(root)) {
    fs::create_directories(root_ / "program");
    for (const char* name : {"romsmith.ini", "proc.xdl", "rom.xdl", "parl.mdl", "hwl.mdl"})
      fs::copy_file(stage_ / name, root_ / "program" / name);
    std::string board = ReadText(stage_ / "ports/simboard/board.ini");
    board.replace(board.find("Image=flash0.bin"), 16, "Image=flash.bin");
    std::ofstream(board_ = root_ / "board.ini") << board;
    // The ARM920T board (an S3C2410 with the same flash) behind osprey9.
    std::string board9 = ReadText(stage_ / "ports/simboard/board-arm9.ini");
    board9.replace(board9.find("Image=flash0-arm9.bin"), 21, "Image=flash.bin");
    std::ofstream(board9_ = root_ / "board-arm9.ini") << board9;
    std::ofstream(root_ / "profile.ini") << "[Option]\nTimeOut=60\nResetCount=1\nRegChkPop=0\n";
    std::mt19937 random(1);
    for (const auto& [name, size] : {std::pair{"flash_data.bin", kReadBytes},
                                     std::pair{"program.bin", kProgramBytes},
                                     std::pair{"ram.bin", kRamBytes}}) {
      std::vector<char> data(size);
      for (auto& b : data) b = static_cast<char>(random());
      std::ofstream(root_ / name, std::ios::binary).write(data.data(), size);
    }
  }

  // The flash as the command finds it: `image` (or erased).
  void SetFlash(const char* image) {
    fs::remove(root_ / "flash.bin");
    if (image) fs::copy_file(root_ / image, root_ / "flash.bin");
    else std::ofstream(root_ / "flash.bin", std::ios::binary) << std::string(kReadBytes, '\xFF');
  }

  Measured Cli(const std::vector<std::string>& more, bool arm9 = false) {
    std::vector<std::string> args = {
        (stage_ / "romsmith-cli").string(),
        "--program-dir",
        (root_ / "program").string(),
        "--board",
        (arm9 ? board9_ : board_).string(),
        "--set",
        "Directory.Device=" + (stage_ / "drivers").string() + "/",
        "--set",
        "Directory.Driver=" + (stage_ / "ports/simboard").string() + "/",
        "-q",
        "-y",
        "-c",
        (stage_ / (arm9 ? "examples/s3c2410-am29lv160db.cfg" : "examples/s3c44b0x-am29lv160db.cfg"))
            .string()};
    if (arm9) args.insert(args.end(), {"--set", "Remote.Device=osprey9.so"});
    args.insert(args.end(), more.begin(), more.end());
    const fs::path counters = root_ / "cli.counters";
    fs::remove(counters);
    Measured m;
    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = Spawn(args,
                            {"ROMSMITH_BOARD_COUNTERS=" + counters.string(),
                             "ROMSMITH_PROFILE=" + (root_ / "profile.ini").string()},
                            root_ / "cli.out", {});
    m.status = pid < 0 ? -1 : Wait(pid);
    m.wall_s = Seconds(start);
    m.counters = ReadCounters(counters);
    if (m.status != 0) std::fprintf(stderr, "romsmith-cli failed:\n%s", ReadText(root_ / "cli.out").c_str());
    return m;
  }

  // FillMemory of the RAM file, 1 KiB per call, through the program's own
  // driver binding, in this process.
  Measured FillRam() {
    const fs::path counters = root_ / "fill.counters";
    ::setenv("ROMSMITH_BOARD", board_.c_str(), 1);
    ::setenv("ROMSMITH_BOARD_COUNTERS", counters.c_str(), 1);
    romsmith::MessageLog log;
    romsmith::ProgramSettings settings;
    settings.driver_module_directory = (stage_ / "drivers").string() + "/";
    settings.port_driver_directory = (stage_ / "ports/simboard").string() + "/";
    settings.remote.device = "osprey7.so";
    settings.remote.comm_type = "Parallel";
    settings.remote.parallel = "LPT1";
    romsmith::TargetConfig target;
    target.cpu_endian = "LITTLE";
    std::ifstream in(root_ / "ram.bin", std::ios::binary);
    std::vector<std::uint8_t> data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    Measured m;
    const auto start = std::chrono::steady_clock::now();
    {
      romsmith::DriverBinding binding(log, settings, target);
      binding.RecomputeConnection();
      bool ok = binding.BindDriver() && binding.StopTarget();
      for (std::uint32_t at = 0; ok && at < data.size(); at += 1024)
        ok = binding.FillMemory(kRam + at, data.data() + at, 1024, 4);
      binding.UnbindDriver();
      m.status = ok ? 0 : 1;
    }
    m.wall_s = Seconds(start);
    ::unsetenv("ROMSMITH_BOARD_COUNTERS");
    m.counters = ReadCounters(counters);
    return m;
  }

  bool OpenOcdAvailable() const {
    const pid_t pid = Spawn({"openocd", "--version"}, {}, root_ / "version.out", root_ / "version.err");
    return pid >= 0 && Wait(pid) == 0;
  }

  // One OpenOCD run of `commands` against a fresh romsmith-simboard
  // --remote-bitbang; the counters are what the board served to it.
  Measured OpenOcd(const std::string& commands) {
    Measured m;
    const fs::path out = root_ / "simboard.out", err = root_ / "simboard.err";
    pid_t server = -1;
    int port = 20000 + static_cast<int>(::getpid() % 20000);
    for (int attempt = 0; attempt < 10; ++attempt, ++port) {
      server = Spawn({(stage_ / "romsmith-simboard").string(), "--board", board_.string(),
                      "--remote-bitbang", std::to_string(port)},
                     {}, out, err);
      bool serving = false;
      for (int wait = 0; wait < 50 && !serving && server >= 0; ++wait) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        serving = ReadText(err).find("serving") != std::string::npos;
        int status = 0;
        if (!serving && ::waitpid(server, &status, WNOHANG) == server) server = -1;
      }
      if (serving) break;
      if (server >= 0) {
        ::kill(server, SIGTERM);
        Wait(server);
        server = -1;
      }
    }
    if (server < 0) {
      std::fprintf(stderr, "romsmith-simboard did not start:\n%s", ReadText(err).c_str());
      return m;
    }
    const auto start = std::chrono::steady_clock::now();
    const pid_t openocd =
        Spawn({"openocd", "-f", (fs::path(ROMSMITH_SOURCE_DIR) / "tests/openocd/simboard.cfg").string(),
               "-c", commands},
              {"SIMBOARD_PORT=" + std::to_string(port), "SIMBOARD_ENDIAN=little",
               "SIMBOARD_TARGET=arm7tdmi", "SIMBOARD_IDCODE=0x3f0f0f0f",
               "SIMBOARD_RAM=" + std::to_string(kRam)},
              root_ / "openocd.out", root_ / "openocd.log");
    m.status = openocd < 0 ? -1 : Wait(openocd);
    m.wall_s = Seconds(start);
    if (m.status != 0) ::kill(server, SIGTERM);
    Wait(server);
    std::ifstream in(out);
    m.counters = ParseCounters(in);
    if (m.status != 0) std::fprintf(stderr, "openocd failed:\n%s", ReadText(root_ / "openocd.log").c_str());
    return m;
  }

  const fs::path& root() const { return root_; }

 private:
  static double Seconds(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  }

  fs::path stage_, root_, board_, board9_;
};

void Row(const char* operation, const char* tool, const Measured& m, double bytes) {
  const double tck = m.counters.count("tck_cycles") ? m.counters.at("tck_cycles") : 0;
  double accesses = m.counters.count("bitbang_commands") ? m.counters.at("bitbang_commands") : 0;
  if (m.counters.count("port_reads"))
    accesses += m.counters.at("port_reads") + m.counters.at("port_writes");
  const double real_s = accesses * 1e-6;
  char pauses[32];
  std::snprintf(pauses, sizeof pauses, "%.2f (%.0f%%)", m.pause_s,
                m.wall_s > 0 ? 100 * m.pause_s / m.wall_s : 0.0);
  std::printf("| %-28s | %-46s | %4s | %7.3f | %8.3f | %7.2f | %11s | %9.1f |\n", operation, tool,
              m.status == 0 ? "ok" : "FAIL", tck / bytes, accesses / bytes, m.wall_s, pauses,
              real_s > 0 ? bytes / real_s / 1024 : 0.0);
}

}  // namespace

int main() {
  char pattern[] = "/tmp/romsmith-side-by-side-XXXXXX";
  if (::mkdtemp(pattern) == nullptr) return 1;
  Bench bench(pattern);
  const std::string upload = (bench.root() / "upload.bin").string();
  const std::string program = (bench.root() / "program.bin").string();
  const bool openocd = bench.OpenOcdAvailable();
  // The prescribed pause: 1 ms after each 1 KiB block a host-read command
  // reads; a sleep of 1 ms takes a little more.
  const double pause_per_block_s = 1e-3;

  std::printf("Romsmith beside OpenOCD on the default virtual board (ARM7TDMI, Am29LV160DB, "
              "emulator wiring)\n");
  std::printf("| %-28s | %-46s | %4s | %7s | %8s | %7s | %11s | %9s |\n", "operation", "how", "", "TCK/B",
              "access/B", "wall s", "pauses s", "KiB/s@1us");
  std::printf("|%s|%s|%s|%s|%s|%s|%s|%s|\n", std::string(30, '-').c_str(), std::string(48, '-').c_str(),
              std::string(6, '-').c_str(), std::string(9, '-').c_str(), std::string(10, '-').c_str(),
              std::string(9, '-').c_str(), std::string(13, '-').c_str(), std::string(11, '-').c_str());

  const char* read_op = "read 2 MiB of NOR";
  for (const auto& [how, set] : {std::pair<const char*, const char*>{"romsmith upload", nullptr},
                                 {"romsmith upload, FastRead", "Option.FastRead=1"}}) {
    bench.SetFlash("flash_data.bin");
    std::vector<std::string> args = {"-s", "1-35", "-f", upload};
    if (set) args.insert(args.end(), {"--set", set});
    args.push_back("upload");
    Measured m = bench.Cli(args);
    m.pause_s = pause_per_block_s * (kReadBytes / 1024);
    Row(read_op, how, m, kReadBytes);
  }
  if (openocd) {
    bench.SetFlash("flash_data.bin");
    Row(read_op, "openocd dump_image", bench.OpenOcd("init; halt; dump_image " + upload + " 0 " +
                                                         std::to_string(kReadBytes) + "; shutdown"),
        kReadBytes);
  }

  const char* ram_op = "write 256 KiB of RAM";
  bench.SetFlash(nullptr);
  Row(ram_op, "romsmith FillMemory, 1 KiB a call", bench.FillRam(), kRamBytes);
  if (openocd) {
    Row(ram_op, "openocd load_image",
        bench.OpenOcd("init; halt; load_image " + (bench.root() / "ram.bin").string() + " " +
                      std::to_string(kRam) + " bin; shutdown"),
        kRamBytes);
  }

  const char* program_op = "program 256 KiB NOR + verify";
  const std::vector<std::string> range = {"-s", kProgramSectors, "-f", program};
  auto with = [&](std::vector<std::string> more) {
    std::vector<std::string> args = range;
    args.insert(args.end(), more.begin(), more.end());
    return args;
  };
  struct ProgramWay {
    const char* how;
    const char* program_set;  // program by whole sectors
    const char* verify_set;
  };
  for (const ProgramWay& way :
       {ProgramWay{"romsmith program + verify", nullptr, nullptr},
        ProgramWay{"romsmith program + verify, FastRead", nullptr, "Option.FastRead=1"},
        ProgramWay{"romsmith program + verify, TargetVerify", nullptr, "Option.TargetVerify=1"},
        ProgramWay{"romsmith program, LoadSectData + TargetVerify", "Option.LoadSectData=1",
                   "Option.TargetVerify=1"}}) {
    bench.SetFlash(nullptr);
    std::vector<std::string> program_args = {"--auto-erase", "--auto-verify", "program"};
    if (way.program_set) program_args.insert(program_args.begin(), {"--set", way.program_set});
    Measured m = bench.Cli(with(program_args));
    std::vector<std::string> verify_args = {"verify"};
    if (way.verify_set) verify_args.insert(verify_args.begin(), {"--set", way.verify_set});
    Measured verify = bench.Cli(with(verify_args));
    if (!way.verify_set || std::string(way.verify_set) != "Option.TargetVerify=1")
      verify.pause_s = pause_per_block_s * (kProgramBytes / 1024);
    m += verify;
    Row(program_op, way.how, m, kProgramBytes);
  }
  // Streamed through the debug comms channel, verified on the target (the
  // program's auto verify and the verify after it), on both cores.
  for (const bool arm9 : {false, true}) {
    bench.SetFlash(nullptr);
    Measured m =
        bench.Cli(with({"--set", "Option.StreamProgram=1", "--set", "Option.TargetVerify=1",
                        "--auto-erase", "--auto-verify", "program"}),
                  arm9);
    m += bench.Cli(with({"--set", "Option.TargetVerify=1", "verify"}), arm9);
    Row(program_op,
        arm9 ? "romsmith StreamProgram + TargetVerify, ARM920T"
             : "romsmith StreamProgram + TargetVerify",
        m, kProgramBytes);
  }
  if (openocd) {
    bench.SetFlash(nullptr);
    Row(program_op, "openocd write_image erase + verify_image",
        bench.OpenOcd("init; halt; flash write_image erase " + program + " 0 bin; verify_image " +
                      program + " 0 bin; shutdown"),
        kProgramBytes);
  }

  const char* verify_op = "verify 256 KiB alone";
  for (const auto& [how, set] : {std::pair<const char*, const char*>{"romsmith verify", nullptr},
                                 {"romsmith verify, FastRead", "Option.FastRead=1"},
                                 {"romsmith verify, TargetVerify", "Option.TargetVerify=1"}}) {
    // The flash holds the file from the program above.
    std::vector<std::string> args = {"verify"};
    if (set) args.insert(args.begin(), {"--set", set});
    Measured m = bench.Cli(with(args));
    if (!set || std::string(set) != "Option.TargetVerify=1")
      m.pause_s = pause_per_block_s * (kProgramBytes / 1024);
    Row(verify_op, how, m, kProgramBytes);
  }
  if (openocd) {
    Row(verify_op, "openocd verify_image",
        bench.OpenOcd("init; halt; verify_image " + program + " 0 bin; shutdown"), kProgramBytes);
  } else {
    std::printf("OpenOCD is not installed (Debian package openocd): its rows are missing.\n");
  }
  std::printf("TCK/B and access/B count the whole command (connect, halt, board set-up, loader)\n"
              "per byte moved; OpenOCD's accesses are its remote_bitbang commands. KiB/s@1us: a\n"
              "real parallel port at 1 us per access. pauses s: the prescribed 1 ms per 1 KiB\n"
              "block of a host read, and its share of the wall time.\n");
  std::error_code ignored;
  fs::remove_all(bench.root(), ignored);
  return 0;
}
