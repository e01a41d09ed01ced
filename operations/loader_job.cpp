#include "operations/loader_job.h"

#include <system_error>
#include <thread>

#include "formats/data_file.h"
#include "formats/intel_hex.h"
#include "platform/paths.h"
#include "platform/text.h"

namespace romsmith {
namespace {

void RemoveFile(const std::string& path) {
  if (path.empty()) return;
  std::error_code ignored;
  std::filesystem::remove(path, ignored);
}

// A loader image found, decoded when stored scrambled, and opened; the
// decoded copy goes with the object.
class LoaderFile {
 public:
  LoaderFile() = default;
  LoaderFile(const LoaderFile&) = delete;
  LoaderFile& operator=(const LoaderFile&) = delete;
  ~LoaderFile() {
    if (file_.IsOpen()) {
      try {
        file_.Close();
      } catch (const FileException&) {
      }
    }
    RemoveFile(decoded_);
  }

  bool Prepare(const CommandContext& context) {
    path_ = LoaderFilePath(context.job.cpu, context.config().cpu_endian,
                           platform::ProgramDirectoryText());
    if (context.settings().plain_loaders == 0) {
      // A failed decode shows when the copy is looked for.
      decoded_ = path_ + ".ddl";
      static_cast<void>(DecodeDataFile(path_, decoded_));
      path_ = decoded_;
    }
    if (!CheckFileName(path_, context.log)) {
      context.log.Error("Error: cannot find execute file.\n");
      return false;
    }
    if (!file_.OpenForReading(path_)) {
      context.log.Error("Error: open execute file failed.\n");
      return false;
    }
    return true;
  }

  // The image padded with 0xFF to its area, written to the RAM address.
  bool WriteToTarget(const CommandContext& context, const LoaderLayout& layout) {
    const std::uint64_t length = file_.Length();
    if (length > layout.image_size) {
      // The image would run into the parameter block the host writes
      // behind its area.
      context.log.Error(FormatText("Error: execute file is %llu bytes, more than the %u bytes of "
                                   "its area, command stopped.\n",
                                   static_cast<unsigned long long>(length), layout.image_size));
      return false;
    }
    std::vector<std::uint8_t> image(layout.image_size, 0xFF);
    if (file_.Read(image.data(), image.size()) != length) {
      // The file changed under us: a loader cut short would run into
      // 0xFF bytes.
      context.log.Error("Error: open execute file failed.\n");
      return false;
    }
    // A loader that did not reach RAM cannot run: the wrapper has logged
    // why, and the command ends here rather than start whatever RAM holds.
    return context.link.FillMemory(context.config().ram_address, image.data(), layout.image_size,
                                   4);
  }

