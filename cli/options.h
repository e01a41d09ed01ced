// The command line of romsmith-cli: what the user asked for, read from the
// arguments without touching any file, and the texts of --help and --version.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace romsmith {

enum class CliCommand {
  kNone,
  kBlankCheck,
  kChecksum,
  kErase,
  kProgram,
  kVerify,
  kProtect,
  kCheckBlock,  // protect under its own name, for "(Nand)" CPUs only
  kUpload,
  kTargetTest,
  kReadRegisters,
  kDrivers,
  kHexToBinary,
  kEncode,
  kDecode,
};

// How questions are answered.
enum class CliAnswers { kAsk, kYes, kNo };

// Which logged lines are printed.
enum class CliVerbosity { kNormal, kVerbose, kQuiet };

struct SettingOverride {
  std::string section;
  std::string key;
  std::string value;
  bool operator==(const SettingOverride&) const = default;
};

struct CliOptions {
  CliCommand command = CliCommand::kNone;
  std::string command_name;          // as typed
  std::vector<std::string> files;    // IN OUT of the conversions

  std::optional<std::string> config;
  std::optional<std::string> file;
  std::optional<std::string> format;  // a "Format" value
  // Shown sector numbers, counted from 1.
  std::optional<int> first_sector;
  std::optional<int> last_sector;
  std::optional<bool> auto_erase;
  std::optional<bool> auto_verify;
  std::vector<SettingOverride> settings;
  std::optional<std::string> board;
  std::optional<std::string> program_dir;

  CliAnswers answers = CliAnswers::kAsk;
  CliVerbosity verbosity = CliVerbosity::kNormal;
  // One JSON object on standard output when the command ends, and no other
  // line there.
  bool json = false;
  // Run as one target of a batch: every line and the progress on standard
  // error, the JSON object on standard output (not shown in --help).
  bool batch_child = false;
  // Print the SECTION.KEY names --set takes, one a line (for the shell
  // completion; not shown in --help).
  bool list_settings = false;
  bool help = false;
  bool version = false;
};

// The file name that stands for standard input (program, verify) or
// standard output (upload).
inline constexpr char kStandardStream[] = "-";

struct CliParseResult {
  bool ok = false;
  CliOptions options;
  std::string error;  // one line without "\n" when !ok
};

// Reads the arguments after the program name. Options may stand before or
// after the command; "--" ends the options. With --help or --version the
// command may be missing.
CliParseResult ParseCommandLine(const std::vector<std::string>& arguments);

// True for the commands that run on the target through the Workbench (and
// therefore need a target configuration).
bool IsTargetCommand(CliCommand command);

// True when SECTION.KEY names a setting of romsmith.ini or of the profile's
// "Option" section (a row of the settings schema).
bool IsKnownSetting(const std::string& section, const std::string& key);
// Every SECTION.KEY that --set takes, in the order of the list.
std::vector<std::string> KnownSettingNames();

// The command of this name (kNone when there is none).
CliCommand CommandNamed(const std::string& name);

const std::string& CliHelpText();
std::string CliVersionText();
// The line that follows every usage error on standard error.
inline constexpr char kCliTryHelp[] = "Try 'romsmith-cli --help'.";

}  // namespace romsmith
