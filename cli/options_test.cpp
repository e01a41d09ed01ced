#include "cli/options.h"

#include <gtest/gtest.h>

namespace romsmith {
namespace {

CliParseResult Parse(std::vector<std::string> arguments) { return ParseCommandLine(arguments); }

std::string ErrorOf(std::vector<std::string> arguments) {
  const CliParseResult result = Parse(std::move(arguments));
  EXPECT_FALSE(result.ok);
  return result.error;
}

TEST(CliOptions, HelpTextWordForWord) {
  EXPECT_EQ(
      CliHelpText(),
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
      "          encode IN OUT      scramble the plain file IN into the data file OUT (.xdl, "
      ".mdl)\n"
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
      "standard error.\n");
}

TEST(CliOptions, EveryOptionInItsLongAndShortForms) {
  const CliParseResult result =
      Parse({"-c", "a.cfg", "--file=prog.hex", "--format", "hex", "-s3-7", "--auto-erase",
             "--no-auto-verify", "--set", "Remote.Device=test_driver.so", "--set=Option.TimeOut=5",
             "--board", "b.ini", "--program-dir", "/tmp/p", "-yv", "program"});
  ASSERT_TRUE(result.ok) << result.error;
  const CliOptions& o = result.options;
  EXPECT_EQ(o.command, CliCommand::kProgram);
  EXPECT_EQ(o.config, "a.cfg");
  EXPECT_EQ(o.file, "prog.hex");
  EXPECT_EQ(o.format, "Intel Hex");
  EXPECT_EQ(o.first_sector, 3);
  EXPECT_EQ(o.last_sector, 7);
  EXPECT_EQ(o.auto_erase, true);
  EXPECT_EQ(o.auto_verify, false);
  ASSERT_EQ(o.settings.size(), 2u);
  EXPECT_EQ(o.settings[0], (SettingOverride{"Remote", "Device", "test_driver.so"}));
  EXPECT_EQ(o.settings[1], (SettingOverride{"Option", "TimeOut", "5"}));
  EXPECT_EQ(o.board, "b.ini");
  EXPECT_EQ(o.program_dir, "/tmp/p");
  EXPECT_EQ(o.answers, CliAnswers::kYes);
  EXPECT_EQ(o.verbosity, CliVerbosity::kVerbose);

  // Options after the command, the other forms, a value holding '='.
  const CliParseResult later =
      Parse({"upload", "--config", "b.cfg", "-f", "out.bin", "--format=bin", "--sectors", "1-1",
             "--no", "--quiet", "--no-auto-erase", "--auto-verify", "--set",
             "Tevrin.DebugFile=a=b"});
  ASSERT_TRUE(later.ok) << later.error;
  EXPECT_EQ(later.options.command, CliCommand::kUpload);
  EXPECT_EQ(later.options.file, "out.bin");
  EXPECT_EQ(later.options.format, "Flat Bin");
  EXPECT_EQ(later.options.first_sector, 1);
  EXPECT_EQ(later.options.last_sector, 1);
  EXPECT_EQ(later.options.answers, CliAnswers::kNo);
  EXPECT_EQ(later.options.verbosity, CliVerbosity::kQuiet);
  EXPECT_EQ(later.options.auto_erase, false);
  EXPECT_EQ(later.options.auto_verify, true);
  EXPECT_EQ(later.options.settings[0].value, "a=b");

  // Defaults: ask, normal output, the configuration untouched.
  const CliParseResult plain = Parse({"erase", "-c", "x.cfg"});
  ASSERT_TRUE(plain.ok);
  EXPECT_EQ(plain.options.answers, CliAnswers::kAsk);
  EXPECT_EQ(plain.options.verbosity, CliVerbosity::kNormal);
  EXPECT_FALSE(plain.options.file || plain.options.format || plain.options.first_sector ||
               plain.options.auto_erase || plain.options.auto_verify);
}

TEST(CliOptions, CommandsAndTheirArguments) {
  const CliParseResult hex = Parse({"hex2bin", "in.hex", "out.bin"});
  ASSERT_TRUE(hex.ok);
  EXPECT_EQ(hex.options.command, CliCommand::kHexToBinary);
  EXPECT_EQ(hex.options.files, (std::vector<std::string>{"in.hex", "out.bin"}));
  EXPECT_EQ(Parse({"encode", "a", "b"}).options.command, CliCommand::kEncode);
  EXPECT_EQ(Parse({"decode", "a", "b"}).options.command, CliCommand::kDecode);
  EXPECT_EQ(Parse({"drivers"}).options.command, CliCommand::kDrivers);
  // A file name that looks like an option after "--"; "-" alone is a name.
  const CliParseResult dashed = Parse({"encode", "--", "-in", "-"});
  ASSERT_TRUE(dashed.ok) << dashed.error;
  EXPECT_EQ(dashed.options.files, (std::vector<std::string>{"-in", "-"}));

  const std::pair<const char*, CliCommand> target[] = {
      {"blank-check", CliCommand::kBlankCheck}, {"checksum", CliCommand::kChecksum},
      {"erase", CliCommand::kErase},            {"program", CliCommand::kProgram},
      {"verify", CliCommand::kVerify},          {"protect", CliCommand::kProtect},
      {"upload", CliCommand::kUpload},          {"target-test", CliCommand::kTargetTest},
      {"read-registers", CliCommand::kReadRegisters}};
  for (const auto& [name, command] : target) {
    EXPECT_TRUE(IsTargetCommand(command)) << name;
    EXPECT_EQ(Parse({name, "-c", "t.cfg"}).options.command, command) << name;
    EXPECT_EQ(ErrorOf({name}),
              std::string("romsmith-cli: '") + name + "' needs a target configuration (-c FILE)");
  }
  EXPECT_FALSE(IsTargetCommand(CliCommand::kDrivers));

  // --help and --version stand without a command.
  EXPECT_TRUE(Parse({"--help"}).options.help);
  EXPECT_TRUE(Parse({"-h"}).ok);
  EXPECT_TRUE(Parse({"--version"}).options.version);
  EXPECT_EQ(CliVersionText().rfind("romsmith-cli ", 0), 0u);
}

TEST(CliOptions, UsageErrorsWordForWord) {
  EXPECT_EQ(ErrorOf({}), "romsmith-cli: no command given");
  EXPECT_EQ(ErrorOf({"-y"}), "romsmith-cli: no command given");
  EXPECT_EQ(ErrorOf({"flash"}), "romsmith-cli: unknown command 'flash'");
  EXPECT_EQ(ErrorOf({"--frobnicate", "drivers"}), "romsmith-cli: unknown option '--frobnicate'");
  EXPECT_EQ(ErrorOf({"-x", "drivers"}), "romsmith-cli: unknown option '-x'");
  EXPECT_EQ(ErrorOf({"drivers", "-c"}), "romsmith-cli: option '-c' needs a value");
  EXPECT_EQ(ErrorOf({"drivers", "--config"}), "romsmith-cli: option '--config' needs a value");
  EXPECT_EQ(ErrorOf({"drivers", "--config="}), "romsmith-cli: option '--config' needs a value");
  EXPECT_EQ(ErrorOf({"--yes=1", "drivers"}), "romsmith-cli: option '--yes' takes no value");
  EXPECT_EQ(ErrorOf({"hex2bin", "a"}), "romsmith-cli: 'hex2bin' needs two files: IN OUT");
  EXPECT_EQ(ErrorOf({"decode", "a", "b", "c"}), "romsmith-cli: 'decode' needs two files: IN OUT");
  EXPECT_EQ(ErrorOf({"drivers", "extra"}), "romsmith-cli: 'drivers' takes no arguments, not 'extra'");
  EXPECT_EQ(ErrorOf({"--format", "elf", "drivers"}),
            "romsmith-cli: --format must be bin, hex or image, not 'elf'");
  EXPECT_EQ(ErrorOf({"-y", "-n", "drivers"}), "romsmith-cli: --yes and --no exclude each other");
  EXPECT_EQ(ErrorOf({"-q", "--verbose", "drivers"}),
            "romsmith-cli: --verbose and --quiet exclude each other");
  EXPECT_EQ(ErrorOf({"--auto-erase", "--no-auto-erase", "drivers"}),
            "romsmith-cli: --auto-erase and --no-auto-erase exclude each other");
  EXPECT_EQ(ErrorOf({"--no-auto-verify", "--auto-verify", "drivers"}),
            "romsmith-cli: --auto-verify and --no-auto-verify exclude each other");
  // Repeating the same choice is no conflict.
  EXPECT_TRUE(Parse({"-y", "--yes", "-v", "-v", "drivers"}).ok);

  for (const char* bad : {"3", "0-2", "5-3", "1-", "-4", "a-b", "1-2-3", "+1-2", "1 -2"})
    EXPECT_EQ(ErrorOf({"-s", bad, "drivers"}),
              std::string("romsmith-cli: --sectors needs FIRST-LAST with 1 <= FIRST <= LAST, not '") +
                  bad + "'")
        << bad;
  EXPECT_EQ(ErrorOf({"-s", "99999999999-99999999999", "drivers"}),
            "romsmith-cli: --sectors needs FIRST-LAST with 1 <= FIRST <= LAST, not "
            "'99999999999-99999999999'");

  for (const char* bad : {"Remote", "Remote.Device", ".Device=x", "Remote.=x", "RemoteDevice=x"})
    EXPECT_EQ(ErrorOf({"--set", bad, "drivers"}),
              std::string("romsmith-cli: --set needs SECTION.KEY=VALUE, not '") + bad + "'")
        << bad;
  EXPECT_EQ(ErrorOf({"--set", "Remote.Devices=x", "drivers"}),
            "romsmith-cli: unknown setting 'Remote.Devices'");
  // Section and key names are case-sensitive, as in the files.
  EXPECT_EQ(ErrorOf({"--set", "remote.Device=x", "drivers"}),
            "romsmith-cli: unknown setting 'remote.Device'");
  // An empty value is a value: it clears the setting for the run.
  EXPECT_TRUE(Parse({"--set", "Remote.IPAddr=", "drivers"}).ok);
}

TEST(CliOptions, StandardStreamsAndTheRecord) {
  const CliParseResult program = Parse({"-c", "a.cfg", "-f", "-", "--json", "program"});
  ASSERT_TRUE(program.ok) << program.error;
  EXPECT_EQ(program.options.file, "-");
  EXPECT_TRUE(program.options.json);
  EXPECT_TRUE(Parse({"-c", "a.cfg", "--file=-", "upload"}).ok);
  EXPECT_TRUE(Parse({"-c", "a.cfg", "-f", "-", "verify"}).ok);
  // Standard input or output means something only to these three.
  EXPECT_EQ(ErrorOf({"-c", "a.cfg", "-f", "-", "checksum"}),
            "romsmith-cli: -f - is for program, verify and upload, not 'checksum'");
  // The image and the record cannot share standard output.
  EXPECT_EQ(ErrorOf({"-c", "a.cfg", "-f", "-", "--json", "upload"}),
            "romsmith-cli: upload -f - and --json both need standard output");
  // The completion's list needs no command.
  EXPECT_TRUE(Parse({"--list-settings"}).ok);
  const std::vector<std::string> names = KnownSettingNames();
  ASSERT_FALSE(names.empty());
  for (const std::string& name : names) {
    const auto dot = name.find('.');
    ASSERT_NE(dot, std::string::npos) << name;
    EXPECT_TRUE(IsKnownSetting(name.substr(0, dot), name.substr(dot + 1))) << name;
  }
}

TEST(CliOptions, SettingValuesAreCheckedAgainstTheirRange) {
  struct Case {
    const char* setting;
    const char* refusal;  // nullptr: accepted
  };
  for (const Case& c : {
           Case{"Option.TimeOut=abc", "Please enter an integer between 1 and 360."},
           Case{"Option.TimeOut=-5", "Please enter an integer between 1 and 360."},
           Case{"Option.TimeOut=99999999999", "Please enter an integer between 1 and 360."},
           Case{"Option.TimeOut=360", nullptr},
           Case{"Option.TestRamSize=1025", "Please enter an integer between 1 and 1024."},
           Case{"Option.ResetCount=5", "Please enter an integer between 0 and 4."},
           Case{"Option.FastRead=2", "Please enter an integer between 0 and 1."},
           Case{"Option.TargetVerify=1", nullptr},
           Case{"Option.LpcFreq=4294967295", nullptr},
           Case{"Remote.Speed=x", "Please enter an integer between -2147483648 and 2147483647."},
           Case{"Remote.Device=any name.so", nullptr},
       }) {
    const CliParseResult result = Parse({"--set", c.setting, "drivers"});
    if (!c.refusal) {
      EXPECT_TRUE(result.ok) << c.setting << ": " << result.error;
      continue;
    }
    EXPECT_EQ(result.error, std::string("romsmith-cli: --set '") + c.setting + "': " + c.refusal);
  }
}

// --fast is Option.Fast=1 for the run, beside any --set, in the order given.
TEST(CliOptions, FastStandsForTheFastSetting) {
  const CliParseResult result =
      Parse({"--set", "Option.FastRead=0", "--fast", "-c", "a.cfg", "program"});
  ASSERT_TRUE(result.ok) << result.error;
  ASSERT_EQ(result.options.settings.size(), 2u);
  EXPECT_EQ(result.options.settings[0], (SettingOverride{"Option", "FastRead", "0"}));
  EXPECT_EQ(result.options.settings[1], (SettingOverride{"Option", "Fast", "1"}));
  for (const char* key : {"StreamProgram", "Fast"}) EXPECT_TRUE(IsKnownSetting("Option", key));
}

TEST(CliOptions, KnownSettingsAreTheFilesKeys) {
  for (const char* key : {"Driver", "Device"}) EXPECT_TRUE(IsKnownSetting("Directory", key));
  for (const char* key : {"Device", "CommType", "Parallel", "IPAddr", "Speed"})
    EXPECT_TRUE(IsKnownSetting("Remote", key));
  for (const char* key : {"RegChkPop", "Log", "LoadSectData", "CheckID", "ResetCount", "TimeOut",
                          "TestRamSize", "LpcFreq"})
    EXPECT_TRUE(IsKnownSetting("Option", key));
  for (const char* key : {"Debug", "DebugFile", "Encrypt", "NoExeEncrypt", "DebugCount"})
    EXPECT_TRUE(IsKnownSetting("Tevrin", key));
  EXPECT_FALSE(IsKnownSetting("Recent File List", "file1"));  // not a setting
  EXPECT_FALSE(IsKnownSetting("Option", "timeout"));
}

}  // namespace
}  // namespace romsmith
