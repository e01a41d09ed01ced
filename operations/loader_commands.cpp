// The commands that change flash through a loader of the first family:
// erase and protect (the whole chip in one run, or sector by sector),
// program (1024-byte chunks or whole sectors) and the device-code test.
#include <thread>

#include "operations/command_bodies.h"
#include "operations/image_program.h"
#include "operations/loader_job.h"
#include "operations/lpc_vector_checksum.h"
#include "operations/stream_program.h"
#include "platform/text.h"

namespace romsmith {
namespace {

// ---------------------------------------------------------------- erase, protect

// The words and sequences that set erase and protect apart.
struct SectorCommand {
  LoaderOperation operation;
  const char* start_line;
  RunLines lines;
  const char* exception_tail;
  const char* completed_line;
  const char* use_sector_line;     // whole chip without a chip sequence
  const char* no_function_line;    // neither sequence (logged as an error)
  const char* no_sector_line;      // part of the chip without a sector sequence
  bool no_sector_line_is_error;
  FamilyTrait by_sector;           // the family trait that forces sector mode
  bool family_block;               // the family's sector indexes and frequency apply
  const CommandSequence& (*chip_sequence)(const CommandSet&);
  const CommandSequence& (*sector_sequence)(const CommandSet&);
};

// The database holds no chip protect sequence: a whole-chip protect goes
// sector by sector.
const CommandSequence& NoSequence(const CommandSet&) {
  static const CommandSequence kNone;
  return kNone;
}

const SectorCommand kErase{
    LoaderOperation::kErase,
    "Info: start erase...\n",
    {"Info: erasing, waiting %d s.\n", "Info: user stop erase.\n",
     "Error: time out, erase failed.\n"},
    ", erase failed.\n",
    "Info: erase completed.\n",
    "Info: not support chip erase, use sector erase.\n",
    "Info: the chip does not support erase function, erase end.\n",
    "Info: the chip does not support sector erase function, erase end.\n",
    false,
    FamilyTrait::kEraseBySector,
    true,
    [](const CommandSet& set) -> const CommandSequence& { return set.chip_erase; },
    [](const CommandSet& set) -> const CommandSequence& { return set.sector_erase; },
};

const SectorCommand kProtect{
    LoaderOperation::kProtect,
    "Info: start protect...\n",
    {"Info: protecting, waiting %d s", "Info: user stop protect.\n",
     "Error: time out, protect failed.\n"},
    ", protect failed.\n",
    "Info: protect completed.\n",
    "Info: not support chip protect, use sector protect.\n",
    "Info: the chip does not support protect function, protect end.\n",
    "Info: the chip does not support sector protect function, protect end.\n",
    true,
    FamilyTrait::kProtectBySector,
    false,
    NoSequence,
    [](const CommandSet& set) -> const CommandSequence& { return set.sector_protect; },
};

CommandResult RunSectorCommand(const CommandContext& context, const SectorCommand& command) {
  const TargetConfig& c = context.config();
  const DeviceFamily& family = context.family;
  const bool sector_indexes = command.family_block && family.Has(FamilyTrait::kSectorIndexes);
  const bool crystal = command.family_block && family.Has(FamilyTrait::kCrystalFrequency);
  bool sector_mode = family.Has(command.by_sector);
  const CommandSequence& chip_sequence = command.chip_sequence(context.command_set());
  const CommandSequence& sector_sequence = command.sector_sequence(context.command_set());
  LoaderParams params = BaseLoaderParams(context, command.operation);
  params.program_mode = static_cast<std::uint8_t>(context.command_set().program_mode);
  std::uint32_t sector_cycles = 0;
  std::int32_t k = c.start_sector;

  LoaderJob job;
  job.start_line = command.start_line;
  job.lines = command.lines;
  job.exception_tail = command.exception_tail;
  job.completed_line = command.completed_line;
  job.prepare = [&]() -> std::optional<int> {
    if (!sector_mode) {
      const bool whole = c.start_sector == 0 && c.end_sector == context.flash().sector_count() - 1;
      if (whole && chip_sequence.count == 0) {
        if (sector_sequence.count == 0) {
          context.log.Error(command.no_function_line);
          return std::nullopt;
        }
        context.log.Info(command.use_sector_line);
        sector_mode = true;
      } else if (!whole) {
        if (sector_sequence.count == 0) {
          context.log.Log(command.no_sector_line, command.no_sector_line_is_error,
                          command.no_sector_line_is_error);
          return std::nullopt;
        }
        sector_mode = true;
      }
    }
    params.cycle_count = BuildCycles(sector_mode ? sector_sequence : chip_sequence,
                                     context.WidthBytes(), context.Chips(), c.flash_address,
                                     params, &sector_cycles);
    params.address = c.flash_address + context.SectorOffset(c.start_sector);
    // The pause after a chip-mode run that completed.
    job.settle = sector_mode ? SettlePause::kNever : SettlePause::kWhenCompleted;
    return c.end_sector - c.start_sector + 1;
  };
  job.fill = [&](std::vector<std::uint8_t>& block) {
    if (sector_mode) {
      params.address = c.flash_address + context.SectorOffset(k);
      SetSectorAddressCycles(params, sector_cycles, params.address);
    }
    if (sector_indexes) {
      params.cycle_count = static_cast<std::uint8_t>(k);
      params.width_bytes = static_cast<std::uint8_t>(k);
    }
    if (crystal) params.flash_start = static_cast<std::uint32_t>(context.settings().lpc_frequency);
    PackBlock(context, params, block);
    return JobStep::kGoOn;
  };
  job.after_run = [&] {
    if (!sector_mode) return JobStep::kDone;
    context.frontend.SetProgressPosition(k - c.start_sector + 1);
    return ++k > c.end_sector ? JobStep::kDone : JobStep::kGoOn;
  };
  const LoaderJobResult result = RunLoaderJob(context, job);
  return {result.outcome, result.completed, std::nullopt, {}};
}

}  // namespace

CommandResult EraseBody(const CommandContext& context) {
  return RunSectorCommand(context, kErase);
}

CommandResult ProtectBody(const CommandContext& context) {
  return RunSectorCommand(context, kProtect);
}

// ---------------------------------------------------------------- program

CommandResult ProgramBody(const CommandContext& context) {
  const TargetConfig& c = context.config();
  // An image places its own bytes, sector by sector (never streamed: the
  // stream writes a flat file from the first selected sector on).
  if (c.UsesAddressImage()) return ImageProgramBody(context);
  // Streamed through the debug comms channel: a path of its own.
  if (StreamsThisProgram(context)) return StreamProgramBody(context);
  LoaderParams params = ProgramLoaderParams(context);
  const bool whole_sectors = params.program_mode == 1;
  const bool sector_indexes = context.family.Has(FamilyTrait::kSectorIndexes);
  const bool crystal = context.family.Has(FamilyTrait::kCrystalFrequency);
  const bool vector_checksum = context.family.Has(FamilyTrait::kVectorChecksum) &&
                               context.settings().lpc_vector_checksum != 0;
  const std::uint32_t base = c.flash_address + context.SectorOffset(c.start_sector);

  ProgramFile program(c);
  std::uint64_t length = 0;
  std::uint64_t done = 0;
  std::uint32_t chunk_length = 0;
  std::int32_t k = c.start_sector;

  LoaderJob job;
  job.start_line = "Info: start program...\n";
  job.lines = kProgramRunLines;
  job.exception_tail = ", program failed.\n";
  job.completed_line = ProgramCompletedLine(c);
  job.prepare = [&]() -> std::optional<int> {
    const auto opened = OpenProgramFile(context, program, context.SelectedLength(),
                                        "Error: program file too large, program failed.\n",
                                        "Error: program file is empty, program failed.\n");
    if (!opened) return std::nullopt;
    length = *opened;
    return static_cast<int>(length / 256);
  };
  // The automatic erase runs once the loader and the program file are proven
  // good: a missing, empty or oversized file erases nothing. A failed or
  // stopped erase has said why; the program never starts.
  std::optional<CommandResult> erased;
  if (c.auto_erase != 0) {
    job.before_load = [&] {
      erased = EraseBody(context);
      return erased->completed;
    };
  }
  job.fill = [&](std::vector<std::uint8_t>& block) {
    const std::uint32_t chunk_address = base + static_cast<std::uint32_t>(done);
    chunk_length = whole_sectors ? context.SectorBytes(k) : 1024;
    if (chunk_length == 0) {
      context.log.Error("Error: program file too large, program failed.\n");
      return JobStep::kFailed;
    }
    if (sector_indexes) {
      const std::uint64_t offset = chunk_address - c.flash_address;
      params.cycle_count = SectorsBelow(context, offset);
      params.width_bytes = SectorsBelow(context, offset + chunk_length);
    }
    if (crystal) params.flash_start = static_cast<std::uint32_t>(context.settings().lpc_frequency);
    params.address = chunk_address;
    params.length = chunk_length;
    // A short last read leaves 0xFF behind the data; the whole chunk goes.
    PackBlock(context, params, block, chunk_length);
    program.file().Read(block.data() + kLoaderParamsSize, chunk_length);
    if (vector_checksum && chunk_address == c.flash_address &&
        chunk_length >= kLpcVectorBytes) {
      // The chip boots this sector only when its vectors sum to zero.
      std::uint8_t* vectors = block.data() + kLoaderParamsSize;
      const bool big = !context.LittleEndian();
      const std::uint32_t file_word = LoadLpcChecksum(vectors, big);
      const std::uint32_t checksum = LpcVectorChecksum(vectors, big);
      StoreLpcChecksum(vectors, checksum, big);
      context.log.Info(FormatText("Info: LPC vector checksum 0x%08X put at 0x14 (the file holds 0x%08X).\n",
                                  checksum, file_word));
    }
    return JobStep::kGoOn;
  };
  job.after_run = [&] {
    if (CheckLoaderVerify(context, kFirstFamilyLayout) == JobStep::kFailed) return JobStep::kFailed;
    context.frontend.SetProgressPosition(static_cast<int>(done / 256 + 1));
    if (done + chunk_length >= length) return JobStep::kDone;
    if (whole_sectors) ++k;
    done += chunk_length;
    return JobStep::kGoOn;
  };
  const LoaderJobResult result = RunLoaderJob(context, job);
  if (erased && !erased->completed) return {erased->outcome, false, std::nullopt, {}};
  return {result.outcome, result.completed, std::nullopt, {}};
}

// ---------------------------------------------------------------- device code

namespace {

// One device-code run of either family; `value` holds what the loader read
// when the result is completed.
LoaderJobResult ReadDeviceCode(const CommandContext& context, const LoaderLayout& layout,
                               const LoaderParams& params, std::uint32_t& value) {
  const std::uint32_t ram = context.config().ram_address;
  LoaderJob job;
  job.start_line = "Info: start get flash device code...\n";
  job.layout = &layout;
  job.lines = {"Info: getting device ID, please wait %d s.\n",
               "Info: user stop get flash device code.\n",
               "Error: time out, get device code failed.\n"};
  job.exception_tail = ", get device code failed.\n";
  job.clear_after_run = true;
  job.settle = SettlePause::kAlways;
  job.prepare = [] { return std::optional<int>(100); };
  job.fill = [&](std::vector<std::uint8_t>& block) {
    PackBlock(context, params, block);
    return JobStep::kGoOn;
  };
  job.after_run = [&] {
    if (!context.link.ReadMemory(ram + layout.params + kDeviceCodeOffset, &value, 4)) {
      context.log.Error("Error: read memory failed, get device code failed.\n");
      return JobStep::kFailed;
    }
    context.frontend.SetProgressPosition(100);
    return JobStep::kDone;
  };
  return RunLoaderJob(context, job);
}

CommandResult DeviceCodeVerdict(const CommandContext& context, const LoaderJobResult& run,
                                std::uint32_t value, bool second_family) {
  if (!run.completed) return {run.outcome, false, std::nullopt, {}};
  const FlashDevice& flash = context.flash();
  const std::uint32_t id =
      second_family ? static_cast<std::uint32_t>(flash.manufacturer_code) * 256 + flash.device_code
                    : flash.device_code;
  if (value == id) {
    context.log.Info(FormatText("Info: device code is 0x%X, target test success.\n", id));
  } else if (!second_family && value == id + id * 0x100) {
    // Two 8-bit chips side by side.
    context.log.Info(FormatText(
        "Info: device code is 0x%X, read value is 0x%X, target test success.\n", id, value));
  } else if (!second_family && value == id + id * 0x10000) {
    // Two 16-bit chips side by side.
    context.log.Info(FormatText(
        "Info: device code is 0x%X, read value is 0x%08X, target test success.\n", id, value));
  } else {
    context.log.Info(FormatText(
        "Info: device code is 0x%X, read value is 0x%X, target test failed.\n", id, value));
    return {CommandOutcome::kFailed, true, std::nullopt, {}};
  }
  return {CommandOutcome::kSucceeded, true, std::nullopt, {}};
}

// Leaves the device's software-ID mode with the read sequence.
LoaderJobResult SoftwareIdExit(const CommandContext& context) {
  LoaderParams params = BaseLoaderParams(context, LoaderOperation::kDeviceCode);
  params.cycle_count = BuildCycles(context.command_set().read_mode, context.WidthBytes(),
                                   context.Chips(), context.config().flash_address, params);
  LoaderJob job;
  job.lines = {"Info: exiting software ID, waiting %d s.\n",
               "Info: user stop software ID exit command.\n",
               "Error: time out, software ID exit command failed.\n"};
  job.stop_line = "Info: user stop software ID exit command sequence.\n";
  job.debug_infix = "0";
  job.exception_tail = ", get device code failed.\n";
  job.prepare = [] { return std::optional<int>(100); };
  job.fill = [&](std::vector<std::uint8_t>& block) {
    PackBlock(context, params, block);
    return JobStep::kGoOn;
  };
  job.after_run = [&] {
    context.frontend.SetProgressPosition(100);
    return JobStep::kDone;
  };
  return RunLoaderJob(context, job);
}

}  // namespace

CommandResult DeviceCodeTestBody(const CommandContext& context) {
  LoaderParams params = BaseLoaderParams(context, LoaderOperation::kDeviceCode);
  params.cycle_count = BuildCycles(context.command_set().read_device_code, context.WidthBytes(),
                                   context.Chips(), context.config().flash_address, params);
  std::uint32_t value = 0;
  const LoaderJobResult read = ReadDeviceCode(context, kFirstFamilyLayout, params, value);
  const CommandResult code = DeviceCodeVerdict(context, read, value, false);
  // The exit runs whatever the device code gave.
  const LoaderJobResult exit = SoftwareIdExit(context);
  if (code.outcome == CommandOutcome::kStopped || exit.outcome == CommandOutcome::kStopped)
    return {CommandOutcome::kStopped, false, std::nullopt, {}};
  if (code.outcome != CommandOutcome::kSucceeded) return code;
  return {exit.outcome, code.completed && exit.completed, std::nullopt, {}};
}

CommandResult NandDeviceCodeBody(const CommandContext& context) {
  const LoaderParams params = BaseLoaderParams(context, LoaderOperation::kNandDeviceCode);
  std::uint32_t value = 0;
  const LoaderJobResult read = ReadDeviceCode(context, kSecondFamilyLayout, params, value);
  return DeviceCodeVerdict(context, read, value, true);
}

}  // namespace romsmith
