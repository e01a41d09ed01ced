// The board's JTAG side as the outside sees it: the remote_bitbang protocol
// and server, the JTAG keys of a board file, a whole board through its
// parallel port, real-time running.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <string>
#include <thread>
#include <vector>

#include "simboard/debug/arm920t_cp15.h"
#include "simboard/board/board_jtag.h"
#include "simboard/tool/remote_bitbang.h"
#include "simboard/tests/arm_test_support.h"
#include "simboard/tests/jtag_test_support.h"
#include "simboard/tool/tool_options.h"

namespace simboard {
namespace {

class RecordingConnector : public JtagConnector {
 public:
  void SetPins(bool tck, bool tms, bool tdi) override {
    pins.push_back((tck ? 4 : 0) | (tms ? 2 : 0) | (tdi ? 1 : 0));
  }
  bool Tdo() override { return tdo; }
  void SetTestReset(bool asserted) override { trst.push_back(asserted); }
  void SetSystemReset(bool asserted) override { srst.push_back(asserted); }
  std::vector<int> pins;
  std::vector<bool> trst, srst;
  bool tdo = false;
};

TEST(BitbangProtocol, CharactersDrivePinsResetsAndReads) {
  RecordingConnector target;
  BitbangProtocol protocol(target);
  std::string reply;
  const std::string commands = "0127Bb\nR";
  EXPECT_TRUE(protocol.Process(commands.data(), commands.size(), reply));
  EXPECT_EQ(target.pins, (std::vector<int>{0, 1, 2, 7}));
  EXPECT_FALSE(protocol.Led());
  target.tdo = true;
  const std::string more = "RrstuB";
  EXPECT_TRUE(protocol.Process(more.data(), more.size(), reply));
  EXPECT_EQ(reply, "01");
  EXPECT_EQ(target.trst, (std::vector<bool>{false, false, true, true}));
  EXPECT_EQ(target.srst, (std::vector<bool>{false, true, false, true}));
  EXPECT_TRUE(protocol.Led());
  // 'Q' ends the session; what follows it is not looked at.
  const std::string quit = "x4Q5";
  EXPECT_FALSE(protocol.Process(quit.data(), quit.size(), reply));
  EXPECT_EQ(target.pins.back(), 4);
  EXPECT_EQ(protocol.Counters().unknown, 1u);
  EXPECT_EQ(protocol.Counters().reads, 2u);
}

// Bitbang text for one TCK period with a TDO read while TCK is low.
std::string Period(bool tms, bool tdi, bool read) {
  std::string s;
  s += static_cast<char>('0' + (tms ? 2 : 0) + (tdi ? 1 : 0));
  if (read) s += 'R';
  s += static_cast<char>('4' + (tms ? 2 : 0) + (tdi ? 1 : 0));
  return s;
}

TEST(RemoteBitbangServer, ServesAClientUntilItQuits) {
  testing::RamBus bus(0, 0x1000, ByteOrder::Little);
  ArmCore core(bus, CoreModel::ARM7TDMI);
  JtagSettings settings;
  settings.id_code = 0x1F0F0F0F;
  JtagSide side(core, bus, settings);
  RemoteBitbangServer server(side);
  std::string error;
  ASSERT_TRUE(server.Listen(0, error)) << error;
  ASSERT_NE(server.Port(), 0);
  std::atomic<bool> stop{false};
  bool served = false;
  std::thread serving([&] { served = server.Serve(stop, error); });

  int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(server.Port());
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  // Test-logic reset, Run-Test/Idle, then a 32-bit DR scan of the IDCODE.
  std::string text;
  for (int i = 0; i < 5; ++i) text += Period(true, false, false);
  text += Period(false, false, false);
  text += Period(true, false, false);   // Select-DR
  text += Period(false, false, false);  // Capture-DR
  text += Period(false, false, false);  // Shift-DR
  for (int k = 0; k < 32; ++k) text += Period(k == 31, false, true);
  ASSERT_EQ(write(fd, text.data(), text.size()), static_cast<ssize_t>(text.size()));
  std::string replies;
  char buffer[64];
  while (replies.size() < 32) {
    ssize_t got = read(fd, buffer, sizeof buffer);
    ASSERT_GT(got, 0);
    replies.append(buffer, static_cast<std::size_t>(got));
  }
  std::uint32_t id = 0;
  for (int k = 0; k < 32; ++k)
    if (replies[static_cast<std::size_t>(k)] == '1') id |= 1u << k;
  EXPECT_EQ(id, 0x1F0F0F0Fu);
  ASSERT_EQ(write(fd, "Q", 1), 1);
  serving.join();
  close(fd);
  EXPECT_TRUE(served) << error;
  EXPECT_EQ(server.Protocol().Counters().clients, 1u);
  EXPECT_EQ(server.Protocol().Counters().reads, 32u);
}

TEST(RemoteBitbangServer, StopsOnRequestWithoutAClient) {
  testing::RamBus bus(0, 0x1000, ByteOrder::Little);
  ArmCore core(bus, CoreModel::ARM7TDMI);
  JtagSide side(core, bus, JtagSettings{});
  RemoteBitbangServer server(side);
  std::string error;
  ASSERT_TRUE(server.Listen(0, error)) << error;
  std::atomic<bool> stop{false};
  std::thread stopper([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    stop = true;
  });
  EXPECT_TRUE(server.Serve(stop, error));
  stopper.join();
}

const char* kBoardText = R"(
[Board]
Core=ARM7TDMI
Endian=Little
IdCode=$4F1F0F0F
Probe=kestrel
PortBase=$278
RunBudget=10000
[Region1]
Kind=RAM
Base=$0C000000
Size=64K
)";

std::optional<BoardDescription> Describe(const std::string& text, std::string& error) {
  return ParseBoardText(text, "board.ini", error);
}

TEST(JtagBoardFile, ReadsTheJtagKeysAndFaults) {
  std::string error;
  auto description = Describe(std::string(kBoardText) +
                                  "[Faults]\nTdoStuck=1\nNeverHalt=1\nDeadAfterPortAccesses=$100\n",
                              error);
  ASSERT_TRUE(description) << error;
  auto settings = JtagSettingsFor(*description, error);
  ASSERT_TRUE(settings) << error;
  EXPECT_EQ(settings->id_code, 0x4F1F0F0Fu);
  EXPECT_EQ(settings->probe, ProbeKind::Kestrel);
  EXPECT_EQ(settings->port_base, 0x278u);
  EXPECT_TRUE(settings->tdo_stuck);
  EXPECT_TRUE(settings->debug.never_halt);
  EXPECT_EQ(settings->dead_after_port_accesses, 0x100u);
  EXPECT_EQ(settings->debug.run_budget, 10000u);

  description = Describe(std::string(kBoardText) + "[Faults]\nNeverHalt=2\n", error);
  ASSERT_TRUE(description) << error;
  EXPECT_FALSE(JtagSettingsFor(*description, error));
  EXPECT_NE(error.find("[Faults] NeverHalt"), std::string::npos) << error;
  description = Describe(std::string(kBoardText) + "[Faults]\nDeadAfterPortAccesses=many\n", error);
  ASSERT_TRUE(description) << error;
  EXPECT_FALSE(JtagSettingsFor(*description, error));
  EXPECT_NE(error.find("DeadAfterPortAccesses"), std::string::npos) << error;
}

TEST(JtagBoardFile, WholeBoardAnswersThroughItsPort) {
  std::string error;
  auto description = Describe(kBoardText, error);
  ASSERT_TRUE(description) << error;
  auto board = Board::Create(*description, error);
  ASSERT_TRUE(board) << error;
  auto jtag_board = JtagBoard::Create(std::move(board), error);
  ASSERT_TRUE(jtag_board) << error;
  ParallelPort& port = jtag_board->port();
  EXPECT_EQ(port.Base(), 0x278u);
  // Kestrel: enable with control bits 01, then clock the TAP through the
  // data register (bit 1 TMS, bit 2 TCK, bit 3 TDI) and read TDO inverted on
  // status bit 7.
  port.Write(0x27A, 0x01);
  auto clock = [&](bool tms, bool tdi) {
    std::uint8_t pins = static_cast<std::uint8_t>((tms ? 0x02 : 0) | (tdi ? 0x08 : 0));
    port.Write(0x278, pins);
    bool tdo = (port.Read(0x279) & 0x80) == 0;
    port.Write(0x278, pins | 0x04);
    return tdo;
  };
  for (int i = 0; i < 5; ++i) clock(true, false);
  clock(false, false);
  clock(true, false);
  clock(false, false);
  clock(false, false);
  std::uint32_t id = 0;
  for (int k = 0; k < 32; ++k)
    if (clock(k == 31, false)) id |= 1u << k;
  EXPECT_EQ(id, 0x4F1F0F0Fu);
  std::string report = jtag_board->CounterReport();
  EXPECT_NE(report.find("port_writes="), std::string::npos);
  EXPECT_NE(report.find("tck_cycles=41\n"), std::string::npos) << report;  // 5 + 1 + 3 + 32
  EXPECT_EQ(jtag_board->jtag().Port().Counters().reads, 41u);
  EXPECT_EQ(jtag_board->jtag().Port().Counters().writes, 83u);  // control, then two a clock
}

TEST(JtagBoardFile, EachCoreGetsItsOwnDebugLogic) {
  struct Case {
    const char* core;
    unsigned select_bits;
    unsigned chain1_length;
  };
  for (Case c : {Case{"ARM7TDMI", 4, 33}, Case{"ARM9TDMI", 5, 67}, Case{"ARM920T", 5, 67}}) {
    std::string error;
    std::string text = kBoardText;
    text.replace(text.find("ARM7TDMI"), 8, c.core);
    auto description = Describe(text, error);
    ASSERT_TRUE(description) << error;
    auto board = Board::Create(*description, error);
    ASSERT_TRUE(board) << error;
    auto jtag_board = JtagBoard::Create(std::move(board), error);
    ASSERT_TRUE(jtag_board) << c.core << ": " << error;
    testing::JtagMaster jtag(jtag_board->jtag());
    jtag.Reset();
    ASSERT_EQ(jtag.IrScan(tap_instruction::kScanN), kIrCaptureValue);
    EXPECT_EQ(jtag.MeasureDr(), c.select_bits) << c.core;
    ASSERT_TRUE(jtag.SelectChain(1, c.select_bits));
    EXPECT_EQ(jtag.MeasureDr(), c.chain1_length) << c.core;
  }
}

// The ARM9 board files shipped in the program directory: each opens, serves
// its IDCODE and the ARM920T's CP15 ID through scan chain 15.
TEST(JtagBoardFile, ShippedBoardsServeTheirCores) {
  namespace fs = std::filesystem;
  fs::path dir = fs::temp_directory_path() / ("simjtag-shipped-" + std::to_string(getpid()));
  fs::create_directories(dir);
  for (const char* file : {"board-arm9.ini", "board-arm9-big.ini"}) {
    fs::copy_file(fs::path(ROMSMITH_SOURCE_DIR) / "ports/simboard" / file, dir / file,
                  fs::copy_options::overwrite_existing);
    std::string error;
    auto jtag_board = JtagBoard::Open(dir / file, error);
    ASSERT_TRUE(jtag_board) << file << ": " << error;
    testing::JtagMaster jtag(jtag_board->jtag());
    jtag.Reset();
    ASSERT_EQ(jtag.IrScan(tap_instruction::kIdCode), kIrCaptureValue);
    EXPECT_EQ(jtag.DrScan(0, 32), 0x0032409Du) << file;
    ASSERT_TRUE(jtag.SelectChain(15, 5));
    ScanBits read_id = arm920t::Chain15Word(true, 0, arm920t::kPhysId, false);
    jtag.DrScanWide(read_id, kArm920tChain15Length);
    EXPECT_EQ(arm920t::Chain15Data(jtag.DrScanWide(read_id, kArm920tChain15Length)), 0x41129200u)
        << file;
  }
  fs::remove_all(dir);
}

TEST(RemoteBitbangOption, TakesOnePortAndNoOtherVerb) {
  ToolOptions options;
  std::string error;
  ASSERT_TRUE(ParseToolOptions({"--board", "b.ini", "--remote-bitbang", "5555"}, options, error))
      << error;
  EXPECT_EQ(options.verb, ToolVerb::RemoteBitbang);
  EXPECT_EQ(options.remote_bitbang_port, 5555);
  for (const char* bad : {"0", "65536", "port"}) {
    ToolOptions o;
    EXPECT_FALSE(ParseToolOptions({"--board", "b.ini", "--remote-bitbang", bad}, o, error)) << bad;
    EXPECT_EQ(error, std::string("--remote-bitbang wants a TCP port from 1 to 65535, not \"") +
                         bad + "\"");
  }
  ToolOptions both;
  EXPECT_FALSE(ParseToolOptions({"--board", "b.ini", "--info", "--remote-bitbang", "1"}, both, error));
  EXPECT_EQ(error, "give only one of --exec, --info and --remote-bitbang");
  EXPECT_NE(ToolUsage().find("--remote-bitbang PORT"), std::string::npos);
}

// A port nobody listens on right now.
std::uint16_t FreePort() {
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
  socklen_t length = sizeof address;
  getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
  close(fd);
  return ntohs(address.sin_port);
}

TEST(RemoteBitbangVerb, ServesUntilSigtermAndPrintsTheCounters) {
  namespace fs = std::filesystem;
  fs::path dir = fs::temp_directory_path() / ("simjtag-verb-" + std::to_string(getpid()));
  fs::create_directories(dir);
  { std::ofstream(dir / "board.ini") << kBoardText; }
  std::uint16_t port = FreePort();
  std::string program = std::string(ROMSMITH_STAGE_DIR) + "/romsmith-simboard";
  std::string board = (dir / "board.ini").string();
  std::string port_text = std::to_string(port);
  std::string out = (dir / "out.txt").string();
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  std::vector<char*> argv = {program.data(), const_cast<char*>("--board"), board.data(),
                             const_cast<char*>("--remote-bitbang"), port_text.data(), nullptr};
  pid_t pid = 0;
  ASSERT_EQ(posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ), 0);
  posix_spawn_file_actions_destroy(&actions);

