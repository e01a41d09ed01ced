// The Workbench: the core object that the desktop window and the command line
// each own. It holds what the user edits (the target pages and their
// configuration, the settings) and runs one command at a time on a worker
// thread of its own: the entry checks, the directory lock, binding the
// driver, the board initialisation, then the command's body (a plain
// function, see command_bodies.h) over a snapshot of the configuration
// taken when the command started. It reports through the MessageLog and
// reaches the user only through a Frontend.
//
// Threads. Everything here is called on the owner's thread (the window's, or
// the command line's main thread) except where said. While a command runs,
// the owner may read and change the pages, the document and the settings:
// the command works on its own copies. The worker calls the Frontend for
// progress, status lines, controls and questions; every message box that a
// layer below raises on the worker (platform::ShowMessage) goes through the
// same Frontend::Ask, never to the process-wide handler directly.
//
// Use (a window):
//
//   Workbench bench(frontend);
//   bench.SetCompletionCallback([&](const CommandReport& report) {
//     // worker thread, the command no longer busy: hand over to the window
//     // without waiting for it (a queued call), then enable the buttons,
//     // show a register read, or start the next command from there.
//   });
//   if (!bench.Start()) ...;                 // settings, log file, databases
//   bench.RunCommand(Command::kProgram);     // a button
//   bench.OnCloseOrStop();                   // the Close/Stop button
//   if (bench.RequestClose()) close();       // else close on completion
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "driver_host/driver_entry.h"
#include "operations/command_context.h"
#include "operations/target_link.h"
#include "platform/directory_lock.h"
#include "platform/event.h"
#include "reporting/frontend.h"
#include "reporting/message_log.h"
#include "target_data/program_settings.h"
#include "target_data/target_document.h"
#include "target_data/target_pages.h"

namespace romsmith {

// The user's commands, one a button. Erase, Program, Protect, Upload, Verify
// and the target test take their second-family code when the CPU name holds
// "(Nand)".
enum class Command {
  kBlankCheck,
  kChecksum,
  kErase,
  kProgram,
  kProtect,
  kUpload,
  kVerify,
  kTargetTest,
  kRegisterRead,
};

// The file jobs of the tools (the command line's hex2bin, encode, decode).
enum class FileJob { kHexToBinary, kEncode, kDecode };

// What Start does besides loading the settings.
struct StartOptions {
  enum class LogFile {
    kCreate,             // "Info.log" made anew, as the desktop program does
    kCreateWhenLogging,  // only when the "Log" option is on
    kNone,
  };
  LogFile log_file = LogFile::kCreate;
  // The CPU and flash device databases onto the pages (also when the
  // settings could not be read: they do not depend on them).
  bool load_databases = true;
  // The recent file list of the user profile into the document.
  bool read_recent_files = false;
  // The databases also when the settings could not be read (the window
  // shows its pages all the same; a command line run ends there).
  bool databases_without_settings = true;
};

class Workbench {
 public:
  using CommandSetLoader = std::function<bool(const FlashDevice& device, CommandSet& set)>;
  // Called on the worker thread once the command is no longer busy.
  using CompletionCallback = std::function<void(const CommandReport& report)>;

  // Settings from `settings` (the program directory's romsmith.ini and the
  // user profile unless told otherwise).
  explicit Workbench(Frontend& frontend);
  Workbench(Frontend& frontend, SettingsStore settings);
  // Stops a running command, answers its questions with their defaults and
  // waits for it. Not to be destroyed from the completion callback.
  ~Workbench();
  Workbench(const Workbench&) = delete;
  Workbench& operator=(const Workbench&) = delete;

  // --- Start-up. Loads the settings and the profile, sets up the log file
  // and loads the databases onto the pages. False when the settings could
  // not be loaded (a message box has said why).
  bool Start(const StartOptions& options = {});
  // The driver modules of the settings' driver module directory.
  std::vector<DriverEntry> Drivers() const;

  // --- Settings changes of the dialogs, not while a command runs (false
  // then, and nothing changes). The connection: the "Remote" keys of
  // romsmith.ini, used from the next command on. The user options of the
  // profile; the log file follows the "Log" option when it is open. False
  // also when the file could not be written (a box has said so).
  bool ChangeConnection(const RemoteSettings& remote);
  bool ChangeOptions(const ProgramSettings& options);
  // The document's recent file list into the profile.
  bool SaveRecentFiles();

  // --- Jobs on the worker without the target: refused (false) while a
  // command runs, ended by the completion callback with a report of code
  // kNone. Scrambles or unscrambles every data file pair of the program
  // directory with the maintenance password, under the directory lock as
  // every command.
  bool RunDataFileMaintenance(const std::string& password, bool scramble);
  // Converts IN into OUT ("Info: hex2bin IN OUT done." or "Error: ...
  // failed."); OUT is replaced only when the conversion is complete. Only
  // the two files are touched, so the program directory is not locked.
  bool RunFileJob(FileJob job, const std::string& in, const std::string& out);

  // --- Commands. Each takes the pages into the configuration, checks it,
  // reloads the settings, copies what the command needs and starts the
  // worker; false when a check failed (it logged why) or a command runs.
  bool RunCommand(Command command);
  bool OnBlankCheck() { return RunCommand(Command::kBlankCheck); }
  bool OnChecksum() { return RunCommand(Command::kChecksum); }
  bool OnErase() { return RunCommand(Command::kErase); }
  bool OnProgram() { return RunCommand(Command::kProgram); }
  bool OnProtect() { return RunCommand(Command::kProtect); }
  bool OnUpload() { return RunCommand(Command::kUpload); }
  bool OnVerify() { return RunCommand(Command::kVerify); }
  // Board initialisation with read-back checks and the RAM test, then the
  // flash device code.
  bool StartTargetTest() { return RunCommand(Command::kTargetTest); }
  // Reads the selected CPU's registers on the worker; stoppable. The values
  // come in the report; ApplyRegisterRead puts them on the CPU page.
  bool RegisterRead() { return RunCommand(Command::kRegisterRead); }
  // The values of a register read's report onto the CPU page (rows whose
  // address still matches).
  void ApplyRegisterRead(const CommandReport& report);

