// The second loader family, for CPUs whose flash is a NAND device organised
// in blocks of pages: erase and check block over groups of up to 32 blocks,
// and program, upload and verify in 4096-byte chunks that walk over the
// blocks marked bad.
#include <algorithm>

#include "operations/command_bodies.h"
#include "operations/loader_job.h"
#include "operations/upload_file.h"
#include "platform/text.h"

namespace romsmith {
namespace {

constexpr std::uint32_t kChunk = kSecondFamilyChunk;
constexpr std::int32_t kGroupBlocks = 32;
constexpr LoaderLayout kLayout = kSecondFamilyLayout;

// The walk of the chunked commands over the selected blocks: the current
// block, the bytes done in it, the bytes done in all, and the bytes of the
// bad blocks passed over.
class ChunkWalk {
 public:
  ChunkWalk(const FlashDevice& flash, const BadBlockTable& bad, std::int32_t first_block,
            std::uint32_t flash_start)
      : flash_(flash), bad_(bad), block_(first_block) {
    std::uint64_t base = 0;
    for (std::int32_t b = 0; b < first_block && b < flash.sector_count(); ++b)
      base += static_cast<std::uint32_t>(flash.sector_sizes[b]);
    start_ = flash_start + base;
  }

  // The address of the current chunk; moves to its block first when the
  // walk has not placed it yet.
  std::uint32_t Current() {
    if (!placed_) {
      if (in_block_ >= BlockSize(block_)) {
        ++block_;
        in_block_ = 0;
      }
      while (IsBad(block_)) {
        skipped_ += BlockSize(block_);
        ++block_;
      }
      placed_ = true;
    }
    return static_cast<std::uint32_t>(start_ + total_ + skipped_);
  }
  void Done() {
    total_ += kChunk;
    in_block_ += kChunk;
    placed_ = false;
  }

  std::int32_t block() const { return block_; }
  std::uint64_t total() const { return total_; }

 private:
  std::uint64_t BlockSize(std::int32_t b) const {
    if (b < 0 || b >= flash_.sector_count()) return 0;
    return static_cast<std::uint32_t>(flash_.sector_sizes[b]);
  }
  bool IsBad(std::int32_t b) const {
    return b >= 0 && b < static_cast<std::int32_t>(bad_.size()) && b < flash_.sector_count() &&
           bad_[static_cast<std::size_t>(b)] == 1;
  }