  int fd = -1;
  for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
    int candidate = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(candidate, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
      fd = candidate;
    } else {
      close(candidate);
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  }
  ASSERT_GE(fd, 0) << "romsmith-simboard did not listen on " << port;
  std::string text;
  for (int i = 0; i < 5; ++i) text += Period(true, false, false);
  text += Period(false, false, false);
  text += Period(true, false, false);
  text += Period(false, false, false);
  text += Period(false, false, false);
  for (int k = 0; k < 32; ++k) text += Period(k == 31, false, true);
  ASSERT_EQ(write(fd, text.data(), text.size()), static_cast<ssize_t>(text.size()));
  std::string replies;
  char buffer[64];
  while (replies.size() < 32) {
    ssize_t got = read(fd, buffer, sizeof buffer);
    ASSERT_GT(got, 0);
    replies.append(buffer, static_cast<std::size_t>(got));
  }
  std::uint32_t id = 0;
  for (int k = 0; k < 32; ++k)
    if (replies[static_cast<std::size_t>(k)] == '1') id |= 1u << k;
  EXPECT_EQ(id, 0x4F1F0F0Fu);
  kill(pid, SIGTERM);
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  close(fd);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  std::ifstream in(out);
  std::string report((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_NE(report.find("clients=1\n"), std::string::npos) << report;
  EXPECT_NE(report.find("tck_cycles=41\n"), std::string::npos) << report;
  EXPECT_NE(report.find("port_reads=0\n"), std::string::npos) << report;
  fs::remove_all(dir);
}

TEST(RealTimeTiming, TheCoreRunsWithHostTimeAndHaltsOnRequest) {
  testing::RamBus bus(0, 0x1000, ByteOrder::Little);
  bus.Poke(0, AccessSize::Word, 0xE2811001);  // ADD r1, r1, #1
  bus.Poke(4, AccessSize::Word, 0xEAFFFFFD);  // B 0
  ArmCore core(bus, CoreModel::ARM7TDMI);
  JtagSettings settings;
  settings.debug.real_time = true;
  settings.debug.clock_khz = 1000;  // a thousand instructions a millisecond
  JtagSide side(core, bus, settings);
  testing::JtagMaster jtag(side);
  side.SetSystemReset(true);
  side.SetSystemReset(false);
  EXPECT_EQ(side.Debug().Counters().run_instructions, 0u);  // nothing runs ahead of time
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  jtag.Reset();
  ASSERT_TRUE(jtag.SelectChain(2));
  std::uint64_t ran = side.Debug().Counters().run_instructions;
  EXPECT_GE(ran, 10000u);
  EXPECT_LE(ran, 200000u);  // at most the catch-up limit per access
  jtag.IceWrite(static_cast<unsigned>(IceRegister::DebugControl), debug_control::kDbgRq);
  bool halted = false;
  for (int i = 0; i < 200 && !halted; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
    halted = (jtag.IceRead(static_cast<unsigned>(IceRegister::DebugStatus)) &
              debug_status::kDbgAck) != 0;
  }
  EXPECT_TRUE(halted);
  EXPECT_EQ(side.Debug().LastEntry(), DebugEntry::DebugRequest);
}

}  // namespace
}  // namespace simboard
