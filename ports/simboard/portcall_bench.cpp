// Port accesses per second through the virtual board's portcall.so, as a
// driver module makes them: long DR scans bit-banged through the emulator
// probe, IDCODE scans and chain-1 scans that clock the debug-state pipeline.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <filesystem>
#include <string>

#include "ports/simboard/portcall_test_support.h"
#include "simboard/debug/jtag_tap.h"

namespace {

namespace fs = std::filesystem;
using namespace simboard::testing;

// A scratch directory with the shipped board in it, served by a fresh copy
// of the library.
class BenchBoard {
 public:
  BenchBoard() {
    std::string pattern = (fs::temp_directory_path() / "portcall-bench-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) return;
    dir_ = pattern;
    WriteText(dir_ / "board.ini", ShippedBoard(false));
    setenv("ROMSMITH_BOARD", (dir_ / "board.ini").c_str(), 1);
    port_ = std::make_unique<PortLibrary>(dir_);
  }
  ~BenchBoard() {
    port_.reset();
    unsetenv("ROMSMITH_BOARD");
    std::error_code ignored;
    fs::remove_all(dir_, ignored);
  }
  PortLibrary* port() { return port_ && port_->Loaded() ? port_.get() : nullptr; }

 private:
  fs::path dir_;
  std::unique_ptr<PortLibrary> port_;
};

void Report(benchmark::State& state, PortLibrary& port, const JtagMaster& jtag,
            std::uint64_t accesses, std::uint64_t clocks) {
  state.counters["port_accesses_per_s"] = benchmark::Counter(
      static_cast<double>(port.accesses - accesses), benchmark::Counter::kIsRate);
  state.counters["tck_per_s"] =
      benchmark::Counter(static_cast<double>(jtag.clocks - clocks), benchmark::Counter::kIsRate);
}

// 1000 IDCODE scans of 32 bits each per iteration.
void BM_IdCodeScans(benchmark::State& state) {
  BenchBoard board;
  PortLibrary* port = board.port();
  if (port == nullptr) {
    state.SkipWithError("portcall.so did not load");
    return;
  }
  PortDebugger debugger(*port);
  JtagMaster& jtag = debugger.jtag();
  jtag.IrScan(simboard::tap_instruction::kIdCode);
  std::uint64_t accesses = port->accesses, clocks = jtag.clocks;
  for (auto _ : state) {
    for (int scan = 0; scan < 1000; ++scan) {
      std::uint64_t code = jtag.DrScan(0, 32);
      if (code != 0x3F0F0F0F) {
        state.SkipWithError("wrong IDCODE");
        return;
      }
    }
  }
  Report(state, *port, jtag, accesses, clocks);
}
BENCHMARK(BM_IdCodeScans)->Unit(benchmark::kMillisecond);

// 1000 chain-1 scans (33 bits) of a NOP per iteration with the core halted:
// each clocks the debug-state pipeline once.
void BM_DebugSpeedNops(benchmark::State& state) {
  BenchBoard board;
  PortLibrary* port = board.port();
  if (port == nullptr) {
    state.SkipWithError("portcall.so did not load");
    return;
  }
  PortDebugger debugger(*port);
  JtagMaster& jtag = debugger.jtag();
  if (!debugger.Halt() || !jtag.SelectChain(1)) {
    state.SkipWithError("the core did not halt");
    return;
  }
  std::uint64_t accesses = port->accesses, clocks = jtag.clocks;
  for (auto _ : state) {
    for (int scan = 0; scan < 1000; ++scan) jtag.Chain1(kArmNop);
  }
  Report(state, *port, jtag, accesses, clocks);
}
BENCHMARK(BM_DebugSpeedNops)->Unit(benchmark::kMillisecond);

}  // namespace
