#include "cli/options.h"

#include <array>
#include <charconv>
#include <string_view>
#include <utility>

#include "target_data/settings_schema.h"
#include "target_data/target_config.h"

#ifndef ROMSMITH_VERSION
#define ROMSMITH_VERSION "0"
#endif

namespace romsmith {
namespace {

struct CommandName {
  const char* name;
  CliCommand command;
};

constexpr std::array<CommandName, 14> kCommands = {{
    {"blank-check", CliCommand::kBlankCheck},
    {"checksum", CliCommand::kChecksum},
    {"erase", CliCommand::kErase},
    {"program", CliCommand::kProgram},
    {"verify", CliCommand::kVerify},
    {"protect", CliCommand::kProtect},
    {"check-block", CliCommand::kCheckBlock},
    {"upload", CliCommand::kUpload},
    {"target-test", CliCommand::kTargetTest},
    {"read-registers", CliCommand::kReadRegisters},
    {"drivers", CliCommand::kDrivers},
    {"hex2bin", CliCommand::kHexToBinary},
    {"encode", CliCommand::kEncode},
    {"decode", CliCommand::kDecode},
}};

// clang-format off
const std::string kHelp =
    "romsmith-cli [OPTIONS] COMMAND [ARGS]\n"
    "romsmith-cli batch STATION.ini [--csv FILE] [OPTIONS] COMMAND...\n"
    "commands: blank-check  checksum  erase  program  verify  protect  upload  target-test  "
    "read-registers\n"
    "          check-block        find the bad blocks of a NAND flash (a \"(Nand)\" CPU; protect "
    "does "
    "the same there)\n"
    "          drivers            list the driver modules found: title, description, version, "
    "speeds, communication types\n"
    "          hex2bin IN OUT     convert the Intel HEX file IN to the flat binary file OUT\n"
    "          encode IN OUT      scramble the plain file IN into the data file OUT (.xdl, .mdl)\n"
    "          decode IN OUT      unscramble the data file IN into the plain file OUT\n"
    "          batch STATION.ini  run the commands (one after another) on every [Target NAME] of "
    "the station file at once\n"
    "-c, --config FILE        target configuration to load (every flash command needs one)\n"
    "-f, --file FILE          program file for program and verify, upload file for upload "
    "(overrides the configuration); - is standard input, or standard output for upload\n"
    "    --format bin|hex|image  \"Flat Bin\", \"Intel Hex\" or \"Image (ELF, S-record, HEX)\", "
    "placed at its own addresses (overrides the configuration)\n"
    "-s, --sectors A-B        first and last sector, counted from 1 as the flash page shows "
    "them (overrides the configuration)\n"
    "    --auto-erase | --no-auto-erase | --auto-verify | --no-auto-verify\n"
    "    --set SECTION.KEY=VALUE   one setting of romsmith.ini or of the profile (\"Option\"), "
    "for this run only; repeatable\n"
    "    --fast               the fastest way that keeps every check, for this run: "
    "Option.Fast=1 (StreamProgram, TargetVerify and FastRead)\n"
    "    --board FILE         the virtual board file to use (sets ROMSMITH_BOARD for the port "
    "library)\n"
    "    --program-dir DIR    the program directory (default: the directory of the "
    "executable)\n"
    "-y, --yes | -n, --no     answer every question Yes/OK, or No/Cancel; without either, ask "
    "on the terminal, and with no terminal answer No/Cancel\n"
    "-v, --verbose            also print the lines that go only to the log file\n"
    "-q, --quiet              print only results, warnings and errors: no progress, no "
    "\"Info:\" lines\n"
    "    --json               print one JSON object on standard output when the command ends "
    "(warnings and errors still go to standard error)\n"
    "    --csv FILE           batch: append one line per target to the production log FILE\n"
    "-h, --help   --version\n"
    "Results and \"Info:\" lines go to standard output, \"Warning:\" and \"Error:\" lines to "
    "standard error.\n";
// clang-format on

std::string Quoted(std::string_view text) { return "'" + std::string(text) + "'"; }

bool ParsePositive(std::string_view text, int& value) {
  if (text.empty()) return false;
  for (char c : text)
    if (c < '0' || c > '9') return false;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  return error == std::errc() && end == text.data() + text.size() && value >= 1;
}

// The options that take a value, by long name; the short letter or 0.
struct ValueOption {
  const char* name;
  char letter;
};

constexpr std::array<ValueOption, 7> kValueOptions = {{
    {"config", 'c'},
    {"file", 'f'},
    {"format", 0},
    {"sectors", 's'},
    {"set", 0},
    {"board", 0},
    {"program-dir", 0},
}};

class Parser {
 public:
  CliParseResult Run(const std::vector<std::string>& arguments) {
    std::vector<std::string> positional;
    bool options_ended = false;
    for (std::size_t i = 0; i < arguments.size() && error_.empty(); ++i) {
      const std::string& argument = arguments[i];
      if (options_ended || argument.size() < 2 || argument[0] != '-') {
        positional.push_back(argument);
      } else if (argument == "--") {
        options_ended = true;
      } else if (argument.rfind("--", 0) == 0) {
        LongOption(argument, arguments, i);
      } else {
        ShortOptions(argument, arguments, i);
      }
    }
    if (error_.empty() && !options_.help && !options_.version && !options_.list_settings)
      Positional(positional);
    CliParseResult result;
    result.ok = error_.empty();
    result.error = error_;
    result.options = std::move(options_);
    return result;
  }

