// The Workbench: the core object that the desktop window and the command line
// each own. It holds what a command needs (the target pages and their
// configuration, the settings, the selected CPU record and flash device, the
// command set, the flags that outlive commands) and runs one command at a
// time on a worker thread of its own, reporting through the MessageLog and
// reaching the user only through a Frontend.
#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "operations/file_checks.h"
#include "operations/frontend.h"
#include "operations/loader_params.h"
#include "operations/message_log.h"
#include "operations/target_link.h"
#include "platform/event.h"
#include "target_data/cpu_database.h"
#include "target_data/flash_database.h"
#include "target_data/program_settings.h"
#include "target_data/target_config.h"
#include "target_data/target_document.h"
#include "target_data/target_pages.h"

namespace romsmith {

// Which body the worker runs. Codes 9 to 12 have no body.
enum class CommandCode : std::uint32_t {
  kNone = 0,
  kBlankCheck = 1,
  kChecksum = 2,
  kErase = 3,
  kProgram = 4,
  kProtect = 5,
  kUpload = 6,
  kVerify = 7,
  kTargetTest = 8,
  kNandErase = 13,
  kNandProgram = 14,
  kNandCheckBlock = 15,
  kNandUpload = 16,
  kNandVerify = 17,
  kNandTargetTest = 18,
};

// How the last command ended. kNone until a command has run.
enum class CommandOutcome { kNone, kSucceeded, kFailed, kStopped };

inline constexpr std::size_t kBadBlockTableSize = 8192;

class Workbench {
 public:
  using CommandSetLoader = std::function<bool(const FlashDevice& device, CommandSet& set)>;

  // Settings from `settings` (the program directory's romsmith.ini and the
  // user profile unless told otherwise).
  explicit Workbench(Frontend& frontend);
  Workbench(Frontend& frontend, SettingsStore settings);
  // Stops a running command and waits for it.
  ~Workbench();
  Workbench(const Workbench&) = delete;
  Workbench& operator=(const Workbench&) = delete;

  // The bound driver's access; the Workbench owns it. By default it is a
  // DriverLink: the module that the settings' "Remote" "Device" names.
  void SetTargetLink(std::unique_ptr<TargetLink> link);
  TargetLink* target_link() { return link_.get(); }
  // How the command set of the chosen flash device is loaded before Erase,
  // Program, Protect and the target test (the flash device database of the
  // program directory unless replaced).
  void SetCommandSetLoader(CommandSetLoader loader) { command_set_loader_ = std::move(loader); }

  // --- Command entries (user-interface thread). Each takes the pages into
  // the configuration, validates it, reloads the settings and starts the
  // worker; false when a check failed (it logged why) or a command runs.
  bool OnBlankCheck();
  bool OnChecksum();
  bool OnErase();
  bool OnProgram();
  bool OnProtect();
  bool OnUpload();
  bool OnVerify();
  // The target test: board initialisation with read-back checks and the RAM
  // test, then the flash device code.
  bool StartTargetTest();
  // Reads the selected CPU's registers into the CPU page; runs on the
  // calling thread and cannot be stopped. False when it did not complete.
  bool RegisterRead();

  // Close button, window close request, Escape: while a command runs,
  // signals the stop event and returns false; otherwise asks about unsaved
  // configuration changes and returns true when the window may close.
  bool OnCloseOrStop();
  // The stop request as the command line's Ctrl-C gives it.
  void RequestStop();

  bool IsBusy() const { return busy_.load(); }
  // Blocks until the running command (if any) has ended.
  void WaitForCommand();
  CommandOutcome outcome() const { return outcome_.load(); }
  CommandCode command_code() const { return command_code_; }

  MessageLog& log() { return log_; }
  Frontend& frontend() { return frontend_; }
  TargetPages& pages() { return pages_; }
  TargetDocument& document() { return document_; }
  SettingsStore& settings_store() { return settings_; }
  const ProgramSettings& settings() const { return settings_.values(); }
  const TargetConfig& config() const { return document_.config(); }
  const CpuRecord& cpu() const { return cpu_; }
  const FlashDevice& flash() const { return flash_; }
  const CommandSet& command_set() const { return command_set_; }

  bool erase_succeeded() const { return erase_succeeded_; }
  bool nand_erase_succeeded() const { return nand_erase_succeeded_; }
  const std::array<std::uint8_t, kBadBlockTableSize>& bad_block_table() const {
    return bad_block_table_;
  }
  bool target_test_flag() const { return target_test_flag_; }

