#include "operations/loader_job.h"

#include <system_error>
#include <thread>

#include "formats/data_file.h"
#include "formats/intel_hex.h"
#include "operations/command_bodies.h"
#include "platform/paths.h"
#include "platform/run_files.h"
#include "platform/text.h"

namespace romsmith {
namespace {

// The largest scrambled loader file looked at: two bytes for each byte of
// the largest image area, and some room; anything longer cannot fit.
constexpr std::uintmax_t kMaxLoaderFileBytes = 64 * 1024;

// What the host leaves in the last word of the image area, behind the
// breakpoint. No loader touches it, so after a finished run it must still
// hold this value.
constexpr std::uint32_t kAreaMark = 0xA5C3D2E1;

// The word before the breakpoint, when the image leaves it free, is
// "STR PC, [PC]": it stores its own address + 12 (ARM7TDMI; + 8 elsewhere)
// into the marked word behind the breakpoint and falls through to it. The
// rest of the padding stays 0xFF, which the core passes over (condition
// "never"), so a loader that ran into its padding (an image cut short, a
// branch past its end) reaches the breakpoint only through this word, with
// the mark overwritten, instead of as if it had ended well.
constexpr std::uint32_t kStorePcBehindBreakpoint = 0xE58FF000;  // STR PC, [PC, #0]

void PutWord(std::uint8_t* at, std::uint32_t word, bool little_endian) {
  for (int i = 0; i < 4; ++i) {
    const int shift = little_endian ? 8 * i : 8 * (3 - i);
    at[i] = static_cast<std::uint8_t>(word >> shift);
  }
}

// A loader image found, checked, decoded when stored scrambled (into the
// command's own temporary directory), and opened; the decoded copy goes
// with the object.
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
    // The run directory goes with its member, the decoded copy with it.
  }

  bool Prepare(const CommandContext& context, const LoaderLayout& layout) {
    const TargetConfig& c = context.config();
    if (!CheckLoaderNamed(context.job, context.log)) return false;
    path_ = LoaderFilePath(context.job.cpu, c.cpu_endian, platform::ProgramDirectoryText());
    const std::string shown = path_;
    switch (platform::CheckPlainFile(path_, kMaxLoaderFileBytes)) {
      case platform::PlainFileCheck::kRegular:
        break;
      case platform::PlainFileCheck::kMissing:
        context.log.Error("Error: cannot find execute file.\n");
        return false;
      case platform::PlainFileCheck::kNotRegular:
        context.log.Error("Error: execute file " + shown + " is not a regular file.\n");
        return false;
      case platform::PlainFileCheck::kTooLarge:
        context.log.Error(FormatText("Error: execute file %s is larger than %u bytes, command stopped.\n",
                                     shown.c_str(), static_cast<unsigned>(kMaxLoaderFileBytes)));
        return false;
    }
    if (context.settings().plain_loaders == 0) {
      // The decoded copy is made new in a directory of this command alone,
      // so nothing planted under its name is written through.
      const std::filesystem::path decoded =
          run_directory_.File(std::filesystem::path(path_).filename().string() + ".ddl");
      if (decoded.empty()) {
        context.log.Error("Error: cannot make a temporary directory for the execute file.\n");
        return false;
      }
      // A failed decode shows when the copy is looked for.
      static_cast<void>(DecodeDataFile(path_, decoded.string()));
      path_ = decoded.string();
    }
    if (!CheckFileName(path_, context.log)) {
      context.log.Error("Error: cannot find execute file.\n");
      return false;
    }
    if (!file_.OpenForReading(path_)) {
      context.log.Error("Error: open execute file failed.\n");
      return false;
    }
    // The image is checked whole before anything reaches the target: one
    // that is empty, cut inside an instruction word or too long for its
    // area cannot be the loader it names.
    length_ = file_.Length();
    layout_breakpoint_ = layout.breakpoint;
    if (length_ == 0) {
      context.log.Error("Error: execute file " + shown + " is empty, command stopped.\n");
      return false;
    }
    if (length_ > layout.image_size) {
      // The image would run into the parameter block the host writes
      // behind its area.
      context.log.Error(FormatText("Error: execute file is %llu bytes, more than the %u bytes of "
                                   "its area, command stopped.\n",
                                   static_cast<unsigned long long>(length_), layout.image_size));
      return false;
    }
    if (length_ % 4 != 0) {
      context.log.Error(FormatText("Error: execute file %s is %llu bytes, not whole 32-bit words: it "
                                   "is cut short or damaged, command stopped.\n",
                                   shown.c_str(), static_cast<unsigned long long>(length_)));
      return false;
    }
    return true;
  }

