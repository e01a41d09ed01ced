#include <utility>

#include "operations/command_bodies.h"

namespace romsmith {
namespace {

constexpr std::pair<CommandCode, CommandBody> kBodies[] = {
    {CommandCode::kBlankCheck, BlankCheckBody},
    {CommandCode::kChecksum, ChecksumBody},
    {CommandCode::kErase, EraseBody},
    {CommandCode::kProgram, ProgramBody},
    {CommandCode::kProtect, ProtectBody},
    {CommandCode::kUpload, UploadBody},
    {CommandCode::kVerify, VerifyBody},
    {CommandCode::kTargetTest, DeviceCodeTestBody},
    {CommandCode::kNandErase, NandEraseBody},
    {CommandCode::kNandProgram, NandProgramBody},
    {CommandCode::kNandCheckBlock, NandCheckBlockBody},
    {CommandCode::kNandUpload, NandUploadBody},
    {CommandCode::kNandVerify, NandVerifyBody},
    {CommandCode::kNandTargetTest, NandDeviceCodeBody},
    {CommandCode::kRegisterRead, RegisterReadBody},
};

}  // namespace

CommandBody BodyFor(CommandCode code) {
  for (const auto& [entry_code, body] : kBodies)
    if (entry_code == code) return body;
  return nullptr;
}

}  // namespace romsmith
