// Throughput of the board's JTAG side: port accesses per second for a long
// DR scan through the parallel port and its probe, TCK cycles per second
// through the remote_bitbang protocol (in process and over a socket), and a
// debugger's block memory read through scan chain 1 on the ARM7TDMI (33-bit
// chain) and the ARM9TDMI (67-bit chain): TCK cycles per KiB and KiB per
// second of host time.
#include <benchmark/benchmark.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <string>
#include <thread>

#include "simboard/debug/arm7_debug.h"
#include "simboard/debug/arm9_debug.h"
#include "simboard/debug/jtag_side.h"
#include "simboard/tool/remote_bitbang.h"
#include "simboard/tests/arm_test_support.h"
#include "simboard/tests/jtag_test_support.h"

namespace simboard {
namespace {

struct Bench {
  Bench() : bus(0, 0x1000, ByteOrder::Little), core(bus, CoreModel::ARM7TDMI),
            side(core, bus, JtagSettings{}) {}
  testing::RamBus bus;
  ArmCore core;
  JtagSide side;
};

// The emulator wiring, one clock as the probe software makes it: TCK low
// with TMS/TDI, TCK high, TCK low again and a status read.
void PortClock(ParallelPort& port, bool tms, bool tdi) {
  std::uint8_t pins = static_cast<std::uint8_t>((tms ? 4 : 0) | (tdi ? 2 : 0));
  port.Write(0x378, pins);
  port.Write(0x378, pins | 1);
  port.Write(0x378, pins);
  benchmark::DoNotOptimize(port.Read(0x379));
}

void BM_PortLongDrScan(benchmark::State& state) {
  Bench b;
  ParallelPort& port = b.side.Port();
  port.Write(0x37A, 0x06);
  for (int i = 0; i < 5; ++i) PortClock(port, true, false);
  PortClock(port, false, false);
  const int bits = static_cast<int>(state.range(0));
  for (auto _ : state) {
    PortClock(port, true, true);    // Select-DR (IDCODE after reset)
    PortClock(port, false, true);   // Capture-DR
    PortClock(port, false, true);   // Shift-DR
    for (int k = 0; k < bits; ++k) PortClock(port, k + 1 == bits, k & 1);
    PortClock(port, true, true);    // Update-DR
    PortClock(port, false, true);   // Run-Test/Idle
  }
  std::uint64_t accesses = port.Counters().reads + port.Counters().writes;
  state.counters["port_accesses_per_s"] =
      benchmark::Counter(static_cast<double>(accesses), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_PortLongDrScan)->Arg(4096);

std::string ClockText(std::size_t periods) {
  std::string text;
  for (std::size_t i = 0; i < periods; ++i) {
    char pins = static_cast<char>('0' + (i % 2));
    text += pins;
    if (i % 8 == 0) text += 'R';
    text += static_cast<char>(pins + 4);
  }
  return text;
}

void BM_BitbangProtocol(benchmark::State& state) {
  Bench b;
  BitbangProtocol protocol(b.side);
  const std::string text = ClockText(4096);
  std::string reply;
  for (auto _ : state) {
    reply.clear();
    protocol.Process(text.data(), text.size(), reply);
  }
  state.counters["tck_per_s"] = benchmark::Counter(
      static_cast<double>(b.side.Tap().Counters().tck_cycles), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_BitbangProtocol);

void BM_RemoteBitbangSocket(benchmark::State& state) {
  Bench b;
  RemoteBitbangServer server(b.side);
  std::string error;
  if (!server.Listen(0, error)) {
    state.SkipWithError(error.c_str());
    return;
  }
  std::atomic<bool> stop{false};
  std::thread serving([&] { server.Serve(stop, error); });
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(server.Port());
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    state.SkipWithError("connect failed");
  } else {
    // Like OpenOCD: a buffer of clocks with reads, then wait for the replies.
    const std::string text = ClockText(4096);
    std::size_t expected = 0;
    for (char c : text) expected += c == 'R';
    char buffer[4096];
    for (auto _ : state) {
      if (write(fd, text.data(), text.size()) != static_cast<ssize_t>(text.size())) break;
      std::size_t got = 0;
      while (got < expected) {
        ssize_t n = read(fd, buffer, sizeof buffer);
        if (n <= 0) break;
        got += static_cast<std::size_t>(n);
      }
    }
    if (write(fd, "Q", 1) != 1) state.SkipWithError("quit failed");
  }
  serving.join();
  close(fd);
  state.counters["tck_per_s"] = benchmark::Counter(
      static_cast<double>(b.side.Tap().Counters().tck_cycles), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_RemoteBitbangSocket)->UseRealTime();

// Eight words a round, as a debugger reads a block: the address into r0 at
// debug speed, LDMIA r0, {r0-r7} at system speed, then a store multiple
// whose words come out on chain 1.
class BlockReader {
 public:
  explicit BlockReader(DebugCore core)
      : arm9_(core != DebugCore::ARM7TDMI),
        bus_(0, 0x10000, ByteOrder::Little),
        core_(bus_, arm9_ ? CoreModel::ARM9TDMI : CoreModel::ARM7TDMI),
        side_(core_, bus_, Settings(core)),
        jtag_(side_) {
    bus_.Poke(0, AccessSize::Word, 0xEAFFFFFE);  // B .
    side_.SetSystemReset(true);
    side_.SetSystemReset(false);
    jtag_.Reset();
    jtag_.SelectChain(2, Select());
    jtag_.IceWrite(0, 6);  // DBGRQ, INTDIS
    jtag_.IceWrite(0, 4);
  }
  bool Halted() { return side_.Debug().InDebugState(); }
  std::uint32_t Read8(std::uint32_t address) {
    std::uint32_t sum = 0;
    jtag_.SelectChain(1, Select());
    if (arm9_) {
      Arm9(0xE0400000);
      Arm9(0xE5900000);
      Arm9(kNop);
      Arm9(kNop);
      Arm9(kNop, address);
      Arm9(0xE89000FF);
      Arm9(kNop, 0, true);
      jtag_.Restart();
      jtag_.SelectChain(1, Select());
      Arm9(0xE88000FF);
      Arm9(kNop);
      Arm9(kNop);
      for (int i = 0; i < 8; ++i) sum += Arm9(kNop);
    } else {
      jtag_.Chain1(0xE0400000);
      jtag_.Chain1(0xE5900000);
      jtag_.Chain1(kNop);
      jtag_.Chain1(kNop);
      jtag_.Chain1(address);
      jtag_.Chain1(kNop);
      jtag_.Chain1(kNop);
      jtag_.Chain1(kNop, true);
      jtag_.Chain1(0xE89000FF);
      jtag_.Restart();
      jtag_.SelectChain(1, Select());
      jtag_.Chain1(0xE80000FF);
      jtag_.Chain1(kNop);
      jtag_.Chain1(kNop);
      for (int i = 0; i < 8; ++i) sum += jtag_.Chain1(kNop);
    }
    return sum;
  }
  std::uint64_t TckCycles() const { return jtag_.clocks; }

 private:
  static constexpr std::uint32_t kNop = 0xE1A00000;
  static JtagSettings Settings(DebugCore core) {
    JtagSettings settings;
    settings.core = core;
    settings.debug.run_budget = 1000;
    return settings;
  }
  unsigned Select() const { return arm9_ ? 5 : 4; }
  std::uint32_t Arm9(std::uint32_t instruction, std::uint32_t data = 0, bool sysspeed = false) {
    return arm9_chain1::Data(jtag_.Arm9Chain1(instruction, data, sysspeed));
  }

  bool arm9_;
  testing::RamBus bus_;
  ArmCore core_;
  JtagSide side_;
  testing::JtagMaster jtag_;
};

void BM_BlockRead(benchmark::State& state) {
  BlockReader reader(state.range(0) == 0 ? DebugCore::ARM7TDMI : DebugCore::ARM920T);
  if (!reader.Halted()) {
    state.SkipWithError("the core did not halt");
    return;
  }
  std::uint64_t bytes = 0;
  std::uint32_t address = 0;
  const std::uint64_t start = reader.TckCycles();
  for (auto _ : state) {
    benchmark::DoNotOptimize(reader.Read8(address));
    address = (address + 32) & 0xFFFF;
    bytes += 32;
  }
  state.SetLabel(state.range(0) == 0 ? "ARM7TDMI" : "ARM920T");
  state.counters["tck_per_kib"] =
      static_cast<double>(reader.TckCycles() - start) * 1024.0 / static_cast<double>(bytes);
  state.counters["kib_per_s"] =
      benchmark::Counter(static_cast<double>(bytes) / 1024.0, benchmark::Counter::kIsRate);
}
BENCHMARK(BM_BlockRead)->Arg(0)->Arg(1);

}  // namespace
}  // namespace simboard