  // The image, its padding with the trap word and the mark, written to the
  // RAM address.
  bool WriteToTarget(const CommandContext& context, const LoaderLayout& layout) {
    const bool little = context.LittleEndian();
    std::vector<std::uint8_t> image(layout.image_size, 0xFF);
    if (file_.Read(image.data(), image.size()) != length_) {
      // The file changed under us: a loader cut short would run into
      // its padding.
      context.log.Error("Error: open execute file failed.\n");
      return false;
    }
    if (length_ + 4 <= layout.breakpoint)
      PutWord(image.data() + layout.breakpoint - 4, kStorePcBehindBreakpoint, little);
    if (marked()) PutWord(image.data() + layout.breakpoint + 4, kAreaMark, little);
    // A loader that did not reach RAM cannot run: the wrapper has logged
    // why, and the command ends here rather than start whatever RAM holds.
    return context.link.FillMemory(context.config().ram_address, image.data(), layout.image_size,
                                   4);
  }

  // Whether the word behind the breakpoint is free for the mark (an image
  // of the whole area has none).
  bool marked() const { return length_ <= layout_breakpoint_ + 4; }

 private:
  std::uint32_t layout_breakpoint_ = 0;
  platform::RunDirectory run_directory_;
  std::string path_;
  std::uint64_t length_ = 0;
  BinaryFile file_;
};

