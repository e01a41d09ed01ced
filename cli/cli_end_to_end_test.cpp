// romsmith-cli run as a program against the test driver module, in a
// program directory of its own made for each test.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "cli/options.h"
#include "formats/data_file.h"

extern char** environ;

namespace romsmith {
namespace {

namespace fs = std::filesystem;

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

void WriteFile(const fs::path& path, const std::string& bytes) {
  fs::create_directories(path.parent_path());
  std::ofstream out(path, std::ios::binary);
  out << bytes;
}

struct Result {
  int status = -1;
  std::string out;
  std::string err;
};

const std::string kSettings =
    "[Directory]\r\nDriver=ports/simboard/\r\nDevice=drivers/\r\n"
    "[Remote]\r\nDevice=osprey7.so\r\nCommType=Parallel\r\nParallel=LPT1\r\nIPAddr=\r\n"
    "Speed=0\r\n[Option]\r\nRegChkPop=1\r\n[Tevrin]\r\nDebug=0\r\n";
const std::string kProfile = "[Option]\r\nTimeOut=12\r\nResetCount=1\r\n";

class CliRun : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/romsmith-cli-test-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    root_ = pattern;
    program_ = root_ / "program";
    fs::create_directories(program_);
    for (const char* name : {"proc.xdl", "rom.xdl"})
      fs::copy_file(fs::path(ROMSMITH_STAGE_DIR) / name, program_ / name);
    WriteFile(program_ / "romsmith.ini", kSettings);
    WriteFile(root_ / "profile.ini", kProfile);
    fs::copy_file(fs::path(ROMSMITH_SOURCE_DIR) / "data/examples/s3c44b0x-am29lv160db.cfg",
                  root_ / "target.cfg");
    // A loader image for the S3C44B0X: the test driver does a loader's work
    // for any image that is not blank.
    WriteFile(root_ / "loader.plain", std::string(256, '\x11'));
    ASSERT_TRUE(EncodeDataFile((root_ / "loader.plain").string(), (program_ / "parl.mdl").string()));
    environment_["ROMSMITH_PROFILE"] = (root_ / "profile.ini").string();
    environment_["TESTDRIVER_STATE_DIR"] = (root_ / "state").string();
    fs::create_directories(root_ / "state");
  }
  void TearDown() override {
    std::error_code error;
    fs::remove_all(root_, error);
  }

  // The options that pick the test driver and this program directory.
  std::vector<std::string> With(std::vector<std::string> arguments) const {
    std::vector<std::string> all = {
        "--program-dir", program_.string(),
        "--set",         std::string("Directory.Device=") + ROMSMITH_TEST_DRIVER_DIR,
        "--set",         "Remote.Device=test_driver.so"};
    all.insert(all.end(), arguments.begin(), arguments.end());
    return all;
  }

  pid_t Start(const std::vector<std::string>& arguments) {
    std::vector<std::string> args = {ROMSMITH_CLI};
    args.insert(args.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);

    std::map<std::string, std::string> env;
    for (char** e = environ; *e; ++e) {
      const std::string entry = *e;
      const auto equals = entry.find('=');
      if (equals != std::string::npos) env[entry.substr(0, equals)] = entry.substr(equals + 1);
    }
    for (const auto& [key, value] : environment_) env[key] = value;
    std::vector<std::string> entries;
    for (const auto& [key, value] : env) entries.push_back(key + "=" + value);
    std::vector<char*> envp;
    for (std::string& e : entries) envp.push_back(e.data());
    envp.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, input_.c_str(), O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, (root_ / "out.txt").c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (merged_) {
      // Both streams into one file, as "2>&1" gives them.
      posix_spawn_file_actions_adddup2(&actions, 1, 2);
      std::ofstream(root_ / "err.txt", std::ios::trunc);
    } else {
      posix_spawn_file_actions_addopen(&actions, 2, (root_ / "err.txt").c_str(),
                                       O_WRONLY | O_CREAT | O_TRUNC, 0644);
    }
    pid_t pid = -1;
    const int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    EXPECT_EQ(spawned, 0);
    return pid;
  }

