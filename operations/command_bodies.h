// The command bodies and the table that picks one by command code. Each body
// reports through the context's message log and returns its result; none
// keeps state between commands (what outlives a command, the bad-block table,
// travels in the snapshot and the result).
#pragma once

#include "operations/command_context.h"

namespace romsmith {

using CommandBody = CommandResult (*)(const CommandContext& context);

// Host-read commands: the flash read directly in 1024-byte blocks.
CommandResult BlankCheckBody(const CommandContext& context);
CommandResult ChecksumBody(const CommandContext& context);
CommandResult UploadBody(const CommandContext& context);
CommandResult VerifyBody(const CommandContext& context);

// Loader-driven commands of the first family.
CommandResult EraseBody(const CommandContext& context);
CommandResult ProgramBody(const CommandContext& context);
CommandResult ProtectBody(const CommandContext& context);
// The flash part of the target test: the device code, then the software-ID
// exit whatever the first gave.
CommandResult DeviceCodeTestBody(const CommandContext& context);

// The second family (CPUs whose flash is a NAND device).
CommandResult NandEraseBody(const CommandContext& context);
CommandResult NandProgramBody(const CommandContext& context);
CommandResult NandCheckBlockBody(const CommandContext& context);
CommandResult NandUploadBody(const CommandContext& context);
CommandResult NandVerifyBody(const CommandContext& context);
CommandResult NandDeviceCodeBody(const CommandContext& context);

// The board: halt, resets, the CPU's register and memory rows, and in the
// target test the read-back checks and the RAM test. False when the command
// must not go on (the caller logs the frame's line).
bool InitializeBoard(const CommandContext& context);
// Reads the selected CPU's registers (the snapshot's CPU record).
CommandResult RegisterReadBody(const CommandContext& context);

// The body for a code; nullptr for codes without one.
CommandBody BodyFor(CommandCode code);
// The line a command logs when the user stops it before its body runs.
const char* UserStopLine(CommandCode code);

}  // namespace romsmith
