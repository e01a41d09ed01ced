// The commands that change flash through a loader program in target RAM:
// the loader preparation and run protocol, and erase, program, protect and
// the device-code test of the first loader family.
#include <algorithm>
#include <system_error>
#include <thread>
#include <vector>

#include "formats/data_file.h"
#include "formats/intel_hex.h"
#include "operations/file_checks.h"
#include "operations/workbench.h"
#include "platform/paths.h"
#include "target_data/text.h"

namespace romsmith {
namespace {

bool StartsWith(const std::string& text, const char* prefix) {
  return text.rfind(prefix, 0) == 0;
}

void RemoveFile(const std::string& path) {
  if (path.empty()) return;
  std::error_code ignored;
  std::filesystem::remove(path, ignored);
}

// The file-exception line of a loader body.
std::string FileExceptionLine(const FileException& exception, const char* tail) {
  return "Error: file exception, " + LowerCase(FileErrorText(exception.cause)) + tail;
}

}  // namespace

Workbench::LoaderFile::~LoaderFile() {
  if (file.IsOpen()) {
    try {
      file.Close();
    } catch (const FileException&) {
    }
  }
  RemoveFile(decoded);
}

// ---------------------------------------------------------------- support

bool Workbench::PrepareLoader(LoaderFile& loader, const LoaderLayout&) {
  loader.path = LoaderFilePath(cpu_, config().cpu_endian, platform::ProgramDirectoryText());
  if (settings().plain_loaders == 0) {
    // A failed decode shows when the copy is looked for.
    const std::string copy = loader.path + ".ddl";
    loader.decoded = copy;
    DecodeDataFile(loader.path, copy);
    loader.path = copy;
  }
  if (!CheckFileName(loader.path, log_)) {
    log_.Error("Error: cannot find execute file.\n");
    return false;
  }
  if (!loader.file.OpenForReading(loader.path)) {
    log_.Error("Error: open execute file failed.\n");
    return false;
  }
  return true;
}

bool Workbench::WriteLoaderImage(LoaderFile& loader, const LoaderLayout& layout) {
  const std::uint64_t length = loader.file.Length();
  if (length > layout.image_size) {
    // The image would run into the parameter block the host writes behind
    // its area.
    log_.Error(FormatText("Error: execute file is %llu bytes, more than the %u bytes of its "
                          "area, command stopped.\n",
                          static_cast<unsigned long long>(length), layout.image_size));
    return false;
  }
  std::vector<std::uint8_t> image(layout.image_size, 0xFF);
  loader.file.Read(image.data(), image.size());
  link_->FillMemory(config().ram_address, image.data(), layout.image_size, 4);
  return true;
}

Workbench::RunResult Workbench::RunLoader(const LoaderLayout& layout, const RunLines& lines) {
  const std::uint32_t ram = config().ram_address;
  std::uint32_t number = 0;
  const bool pc_set = link_->SetPC(ram);
  const bool breakpoint_set = link_->SetBreakpoint(ram + layout.breakpoint, &number);
  const bool started = link_->RunTarget();
  if (!pc_set || !breakpoint_set || !started) {
    log_.Error("Error: execute file failed.\n");
    return RunResult::kFailed;
  }
  const std::int32_t polls = settings().time_out_polls;
  std::int32_t i = 0;
  bool stopped = false;
  bool status_failed = false;
  while (i < polls) {
    bool running = false;
    if (!link_->GetTargetStatus(&running)) {
      status_failed = true;
      break;
    }
    if (!running) break;
    std::this_thread::sleep_for(poll_interval_);
    if (StopRequested()) {
      stopped = true;
      break;
    }
    if (i != 0 && i % 10 == 0) log_.Info(FormatText(lines.waiting, i / 10));
    ++i;
  }
  if (stopped) {
    log_.Info(lines.user_stop);
    return RunResult::kStopped;
  }
  if (status_failed) {
    log_.Error("Error: get target status failed.\n");
    return RunResult::kFailed;
  }
  if (i >= polls) {
    log_.Error(lines.time_out);
    return RunResult::kFailed;
  }
  link_->ClearAllBreakpoints();
  return RunResult::kDone;
}

bool Workbench::WriteDebugImage(const std::string& file_name, const std::uint8_t* bytes,
                                std::size_t count) {
  BinaryFile file;
  if (!file.CreateForWriting(file_name)) {
    log_.Error("Error: open debug file failed.\n");
    return false;
  }
  file.Write(bytes, count);
  file.Close();
  log_.Info("Info: output debug file success.\n");
  return true;
}

std::string Workbench::DebugFileName(std::uint32_t counter, const char* infix) const {
  return settings().debug_file + infix + std::to_string(counter);
}

bool Workbench::IsIntelHex() const { return config().format == "Intel Hex"; }

bool Workbench::ResolveProgramFile(std::string& out) {
  if (config().format == "Intel Hex") {
    out = config().program_file + ".bin";
    return HexToBinary(config().program_file, out);
  }
  if (config().format == "Flat Bin") out = config().program_file;
  return true;
}

void Workbench::RemoveConvertedFile(const std::string& converted) const {
  // Only a file this command converted is removed: with any other format
  // the name is the user's own program file.
  if (IsIntelHex()) RemoveFile(converted);
}

namespace {

// Ends a debug run: the outcome once the last debug file is written.
struct DebugRun {
  std::uint32_t written = 0;
  bool failed = false;
};

}  // namespace

// ---------------------------------------------------------------- erase, protect

CommandOutcome Workbench::Erase() { return SectorCommand(true); }
CommandOutcome Workbench::Protect() { return SectorCommand(false); }

CommandOutcome Workbench::SectorCommand(bool erase) {
  const char* tail = erase ? ", erase failed.\n" : ", protect failed.\n";
  const RunLines lines = erase ? RunLines{"Info: erasing, waiting %d s.\n", "Info: user stop erase.\n",
                                          "Error: time out, erase failed.\n"}
                               : RunLines{"Info: protecting, waiting %d s",
                                          "Info: user stop protect.\n",
                                          "Error: time out, protect failed.\n"};
  log_.Info(erase ? "Info: start erase...\n" : "Info: start protect...\n");
  LoaderFile loader;
  if (!PrepareLoader(loader, kFirstFamilyLayout)) return CommandOutcome::kFailed;

  const TargetConfig& c = config();
  const std::string& chip = c.flash_chip;
  const bool lpc = erase && StartsWith(chip, "LPC");
  bool sector_mode = lpc || StartsWith(chip, "STR71x");
  // The database holds no chip protect sequence: a whole-chip protect goes
  // sector by sector.
  static const CommandSequence kNoSequence;
  const CommandSequence& chip_sequence = erase ? command_set_.chip_erase : kNoSequence;
  const CommandSequence& sector_sequence =
      erase ? command_set_.sector_erase : command_set_.sector_protect;
  if (!sector_mode) {
    const bool whole = c.start_sector == 0 && c.end_sector == flash_.sector_count() - 1;
    if (whole) {
      if (chip_sequence.count == 0) {
        if (sector_sequence.count == 0) {
          log_.Error(erase ? "Info: the chip does not support erase function, erase end.\n"
                           : "Info: the chip does not support protect function, protect end.\n");
          return CommandOutcome::kFailed;
        }
        log_.Info(erase ? "Info: not support chip erase, use sector erase.\n"
                        : "Info: not support chip protect, use sector protect.\n");
        sector_mode = true;
      }
    } else {
      if (sector_sequence.count == 0) {
        if (erase)
          log_.Info("Info: the chip does not support sector erase function, erase end.\n");
        else
          log_.Error("Info: the chip does not support sector protect function, protect end.\n");
        return CommandOutcome::kFailed;
      }
      sector_mode = true;
    }
  }

  LoaderParams params;
  params.operation = erase ? 3 : 5;
  std::uint32_t sector_cycles = 0;
  params.cycle_count = BuildCycles(sector_mode ? sector_sequence : chip_sequence, WidthBytes(),
                                   Chips(), c.flash_address, params, &sector_cycles);
  params.width_bytes = static_cast<std::uint8_t>(WidthBytes());
  params.chips = static_cast<std::uint8_t>(Chips());
  params.program_mode = static_cast<std::uint8_t>(command_set_.program_mode);
  params.auto_verify = static_cast<std::uint8_t>(c.auto_verify);
  params.flash_start = c.flash_address;
  params.address = c.flash_address + SectorOffset(c.start_sector);
  params.length = 0;

  CommandOutcome outcome = CommandOutcome::kSucceeded;
  bool completed = false;
  try {
    if (!WriteLoaderImage(loader, kFirstFamilyLayout)) return CommandOutcome::kFailed;
    BeginProgress(c.end_sector - c.start_sector + 1);
    DebugRun debug;
    std::int32_t k = c.start_sector;
    while (true) {
      if (StopRequested()) {
        log_.Info(lines.user_stop);
        outcome = CommandOutcome::kStopped;
        break;
      }
      if (sector_mode) {
        params.address = c.flash_address + SectorOffset(k);
        SetSectorAddressCycles(params, sector_cycles, params.address);
      }
      if (lpc) {
        params.cycle_count = static_cast<std::uint8_t>(k);
        params.width_bytes = static_cast<std::uint8_t>(k);
        params.flash_start = static_cast<std::uint32_t>(settings().lpc_frequency);
      }
      std::uint8_t block[kLoaderParamsSize];
      std::fill(std::begin(block), std::end(block), 0xFF);
      PackLoaderParams(block, params, LittleEndian());
      if (!link_->FillMemory(c.ram_address + kFirstFamilyLayout.params, block,
                             kLoaderParamsSize, 4)) {
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
      const RunResult run = RunLoader(kFirstFamilyLayout, lines);
      if (run != RunResult::kDone) {
        outcome = run == RunResult::kStopped ? CommandOutcome::kStopped : CommandOutcome::kFailed;
        break;
      }
      if (!sector_mode) {
        completed = true;
        break;
      }
      frontend_.SetProgressPosition(k - c.start_sector + 1);
      if (++k > c.end_sector) {
        completed = true;
        break;
      }
    }
  } catch (const FileException& exception) {
    EndProgress();
    log_.Error(FileExceptionLine(exception, tail));
    return CommandOutcome::kFailed;
  }
  if (completed && erase) erase_succeeded_ = true;
  frontend_.StopAnimation();
  if (completed && !sector_mode) std::this_thread::sleep_for(std::chrono::milliseconds(2));
  frontend_.SetProgressPosition(0);
  if (completed) log_.Info(erase ? "Info: erase completed.\n" : "Info: protect completed.\n");
  return outcome;
}

// ---------------------------------------------------------------- program

CommandOutcome Workbench::Program() {
  const TargetConfig& c = config();
  if (c.auto_erase != 0) {
    erase_succeeded_ = false;
    const CommandOutcome erased = Erase();
    if (!erase_succeeded_)
      return erased == CommandOutcome::kSucceeded ? CommandOutcome::kSucceeded : erased;
  }
  log_.Info("Info: start program...\n");
  LoaderFile loader;
  if (!PrepareLoader(loader, kFirstFamilyLayout)) return CommandOutcome::kFailed;

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
      } else {
        const std::uint64_t length = program.Length();
        if (length > SelectedRange().length) {
          log_.Error("Error: program file too large, program failed.\n");
          outcome = CommandOutcome::kFailed;
        } else if (!WriteLoaderImage(loader, kFirstFamilyLayout)) {
          outcome = CommandOutcome::kFailed;
        } else {
          LoaderParams params;
          params.operation = 4;
          params.cycle_count =
              BuildCycles(command_set_.program, WidthBytes(), Chips(), c.flash_address, params);
          params.width_bytes = static_cast<std::uint8_t>(WidthBytes());
          params.chips = static_cast<std::uint8_t>(Chips());
          params.program_mode = settings().load_sector_data == 1
                                    ? 1
                                    : static_cast<std::uint8_t>(command_set_.program_mode);
          params.auto_verify = static_cast<std::uint8_t>(c.auto_verify);
          params.flash_start = c.flash_address;
          const bool whole_sectors = params.program_mode == 1;
          const bool lpc = StartsWith(c.flash_chip, "LPC");
          const std::uint32_t base = c.flash_address + SectorOffset(c.start_sector);
          // LPC loaders take sector indexes: the sectors whose end (in the
          // stored sizes) lies at or below a flash offset.
          const auto sectors_below = [this](std::uint64_t offset) {
            std::uint64_t end = 0;
            std::uint32_t count = 0;
            for (std::int32_t s = 0; s < flash_.sector_count(); ++s) {
              end += static_cast<std::uint32_t>(flash_.sector_sizes[s]);
              if (end > offset) break;
              ++count;
            }
            return static_cast<std::uint8_t>(count);
          };

          BeginProgress(static_cast<int>(length / 256));
          DebugRun debug;
          std::uint64_t done = 0;
          std::int32_t k = c.start_sector;
          std::vector<std::uint8_t> buffer;
          while (true) {
            if (StopRequested()) {
              log_.Info("Info: user stop program.\n");
              outcome = CommandOutcome::kStopped;
              break;
            }
            const std::uint32_t chunk_address = base + static_cast<std::uint32_t>(done);
            const std::uint32_t chunk_length = whole_sectors ? SectorBytes(k) : 1024;
            if (chunk_length == 0) {
              log_.Error("Error: program file too large, program failed.\n");
              outcome = CommandOutcome::kFailed;
              break;
            }
            if (lpc) {
              const std::uint64_t offset = chunk_address - c.flash_address;
              params.cycle_count = sectors_below(offset);
              params.width_bytes = sectors_below(offset + chunk_length);
              params.flash_start = static_cast<std::uint32_t>(settings().lpc_frequency);
            }
            params.address = chunk_address;
            params.length = chunk_length;
            buffer.assign(chunk_length + kLoaderParamsSize, 0xFF);
            PackLoaderParams(buffer.data(), params, LittleEndian());
            program.Read(buffer.data() + kLoaderParamsSize, chunk_length);
            if (!link_->FillMemory(c.ram_address + kFirstFamilyLayout.params, buffer.data(),
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
            const RunResult run = RunLoader(kFirstFamilyLayout,
                                            {"Info: programming, waiting %d s",
                                             "Info: user stop program.\n",
                                             "Error: time out, program failed.\n"});
            if (run != RunResult::kDone) {
              outcome =
                  run == RunResult::kStopped ? CommandOutcome::kStopped : CommandOutcome::kFailed;
              break;
            }
            if (c.auto_verify != 0) {
              std::uint32_t result = 0;
              link_->ReadMemory(c.ram_address + kFirstFamilyLayout.params + kResultByteOffset,
                                &result, 1);
              if (result == 1) {
                log_.Error("Error: verify error, program failed.\n");
                outcome = CommandOutcome::kFailed;
                break;
              }
            }
            frontend_.SetProgressPosition(static_cast<int>(done / 256 + 1));
            if (done + chunk_length >= length) {
              completed = true;
              break;
            }
            if (whole_sectors) {
              done += SectorBytes(k);
              ++k;
            } else {
              done += 1024;
            }
          }
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

// ---------------------------------------------------------------- device code

CommandOutcome Workbench::GetDeviceCode() {
  log_.Info("Info: start get flash device code...\n");
  BeginProgress(100);
  const TargetConfig& c = config();
  CommandOutcome outcome = CommandOutcome::kFailed;
  bool have_value = false;
  std::uint32_t value = 0;
  {
    LoaderFile loader;
    try {
      if (PrepareLoader(loader, kFirstFamilyLayout) &&
          WriteLoaderImage(loader, kFirstFamilyLayout)) {
        LoaderParams params;
        params.operation = 8;
        params.cycle_count = BuildCycles(command_set_.read_device_code, WidthBytes(), Chips(),
                                         c.flash_address, params);
        params.width_bytes = static_cast<std::uint8_t>(WidthBytes());
        params.chips = static_cast<std::uint8_t>(Chips());
        params.auto_verify = static_cast<std::uint8_t>(c.auto_verify);
        params.flash_start = c.flash_address;
        DebugRun debug;
        while (true) {
          if (StopRequested()) {
            log_.Info("Info: user stop get flash device code.\n");
            outcome = CommandOutcome::kStopped;
            break;
          }
          std::uint8_t block[kLoaderParamsSize];
          PackLoaderParams(block, params, LittleEndian());
          if (!link_->FillMemory(c.ram_address + kFirstFamilyLayout.params, block,
                                 kLoaderParamsSize, 4))
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
          const RunResult run = RunLoader(kFirstFamilyLayout,
                                          {"Info: getting device ID, please wait %d s.\n",
                                           "Info: user stop get flash device code.\n",
                                           "Error: time out, get device code failed.\n"});
          if (run == RunResult::kStopped) outcome = CommandOutcome::kStopped;
          if (run != RunResult::kDone) break;
          link_->ClearAllBreakpoints();
          if (!link_->ReadMemory(c.ram_address + kFirstFamilyLayout.params + kDeviceCodeOffset,
                                 &value, 4)) {
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
    const std::uint32_t id = flash_.device_code;
    if (value == id) {
      log_.Info(FormatText("Info: device code is 0x%X, target test success.\n", id));
      outcome = CommandOutcome::kSucceeded;
    } else if (value == id + id * 0x100) {
      log_.Info(FormatText("Info: device code is 0x%X, read value is 0x%X, target test success.\n",
                           id, value));
      outcome = CommandOutcome::kSucceeded;
    } else if (value == id + id * 0x10000) {
      log_.Info(FormatText(
          "Info: device code is 0x%X, read value is 0x%08X, target test success.\n", id, value));
      outcome = CommandOutcome::kSucceeded;
    } else {
      log_.Info(FormatText("Info: device code is 0x%X, read value is 0x%X, target test failed.\n",
                           id, value));
      outcome = CommandOutcome::kFailed;
    }
  }
  target_test_flag_ = false;
  return outcome;
}

CommandOutcome Workbench::SoftwareIdExit() {
  BeginProgress(100);
  const TargetConfig& c = config();
  CommandOutcome outcome = CommandOutcome::kFailed;
  {
    LoaderFile loader;
    try {
      if (PrepareLoader(loader, kFirstFamilyLayout) &&
          WriteLoaderImage(loader, kFirstFamilyLayout)) {
        LoaderParams params;
        params.operation = 8;
        params.cycle_count =
            BuildCycles(command_set_.read_mode, WidthBytes(), Chips(), c.flash_address, params);
        params.width_bytes = static_cast<std::uint8_t>(WidthBytes());
        params.chips = static_cast<std::uint8_t>(Chips());
        params.auto_verify = static_cast<std::uint8_t>(c.auto_verify);
        params.flash_start = c.flash_address;
        DebugRun debug;
        while (true) {
          if (StopRequested()) {
            log_.Info("Info: user stop software ID exit command sequence.\n");
            outcome = CommandOutcome::kStopped;
            break;
          }
          std::uint8_t block[kLoaderParamsSize];
          PackLoaderParams(block, params, LittleEndian());
          if (!link_->FillMemory(c.ram_address + kFirstFamilyLayout.params, block,
                                 kLoaderParamsSize, 4))
            break;
          if (settings().debug != 0) {
            if (!WriteDebugImage(DebugFileName(debug.written, "0"), block, kLoaderParamsSize))
              debug.failed = true;
            if (++debug.written >= settings().debug_count) {
              outcome = debug.failed ? CommandOutcome::kFailed : CommandOutcome::kSucceeded;
              break;
            }
            continue;
          }
          const RunResult run = RunLoader(kFirstFamilyLayout,
                                          {"Info: exiting software ID, waiting %d s.\n",
                                           "Info: user stop software ID exit command.\n",
                                           "Error: time out, software ID exit command failed.\n"});
          if (run == RunResult::kDone) {
            frontend_.SetProgressPosition(100);
            outcome = CommandOutcome::kSucceeded;
          } else if (run == RunResult::kStopped) {
            outcome = CommandOutcome::kStopped;
          }
          break;
        }
      }
    } catch (const FileException& exception) {
      EndProgress();
      log_.Error(FileExceptionLine(exception, ", get device code failed.\n"));
      return CommandOutcome::kFailed;
    }
  }
  EndProgress();
  return outcome;
}

}  // namespace romsmith
