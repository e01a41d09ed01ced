#include "target_data/settings_schema.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <limits>
#include <type_traits>

namespace romsmith {
namespace {

using S = ProgramSettings;
using R = RemoteSettings;
using K = SettingKind;
using F = SettingField;
constexpr SettingStore kFile = SettingStore::kSettingsFile;
constexpr SettingStore kProfile = SettingStore::kProfile;

constexpr std::int64_t kIntMin = std::numeric_limits<std::int32_t>::min();
constexpr std::int64_t kIntMax = std::numeric_limits<std::int32_t>::max();
constexpr std::int64_t kUnsignedMax = std::numeric_limits<std::uint32_t>::max();

// The "Remote" rows stand in the order their keys are written into a new
// section; the "Option" rows of the profile in the order the dialog shows
// them.
const std::array<SettingRow, 26> kRows = {{
    {"Directory", "Driver", kFile, K::kDirectory, &S::port_driver_directory, 1, 0, 0, 0, "",
     "directory of the port library (portcall.so); relative to the program directory", F::kNone,
     nullptr, nullptr, nullptr},
    {"Directory", "Device", kFile, K::kDirectory, &S::driver_module_directory, 1, 0, 0, 0, "",
     "directory of the driver modules; relative to the program directory", F::kNone, nullptr,
     nullptr, nullptr},
    {"Remote", "Device", kFile, K::kText, &R::device, 1, 0, 0, 0, "",
     "file name of the chosen driver module", F::kNone, nullptr, nullptr, nullptr},
    {"Remote", "CommType", kFile, K::kText, &R::comm_type, 1, 0, 0, 0, "",
     "communication type of the driver: Parallel, TCPIP, USB or empty", F::kNone, nullptr, nullptr,
     nullptr},
    {"Remote", "Parallel", kFile, K::kText, &R::parallel, 1, 0, 0, 0, "",
     "parallel port of the probe, such as LPT1", F::kNone, nullptr, nullptr, nullptr},
    {"Remote", "Speed", kFile, K::kInteger, &R::speed, 1, kIntMin, kIntMax, 0, nullptr,
     "debug speed: index into the driver module's speed names", F::kNone, nullptr, nullptr,
     nullptr},
    {"Remote", "IPAddr", kFile, K::kText, &R::ip_addr, 1, 0, 0, 0, "",
     "IP address of a network probe", F::kNone, nullptr, nullptr, nullptr},
    {"Option", "RegChkPop", kFile, K::kSwitch, &S::register_check_prompt, 1, 0, 1, 1, nullptr,
     "1: the target test asks before it reports a register that did not read back", F::kNone,
     nullptr, nullptr, nullptr},

    {"Option", "Log", kProfile, K::kSwitch, &S::log_to_file, 1, 0, 1, 0, nullptr,
     "Every message line is also written to Info.log in the program directory.", F::kEditable,
     "Output information to log file.", nullptr, "logCheck"},
    {"Option", "CheckID", kProfile, K::kSwitch, &S::check_id, 1, 0, 1, 1, nullptr,
     "The flash device code is read and compared before every flash command.", F::kShown,
     "Check flash device code status.", nullptr, "checkIdCheck"},
    {"Option", "LoadSectData", kProfile, K::kSwitch, &S::load_sector_data, 1, 0, 1, 0, nullptr,
     "Program writes whole sectors, keeping the bytes of a sector the file does not cover.",
     F::kEditable, "Loading all sector data when programming.", nullptr, "loadSectorDataCheck"},
    {"Option", "LpcVectorChecksum", kProfile, K::kSwitch, &S::lpc_vector_checksum, 1, 0, 1, 1,
     nullptr,
     "Program puts the LPC vector checksum at 0x14 of the first sector, and verify accepts "
     "it there.",
     F::kEditable, "Write the LPC vector checksum into the first sector.", nullptr,
     "lpcVectorChecksumCheck"},
    {"Option", "FastRead", kProfile, K::kSwitch, &S::fast_read, 1, 0, 1, 0, nullptr,
     "Reads use the driver's faster block loads; a driver without them reads the usual way.",
     F::kEditable, "Fast read (faster block loads of the driver).", nullptr, "fastReadCheck"},
    {"Option", "TargetVerify", kProfile, K::kSwitch, &S::target_verify, 1, 0, 1, 0, nullptr,
     "Verify checksums the flash on the target and reads back only a block whose checksum "
     "differs.",
     F::kEditable, "Verify on the target (checksums instead of reading everything back).", nullptr,
     "targetVerifyCheck"},
    {"Option", "SkipUnchanged", kProfile, K::kSwitch, &S::skip_unchanged, 1, 0, 1, 1, nullptr,
     "With the image format (ELF, S-record, HEX), program checksums each sector the image "
     "touches on the target first and leaves alone those that already hold its bytes; other "
     "formats program as before.",
     F::kEditable, "Skip unchanged sectors (image format).", nullptr, "skipUnchangedCheck"},
    {"Option", "StreamProgram", kProfile, K::kSwitch, &S::stream_program, 1, 0, 1, 0, nullptr,
     "Program on NOR flash streams the data through the debug comms channel into a loader that "
     "runs once per range, instead of writing 1 KiB chunks to target RAM between loader runs.",
     F::kEditable, "Stream program data (debug comms channel, NOR flash).", nullptr,
     "streamProgramCheck"},
    {"Option", "Fast", kProfile, K::kSwitch, &S::fast, 1, 0, 1, 0, nullptr,
     "StreamProgram, TargetVerify and FastRead together: the fastest way that keeps every check.",
     F::kEditable, "Fast (stream program, verify on target, fast read).", nullptr, "fastCheck"},
    {"Option", "TimeOut", kProfile, K::kInteger, &S::time_out_polls, 10, 1, 360, 12, nullptr,
     "How long a flash loader may run before the command fails.", F::kEditable, "Time Out:", "Sec.",
     "timeOutEdit"},
    {"Option", "TestRamSize", kProfile, K::kInteger, &S::test_ram_bytes, 1024, 1, 1024, 4, nullptr,
     "How much target RAM the target test writes and reads back.", F::kEditable,
     "Test Ram Size:", "KB", "testRamSizeEdit"},
    {"Option", "ResetCount", kProfile, K::kInteger, &S::reset_count, 1, 0, 4, 1, nullptr,
     "How often the target is reset before a flash command.", F::kEditable,
     "Reset Count Before Flash command:", nullptr, "resetCountEdit"},
    {"Option", "LpcFreq", kProfile, K::kUnsigned, &S::lpc_frequency, 1, 1, kUnsignedMax, 11059,
     nullptr, "Crystal frequency of an LPC2000 board, for its on-chip flash loader.", F::kEditable,
     "Philps LPC2000 XTAL Freq.:", "KHz", "lpcFrequencyEdit"},

    {"Tevrin", "Debug", kFile, K::kSwitch, &S::debug, 1, 0, 1, 0, nullptr,
     "maintenance: keep the loader's parameter blocks in debug files", F::kNone, nullptr, nullptr,
     nullptr},
    {"Tevrin", "DebugFile", kFile, K::kText, &S::debug_file, 1, 0, 0, 0, "",
     "maintenance: debug file name pattern with a running number", F::kNone, nullptr, nullptr,
     nullptr},
    {"Tevrin", "Encrypt", kFile, K::kSwitch, &S::encrypt, 1, 0, 1, 0, nullptr,
     "maintenance: Help About scrambles or unscrambles the data files", F::kNone, nullptr, nullptr,
     nullptr},
    {"Tevrin", "NoExeEncrypt", kFile, K::kSwitch, &S::plain_loaders, 1, 0, 1, 0, nullptr,
     "maintenance: the loader images are plain, not scrambled", F::kNone, nullptr, nullptr,
     nullptr},
    {"Tevrin", "DebugCount", kFile, K::kUnsigned, &S::debug_count, 1, 0, kUnsignedMax, 3, nullptr,
     "maintenance: how many debug files are written", F::kNone, nullptr, nullptr, nullptr},
}};

std::string_view Trimmed(std::string_view text) {
  constexpr std::string_view kBlanks = " \t\r\n\v\f";
  const auto first = text.find_first_not_of(kBlanks);
  if (first == std::string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(kBlanks) - first + 1);
}

std::int64_t Saturated(std::int64_t value, std::int64_t low, std::int64_t high) {
  return std::clamp(value, low, high);
}

}  // namespace

std::span<const SettingRow> SettingRows() { return kRows; }

const SettingRow* FindSetting(std::string_view section, std::string_view key) {
  for (const SettingRow& row : kRows)
    if (section == row.section && key == row.key) return &row;
  return nullptr;
}

std::optional<std::int64_t> ParseSettingNumber(const SettingRow& row, std::string_view text) {
  if (!IsNumberSetting(row)) return std::nullopt;
  text = Trimmed(text);
  bool negative = false;
  if (!text.empty() && (text[0] == '-' || text[0] == '+')) {
    negative = text[0] == '-';
    text.remove_prefix(1);
  }
  int base = 10;
  if (!text.empty() && text[0] == '$') {
    base = 16;
    text.remove_prefix(1);
  } else if (text.size() > 1 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    base = 16;
    text.remove_prefix(2);
  }
  if (text.empty() || text.size() > 20) return std::nullopt;
  std::uint64_t magnitude = 0;
  const auto [end, error] =
      std::from_chars(text.data(), text.data() + text.size(), magnitude, base);
  if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
  if (magnitude > static_cast<std::uint64_t>(kUnsignedMax) + 1) return std::nullopt;
  std::int64_t number =
      negative ? -static_cast<std::int64_t>(magnitude) : static_cast<std::int64_t>(magnitude);
  // An unsigned value is stored as its 32-bit pattern, so a negative text
  // (what a signed writer left) is that pattern.
  if (row.kind == SettingKind::kUnsigned && number < 0 && number >= kIntMin)
    number += kUnsignedMax + 1;
  if (number < row.low || number > row.high) return std::nullopt;
  return number;
}

std::string RangeMessage(std::int64_t low, std::int64_t high) {
  return "Please enter an integer between " + std::to_string(low) + " and " + std::to_string(high) +
         ".";
}

std::string SettingValueError(const SettingRow& row, std::string_view text) {
  if (!IsNumberSetting(row) || ParseSettingNumber(row, text)) return {};
  return RangeMessage(row.low, row.high);
}

std::int64_t StoredNumber(const SettingRow& row, const ProgramSettings& settings) {
  std::int64_t held = 0;
  std::visit(
      [&](auto member) {
        using Member = decltype(member);
        if constexpr (std::is_same_v<Member, std::int32_t S::*>) {
          held = settings.*member;
        } else if constexpr (std::is_same_v<Member, std::uint32_t S::*>) {
          held = settings.*member;
        } else if constexpr (std::is_same_v<Member, std::int32_t R::*>) {
          held = settings.remote.*member;
        }
      },
      row.member);
  // A 32-bit pattern of an unsigned value held in a signed member.
  if (row.kind == SettingKind::kUnsigned && held < 0) held += kUnsignedMax + 1;
  return held / row.scale;
}

void SetStoredNumber(const SettingRow& row, std::int64_t number, ProgramSettings& settings) {
  const std::int64_t held = number * row.scale;
  std::visit(
      [&](auto member) {
        using Member = decltype(member);
        if constexpr (std::is_same_v<Member, std::int32_t S::*> ||
                      std::is_same_v<Member, std::int32_t R::*>) {
          // An unsigned value keeps its bit pattern; a scaled signed one
          // saturates instead of wrapping.
          const std::int32_t value =
              row.kind == SettingKind::kUnsigned
                  ? static_cast<std::int32_t>(static_cast<std::uint32_t>(held))
                  : static_cast<std::int32_t>(Saturated(held, kIntMin, kIntMax));
          if constexpr (std::is_same_v<Member, std::int32_t S::*>)
            settings.*member = value;
          else
            settings.remote.*member = value;
        } else if constexpr (std::is_same_v<Member, std::uint32_t S::*>) {
          settings.*member = static_cast<std::uint32_t>(Saturated(held, 0, kUnsignedMax));
        }
      },
      row.member);
}

std::string& TextMember(const SettingRow& row, ProgramSettings& settings) {
  if (const auto* member = std::get_if<std::string S::*>(&row.member)) return settings.**member;
  return settings.remote.*std::get<std::string R::*>(row.member);
}

const std::string& TextMember(const SettingRow& row, const ProgramSettings& settings) {
  return TextMember(row, const_cast<ProgramSettings&>(settings));
}

}  // namespace romsmith