 private:
  void Fail(std::string text) {
    if (error_.empty()) error_ = "romsmith-cli: " + std::move(text);
  }

  void LongOption(const std::string& argument, const std::vector<std::string>& arguments,
                  std::size_t& i) {
    std::string name = argument.substr(2);
    std::optional<std::string> value;
    if (const auto equals = name.find('='); equals != std::string::npos) {
      value = name.substr(equals + 1);
      name.resize(equals);
    }
    for (const ValueOption& option : kValueOptions) {
      if (name != option.name) continue;
      if (!value) {
        if (i + 1 >= arguments.size()) {
          Fail("option '--" + name + "' needs a value");
          return;
        }
        value = arguments[++i];
      }
      Value(name, *value);
      return;
    }
    if (value) {
      Fail("option '--" + name + "' takes no value");
      return;
    }
    Flag(name, "--" + name);
  }

  void ShortOptions(const std::string& argument, const std::vector<std::string>& arguments,
                    std::size_t& i) {
    for (std::size_t k = 1; k < argument.size() && error_.empty(); ++k) {
      const char letter = argument[k];
      const ValueOption* takes_value = nullptr;
      for (const ValueOption& option : kValueOptions)
        if (option.letter != 0 && option.letter == letter) takes_value = &option;
      if (takes_value) {
        std::string value;
        if (k + 1 < argument.size()) {
          value = argument.substr(k + 1);
        } else if (i + 1 < arguments.size()) {
          value = arguments[++i];
        } else {
          Fail(std::string("option '-") + letter + "' needs a value");
          return;
        }
        Value(takes_value->name, value);
        return;
      }
      static constexpr std::pair<char, const char*> kFlags[] = {
          {'y', "yes"}, {'n', "no"}, {'v', "verbose"}, {'q', "quiet"}, {'h', "help"}};
      const char* long_name = nullptr;
      for (const auto& [short_name, name] : kFlags)
        if (short_name == letter) long_name = name;
      if (!long_name) {
        Fail(std::string("unknown option '-") + letter + "'");
        return;
      }
      Flag(long_name, std::string("-") + letter);
    }
  }

  void Flag(const std::string& name, const std::string& as_typed) {
    if (name == "yes") {
      Answers(CliAnswers::kYes);
    } else if (name == "no") {
      Answers(CliAnswers::kNo);
    } else if (name == "verbose") {
      Verbosity(CliVerbosity::kVerbose);
    } else if (name == "quiet") {
      Verbosity(CliVerbosity::kQuiet);
    } else if (name == "json") {
      options_.json = true;
    } else if (name == "batch-child") {
      options_.batch_child = true;
    } else if (name == "list-settings") {
      options_.list_settings = true;
    } else if (name == "help") {
      options_.help = true;
    } else if (name == "version") {
      options_.version = true;
    } else if (name == "auto-erase" || name == "no-auto-erase") {
      Switch(options_.auto_erase, name == "auto-erase", "--auto-erase and --no-auto-erase");
    } else if (name == "fast") {
      options_.settings.push_back({"Option", "Fast", "1"});
    } else if (name == "auto-verify" || name == "no-auto-verify") {
      Switch(options_.auto_verify, name == "auto-verify", "--auto-verify and --no-auto-verify");
    } else {
      Fail("unknown option " + Quoted(as_typed));
    }
  }

  void Switch(std::optional<bool>& slot, bool on, const char* pair) {
    if (slot && *slot != on) Fail(std::string(pair) + " exclude each other");
    slot = on;
  }

  void Answers(CliAnswers answers) {
    if (answers_given_ && options_.answers != answers) Fail("--yes and --no exclude each other");
    answers_given_ = true;
    options_.answers = answers;
  }

  void Verbosity(CliVerbosity verbosity) {
    if (verbosity_given_ && options_.verbosity != verbosity)
      Fail("--verbose and --quiet exclude each other");
    verbosity_given_ = true;
    options_.verbosity = verbosity;
  }