  // The interval between two status polls of a running loader (100 ms; tests
  // shorten it to keep time-outs quick).
  void set_loader_poll_interval(std::chrono::milliseconds interval) { poll_interval_ = interval; }
  // How long a command waits for another one holding the program directory.
  void set_directory_lock_timeout(std::chrono::milliseconds timeout) { lock_timeout_ = timeout; }

 private:
  // Lines of one loader run.
  struct RunLines {
    const char* waiting;
    const char* user_stop;
    const char* time_out;
  };
  enum class RunResult { kDone, kStopped, kFailed };

  // A loader image found, decoded when stored scrambled, and opened; the
  // decoded copy goes with the object.
  struct LoaderFile {
    std::string path;
    std::string decoded;
    BinaryFile file;
    LoaderFile() = default;
    LoaderFile(const LoaderFile&) = delete;
    LoaderFile& operator=(const LoaderFile&) = delete;
    ~LoaderFile();
  };

  bool EnterCommand(bool load_command_set);
  bool StartCommand();
  void Worker();
  CommandOutcome RunBody();
  bool StopRequested() const;

  // Progress conventions.
  void BeginProgress(int high, bool animate = true);
  void EndProgress();

  // Board initialisation (and, in target-test mode, the checks and RAM test).
  bool InitializeBoard();
  bool TestRam();

  // Selected range of the host-read commands.
  struct SectorRange {
    std::uint32_t offset = 0;
    std::uint32_t length = 0;
  };
  SectorRange SelectedRange() const;
  std::uint32_t SectorOffset(std::int32_t sector) const;  // x chips
  std::uint32_t SectorBytes(std::int32_t sector) const;   // x chips
  bool LittleEndian() const;
  std::uint32_t WidthBytes() const;
  std::uint32_t Chips() const;

  // Host-read bodies.
  CommandOutcome BlankCheck();
  CommandOutcome Checksum();
  CommandOutcome Upload();
  CommandOutcome Verify();

  // Loader support.
  bool PrepareLoader(LoaderFile& loader, const LoaderLayout& layout);
  bool WriteLoaderImage(LoaderFile& loader, const LoaderLayout& layout);
  RunResult RunLoader(const LoaderLayout& layout, const RunLines& lines);
  bool WriteDebugImage(const std::string& file_name, const std::uint8_t* bytes,
                       std::size_t count);
  std::string DebugFileName(std::uint32_t counter, const char* infix = "") const;
  bool ResolveProgramFile(std::string& out);
  bool IsIntelHex() const;
  void RemoveConvertedFile(const std::string& converted) const;

  // Loader bodies of the first family.
  CommandOutcome Erase();
  CommandOutcome Program();
  CommandOutcome Protect();
  CommandOutcome SectorCommand(bool erase);
  CommandOutcome GetDeviceCode();
  CommandOutcome SoftwareIdExit();

  // The second family.
  CommandOutcome NandBlockCommand(bool erase);
  CommandOutcome NandProgram();
  CommandOutcome NandUpload();
  CommandOutcome NandVerify();
  CommandOutcome NandGetDeviceCode();
  std::uint64_t NandCapacity() const;
  LoaderParams NandChunkParams(std::uint8_t operation) const;

  Frontend& frontend_;
  MessageLog log_;
  SettingsStore settings_;
  TargetPages pages_;
  TargetDocument document_{pages_};
  std::unique_ptr<TargetLink> link_;
  CommandSetLoader command_set_loader_;

  // Copies taken at command entry.
  CpuRecord cpu_;
  FlashDevice flash_;
  CommandSet command_set_;

  // Command state.
  std::thread worker_;
  std::atomic<bool> busy_{false};
  std::shared_ptr<platform::Event> stop_event_;
  CommandCode command_code_ = CommandCode::kNone;
  bool target_test_flag_ = false;
  std::atomic<CommandOutcome> outcome_{CommandOutcome::kNone};

  bool erase_succeeded_ = false;
  bool nand_erase_succeeded_ = false;
  std::array<std::uint8_t, kBadBlockTableSize> bad_block_table_{};

  std::chrono::milliseconds poll_interval_{100};
  std::chrono::milliseconds lock_timeout_{std::chrono::minutes(10)};
};

}  // namespace romsmith
