#include "operations/workbench.h"

#include <unistd.h>

#include <filesystem>
#include <system_error>
#include <utility>

#include "driver_host/driver_binding.h"
#include "formats/data_file.h"
#include "formats/intel_hex.h"
#include "operations/command_bodies.h"
#include "operations/file_checks.h"
#include "operations/image_program.h"
#include "operations/driver_link.h"
#include "operations/loader_job.h"
#include "platform/directory_lock.h"
#include "platform/message_box.h"
#include "platform/paths.h"
#include "target_data/cpu_database.h"
#include "target_data/flash_database.h"
#include "target_data/profile_store.h"
#include "target_data/settings_schema.h"

namespace romsmith {

// The front end as the worker sees it: every call passes through, except
// that once the owner asked to close, questions get their default answer
// without reaching the user.
class Workbench::WorkerFrontend : public Frontend {
 public:
  WorkerFrontend(Frontend& frontend, const std::atomic<bool>& closing)
      : frontend_(frontend), closing_(closing) {}

  void SetProgressRange(int low, int high) override { frontend_.SetProgressRange(low, high); }
  void SetProgressPosition(int position) override { frontend_.SetProgressPosition(position); }
  void StepProgress() override { frontend_.StepProgress(); }
  void StartAnimation() override { frontend_.StartAnimation(); }
  void StopAnimation() override { frontend_.StopAnimation(); }
  void ShowStatusLine(const std::string& text, bool error, bool blink) override {
    frontend_.ShowStatusLine(text, error, blink);
  }
  void SetCommandControls(bool enable, bool stoppable) override {
    frontend_.SetCommandControls(enable, stoppable);
  }
  platform::MessageAnswer Ask(const platform::MessageRequest& request) override {
    if (closing_.load()) return platform::DefaultAnswer(request.buttons);
    return frontend_.Ask(request);
  }