  const FlashDevice& flash_;
  const BadBlockTable& bad_;
  std::int32_t block_;
  bool placed_ = false;
  std::uint64_t start_ = 0;
  std::uint64_t in_block_ = 0;
  std::uint64_t total_ = 0;
  std::uint64_t skipped_ = 0;
};

// Bytes of the selected blocks not marked bad, every chip side by side.
std::uint64_t Capacity(const CommandContext& context) {
  const TargetConfig& c = context.config();
  std::uint64_t capacity = 0;
  for (std::int32_t b = c.start_sector; b <= c.end_sector; ++b) {
    if (b < 0 || b >= context.flash().sector_count()) continue;
    if (b < static_cast<std::int32_t>(kBadBlockTableSize) &&
        context.job.bad_blocks[static_cast<std::size_t>(b)] == 1)
      continue;
    capacity += static_cast<std::uint32_t>(context.flash().sector_sizes[b]);
  }
  return capacity * context.Chips();
}

// ---------------------------------------------------------------- block groups

CommandResult RunBlockGroups(const CommandContext& context, bool erase) {
  const TargetConfig& c = context.config();
  LoaderParams params =
      BaseLoaderParams(context, erase ? LoaderOperation::kNandErase : LoaderOperation::kNandCheckBlock);
  params.address = c.flash_address + context.SectorOffset(c.start_sector);
  params.cycle_data[0] = context.flash().page_size;
  params.cycle_data[1] = context.flash().page_count;
  BadBlockTable table = context.job.bad_blocks;
  BadBlockTable checked = context.job.checked_blocks;
  std::int32_t first = c.start_sector;
  std::int32_t last = std::min(c.end_sector, first + kGroupBlocks - 1);

  LoaderJob job;
  job.layout = &kLayout;
  job.clear_after_run = true;
  if (erase) {
    job.start_line = "Info: start erase...\n";
    job.lines = {"Info: erasing, waiting %d s.\n", "Info: user stop erase.\n",
                 "Error: time out, erase failed.\n"};
    job.exception_tail = ", erase failed.\n";
    job.completed_line = "Info: erase completed.\n";
  } else {
    job.start_line = "Info: start check block...\n";
    job.lines = {"Info: block checking, waiting %d s", "Info: user stop block check.\n",
                 "Error: time out, block check failed.\n"};
    job.exception_tail = ", protect failed.\n";
    job.completed_line = "Info: block check completed.\n";
  }
  job.prepare = [&] { return std::optional<int>(c.end_sector - c.start_sector + 1); };
  job.fill = [&](std::vector<std::uint8_t>& block) {
    if (first > c.end_sector) return JobStep::kDone;
    params.cycle_address[0] = static_cast<std::uint32_t>(first);
    params.cycle_address[1] = static_cast<std::uint32_t>(last);
    PackBlock(context, params, block);
    return JobStep::kGoOn;
  };
  job.after_run = [&] {
    if (!erase) {
      std::uint32_t mask = 0;
      if (!context.link.ReadMemory(c.ram_address + kLayout.params + kFirstCycleAddressOffset,
                                   &mask, 4)) {
        // An unread mask would mark every block of the group good.
        context.log.Error("Error: read memory failed, block check failed.\n");
        return JobStep::kFailed;
      }
      for (std::int32_t b = first; b <= last; ++b) {
        if (b < 0 || b >= static_cast<std::int32_t>(kBadBlockTableSize)) continue;
        const std::uint32_t bit = static_cast<std::uint32_t>(b - first);
        table[static_cast<std::size_t>(b)] =
            bit < 32 ? static_cast<std::uint8_t>((mask >> bit) & 1u) : 0;
        checked[static_cast<std::size_t>(b)] = 1;
      }
    }
    context.frontend.SetProgressPosition(last - c.start_sector + 1);
    first = last + 1;
    last = std::min(c.end_sector, last + kGroupBlocks);
    return first > c.end_sector ? JobStep::kDone : JobStep::kGoOn;
  };
  const LoaderJobResult result = RunLoaderJob(context, job);
  CommandResult out{result.outcome, result.completed, std::nullopt, {}};
  // The groups checked before a stop or a failure keep their marks.
  if (!erase) {
    out.bad_blocks = table;
    out.checked_blocks = checked;
  }
  return out;
}

// ---------------------------------------------------------------- known bad blocks

// Whether a selected block has not been looked at by a check block yet.
bool SelectionHasUncheckedBlocks(const CommandContext& context) {
  const TargetConfig& c = context.config();
  const std::int32_t blocks =
      std::min(context.flash().sector_count(), static_cast<std::int32_t>(kBadBlockTableSize));
  for (std::int32_t b = std::max(c.start_sector, 0); b <= c.end_sector && b < blocks; ++b)
    if (context.job.checked_blocks[static_cast<std::size_t>(b)] != 1) return true;
  return false;
}

// Runs a chunked command with the bad blocks of its selection known. A
// block never checked would count as good, and data would land in a
// factory bad block; so when the table does not cover the selection (a
// command line run, or a front end whose user never checked), check block
// runs first over the selected blocks, and the command walks its table.
// In debug mode no loader runs, so no check can either.
CommandResult WithSelectionChecked(const CommandContext& context,
                                   CommandResult (*chunked)(const CommandContext&)) {
  if (context.settings().debug != 0 || !SelectionHasUncheckedBlocks(context))
    return chunked(context);
  context.log.Info("Info: bad blocks of the selected blocks not known yet, checking them first.\n");
  const CommandResult check = NandCheckBlockBody(context);
  if (!check.completed || !check.bad_blocks || !check.checked_blocks) return check;
  CommandSnapshot job = context.job;
  job.bad_blocks = *check.bad_blocks;
  job.checked_blocks = *check.checked_blocks;
  const CommandContext checked{context.link, context.log, context.frontend,
                               job,          context.stop, context.poll_interval};
  CommandResult result = chunked(checked);
  result.bad_blocks = check.bad_blocks;
  result.checked_blocks = check.checked_blocks;
  return result;
}

// ---------------------------------------------------------------- chunk walk

// A chunked command (program, upload, verify): the walk, the parameter block
// of the current chunk, the program file, and the job steps they share.
class ChunkRun {
 public:
  ChunkRun(const CommandContext& context, LoaderOperation operation)
      : context_(context),
        walk_(context.flash(), context.job.bad_blocks, context.config().start_sector,
              context.config().flash_address),
        program_(context.config()) {
    params_ = BaseLoaderParams(context, operation);
    params_.length = kChunk;
    params_.cycle_data[0] = context.flash().page_size;
  }

