#include "operations/workbench.h"

#include <utility>

#include "operations/driver_link.h"
#include "operations/file_checks.h"
#include "platform/directory_lock.h"
#include "platform/paths.h"
#include "target_data/text.h"

namespace romsmith {
namespace {

bool StartsWith(const std::string& text, const char* prefix) {
  return text.rfind(prefix, 0) == 0;
}

}  // namespace

Workbench::Workbench(Frontend& frontend) : Workbench(frontend, SettingsStore()) {}

Workbench::Workbench(Frontend& frontend, SettingsStore settings)
    : frontend_(frontend), log_(&frontend), settings_(std::move(settings)) {
  command_set_loader_ = [](const FlashDevice& device, CommandSet& set) {
    return LoadCommandSet(platform::ProgramDirectory(), device.command_type, set);
  };
  link_ = std::make_unique<DriverLink>(log_, settings_.values(), document_.config());
  // The settings may have been read before they reach the Workbench.
  link_->OnSettingsLoaded();
}

Workbench::~Workbench() {
  RequestStop();
  WaitForCommand();
}

void Workbench::SetTargetLink(std::unique_ptr<TargetLink> link) { link_ = std::move(link); }

// ---------------------------------------------------------------- entries

bool Workbench::EnterCommand(bool load_command_set) {
  if (IsBusy()) return false;
  WaitForCommand();  // releases the thread of the command that ended last
  document_.TakeFromPages();
  if (!document_.Validate([this](const std::string& line) { log_.Error(line); })) return false;
  if (!settings_.Load()) return false;
  if (link_) link_->OnSettingsLoaded();
  cpu_ = document_.selected_cpu();
  flash_ = document_.selected_flash();
  if (load_command_set) {
    // A failed load has shown its message box; the sequences it could not
    // read stay empty and the body says what it cannot do.
    command_set_ = CommandSet();
    if (command_set_loader_) command_set_loader_(flash_, command_set_);
  }
  target_test_flag_ = false;
  return true;
}

bool Workbench::OnBlankCheck() {
  if (!EnterCommand(false)) return false;
  command_code_ = CommandCode::kBlankCheck;
  return StartCommand();
}

bool Workbench::OnChecksum() {
  if (!EnterCommand(false)) return false;
  command_code_ = CommandCode::kChecksum;
  return StartCommand();
}

bool Workbench::OnErase() {
  if (!EnterCommand(true)) return false;
  command_code_ = config().UsesNandCommands() ? CommandCode::kNandErase : CommandCode::kErase;
  return StartCommand();
}

bool Workbench::OnProgram() {
  if (!EnterCommand(true)) return false;
  command_code_ = config().UsesNandCommands() ? CommandCode::kNandProgram : CommandCode::kProgram;
  return StartCommand();
}

bool Workbench::OnProtect() {
  if (!EnterCommand(true)) return false;
  command_code_ =
      config().UsesNandCommands() ? CommandCode::kNandCheckBlock : CommandCode::kProtect;
  return StartCommand();
}

bool Workbench::OnUpload() {
  if (!EnterCommand(false)) return false;
  command_code_ = config().UsesNandCommands() ? CommandCode::kNandUpload : CommandCode::kUpload;
  return StartCommand();
}

bool Workbench::OnVerify() {
  if (!EnterCommand(false)) return false;
  command_code_ = config().UsesNandCommands() ? CommandCode::kNandVerify : CommandCode::kVerify;
  return StartCommand();
}

bool Workbench::StartTargetTest() {
  if (!EnterCommand(true)) return false;
  log_.Info("Info: start target test...\n");
  target_test_flag_ = true;
  command_code_ =
      config().UsesNandCommands() ? CommandCode::kNandTargetTest : CommandCode::kTargetTest;
  return StartCommand();
}

bool Workbench::StartCommand() {
  stop_event_ = std::make_shared<platform::Event>();
  outcome_ = CommandOutcome::kNone;
  // The busy marker is set before the worker exists, so the worker's own
  // clearing at its end can never come first.
  busy_ = true;
  try {
    worker_ = std::thread(&Workbench::Worker, this);
  } catch (const std::system_error&) {
    busy_ = false;
    log_.Error("Error: cannot start the command thread.\n");
    outcome_ = CommandOutcome::kFailed;
    return false;
  }
  return true;
}

void Workbench::WaitForCommand() {
  if (worker_.joinable() && worker_.get_id() != std::this_thread::get_id()) worker_.join();
}

bool Workbench::OnCloseOrStop() {
  if (IsBusy()) {
    RequestStop();
    return false;
  }
  return document_.ConfirmDiscard();
}

void Workbench::RequestStop() {
  if (IsBusy() && stop_event_) stop_event_->Set();
}

bool Workbench::StopRequested() const { return stop_event_ && stop_event_->IsSet(); }

// ---------------------------------------------------------------- worker

void Workbench::Worker() {
  CommandOutcome outcome = CommandOutcome::kFailed;
  platform::DirectoryLock lock;
  // Two runs on one program directory share its temporary copies; the second
  // waits for the first, and a stop ends the wait.
  bool locked = lock.Acquire(platform::ProgramDirectory(), std::chrono::milliseconds(0));
  if (!locked) {
    log_.Info("Info: another command is using the program directory, waiting...\n");
    const auto start = std::chrono::steady_clock::now();
    while (!locked && !StopRequested() &&
           std::chrono::steady_clock::now() - start < lock_timeout_)
      locked = lock.Acquire(platform::ProgramDirectory(), std::chrono::milliseconds(100));
  }
  if (!locked) {
    if (StopRequested()) {
      log_.Info("Info: user stop.\n");
      outcome = CommandOutcome::kStopped;
    } else {
      log_.Error("Error: program directory is busy, command not run.\n");
    }
  } else if (!link_ || !link_->BindDriver()) {
    if (!link_) log_.Error("Error: unable to load emulator module.\n");
  } else {
    frontend_.SetCommandControls(false, true);
    if (!InitializeBoard()) {
      log_.Error(target_test_flag_ ? "Error: target board test failed.\n"
                                   : "Error: initialize taget board failed.\n");
      outcome = StopRequested() ? CommandOutcome::kStopped : CommandOutcome::kFailed;
      link_->UnbindDriver();
      frontend_.SetCommandControls(true, true);
    } else {
      outcome = RunBody();
      frontend_.SetCommandControls(true, true);
      link_->UnbindDriver();
    }
  }
  lock.Release();
  outcome_ = outcome;
  busy_ = false;
}

CommandOutcome Workbench::RunBody() {
  switch (command_code_) {
    case CommandCode::kBlankCheck:
      return BlankCheck();
    case CommandCode::kChecksum:
      return Checksum();
    case CommandCode::kErase:
      return Erase();
    case CommandCode::kProgram:
      return Program();
    case CommandCode::kProtect:
      return Protect();
    case CommandCode::kUpload:
      return Upload();
    case CommandCode::kVerify:
      return Verify();
    case CommandCode::kTargetTest: {
      // The software-ID exit runs whatever the device code gave.
      const CommandOutcome code = GetDeviceCode();
      const CommandOutcome exit = SoftwareIdExit();
      if (code == CommandOutcome::kStopped || exit == CommandOutcome::kStopped)
        return CommandOutcome::kStopped;
      if (code != CommandOutcome::kSucceeded) return code;
      return exit;
    }
    case CommandCode::kNandErase:
      return NandBlockCommand(true);
    case CommandCode::kNandProgram:
      return NandProgram();
    case CommandCode::kNandCheckBlock:
      return NandBlockCommand(false);
    case CommandCode::kNandUpload:
      return NandUpload();
    case CommandCode::kNandVerify:
      return NandVerify();
    case CommandCode::kNandTargetTest:
      return NandGetDeviceCode();
    case CommandCode::kNone:
      break;
  }
  return CommandOutcome::kFailed;
}

// ---------------------------------------------------------------- progress

void Workbench::BeginProgress(int high, bool animate) {
  frontend_.SetProgressRange(0, high);
  if (animate) frontend_.StartAnimation();
}

void Workbench::EndProgress() {
  frontend_.StopAnimation();
  frontend_.SetProgressPosition(0);
}

// ---------------------------------------------------------------- geometry

bool Workbench::LittleEndian() const { return config().IsLittleEndian(); }

std::uint32_t Workbench::WidthBytes() const {
  return static_cast<std::uint32_t>(config().flash_width) / 8;
}

std::uint32_t Workbench::Chips() const {
  return static_cast<std::uint32_t>(config().chips_per_sector);
}

std::uint32_t Workbench::SectorOffset(std::int32_t sector) const {
  std::uint64_t offset = 0;
  for (std::int32_t k = 0; k < sector && k < flash_.sector_count(); ++k)
    offset += static_cast<std::uint64_t>(static_cast<std::uint32_t>(flash_.sector_sizes[k])) *
              Chips();
  return static_cast<std::uint32_t>(offset);
}

std::uint32_t Workbench::SectorBytes(std::int32_t sector) const {
  if (sector < 0 || sector >= flash_.sector_count()) return 0;
  return static_cast<std::uint32_t>(flash_.sector_sizes[sector]) * Chips();
}

Workbench::SectorRange Workbench::SelectedRange() const {
  SectorRange range;
  range.offset = SectorOffset(config().start_sector);
  std::uint64_t length = 0;
  for (std::int32_t k = config().start_sector; k <= config().end_sector; ++k)
    length += SectorBytes(k);
  range.length = static_cast<std::uint32_t>(length);
  return range;
}

// ---------------------------------------------------------------- board

bool Workbench::InitializeBoard() {
  TargetLink& link = *link_;
  bool running = false;
  if (!link.GetTargetStatus(&running)) return false;
  if (running) link.StopTarget();
  if (!StartsWith(config().cpu_chip, "LPC")) {
    for (std::int32_t i = 0; i < settings().reset_count; ++i)
      if (!link.ResetTarget()) return false;
  }
  if (!link.StopTarget()) return false;

  const bool check = target_test_flag_ && settings().register_check_prompt == 1;
  const TargetConfig& c = config();
  for (std::uint32_t i = 0; i < c.register_count && i < kMaxConfigRows; ++i) {
    const ConfigRegisterRow& row = c.registers[i];
    link.WriteMemory(row.address, row.value, row.size / 8);
    if (!check) continue;
    std::uint32_t read = 0;
    link.ReadMemory(row.address, &read, row.size / 8);
    if (read != row.value) {
      const std::string text = FormatText(
          "Write 0x%08x to register %s, but read value is 0x%08x, select YES to continue test!",
          row.value, row.name.c_str(), read);
      if (frontend_.Ask({text, "Romsmith", platform::MessageIcon::Question,
                         platform::MessageButtons::YesNo}) != platform::MessageAnswer::Yes)
        return false;
    }
  }
  for (std::uint32_t i = 0; i < c.memory_count && i < kMaxConfigRows; ++i) {
    const ConfigMemoryRow& row = c.memory[i];
    link.WriteMemory(row.address, row.value, row.size / 8);
    if (!check) continue;
    std::uint32_t read = 0;
    link.ReadMemory(row.address, &read, row.size / 8);
    if (read != row.value) {
      const std::string text = FormatText(
          "Write 0x%08X to memory 0x%08X, but read value is 0x%08X, select YES to continue test!",
          row.value, row.address, read);
      if (frontend_.Ask({text, "Romsmith", platform::MessageIcon::Question,
                         platform::MessageButtons::YesNo}) != platform::MessageAnswer::Yes)
        return false;
    }
  }
  if (!target_test_flag_) return true;
  return TestRam();
}

bool Workbench::TestRam() {
  TargetLink& link = *link_;
  const std::uint32_t size = static_cast<std::uint32_t>(std::max(settings().test_ram_bytes, 0));
  const std::uint32_t ram = config().ram_address;
  const auto pattern = [](std::uint32_t offset) {
    return (offset % 8 == 0) ? 0x55AA55AAu : 0xAA55AA55u;
  };
  log_.Info("Info: start test RAM...\n");
  BeginProgress(static_cast<int>(size));
  for (std::uint32_t offset = 0; offset + 4 <= size; offset += 4) {
    link.WriteMemory(ram + offset, pattern(offset), 4);
    frontend_.SetProgressPosition(static_cast<int>(offset / 2));
    if (StopRequested()) {
      EndProgress();
      return false;
    }
  }
  for (std::uint32_t offset = 0; offset + 4 <= size; offset += 4) {
    std::uint32_t read = 0;
    link.ReadMemory(ram + offset, &read, 4);
    if (read != pattern(offset)) {
      EndProgress();
      frontend_.Ask({FormatText("Write %08x to memory 0x%08X, but read value is 0x%08X, target "
                                "test failed!",
                                pattern(offset), ram + offset, read),
                     "Romsmith", platform::MessageIcon::Warning, platform::MessageButtons::Ok});
      return false;
    }
    frontend_.SetProgressPosition(static_cast<int>(size / 2 + offset / 2));
    if (StopRequested()) {
      EndProgress();
      return false;
    }
  }
  EndProgress();
  log_.Info("Info: RAM test success.\n");
  return true;
}

// ---------------------------------------------------------------- register read

bool Workbench::RegisterRead() {
  if (IsBusy()) return false;
  WaitForCommand();
  frontend_.SetCommandControls(false, false);
  document_.TakeFromPages();
  const auto reenable = [this] { frontend_.SetCommandControls(true, true); };
  if (config().cpu_vendor.empty() || config().cpu_chip.empty()) {
    log_.Error("Error: you must select CPU.\n");
    reenable();
    return false;
  }
  log_.Info("Info: start register read...\n");
  // The driver connection as the settings file has it now.
  if (!settings_.Load()) {
    reenable();
    return false;
  }
  if (link_) link_->OnSettingsLoaded();
  platform::DirectoryLock lock;
  if (!lock.Acquire(platform::ProgramDirectory(), lock_timeout_)) {
    log_.Error("Error: program directory is busy, command not run.\n");
    reenable();
    return false;
  }
  if (!link_ || !link_->BindDriver()) {
    if (!link_) log_.Error("Error: unable to load emulator module.\n");
    reenable();
    return false;
  }
  bool running = false;
  if (!link_->GetTargetStatus(&running) || (running && !link_->StopTarget())) {
    link_->UnbindDriver();
    reenable();
    return false;
  }
  CpuRecord& current = pages_.cpu.current;
  for (CpuRegister& row : current.registers) {
    std::uint32_t read = 0;
    link_->ReadMemory(row.address, &read, row.size / 8);
    row.value = read;
  }
  cpu_ = current;
  link_->UnbindDriver();
  log_.Info("Info: register read completed.\n");
  reenable();
  return true;
}

}  // namespace romsmith