  // The Close/Stop button and Escape: while a command runs, signals the stop
  // event and returns false; otherwise asks about unsaved configuration
  // changes and returns true when the window may close.
  bool OnCloseOrStop();
  // The window going away for good (the program quits with a command
  // running): as OnCloseOrStop, and the command's questions from now on are
  // answered with their defaults, so it ends without waiting for a user.
  bool RequestClose();
  // The stop request as the command line's Ctrl-C gives it.
  void RequestStop();
  // A close was requested while the running command runs: a front end that
  // hands Ask to its own thread answers with the default when this is set.
  bool closing() const { return closing_.load(); }

  bool IsBusy() const { return busy_.load(); }
  // Blocks until the running command (if any) has ended. Never from the
  // thread that the Frontend's calls wait for while a command runs.
  void WaitForCommand();
  // Waits up to `timeout` for the running command to end (at once when none
  // runs); true when none runs any more. Any thread but the worker's.
  bool WaitForCompletion(std::chrono::milliseconds timeout);
  // Replaces the completion callback (owner's thread, no command running).
  void SetCompletionCallback(CompletionCallback callback);
  // The last command's outcome: a command that logged an error line
  // (its own, a driver's) did not succeed, whatever its body returned.
  CommandOutcome outcome() const { return outcome_.load(); }
  // The last command's report (kNone code before any).
  CommandReport last_report() const;
  CommandCode command_code() const { return last_code_.load(); }

  MessageLog& log() { return log_; }
  Frontend& frontend() { return frontend_; }
  TargetPages& pages() { return pages_; }
  TargetDocument& document() { return document_; }
  SettingsStore& settings_store() { return settings_; }
  const ProgramSettings& settings() const { return settings_.values(); }
  const TargetConfig& config() const { return document_.config(); }
  // Blocks marked bad by the last check block (all good before one). Read
  // it while no command runs.
  const BadBlockTable& bad_block_table() const { return bad_block_table_; }

  // The bound driver's access; the Workbench owns it. By default it is a
  // DriverLink: the module that the settings' "Remote" "Device" names.
  void SetTargetLink(std::unique_ptr<TargetLink> link);
  TargetLink* target_link() { return link_.get(); }
  // How the command set of the chosen flash device is loaded before Erase,
  // Program, Protect and the target test (the flash device database of the
  // program directory unless replaced).
  void SetCommandSetLoader(CommandSetLoader loader) { command_set_loader_ = std::move(loader); }

  // The interval between two status polls of a running loader (100 ms; tests
  // shorten it to keep time-outs quick).
  void set_loader_poll_interval(std::chrono::milliseconds interval) { poll_interval_ = interval; }
  // How long a command waits for another one holding the program directory.
  void set_directory_lock_timeout(std::chrono::milliseconds timeout) { lock_timeout_ = timeout; }

 private:
  class WorkerFrontend;

  std::shared_ptr<CommandSnapshot> TakeSnapshot(Command command);
  bool LoadSettings();
  bool StartHostJob(std::function<CommandOutcome()> job, bool locks_directory);
  void HostWorker(std::function<CommandOutcome()> job, bool locks_directory);
  // Takes the program directory's lock for the worker, waiting for another
  // run that holds it; false when the wait ended (it logged why, and the
  // outcome it leaves).
  bool LockProgramDirectory(platform::DirectoryLock& lock, const platform::Event& stop,
                            CommandCode code, CommandResult& result);
  void EndWorker();
  bool StartWorker(std::shared_ptr<CommandSnapshot> snapshot);
  // Resets the command state and starts `work` on the worker thread.
  bool LaunchWorker(CommandCode code, std::function<void()> work);
  void Worker(std::shared_ptr<const CommandSnapshot> snapshot);
  CommandResult RunOnTarget(const CommandContext& context);
  void Publish(CommandCode code, const CommandResult& result);

  Frontend& frontend_;
  std::atomic<bool> closing_{false};
  std::unique_ptr<WorkerFrontend> worker_frontend_;
  MessageLog log_;
  SettingsStore settings_;
  TargetPages pages_;
  TargetDocument document_{pages_};
  CommandSetLoader command_set_loader_;
  // The running (or last) command's copy; the driver link reads it.
  std::shared_ptr<CommandSnapshot> snapshot_;
  std::unique_ptr<TargetLink> link_;

  // Command state.
  std::thread worker_;
  std::atomic<bool> busy_{false};
  std::mutex idle_mutex_;
  std::condition_variable idle_;
  std::shared_ptr<platform::Event> stop_event_;
  std::atomic<CommandOutcome> outcome_{CommandOutcome::kNone};
  std::atomic<CommandCode> last_code_{CommandCode::kNone};
  BadBlockTable bad_block_table_{};
  BadBlockTable checked_block_table_{};
  mutable std::mutex report_mutex_;
  CommandReport last_report_;
  CompletionCallback completion_;

  std::chrono::milliseconds poll_interval_{100};
  std::chrono::milliseconds lock_timeout_{std::chrono::minutes(10)};
};

}  // namespace romsmith
