#include "operations/target_checksum.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <thread>

#include "operations/loader_job.h"

namespace romsmith {
namespace {

constexpr std::uint32_t kBlock = 1024;
using Layout = ChecksumProgramLayout;

// The routine, ARM state, entered at its first word with nothing in the
// registers; it reads its two parameters, writes one CRC per block to the
// results and stops at kDone, where the host's breakpoint waits.
constexpr std::array<std::uint32_t, 21> kRoutine = {
    0xE59F0058,  // 00       LDR   r0, [pc, #0x58]     flash address (0x60)
    0xE59F1058,  // 04       LDR   r1, [pc, #0x58]     byte count (0x64)
    0xE28F20F0,  // 08       ADD   r2, pc, #0xF0       table (0x100)
    0xE2823B01,  // 0C       ADD   r3, r2, #0x400      results (0x500)
    0xE3E04000,  // 10 block MVN   r4, #0             crc := ~0
    0xE3A05B01,  // 14       MOV   r5, #0x400
    0xE1510005,  // 18       CMP   r1, r5
    0x31A05001,  // 1C       MOVLO r5, r1              a short last block
    0xE0411005,  // 20       SUB   r1, r1, r5
    0xE4D06001,  // 24 byte  LDRB  r6, [r0], #1
    0xE0266004,  // 28       EOR   r6, r6, r4
    0xE20660FF,  // 2C       AND   r6, r6, #0xFF
    0xE7926106,  // 30       LDR   r6, [r2, r6, LSL #2]
    0xE0264424,  // 34       EOR   r4, r6, r4, LSR #8
    0xE2555001,  // 38       SUBS  r5, r5, #1
    0x1AFFFFF8,  // 3C       BNE   byte
    0xE1E04004,  // 40       MVN   r4, r4
    0xE4834004,  // 44       STR   r4, [r3], #4
    0xE3510000,  // 48       CMP   r1, #0
    0x1AFFFFEF,  // 4C       BNE   block
    0xEAFFFFFE,  // 50 done  B     done
};
static_assert(Layout::kDone == 4 * (kRoutine.size() - 1), "the breakpoint sits on B done");
static_assert(4 * kRoutine.size() <= Layout::kParameters, "the routine ends before its parameters");

constexpr std::uint32_t kPolynomial = 0xEDB88320;

constexpr std::array<std::uint32_t, 256> MakeCrcTable() {
  std::array<std::uint32_t, 256> table{};
  for (std::uint32_t n = 0; n < 256; ++n) {
    std::uint32_t c = n;
    for (int k = 0; k < 8; ++k) c = (c & 1) ? kPolynomial ^ (c >> 1) : c >> 1;
    table[n] = c;
  }
  return table;
}
constexpr std::array<std::uint32_t, 256> kCrcTable = MakeCrcTable();

void PutWord(std::uint8_t* at, std::uint32_t word, bool big_endian) {
  for (int k = 0; k < 4; ++k) at[k] = static_cast<std::uint8_t>(word >> (8 * (big_endian ? 3 - k : k)));
}

std::uint32_t GetWord(const std::uint8_t* at, bool big_endian) {
  std::uint32_t word = 0;
  for (int k = 0; k < 4; ++k) word |= static_cast<std::uint32_t>(at[k]) << (8 * (big_endian ? 3 - k : k));
  return word;
}

const RunLines kRunLines = {"Info: checksumming, waiting %d s.\n", "Info: user stop verify.\n",
                            "Error: time out, verify failed.\n"};

}  // namespace

std::uint32_t Crc32(const std::uint8_t* bytes, std::size_t count) {
  std::uint32_t crc = 0xFFFFFFFF;
  for (std::size_t i = 0; i < count; ++i) crc = kCrcTable[(crc ^ bytes[i]) & 0xFF] ^ (crc >> 8);
  return ~crc;
}

std::vector<std::uint8_t> ChecksumProgramImage(bool big_endian) {
  std::vector<std::uint8_t> image(Layout::kResults, 0);
  for (std::size_t i = 0; i < kRoutine.size(); ++i) PutWord(&image[4 * i], kRoutine[i], big_endian);
  for (std::size_t i = 0; i < kCrcTable.size(); ++i) {
    PutWord(&image[Layout::kTable + 4 * i], kCrcTable[i], big_endian);
  }
  return image;
}

CommandOutcome VerifyOnTarget(const CommandContext& context, BinaryFile& file,
                              std::uint64_t length, const BlockCompare& compare) {
  TargetLink& link = context.link;
  const std::uint32_t ram = context.config().ram_address;
  const bool big = !context.LittleEndian();
  std::uint32_t address =
      context.config().flash_address + context.SectorOffset(context.config().start_sector);
  context.BeginProgress(static_cast<int>(length / kBlock), false);
  CommandOutcome outcome = CommandOutcome::kSucceeded;
  auto failed = [&](const char* line) {
    if (line) context.log.Error(line);
    outcome = CommandOutcome::kFailed;
  };

  const std::vector<std::uint8_t> image = ChecksumProgramImage(big);
  if (!link.FillMemory(ram, image.data(), static_cast<std::uint32_t>(image.size()), 4)) {
    failed("Error: download checksum program failed.\n");
  }
  std::vector<std::uint8_t> data(static_cast<std::size_t>(kBlock) * Layout::kBlocksPerRun);
  std::array<std::uint8_t, 4 * Layout::kBlocksPerRun> results{};
  std::array<std::uint8_t, kBlock> flash{};
  std::uint64_t left = length;
  while (outcome == CommandOutcome::kSucceeded && left > 0) {
    if (context.StopRequested()) {
      context.log.Info("Info: user stop verify.\n");
      outcome = CommandOutcome::kStopped;
      break;
    }
    const std::size_t wanted = static_cast<std::size_t>(std::min<std::uint64_t>(left, data.size()));
    // A file cut short while it is compared is compared over what it holds.
    const std::size_t got = file.Read(data.data(), wanted);
    if (got == 0) break;
    std::array<std::uint8_t, 8> parameters{};
    PutWord(&parameters[0], address, big);
    PutWord(&parameters[4], static_cast<std::uint32_t>(got), big);
    if (!link.FillMemory(ram + Layout::kParameters, parameters.data(), 8, 4)) {
      failed("Error: download checksum program failed.\n");
      break;
    }
    const RunResult run = RunToBreakpoint(context, ram, ram + Layout::kDone, kRunLines);
    if (run == RunResult::kStopped) {
      outcome = CommandOutcome::kStopped;
      break;
    }
    if (run == RunResult::kFailed) {
      failed(nullptr);
      break;
    }
    const std::size_t blocks = (got + kBlock - 1) / kBlock;
    if (!link.DumpMemory(ram + Layout::kResults, results.data(),
                         static_cast<std::uint32_t>(4 * blocks), 4)) {
      failed("Error: read checksum failed.\n");
      break;
    }
    for (std::size_t k = 0; k < blocks; ++k) {
      const std::size_t count = std::min<std::size_t>(kBlock, got - k * kBlock);
      const std::uint8_t* expected = data.data() + k * kBlock;
      const std::uint32_t at = address + static_cast<std::uint32_t>(k * kBlock);
      if (GetWord(&results[4 * k], big) != Crc32(expected, count)) {
        // Only this block crosses the probe; the plain comparison finds the
        // first differing byte, or accepts what it is allowed to.
        if (!link.DumpMemory(at, flash.data(), kBlock, 4)) {
          failed("Error: read Flash memory failed.\n");
          break;
        }
        if (!compare(at, flash.data(), expected, count)) {
          failed(nullptr);
          break;
        }
      }
      context.frontend.StepProgress();
    }
    address += static_cast<std::uint32_t>(got);
    left -= got;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  context.frontend.SetProgressPosition(0);
  return outcome;
}

}  // namespace romsmith
