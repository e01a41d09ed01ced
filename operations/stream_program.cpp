#include "operations/stream_program.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <optional>
#include <thread>
#include <vector>

#include "operations/command_bodies.h"
#include "operations/target_checksum.h"
#include "platform/text.h"

namespace romsmith {
namespace {

constexpr const char* kFailedLine = "Error: verify error, program failed.\n";
// Where the loader's stream operation leaves the failing address.
constexpr std::uint32_t kFailedAddressOffset = 16;
// What the loader sends at the end of the range.
constexpr std::uint32_t kStreamDone = 0;
constexpr std::uint32_t kStreamFailed = 1;
constexpr std::uint32_t kStreamEraseFailed = 2;
// After the erase the stream begins with: every sector erased.
constexpr std::uint32_t kStreamErased = 0x45524153;
// The erase table the loader keeps in its 1 KiB data area.
constexpr std::size_t kMaxStreamErasedSectors = 230;
constexpr std::uint32_t kVerifyBlock = 1024;

using Clock = std::chrono::steady_clock;

// The loader's word from the channel, within "TimeOut" (with the waiting
// lines and the stop check of a loader run); nothing after a logged end.
struct WaitOutcome {
  RunResult result = RunResult::kFailed;
  std::uint32_t word = 0;
};

WaitOutcome WaitForLoaderWord(const CommandContext& context, int runs = 1) {
  const auto started = Clock::now();
  const auto limit = context.poll_interval * context.settings().time_out_polls * runs;
  std::int64_t seconds_told = 0;
  while (true) {
    CommsWrite got;
    if (context.link.WriteComms(nullptr, 0, 0, &got) != CommsAnswer::kDone) return {};
    if (got.status_read) return {RunResult::kDone, got.status};
    if (context.StopRequested()) {
      context.log.Info(kProgramRunLines.user_stop);
      return {RunResult::kStopped, 0};
    }
    const auto waited = Clock::now() - started;
    if (waited >= limit) {
      context.log.Error(kProgramRunLines.time_out);
      return {};
    }
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(waited).count();
    if (seconds > seconds_told) {
      seconds_told = seconds;
      context.log.Info(FormatText(kProgramRunLines.waiting, static_cast<int>(seconds)));
    }
    // A loader busy with its last words answers within a few checks; one
    // that is not, is polled at the loader-run pace.
    if (waited > std::chrono::milliseconds(10))
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}

// Words in while the loader takes them one by one (the erase table).
bool WriteEachWord(const CommandContext& context, const std::vector<std::uint32_t>& words) {
  std::size_t in = 0;
  const auto started = Clock::now();
  while (in < words.size()) {
    CommsWrite wrote;
    if (context.link.WriteComms(words.data() + in, static_cast<std::uint32_t>(words.size() - in), 1,
                                &wrote) != CommsAnswer::kDone)
      return false;
    in += wrote.written;
    if (wrote.status_read ||
        (in < words.size() &&
         Clock::now() - started >= context.poll_interval * context.settings().time_out_polls)) {
      context.log.Error(kProgramRunLines.time_out);
      return false;
    }
  }
  return true;
}

// The loader, started at R with its breakpoint, told the range by the block
// already in RAM, given the erase table (`erase`, empty: no erase; the
// block says which), fed `length` bytes of `source` and followed to its end.
RunResult FeedRunningLoader(const CommandContext& context, std::uint32_t length,
                            const std::vector<std::uint32_t>& erase, const ByteSource& source,
                            const std::function<void(std::uint32_t)>& progress) {
  TargetLink& link = context.link;
  const std::uint32_t ram = context.config().ram_address;
  const bool little = context.LittleEndian();
  // A word the core sent to an earlier program must not pass for this
  // loader's answer.
  CommsWrite stale;
  if (link.WriteComms(nullptr, 0, 0, &stale) != CommsAnswer::kDone) return RunResult::kFailed;
  std::uint32_t number = 0;
  const bool pc_set = link.SetPC(ram);
  const bool breakpoint_set = link.SetBreakpoint(ram + kFirstFamilyLayout.breakpoint, &number);
  const bool started = link.RunTarget();
  if (!pc_set || !breakpoint_set || !started) {
    context.log.Error("Error: execute file failed.\n");
    return RunResult::kFailed;
  }
  // The loader's first word is the length it read from its block.
  const WaitOutcome ready = WaitForLoaderWord(context);
  if (ready.result != RunResult::kDone) return ready.result;
  if (ready.word != length) {
    context.log.Error(
        FormatText("Error: the loader answered 0x%08X, not the range length 0x%08X: it "
                   "does not stream, program failed.\n",
                   ready.word, length));
    return RunResult::kFailed;
  }
  if (!erase.empty()) {
    context.log.Info("Info: start erase...\n");
    if (!WriteEachWord(context, erase)) return RunResult::kFailed;
    const int sectors = static_cast<int>(erase[kLoaderCycleSlots * 2 + 1]);
    const WaitOutcome erased = WaitForLoaderWord(context, sectors);
    if (erased.result != RunResult::kDone) return erased.result;
    if (erased.word != kStreamErased) {
      std::uint32_t at = 0;
      if (erased.word == kStreamEraseFailed &&
          link.ReadMemory(ram + kFirstFamilyLayout.params + kFailedAddressOffset, &at, 4))
        context.log.Info(FormatText("Info: the sector at 0x%08X did not erase.\n", at));
      context.log.Error("Error: time out, erase failed.\n");
      return RunResult::kFailed;
    }
    context.log.Info("Info: erase completed.\n");
  }

  const std::uint32_t total_words = (length + 3) / 4;
  std::array<std::uint8_t, 4 * kStreamBatchWords> bytes{};
  std::array<std::uint32_t, kStreamBatchWords> words{};
  std::uint32_t check_every = context.WidthBytes() * context.Chips() == 1 ? 1 : kStreamCheckWords;
  std::optional<std::uint32_t> early_status;
  for (std::uint32_t sent = 0; sent < total_words && !early_status;) {
    if (context.StopRequested()) {
      // The loader has every word it was given programmed or programming,
      // and waits for the next.
      context.log.Info(kProgramRunLines.user_stop);
      return RunResult::kStopped;
    }
    const std::uint32_t batch = std::min(kStreamBatchWords, total_words - sent);
    const std::size_t want = std::min<std::size_t>(4 * batch, length - 4 * sent);
    std::fill(bytes.begin(), bytes.end(), 0xFF);
    if (source(bytes.data(), want) > want) return RunResult::kFailed;
    for (std::uint32_t k = 0; k < batch; ++k) {
      const std::uint8_t* b = &bytes[4 * k];
      words[k] = little ? (b[0] | b[1] << 8 | b[2] << 16 | static_cast<std::uint32_t>(b[3]) << 24)
                        : (static_cast<std::uint32_t>(b[0]) << 24 | b[1] << 16 | b[2] << 8 | b[3]);
    }
    std::uint32_t in = 0;
    const auto batch_started = Clock::now();
    while (in < batch) {
      CommsWrite wrote;
      if (link.WriteComms(words.data() + in, batch - in, check_every, &wrote) != CommsAnswer::kDone)
        return RunResult::kFailed;
      in += wrote.written;
      if (wrote.status_read) {
        early_status = wrote.status;
        break;
      }
      if (in < batch) {
        // The loader kept the last word waiting through a check: from now on
        // each word waits for the one before to be taken.
        check_every = 1;
        if (context.StopRequested()) {
          context.log.Info(kProgramRunLines.user_stop);
          return RunResult::kStopped;
        }
        if (Clock::now() - batch_started >=
            context.poll_interval * context.settings().time_out_polls) {
          context.log.Error(kProgramRunLines.time_out);
          return RunResult::kFailed;
        }
      }
    }
    sent += in;
    if (progress) progress(std::min(4 * sent, length));
  }

  std::uint32_t status = 0;
  if (early_status) {
    status = *early_status;
  } else {
    const WaitOutcome end = WaitForLoaderWord(context);
    if (end.result != RunResult::kDone) return end.result;
    status = end.word;
  }
  if (status == kStreamFailed) {
    // The run ends at its breakpoint; where it failed is in its block.
    std::uint32_t at = 0;
    for (int poll = 0; poll < context.settings().time_out_polls; ++poll) {
      bool running = true;
      if (!link.GetTargetStatus(&running)) break;
      if (!running) {
        if (link.ReadMemory(ram + kFirstFamilyLayout.params + kFailedAddressOffset, &at, 4))
          context.log.Info(FormatText("Info: the flash did not take the data at 0x%08X.\n", at));
        break;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    context.log.Error(kFailedLine);
    return RunResult::kFailed;
  }
  if (status != kStreamDone) {
    context.log.Error(FormatText("Error: the loader sent 0x%08X, program failed.\n", status));
    return RunResult::kFailed;
  }
  // The loader ends at its breakpoint right after its last word.
  const std::int32_t polls = context.settings().time_out_polls;
  for (std::int32_t i = 0;; ++i) {
    bool running = false;
    if (!link.GetTargetStatus(&running)) {
      context.log.Error("Error: get target status failed.\n");
      return RunResult::kFailed;
    }
    if (!running) break;
    if (i >= polls) {
      context.log.Error(kProgramRunLines.time_out);
      return RunResult::kFailed;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return link.ClearAllBreakpoints() ? RunResult::kDone : RunResult::kFailed;
}

// The words that tell the loader what to erase before the data: the sector
// erase cycles (count, ten addresses, ten data; the sector address cycle at
// the flash start, where the loader puts each sector), the sector count and
// each selected sector's start. Empty when the erase cannot go this way: the
// whole chip with a chip erase of its own, no sector erase, or more sectors
// than the loader's table holds.
std::vector<std::uint32_t> EraseTable(const CommandContext& context) {
  const TargetConfig& c = context.config();
  const bool whole_chip = c.start_sector == 0 && c.end_sector == context.flash().sector_count() - 1;
  const std::size_t sectors = static_cast<std::size_t>(c.end_sector - c.start_sector + 1);
  if ((whole_chip && context.command_set().chip_erase.count != 0) ||
      context.command_set().sector_erase.count == 0 || sectors > kMaxStreamErasedSectors ||
      context.family.Has(FamilyTrait::kEraseBySector))
    return {};
  LoaderParams cycles;
  const std::uint8_t count = BuildCycles(context.command_set().sector_erase, context.WidthBytes(),
                                         context.Chips(), c.flash_address, cycles);
  std::vector<std::uint32_t> table = {count};
  table.insert(table.end(), cycles.cycle_address.begin(), cycles.cycle_address.end());
  table.insert(table.end(), cycles.cycle_data.begin(), cycles.cycle_data.end());
  table.push_back(static_cast<std::uint32_t>(sectors));
  for (std::int32_t k = c.start_sector; k <= c.end_sector; ++k)
    table.push_back(c.flash_address + context.SectorOffset(k));
  return table;
}

LoaderParams StreamParams(const CommandContext& context) {
  LoaderParams params = BaseLoaderParams(context, LoaderOperation::kStreamProgram);
  params.cycle_count = BuildCycles(context.command_set().program, context.WidthBytes(),
                                   context.Chips(), context.config().flash_address, params);
  params.program_mode = static_cast<std::uint8_t>(context.command_set().program_mode);
  return params;
}

// The streamed range against the file, as Verify compares: on the target
// with TargetVerify, else read back a block at a time.
bool VerifyStreamedRange(const CommandContext& context, const std::string& file_name,
                         std::uint32_t address, std::uint64_t length) {
  BinaryFile file;
  if (!file.OpenForReading(file_name)) {
    context.log.Error("Error: open program file failed.\n");
    return false;
  }
  const BlockCompare compare = [&](std::uint32_t at, const std::uint8_t* flash,
                                   const std::uint8_t* data, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) {
      if (flash[i] != data[i]) {
        context.log.Error(FormatText("Error: verify failed, different at address 0x%08x.\n",
                                     at + static_cast<std::uint32_t>(i)));
        return false;
      }
    }
    return true;
  };
  if (VerifiesOnTarget(context.settings())) {
    const CommandOutcome outcome = VerifyOnTarget(context, file, length, compare);
    return outcome == CommandOutcome::kSucceeded;
  }
  std::array<std::uint8_t, kVerifyBlock> flash{};
  std::array<std::uint8_t, kVerifyBlock> data{};
  for (std::uint64_t done = 0; done < length; done += kVerifyBlock) {
    if (context.StopRequested()) {
      context.log.Info(kProgramRunLines.user_stop);
      return false;
    }
    const std::size_t got = file.Read(data.data(), kVerifyBlock);
    const std::uint32_t at = address + static_cast<std::uint32_t>(done);
    if (!context.link.DumpMemory(at, flash.data(), kVerifyBlock, 4)) {
      context.log.Error("Error: read Flash memory failed.\n");
      return false;
    }
    if (!compare(at, flash.data(), data.data(), std::min<std::uint64_t>(got, length - done)))
      return false;
  }
  return true;
}

}  // namespace

bool StreamsThisProgram(const CommandContext& context) {
  if (!StreamsProgram(context.settings())) return false;
  const TargetConfig& c = context.config();
  const int mode = context.command_set().program_mode;
  const bool nor = mode == 0 || mode == 2 || mode == 3;
  const bool plain_family = !context.family.Has(FamilyTrait::kSectorIndexes) &&
                            !context.family.Has(FamilyTrait::kCrystalFrequency) &&
                            !context.family.Has(FamilyTrait::kVectorChecksum);
  const std::uint32_t base = c.flash_address + context.SectorOffset(c.start_sector);
  if (!nor || !plain_family || (base & 3) != 0 || context.settings().debug != 0) {
    context.log.Info(
        "Info: this flash is not programmed through the comms channel; the data goes "
        "in chunks.\n");
    return false;
  }
  // A driver without the channel says so before anything is written.
  CommsWrite probe;
  switch (context.link.WriteComms(nullptr, 0, 0, &probe)) {
    case CommsAnswer::kDone:
      return true;
    case CommsAnswer::kNotSupported:
      context.log.Info("Info: the driver has no debug comms channel; the data goes in chunks.\n");
      return false;
    case CommsAnswer::kFailed:
      return false;
  }
  return false;
}

RunResult StreamRange(const CommandContext& context, LoaderParams params, std::uint32_t address,
                      std::uint32_t length, const ByteSource& source,
                      const std::function<void(std::uint32_t)>& progress) {
  params.operation = LoaderOperation::kStreamProgram;
  params.address = address;
  params.length = (length + 3) & ~3u;
  std::vector<std::uint8_t> block;
  PackBlock(context, params, block);
  if (!context.link.FillMemory(context.config().ram_address + kFirstFamilyLayout.params,
                               block.data(), static_cast<std::uint32_t>(block.size()), 4))
    return RunResult::kFailed;
  params.reserved = 0;
  return FeedRunningLoader(context, params.length, {}, source, progress);
}

CommandResult StreamProgramBody(const CommandContext& context) {
  const TargetConfig& c = context.config();
  LoaderParams params = StreamParams(context);
  const std::uint32_t base = c.flash_address + context.SectorOffset(c.start_sector);
  ProgramFile program(c);
  std::uint64_t length = 0;

  LoaderJob job;
  job.start_line = "Info: start program...\n";
  job.lines = kProgramRunLines;
  job.exception_tail = ", program failed.\n";
  job.completed_line = ProgramCompletedLine(c);
  job.prepare = [&]() -> std::optional<int> {
    const auto opened = OpenProgramFile(context, program, context.SelectedLength(),
                                        "Error: program file too large, program failed.\n",
                                        "Error: program file is empty, program failed.\n");
    if (!opened) return std::nullopt;
    length = *opened;
    return static_cast<int>(length / 256);
  };
  // The automatic erase goes into the stream's run when it can (one run
  // erases every sector, then takes the data), else as Erase does it.
  const std::vector<std::uint32_t> erase_table =
      c.auto_erase != 0 ? EraseTable(context) : std::vector<std::uint32_t>{};
  params.reserved = erase_table.empty() ? 0 : 1;
  std::optional<CommandResult> erased;
  if (c.auto_erase != 0 && erase_table.empty()) {
    job.before_load = [&] {
      erased = EraseBody(context);
      return erased->completed;
    };
  }
  // One range: the file from the first selected sector on.
  job.fill = [&](std::vector<std::uint8_t>& block) {
    params.address = base;
    params.length = (static_cast<std::uint32_t>(length) + 3) & ~3u;
    PackBlock(context, params, block);
    return JobStep::kGoOn;
  };
  job.run = [&] {
    const ByteSource source = [&](std::uint8_t* bytes, std::size_t count) {
      return program.file().Read(bytes, count);
    };
    return FeedRunningLoader(context, params.length, erase_table, source, [&](std::uint32_t done) {
      context.frontend.SetProgressPosition(static_cast<int>(done / 256));
    });
  };
  job.after_run = [&] {
    if (c.auto_verify != 0 && !VerifyStreamedRange(context, program.name(), base, length)) {
      if (!context.StopRequested()) context.log.Error(kFailedLine);
      return JobStep::kFailed;
    }
    return JobStep::kDone;
  };
  const LoaderJobResult result = RunLoaderJob(context, job);
  if (erased && !erased->completed) return {erased->outcome, false, std::nullopt, {}};
  if (!result.completed && context.StopRequested())
    return {CommandOutcome::kStopped, false, std::nullopt, {}};
  return {result.outcome, result.completed, std::nullopt, {}};
}

}  // namespace romsmith
