#include "cli/cli_app.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>

#include <unistd.h>

#include "cli/interrupt.h"
#include "cli/run_record.h"
#include "cli/standard_streams.h"
#include "operations/bad_block_summary.h"
#include "operations/file_checks.h"
#include "operations/workbench.h"
#include "platform/message_box.h"
#include "platform/paths.h"
#include "target_data/comm_types.h"
#include "target_data/program_settings.h"

namespace romsmith {
namespace {

bool ReadsStandardInput(const CliOptions& options) {
  return options.file && *options.file == kStandardStream && options.command != CliCommand::kUpload;
}

bool WritesStandardOutput(const CliOptions& options) {
  return options.file && *options.file == kStandardStream && options.command == CliCommand::kUpload;
}

LineRouting RoutingFor(const CliOptions& options) {
  if (options.batch_child) return LineRouting::kChild;
  if (options.json) return LineRouting::kErrorsOnly;
  if (WritesStandardOutput(options)) return LineRouting::kAllToError;
  return LineRouting::kSplit;
}

TerminalStreams StreamsFor(const CliOptions& options, TerminalStreams streams) {
  // Standard input that holds the program file answers no question.
  if (ReadsStandardInput(options)) streams.in_is_terminal = false;
  return streams;
}

// The commands that work on the selected sectors.
bool WorksOnSectors(CliCommand command) {
  return IsTargetCommand(command) && command != CliCommand::kTargetTest &&
         command != CliCommand::kReadRegisters;
}

class Run {
 public:
  Run(const CliOptions& options, const TerminalStreams& streams)
      : options_(options),
        streams_(streams),
        frontend_(options.verbosity, options.answers, StreamsFor(options, streams), RoutingFor(options)),
        // Boxes from any layer (settings, databases, files) reach the user
        // as the Workbench's own questions do.
        boxes_([this](const platform::MessageRequest& request) { return frontend_.Ask(request); }) {}

  int Execute() {
    started_ = std::chrono::steady_clock::now();
    record_.command = options_.command_name;
    if (options_.file) record_.file = *options_.file;
    int status = SetUpEnvironment();
    if (status == kExitSucceeded) status = RunCommand();
    if (options_.json || options_.batch_child) PrintRecord(status);
    return status;
  }

 private:
  int RunCommand() {
    switch (options_.command) {
      case CliCommand::kHexToBinary:
        return Convert(FileJob::kHexToBinary);
      case CliCommand::kEncode:
        return Convert(FileJob::kEncode);
      case CliCommand::kDecode:
        return Convert(FileJob::kDecode);
      case CliCommand::kDrivers:
        return ListDrivers();
      default:
        break;
    }
    const int status = RunTargetCommand();
    frontend_.FinishProgress();
    return status;
  }

  int Usage(const std::string& text) {
    const std::string line = "romsmith-cli: " + text;
    std::fprintf(streams_.err, "%s\n", line.c_str());
    std::fflush(streams_.err);
    usage_lines_.push_back({LineKind::kError, line});
    return kExitUsage;
  }

  // The record of the run as one JSON object on standard output.
  void PrintRecord(int status) {
    record_.exit_status = status;
    record_.duration_s =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started_).count();
    record_.messages = frontend_.Lines();
    record_.messages.insert(record_.messages.end(), usage_lines_.begin(), usage_lines_.end());
    const std::string text =
        RecordJson(record_).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
    std::fwrite(text.data(), 1, text.size(), streams_.out);
    std::fflush(streams_.out);
  }

  void Line(const std::string& text, bool error) { frontend_.PrintLine(text, error, true); }

  int SetUpEnvironment() {
    std::error_code error;
    if (options_.program_dir) {
      const std::filesystem::path dir = std::filesystem::absolute(*options_.program_dir, error);
      if (error || !std::filesystem::is_directory(dir, error))
        return Usage("program directory '" + *options_.program_dir + "' is not a directory");
      platform::SetProgramDirectory(dir);
    }
    if (options_.board) {
      const std::filesystem::path board = std::filesystem::absolute(*options_.board, error);
      if (error || !std::filesystem::is_regular_file(board, error))
        return Usage("board file '" + *options_.board + "' not found");
      // The port library reads it when the driver opens it.
      setenv("ROMSMITH_BOARD", board.c_str(), 1);
    }
    return kExitSucceeded;
  }

