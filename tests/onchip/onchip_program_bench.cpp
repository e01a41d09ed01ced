// Program and verify of the whole AT91SAM7S256 flash (256 KiB, through
// osprey7) and of 4 MiB of NAND on the S3C2410 board (through osprey9, over
// its two factory bad blocks) with romsmith-cli on the example boards: wall
// and CPU time of each command, port accesses and core instructions per
// byte, and the rate a real parallel port would give at 1 us per access.
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <map>
#include <string>

#include "tests/onchip/cli_bench.h"

namespace {

using namespace romsmith::cli_testing;

struct Measured {
  int status = -1;
  double wall_s = 0, cpu_s = 0;
  std::map<std::string, double> counters;
};

double ChildrenCpuSeconds() {
  rusage usage{};
  ::getrusage(RUSAGE_CHILDREN, &usage);
  return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
         (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

Measured Measure(const Bench& bench, const std::string& arguments, const std::string& name) {
  const fs::path counters = bench.Path(name + ".counters");
  Measured m;
  const double cpu = ChildrenCpuSeconds();
  const auto start = std::chrono::steady_clock::now();
  const CliRun run = bench.Cli("-q " + arguments, "ROMSMITH_BOARD_COUNTERS='" + counters.string() + "'");
  m.wall_s = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  m.cpu_s = ChildrenCpuSeconds() - cpu;
  m.status = run.status;
  if (run.status != 0) std::fputs((run.out + run.err).c_str(), stdout);
  std::ifstream in(counters);
  std::string line;
  while (std::getline(in, line)) {
    const auto eq = line.find('=');
    if (eq != std::string::npos) m.counters[line.substr(0, eq)] = std::stod(line.substr(eq + 1));
  }
  return m;
}

void Report(const char* what, double bytes, const Measured& m) {
  auto counter = [&](const char* key) { return m.counters.count(key) ? m.counters.at(key) : 0.0; };
  const double accesses = counter("port_reads") + counter("port_writes");
  std::printf("%s: exit %d, %.2f s wall, %.2f s CPU\n", what, m.status, m.wall_s, m.cpu_s);
  std::printf("  port accesses per byte %.1f, TCK per byte %.1f, core instructions per byte %.1f\n",
              accesses / bytes, counter("tck_cycles") / bytes, counter("instructions") / bytes);
  if (accesses > 0)
    std::printf("  at 1 us per port access: %.1f s, %.1f KiB/s\n", accesses * 1e-6,
                bytes / (accesses * 1e-6) / 1024);
}

// Program (with erase and the loader's read-back) and then verify of
// `bytes` random bytes over `sectors`; true when both succeeded.
bool ProgramAndVerify(const Bench& bench, std::size_t bytes, const char* sectors, const char* what) {
  WriteFile(bench.Path("data.bin"), RandomBytes(bytes, 3));
  const std::string file = std::string("-s ") + sectors + " -f '" + bench.Path("data.bin").string() + "' ";
  const Measured program = Measure(bench, file + "--auto-erase --auto-verify program", "program");
  const Measured verify = Measure(bench, file + "verify", "verify");
  Report((std::string(what) + ", program with erase and read-back").c_str(), bytes, program);
  Report((std::string(what) + ", verify").c_str(), bytes, verify);
  std::printf("  program + verify: %.2f s wall, %.2f s CPU\n", program.wall_s + verify.wall_s,
              program.cpu_s + verify.cpu_s);
  return program.status == 0 && verify.status == 0;
}

}  // namespace

int main() {
  bool all = ProgramAndVerify(Bench("board-at91sam7s256.ini", "at91sam7s256.cfg", "osprey7.so"),
                              256 * 1024, "1-16", "AT91SAM7S256 whole flash");
  // 256 good blocks of 16 KiB: blocks 0-257, with bad blocks 3 and 9. The
  // table is not known yet, so program and verify each check the blocks
  // first.
  all &= ProgramAndVerify(Bench("board-s3c2410-nand.ini", "s3c2410-nand-k9f1208u0b.cfg", "osprey9.so"),
                          4 * 1024 * 1024, "1-258", "4 MiB of NAND (S3C2410, K9F1208U0B)");
  return all ? 0 : 1;
}
