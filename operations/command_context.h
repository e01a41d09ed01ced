// What a command body works with and what it gives back. A body is a plain
// function over a CommandContext: the bound target, the message log, the
// front end, a snapshot of the configuration taken when the command started,
// and the stop event. It returns its result as a value and keeps no state of
// its own, so it runs the same on the worker thread and in a test.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "operations/target_link.h"
#include "platform/event.h"
#include "reporting/frontend.h"
#include "reporting/message_log.h"
#include "target_data/cpu_database.h"
#include "target_data/flash_database.h"
#include "target_data/flash_family.h"
#include "target_data/program_settings.h"
#include "target_data/target_config.h"

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
  // Not a flash command: reads the selected CPU's registers, without the
  // board initialisation the flash commands run first.
  kRegisterRead = 100,
};

// How a command ended. kNone until a command has run.
enum class CommandOutcome { kNone, kSucceeded, kFailed, kStopped };

inline constexpr std::size_t kBadBlockTableSize = 8192;
// One flag a block; 1 marks a bad block.
using BadBlockTable = std::array<std::uint8_t, kBadBlockTableSize>;

// What the front end learns of a finished command.
struct CommandResult {
  CommandOutcome outcome = CommandOutcome::kFailed;
  // The body ran to its end (a debug-mode run that ended by its file count
  // succeeds without completing).
  bool completed = false;
  // Check block (and a chunked NAND command that ran it first): the table
  // with the groups it checked.
  std::optional<BadBlockTable> bad_blocks;
  // Register read: the selected CPU's rows with the values read.
  std::vector<CpuRegister> registers;
  // Beside `bad_blocks`: which blocks have been checked.
  std::optional<BadBlockTable> checked_blocks = std::nullopt;
  // The user cancelled at a question (an upload's overwrite question): the
  // outcome is a stop, and nothing was logged for it.
  bool cancelled = false;
};

struct CommandReport {
  CommandCode code = CommandCode::kNone;
  CommandResult result;
};

// The configuration one command works on, copied when it starts: nothing the
// front end changes while it runs reaches it.
struct CommandSnapshot {
  CommandCode code = CommandCode::kNone;
  TargetConfig config;
  CpuRecord cpu;
  FlashDevice flash;
  CommandSet command_set;
  ProgramSettings settings;
  BadBlockTable bad_blocks{};
  // 1 for each block a check block has looked at since the front end
  // started: the marks of the others are not known.
  BadBlockTable checked_blocks{};
  // The target test: read-back checks and the RAM test in the board
  // initialisation.
  bool target_test = false;
};

struct CommandContext {
  TargetLink& link;
  MessageLog& log;
  Frontend& frontend;
  const CommandSnapshot& job;
  const platform::Event& stop;
  // Between two status polls of a running loader.
  std::chrono::milliseconds poll_interval{100};
  // The board's family traits, resolved once from the snapshot's names.
  DeviceFamily family = ResolveDeviceFamily(job.config);

  const TargetConfig& config() const { return job.config; }
  const ProgramSettings& settings() const { return job.settings; }
  const FlashDevice& flash() const { return job.flash; }
  const CommandSet& command_set() const { return job.command_set; }

  bool StopRequested() const { return stop.IsSet(); }
  platform::MessageAnswer Ask(const std::string& text, platform::MessageIcon icon,
                              platform::MessageButtons buttons) const {
    return frontend.Ask({text, "Romsmith", icon, buttons});
  }

  // Progress conventions: range (0, high) and the animation before a loop;
  // animation stopped and bar at 0 when the body ends, on every path.
  void BeginProgress(int high, bool animate = true) const;
  void EndProgress() const;

  // Geometry of the selected flash: sector sizes count every chip side by
  // side.
  bool LittleEndian() const { return config().IsLittleEndian(); }
  std::uint32_t WidthBytes() const;
  std::uint32_t Chips() const;
  std::uint32_t SectorOffset(std::int32_t sector) const;
  std::uint32_t SectorBytes(std::int32_t sector) const;
  // Bytes from the first to the last selected sector.
  std::uint32_t SelectedLength() const;
};

}  // namespace romsmith