  // The input is checked before anything is written: a regular file (a FIFO
  // would block), and not the output itself (which would be cut before it
  // was read); nor is the output a directory.
  int CheckConversionFiles(const std::string& in, const std::string& out) {
    std::error_code error;
    // A missing input is the conversion's own failure (its message box).
    if (std::filesystem::exists(in, error) && !std::filesystem::is_regular_file(in, error))
      return Usage("input file '" + in + "' is not a regular file");
    if (std::filesystem::is_directory(out, error))
      return Usage("output file '" + out + "' is a directory");
    if (std::filesystem::equivalent(in, out, error))
      return Usage("the input and the output are the same file '" + out + "'");
    return kExitSucceeded;
  }

  // The conversions need no settings: they run on the Workbench's worker.
  int Convert(FileJob job) {
    const std::string& in = options_.files[0];
    const std::string& out = options_.files[1];
    if (const int checked = CheckConversionFiles(in, out); checked != kExitSucceeded) return checked;
    Workbench workbench(frontend_, Settings());
    workbench.log().SetLineTap([this](const std::string& text, bool error, bool label) {
      frontend_.PrintLine(text, error, label, TakeResultLine(text, record_.results));
    });
    if (!workbench.RunFileJob(job, in, out)) return kExitFailed;
    return WaitForOutcome(workbench);
  }

  SettingsStore Settings() const {
    SettingsStore store(platform::ProgramDirectory(), platform::ProfilePath());
    for (const SettingOverride& setting : options_.settings)
      store.SetOverride(setting.section, setting.key, setting.value);
    return store;
  }

  int ListDrivers() {
    Workbench workbench(frontend_, Settings());
    if (!workbench.Start({StartOptions::LogFile::kNone, false}))
      return Usage("the settings could not be loaded");
    const std::string& directory = workbench.settings().driver_module_directory;
    const std::vector<DriverEntry> drivers = workbench.Drivers();
    record_.results.drivers.emplace();
    if (drivers.empty()) {
      Line("Info: no driver modules found in " + directory + "\n", false);
      return kExitSucceeded;
    }
    for (const DriverEntry& entry : drivers) {
      DriverResult found{entry.file_name, entry.title, entry.description, entry.version, {}, {}};
      for (std::size_t i = 0; i < entry.speed_names.size() && i < entry.speed_count; ++i)
        found.speeds.push_back(entry.speed_names[i]);
      for (const CommTypeNameRow& row : CommTypesOf(entry.comm_types)) found.comm_types.push_back(row.name);
      record_.results.drivers->push_back(std::move(found));
      std::string speeds;
      for (std::size_t i = 0; i < entry.speed_names.size() && i < entry.speed_count; ++i)
        speeds += (i ? ", " : "") + entry.speed_names[i];
      std::string types;
      for (const CommTypeNameRow& row : CommTypesOf(entry.comm_types))
        types += (types.empty() ? "" : ", ") + std::string(row.name);
      std::string text = entry.title + "\n";
      text += "  description: " + entry.description + "\n";
      text += "  version: " + entry.version + "\n";
      text += "  speeds: " + (speeds.empty() ? std::string("none") : speeds) + "\n";
      text += "  communication types: " + (types.empty() ? std::string("none") : types) + "\n";
      frontend_.PrintResult(text);
    }
    return kExitSucceeded;
  }

  // The options that stand in for values of the configuration, put on the
  // pages as the user would type them; the file itself is never written.
  void ApplyConfigurationOverrides(TargetPages& pages) const {
    if (file_) {
      if (options_.command == CliCommand::kUpload)
        pages.program.upload_file = *file_;
      else
        pages.program.program_file = *file_;
    }
    if (options_.format) pages.program.format = *options_.format;
    if (options_.first_sector) pages.flash.sector_from = *options_.first_sector;
    if (options_.last_sector) pages.flash.sector_to = *options_.last_sector;
    if (options_.auto_erase) pages.program.auto_erase = *options_.auto_erase;
    if (options_.auto_verify) pages.program.auto_verify = *options_.auto_verify;
  }

