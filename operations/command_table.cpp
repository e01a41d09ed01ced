#include "operations/command_bodies.h"

namespace romsmith {
namespace {

struct CommandEntry {
  CommandCode code;
  CommandBody body;
  // What a stop before the body could say so (while binding the driver or
  // initialising the board) is logged as.
  const char* stop_line;
};

constexpr CommandEntry kCommands[] = {
    {CommandCode::kBlankCheck, BlankCheckBody, "Info: user stop blank check.\n"},
    {CommandCode::kChecksum, ChecksumBody, "Info: user stop checksum.\n"},
    {CommandCode::kErase, EraseBody, "Info: user stop erase.\n"},
    {CommandCode::kProgram, ProgramBody, "Info: user stop program.\n"},
    {CommandCode::kProtect, ProtectBody, "Info: user stop protect.\n"},
    {CommandCode::kUpload, UploadBody, "Info: user stop upload.\n"},
    {CommandCode::kVerify, VerifyBody, "Info: user stop verify.\n"},
    {CommandCode::kTargetTest, DeviceCodeTestBody, "Info: user stop target test.\n"},
    {CommandCode::kNandErase, NandEraseBody, "Info: user stop erase.\n"},
    {CommandCode::kNandProgram, NandProgramBody, "Info: user stop program.\n"},
    {CommandCode::kNandCheckBlock, NandCheckBlockBody, "Info: user stop block check.\n"},
    {CommandCode::kNandUpload, NandUploadBody, "Info: user stop upload.\n"},
    {CommandCode::kNandVerify, NandVerifyBody, "Info: user stop verify.\n"},
    {CommandCode::kNandTargetTest, NandDeviceCodeBody, "Info: user stop target test.\n"},
    {CommandCode::kRegisterRead, RegisterReadBody, "Info: user stop register read.\n"},
};

}  // namespace

CommandBody BodyFor(CommandCode code) {
  for (const CommandEntry& entry : kCommands)
    if (entry.code == code) return entry.body;
  return nullptr;
}

const char* UserStopLine(CommandCode code) {
  for (const CommandEntry& entry : kCommands)
    if (entry.code == code) return entry.stop_line;
  return "Info: user stop.\n";
}

}  // namespace romsmith
