// The second loader family, for CPUs whose flash is a NAND device organised
// in blocks of pages: erase and check block over groups of up to 32 blocks,
// and program, upload and verify in 4096-byte chunks that walk over the
// blocks marked bad.
#include <algorithm>
#include <system_error>
#include <thread>
#include <vector>

#include "formats/data_file.h"
#include "operations/file_checks.h"
#include "operations/workbench.h"
#include "target_data/text.h"

namespace romsmith {
namespace {

constexpr std::uint32_t kChunk = kSecondFamilyChunk;
constexpr std::int32_t kGroupBlocks = 32;

std::string FileExceptionLine(const FileException& exception, const char* tail) {
  return "Error: file exception, " + LowerCase(FileErrorText(exception.cause)) + tail;
}


}  // namespace

// The walk of the chunked commands over the selected blocks: the current
// block, the bytes done in it, the bytes done in all, and the bytes of the
// bad blocks passed over.
class ChunkWalk {
 public:
  ChunkWalk(const FlashDevice& flash, const std::array<std::uint8_t, kBadBlockTableSize>& bad,
            std::int32_t first_block, std::uint32_t flash_start)
      : flash_(flash), bad_(bad), block_(first_block) {
    std::uint64_t base = 0;
    for (std::int32_t b = 0; b < first_block && b < flash.sector_count(); ++b)
      base += static_cast<std::uint32_t>(flash.sector_sizes[b]);
    start_ = flash_start + base;
  }

  // Moves to the block of the next chunk and returns the chunk's address.
  std::uint32_t Next() {
    if (in_block_ >= BlockSize(block_)) {
      ++block_;
      in_block_ = 0;
    }
    while (IsBad(block_)) {
      skipped_ += BlockSize(block_);
      ++block_;
    }
    return static_cast<std::uint32_t>(start_ + total_ + skipped_);
  }
  void Done() {
    total_ += kChunk;
    in_block_ += kChunk;
  }

  std::int32_t block() const { return block_; }
  std::uint64_t total() const { return total_; }

 private:
  std::uint64_t BlockSize(std::int32_t b) const {
    if (b < 0 || b >= flash_.sector_count()) return 0;
    return static_cast<std::uint32_t>(flash_.sector_sizes[b]);
  }
  bool IsBad(std::int32_t b) const {
    return b >= 0 && b < static_cast<std::int32_t>(bad_.size()) && b < flash_.sector_count() &&
           bad_[static_cast<std::size_t>(b)] == 1;
  }