  bool Enter(Workbench& workbench) {
    switch (options_.command) {
      case CliCommand::kBlankCheck:
        return workbench.OnBlankCheck();
      case CliCommand::kChecksum:
        return workbench.OnChecksum();
      case CliCommand::kErase:
        return workbench.OnErase();
      case CliCommand::kProgram:
        return workbench.OnProgram();
      case CliCommand::kVerify:
        return workbench.OnVerify();
      case CliCommand::kProtect:
      case CliCommand::kCheckBlock:  // protect is the check block of a "(Nand)" CPU
        return workbench.OnProtect();
      case CliCommand::kUpload:
        return workbench.OnUpload();
      case CliCommand::kTargetTest:
        return workbench.StartTargetTest();
      default:
        return false;
    }
  }

  // "-f -": standard input into a file of the run's private directory
  // before the command starts, so the program file's checks see all of it
  // before the first erase; for upload, the file that goes to standard
  // output when the command ends.
  bool PrepareStandardStream(const std::string& format) {
    std::string error;
    if (!private_.Create(error)) {
      Usage(error);
      return false;
    }
    if (WritesStandardOutput(options_)) {
      file_ = (private_.path() / "upload.bin").string();
      return true;
    }
    const std::string name = format == "Intel Hex"    ? "standard-input.hex"
                             : format == kImageFormat ? "standard-input.image"
                                                      : "standard-input.bin";
    file_ = (private_.path() / name).string();
    if (!CopyDescriptorToNewFile(fileno(streams_.in), *file_, kMaxStandardInputBytes, error)) {
      Usage(error);
      return false;
    }
    std::error_code size_error;
    if (std::filesystem::file_size(*file_, size_error) == 0 && !size_error) {
      // Nothing came: a pipe whose writer failed. Nothing to check it
      // against and nothing to do.
      Usage("standard input is empty: no program file");
      return false;
    }
    return true;
  }

  // The upload read from the target onto standard output (what was read,
  // also when the command did not complete).
  int SendUpload(int status) {
    std::error_code missing;
    if (!file_ || !std::filesystem::is_regular_file(*file_, missing)) return status;
    std::fflush(streams_.out);
    std::string error;
    if (!CopyFileToDescriptor(*file_, fileno(streams_.out), error)) {
      Usage(error);
      return status == kExitSucceeded ? kExitFailed : status;
    }
    return status;
  }

  int RunTargetCommand() {
    Workbench workbench(frontend_, Settings());
    workbench.log().SetLineTap([this](const std::string& text, bool error, bool label) {
      frontend_.PrintLine(text, error, label, TakeResultLine(text, record_.results));
    });
    int status = RunOn(workbench);
    if (WritesStandardOutput(options_)) status = SendUpload(status);
    Describe(workbench, status);
    return status;
  }

