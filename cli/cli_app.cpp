#include "cli/cli_app.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>

#include "cli/interrupt.h"
#include "operations/workbench.h"
#include "platform/message_box.h"
#include "platform/paths.h"
#include "target_data/comm_types.h"
#include "target_data/program_settings.h"

namespace romsmith {
namespace {

class Run {
 public:
  Run(const CliOptions& options, const TerminalStreams& streams)
      : options_(options),
        streams_(streams),
        frontend_(options.verbosity, options.answers, streams),
        // Boxes from any layer (settings, databases, files) reach the user
        // as the Workbench's own questions do.
        boxes_([this](const platform::MessageRequest& request) { return frontend_.Ask(request); }) {}

  int Execute() {
    const int setup = SetUpEnvironment();
    if (setup != kExitSucceeded) return setup;
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

 private:
  int Usage(const std::string& text) {
    std::fprintf(streams_.err, "romsmith-cli: %s\n", text.c_str());
    std::fflush(streams_.err);
    return kExitUsage;
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

  // The conversions need no settings: they run on the Workbench's worker
  // under the program directory's lock, as every command does.
  int Convert(FileJob job) {
    Workbench workbench(frontend_, Settings());
    PrintLines(workbench);
    if (!workbench.RunFileJob(job, options_.files[0], options_.files[1])) return kExitFailed;
    return WaitForOutcome(workbench);
  }

  // Every line the Workbench logs is printed as it is logged.
  void PrintLines(Workbench& workbench) {
    workbench.log().SetLineTap([this](const std::string& text, bool error, bool label) {
      frontend_.PrintLine(text, error, label);
    });
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
    if (drivers.empty()) {
      Line("Info: no driver modules found in " + directory + "\n", false);
      return kExitSucceeded;
    }
    for (const DriverEntry& entry : drivers) {
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
      std::fputs(text.c_str(), streams_.out);
    }
    std::fflush(streams_.out);
    return kExitSucceeded;
  }

  // The options that stand in for values of the configuration, put on the
  // pages as the user would type them; the file itself is never written.
  void ApplyConfigurationOverrides(TargetPages& pages) const {
    if (options_.file) {
      if (options_.command == CliCommand::kUpload)
        pages.program.upload_file = *options_.file;
      else
        pages.program.program_file = *options_.file;
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

  int RunTargetCommand() {
    Workbench workbench(frontend_, Settings());
    PrintLines(workbench);

    // As the desktop program starts: settings, log file, databases, then
    // the configuration shown on the pages.
    if (!workbench.Start({StartOptions::LogFile::kCreateWhenLogging, true}))
      return Usage("the settings could not be loaded");
    TargetPages& pages = workbench.pages();
    if (!workbench.document().Load(*options_.config))
      return Usage("target configuration '" + *options_.config + "' could not be loaded");
    ApplyConfigurationOverrides(pages);

    if (options_.command == CliCommand::kReadRegisters) return ReadRegisters(workbench);
    if (options_.command == CliCommand::kCheckBlock && !workbench.config().UsesNandCommands())
      return Usage("check-block needs a CPU whose name holds \"(Nand)\", not '" + workbench.config().cpu_chip + "'");

    if (!Enter(workbench)) return kExitUsage;  // it logged why nothing started
    const int status = WaitForOutcome(workbench);
    if (status == kExitSucceeded && workbench.last_report().code == CommandCode::kNandCheckBlock)
      PrintBadBlocks(workbench);
    return status;
  }

  // What a check block found, in sector numbers as -s counts them.
  void PrintBadBlocks(const Workbench& workbench) {
    const TargetConfig& c = workbench.config();
    std::string found;
    for (std::int32_t b = std::max(c.start_sector, 0);
         b <= c.end_sector && b < static_cast<std::int32_t>(kBadBlockTableSize); ++b) {
      if (workbench.bad_block_table()[static_cast<std::size_t>(b)] != 1) continue;
      found += (found.empty() ? " " : ", ") + std::to_string(b + 1);
    }
    const std::string text = "Bad blocks in sectors " + std::to_string(c.start_sector + 1) + "-" +
                             std::to_string(c.end_sector + 1) + ":" +
                             (found.empty() ? std::string(" none") : found) + "\n";
    std::fputs(text.c_str(), streams_.out);
    std::fflush(streams_.out);
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
    for (std::size_t i = 0; i < cpu.shown_register_count(); ++i) {
      const CpuRegister& row = cpu.current.registers[i];
      char value[16];
      std::snprintf(value, sizeof value, "0x%08X", row.value);
      text += row.name + " = " + value + "\n";
    }
    std::fputs(text.c_str(), streams_.out);
    std::fflush(streams_.out);
    return kExitSucceeded;
  }

  const CliOptions& options_;
  const TerminalStreams streams_;
  TerminalFrontend frontend_;
  platform::ScopedMessageHandler boxes_;
};

}  // namespace

int RunCli(const CliOptions& options, const TerminalStreams& streams) {
  return Run(options, streams).Execute();
}

}  // namespace romsmith
