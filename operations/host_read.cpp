// The commands that only read flash, directly through the probe, in blocks
// of 1024 bytes: blank check, checksum, upload and verify.
#include <array>
#include <thread>

#include "operations/file_checks.h"
#include "operations/workbench.h"
#include "target_data/text.h"

namespace romsmith {
namespace {

constexpr std::uint32_t kBlock = 1024;

void Pace() { std::this_thread::sleep_for(std::chrono::milliseconds(1)); }

}  // namespace

CommandOutcome Workbench::BlankCheck() {
  log_.Info("Info: start blank check...\n");
  const SectorRange range = SelectedRange();
  const std::uint32_t blocks = range.length / kBlock;
  std::uint32_t address = config().flash_address + range.offset;
  BeginProgress(static_cast<int>(blocks));
  std::array<std::uint8_t, kBlock> buffer{};
  CommandOutcome outcome = CommandOutcome::kSucceeded;
  for (std::uint32_t block = 0; block < blocks; ++block) {
    if (StopRequested()) {
      log_.Info("Info: user stop blank check.\n");
      outcome = CommandOutcome::kStopped;
      break;
    }
    if (!link_->DumpMemory(address, buffer.data(), kBlock, 4)) {
      log_.Error("Error: read Flash memory failed.\n");
      outcome = CommandOutcome::kFailed;
      break;
    }
    for (std::uint32_t i = 0; i < kBlock; ++i) {
      if (buffer[i] != 0xFF) {
        log_.Error(FormatText("Error: blank check failed, address 0x%08X contain data 0x%02X.\n",
                              address + i, buffer[i]));
        outcome = CommandOutcome::kFailed;
        break;
      }
    }
    if (outcome != CommandOutcome::kSucceeded) break;
    address += kBlock;
    frontend_.StepProgress();
    Pace();
  }
  EndProgress();
  if (outcome == CommandOutcome::kSucceeded) log_.Info("Info: blank check success.\n");
  return outcome;
}

CommandOutcome Workbench::Checksum() {
  log_.Info("Info: start checksum...\n");
  const SectorRange range = SelectedRange();
  const std::uint32_t blocks = range.length / kBlock;
  std::uint32_t address = config().flash_address + range.offset;
  BeginProgress(static_cast<int>(blocks));
  std::uint16_t sum = 0;
  std::array<std::uint8_t, kBlock> buffer{};
  CommandOutcome outcome = CommandOutcome::kSucceeded;
  for (std::uint32_t block = 0; block < blocks; ++block) {
    if (StopRequested()) {
      log_.Info("Info: user stop checksum.\n");
      outcome = CommandOutcome::kStopped;
      break;
    }
    if (!link_->DumpMemory(address, buffer.data(), kBlock, 4)) {
      log_.Error("Error: read Flash memory failed.\n");
      outcome = CommandOutcome::kFailed;
      break;
    }
    for (std::uint8_t byte : buffer) sum = static_cast<std::uint16_t>(sum + byte);
    address += kBlock;
    frontend_.StepProgress();
    Pace();
  }
  EndProgress();
  if (outcome == CommandOutcome::kSucceeded)
    log_.Info(FormatText("Info: checksum completed, it is 0x%04X.\n", sum));
  return outcome;
}

CommandOutcome Workbench::Upload() {
  log_.Info("Info: start upload...\n");
  const SectorRange range = SelectedRange();
  const std::uint32_t blocks = range.length / kBlock;
  const std::string& name = config().upload_file;
  if (CheckFileName(name, log_)) {
    if (frontend_.Ask({"Overwrite " + name + "?", "Romsmith", platform::MessageIcon::Question,
                       platform::MessageButtons::OkCancel}) != platform::MessageAnswer::Ok)
      return CommandOutcome::kFailed;
  }
  BinaryFile file;
  if (!file.CreateForWriting(name)) {
    log_.Error("Error: can't create upload file.\n");
    return CommandOutcome::kFailed;
  }
  std::uint32_t address = config().flash_address + range.offset;
  BeginProgress(static_cast<int>(blocks));
  std::array<std::uint8_t, kBlock> buffer{};
  CommandOutcome outcome = CommandOutcome::kSucceeded;
  try {
    for (std::uint32_t block = 0; block < blocks; ++block) {
      if (StopRequested()) {
        log_.Info("Info: user stop upload.\n");
        outcome = CommandOutcome::kStopped;
        break;
      }
      if (!link_->DumpMemory(address, buffer.data(), kBlock, 4)) {
        log_.Error("Error: read Flash memory failed.\n");
        outcome = CommandOutcome::kFailed;
        break;
      }
      file.Write(buffer.data(), kBlock);
      address += kBlock;
      frontend_.StepProgress();
      Pace();
    }
    // The file keeps the blocks read so far, also after a stop or a failed
    // read.
    file.Close();
  } catch (const FileException& exception) {
    EndProgress();
    log_.Error("Error: file exception, " + LowerCase(FileErrorText(exception.cause)) +
               ", upload failed.\n");
    return CommandOutcome::kFailed;
  }
  EndProgress();
  if (outcome == CommandOutcome::kSucceeded) log_.Info("Info: upload completed.\n");
  return outcome;
}

CommandOutcome Workbench::Verify() {
  log_.Info("Info: start verify...\n");
  const SectorRange range = SelectedRange();
  const std::uint32_t blocks = range.length / kBlock;
  const std::string& name = config().program_file;
  if (!CheckFileName(name, log_)) {
    log_.Error("Error: cannot find program file.\n");
    return CommandOutcome::kFailed;
  }
  BinaryFile file;
  if (!file.OpenForReading(name)) {
    log_.Error("Error: open program file failed.\n");
    return CommandOutcome::kFailed;
  }
  try {
    const std::uint64_t length = file.Length();
    if (static_cast<std::uint64_t>(blocks) * kBlock < length) {
      log_.Error("Error: verify failed, file length is beyond flash memory.\n");
      return CommandOutcome::kFailed;
    }
    BeginProgress(static_cast<int>(length / kBlock), false);
    std::uint32_t address = config().flash_address + range.offset;
    const std::uint64_t file_blocks = (length + kBlock - 1) / kBlock;
    std::array<std::uint8_t, kBlock> flash{};
    std::array<std::uint8_t, kBlock> data{};
    for (std::uint64_t block = 0; block < file_blocks; ++block) {
      if (StopRequested()) {
        log_.Info("Info: user stop verify.\n");
        frontend_.SetProgressPosition(0);
        return CommandOutcome::kStopped;
      }
      if (!link_->DumpMemory(address, flash.data(), kBlock, 4)) {
        log_.Error("Error: read Flash memory failed.\n");
        frontend_.SetProgressPosition(0);
        return CommandOutcome::kFailed;
      }
      const std::size_t got = file.Read(data.data(), kBlock);
      for (std::size_t i = 0; i < got; ++i) {
        if (flash[i] != data[i]) {
          log_.Error(FormatText("Error: verify failed, different at address 0x%08x.\n",
                                address + static_cast<std::uint32_t>(i)));
          frontend_.SetProgressPosition(0);
          return CommandOutcome::kFailed;
        }
      }
      address += kBlock;
      frontend_.StepProgress();
      Pace();
    }
  } catch (const FileException& exception) {
    EndProgress();
    log_.Error("Error: write or read file exception, " + FileErrorText(exception.cause) +
               ", verify failed.\n");
    return CommandOutcome::kFailed;
  }
  frontend_.SetProgressPosition(0);
  log_.Info("Info: verify success.\n");
  return CommandOutcome::kSucceeded;
}

}  // namespace romsmith