  // The target, the sectors and the bytes of the record.
  void Describe(Workbench& workbench, int status) {
    const TargetConfig& c = workbench.config();
    const ProgramSettings& s = workbench.settings();
    RunTarget& t = record_.target;
    t = {*options_.config, c.cpu_chip, c.cpu_vendor, c.flash_chip, c.flash_vendor, s.remote.device,
         s.remote.parallel, {}};
    if (const char* board = std::getenv("ROMSMITH_BOARD"); board && *board) {
      t.board = board;
    } else {
      const std::filesystem::path beside = std::filesystem::path(s.port_driver_directory) / "board.ini";
      std::error_code missing;
      if (std::filesystem::is_regular_file(beside, missing)) t.board = beside.string();
    }
    if (record_.file.empty()) {
      if (options_.command == CliCommand::kUpload) record_.file = c.upload_file;
      if (options_.command == CliCommand::kProgram || options_.command == CliCommand::kVerify)
        record_.file = c.program_file;
    }
    if (!WorksOnSectors(options_.command) || !started_command_) return;
    const std::vector<std::int32_t>& sizes = workbench.pages().flash.current.sector_sizes;
    const std::int64_t chips = std::max(c.chips_per_sector, 1);
    std::int32_t first = c.start_sector;
    std::int32_t last = c.end_sector;
    std::uint64_t selected = 0;
    for (std::int32_t k = std::max(c.start_sector, 0); k <= c.end_sector && k < static_cast<std::int32_t>(sizes.size()); ++k)
      selected += static_cast<std::uint64_t>(sizes[static_cast<std::size_t>(k)]) * chips;
    std::uint64_t total = 0;
    switch (options_.command) {
      case CliCommand::kBlankCheck:
      case CliCommand::kChecksum:
      case CliCommand::kUpload:
        total = selected;
        break;
      case CliCommand::kProgram:
      case CliCommand::kVerify: {
        if (c.UsesAddressImage()) {
          // An image places its own bytes: the sectors are those from its
          // lowest address to its highest (it leaves untouched ones between
          // alone).
          const ImageExtent image = ImageExtentOf(c.program_file);
          total = image.bytes;
          if (total == 0 || image.low < c.flash_address) break;
          std::uint64_t start = c.flash_address;
          std::int32_t k = 0;
          for (; k < static_cast<std::int32_t>(sizes.size()); ++k) {
            const std::uint64_t end =
                start + static_cast<std::uint64_t>(sizes[static_cast<std::size_t>(k)]) * chips;
            if (image.low < end && image.low >= start) first = k;
            if (image.high <= end) break;
            start = end;
          }
          if (k < static_cast<std::int32_t>(sizes.size())) last = k;
          break;
        }
        // A HEX file is measured by converting it again, only once the
        // command has shown that it converts.
        const bool hex = c.format == "Intel Hex";
        total = hex && status != kExitSucceeded ? 0 : std::min(ProgramFileBytes(workbench), selected);
        if (options_.command == CliCommand::kVerify || c.auto_erase == 0) {
          // The sectors the file reaches.
          std::uint64_t end = 0;
          last = c.start_sector;
          for (std::int32_t k = std::max(c.start_sector, 0); k <= c.end_sector && k < static_cast<std::int32_t>(sizes.size()); ++k) {
            last = k;
            end += static_cast<std::uint64_t>(sizes[static_cast<std::size_t>(k)]) * chips;
            if (end >= total) break;
          }
        }
        break;
      }
      default:
        break;
    }
    record_.sectors = std::make_pair(first + 1, last + 1);
    record_.bytes = status == kExitSucceeded
                        ? total
                        : static_cast<std::uint64_t>(static_cast<double>(total) * frontend_.ProgressReached());
  }

  // The length of the program file as the command wrote or compared it: an
  // Intel HEX file as the flat binary it converts to.
  std::uint64_t ProgramFileBytes(Workbench& workbench) {
    const TargetConfig& c = workbench.config();
    const bool hex = c.format == "Intel Hex";
    std::string why;
    if (hex && private_.path().empty() && !private_.Create(why)) return 0;
    return ProgramFileLength(c.program_file, hex, private_.path());
  }