 private:
  std::string path_;
  std::string decoded_;
  BinaryFile file_;
};

RunResult RunLoader(const CommandContext& context, const LoaderLayout& layout,
                    const RunLines& lines) {
  const std::uint32_t ram = context.config().ram_address;
  return RunToBreakpoint(context, ram, ram + layout.breakpoint, lines);
}

bool WriteDebugImage(const CommandContext& context, const std::string& file_name,
                     const std::vector<std::uint8_t>& bytes) {
  BinaryFile file;
  if (!file.CreateForWriting(file_name)) {
    context.log.Error("Error: open debug file failed.\n");
    return false;
  }
  file.Write(bytes.data(), bytes.size());
  file.Close();
  context.log.Info("Info: output debug file success.\n");
  return true;
}

// The runs of a job once the loader is in RAM.
LoaderJobResult RunBlocks(const CommandContext& context, const LoaderJob& job) {
  const ProgramSettings& settings = context.settings();
  const std::uint32_t params_address = context.config().ram_address + job.layout->params;
  std::vector<std::uint8_t> block;
  std::uint32_t debug_written = 0;
  bool debug_failed = false;
  while (true) {
    if (context.StopRequested()) {
      context.log.Info(job.stop_line ? job.stop_line : job.lines.user_stop);
      return {CommandOutcome::kStopped, false};
    }
    const JobStep filled = job.fill(block);
    if (filled == JobStep::kDone) return {CommandOutcome::kSucceeded, true};
    if (filled == JobStep::kFailed) return {};
    if (!context.link.FillMemory(params_address, block.data(),
                                 static_cast<std::uint32_t>(block.size()), 4))
      return {};
    if (settings.debug != 0) {
      // The same run again, until the count of debug files is reached.
      const std::string name =
          settings.debug_file + job.debug_infix + std::to_string(debug_written);
      if (!WriteDebugImage(context, name, block)) debug_failed = true;
      if (++debug_written >= settings.debug_count)
        return {debug_failed ? CommandOutcome::kFailed : CommandOutcome::kSucceeded, false};
      continue;
    }
    const RunResult run = RunLoader(context, *job.layout, job.lines);
    if (run == RunResult::kStopped) return {CommandOutcome::kStopped, false};
    if (run == RunResult::kFailed) return {};
    if (job.clear_after_run && !context.link.ClearAllBreakpoints()) return {};
    const JobStep after = job.after_run();
    if (after == JobStep::kDone) return {CommandOutcome::kSucceeded, true};
    if (after == JobStep::kFailed) return {};
  }
}

}  // namespace

RunResult RunToBreakpoint(const CommandContext& context, std::uint32_t start,
                          std::uint32_t breakpoint, const RunLines& lines) {
  TargetLink& link = context.link;
  std::uint32_t number = 0;
  // All three are called whatever the others gave; one line covers them.
  const bool pc_set = link.SetPC(start);
  const bool breakpoint_set = link.SetBreakpoint(breakpoint, &number);
  const bool started = link.RunTarget();
  if (!pc_set || !breakpoint_set || !started) {
    context.log.Error("Error: execute file failed.\n");
    return RunResult::kFailed;
  }
  const std::int32_t polls = context.settings().time_out_polls;
  std::int32_t i = 0;
  while (i < polls) {
    bool running = false;
    if (!link.GetTargetStatus(&running)) {
      context.log.Error("Error: get target status failed.\n");
      return RunResult::kFailed;
    }
    if (!running) break;
    std::this_thread::sleep_for(context.poll_interval);
    if (context.StopRequested()) {
      context.log.Info(lines.user_stop);
      return RunResult::kStopped;
    }
    if (i != 0 && i % 10 == 0) context.log.Info(FormatText(lines.waiting, i / 10));
    ++i;
  }
  if (i >= polls) {
    context.log.Error(lines.time_out);
    return RunResult::kFailed;
  }
  // A breakpoint left behind would end the next run early; the wrapper has
  // logged the failure.
  return link.ClearAllBreakpoints() ? RunResult::kDone : RunResult::kFailed;
}

LoaderJobResult RunLoaderJob(const CommandContext& context, const LoaderJob& job) {
  if (job.start_line) context.log.Info(job.start_line);
  LoaderJobResult result;
  try {
    LoaderFile loader;
    if (loader.Prepare(context)) {
      const std::optional<int> progress = job.prepare ? job.prepare() : std::optional<int>(0);
      if (progress && loader.WriteToTarget(context, *job.layout)) {
        context.BeginProgress(*progress);
        result = RunBlocks(context, job);
      }
      if (job.finish) job.finish();
    }
  } catch (const FileException& exception) {
    context.EndProgress();
    context.log.Error("Error: file exception, " + LowerCase(FileErrorText(exception.cause)) +
                      job.exception_tail);
    return {};
  }
  context.frontend.StopAnimation();
  if (job.settle == SettlePause::kAlways ||
      (job.settle == SettlePause::kWhenCompleted && result.completed))
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  context.frontend.SetProgressPosition(0);
  if (result.completed && job.completed_line) context.log.Info(job.completed_line);
  return result;
}

LoaderParams BaseLoaderParams(const CommandContext& context, LoaderOperation operation) {
  LoaderParams params;
  params.operation = operation;
  params.width_bytes = static_cast<std::uint8_t>(context.WidthBytes());
  params.chips = static_cast<std::uint8_t>(context.Chips());
  params.auto_verify = static_cast<std::uint8_t>(context.config().auto_verify);
  params.flash_start = context.config().flash_address;
  return params;
}

void PackBlock(const CommandContext& context, const LoaderParams& params,
               std::vector<std::uint8_t>& block, std::size_t data_length) {
  block.assign(kLoaderParamsSize + data_length, 0xFF);
  PackLoaderParams(block.data(), params, context.LittleEndian());
}

// ---------------------------------------------------------------- program file

ProgramFile::ProgramFile(const TargetConfig& config)
    : config_(config), name_(config.program_file) {}

ProgramFile::~ProgramFile() {
  if (file_.IsOpen()) {
    try {
      file_.Close();
    } catch (const FileException&) {
    }
  }
  // Only a copy this command converted is removed: with any other format the
  // name is the user's own program file.
  RemoveFile(converted_);
}

bool ProgramFile::Resolve() {
  if (config_.format == "Intel Hex") {
    converted_ = config_.program_file + ".bin";
    name_ = converted_;
    return HexToBinary(config_.program_file, converted_);
  }
  return true;
}

bool ProgramFile::Open(MessageLog& log) {
  if (!CheckFileName(name_, log)) {
    log.Error("Error: cannot find program file.\n");
    return false;
  }
  if (!file_.OpenForReading(name_)) {
    log.Error("Error: open program file failed.\n");
    return false;
  }
  return true;
}

std::optional<std::uint64_t> OpenProgramFile(const CommandContext& context, ProgramFile& program,
                                             std::uint64_t capacity, const char* too_large_line,
                                             const char* empty_line) {
  if (!program.Resolve()) {
    context.log.Error("Error: convert Intel Hex format file failed, program stop.\n");
    return std::nullopt;
  }
  if (!program.Open(context.log)) return std::nullopt;
  const std::uint64_t length = program.file().Length();
  if (length > capacity) {
    context.log.Error(too_large_line);
    return std::nullopt;
  }
  if (length == 0) {
    context.log.Error(empty_line);
    return std::nullopt;
  }
  return length;
}

JobStep CheckLoaderVerify(const CommandContext& context, const LoaderLayout& layout) {
  if (context.config().auto_verify == 0) return JobStep::kGoOn;
  std::uint32_t result = 0;
  if (!context.link.ReadMemory(context.config().ram_address + layout.params + kResultByteOffset,
                               &result, 1)) {
    // Without the loader's verdict the chunk is not known to be right.
    context.log.Error("Error: read verify result failed, program failed.\n");
    return JobStep::kFailed;
  }
  if (result == 1) {
    context.log.Error("Error: verify error, program failed.\n");
    return JobStep::kFailed;
  }
  return JobStep::kGoOn;
}

const char* ProgramCompletedLine(const TargetConfig& config) {
  return config.auto_verify != 0 ? "Info: program suceess.\n" : "Info: program completed.\n";
}

}  // namespace romsmith