  Result Finish(pid_t pid) {
    Result result;
    int status = 0;
    if (waitpid(pid, &status, 0) == pid && WIFEXITED(status)) result.status = WEXITSTATUS(status);
    result.out = ReadFile(root_ / "out.txt");
    result.err = ReadFile(root_ / "err.txt");
    return result;
  }

  Result Cli(const std::vector<std::string>& arguments) { return Finish(Start(arguments)); }

  std::string Cfg() const { return (root_ / "target.cfg").string(); }
  std::string Demo(const char* name) const {
    return (fs::path(ROMSMITH_SOURCE_DIR) / "data/examples" / name).string();
  }

  fs::path root_;
  fs::path program_;
  std::map<std::string, std::string> environment_;
  // Standard input of the runs, and whether standard error shares the file
  // of standard output.
  fs::path input_ = "/dev/null";
  bool merged_ = false;
};

TEST_F(CliRun, HelpVersionAndUsageErrors) {
  const Result help = Cli({"--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_EQ(help.out, CliHelpText());
  EXPECT_EQ(help.err, "");
  EXPECT_EQ(Cli({"-h", "erase"}).out, CliHelpText());

  const Result version = Cli({"--version"});
  EXPECT_EQ(version.status, 0);
  EXPECT_EQ(version.out, CliVersionText());

  const Result unknown = Cli({"frob"});
  EXPECT_EQ(unknown.status, 2);
  EXPECT_EQ(unknown.out, "");
  EXPECT_EQ(unknown.err, "romsmith-cli: unknown command 'frob'\nTry 'romsmith-cli --help'.\n");
  const Result none = Cli({});
  EXPECT_EQ(none.status, 2);
  EXPECT_EQ(none.err, "romsmith-cli: no command given\nTry 'romsmith-cli --help'.\n");
  const Result setting = Cli({"--set", "Remote.Port=1", "drivers"});
  EXPECT_EQ(setting.status, 2);
  EXPECT_EQ(setting.err, "romsmith-cli: unknown setting 'Remote.Port'\nTry 'romsmith-cli --help'.\n");

  // Set-up errors of the run itself.
  const Result dir = Cli({"--program-dir", (root_ / "missing").string(), "drivers"});
  EXPECT_EQ(dir.status, 2);
  EXPECT_EQ(dir.err, "romsmith-cli: program directory '" + (root_ / "missing").string() +
                         "' is not a directory\n");
  const Result board = Cli(With({"--board", (root_ / "no-board.ini").string(), "drivers"}));
  EXPECT_EQ(board.status, 2);
  EXPECT_EQ(board.err, "romsmith-cli: board file '" + (root_ / "no-board.ini").string() +
                           "' not found\n");
}

TEST_F(CliRun, ListsTheDriverModulesFound) {
  const Result result = Cli(With({"drivers"}));
  EXPECT_EQ(result.status, 0) << result.err;
  // not_a_driver.so beside it has no driver export and is passed over.
  EXPECT_EQ(result.out,
            "test_driver\n"
            "  description: Test driver test_driver\n"
            "  version: 1\n"
            "  speeds: High Speed, Medium Speed, Low Speed\n"
            "  communication types: PARALLEL\n");

  environment_["TESTDRIVER_SPEEDS"] = "";
  environment_["TESTDRIVER_COMM_TYPES"] = "0x8108";
  EXPECT_NE(Cli(With({"drivers"})).out.find("  speeds: none\n  communication types: TCPIP, USB, "
                                           "PARALLEL\n"),
            std::string::npos);

  // A directory without modules.
  const Result empty = Cli({"--program-dir", program_.string(), "drivers"});
  EXPECT_EQ(empty.status, 0);
  EXPECT_EQ(empty.out, "Info: no driver modules found in " + program_.string() + "/drivers/\n");
}

TEST_F(CliRun, ProgramVerifyChecksumSucceedAndFilesStayAsTheyWere) {
  const std::string settings_before = ReadFile(program_ / "romsmith.ini");
  const std::string profile_before = ReadFile(root_ / "profile.ini");
  const std::string config_before = ReadFile(Cfg());

  const Result program = Cli(With({"-c", Cfg(), "-f", Demo("demo.bin"), "-s", "1-4", "-y",
                                   "program"}));
  EXPECT_EQ(program.status, 0) << program.out << program.err;
  const std::string demo = ReadFile(Demo("demo.bin"));
  const std::string nor = ReadFile(root_ / "state/nor.bin");
  ASSERT_GE(nor.size(), demo.size());
  EXPECT_EQ(nor.substr(0, demo.size()), demo);
  // Every line ends in its own line break, and the log holds the erase and
  // the programming.
  EXPECT_EQ(program.out.back(), '\n');
  EXPECT_NE(program.out.find("Info: "), std::string::npos);

  const Result verify = Cli(With({"-c", Cfg(), "-f", Demo("demo.bin"), "-s", "1-4", "verify"}));
  EXPECT_EQ(verify.status, 0) << verify.out;
  EXPECT_NE(verify.out.find("Info: verify success.\n"), std::string::npos);

  // The HEX form of the same image programs the same bytes.
  const Result hex = Cli(With({"-c", Cfg(), "-f", Demo("demo.hex"), "--format", "hex", "-s",
                               "1-4", "-y", "program"}));
  EXPECT_EQ(hex.status, 0) << hex.out;
  EXPECT_EQ(ReadFile(root_ / "state/nor.bin").substr(0, demo.size()), demo);
  const Result checksum = Cli(With({"-c", Cfg(), "-s", "1-4", "checksum"}));
  EXPECT_EQ(checksum.status, 0) << checksum.out;

  // Quiet: no progress and no "Info:" lines, but the result itself.
  const Result quiet = Cli(With({"-q", "-c", Cfg(), "-s", "1-4", "checksum"}));
  EXPECT_EQ(quiet.status, 0);
  EXPECT_EQ(quiet.out.rfind("Info: checksum completed, it is 0x", 0), 0u) << quiet.out;
  EXPECT_EQ(quiet.out.find('\n'), quiet.out.size() - 1) << quiet.out;
  EXPECT_EQ(quiet.err, "");

  EXPECT_EQ(ReadFile(program_ / "romsmith.ini"), settings_before);
  EXPECT_EQ(ReadFile(root_ / "profile.ini"), profile_before);
  EXPECT_EQ(ReadFile(Cfg()), config_before);
}

TEST_F(CliRun, OverridesAreWhatMakesTheRunWork) {
  // Without the overrides the settings name a driver that is not there.
  const Result plain = Cli({"--program-dir", program_.string(), "-c", Cfg(), "checksum"});
  EXPECT_EQ(plain.status, 1);
  EXPECT_NE(plain.err.find("Error: unable to load emulator module.\n"), std::string::npos);

  // A profile option: a time-out of 1 second (the shortest there is) ends
  // a loader run that never finishes.
  environment_["TESTDRIVER_RUN_POLLS"] = "1000000";
  const Result timed = Cli(With({"--set", "Option.TimeOut=1", "-c", Cfg(), "-s", "1-1", "erase"}));
  EXPECT_EQ(timed.status, 1) << timed.out;
  EXPECT_EQ(ReadFile(program_ / "romsmith.ini"), kSettings);
  EXPECT_EQ(ReadFile(root_ / "profile.ini"), kProfile);
}

TEST_F(CliRun, FailedCommandsAndSetUpErrors) {
  // A program file that differs from the flash: verify fails (1).
  WriteFile(root_ / "other.bin", std::string(4096, '\x5A'));
  const Result verify =
      Cli(With({"-c", Cfg(), "-f", (root_ / "other.bin").string(), "-s", "1-1", "verify"}));
  EXPECT_EQ(verify.status, 1) << verify.out;
  EXPECT_NE(verify.err.find("Error: "), std::string::npos);

  // A driver slot that fails: the command fails (1).
  environment_["TESTDRIVER_FAIL"] = "17";  // connect
  EXPECT_EQ(Cli(With({"-c", Cfg(), "checksum"})).status, 1);
  // Board set-up writes that fail while the checksum itself completes: an
  // error line fails the command whatever its last line says (1).
  environment_["TESTDRIVER_FAIL"] = "36";  // write memory
  const Result setup = Cli(With({"-c", Cfg(), "-s", "1-1", "checksum"}));
  EXPECT_EQ(setup.status, 1) << setup.out;
  EXPECT_NE(setup.err.find("Error: write memory failed."), std::string::npos) << setup.err;
  environment_.erase("TESTDRIVER_FAIL");

  // Validation: a sector beyond the device's 35 (2, nothing started).
  const Result range = Cli(With({"-c", Cfg(), "-s", "1-36", "checksum"}));
  EXPECT_EQ(range.status, 2) << range.out;
  EXPECT_NE(range.err.find("Error: "), std::string::npos);

  // A configuration that cannot be read.
  const Result missing = Cli(With({"-c", (root_ / "none.cfg").string(), "checksum"}));
  EXPECT_EQ(missing.status, 2);
  EXPECT_NE(missing.err.find("romsmith-cli: target configuration '"), std::string::npos);

  // Settings that cannot be read: an empty program directory.
  fs::create_directories(root_ / "empty");
  const Result settings =
      Cli({"--program-dir", (root_ / "empty").string(), "-c", Cfg(), "checksum"});
  EXPECT_EQ(settings.status, 2);
  // The box that says why, then the run's own line.
  const auto box = settings.err.find("Can't open romsmith.ini file!\n");
  ASSERT_NE(box, std::string::npos) << settings.err;
  EXPECT_EQ(settings.err.substr(box + 30), "romsmith-cli: the settings could not be loaded\n");
}

TEST_F(CliRun, CtrlCStopsARunningLoader) {
  environment_["TESTDRIVER_RUN_NEVER_ENDS"] = "1";
  const pid_t pid = Start(With({"-c", Cfg(), "-s", "1-1", "--set", "Option.TimeOut=60", "erase"}));
  // Wait until the loader runs (its waiting line is out), then Ctrl-C.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (ReadFile(root_ / "out.txt").find("wait") == std::string::npos &&
         std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  const auto sent = std::chrono::steady_clock::now();
  ASSERT_EQ(kill(pid, SIGINT), 0);
  const Result result = Finish(pid);
  const auto took = std::chrono::steady_clock::now() - sent;
  EXPECT_EQ(result.status, 3) << result.out << result.err;
  EXPECT_LT(took, std::chrono::seconds(2));
}

TEST_F(CliRun, ASecondCtrlCEndsAtOnce) {
  environment_["TESTDRIVER_RUN_NEVER_ENDS"] = "1";
  // The first Ctrl-C is taken at the loader's next status poll, up to 100 ms
  // away; a second one soon after ends the program without waiting. Two
  // signals sent too close together are one, and a first one taken at once
  // leaves nothing for the second: a few tries show it.
  bool at_once = false;
  for (int attempt = 0; attempt < 5 && !at_once; ++attempt) {
    const pid_t pid = Start(With({"-c", Cfg(), "-s", "1-1", "erase"}));
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (ReadFile(root_ / "out.txt").find("wait") == std::string::npos &&
           std::chrono::steady_clock::now() < deadline)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ASSERT_EQ(kill(pid, SIGINT), 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
    kill(pid, SIGINT);
    const Result result = Finish(pid);
    EXPECT_EQ(result.status, 3);
    at_once = result.err == "\nInfo: stopped at once.\n";
    if (!at_once) {
      EXPECT_EQ(result.err, "");
    }
  }
  EXPECT_TRUE(at_once);
}

TEST_F(CliRun, QuestionsAnsweredByTheOptionsOrNo) {
  // A memory row inside the flash array does not read back what was written:
  // the target test asks whether to go on.
  std::string config = ReadFile(Cfg());
  const auto at = config.find("MemoryCount=0");
  ASSERT_NE(at, std::string::npos);
  config.replace(at, 13, "MemoryCount=1\nMem1=$00000100:$12345678:32");
  WriteFile(Cfg(), config);
  const std::string question =
      "Write 0x12345678 to memory 0x00000100, but read value is 0xFFFFFFFF, select YES to "
      "continue test!";

  const Result no = Cli(With({"-c", Cfg(), "--no", "target-test"}));
  EXPECT_EQ(no.status, 1) << no.out;
  EXPECT_NE(no.out.find(question + " -> No\n"), std::string::npos) << no.out;
  EXPECT_NE(no.err.find("Error: target board test failed.\n"), std::string::npos);

  // No terminal to ask on (standard input is /dev/null): No.
  const Result unasked = Cli(With({"-c", Cfg(), "target-test"}));
  EXPECT_EQ(unasked.status, 1);
  EXPECT_NE(unasked.out.find(question + " -> No\n"), std::string::npos);

  const Result yes = Cli(With({"-c", Cfg(), "-y", "target-test"}));
  EXPECT_EQ(yes.status, 0) << yes.out;
  EXPECT_NE(yes.out.find(question + " -> Yes\n"), std::string::npos);
  EXPECT_NE(yes.out.find("target test success"), std::string::npos);

  // The check itself is a setting of romsmith.ini.
  const Result off = Cli(With({"-c", Cfg(), "--set", "Option.RegChkPop=0", "target-test"}));
  EXPECT_EQ(off.status, 0);
  EXPECT_EQ(off.out.find(question), std::string::npos);
}

TEST_F(CliRun, VerboseLinesAndTheLogFile) {
  environment_["TESTDRIVER_SAY"] = "17:Debug: probe answered";  // at connect
  const Result normal = Cli(With({"-c", Cfg(), "-s", "1-1", "checksum"}));
  EXPECT_EQ(normal.status, 0);
  EXPECT_EQ(normal.out.find("Debug: probe answered"), std::string::npos);
  const Result verbose = Cli(With({"-v", "-c", Cfg(), "-s", "1-1", "checksum"}));
  EXPECT_NE(verbose.out.find("Debug: probe answered\n"), std::string::npos);

  // "Log" of the profile, given for this run: Info.log gets every line.
  EXPECT_FALSE(fs::exists(program_ / "Info.log"));
  const Result logged =
      Cli(With({"-q", "--set", "Option.Log=1", "-c", Cfg(), "-s", "1-1", "checksum"}));
  EXPECT_EQ(logged.status, 0);
  EXPECT_EQ(logged.out.rfind("Info: checksum completed", 0), 0u) << logged.out;
  EXPECT_EQ(logged.out.find("Debug:"), std::string::npos);
  const std::string log = ReadFile(program_ / "Info.log");
  EXPECT_NE(log.find("Debug: probe answered"), std::string::npos);
  EXPECT_NE(log.find("Info: checksum completed"), std::string::npos);
  EXPECT_EQ(ReadFile(root_ / "profile.ini"), kProfile);
}

TEST_F(CliRun, OptionValuesAreCheckedAsTheOptionDialogChecksThem) {
  // On the command line: refused before anything runs, with the dialog's
  // range.
  for (const std::string bad : {"abc", "-5", "0", "361", "99999999999"}) {
    const Result refused =
        Cli(With({"--set", "Option.TimeOut=" + bad, "-c", Cfg(), "-s", "1-1", "erase"}));
    EXPECT_EQ(refused.status, 2) << bad;
    EXPECT_EQ(refused.out, "") << bad;
    EXPECT_EQ(refused.err, "romsmith-cli: --set 'Option.TimeOut=" + bad +
                               "': Please enter an integer between 1 and 360.\n"
                               "Try 'romsmith-cli --help'.\n");
  }
  // In the profile: the default stands in, with a warning, and the run
  // neither fails at once nor waits for ever.
  WriteFile(root_ / "profile.ini", "[Option]\r\nTimeOut=99999999999\r\nResetCount=1\r\n");
  const Result fallback = Cli(With({"-c", Cfg(), "-s", "1-1", "erase"}));
  EXPECT_EQ(fallback.status, 0) << fallback.out << fallback.err;
  EXPECT_NE((fallback.out + fallback.err)
                .find("Warning: TimeOut=99999999999 in the profile (section \"Option\") "
                      "is not an integer between 1 and 360; the default 12 is used.\n"),
            std::string::npos)
      << fallback.out;
}

TEST_F(CliRun, ADriverErrorLineFailsAnOtherwiseFinishedCommand) {
  environment_["TESTDRIVER_SAY"] = "17:Error: probe lost sync once";  // at connect
  const Result result = Cli(With({"-c", Cfg(), "-s", "1-1", "checksum"}));
  EXPECT_EQ(result.status, 1);
  EXPECT_NE(result.out.find("Info: checksum completed"), std::string::npos) << result.out;
  EXPECT_NE((result.out + result.err).find("Error: probe lost sync once"), std::string::npos);
}

TEST_F(CliRun, ReadRegistersPrintsEveryRow) {
  const Result result = Cli(With({"-c", Cfg(), "read-registers"}));
  EXPECT_EQ(result.status, 0) << result.out;
  // The command's own lines first, then one line per register row.
  const std::string rows =
      "WTCON = 0x00000000\nINTMSK = 0x00000000\nLOCKTIME = 0x00000000\nPLLCON = 0x00000000\n";
  const auto at = result.out.find(rows);
  ASSERT_NE(at, std::string::npos) << result.out;
  EXPECT_GT(at, 0u);
  EXPECT_EQ(result.out.substr(result.out.size() - 20), "MRSRB6 = 0x00000000\n");
}

TEST_F(CliRun, ConversionRoundTrips) {
  const fs::path scrambled = root_ / "demo.xdl";
  const fs::path plain = root_ / "demo.plain";
  const fs::path flat = root_ / "demo.flat";
  const Result encode = Cli({"encode", Demo("demo.bin"), scrambled.string()});
  EXPECT_EQ(encode.status, 0) << encode.out;
  EXPECT_NE(ReadFile(scrambled), ReadFile(Demo("demo.bin")));
  EXPECT_EQ(Cli({"decode", scrambled.string(), plain.string()}).status, 0);
  EXPECT_EQ(ReadFile(plain), ReadFile(Demo("demo.bin")));

  const Result hex = Cli({"hex2bin", Demo("demo.hex"), flat.string()});
  EXPECT_EQ(hex.status, 0);
  EXPECT_EQ(hex.out, "Info: hex2bin " + Demo("demo.hex") + " " + flat.string() + " done.\n");
  EXPECT_EQ(ReadFile(flat), ReadFile(Demo("demo.bin")));

  // A text that is no HEX file fails (1) and says so.
  WriteFile(root_ / "bad.hex", "not a record\n");
  const Result bad = Cli({"hex2bin", (root_ / "bad.hex").string(), flat.string()});
  EXPECT_EQ(bad.status, 1);
  EXPECT_NE(bad.err.find("Error: hex2bin "), std::string::npos);
  // The earlier output stays whole, and nothing is left beside it.
  EXPECT_EQ(ReadFile(flat), ReadFile(Demo("demo.bin")));
  for (const auto& entry : fs::directory_iterator(root_))
    EXPECT_EQ(entry.path().string().find(".part"), std::string::npos) << entry.path();
  const Result missing = Cli({"decode", (root_ / "none.xdl").string(), plain.string()});
  EXPECT_EQ(missing.status, 1);
  EXPECT_NE(missing.err.find("Error: can't open input file"), std::string::npos) << missing.out << missing.err;
}

TEST_F(CliRun, ResultsOnStandardOutputFailuresOnStandardError) {
  // A command that succeeds writes nothing on standard error.
  const Result checksum = Cli(With({"-c", Cfg(), "-s", "1-1", "checksum"}));
  EXPECT_EQ(checksum.status, 0);
  EXPECT_NE(checksum.out.find("Info: start checksum...\n"), std::string::npos) << checksum.out;
  EXPECT_NE(checksum.out.find("Info: checksum completed, it is 0x"), std::string::npos) << checksum.out;
  EXPECT_EQ(checksum.err, "");

  // One that fails: its error on standard error, and none on standard output.
  WriteFile(root_ / "other.bin", std::string(4096, '\x5A'));
  const std::vector<std::string> verify =
      With({"-c", Cfg(), "-f", (root_ / "other.bin").string(), "-s", "1-1", "verify"});
  const Result failed = Cli(verify);
  EXPECT_EQ(failed.status, 1);
  EXPECT_NE(failed.out.find("Info: start verify...\n"), std::string::npos) << failed.out;
  EXPECT_EQ(failed.out.find("Error:"), std::string::npos) << failed.out;
  EXPECT_EQ(failed.err.rfind("Error: verify failed, different at address 0x", 0), 0u) << failed.err;

  // Quiet keeps the first differing address and drops the rest.
  const Result quiet = Cli(With({"-q", "-c", Cfg(), "-f", (root_ / "other.bin").string(), "-s", "1-1", "verify"}));
  EXPECT_EQ(quiet.out, "");
  EXPECT_EQ(quiet.err, failed.err);

  // Sharing one file, the lines stay whole and in the order of the log.
  merged_ = true;
  const Result both = Cli(verify);
  const auto start = both.out.find("Info: start verify...\n");
  const auto error = both.out.find(failed.err);
  ASSERT_NE(start, std::string::npos) << both.out;
  ASSERT_NE(error, std::string::npos) << both.out;
  EXPECT_LT(start, error);
}

// Every command's --json output, checked against the committed schema by a
// validator of its own.
TEST_F(CliRun, JsonOfEveryCommandMatchesTheSchema) {
  WriteFile(root_ / "other.bin", std::string(4096, '\x5A'));
  ASSERT_EQ(Cli(With({"-c", Cfg(), "-f", Demo("demo.bin"), "-s", "1-4", "-y", "program"})).status, 0);
  const struct {
    const char* name;
    std::vector<std::string> arguments;
    int status;
  } runs[] = {
      {"blank-check", With({"-c", Cfg(), "-s", "10-10", "blank-check"}), 0},
      {"checksum", With({"-c", Cfg(), "-s", "1-1", "checksum"}), 0},
      {"erase", With({"-c", Cfg(), "-s", "10-10", "erase"}), 0},
      {"program", With({"-c", Cfg(), "-f", Demo("demo.bin"), "-s", "1-4", "-y", "program"}), 0},
      {"verify", With({"-c", Cfg(), "-f", Demo("demo.bin"), "-s", "1-4", "verify"}), 0},
      {"verify-failed", With({"-c", Cfg(), "-f", (root_ / "other.bin").string(), "-s", "1-1", "verify"}), 1},
      {"protect", With({"-c", Cfg(), "-s", "10-10", "protect"}), -1},
      {"upload", With({"-c", Cfg(), "-s", "1-1", "-f", (root_ / "up.bin").string(), "-y", "upload"}), 0},
      {"target-test", With({"-c", Cfg(), "-y", "target-test"}), 0},
      {"read-registers", With({"-c", Cfg(), "read-registers"}), 0},
      {"drivers", With({"drivers"}), 0},
      {"hex2bin", {"hex2bin", Demo("demo.hex"), (root_ / "demo.flat").string()}, 0},
      {"encode", {"encode", Demo("demo.bin"), (root_ / "demo.xdl").string()}, 0},
      {"decode", {"decode", (root_ / "demo.xdl").string(), (root_ / "demo.plain").string()}, 0},
      {"set-up error", With({"-c", (root_ / "none.cfg").string(), "checksum"}), 2},
      {"usage error", {"-s", "4-1", "checksum"}, 2},
  };
  std::vector<std::string> files;
  for (const auto& run : runs) {
    std::vector<std::string> arguments = run.arguments;
    arguments.insert(arguments.begin(), "--json");
    const Result result = Cli(arguments);
    if (run.status >= 0) {
      EXPECT_EQ(result.status, run.status) << run.name << "\n" << result.out << result.err;
    }
    // One object, one line, nothing else on standard output.
    EXPECT_EQ(result.out.find('\n'), result.out.size() - 1) << run.name << "\n" << result.out;
    EXPECT_EQ(result.out.find("\"exit_status\":" + std::to_string(result.status)) != std::string::npos, true)
        << run.name << "\n" << result.out;
    files.push_back((root_ / (std::string("record-") + std::to_string(files.size()) + ".json")).string());
    WriteFile(files.back(), result.out);
  }
  // What the records say, beside their shape.
  EXPECT_NE(ReadFile(files[1]).find("\"checksum\":"), std::string::npos);
  EXPECT_EQ(ReadFile(files[1]).find("\"checksum\":null"), std::string::npos) << ReadFile(files[1]);
  EXPECT_NE(ReadFile(files[5]).find("\"first_difference\":{\"address\":"), std::string::npos) << ReadFile(files[5]);
  EXPECT_NE(ReadFile(files[5]).find("\"kind\":\"error\""), std::string::npos);
  EXPECT_NE(ReadFile(files[3]).find("\"bytes\":" + std::to_string(ReadFile(Demo("demo.bin")).size())),
            std::string::npos) << ReadFile(files[3]);
  EXPECT_NE(ReadFile(files[8]).find("\"device_code\":"), std::string::npos);
  EXPECT_NE(ReadFile(files[9]).find("\"registers\":[{\"name\":\"WTCON\""), std::string::npos) << ReadFile(files[9]);
  EXPECT_NE(ReadFile(files[15]).find("\"outcome\":\"usage\""), std::string::npos);

  std::string command = "python3 -c 'import json, sys, jsonschema\n"
                        "schema = json.load(open(sys.argv[1]))\n"
                        "for name in sys.argv[2:]:\n"
                        "    jsonschema.validate(json.load(open(name)), schema)\n' '" +
                        std::string(ROMSMITH_SOURCE_DIR) + "/cli/romsmith-cli.schema.json'";
  for (const std::string& file : files) command += " '" + file + "'";
  EXPECT_EQ(std::system((command + " >" + (root_ / "schema.txt").string() + " 2>&1").c_str()), 0)
      << ReadFile(root_ / "schema.txt");
}

TEST_F(CliRun, ProgramFromStandardInputAndUploadToStandardOutput) {
  fs::create_directories(root_ / "tmp");
  environment_["TMPDIR"] = (root_ / "tmp").string();
  std::string image;
  for (int i = 0; i < 6000; ++i) image.push_back(static_cast<char>(i * 7 + i / 256));
  WriteFile(root_ / "image.bin", image);
  input_ = root_ / "image.bin";
  const Result program = Cli(With({"-c", Cfg(), "-f", "-", "-s", "1-2", "-y", "program"}));
  EXPECT_EQ(program.status, 0) << program.out << program.err;
  EXPECT_TRUE(ReadFile(root_ / "state/nor.bin").substr(0, image.size()) == image);
  const Result verify = Cli(With({"-c", Cfg(), "-f", "-", "-s", "1-2", "verify"}));
  EXPECT_EQ(verify.status, 0) << verify.out << verify.err;

  // The image on standard output, every line on standard error.
  input_ = "/dev/null";
  const Result upload = Cli(With({"-c", Cfg(), "-f", "-", "-s", "1-1", "upload"}));
  EXPECT_EQ(upload.status, 0) << upload.err;
  const std::string sector = ReadFile(root_ / "state/nor.bin").substr(0, upload.out.size());
  EXPECT_EQ(upload.out.size(), 16384u);
  EXPECT_TRUE(upload.out == sector);
  EXPECT_TRUE(upload.out.substr(0, image.size()) == image);
  EXPECT_NE(upload.err.find("Info: upload completed.\n"), std::string::npos) << upload.err;
  // Nothing is left of the private copies.
  EXPECT_TRUE(fs::is_empty(root_ / "tmp"));

  // An empty standard input is refused before the command starts.
  const std::string before = ReadFile(root_ / "state/nor.bin");
  const Result empty = Cli(With({"-c", Cfg(), "-f", "-", "-s", "1-2", "--auto-erase", "-y", "program"}));
  EXPECT_EQ(empty.status, 2);
  EXPECT_EQ(empty.err, "romsmith-cli: standard input is empty: no program file\n");
  EXPECT_EQ(empty.out.find("Info: start"), std::string::npos) << empty.out;
  EXPECT_TRUE(ReadFile(root_ / "state/nor.bin") == before);
}

// Bad blocks move a NAND device's data away from its addresses: an image is
// refused before anything starts (2), as other set-up errors are.
TEST_F(CliRun, TheImageFormatIsRefusedOnANandCpu) {
  WriteFile(root_ / "image.srec", "S20800000001020304ED\nS804000000FB\n");
  for (const char* command : {"program", "verify"}) {
    SCOPED_TRACE(command);
    const Result run =
        Cli(With({"-c", Demo("s3c2410-nand-k9f1208u0b.cfg"), "-f", (root_ / "image.srec").string(),
                  "--format", "image", "-y", command}));
    EXPECT_EQ(run.status, 2) << run.out << run.err;
    EXPECT_NE(run.err.find("Error: the image format places data at flash addresses, which a NAND "
                           "device with bad blocks does not keep; use Flat Bin.\n"),
              std::string::npos)
        << run.err;
    EXPECT_EQ(run.out.find("Info: start"), std::string::npos) << run.out;
  }
}

}  // namespace
}  // namespace romsmith