  void Value(const std::string& name, const std::string& value) {
    if (value.empty()) {
      Fail("option '--" + name + "' needs a value");
    } else if (name == "config") {
      options_.config = value;
    } else if (name == "file") {
      options_.file = value;
    } else if (name == "format") {
      if (value == "bin") {
        options_.format = "Flat Bin";
      } else if (value == "hex") {
        options_.format = "Intel Hex";
      } else if (value == "image") {
        options_.format = kImageFormat;
      } else {
        Fail("--format must be bin, hex or image, not " + Quoted(value));
      }
    } else if (name == "sectors") {
      Sectors(value);
    } else if (name == "set") {
      Setting(value);
    } else if (name == "board") {
      options_.board = value;
    } else if (name == "program-dir") {
      options_.program_dir = value;
    }
  }

  void Sectors(const std::string& value) {
    const auto dash = value.find('-');
    int first = 0;
    int last = 0;
    if (dash == std::string::npos ||
        !ParsePositive(std::string_view(value).substr(0, dash), first) ||
        !ParsePositive(std::string_view(value).substr(dash + 1), last) || first > last) {
      Fail("--sectors needs FIRST-LAST with 1 <= FIRST <= LAST, not " + Quoted(value));
      return;
    }
    options_.first_sector = first;
    options_.last_sector = last;
  }

  void Setting(const std::string& value) {
    const auto dot = value.find('.');
    const auto equals = value.find('=');
    if (dot == std::string::npos || equals == std::string::npos || dot == 0 ||
        equals < dot + 2) {
      Fail("--set needs SECTION.KEY=VALUE, not " + Quoted(value));
      return;
    }
    SettingOverride setting{value.substr(0, dot), value.substr(dot + 1, equals - dot - 1),
                            value.substr(equals + 1)};
    const SettingRow* row = FindSetting(setting.section, setting.key);
    if (!row) {
      Fail("unknown setting " + Quoted(setting.section + "." + setting.key));
      return;
    }
    // The value is checked as the Option dialog checks what is typed there.
    if (const std::string refused = SettingValueError(*row, setting.value); !refused.empty()) {
      Fail("--set " + Quoted(value) + ": " + refused);
      return;
    }
    options_.settings.push_back(std::move(setting));
  }

  void Positional(const std::vector<std::string>& positional) {
    if (positional.empty()) {
      Fail("no command given");
      return;
    }
    options_.command_name = positional[0];
    options_.command = CommandNamed(positional[0]);
    if (options_.command == CliCommand::kNone) {
      Fail("unknown command " + Quoted(positional[0]));
      return;
    }
    const std::vector<std::string> rest(positional.begin() + 1, positional.end());
    const CliCommand c = options_.command;
    if (c == CliCommand::kHexToBinary || c == CliCommand::kEncode || c == CliCommand::kDecode) {
      if (rest.size() != 2) {
        Fail(Quoted(options_.command_name) + " needs two files: IN OUT");
        return;
      }
      options_.files = rest;
      return;
    }
    if (!rest.empty()) {
      Fail(Quoted(options_.command_name) + " takes no arguments, not " + Quoted(rest[0]));
      return;
    }
    if (IsTargetCommand(c) && !options_.config) {
      Fail(Quoted(options_.command_name) + " needs a target configuration (-c FILE)");
      return;
    }
    if (options_.file && *options_.file == kStandardStream) {
      if (c != CliCommand::kProgram && c != CliCommand::kVerify && c != CliCommand::kUpload) {
        Fail("-f - is for program, verify and upload, not " + Quoted(options_.command_name));
      } else if (c == CliCommand::kUpload && options_.json) {
        Fail("upload -f - and --json both need standard output");
      }
    }
  }

  CliOptions options_;
  std::string error_;
  bool answers_given_ = false;
  bool verbosity_given_ = false;
};

}  // namespace

CliParseResult ParseCommandLine(const std::vector<std::string>& arguments) {
  return Parser().Run(arguments);
}

bool IsTargetCommand(CliCommand command) {
  switch (command) {
    case CliCommand::kBlankCheck:
    case CliCommand::kChecksum:
    case CliCommand::kErase:
    case CliCommand::kProgram:
    case CliCommand::kVerify:
    case CliCommand::kProtect:
    case CliCommand::kCheckBlock:
    case CliCommand::kUpload:
    case CliCommand::kTargetTest:
    case CliCommand::kReadRegisters:
      return true;
    default:
      return false;
  }
}

bool IsKnownSetting(const std::string& section, const std::string& key) {
  return FindSetting(section, key) != nullptr;
}

std::vector<std::string> KnownSettingNames() {
  std::vector<std::string> names;
  for (const SettingRow& setting : SettingRows())
    names.push_back(std::string(setting.section) + "." + setting.key);
  return names;
}

CliCommand CommandNamed(const std::string& name) {
  for (const CommandName& entry : kCommands)
    if (name == entry.name) return entry.command;
  return CliCommand::kNone;
}

const std::string& CliHelpText() { return kHelp; }

std::string CliVersionText() { return std::string("romsmith-cli ") + ROMSMITH_VERSION + "\n"; }

}  // namespace romsmith