// After a run that reached the breakpoint: the mark behind it must be as the
// host left it. Overwritten, the loader ran into its padding; anything else,
// the image area is not the RAM the configuration names.
bool LoaderFinished(const CommandContext& context, const LoaderLayout& layout) {
  std::uint32_t mark = 0;
  if (!context.link.ReadMemory(context.config().ram_address + layout.breakpoint + 4, &mark, 4))
    return false;  // the wrapper has logged why
  if (mark == kAreaMark) return true;
  context.log.Error(FormatText(
      "Error: the loader did not run to its end (the word at 0x%08X holds 0x%08X, not its mark "
      "0x%08X): the execute file is cut short or damaged, or RAM is not at 0x%08X; command failed.\n",
      context.config().ram_address + layout.breakpoint + 4, mark, kAreaMark,
      context.config().ram_address));
  return false;
}

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
LoaderJobResult RunBlocks(const CommandContext& context, const LoaderJob& job, bool marked) {
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
    const RunResult run = job.run ? job.run() : RunLoader(context, *job.layout, job.lines);
    if (run == RunResult::kStopped) return {CommandOutcome::kStopped, false};
    if (run == RunResult::kFailed) return {};
    if (marked && !LoaderFinished(context, *job.layout)) return {};
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
  if (job.start_line && !job.before_load) context.log.Info(job.start_line);
  LoaderJobResult result;
  try {
    LoaderFile loader;
    // Every input is proven good before the first change to the target.
    if (loader.Prepare(context, *job.layout)) {
      const std::optional<int> progress = job.prepare ? job.prepare() : std::optional<int>(0);
      bool go_on = progress.has_value();
      if (go_on && job.before_load) {
        go_on = job.before_load();
        if (go_on && job.start_line) context.log.Info(job.start_line);
      }
      if (go_on && loader.WriteToTarget(context, *job.layout)) {
        context.BeginProgress(*progress);
        result = RunBlocks(context, job, loader.marked());
      } else if (!progress && context.StopRequested()) {
        result.outcome = CommandOutcome::kStopped;
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

LoaderParams ProgramLoaderParams(const CommandContext& context) {
  LoaderParams params = BaseLoaderParams(context, LoaderOperation::kProgram);
  params.cycle_count = BuildCycles(context.command_set().program, context.WidthBytes(),
                                   context.Chips(), context.config().flash_address, params);
  params.program_mode = context.settings().load_sector_data == 1
                            ? 1
                            : static_cast<std::uint8_t>(context.command_set().program_mode);
  return params;
}

std::uint8_t SectorsBelow(const CommandContext& context, std::uint64_t offset) {
  std::uint64_t end = 0;
  std::uint32_t count = 0;
  for (std::int32_t s = 0; s < context.flash().sector_count(); ++s) {
    end += static_cast<std::uint32_t>(context.flash().sector_sizes[s]);
    if (end > offset) break;
    ++count;
  }
  return static_cast<std::uint8_t>(count);
}

void PackBlock(const CommandContext& context, const LoaderParams& params,
               std::vector<std::uint8_t>& block, std::size_t data_length) {
  block.assign(kLoaderParamsSize + data_length, 0xFF);
  PackLoaderParams(block.data(), params, context.LittleEndian());
}

bool NeedsLoader(CommandCode code) {
  switch (code) {
    case CommandCode::kBlankCheck:
    case CommandCode::kChecksum:
    case CommandCode::kUpload:
    case CommandCode::kVerify:
    case CommandCode::kRegisterRead:
    case CommandCode::kNone:
      return false;
    default:
      return true;
  }
}

bool CheckLoaderNamed(const CommandSnapshot& job, MessageLog& log) {
  if (!NeedsLoader(job.code)) return true;
  const bool little = job.config.IsLittleEndian();
  const std::string& named = little ? job.cpu.loader_file_le : job.cpu.loader_file_be;
  if (!named.empty()) return true;
  log.Error(FormatText("Error: CPU %s has no loader for %s-endian targets in the CPU database "
                       "(no %s): choose the other byte order or another CPU.\n",
                       job.config.cpu_chip.c_str(), little ? "little" : "big",
                       little ? "LoadFileLE" : "LoadFileBE"));
  return false;
}

// ---------------------------------------------------------------- program file

namespace {

// Why a program file cannot be read, beyond the body's own "cannot find"
// line.
bool CheckProgramInput(const CommandContext& context, const std::string& name,
                       std::uintmax_t max_bytes, const char* too_large_line) {
  switch (platform::CheckPlainFile(name, max_bytes)) {
    case platform::PlainFileCheck::kRegular:
    case platform::PlainFileCheck::kMissing:  // the body's own line says so
      return true;
    case platform::PlainFileCheck::kNotRegular:
      // A FIFO or a device would block the read or never end.
      context.log.Error("Error: program file " + name +
                        " is not a regular file (a pipe, a device or a directory).\n");
      return false;
    case platform::PlainFileCheck::kTooLarge:
      context.log.Error(too_large_line);
      return false;
  }
  return false;
}

}  // namespace

ProgramFile::ProgramFile(const TargetConfig& config)
    : config_(config), name_(config.program_file) {}

ProgramFile::~ProgramFile() {
  if (file_.IsOpen()) {
    try {
      file_.Close();
    } catch (const FileException&) {
    }
  }
  // Only a copy this command converted is removed (with its run directory):
  // with any other format the name is the user's own program file.
}

ProgramFile::Resolution ProgramFile::Resolve(const CommandContext& context, std::uint64_t capacity,
                                             const char* too_large_line) {
  if (config_.format != "Intel Hex") return Resolution::kResolved;
  const std::string& hex = config_.program_file;
  // A HEX text takes a little under three characters a byte; far more than
  // that cannot convert to something the range holds.
  const std::uintmax_t max_text = capacity * 4 + 1024 * 1024;
  if (!CheckProgramInput(context, hex, max_text, too_large_line)) return Resolution::kRefused;
  const std::filesystem::path converted =
      run_directory_.File(std::filesystem::path(hex).filename().string() + ".bin");
  if (converted.empty()) {
    context.log.Error("Error: cannot make a temporary directory for the converted program file.\n");
    return Resolution::kRefused;
  }
  converted_ = converted.string();
  name_ = converted_;
  HexConversionOptions options;
  // One byte more than the range holds is enough to tell it is too large.
  options.max_output_bytes = capacity + 1;
  options.stop = [&context] { return context.StopRequested(); };
  options.create_new = true;
  HexConversionReport report;
  const bool converted_ok = HexToBinary(hex, converted_, options, report);
  // The conversion writes what it reads; what it passed over is said.
  for (const std::string& line : HexWarningLines(report)) context.log.Info(line);
  if (report.stopped) {
    context.log.Info(UserStopLine(context.job.code));
    return Resolution::kStopped;
  }
  if (report.too_large) {
    context.log.Error(too_large_line);
    return Resolution::kRefused;
  }
  return converted_ok ? Resolution::kResolved : Resolution::kFailed;
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
  switch (program.Resolve(context, capacity, too_large_line)) {
    case ProgramFile::Resolution::kResolved:
      break;
    case ProgramFile::Resolution::kFailed:
      context.log.Error("Error: convert Intel Hex format file failed, program stop.\n");
      return std::nullopt;
    case ProgramFile::Resolution::kRefused:
    case ProgramFile::Resolution::kStopped:
      return std::nullopt;
  }
  // Checked before it is opened: opening a FIFO would block.
  if (!CheckProgramInput(context, program.name(), UINT64_MAX, too_large_line)) return std::nullopt;
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

void RemoveStaleTemporaries() {
  platform::SweepDeadRunDirectories();
  std::error_code error;
  for (std::filesystem::directory_iterator it(platform::ProgramDirectory(), error), end;
       !error && it != end; it.increment(error)) {
    const std::string name = it->path().filename().string();
    constexpr std::string_view kSuffix = ".mdl.ddl";
    if (name.size() <= kSuffix.size() ||
        name.compare(name.size() - kSuffix.size(), kSuffix.size(), kSuffix) != 0)
      continue;
    // A link goes itself, never what it points at.
    std::error_code ignored;
    const auto status = it->symlink_status(ignored);
    if (std::filesystem::is_regular_file(status) || std::filesystem::is_symlink(status))
      std::filesystem::remove(it->path(), ignored);
  }
}

const char* ProgramCompletedLine(const TargetConfig& config) {
  return config.auto_verify != 0 ? "Info: program suceess.\n" : "Info: program completed.\n";
}

}  // namespace romsmith
