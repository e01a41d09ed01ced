// Four virtual boards programmed with 256 KiB each: by one romsmith-cli
// batch, and by four romsmith-cli runs one after another. The batch's wall
// time against the serial one (goal: at most 0.6), and the CPU time both
// took. The boards keep real time, as a board on a probe does: the flash
// takes its programming time and the program polls the loader meanwhile.
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

extern char** environ;

namespace {

namespace fs = std::filesystem;

constexpr std::uint32_t kBytes = 256 * 1024;
// Sectors 1-7 of the Am29LV160DB: 16K + 8K + 8K + 32K + 3 x 64K = 256 KiB.
constexpr const char* kSectors = "1-7";
constexpr int kBoards = 4;

struct Measured {
  int status = -1;
  double wall_s = 0, cpu_s = 0;
};

Measured Run(std::vector<std::string> args, const fs::path& profile) {
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  std::vector<std::string> env;
  for (char** e = environ; *e; ++e) env.emplace_back(*e);
  env.push_back("ROMSMITH_PROFILE=" + profile.string());
  std::vector<char*> envp;
  for (auto& e : env) envp.push_back(e.data());
  envp.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  Measured m;
  const auto start = std::chrono::steady_clock::now();
  pid_t pid = -1;
  const int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) return m;
  int status = 0;
  ::waitpid(pid, &status, 0);
  m.wall_s = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  rusage usage{};
  ::getrusage(RUSAGE_CHILDREN, &usage);
  m.cpu_s = usage.ru_utime.tv_sec + usage.ru_stime.tv_sec + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
  m.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return m;
}

}  // namespace

int main() {
  const fs::path stage = ROMSMITH_STAGE_DIR;
  char pattern[] = "/tmp/romsmith-batch-bench-XXXXXX";
  if (::mkdtemp(pattern) == nullptr) return 1;
  const fs::path root = pattern;
  fs::create_directories(root / "program");
  for (const char* name : {"romsmith.ini", "proc.xdl", "rom.xdl", "parl.mdl"})
    fs::copy_file(stage / name, root / "program" / name);
  std::string board;
  {
    std::ifstream in(stage / "ports/simboard/board.ini");
    std::stringstream text;
    text << in.rdbuf();
    board = text.str();
  }
  std::string station;
  for (int k = 0; k < kBoards; ++k) {
    std::string copy = board;
    const std::string image = "Image=flash" + std::to_string(k) + "x.bin";
    copy.replace(copy.find("Image=flash0.bin"), 16, image);
    // At a clock this machine keeps up with, beside the other targets.
    copy.replace(copy.find("Timing=Deterministic"), 20, "Timing=RealTime");
    copy.replace(copy.find("ClockKHz=60000"), 14, "ClockKHz=2000");
    std::ofstream(root / ("board" + std::to_string(k) + ".ini")) << copy;
    station += "[Target board" + std::to_string(k) + "]\nConfig=" +
               (stage / "examples/s3c44b0x-am29lv160db.cfg").string() + "\nDevice=osprey7.so\nBoard=board" +
               std::to_string(k) + ".ini\n";
  }
  std::ofstream(root / "station.ini") << station;
  std::ofstream(root / "profile.ini") << "[Option]\nTimeOut=12\nResetCount=1\nRegChkPop=0\n";
  std::vector<char> data(kBytes);
  std::mt19937 random(1);
  for (auto& b : data) b = static_cast<char>(random());
  std::ofstream(root / "data.bin", std::ios::binary).write(data.data(), kBytes);

  const std::vector<std::string> options = {
      "--program-dir", (root / "program").string(), "--set",
      "Directory.Device=" + (stage / "drivers").string() + "/", "--set",
      "Directory.Driver=" + (stage / "ports/simboard").string() + "/", "-q", "-y", "-s", kSectors, "-f",
      (root / "data.bin").string(), "--no-auto-erase"};
  const auto erase_images = [&] {
    for (int k = 0; k < kBoards; ++k) fs::remove(root / ("flash" + std::to_string(k) + "x.bin"));
  };

  erase_images();
  Measured serial;
  serial.status = 0;
  for (int k = 0; k < kBoards; ++k) {
    std::vector<std::string> args = {(stage / "romsmith-cli").string()};
    args.insert(args.end(), options.begin(), options.end());
    args.insert(args.end(), {"--board", (root / ("board" + std::to_string(k) + ".ini")).string(), "--set",
                             "Remote.Device=osprey7.so", "-c",
                             (stage / "examples/s3c44b0x-am29lv160db.cfg").string(), "program"});
    const Measured one = Run(args, root / "profile.ini");
    serial.wall_s += one.wall_s;
    serial.cpu_s = one.cpu_s;  // the children's total so far
    serial.status = std::max(serial.status, one.status);
  }

  erase_images();
  std::vector<std::string> args = {(stage / "romsmith-cli").string(), "batch", (root / "station.ini").string()};
  args.insert(args.end(), options.begin(), options.end());
  args.push_back("program");
  const Measured batch = Run(args, root / "profile.ini");
  const double batch_cpu = batch.cpu_s - serial.cpu_s;

  const double ratio = serial.wall_s > 0 ? batch.wall_s / serial.wall_s : 0;
  std::printf("batch of %d boards, 256 KiB program each: serial %.2f s wall (%.2f s CPU, exit %d), "
              "batch %.2f s wall (%.2f s CPU, exit %d)\n",
              kBoards, serial.wall_s, serial.cpu_s, serial.status, batch.wall_s, batch_cpu, batch.status);
  std::printf("  batch / serial wall time %.2f (goal at most 0.60) on %ld cores\n", ratio, ::sysconf(_SC_NPROCESSORS_ONLN));
  std::error_code ignored;
  fs::remove_all(root, ignored);
  return serial.status == 0 && batch.status == 0 && ratio <= 0.6 ? 0 : 1;
}
