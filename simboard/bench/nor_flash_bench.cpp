// Flash bank throughput as a loader sees it: bus cycles of the AMD program
// sequence with data polling, and plain array reads, on a 16-bit bank.
#include <unistd.h>

#include <filesystem>
#include <memory>
#include <string>

#include <benchmark/benchmark.h>

#include "simboard/board/board.h"

namespace {

std::filesystem::path BenchImage() {
  return std::filesystem::temp_directory_path() / ("flash-bench-" + std::to_string(getpid()) + ".bin");
}

// Arg 2: little-endian with the bank written through to an image file
// (BenchImage, removed by the caller).
std::unique_ptr<simboard::Board> MakeBoard(int variant) {
  std::string error;
  std::string image;
  if (variant == 2) {
    std::filesystem::remove(BenchImage());
    image = "Image=" + BenchImage().string() + "\n";
  }
  auto description = simboard::ParseBoardText(
      std::string("[Board]\nEndian=") + (variant == 1 ? "Big" : "Little") +
          "\nClockKHz=20000\n[Region1]\nKind=NOR\nBase=0\nCommandSet=AMD\nManufacturerId=1\n"
          "DeviceId=$2249\nWidth=16\nSectors=16K,8K,8K,32K,31*64K\nProgramTimeUs=10\n" + image,
      "bench.ini", error);
  return simboard::Board::Create(std::move(*description), error);
}

void BM_AmdProgramWord(benchmark::State& state) {
  auto board = MakeBoard(static_cast<int>(state.range(0)));
  simboard::MemoryBus& bus = board->bus();
  std::uint32_t address = 0;
  std::uint64_t polls = 0;
  for (auto _ : state) {
    bus.Write(0xAAA, simboard::AccessSize::Half, 0xAA);
    bus.Write(0x554, simboard::AccessSize::Half, 0x55);
    bus.Write(0xAAA, simboard::AccessSize::Half, 0xA0);
    bus.Write(address, simboard::AccessSize::Half, 0x1234);
    std::uint32_t value = 0;
    do {
      board->AdvanceTime(20);  // one poll loop iteration of a loader
      bus.Read(address, simboard::AccessSize::Half, simboard::AccessKind::DataRead, value);
      ++polls;
    } while ((value & 0x80) != (0x1234 & 0x80));
    address = (address + 2) % 0x200000;
  }
  state.SetItemsProcessed(state.iterations());
  state.counters["polls_per_word"] = static_cast<double>(polls) / static_cast<double>(state.iterations());
  state.counters["flash_cycles"] = static_cast<double>(board->counters().FlashCycles());
  board.reset();
  std::error_code ignored;
  std::filesystem::remove(BenchImage(), ignored);
}
BENCHMARK(BM_AmdProgramWord)->Arg(0)->Arg(1)->Arg(2);

void BM_ArrayRead(benchmark::State& state) {
  auto board = MakeBoard(0);
  simboard::MemoryBus& bus = board->bus();
  std::uint32_t address = 0;
  std::uint32_t sum = 0;
  for (auto _ : state) {
    std::uint32_t value = 0;
    bus.Read(address, simboard::AccessSize::Word, simboard::AccessKind::DataRead, value);
    sum += value;
    address = (address + 4) % 0x200000;
  }
  benchmark::DoNotOptimize(sum);
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_ArrayRead);

}  // namespace
