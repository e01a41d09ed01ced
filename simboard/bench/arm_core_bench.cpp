// Instructions per second of the core on loop-heavy programs: a checksum loop
// with loads, stores, shifts and branches, in ARM and THUMB state, with RAM
// mapped as fast memory and through the bus interface.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

#include "simboard/core/arm_core.h"
#include "simboard/memory/bus.h"

namespace simboard {
namespace {

// Little-endian RAM at 0 behind the Bus interface.
class FlatRam : public Bus {
 public:
  explicit FlatRam(std::uint32_t size) : memory_(size, 0) {}
  bool Read(std::uint32_t address, AccessSize size, AccessKind, std::uint32_t& value) override {
    const auto bytes = static_cast<std::uint32_t>(size);
    if (address >= memory_.size() || memory_.size() - address < bytes) return false;
    value = 0;
    for (std::uint32_t i = 0; i < bytes; ++i) value |= std::uint32_t{memory_[address + i]} << (8 * i);
    return true;
  }
  bool Write(std::uint32_t address, AccessSize size, std::uint32_t value) override {
    const auto bytes = static_cast<std::uint32_t>(size);
    if (address >= memory_.size() || memory_.size() - address < bytes) return false;
    for (std::uint32_t i = 0; i < bytes; ++i) memory_[address + i] = static_cast<std::uint8_t>(value >> (8 * i));
    return true;
  }
  void Advance(std::uint64_t cycles) override { cycles_ += cycles; }
  std::uint8_t* Data() { return memory_.data(); }
  std::uint32_t Size() const { return static_cast<std::uint32_t>(memory_.size()); }
  void PutWord(std::uint32_t address, std::uint32_t value) { Write(address, AccessSize::Word, value); }
  void PutHalf(std::uint32_t address, std::uint32_t value) { Write(address, AccessSize::Half, value); }

 private:
  std::vector<std::uint8_t> memory_;
  std::uint64_t cycles_ = 0;
};

// start: mov r0, #0x2000; mov r1, #0; mov r2, #256
// loop:  ldr r3, [r0], #4; add r1, r1, r3; eor r1, r1, r1, ror #7
//        str r1, [r0, #0x400]; subs r2, r2, #1; bne loop; b start
constexpr std::uint32_t kArmLoop[] = {0xE3A00A02, 0xE3A01000, 0xE3A02C01, 0xE4903004,
                                      0xE0811003, 0xE02113E1, 0xE5801400, 0xE2522001,
                                      0x1AFFFFF9, 0xEAFFFFF5};
// tstart: movs r0, #0x20; lsls r0, r0, #8; movs r1, #0; movs r2, #255
// tloop:  ldr r3, [r0]; adds r1, r1, r3; rors r1, r2; str r1, [r0, #4]
//         adds r0, #4; subs r2, #1; bne tloop; b tstart
constexpr std::uint16_t kThumbLoop[] = {0x2020, 0x0200, 0x2100, 0x22FF, 0x6803, 0x18C9,
                                        0x41D1, 0x6041, 0x3004, 0x3A01, 0xD1F8, 0xE7F3};

void RunLoop(benchmark::State& state, bool thumb, bool fast) {
  FlatRam ram(0x10000);
  if (thumb) {
    for (std::uint32_t i = 0; i < std::size(kThumbLoop); ++i) ram.PutHalf(0x100 + 2 * i, kThumbLoop[i]);
  } else {
    for (std::uint32_t i = 0; i < std::size(kArmLoop); ++i) ram.PutWord(0x100 + 4 * i, kArmLoop[i]);
  }
  ArmCore core(ram, CoreModel::ARM7TDMI);
  if (fast) core.MapFastMemory(0, ram.Size(), ram.Data());
  core.SetThumb(thumb);
  core.SetPc(0x100);
  constexpr std::uint64_t kBatch = 1000000;
  std::uint64_t executed = 0;
  for (auto _ : state) {
    executed += core.Run(kBatch).instructions;
  }
  state.counters["instructions/s"] =
      benchmark::Counter(static_cast<double>(executed), benchmark::Counter::kIsRate);
}

void BM_ArmLoopFastMemory(benchmark::State& state) { RunLoop(state, false, true); }
void BM_ArmLoopThroughBus(benchmark::State& state) { RunLoop(state, false, false); }
void BM_ThumbLoopFastMemory(benchmark::State& state) { RunLoop(state, true, true); }
void BM_ThumbLoopThroughBus(benchmark::State& state) { RunLoop(state, true, false); }

BENCHMARK(BM_ArmLoopFastMemory)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ArmLoopThroughBus)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ThumbLoopFastMemory)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ThumbLoopThroughBus)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace simboard