  const FlashDevice& flash_;
  const std::array<std::uint8_t, kBadBlockTableSize>& bad_;
  std::int32_t block_;
  std::uint64_t start_ = 0;
  std::uint64_t in_block_ = 0;
  std::uint64_t total_ = 0;
  std::uint64_t skipped_ = 0;
};

std::uint64_t Workbench::NandCapacity() const {
  std::uint64_t capacity = 0;
  for (std::int32_t b = config().start_sector; b <= config().end_sector; ++b) {
    if (b < 0 || b >= flash_.sector_count()) continue;
    if (b < static_cast<std::int32_t>(kBadBlockTableSize) &&
        bad_block_table_[static_cast<std::size_t>(b)] == 1)
      continue;
    capacity += static_cast<std::uint32_t>(flash_.sector_sizes[b]);
  }
  return capacity * Chips();
}

// The parameter block of one 4096-byte chunk run (program, upload, verify);
// the caller sets the chunk address per run.
LoaderParams Workbench::NandChunkParams(std::uint8_t operation) const {
  const TargetConfig& c = config();
  LoaderParams params;
  params.operation = operation;
  params.width_bytes = static_cast<std::uint8_t>(WidthBytes());
  params.chips = static_cast<std::uint8_t>(Chips());
  params.auto_verify = static_cast<std::uint8_t>(c.auto_verify);
  params.flash_start = c.flash_address;
  params.length = kChunk;
  params.cycle_data[0] = flash_.page_size;
  return params;
}

namespace {

struct DebugCounter {
  std::uint32_t written = 0;
  bool failed = false;
};

}  // namespace

CommandOutcome Workbench::NandBlockCommand(bool erase) {
  const char* tail = erase ? ", erase failed.\n" : ", protect failed.\n";
  const RunLines lines = erase ? RunLines{"Info: erasing, waiting %d s.\n", "Info: user stop erase.\n",
                                          "Error: time out, erase failed.\n"}
                               : RunLines{"Info: block checking, waiting %d s",
                                          "Info: user stop block check.\n",
                                          "Error: time out, block check failed.\n"};
  log_.Info(erase ? "Info: start erase...\n" : "Info: start check block...\n");
  const TargetConfig& c = config();
  const LoaderLayout& layout = kSecondFamilyLayout;
  CommandOutcome outcome = CommandOutcome::kSucceeded;
  bool completed = false;
  {
    LoaderFile loader;
    if (!PrepareLoader(loader, layout)) return CommandOutcome::kFailed;
    try {
      if (!WriteLoaderImage(loader, layout)) return CommandOutcome::kFailed;
      BeginProgress(c.end_sector - c.start_sector + 1);
      LoaderParams params;
      params.operation = erase ? 13 : 15;
      params.width_bytes = static_cast<std::uint8_t>(WidthBytes());
      params.chips = static_cast<std::uint8_t>(Chips());
      params.auto_verify = static_cast<std::uint8_t>(c.auto_verify);
      params.flash_start = c.flash_address;
      params.address = c.flash_address + SectorOffset(c.start_sector);
      params.cycle_data[0] = flash_.page_size;
      params.cycle_data[1] = flash_.page_count;
      DebugCounter debug;
      std::int32_t first = c.start_sector;
      std::int32_t last = std::min(c.end_sector, first + kGroupBlocks - 1);
      while (first <= c.end_sector) {
        if (StopRequested()) {
          log_.Info(lines.user_stop);
          outcome = CommandOutcome::kStopped;
          break;
        }
        params.cycle_address[0] = static_cast<std::uint32_t>(first);
        params.cycle_address[1] = static_cast<std::uint32_t>(last);
        std::uint8_t block[kLoaderParamsSize];
        PackLoaderParams(block, params, LittleEndian());
        if (!link_->FillMemory(c.ram_address + layout.params, block, kLoaderParamsSize, 4)) {
          outcome = CommandOutcome::kFailed;
          break;
        }
        if (settings().debug != 0) {
          if (!WriteDebugImage(DebugFileName(debug.written), block, kLoaderParamsSize))
            debug.failed = true;
          if (++debug.written >= settings().debug_count) {
            outcome = debug.failed ? CommandOutcome::kFailed : CommandOutcome::kSucceeded;
            break;
          }
          continue;
        }
        const RunResult run = RunLoader(layout, lines);
        if (run != RunResult::kDone) {
          outcome = run == RunResult::kStopped ? CommandOutcome::kStopped : CommandOutcome::kFailed;
          break;
        }
        link_->ClearAllBreakpoints();
        if (!erase) {
          std::uint32_t mask = 0;
          link_->ReadMemory(c.ram_address + layout.params + kFirstCycleAddressOffset, &mask, 4);
          for (std::int32_t b = first; b <= last; ++b) {
            if (b < 0 || b >= static_cast<std::int32_t>(kBadBlockTableSize)) continue;
            const std::uint32_t bit = static_cast<std::uint32_t>(b - first);
            bad_block_table_[static_cast<std::size_t>(b)] =
                bit < 32 ? static_cast<std::uint8_t>((mask >> bit) & 1u) : 0;
          }
        }
        frontend_.SetProgressPosition(last - c.start_sector + 1);
        first = last + 1;
        last = std::min(c.end_sector, last + kGroupBlocks);
      }
      completed = first > c.end_sector && outcome == CommandOutcome::kSucceeded;
    } catch (const FileException& exception) {
      EndProgress();
      log_.Error(FileExceptionLine(exception, tail));
      return CommandOutcome::kFailed;
    }
  }
  EndProgress();
  if (completed) {
    if (erase) {
      nand_erase_succeeded_ = true;
      log_.Info("Info: erase completed.\n");
    } else {
      log_.Info("Info: block check completed.\n");
    }
  }
  return outcome;
}

CommandOutcome Workbench::NandProgram() {
  const TargetConfig& c = config();
  if (c.auto_erase != 0) {
    nand_erase_succeeded_ = false;
    const CommandOutcome erased = NandBlockCommand(true);
    if (!nand_erase_succeeded_) return erased;
  }
  log_.Info("Info: start program...\n");
  const LoaderLayout& layout = kSecondFamilyLayout;
  LoaderFile loader;
  if (!PrepareLoader(loader, layout)) return CommandOutcome::kFailed;
  std::string program_name = c.program_file;
  if (!ResolveProgramFile(program_name)) {
    RemoveConvertedFile(program_name);
    log_.Error("Error: convert Intel Hex format file failed, program stop.\n");
    return CommandOutcome::kFailed;
  }
  CommandOutcome outcome = CommandOutcome::kSucceeded;
  bool completed = false;
  {
    BinaryFile program;
    try {
      if (!CheckFileName(program_name, log_)) {
        log_.Error("Error: cannot find program file.\n");
        outcome = CommandOutcome::kFailed;
      } else if (!program.OpenForReading(program_name)) {
        log_.Error("Error: open program file failed.\n");
        outcome = CommandOutcome::kFailed;
      } else if (const std::uint64_t length = program.Length(); length > NandCapacity()) {
        log_.Error("Error: program file too large, program failed.\n");
        outcome = CommandOutcome::kFailed;
      } else if (!WriteLoaderImage(loader, layout)) {
        outcome = CommandOutcome::kFailed;
      } else {
        BeginProgress(static_cast<int>(length / 256));
        LoaderParams params = NandChunkParams(14);
        ChunkWalk walk(flash_, bad_block_table_, c.start_sector, c.flash_address);
        DebugCounter debug;
        std::vector<std::uint8_t> buffer(kLoaderParamsSize + kChunk);
        bool have_chunk = false;
        while (true) {
          if (StopRequested()) {
            log_.Info("Info: user stop program.\n");
            outcome = CommandOutcome::kStopped;
            break;
          }
          if (!have_chunk) {
            params.address = walk.Next();
            have_chunk = true;
          }
          if (walk.block() > c.end_sector) {
            // Only several chips side by side can outgrow the blocks: the
            // walk counts one chip's bytes.
            log_.Error("Error: program file too large, program failed.\n");
            outcome = CommandOutcome::kFailed;
            break;
          }
          std::fill(buffer.begin(), buffer.end(), 0xFF);
          PackLoaderParams(buffer.data(), params, LittleEndian());
          program.Read(buffer.data() + kLoaderParamsSize, kChunk);
          if (!link_->FillMemory(c.ram_address + layout.params, buffer.data(),
                                 static_cast<std::uint32_t>(buffer.size()), 4)) {
            outcome = CommandOutcome::kFailed;
            break;
          }
          if (settings().debug != 0) {
            if (!WriteDebugImage(DebugFileName(debug.written), buffer.data(), buffer.size()))
              debug.failed = true;
            if (++debug.written >= settings().debug_count) {
              outcome = debug.failed ? CommandOutcome::kFailed : CommandOutcome::kSucceeded;
              break;
            }
            continue;
          }
          const RunResult run =
              RunLoader(layout, {"Info: programming, waiting %d s", "Info: user stop program.\n",
                                 "Error: time out, program failed.\n"});
          if (run != RunResult::kDone) {
            outcome = run == RunResult::kStopped ? CommandOutcome::kStopped : CommandOutcome::kFailed;
            break;
          }
          link_->ClearAllBreakpoints();
          if (c.auto_verify != 0) {
            std::uint32_t result = 0;
            link_->ReadMemory(c.ram_address + layout.params + kResultByteOffset, &result, 1);
            if (result == 1) {
              log_.Error("Error: verify error, program failed.\n");
              outcome = CommandOutcome::kFailed;
              break;
            }
          }
          frontend_.SetProgressPosition(static_cast<int>(walk.total() / 256 + 1));
          if (walk.total() + kChunk >= length) {
            completed = true;
            break;
          }
          walk.Done();
          have_chunk = false;
        }
      }
      program.Close();
    } catch (const FileException& exception) {
      EndProgress();
      log_.Error(FileExceptionLine(exception, ", program failed.\n"));
      outcome = CommandOutcome::kFailed;
    }
  }
  RemoveConvertedFile(program_name);
  EndProgress();
  if (completed)
    log_.Info(c.auto_verify != 0 ? "Info: program suceess.\n" : "Info: program completed.\n");
  return outcome;
}

CommandOutcome Workbench::NandUpload() {
  log_.Info("Info: start upload...\n");
  const TargetConfig& c = config();
  const LoaderLayout& layout = kSecondFamilyLayout;
  LoaderFile loader;
  if (!PrepareLoader(loader, layout)) return CommandOutcome::kFailed;
  const std::string& name = c.upload_file;
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
  CommandOutcome outcome = CommandOutcome::kSucceeded;
  bool completed = false;
  try {
    if (!WriteLoaderImage(loader, layout)) return CommandOutcome::kFailed;
    BeginProgress(c.end_sector - c.start_sector + 1);
    LoaderParams params = NandChunkParams(16);
    ChunkWalk walk(flash_, bad_block_table_, c.start_sector, c.flash_address);
    DebugCounter debug;
    std::vector<std::uint8_t> data(kChunk);
    bool have_chunk = false;
    while (true) {
      if (StopRequested()) {
        log_.Info("Info: user stop program.\n");
        outcome = CommandOutcome::kStopped;
        break;
      }
      if (!have_chunk) {
        params.address = walk.Next();
        have_chunk = true;
      }
      if (walk.block() > c.end_sector) {
        completed = true;
        break;
      }
      std::uint8_t block[kLoaderParamsSize];
      PackLoaderParams(block, params, LittleEndian());
      if (!link_->FillMemory(c.ram_address + layout.params, block, kLoaderParamsSize, 4)) {
        outcome = CommandOutcome::kFailed;
        break;
      }
      if (settings().debug != 0) {
        if (!WriteDebugImage(DebugFileName(debug.written), block, kLoaderParamsSize))
          debug.failed = true;
        if (++debug.written >= settings().debug_count) {
          outcome = debug.failed ? CommandOutcome::kFailed : CommandOutcome::kSucceeded;
          break;
        }
        continue;
      }
      const RunResult run =
          RunLoader(layout, {"Info: programming, waiting %d s", "Info: user stop program.\n",
                             "Error: time out, program failed.\n"});
      if (run != RunResult::kDone) {
        outcome = run == RunResult::kStopped ? CommandOutcome::kStopped : CommandOutcome::kFailed;
        break;
      }
      link_->ClearAllBreakpoints();
      if (!link_->DumpMemory(c.ram_address + layout.data, data.data(), kChunk, 4)) {
        log_.Error("Error: read Flash memory failed.\n");
        outcome = CommandOutcome::kFailed;
        break;
      }
      file.Write(data.data(), kChunk);
      frontend_.SetProgressPosition(walk.block() - c.start_sector + 1);
      walk.Done();
      have_chunk = false;
    }
    file.Close();
  } catch (const FileException& exception) {
    EndProgress();
    log_.Error(FileExceptionLine(exception, ", program failed.\n"));
    return CommandOutcome::kFailed;
  }
  EndProgress();
  if (completed) log_.Info("Info: upload success.\n");
  return outcome;
}

CommandOutcome Workbench::NandVerify() {
  log_.Info("Info: start verify...\n");
  const TargetConfig& c = config();
  const LoaderLayout& layout = kSecondFamilyLayout;
  LoaderFile loader;
  if (!PrepareLoader(loader, layout)) return CommandOutcome::kFailed;
  std::string program_name = c.program_file;
  if (!ResolveProgramFile(program_name)) {
    RemoveConvertedFile(program_name);
    log_.Error("Error: convert Intel Hex format file failed, program stop.\n");
    return CommandOutcome::kFailed;
  }
  CommandOutcome outcome = CommandOutcome::kSucceeded;
  bool completed = false;
  {
    BinaryFile program;
    try {
      if (!CheckFileName(program_name, log_)) {
        log_.Error("Error: cannot find program file.\n");
        outcome = CommandOutcome::kFailed;
      } else if (!program.OpenForReading(program_name)) {
        log_.Error("Error: open program file failed.\n");
        outcome = CommandOutcome::kFailed;
      } else if (const std::uint64_t length = program.Length(); length > NandCapacity()) {
        log_.Error("Error: program file too large, verify failed.\n");
        outcome = CommandOutcome::kFailed;
      } else if (!WriteLoaderImage(loader, layout)) {
        outcome = CommandOutcome::kFailed;
      } else {
        BeginProgress(static_cast<int>(length / 256));
        LoaderParams params = NandChunkParams(17);
        ChunkWalk walk(flash_, bad_block_table_, c.start_sector, c.flash_address);
        DebugCounter debug;
        std::vector<std::uint8_t> flash(kChunk);
        std::vector<std::uint8_t> data(kChunk);
        bool have_chunk = false;
        while (true) {
          if (StopRequested()) {
            log_.Info("Info: user stop program.\n");
            outcome = CommandOutcome::kStopped;
            break;
          }
          if (!have_chunk) {
            params.address = walk.Next();
            have_chunk = true;
          }
          if (walk.block() > c.end_sector) {
            log_.Error("Error: program file too large, verify failed.\n");
            outcome = CommandOutcome::kFailed;
            break;
          }
          std::uint8_t block[kLoaderParamsSize];
          PackLoaderParams(block, params, LittleEndian());
          if (!link_->FillMemory(c.ram_address + layout.params, block, kLoaderParamsSize, 4)) {
            outcome = CommandOutcome::kFailed;
            break;
          }
          if (settings().debug != 0) {
            if (!WriteDebugImage(DebugFileName(debug.written), block, kLoaderParamsSize))
              debug.failed = true;
            if (++debug.written >= settings().debug_count) {
              outcome = debug.failed ? CommandOutcome::kFailed : CommandOutcome::kSucceeded;
              break;
            }
            continue;
          }
          const RunResult run =
              RunLoader(layout, {"Info: programming, waiting %d s", "Info: user stop program.\n",
                                 "Error: time out, program failed.\n"});
          if (run != RunResult::kDone) {
            outcome = run == RunResult::kStopped ? CommandOutcome::kStopped : CommandOutcome::kFailed;
            break;
          }
          link_->ClearAllBreakpoints();
          if (!link_->DumpMemory(c.ram_address + layout.data, flash.data(), kChunk, 4)) {
            log_.Error("Error: read Flash memory failed.\n");
            outcome = CommandOutcome::kFailed;
            break;
          }
          const std::size_t got = program.Read(data.data(), kChunk);
          bool differs = false;
          for (std::size_t i = 0; i < got; ++i) {
            if (flash[i] != data[i]) {
              log_.Error(FormatText("Error: verify failed, different at address 0x%08x.\n",
                                    static_cast<std::uint32_t>(walk.total() + i)));
              differs = true;
              break;
            }
          }
          if (differs) {
            outcome = CommandOutcome::kFailed;
            break;
          }
          frontend_.SetProgressPosition(static_cast<int>((walk.total() + kChunk) / 256));
          if (walk.total() + kChunk >= length) {
            completed = true;
            break;
          }
          walk.Done();
          have_chunk = false;
        }
      }
      program.Close();
    } catch (const FileException& exception) {
      EndProgress();
      log_.Error(FileExceptionLine(exception, ", program failed.\n"));
      outcome = CommandOutcome::kFailed;
    }
  }
  RemoveConvertedFile(program_name);
  EndProgress();
  if (completed) log_.Info("Info: verify success.\n");
  return outcome;
}

CommandOutcome Workbench::NandGetDeviceCode() {
  log_.Info("Info: start get flash device code...\n");
  BeginProgress(100);
  const TargetConfig& c = config();
  const LoaderLayout& layout = kSecondFamilyLayout;
  CommandOutcome outcome = CommandOutcome::kFailed;
  bool have_value = false;
  std::uint32_t value = 0;
  {
    LoaderFile loader;
    try {
      if (PrepareLoader(loader, layout) && WriteLoaderImage(loader, layout)) {
        LoaderParams params;
        params.operation = 18;
        params.width_bytes = static_cast<std::uint8_t>(WidthBytes());
        params.chips = static_cast<std::uint8_t>(Chips());
        params.auto_verify = static_cast<std::uint8_t>(c.auto_verify);
        params.flash_start = c.flash_address;
        DebugCounter debug;
        while (true) {
          if (StopRequested()) {
            log_.Info("Info: user stop get flash device code.\n");
            outcome = CommandOutcome::kStopped;
            break;
          }
          std::uint8_t block[kLoaderParamsSize];
          PackLoaderParams(block, params, LittleEndian());
          if (!link_->FillMemory(c.ram_address + layout.params, block, kLoaderParamsSize, 4))
            break;
          if (settings().debug != 0) {
            if (!WriteDebugImage(DebugFileName(debug.written), block, kLoaderParamsSize))
              debug.failed = true;
            if (++debug.written >= settings().debug_count) {
              outcome = debug.failed ? CommandOutcome::kFailed : CommandOutcome::kSucceeded;
              break;
            }
            continue;
          }
          const RunResult run = RunLoader(layout, {"Info: getting device ID, please wait %d s.\n",
                                                   "Info: user stop get flash device code.\n",
                                                   "Error: time out, get device code failed.\n"});
          if (run == RunResult::kStopped) outcome = CommandOutcome::kStopped;
          if (run != RunResult::kDone) break;
          link_->ClearAllBreakpoints();
          if (!link_->ReadMemory(c.ram_address + layout.params + kDeviceCodeOffset, &value, 4)) {
            log_.Error("Error: read memory failed, get device code failed.\n");
          } else {
            have_value = true;
            frontend_.SetProgressPosition(100);
          }
          break;
        }
      }
    } catch (const FileException& exception) {
      EndProgress();
      log_.Error(FileExceptionLine(exception, ", get device code failed.\n"));
      target_test_flag_ = false;
      return CommandOutcome::kFailed;
    }
  }
  frontend_.StopAnimation();
  std::this_thread::sleep_for(std::chrono::milliseconds(2));
  frontend_.SetProgressPosition(0);
  if (have_value) {
    const std::uint32_t expected =
        static_cast<std::uint32_t>(flash_.manufacturer_code) * 256 + flash_.device_code;
    if (value == expected) {
      log_.Info(FormatText("Info: device code is 0x%X, target test success.\n", expected));
      outcome = CommandOutcome::kSucceeded;
    } else {
      log_.Info(FormatText("Info: device code is 0x%X, read value is 0x%X, target test failed.\n",
                           expected, value));
      outcome = CommandOutcome::kFailed;
    }
  }
  target_test_flag_ = false;
  return outcome;
}

}  // namespace romsmith
