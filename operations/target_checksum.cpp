#include "operations/target_checksum.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <thread>

#include "loaders/crc32_image.h"
#include "operations/loader_job.h"

namespace romsmith {
namespace {

constexpr std::uint32_t kBlock = 1024;
using Layout = ChecksumProgramLayout;

// The routine (loaders/crc32_routine.S, assembled little-endian), ARM state,
// entered at its first word with nothing in the registers: it builds the CRC
// table, writes one CRC per block of its range to the results and stops at
// kDone, where the host's breakpoint waits.
constexpr const auto& kRoutine = loaders::kCrc32RoutineImage;

constexpr std::uint32_t ImageWord(std::uint32_t offset) {
  return static_cast<std::uint32_t>(kRoutine[offset]) |
         static_cast<std::uint32_t>(kRoutine[offset + 1]) << 8 |
         static_cast<std::uint32_t>(kRoutine[offset + 2]) << 16 |
         static_cast<std::uint32_t>(kRoutine[offset + 3]) << 24;
}

static_assert(kRoutine.size() == Layout::kImageSize, "the image is the code and its parameters");
static_assert(ImageWord(Layout::kDone) == 0xEAFFFFFE, "the breakpoint sits on B done");

constexpr std::uint32_t kPolynomial = 0xEDB88320;
static_assert(ImageWord(Layout::kParameters + 12) == kPolynomial,
              "the routine and the host agree on the polynomial");

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
  std::vector<std::uint8_t> image(Layout::kImageSize, 0);
  for (std::uint32_t at = 0; at < Layout::kImageSize; at += 4)
    PutWord(&image[at], ImageWord(at), big_endian);
  return image;
}

RunResult RunChecksum(const CommandContext& context, std::uint32_t address, std::uint32_t count,
                      std::uint32_t block, const RunLines& lines) {
  const std::uint32_t ram = context.config().ram_address;
  const bool big = !context.LittleEndian();
  std::array<std::uint8_t, 12> parameters{};
  PutWord(&parameters[0], address, big);
  PutWord(&parameters[4], count, big);
  PutWord(&parameters[8], block, big);
  if (!context.link.FillMemory(ram + Layout::kParameters, parameters.data(), 12, 4)) {
    context.log.Error("Error: download checksum program failed.\n");
    return RunResult::kFailed;
  }
  return RunToBreakpoint(context, ram, ram + Layout::kDone, lines);
}

RunResult RunChecksum(const CommandContext& context, std::uint32_t address, std::uint32_t count,
                      std::uint32_t block) {
  return RunChecksum(context, address, count, block, kRunLines);
}

bool LoadChecksumProgram(const CommandContext& context) {
  const std::vector<std::uint8_t> image = ChecksumProgramImage(!context.LittleEndian());
  if (context.link.FillMemory(context.config().ram_address, image.data(),
                              static_cast<std::uint32_t>(image.size()), 4))
    return true;
  context.log.Error("Error: download checksum program failed.\n");
  return false;
}

bool ReadChecksumResults(const CommandContext& context, std::size_t count,
                         std::vector<std::uint32_t>& crcs) {
  std::vector<std::uint8_t> bytes(4 * count);
  if (!context.link.DumpMemory(context.config().ram_address + Layout::kResults, bytes.data(),
                               static_cast<std::uint32_t>(bytes.size()), 4)) {
    context.log.Error("Error: read checksum failed.\n");
    return false;
  }
  const bool big = !context.LittleEndian();
  crcs.resize(count);
  for (std::size_t k = 0; k < count; ++k) crcs[k] = GetWord(&bytes[4 * k], big);
  return true;
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
  auto fail = [&](const char* line) {
    if (line) context.log.Error(line);
    outcome = CommandOutcome::kFailed;
  };
  // The blocks of a batch whose CRC differs, one by one: the first that
  // really differs ends the command.
  auto find_difference = [&](const std::uint8_t* data, std::size_t got) {
    const std::size_t blocks = (got + kBlock - 1) / kBlock;
    std::vector<std::uint8_t> results(4 * blocks);
    std::array<std::uint8_t, kBlock> flash{};
    const RunResult run = RunChecksum(context, address, static_cast<std::uint32_t>(got), kBlock);
    if (run != RunResult::kDone) {
      if (run == RunResult::kStopped) outcome = CommandOutcome::kStopped;
      else fail(nullptr);
      return;
    }
    if (!link.DumpMemory(ram + Layout::kResults, results.data(),
                         static_cast<std::uint32_t>(results.size()), 4)) {
      fail("Error: read checksum failed.\n");
      return;
    }
    for (std::size_t k = 0; k < blocks; ++k) {
      const std::size_t count = std::min<std::size_t>(kBlock, got - k * kBlock);
      const std::uint8_t* expected = data + k * kBlock;
      if (GetWord(&results[4 * k], big) == Crc32(expected, count)) continue;
      // Only this block crosses the probe; the plain comparison finds the
      // first differing byte, or accepts what it is allowed to.
      const std::uint32_t at = address + static_cast<std::uint32_t>(k * kBlock);
      if (!link.DumpMemory(at, flash.data(), kBlock, 4)) {
        fail("Error: read Flash memory failed.\n");
        return;
      }
      if (!compare(at, flash.data(), expected, count)) {
        fail(nullptr);
        return;
      }
    }
  };

  const std::vector<std::uint8_t> image = ChecksumProgramImage(big);
  if (!link.FillMemory(ram, image.data(), static_cast<std::uint32_t>(image.size()), 4)) {
    fail("Error: download checksum program failed.\n");
  }
  std::vector<std::uint8_t> data(static_cast<std::size_t>(kBlock) * Layout::kBlocksPerRun);
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
    // One CRC for the whole batch; the blocks only when it differs.
    const auto count = static_cast<std::uint32_t>(got);
    const RunResult run = RunChecksum(context, address, count, count);
    if (run == RunResult::kStopped) {
      outcome = CommandOutcome::kStopped;
      break;
    }
    if (run == RunResult::kFailed) {
      fail(nullptr);
      break;
    }
    std::uint32_t crc = 0;
    if (!link.ReadMemory(ram + Layout::kResults, &crc, 4)) {
      fail("Error: read checksum failed.\n");
      break;
    }
    if (crc != Crc32(data.data(), got)) find_difference(data.data(), got);
    if (outcome != CommandOutcome::kSucceeded) break;
    for (std::size_t k = 0; k < (got + kBlock - 1) / kBlock; ++k) context.frontend.StepProgress();
    address += count;
    left -= got;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  context.frontend.SetProgressPosition(0);
  return outcome;
}

}  // namespace romsmith
