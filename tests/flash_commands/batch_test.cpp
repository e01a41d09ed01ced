// romsmith-cli batch on a station of four virtual boards: each target in
// processes of its own, so a board with a stuck bit and one whose probe dies
// fail alone while the other two program and verify; the table, the JSON
// summary and the production log say which failed and why; Ctrl-C stops all
// four at once.
#include <signal.h>

#include <regex>
#include <sstream>

#include "tests/flash_commands/flash_commands_fixture.h"

namespace flash_commands {
namespace {

constexpr std::size_t kImageBytes = 24 * 1024;  // sectors 1-3 of the Am29LV160DB hold 32 KiB

// The CRC-32 of zip and PNG, bit by bit, as the production log writes it.
std::string Crc32Text(const Bytes& bytes) {
  std::uint32_t sum = 0xFFFFFFFFu;
  for (unsigned char byte : bytes) {
    sum ^= byte;
    for (int k = 0; k < 8; ++k) sum = (sum & 1) ? 0xEDB88320u ^ (sum >> 1) : sum >> 1;
  }
  char text[16];
  std::snprintf(text, sizeof text, "%08X", ~sum);
  return text;
}

class Batch : public FlashCommands {
 protected:
  // Board NAME: a copy of the prepared board with a flash image of its own
  // and `faults`.
  void AddBoard(const std::string& name, const std::string& faults) {
    std::string board = ReadText(root_ / "board.ini");
    Replace(board, "Image=flash.bin", "Image=flash-" + name + ".bin");
    if (!faults.empty()) board += "\n[Faults]\n" + faults + "\n";
    WriteText(root_ / ("board-" + name + ".ini"), board);
    WriteBytes(root_ / ("flash-" + name + ".bin"), Bytes(size_, 0xFF));
    station_ += "[Target " + name + "]\nConfig=target.cfg\nDevice=osprey7.so\nBoard=board-" + name + ".ini\n";
    WriteText(root_ / "station.ini", station_);
  }

  // The batch with `arguments` after the station file; standard output
  // and standard error apart.
  pid_t StartBatch(const std::string& arguments) {
    std::vector<std::string> args = {ROMSMITH_CLI, "batch", (root_ / "station.ini").string(), "--program-dir",
                                     (root_ / "program").string(), "--set",
                                     std::string("Directory.Device=") + ROMSMITH_STAGE_DIR + "/drivers/",
                                     "--set",
                                     std::string("Directory.Driver=") + ROMSMITH_STAGE_DIR + "/ports/simboard/",
                                     "-y"};
    std::istringstream words(arguments);
    for (std::string word; words >> word;) args.push_back(word);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, (root_ / "out.txt").c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, (root_ / "err.txt").c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
    return Spawn(args, actions);
  }

  CliResult RunBatch(const std::string& arguments) {
    CliResult run;
    run.status = Wait(StartBatch(arguments));
    run.out = ReadText(root_ / "out.txt");
    run.err = ReadText(root_ / "err.txt");
    return run;
  }