 private:
  Frontend& frontend_;
  const std::atomic<bool>& closing_;
};

Workbench::Workbench(Frontend& frontend) : Workbench(frontend, SettingsStore()) {}

Workbench::Workbench(Frontend& frontend, SettingsStore settings)
    : frontend_(frontend),
      worker_frontend_(std::make_unique<WorkerFrontend>(frontend, closing_)),
      log_(&frontend),
      settings_(std::move(settings)) {
  command_set_loader_ = [](const FlashDevice& device, CommandSet& set) {
    return LoadCommandSet(platform::ProgramDirectory(), device.command_type, set);
  };
  link_ = std::make_unique<DriverLink>(log_);
}

Workbench::~Workbench() {
  if (IsBusy()) closing_ = true;
  RequestStop();
  WaitForCommand();
}

void Workbench::SetTargetLink(std::unique_ptr<TargetLink> link) { link_ = std::move(link); }

// ---------------------------------------------------------------- start-up

bool Workbench::LoadSettings() {
  if (!settings_.Load()) return false;
  // A value that is not one of its setting's values was replaced by the
  // default; the user hears of it once.
  for (const std::string& line : settings_.TakeWarnings()) log_.Info(line);
  return true;
}

bool Workbench::Start(const StartOptions& options) {
  // The recent file list lives in the profile with the user options.
  if (options.read_recent_files)
    document_.recent_files().Read(ProfileStore(settings_.profile_path()));
  const bool loaded = LoadSettings();
  if (loaded) {
    log_.SetLogToFile(settings().log_to_file != 0);
    switch (options.log_file) {
      case StartOptions::LogFile::kCreate:
        log_.OpenLogFile();
        break;
      case StartOptions::LogFile::kCreateWhenLogging:
        if (log_.log_to_file()) log_.OpenLogFile();
        break;
      case StartOptions::LogFile::kNone:
        break;
    }
  }
  if (options.load_databases && (loaded || options.databases_without_settings)) {
    pages_.cpu.database = LoadCpuDatabase(platform::ProgramDirectory());
    pages_.flash.database = LoadFlashDatabase(platform::ProgramDirectory());
  }
  return loaded;
}

bool Workbench::ChangeConnection(const RemoteSettings& remote) {
  if (IsBusy()) return false;
  settings_.values().remote = remote;
  return settings_.SaveRemoteSettings();
}

bool Workbench::ChangeOptions(const ProgramSettings& options) {
  if (IsBusy()) return false;
  ProgramSettings& values = settings_.values();
  for (const SettingRow& row : SettingRows()) {
    if (row.store != SettingStore::kProfile) continue;
    if (IsNumberSetting(row))
      SetStoredNumber(row, StoredNumber(row, options), values);
    else
      TextMember(row, values) = TextMember(row, options);
  }
  const bool saved = settings_.SaveOptions();
  // The log file is written from now on only when it could be opened.
  if (log_.file_open()) log_.SetLogToFile(values.log_to_file != 0);
  return saved;
}

bool Workbench::SaveRecentFiles() {
  ProfileStore profile(settings_.profile_path());
  document_.recent_files().Write(profile);
  return profile.Save();
}

std::vector<DriverEntry> Workbench::Drivers() const {
  return DiscoverDrivers(settings().driver_module_directory);
}

// ---------------------------------------------------------------- entries

std::shared_ptr<CommandSnapshot> Workbench::TakeSnapshot(Command command) {
  document_.TakeFromPages();
  auto snapshot = std::make_shared<CommandSnapshot>();
  if (command == Command::kRegisterRead) {
    // Only the CPU matters: its rows are what is read.
    if (config().cpu_vendor.empty() || config().cpu_chip.empty()) {
      log_.Error("Error: you must select CPU.\n");
      return nullptr;
    }
    log_.Info("Info: start register read...\n");
    if (!LoadSettings()) return nullptr;
    snapshot->code = CommandCode::kRegisterRead;
    snapshot->cpu = pages_.cpu.current;
  } else {
    if (!document_.Validate([this](const std::string& line) { log_.Error(line); }))
      return nullptr;
    if (!LoadSettings()) return nullptr;
    snapshot->cpu = document_.selected_cpu();
    snapshot->flash = document_.selected_flash();
    const bool nand = config().UsesNandCommands();
    struct Entry {
      CommandCode first;
      CommandCode second;
      bool loads_command_set;
    };
    static constexpr Entry kEntries[] = {
        {CommandCode::kBlankCheck, CommandCode::kBlankCheck, false},
        {CommandCode::kChecksum, CommandCode::kChecksum, false},
        {CommandCode::kErase, CommandCode::kNandErase, true},
        {CommandCode::kProgram, CommandCode::kNandProgram, true},
        {CommandCode::kProtect, CommandCode::kNandCheckBlock, true},
        {CommandCode::kUpload, CommandCode::kNandUpload, false},
        {CommandCode::kVerify, CommandCode::kNandVerify, false},
        {CommandCode::kTargetTest, CommandCode::kNandTargetTest, true},
    };
    const Entry& entry = kEntries[static_cast<std::size_t>(command)];
    snapshot->code = nand ? entry.second : entry.first;
    if (entry.loads_command_set && command_set_loader_) {
      // A failed load has shown its message box; the sequences it could not
      // read stay empty and the body says what it cannot do.
      command_set_loader_(snapshot->flash, snapshot->command_set);
    }
    if (command == Command::kTargetTest) {
      log_.Info("Info: start target test...\n");
      snapshot->target_test = true;
    }
  }
  snapshot->config = config();
  // A set-up error, said before anything is done on the target; the target
  // test's board checks need no loader, its device code says so when it
  // comes to it.
  if (!snapshot->target_test && !CheckLoaderNamed(*snapshot, log_)) return nullptr;
  if (!CheckImageFormatAllowed(*snapshot, log_)) return nullptr;
  snapshot->settings = settings();
  snapshot->bad_blocks = bad_block_table_;
  snapshot->checked_blocks = checked_block_table_;
  return snapshot;
}

bool Workbench::RunCommand(Command command) {
  if (IsBusy()) return false;
  WaitForCommand();  // releases the thread of the command that ended last
  std::shared_ptr<CommandSnapshot> snapshot = TakeSnapshot(command);
  if (!snapshot) return false;
  return StartWorker(std::move(snapshot));
}

bool Workbench::StartWorker(std::shared_ptr<CommandSnapshot> snapshot) {
  snapshot_ = std::move(snapshot);
  if (link_) link_->PrepareCommand(snapshot_->settings, snapshot_->config);
  return LaunchWorker(snapshot_->code, [this, snapshot = snapshot_] { Worker(snapshot); });
}

bool Workbench::LaunchWorker(CommandCode code, std::function<void()> work) {
  last_code_ = code;
  stop_event_ = std::make_shared<platform::Event>();
  closing_ = false;
  outcome_ = CommandOutcome::kNone;
  log_.ResetErrorCount();
  // A command started from the completion callback runs while the thread
  // that called it ends by itself.
  if (worker_.joinable()) worker_.detach();
  // The busy marker is set before the worker exists, so the worker's own
  // clearing at its end can never come first.
  busy_ = true;
  try {
    worker_ = std::thread(std::move(work));
  } catch (const std::system_error&) {
    busy_ = false;
    log_.Error("Error: cannot start the command thread.\n");
    outcome_ = CommandOutcome::kFailed;
    return false;
  }
  return true;
}

void Workbench::ApplyRegisterRead(const CommandReport& report) {
  if (report.code != CommandCode::kRegisterRead) return;
  std::vector<CpuRegister>& rows = pages_.cpu.current.registers;
  for (std::size_t i = 0; i < rows.size() && i < report.result.registers.size(); ++i)
    if (rows[i].address == report.result.registers[i].address)
      rows[i].value = report.result.registers[i].value;
}

void Workbench::WaitForCommand() {
  if (worker_.joinable() && worker_.get_id() != std::this_thread::get_id()) worker_.join();
}

bool Workbench::WaitForCompletion(std::chrono::milliseconds timeout) {
  std::unique_lock lock(idle_mutex_);
  return idle_.wait_for(lock, timeout, [this] { return !busy_.load(); });
}

bool Workbench::OnCloseOrStop() {
  if (IsBusy()) {
    RequestStop();
    return false;
  }
  return document_.ConfirmDiscard();
}

bool Workbench::RequestClose() {
  if (IsBusy()) {
    closing_ = true;
    RequestStop();
    return false;
  }
  return document_.ConfirmDiscard();
}

void Workbench::RequestStop() {
  if (!IsBusy() || !stop_event_) return;
  stop_event_->Set();
  // A driver may be inside a wait of its own (a halt, a reset, a probe's
  // ready bit) that would not look at the stop event for seconds.
  if (link_) link_->CancelWaits();
}

void Workbench::SetCompletionCallback(CompletionCallback callback) {
  std::lock_guard lock(report_mutex_);
  completion_ = std::move(callback);
}

CommandReport Workbench::last_report() const {
  std::lock_guard lock(report_mutex_);
  return last_report_;
}

// ---------------------------------------------------------------- worker

void Workbench::Publish(CommandCode code, const CommandResult& body_result) {
  CommandResult result = body_result;
  // A command that reported an error did not succeed, whatever its last
  // line says: both front ends show this one outcome.
  if (result.outcome == CommandOutcome::kSucceeded && log_.error_count() > 0)
    result.outcome = CommandOutcome::kFailed;
  if (result.bad_blocks) bad_block_table_ = *result.bad_blocks;
  if (result.checked_blocks) checked_block_table_ = *result.checked_blocks;
  {
    std::lock_guard lock(report_mutex_);
    last_report_ = {code, result};
  }
  outcome_ = result.outcome;
}

CommandResult Workbench::RunOnTarget(const CommandContext& context) {
  const CommandCode code = context.job.code;
  if (code != CommandCode::kRegisterRead && !InitializeBoard(context)) {
    // A stop ends the initialisation at its next wait; it is no failure of
    // the board.
    if (context.StopRequested()) {
      log_.Info(UserStopLine(code));
      return {CommandOutcome::kStopped, false, std::nullopt, {}};
    }
    log_.Error(context.job.target_test ? "Error: target board test failed.\n"
                                       : "Error: initialize taget board failed.\n");
    // A module for the other core connects but cannot halt it.
    if (const std::string mismatch = context.link.CoreMismatchLine(); !mismatch.empty())
      log_.Error(mismatch);
    return {CommandOutcome::kFailed, false, std::nullopt, {}};
  }
  const CommandBody body = BodyFor(code);
  return body ? body(context) : CommandResult{};
}

void Workbench::Worker(std::shared_ptr<const CommandSnapshot> snapshot) {
  // Boxes from the layers the body calls reach the user as its own
  // questions do.
  platform::ScopedThreadMessageHandler boxes(
      [this](const platform::MessageRequest& request) { return worker_frontend_->Ask(request); });
  const std::shared_ptr<const platform::Event> stop_event = stop_event_;
  const platform::Event& stop = *stop_event;
  CommandResult result;
  bool published = false;
  platform::DirectoryLock lock;
  if (!LockProgramDirectory(lock, stop, snapshot->code, result)) {
    // The wait ended; it said why.
  } else if (!link_) {
    log_.Error("Error: unable to load emulator module.\n");
  } else if (!link_->BindDriver()) {
    // A stop during connect ends the bind without a failure of its own.
    if (stop.IsSet()) {
      log_.Info(UserStopLine(snapshot->code));
      result.outcome = CommandOutcome::kStopped;
    }
  } else {
    frontend_.SetCommandControls(false, true);
    const CommandContext context{*link_, log_, *worker_frontend_, *snapshot, stop,
                                 poll_interval_};
    result = RunOnTarget(context);
    // The outcome is in place before the controls come back, so whatever
    // reacts to them sees it.
    Publish(snapshot->code, result);
    published = true;
    frontend_.SetCommandControls(true, true);
    link_->UnbindDriver();
  }
  if (!published) Publish(snapshot->code, result);
  lock.Release();
  EndWorker();
}

bool Workbench::LockProgramDirectory(platform::DirectoryLock& lock, const platform::Event& stop,
                                     CommandCode code, CommandResult& result) {
  // Two runs on one program directory share its temporary copies; the second
  // waits for the first, and a stop ends the wait.
  bool locked = lock.Acquire(platform::ProgramDirectory(), std::chrono::milliseconds(0));
  if (!locked && ::access(platform::ProgramDirectory().c_str(), W_OK) != 0) {
    // No lock file can be made: waiting would never end.
    log_.Error("Error: program directory " + platform::ProgramDirectoryText() +
               " is not writable, command not run.\n");
    return false;
  }
  if (!locked) {
    log_.Info("Info: another command is using the program directory, waiting...\n");
    const auto start = std::chrono::steady_clock::now();
    while (!locked && !stop.IsSet() && std::chrono::steady_clock::now() - start < lock_timeout_)
      locked = lock.Acquire(platform::ProgramDirectory(), std::chrono::milliseconds(100));
  }
  if (locked) {
    // Holding the lock, no other run of this directory is alive: what a
    // killed run left behind can go.
    RemoveStaleTemporaries();
    return true;
  }
  if (stop.IsSet()) {
    log_.Info(UserStopLine(code));
    result.outcome = CommandOutcome::kStopped;
  } else {
    log_.Error("Error: program directory is busy, command not run.\n");
  }
  return false;
}

void Workbench::EndWorker() {
  CompletionCallback completion;
  {
    std::lock_guard guard(report_mutex_);
    completion = completion_;
  }
  const CommandReport report = last_report();
  {
    std::lock_guard idle(idle_mutex_);
    busy_ = false;
  }
  idle_.notify_all();
  if (completion) completion(report);
}

// ---------------------------------------------------------------- host jobs

bool Workbench::StartHostJob(std::function<CommandOutcome()> job, bool locks_directory) {
  if (IsBusy()) return false;
  WaitForCommand();
  return LaunchWorker(CommandCode::kNone, [this, job = std::move(job), locks_directory] {
    HostWorker(job, locks_directory);
  });
}

void Workbench::HostWorker(std::function<CommandOutcome()> job, bool locks_directory) {
  platform::ScopedThreadMessageHandler boxes(
      [this](const platform::MessageRequest& request) { return worker_frontend_->Ask(request); });
  const std::shared_ptr<const platform::Event> stop = stop_event_;
  CommandResult result;
  platform::DirectoryLock lock;
  if (!locks_directory || LockProgramDirectory(lock, *stop, CommandCode::kNone, result)) {
    result.outcome = job();
    result.completed = result.outcome == CommandOutcome::kSucceeded;
  }
  Publish(CommandCode::kNone, result);
  lock.Release();
  EndWorker();
}

bool Workbench::RunDataFileMaintenance(const std::string& password, bool scramble) {
  const std::string directory = platform::ProgramDirectoryText();
  return StartHostJob(
      [password, scramble, directory] {
        const MaintenanceResult done = romsmith::RunDataFileMaintenance(
            password, scramble ? MaintenanceAction::Scramble : MaintenanceAction::Unscramble,
            directory);
        // Each failed pair has shown its box; a wrong password does nothing.
        return done.password_accepted && done.pairs_failed == 0 ? CommandOutcome::kSucceeded
                                                                : CommandOutcome::kFailed;
      },
      true);
}

bool Workbench::RunFileJob(FileJob job, const std::string& in, const std::string& out) {
  struct JobRow {
    const char* name;
    bool (*convert)(const std::string&, const std::string&);
  };
  static constexpr JobRow kJobs[] = {
      {"hex2bin", nullptr}, {"encode", EncodeDataFile}, {"decode", DecodeDataFile}};
  const JobRow& row = kJobs[static_cast<std::size_t>(job)];
  return StartHostJob(
      [this, row, in, out] {
        // The conversion writes beside OUT and replaces it only when it is
        // complete, so a failed one leaves an existing OUT as it was.
        std::error_code error;
        const bool beside =
            !std::filesystem::exists(out, error) || std::filesystem::is_regular_file(out, error);
        const bool same = std::filesystem::equivalent(in, out, error);
        const std::string part = beside && !same ? SiblingPartPath(out).string() : out;
        // Whatever an earlier run or someone else left under the part name
        // (a link, too) goes first.
        if (part != out) RemovePart(part);
        bool converted = false;
        if (row.convert) {
          converted = row.convert(in, part);
        } else {
          // HEX conversion, with a warning line for each kind of damage.
          HexConversionReport report;
          converted = HexToBinary(in, part, HexConversionOptions{}, report);
          for (const std::string& line : HexWarningLines(report)) log_.Info(line);
        }
        if (part != out) {
          if (converted) std::filesystem::rename(part, out, error);
          converted = converted && !error;
          RemovePart(part);
        }
        const std::string what = std::string(row.name) + " " + in + " " + out;
        if (!converted) {
          log_.Error("Error: " + what + " failed.\n");
          return CommandOutcome::kFailed;
        }
        log_.Info("Info: " + what + " done.\n");
        return CommandOutcome::kSucceeded;
      },
      false);
}

}  // namespace romsmith
