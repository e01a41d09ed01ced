// Port accesses and TCK cycles per KiB of DumpMemory (word-wide reads in
// 8-word block loads) and FillMemory (12-word block stores) for every module
// on a virtual board with its wiring, beside the least its wiring and chain-1
// form need for the same instruction sequences, and the throughput a real
// port would give at 1 us per port access.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "drivers/core/driver.h"
#include "modules_under_test.h"

namespace {

namespace fs = std::filesystem;
using namespace drivers;
using modules_test::ModuleFacts;

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

const ProbeFamily& ProbeOf(const ModuleFacts& m) {
  const std::string probe = m.probe;
  if (probe == "cable") return kJtagCable;
  if (probe == "harrier") return kHarrierProbe;
  if (probe == "kestrel") return kKestrelProbe;
  return kTevrinEmulator;
}

// The least a sequence costs: clocks that sample TDO and clocks that do not.
// A bit-banged wiring writes twice per clock and once more plus a status read
// per sample; the Harrier packs three unsampled clocks into one command byte
// and writes one byte plus one read per sampled clock (full speed: no ready
// polls).
struct Cost {
  double plain = 0, sampled = 0;
  // One chain-1 access of `bits` (Select, Capture, the shifts, Exit1,
  // Update, Idle); a captured one samples every shift but the last.
  void Chain1(int bits, int accesses, int captured) {
    plain += (accesses - captured) * (bits + 5.0) + captured * 5.0;
    sampled += captured * static_cast<double>(bits);
  }
  void Ir(int scans) {  // 4-bit IR, its capture checked
    plain += scans * 5.0;
    sampled += scans * 4.0;
  }
  void Idle() { sampled += 1; }
  double clocks() const { return plain + sampled; }
  double writes(bool harrier) const { return harrier ? plain / 3 + sampled : 2 * plain + 3 * sampled; }
  double reads() const { return sampled; }
  Cost& operator*=(double k) {
    plain *= k;
    sampled *= k;
    return *this;
  }
};

// One 8-word group of the block load: the address load and LDM (9 accesses,
// one of them data), RESTART, INTEST, the idle clock, then STM and eleven
// NOPs of which eight carry a word out.
Cost BlockLoadGroup(bool arm9) {
  Cost c;
  if (arm9) {
    c.Chain1(35, 8, 0);
    c.Chain1(67, 1, 0);
    c.Chain1(35, 11, 8);
  } else {
    c.Chain1(33, 20, 8);
  }
  c.Ir(2);
  c.Idle();
  return c;
}

// One 12-word group of the block store: LDM, two NOPs, twelve words and the
// address as data, the store at system speed; INTEST, RESTART, idle clock.
Cost BlockStoreGroup(bool arm9) {
  Cost c;
  if (arm9) {
    c.Chain1(35, 7, 0);
    c.Chain1(67, 13, 0);
  } else {
    c.Chain1(33, 20, 0);
  }
  c.Ir(2);
  c.Idle();
  return c;
}

struct Bench {
  explicit Bench(const ModuleFacts& m) : module(m), profile{ProbeOf(m), m.arm9 ? CoreFamily::Arm9 : CoreFamily::Arm7, m.name, m.version} {
    dir = fs::temp_directory_path() / ("module_bench_" + std::to_string(::getpid()) + "_" + m.name);
    fs::create_directories(dir);
    // A port library of its own per module: each load serves one board.
    fs::copy_file(fs::path(ROMSMITH_STAGE_DIR) / "ports/simboard/portcall.so", dir / "portcall.so",
                  fs::copy_options::overwrite_existing);
    std::ofstream(dir / "board.ini")
        << "[Board]\nCore=" << (m.arm9 ? "ARM920T" : "ARM7TDMI") << "\nEndian=Little\nProbe="
        << m.probe << "\nPortBase=$378\nTiming=Deterministic\nRunBudget=20000\n"
        << "[Region1]\nKind=RAM\nBase=$0C000000\nSize=$00100000\n"
           "[Region2]\nKind=RAM\nBase=$00000000\nSize=$00010000\n";
    ::setenv("ROMSMITH_BOARD", (dir / "board.ini").c_str(), 1);
    driver = std::make_unique<Driver>(profile, [this](const std::string& d, std::string* error, bool* exports_missing) -> std::unique_ptr<Port> {
      auto library = PortLibrary::Load(d, error, exports_missing);
      if (!library) return nullptr;
      auto counting = std::make_unique<CountingPort>(std::move(library));
      port = counting.get();
      return counting;
    });
    std::uint8_t order = 2, speed = 0;
    const std::string directory = dir.string() + "/";
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
  const ModuleFacts& module;
  ModuleProfile profile;
  fs::path dir;
  std::unique_ptr<Driver> driver;
  CountingPort* port = nullptr;
  bool ok = false;
};

void Transfer(benchmark::State& state, const ModuleFacts* module, bool fill) {
  Bench b(*module);
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
    const auto count = static_cast<std::uint32_t>(cells.size());
    const int result = fill ? b.driver->WriteMemory(0x0C000000, cells.data(), count, 4)
                            : b.driver->ReadMemory(0x0C000000, cells.data(), count, 4);
    if (result != 0) {
      state.SkipWithError("transfer failed");
      return;
    }
  }
  Cost least = fill ? BlockStoreGroup(module->arm9) : BlockLoadGroup(module->arm9);
  least *= fill ? 1024.0 / 48 : 1024.0 / 32;
  const bool harrier = std::string(module->probe) == "harrier";
  const double n = static_cast<double>(kib) * static_cast<double>(state.iterations());
  const double port_accesses = static_cast<double>((b.port->reads - reads) + (b.port->writes - writes)) / n;
  state.counters["port_reads_per_KiB"] = static_cast<double>(b.port->reads - reads) / n;
  state.counters["port_writes_per_KiB"] = static_cast<double>(b.port->writes - writes) / n;
  state.counters["tck_per_KiB"] = static_cast<double>(b.driver->transport().counters().tck_cycles - clocks) / n;
  state.counters["least_port_reads_per_KiB"] = least.reads();
  state.counters["least_port_writes_per_KiB"] = least.writes(harrier);
  state.counters["least_tck_per_KiB"] = least.clocks();
  // A real parallel port: about 1 us per access.
  state.counters["real_port_KiB_per_s"] = 1e6 / port_accesses;
  state.SetBytesProcessed(static_cast<std::int64_t>(n) * 1024);
}

const bool registered = [] {
  for (const ModuleFacts& m : modules_test::kAllModules) {
    benchmark::RegisterBenchmark((std::string("DumpMemory/") + m.name).c_str(), Transfer, &m, false)
        ->Arg(16)->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark((std::string("FillMemory/") + m.name).c_str(), Transfer, &m, true)
        ->Arg(16)->Unit(benchmark::kMillisecond);
  }
  return true;
}();

}  // namespace
