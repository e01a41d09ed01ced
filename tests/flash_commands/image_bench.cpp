// Program of a 1 MiB image (S-records) through romsmith-cli and osprey7 on
// the default virtual board, by counters rather than wall time: onto an
// erased board, onto a board that already holds it, and onto one that
// differs in one 64 KiB sector. With unchanged sectors skipped, the last two
// should cost a small share of the first one's TCK cycles.
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
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
constexpr std::uint32_t kChangedSector = 0x50000;  // one 64 KiB sector

struct Measured {
  int status = -1;
  std::string out;
  std::map<std::string, double> counters;
  double Tck() const { return counters.count("tck_cycles") ? counters.at("tck_cycles") : 0; }
};

Measured RunCli(const std::vector<std::string>& arguments, const fs::path& root, const char* name) {
  const fs::path counters = root / (std::string(name) + ".counters");
  const fs::path out = root / (std::string(name) + ".out");
  std::vector<std::string> args = arguments;
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  std::vector<std::string> env;
  for (char** e = environ; *e; ++e) env.emplace_back(*e);
  env.push_back("ROMSMITH_BOARD_COUNTERS=" + counters.string());
  env.push_back("ROMSMITH_PROFILE=" + (root / "profile.ini").string());
  std::vector<char*> envp;
  for (auto& e : env) envp.push_back(e.data());
  envp.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, out.c_str(),
                                   O_WRONLY | O_CREAT | O_TRUNC, 0644);
  Measured m;
  pid_t pid = -1;
  const int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) return m;
  int status = 0;
  ::waitpid(pid, &status, 0);
  m.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  std::stringstream text;
  text << std::ifstream(out).rdbuf();
  m.out = text.str();
  std::ifstream in(counters);
  std::string line;
  while (std::getline(in, line)) {
    const auto eq = line.find('=');
    if (eq != std::string::npos) m.counters[line.substr(0, eq)] = std::stod(line.substr(eq + 1));
  }
  return m;
}

// S3 records of 32 bytes from address 0 on.
std::string SRecords(const std::vector<unsigned char>& data) {
  std::string text;
  char field[8];
  for (std::uint32_t at = 0; at < data.size(); at += 32) {
    const std::uint32_t n =
        std::min<std::uint32_t>(32, static_cast<std::uint32_t>(data.size()) - at);
    std::vector<unsigned> bytes = {n + 5, at >> 24 & 0xFF, at >> 16 & 0xFF, at >> 8 & 0xFF,
                                   at & 0xFF};
    for (std::uint32_t i = 0; i < n; ++i) bytes.push_back(data[at + i]);
    unsigned sum = 0;
    text += "S3";
    for (unsigned b : bytes) {
      std::snprintf(field, sizeof field, "%02X", b);
      text += field;
      sum += b;
    }
    std::snprintf(field, sizeof field, "%02X\n", ~sum & 0xFF);
    text += field;
  }
  return text + "S70500000000FA\n";
}

std::string Summary(const Measured& m) {
  const auto at = m.out.find(" sectors written");
  const auto single = m.out.find(" sector written");
  const auto found = at != std::string::npos ? at : single;
  if (found == std::string::npos) return "no summary line";
  const auto begin = m.out.rfind("Info: ", found);
  return m.out.substr(begin, m.out.find('\n', found) - begin);
}

}  // namespace

int main() {
  const fs::path stage = ROMSMITH_STAGE_DIR;
  char pattern[] = "/tmp/romsmith-image-bench-XXXXXX";
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
  std::vector<unsigned char> data(kBytes);
  std::mt19937 random(7);
  for (auto& b : data) b = static_cast<unsigned char>(random());
  std::ofstream(root / "image.srec") << SRecords(data);
  std::ofstream(root / "image.bin", std::ios::binary)
      .write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));

  const std::vector<std::string> program = {
      (stage / "romsmith-cli").string(),
      "--program-dir",
      (root / "program").string(),
      "--board",
      (root / "board.ini").string(),
      "--set",
      "Directory.Device=" + (stage / "drivers").string() + "/",
      "--set",
      "Directory.Driver=" + (stage / "ports/simboard").string() + "/",
      "-y",
      "-c",
      (stage / "examples/s3c44b0x-am29lv160db.cfg").string(),
      "-s",
      kSectors,
      "-f",
      (root / "image.srec").string(),
      "--format",
      "image",
      "--auto-erase",
      "--auto-verify",
      "program"};
  const Measured erased = RunCli(program, root, "erased");
  const Measured same = RunCli(program, root, "same");
  {
    // One byte of one sector differs on the board.
    std::fstream flash(root / "flash.bin", std::ios::in | std::ios::out | std::ios::binary);
    flash.seekp(kChangedSector + 1234);
    flash.put(static_cast<char>(~data[kChangedSector + 1234]));
  }
  const Measured one = RunCli(program, root, "one");
  // The same bytes as a flat binary onto an erased board, for comparison.
  fs::remove(root / "flash.bin");
  std::vector<std::string> flat = program;
  flat.erase(flat.end() - 7, flat.end() - 3);  // "-f FILE --format image"
  flat.insert(flat.end() - 3, {"-f", (root / "image.bin").string()});
  const Measured flat_run = RunCli(flat, root, "flat");

  std::printf("image program of 1 MiB (S-records, sectors %s, auto erase and verify):\n", kSectors);
  const auto row = [&](const char* what, const Measured& m) {
    std::printf("  %-34s exit %d, TCK %.0f = %5.2f%% of the erased board's; %s\n", what, m.status,
                m.Tck(), erased.Tck() > 0 ? 100.0 * m.Tck() / erased.Tck() : 0.0,
                Summary(m).c_str());
  };
  row("onto an erased board", erased);
  row("onto a board holding it (goal 3%)", same);
  row("one 64 KiB sector differs (12%)", one);
  std::printf("  %-34s exit %d, TCK %.0f = %5.2f%% of the erased board's image program\n",
              "the same as Flat Bin, erased board", flat_run.status, flat_run.Tck(),
              erased.Tck() > 0 ? 100.0 * flat_run.Tck() / erased.Tck() : 0.0);
  std::error_code ignored;
  fs::remove_all(root, ignored);
  return erased.status == 0 && same.status == 0 && one.status == 0 && flat_run.status == 0 ? 0 : 1;
}
