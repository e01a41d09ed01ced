// The board before any flash command: halt, resets, the CPU's register and
// memory rows; in the target test also their read-back and a RAM test. And
// the register read, which reads the selected CPU's registers back.
#include <algorithm>
#include <functional>

#include "operations/command_bodies.h"
#include "platform/text.h"

namespace romsmith {
namespace {

// Writes one set-up row. A failed write has logged its line and the
// initialisation goes on with the other rows, so every row that fails is
// named; `write_failed` is then set and the initialisation fails at the end.
// With `check`, a value that does not read back asks the user whether to go
// on; a failed read compares whatever it left, and the user decides.
bool WriteRow(const CommandContext& context, bool check, std::uint32_t address,
              std::uint32_t value, std::uint32_t size, bool& write_failed,
              const std::function<std::string(std::uint32_t read)>& mismatch_text) {
  if (!context.link.WriteMemory(address, value, size)) write_failed = true;
  if (!check) return true;
  std::uint32_t read = 0;
  static_cast<void>(context.link.ReadMemory(address, &read, size));
  if (read == value) return true;
  return context.Ask(mismatch_text(read), platform::MessageIcon::Question,
                     platform::MessageButtons::YesNo) == platform::MessageAnswer::Yes;
}

// The largest RAM a target test writes and reads back: 256 MiB.
constexpr std::int32_t kLargestRamTest = 256 << 20;

bool TestRam(const CommandContext& context) {
  TargetLink& link = context.link;
  const std::int32_t bytes = context.settings().test_ram_bytes;
  const std::uint32_t ram = context.config().ram_address;
  // A size that is negative, beyond what a RAM test covers or past the end
  // of the address space would test nothing or run for hours.
  if (bytes < 0 || bytes > kLargestRamTest || std::uint64_t{ram} + static_cast<std::uint64_t>(bytes) > 0x100000000u) {
    context.log.Error(FormatText("Error: test RAM size %d KiB at 0x%08X is not a RAM range to test (at most %d KiB).\n",
                                 bytes / 1024, ram, kLargestRamTest / 1024));
    return false;
  }
  const std::uint32_t size = static_cast<std::uint32_t>(bytes);
  const auto pattern = [](std::uint32_t offset) {
    return (offset % 8 == 0) ? 0x55AA55AAu : 0xAA55AA55u;
  };
  context.log.Info("Info: start test RAM...\n");
  context.BeginProgress(static_cast<int>(size));
  for (std::uint32_t offset = 0; offset + 4 <= size; offset += 4) {
    // A word that did not take its pattern fails the read pass.
    static_cast<void>(link.WriteMemory(ram + offset, pattern(offset), 4));
    context.frontend.SetProgressPosition(static_cast<int>(offset / 2));
    if (context.StopRequested()) {
      context.EndProgress();
      return false;
    }
  }
  for (std::uint32_t offset = 0; offset + 4 <= size; offset += 4) {
    std::uint32_t read = 0;
    const bool read_done = link.ReadMemory(ram + offset, &read, 4);
    if (!read_done || read != pattern(offset)) {
      context.EndProgress();
      context.Ask(FormatText("Write %08x to memory 0x%08X, but read value is 0x%08X, target test "
                             "failed!",
                             pattern(offset), ram + offset, read),
                  platform::MessageIcon::Warning, platform::MessageButtons::Ok);
      return false;
    }
    context.frontend.SetProgressPosition(static_cast<int>(size / 2 + offset / 2));
    if (context.StopRequested()) {
      context.EndProgress();
      return false;
    }
  }
  context.EndProgress();
  context.log.Info("Info: RAM test success.\n");
  return true;
}

}  // namespace

bool InitializeBoard(const CommandContext& context) {
  TargetLink& link = context.link;
  bool running = false;
  if (!link.GetTargetStatus(&running)) return false;
  // The halt after the resets is the one that must succeed. Each of these
  // steps may wait on the core, so a stop is looked at after each.
  if (running) static_cast<void>(link.StopTarget());
  if (context.StopRequested()) return false;
  if (!context.family.Has(FamilyTrait::kNoResets)) {
    for (std::int32_t i = 0; i < context.settings().reset_count; ++i)
      if (!link.ResetTarget() || context.StopRequested()) return false;
  }
  if (!link.StopTarget()) return false;

  const bool check = context.job.target_test && context.settings().register_check_prompt == 1;
  const TargetConfig& c = context.config();
  // A row the probe could not write leaves the board unready: no command
  // may then report success.
  bool write_failed = false;
  for (std::uint32_t i = 0; i < c.register_count && i < kMaxConfigRows; ++i) {
    const ConfigRegisterRow& row = c.registers[i];
    if (!WriteRow(context, check, row.address, row.value, row.size / 8, write_failed,
                  [&](std::uint32_t read) {
                    return FormatText("Write 0x%08x to register %s, but read value is 0x%08x, "
                                      "select YES to continue test!",
                                      row.value, row.name.c_str(), read);
                  }))
      return false;
  }
  for (std::uint32_t i = 0; i < c.memory_count && i < kMaxConfigRows; ++i) {
    const ConfigMemoryRow& row = c.memory[i];
    if (!WriteRow(context, check, row.address, row.value, row.size / 8, write_failed,
                  [&](std::uint32_t read) {
                    return FormatText("Write 0x%08X to memory 0x%08X, but read value is 0x%08X, "
                                      "select YES to continue test!",
                                      row.value, row.address, read);
                  }))
      return false;
  }
  if (write_failed) return false;
  if (!context.job.target_test) return true;
  return TestRam(context);
}

CommandResult RegisterReadBody(const CommandContext& context) {
  // A running target is halted first; the wrappers log their failures.
  bool running = false;
  if (!context.link.GetTargetStatus(&running) || (running && !context.link.StopTarget())) {
    if (!context.StopRequested()) return {};
    context.log.Info("Info: user stop register read.\n");
    return {CommandOutcome::kStopped, false, std::nullopt, {}};
  }
  CommandResult result;
  result.registers = context.job.cpu.registers;
  bool all_read = true;
  for (CpuRegister& row : result.registers) {
    if (context.StopRequested()) {
      context.log.Info("Info: user stop register read.\n");
      return {CommandOutcome::kStopped, false, std::nullopt, {}};
    }
    std::uint32_t read = 0;
    // A row that could not be read keeps the value it had; the wrapper has
    // logged the failure.
    if (context.link.ReadMemory(row.address, &read, row.size / 8))
      row.value = read;
    else
      all_read = false;
  }
  if (!all_read) {
    context.log.Error("Error: register read failed.\n");
    result.outcome = CommandOutcome::kFailed;
    return result;
  }
  context.log.Info("Info: register read completed.\n");
  result.outcome = CommandOutcome::kSucceeded;
  result.completed = true;
  return result;
}

}  // namespace romsmith
