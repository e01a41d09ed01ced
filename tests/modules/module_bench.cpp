// Port accesses and TCK cycles per KiB of DumpMemory (word-wide reads in
// 8-word block loads) and FillMemory (12-word block stores) through the
// virtual board's port library, beside the least the instruction sequences
// themselves need on the emulator wiring.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "drivers/core/driver.h"

namespace {

namespace fs = std::filesystem;
using namespace drivers;

class CountingPort : public Port {
 public:
  explicit CountingPort(std::unique_ptr<Port> inner) : inner_(std::move(inner)) {}
  std::uint8_t Read(std::uint16_t port) override {
    ++reads;
    return inner_->Read(port);
  }
  void Write(std::uint16_t port, std::uint8_t value) override {
    ++writes;
    inner_->Write(port, value);
  }
  std::uint64_t reads = 0, writes = 0;

 private:
  std::unique_ptr<Port> inner_;
};

const ModuleProfile kProfile = {.probe = kTevrinEmulator, .core = CoreFamily::Arm7,
                                .description = "bench", .version = 0x112045};

// What the sequences cost on the emulator wiring: a clock is two data writes,
// a sampled clock one write and one status read more.
struct Cost {
  double clocks = 0, sampled = 0;
  void Chain1(int accesses, int captured) {
    clocks += accesses * (33 + 5.0);  // Select, Capture, 33 shifts, Exit1, Update, Idle
    sampled += captured * 33.0;
  }
  void Ir(int scans) {
    clocks += scans * 9.0;
    sampled += scans * 4.0;
  }
  void Idle() {
    clocks += 1;
    sampled += 1;
  }
  double writes() const { return 2 * clocks + sampled; }
  double reads() const { return sampled; }
};

// One 8-word group of the block load, one 12-word group of the block store.
Cost BlockLoadGroup() {
  Cost c;
  c.Chain1(9 + 11, 8);
  c.Ir(2);  // RESTART, INTEST
  c.Idle();
  return c;
}
Cost BlockStoreGroup() {
  Cost c;
  c.Chain1(20, 0);
  c.Ir(2);
  c.Idle();
  return c;
}

struct Bench {
  Bench() {
    dir = fs::temp_directory_path() / ("osprey7_bench_" + std::to_string(::getpid()));
    fs::create_directories(dir);
    std::ofstream(dir / "board.ini")
        << "[Board]\nCore=ARM7TDMI\nEndian=Little\nProbe=emulator\nPortBase=$378\n"
           "Timing=Deterministic\nRunBudget=20000\n"
           "[Region1]\nKind=RAM\nBase=$0C000000\nSize=$00100000\n"
           "[Region2]\nKind=RAM\nBase=$00000000\nSize=$00010000\n";
    ::setenv("ROMSMITH_BOARD", (dir / "board.ini").c_str(), 1);
    driver = std::make_unique<Driver>(kProfile, [this](const std::string& d, std::string* error) -> std::unique_ptr<Port> {
      auto library = PortLibrary::Load(d, error);
      if (!library) return nullptr;
      auto counting = std::make_unique<CountingPort>(std::move(library));
      port = counting.get();
      return counting;
    });
    std::uint8_t order = 2, speed = 0;
    std::string directory = ROMSMITH_STAGE_DIR "/ports/simboard/";
    OpenOptions options{&order, directory.c_str(), &speed};
    char name[16] = "LPT1";
    ConnectRecord record{GDI_COMM_PARALLEL, 1, name};
    ok = driver->Open(&options) == 0 && driver->Connect(&record) == 0 && driver->Stop() == 0;
  }
  ~Bench() {
    driver->Close();
    std::error_code ignored;
    fs::remove_all(dir, ignored);
  }
  fs::path dir;
  std::unique_ptr<Driver> driver;
  CountingPort* port = nullptr;
  bool ok = false;
};

Bench& TheBench() {
  static Bench bench;
  return bench;
}

void Report(benchmark::State& state, Bench& b, std::uint64_t reads, std::uint64_t writes,
            std::uint64_t clocks, const Cost& least, std::int64_t kib) {
  const double n = static_cast<double>(kib) * static_cast<double>(state.iterations());
  state.counters["port_reads_per_KiB"] = static_cast<double>(b.port->reads - reads) / n;
  state.counters["port_writes_per_KiB"] = static_cast<double>(b.port->writes - writes) / n;
  state.counters["tck_per_KiB"] =
      static_cast<double>(b.driver->transport().counters().tck_cycles - clocks) / n;
  state.counters["least_port_reads_per_KiB"] = least.reads();
  state.counters["least_port_writes_per_KiB"] = least.writes();
  state.counters["least_tck_per_KiB"] = least.clocks;
  state.SetBytesProcessed(static_cast<std::int64_t>(n) * 1024);
}

void DumpMemory(benchmark::State& state) {
  Bench& b = TheBench();
  if (!b.ok) {
    state.SkipWithError("the virtual board did not connect");
    return;
  }
  const std::int64_t kib = state.range(0);
  std::vector<MemoryCell> cells(static_cast<std::size_t>(kib) * 1024);
  const auto reads = b.port->reads, writes = b.port->writes;
  const auto clocks = b.driver->transport().counters().tck_cycles;
  for (auto _ : state) {
    if (b.driver->ReadMemory(0x0C000000, cells.data(), static_cast<std::uint32_t>(cells.size()), 4) != 0) {
      state.SkipWithError("read failed");
      return;
    }
  }
  Cost least;
  const Cost group = BlockLoadGroup();
  least.clocks = group.clocks * 32;  // 32 groups of 32 bytes a KiB
  least.sampled = group.sampled * 32;
  Report(state, b, reads, writes, clocks, least, kib);
}

void FillMemory(benchmark::State& state) {
  Bench& b = TheBench();
  if (!b.ok) {
    state.SkipWithError("the virtual board did not connect");
    return;
  }
  const std::int64_t kib = state.range(0);
  std::vector<MemoryCell> cells(static_cast<std::size_t>(kib) * 1024);
  for (std::size_t i = 0; i < cells.size(); ++i) cells[i].value = static_cast<std::uint8_t>(i);
  const auto reads = b.port->reads, writes = b.port->writes;
  const auto clocks = b.driver->transport().counters().tck_cycles;
  for (auto _ : state) {
    if (b.driver->WriteMemory(0x0C000000, cells.data(), static_cast<std::uint32_t>(cells.size()), 4) != 0) {
      state.SkipWithError("write failed");
      return;
    }
  }
  Cost least;
  const Cost group = BlockStoreGroup();
  least.clocks = group.clocks * 1024.0 / 48;  // 48 bytes a group
  least.sampled = group.sampled * 1024.0 / 48;
  Report(state, b, reads, writes, clocks, least, kib);
}

BENCHMARK(DumpMemory)->Arg(1)->Arg(16)->Unit(benchmark::kMillisecond);
BENCHMARK(FillMemory)->Arg(1)->Arg(16)->Unit(benchmark::kMillisecond);

}  // namespace
