// Throughput of the board's JTAG side: port accesses per second for a long
// DR scan through the parallel port and its probe, and TCK cycles per second
// through the remote_bitbang protocol (in process and over a socket).
#include <benchmark/benchmark.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <string>
#include <thread>

#include "simboard/jtag_side.h"
#include "simboard/remote_bitbang.h"
#include "simboard/tests/arm_test_support.h"

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

}  // namespace
}  // namespace simboard