  // A job with the chunk lines; the caller adds its own steps.
  LoaderJob Job(const char* start_line, const char* completed_line) const {
    LoaderJob job;
    job.start_line = start_line;
    job.layout = &kLayout;
    job.lines = {"Info: programming, waiting %d s", "Info: user stop program.\n",
                 "Error: time out, program failed.\n"};
    job.exception_tail = ", program failed.\n";
    job.completed_line = completed_line;
    job.clear_after_run = true;
    return job;
  }

  // Opens the program file, refused when longer than the good blocks hold.
  std::optional<int> OpenProgram(const char* too_large_line, const char* empty_line) {
    const auto opened =
        OpenProgramFile(context_, program_, Capacity(context_), too_large_line, empty_line);
    if (!opened) return std::nullopt;
    length_ = *opened;
    return static_cast<int>(length_ / 256);
  }

  // The block of the current chunk, with the next part of the program file
  // behind it when `send_data`. Past the last selected block: done when
  // `past_end_line` is null, else that line and a failure (only several
  // chips side by side outgrow the blocks: the walk counts one chip's bytes).
  JobStep Fill(std::vector<std::uint8_t>& block, const char* past_end_line, bool send_data) {
    params_.address = walk_.Current();
    if (walk_.block() > context_.config().end_sector) {
      if (!past_end_line) return JobStep::kDone;
      context_.log.Error(past_end_line);
      return JobStep::kFailed;
    }
    PackBlock(context_, params_, block, send_data ? kChunk : 0);
    if (send_data) program_.file().Read(block.data() + kLoaderParamsSize, kChunk);
    return JobStep::kGoOn;
  }

  // After a chunk: done when the file is covered, else on to the next.
  JobStep Next() {
    if (walk_.total() + kChunk >= length_) return JobStep::kDone;
    walk_.Done();
    return JobStep::kGoOn;
  }

  ChunkWalk& walk() { return walk_; }
  BinaryFile& program_file() { return program_.file(); }