  std::string station_;
};

TEST_F(Batch, AStuckBitAndADeadProbeFailAloneAndTheLogsSayWhy) {
  Target t;
  t.board_extra = "ProgramTimeUs=1\n";
  Prepare(t);
  const Bytes image = Pattern(kImageBytes, 11);
  WriteBytes(root_ / "image.bin", image);
  AddBoard("A", "");
  AddBoard("stuck", "StuckBits=$00000100:$FFFF");
  AddBoard("B", "");
  AddBoard("dead", "DeadAfterPortAccesses=2000");

  const CliResult table = RunBatch("-f " + (root_ / "image.bin").string() + " -s 1-3 --auto-verify --csv " +
                                   (root_ / "line.csv").string() + " erase program verify");
  EXPECT_EQ(table.status, 1) << table.out << table.err;
  for (const char* good : {"A", "B"}) {
    const Bytes flash = ReadBytes(root_ / (std::string("flash-") + good + ".bin"));
    EXPECT_TRUE(std::equal(image.begin(), image.end(), flash.begin())) << good;
  }
  // The table: one row per target in station order; the failed ones name
  // their first error.
  std::istringstream rows(table.out);
  std::vector<std::string> lines;
  for (std::string line; std::getline(rows, line);) lines.push_back(line);
  ASSERT_EQ(lines.size(), 5u) << table.out;
  EXPECT_EQ(lines[0].rfind("target", 0), 0u);
  EXPECT_TRUE(std::regex_match(lines[1], std::regex("A +ok +[0-9.]+"))) << lines[1];
  EXPECT_TRUE(std::regex_match(lines[2], std::regex("stuck +failed +[0-9.]+  Error: .*"))) << lines[2];
  EXPECT_TRUE(std::regex_match(lines[3], std::regex("B +ok +[0-9.]+"))) << lines[3];
  EXPECT_TRUE(std::regex_match(lines[4], std::regex("dead +failed +[0-9.]+  Error: .*"))) << lines[4];
  // The loader's own read-back finds the bits that did not program.
  EXPECT_NE(lines[2].find("Error: verify error, program failed."), std::string::npos) << lines[2];
  // Without a terminal, the targets' errors come as they happen, named.
  EXPECT_NE(table.err.find("[stuck] Error: "), std::string::npos) << table.err;
  EXPECT_NE(table.err.find("[dead] Error: "), std::string::npos) << table.err;
  EXPECT_EQ(table.err.find("[A] "), std::string::npos) << table.err;

  // Again with --json: the same outcomes, and the production log grows.
  const CliResult json = RunBatch("-f " + (root_ / "image.bin").string() + " -s 1-3 --auto-verify --json --csv " +
                                  (root_ / "line.csv").string() + " erase program verify");
  EXPECT_EQ(json.status, 1);
  EXPECT_EQ(json.out.find('\n'), json.out.size() - 1) << json.out;
  for (const char* outcome : {"\"name\":\"A\"", "\"name\":\"dead\"", "\"outcome\":\"failed\"", "\"crc32\":\""})
    EXPECT_NE(json.out.find(outcome), std::string::npos) << outcome << "\n" << json.out;
  WriteText(root_ / "batch.json", json.out);
  const std::string validate = std::string("python3 -c 'import json, sys, jsonschema\n"
                                           "jsonschema.validate(json.load(open(sys.argv[2])), json.load(open(sys.argv[1])))\n' '") +
                               ROMSMITH_SOURCE_DIR + "/cli/romsmith-cli.schema.json' '" +
                               (root_ / "batch.json").string() + "' >'" + (root_ / "schema.txt").string() + "' 2>&1";
  EXPECT_EQ(std::system(validate.c_str()), 0) << ReadText(root_ / "schema.txt");

  const std::string crc = Crc32Text(image);
  std::istringstream log(ReadText(root_ / "line.csv"));
  std::vector<std::string> entries;
  for (std::string line; std::getline(log, line);) entries.push_back(line);
  ASSERT_EQ(entries.size(), 9u) << ReadText(root_ / "line.csv");
  EXPECT_EQ(entries[0], "time,station,target,image,crc32,outcome,duration_s,first_error");
  int failed = 0;
  for (std::size_t i = 1; i < entries.size(); ++i) {
    const std::string& e = entries[i];
    EXPECT_TRUE(std::regex_match(e, std::regex("[0-9-]+T[0-9:]+Z,station,(A|B|stuck|dead),image.bin,[0-9A-F]{8},"
                                               "(ok|failed),[0-9.]+,.*")))
        << e;
    EXPECT_NE(e.find(std::string(",image.bin,") + crc + ","), std::string::npos) << e;
    const bool bad = e.find(",stuck,") != std::string::npos || e.find(",dead,") != std::string::npos;
    EXPECT_EQ(std::regex_search(e, std::regex(",failed,[0-9.]+,\"?Error: ")), bad) << e;
    EXPECT_EQ(e.find(",ok,") != std::string::npos, !bad) << e;
    failed += bad;
  }
  EXPECT_EQ(failed, 4);
}

TEST_F(Batch, UploadWritesAFilePerTargetAndLogsWhatItRead) {
  Target t;
  Prepare(t);
  AddBoard("left", "");
  AddBoard("right", "");
  WriteBytes(root_ / "flash-left.bin", Pattern(size_, 1));
  WriteBytes(root_ / "flash-right.bin", Pattern(size_, 2));
  const CliResult run = RunBatch("-s 1-1 -f " + (root_ / "up.bin").string() + " --csv " +
                                 (root_ / "line.csv").string() + " upload");
  ASSERT_EQ(run.status, 0) << run.out << run.err;
  EXPECT_FALSE(fs::exists(root_ / "up.bin"));
  const std::string log = ReadText(root_ / "line.csv");
  for (const auto& [name, seed] : {std::pair<std::string, unsigned>{"left", 1}, {"right", 2}}) {
    const Bytes up = ReadBytes(root_ / ("up-" + name + ".bin"));
    EXPECT_TRUE(up == Pattern(0x4000, seed)) << name;
    EXPECT_NE(log.find("," + name + ",up-" + name + ".bin," + Crc32Text(up) + ",ok,"), std::string::npos) << log;
  }
}

TEST_F(Batch, CtrlCStopsEveryTargetWithinASecond) {
  Target t;
  t.real_time = true;
  Prepare(t);
  WriteText(root_ / "profile.ini", "[Option]\nTimeOut=60\nResetCount=1\nRegChkPop=0\n");
  for (const char* name : {"A", "B", "C", "D"}) AddBoard(name, "EraseNeverEnds=1");
  const pid_t pid = StartBatch("-s 1-1 erase");
  ASSERT_GT(pid, 0);
  // Every target is waiting for its erase by now.
  std::this_thread::sleep_for(std::chrono::milliseconds(2500));
  const auto sent = std::chrono::steady_clock::now();
  ASSERT_EQ(::kill(pid, SIGINT), 0);
  const int status = Wait(pid);
  const auto took = std::chrono::steady_clock::now() - sent;
  const std::string out = ReadText(root_ / "out.txt");
  EXPECT_EQ(status, 3) << out << ReadText(root_ / "err.txt");
  EXPECT_LT(took, std::chrono::seconds(1));
  for (const char* name : {"A ", "B ", "C ", "D "}) {
    const auto row = out.find(std::string("\n") + name);
    ASSERT_NE(row, std::string::npos) << out;
    EXPECT_EQ(out.compare(out.find_first_not_of(' ', row + 2), 7, "stopped"), 0) << out;
  }
}

}  // namespace
}  // namespace flash_commands