  int RunOn(Workbench& workbench) {

    // As the desktop program starts: settings, log file, databases, then
    // the configuration shown on the pages.
    if (!workbench.Start({StartOptions::LogFile::kCreateWhenLogging, true, false, false}))
      return Usage("the settings could not be loaded");
    TargetPages& pages = workbench.pages();
    if (!workbench.document().Load(*options_.config))
      return Usage("target configuration '" + *options_.config + "' could not be loaded");
    file_ = options_.file;
    if (options_.file && *options_.file == kStandardStream &&
        !PrepareStandardStream(options_.format.value_or(pages.program.format)))
      return kExitUsage;
    ApplyConfigurationOverrides(pages);

    if (options_.command == CliCommand::kReadRegisters) return ReadRegisters(workbench);
    if (options_.command == CliCommand::kCheckBlock && !workbench.config().UsesNandCommands())
      return Usage("check-block needs a CPU whose name holds \"(Nand)\", not '" + workbench.config().cpu_chip + "'");

    if ((options_.command == CliCommand::kBlankCheck || options_.command == CliCommand::kChecksum) &&
        workbench.config().UsesNandCommands())
      // As the window, which offers neither for such a CPU: read over the
      // NAND loader, a blank check or a checksum would mean nothing.
      return Usage(options_.command_name + " is not available for CPU '" + workbench.config().cpu_chip +
                   "': its flash is a NAND device; use upload or verify instead");

    if (!Enter(workbench)) return kExitUsage;  // it logged why nothing started
    started_command_ = true;
    const int status = WaitForOutcome(workbench);
    if (workbench.last_report().result.cancelled)
      // The user's answer to the overwrite question: a stop, not a failure.
      Line("Info: upload cancelled, " + workbench.config().upload_file + " is kept.\n", false);
    if (status == kExitSucceeded && workbench.last_report().code == CommandCode::kNandCheckBlock)
      PrintBadBlocks(workbench);
    return status;
  }

  // What a check block found, in sector numbers as -s counts them.
  void PrintBadBlocks(const Workbench& workbench) {
    const TargetConfig& c = workbench.config();
    const BadBlockSummary summary = SummarizeBadBlocks(c.start_sector, c.end_sector, workbench.bad_block_table());
    record_.results.bad_blocks.emplace(summary.bad_sectors.begin(), summary.bad_sectors.end());
    frontend_.PrintResult(summary.Text() + "\n");
  }

  // Waits for the running command, turning Ctrl-C into its stop request:
  // the wait ends the moment the command does, and looks at the interrupt
  // count (a signal cannot wake a condition) every kInterruptCheck
  // meanwhile, so a stop reaches even a command of a few milliseconds.
  int WaitForOutcome(Workbench& workbench) {
    static constexpr std::chrono::milliseconds kInterruptCheck{10};
    bool stop_sent = false;
    while (!workbench.WaitForCompletion(kInterruptCheck)) {
      if (!stop_sent && InterruptCount() > 0) {
        workbench.RequestStop();
        stop_sent = true;
      }
    }
    workbench.WaitForCommand();
    return ExitStatus(workbench.outcome());
  }

  static int ExitStatus(CommandOutcome outcome) {
    switch (outcome) {
      case CommandOutcome::kSucceeded:
        return kExitSucceeded;
      case CommandOutcome::kStopped:
        return kExitStopped;
      default:
        return kExitFailed;
    }
  }

  int ReadRegisters(Workbench& workbench) {
    if (!workbench.RegisterRead()) {
      // No CPU in the configuration is a set-up error.
      return workbench.config().cpu_chip.empty() ? kExitUsage : kExitFailed;
    }
    const int status = WaitForOutcome(workbench);
    if (status != kExitSucceeded) return status;
    workbench.ApplyRegisterRead(workbench.last_report());
    const CpuPage& cpu = workbench.pages().cpu;
    std::string text;
    std::vector<RegisterValueResult>& rows = record_.results.registers.emplace();
    for (std::size_t i = 0; i < cpu.shown_register_count(); ++i) {
      const CpuRegister& row = cpu.current.registers[i];
      char value[16];
      std::snprintf(value, sizeof value, "0x%08X", row.value);
      text += row.name + " = " + value + "\n";
      rows.push_back({row.name, row.value});
    }
    frontend_.PrintResult(text);
    return kExitSucceeded;
  }

  const CliOptions& options_;
  const TerminalStreams streams_;
  std::chrono::steady_clock::time_point started_;
  RunRecord record_;
  std::vector<PrintedLine> usage_lines_;
  // The program or upload file the command uses (a file of private_ for
  // "-f -").
  std::optional<std::string> file_;
  PrivateDirectory private_;
  bool started_command_ = false;
  TerminalFrontend frontend_;
  platform::ScopedMessageHandler boxes_;
};

}  // namespace

int RunCli(const CliOptions& options, const TerminalStreams& streams) {
  return Run(options, streams).Execute();
}

}  // namespace romsmith
