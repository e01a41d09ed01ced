// The commands that only read flash, directly through the probe, in blocks
// of 1024 bytes: blank check, checksum, upload and verify. One loop reads
// the blocks; each command gives what it does with a block.
#include <array>
#include <filesystem>
#include <functional>
#include <thread>

#include "operations/command_bodies.h"
#include "operations/image_program.h"
#include "operations/loader_job.h"
#include "operations/lpc_vector_checksum.h"
#include "operations/target_checksum.h"
#include "operations/upload_file.h"
#include "platform/text.h"

namespace romsmith {
namespace {

constexpr std::uint32_t kBlock = 1024;

struct HostRead {
  const char* stop_line;
  std::uint64_t blocks;
  int progress_high;
  bool animate;
  // What the command does with a block read at `address`; false ends the
  // command as failed (it has logged why).
  std::function<bool(std::uint32_t address, const std::uint8_t* bytes)> take;
};

// Reads the blocks from the first selected sector on, with the stop check
// before each, one step and a 1 ms pause after each.
CommandOutcome ReadBlocks(const CommandContext& context, const HostRead& read) {
  std::uint32_t address =
      context.config().flash_address + context.SectorOffset(context.config().start_sector);
  context.BeginProgress(read.progress_high, read.animate);
  std::array<std::uint8_t, kBlock> buffer{};
  CommandOutcome outcome = CommandOutcome::kSucceeded;
  for (std::uint64_t block = 0; block < read.blocks; ++block) {
    if (context.StopRequested()) {
      context.log.Info(read.stop_line);
      outcome = CommandOutcome::kStopped;
      break;
    }
    if (!context.link.DumpMemory(address, buffer.data(), kBlock, 4)) {
      context.log.Error("Error: read Flash memory failed.\n");
      outcome = CommandOutcome::kFailed;
      break;
    }
    if (!read.take(address, buffer.data())) {
      outcome = CommandOutcome::kFailed;
      break;
    }
    address += kBlock;
    context.frontend.StepProgress();
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  if (read.animate) context.frontend.StopAnimation();
  context.frontend.SetProgressPosition(0);
  return outcome;
}

std::uint32_t SelectedBlocks(const CommandContext& context) {
  return context.SelectedLength() / kBlock;
}

CommandResult Finish(const CommandContext& context, CommandOutcome outcome,
                     const std::string& success_line) {
  const bool completed = outcome == CommandOutcome::kSucceeded;
  if (completed) context.log.Info(success_line);
  return {outcome, completed, std::nullopt, {}};
}

}  // namespace

CommandResult BlankCheckBody(const CommandContext& context) {
  context.log.Info("Info: start blank check...\n");
  const std::uint32_t blocks = SelectedBlocks(context);
  const CommandOutcome outcome = ReadBlocks(
      context, {"Info: user stop blank check.\n", blocks, static_cast<int>(blocks), true,
                [&](std::uint32_t address, const std::uint8_t* bytes) {
                  for (std::uint32_t i = 0; i < kBlock; ++i) {
                    if (bytes[i] != 0xFF) {
                      context.log.Error(FormatText(
                          "Error: blank check failed, address 0x%08X contain data 0x%02X.\n",
                          address + i, bytes[i]));
                      return false;
                    }
                  }
                  return true;
                }});
  return Finish(context, outcome, "Info: blank check success.\n");
}

CommandResult ChecksumBody(const CommandContext& context) {
  context.log.Info("Info: start checksum...\n");
  if (context.config().UsesAddressImage())
    context.log.Info(
        "Info: the checksum is of the selected sectors, whatever the program file's format.\n");
  const std::uint32_t blocks = SelectedBlocks(context);
  std::uint16_t sum = 0;
  const CommandOutcome outcome =
      ReadBlocks(context, {"Info: user stop checksum.\n", blocks, static_cast<int>(blocks), true,
                           [&](std::uint32_t, const std::uint8_t* bytes) {
                             for (std::uint32_t i = 0; i < kBlock; ++i)
                               sum = static_cast<std::uint16_t>(sum + bytes[i]);
                             return true;
                           }});
  return Finish(context, outcome, FormatText("Info: checksum completed, it is 0x%04X.\n", sum));
}

CommandResult UploadBody(const CommandContext& context) {
  context.log.Info("Info: start upload...\n");
  if (context.config().UsesAddressImage())
    context.log.Info(
        "Info: upload writes the selected sectors as a flat binary; the image format is for "
        "program and verify.\n");
  const std::uint32_t blocks = SelectedBlocks(context);
  const std::string& name = context.config().upload_file;
  switch (ConfirmUploadName(context, name)) {
    case UploadName::kGoOn:
      break;
    case UploadName::kRefused:
      return {};
    case UploadName::kCancelled:
      return UploadCancelled();
  }
  // The blocks replace the upload file once something was read: a command
  // that fails before reading keeps the old file.
  UploadFile upload(name);
  if (!upload.Create()) {
    context.log.Error("Error: can't create upload file.\n");
    return {};
  }
  BinaryFile& file = upload.file();
  CommandOutcome outcome = CommandOutcome::kFailed;
  std::uint64_t written = 0;
  try {
    outcome = ReadBlocks(context, {"Info: user stop upload.\n", blocks, static_cast<int>(blocks),
                                   true, [&](std::uint32_t, const std::uint8_t* bytes) {
                                     file.Write(bytes, kBlock);
                                     ++written;
                                     return true;
                                   }});
    // The file keeps the blocks read so far, also after a stop or a failed
    // read.
    file.Close();
  } catch (const FileException& exception) {
    context.EndProgress();
    context.log.Error("Error: file exception, " + LowerCase(FileErrorText(exception.cause)) +
                      ", upload failed.\n");
    return {};
  }
  if (written == 0 && outcome != CommandOutcome::kSucceeded) {
    upload.Discard();
  } else if (upload.Commit()) {
    context.log.Error("Error: can't create upload file.\n");
    return {};
  }
  return Finish(context, outcome, "Info: upload completed.\n");
}

CommandResult VerifyBody(const CommandContext& context) {
  // An image is compared at its own addresses, byte for byte.
  if (context.config().UsesAddressImage()) return ImageVerifyBody(context);
  context.log.Info("Info: start verify...\n");
  const std::uint32_t blocks = SelectedBlocks(context);
  // An Intel HEX program file is compared as the flat binary that Program
  // wrote, not as its text.
  ProgramFile program(context.config());
  CommandOutcome outcome = CommandOutcome::kFailed;
  try {
    const auto opened =
        OpenProgramFile(context, program, static_cast<std::uint64_t>(blocks) * kBlock,
                        "Error: verify failed, file length is beyond flash memory.\n",
                        "Error: verify failed, the program file is empty.\n");
    if (!opened) {
      if (context.StopRequested()) return {CommandOutcome::kStopped, false, std::nullopt, {}};
      return {};
    }
    const std::uint64_t length = *opened;
    BinaryFile& file = program.file();
    const TargetConfig& c = context.config();
    const bool lpc_checksum = context.family.Has(FamilyTrait::kVectorChecksum) &&
                              context.settings().lpc_vector_checksum != 0;
    const bool big = !context.LittleEndian();
    const BlockCompare compare = [&](std::uint32_t address, const std::uint8_t* flash,
                                     const std::uint8_t* data, std::size_t count) {
      const bool vectors = lpc_checksum && address == c.flash_address && count >= kLpcVectorBytes;
      for (std::size_t i = 0; i < count; ++i) {
        if (vectors && i == kLpcChecksumOffset &&
            LoadLpcChecksum(flash, big) == LpcVectorChecksum(data, big)) {
          i += 3;  // the checksum Program put there
          continue;
        }
        if (flash[i] != data[i]) {
          context.log.Error(FormatText("Error: verify failed, different at address 0x%08x.\n",
                                       address + static_cast<std::uint32_t>(i)));
          return false;
        }
      }
      return true;
    };
    if (VerifiesOnTarget(context.settings())) {
      outcome = VerifyOnTarget(context, file, length, compare);
    } else {
      std::array<std::uint8_t, kBlock> data{};
      outcome = ReadBlocks(
          context, {"Info: user stop verify.\n", (length + kBlock - 1) / kBlock,
                    static_cast<int>(length / kBlock), false,
                    [&](std::uint32_t address, const std::uint8_t* flash) {
                      // The file's last block is compared over its own length.
                      const std::size_t got = file.Read(data.data(), kBlock);
                      return compare(address, flash, data.data(), got);
                    }});
    }
  } catch (const FileException& exception) {
    context.EndProgress();
    context.log.Error("Error: write or read file exception, " + FileErrorText(exception.cause) +
                      ", verify failed.\n");
    return {};
  }
  return Finish(context, outcome, "Info: verify success.\n");
}

}  // namespace romsmith