 private:
  const CommandContext& context_;
  ChunkWalk walk_;
  LoaderParams params_;
  ProgramFile program_;
  std::uint64_t length_ = 0;
};

// Reads the chunk the loader left behind its block.
bool ReadChunk(const CommandContext& context, std::vector<std::uint8_t>& data) {
  data.resize(kChunk);
  if (!context.link.DumpMemory(context.config().ram_address + kLayout.data, data.data(), kChunk,
                               4)) {
    context.log.Error("Error: read Flash memory failed.\n");
    return false;
  }
  return true;
}

CommandResult ProgramChunks(const CommandContext& context) {
  const TargetConfig& c = context.config();
  ChunkRun run(context, LoaderOperation::kNandProgram);
  LoaderJob job = run.Job("Info: start program...\n", ProgramCompletedLine(c));
  job.prepare = [&] {
    return run.OpenProgram("Error: program file too large, program failed.\n",
                           "Error: program file is empty, program failed.\n");
  };
  // As the first family's program: the erase only once every input is good.
  std::optional<CommandResult> erased;
  if (c.auto_erase != 0) {
    job.before_load = [&] {
      erased = NandEraseBody(context);
      return erased->completed;
    };
  }
  job.fill = [&](std::vector<std::uint8_t>& block) {
    return run.Fill(block, "Error: program file too large, program failed.\n", true);
  };
  job.after_run = [&] {
    if (CheckLoaderVerify(context, kLayout) == JobStep::kFailed) return JobStep::kFailed;
    context.frontend.SetProgressPosition(static_cast<int>(run.walk().total() / 256 + 1));
    return run.Next();
  };
  const LoaderJobResult result = RunLoaderJob(context, job);
  if (erased && !erased->completed) return {erased->outcome, false, std::nullopt, {}};
  return {result.outcome, result.completed, std::nullopt, {}};
}

CommandResult UploadChunks(const CommandContext& context) {
  const TargetConfig& c = context.config();
  std::optional<UploadFile> upload;
  std::vector<std::uint8_t> data;
  std::uint64_t written = 0;
  bool walked_to_end = false;
  ChunkRun run(context, LoaderOperation::kNandUpload);
  LoaderJob job = run.Job("Info: start upload...\n", "Info: upload success.\n");
  bool cancelled = false;
  job.prepare = [&]() -> std::optional<int> {
    const UploadName answer = ConfirmUploadName(context, c.upload_file);
    cancelled = answer == UploadName::kCancelled;
    if (answer != UploadName::kGoOn) return std::nullopt;
    upload.emplace(c.upload_file);
    if (!upload->Create()) {
      context.log.Error("Error: can't create upload file.\n");
      return std::nullopt;
    }
    return c.end_sector - c.start_sector + 1;
  };
  // The walk ends by itself after the last selected good block.
  job.fill = [&](std::vector<std::uint8_t>& block) {
    const JobStep step = run.Fill(block, nullptr, false);
    walked_to_end = step == JobStep::kDone;
    return step;
  };
  job.after_run = [&] {
    if (!ReadChunk(context, data)) return JobStep::kFailed;
    upload->file().Write(data.data(), kChunk);
    ++written;
    context.frontend.SetProgressPosition(run.walk().block() - c.start_sector + 1);
    run.walk().Done();
    return JobStep::kGoOn;
  };
  // The file keeps the chunks read so far, also after a stop or a failure,
  // and replaces the old one then; with nothing read the old one stays. A
  // file exception leaves the old one as well (the UploadFile goes with it).
  job.finish = [&] {
    if (!upload) return;
    if (upload->file().IsOpen()) upload->file().Close();
    if (written == 0 && !walked_to_end) {
      upload->Discard();
    } else if (const std::error_code error = upload->Commit()) {
      throw FileException{FileCauseFromError(error)};
    }
  };
  const LoaderJobResult result = RunLoaderJob(context, job);
  if (cancelled) return UploadCancelled();
  return {result.outcome, result.completed, std::nullopt, {}};
}

CommandResult VerifyChunks(const CommandContext& context) {
  std::vector<std::uint8_t> flash;
  std::vector<std::uint8_t> data(kChunk);
  ChunkRun run(context, LoaderOperation::kNandVerify);
  LoaderJob job = run.Job("Info: start verify...\n", "Info: verify success.\n");
  job.prepare = [&] {
    return run.OpenProgram("Error: program file too large, verify failed.\n",
                           "Error: verify failed, the program file is empty.\n");
  };
  job.fill = [&](std::vector<std::uint8_t>& block) {
    return run.Fill(block, "Error: program file too large, verify failed.\n", false);
  };
  job.after_run = [&] {
    if (!ReadChunk(context, flash)) return JobStep::kFailed;
    const std::uint64_t total = run.walk().total();
    const std::size_t got = run.program_file().Read(data.data(), kChunk);
    for (std::size_t i = 0; i < got; ++i) {
      if (flash[i] != data[i]) {
        // The offset in the file.
        context.log.Error(FormatText("Error: verify failed, different at address 0x%08x.\n",
                                     static_cast<std::uint32_t>(total + i)));
        return JobStep::kFailed;
      }
    }
    context.frontend.SetProgressPosition(static_cast<int>((total + kChunk) / 256));
    return run.Next();
  };
  const LoaderJobResult result = RunLoaderJob(context, job);
  return {result.outcome, result.completed, std::nullopt, {}};
}

}  // namespace

CommandResult NandEraseBody(const CommandContext& context) {
  return RunBlockGroups(context, true);
}

CommandResult NandCheckBlockBody(const CommandContext& context) {
  return RunBlockGroups(context, false);
}

CommandResult NandProgramBody(const CommandContext& context) {
  return WithSelectionChecked(context, ProgramChunks);
}

CommandResult NandUploadBody(const CommandContext& context) {
  return WithSelectionChecked(context, UploadChunks);
}

CommandResult NandVerifyBody(const CommandContext& context) {
  return WithSelectionChecked(context, VerifyChunks);
}

}  // namespace romsmith
