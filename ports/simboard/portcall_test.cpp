// portcall.so for the virtual board seen from the port side, as a driver
// module sees it: loaded with dlopen, the board file named by ROMSMITH_BOARD
// or lying beside the library, the probe bit-banged through port writes.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <map>
#include <sstream>
#include <string>

#include "ports/simboard/portcall_test_support.h"
#include "simboard/debug/jtag_tap.h"

namespace {

namespace fs = std::filesystem;
using namespace simboard::testing;

class PortcallTest : public ::testing::TestWithParam<bool> {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "portcall-test-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
    board_ = dir_ / "board.ini";
    WriteText(board_, ShippedBoard(BigEndian()));
    setenv("ROMSMITH_BOARD", board_.c_str(), 1);
  }
  void TearDown() override {
    unsetenv("ROMSMITH_BOARD");
    std::error_code ignored;
    fs::remove_all(dir_, ignored);
  }
  bool BigEndian() const { return GetParam(); }
  fs::path Image() const { return dir_ / (BigEndian() ? "flash0-big.bin" : "flash0.bin"); }

  fs::path dir_;
  fs::path board_;
};

TEST_P(PortcallTest, EmulatorLoopBackAndUnroutedPorts) {
  PortLibrary port(dir_);
  ASSERT_TRUE(port.Loaded()) << port.Error();
  port.Write(kPortBase, 0x38);
  EXPECT_EQ(port.Read(kPortBase + 1) & 0x50, 0x10);
  port.Write(kPortBase, 0xC0);
  EXPECT_EQ(port.Read(kPortBase + 1) & 0x50, 0x40);
  EXPECT_EQ(port.Read(kPortBase), 0xC0);
  // Nothing answers beside the three registers, and writes there change nothing.
  for (std::uint32_t other : {kPortBase - 1, kPortBase + 3, 0x278u, 0x3BCu, 0x10378u}) {
    EXPECT_EQ(port.Read(other), 0xFF) << std::hex << other;
    port.Write(other, 0x38);
  }
  EXPECT_EQ(port.Read(kPortBase), 0xC0);
  EXPECT_EQ(port.Read(kPortBase + 1) & 0x50, 0x40);
}

TEST_P(PortcallTest, TapResetAndIdCodeScan) {
  // A value of our own, so the scan shows the board file's code.
  WriteText(board_, ShippedBoard(BigEndian(), "IdCode", "$1F0F0F0F"));
  PortLibrary port(dir_);
  ASSERT_TRUE(port.Loaded()) << port.Error();
  PortDebugger debugger(port);
  JtagMaster& jtag = debugger.jtag();
  // After a TAP reset IDCODE is the instruction: a DR scan gives the code.
  EXPECT_EQ(jtag.DrScan(0, 32), 0x1F0F0F0Fu);
  // The IR captures 0b0001; BYPASS is one bit long; IDCODE selected again.
  EXPECT_EQ(jtag.IrScan(simboard::tap_instruction::kBypass), 0x1u);
  EXPECT_EQ(jtag.MeasureDr(), 1u);
  EXPECT_EQ(jtag.IrScan(simboard::tap_instruction::kIdCode), 0x1u);
  EXPECT_EQ(jtag.DrScan(0, 32), 0x1F0F0F0Fu);
  // A probe that is not enabled drives nothing: TDO reads 1 (status bit 7 clear).
  port.Write(kPortBase + 2, 0x00);
  for (int i = 0; i < 4; ++i) {
    port.Write(kPortBase, 0x00);
    EXPECT_EQ(port.Read(kPortBase + 1) & 0x80, 0x00);
    port.Write(kPortBase, 0x01);
  }
}

TEST_P(PortcallTest, FlashImageIsCreatedErasedAndReadsBackThroughTheCore) {
  ASSERT_FALSE(fs::exists(Image()));
  PortLibrary port(dir_);
  ASSERT_TRUE(port.Loaded()) << port.Error();
  port.Read(kPortBase + 1);  // the board opens at the first access
  ASSERT_TRUE(fs::exists(Image()));
  std::string image = ReadText(Image());
  ASSERT_EQ(image.size(), 2u * 1024 * 1024);
  EXPECT_EQ(image.find_first_not_of('\xFF'), std::string::npos);
  PortDebugger debugger(port);
  ASSERT_TRUE(debugger.Halt());
  std::uint32_t value = 0;
  ASSERT_TRUE(debugger.Read(0x1000, value));
  EXPECT_EQ(value, 0xFFFFu);
  // RAM answers at its base and keeps what is written.
  ASSERT_TRUE(debugger.Write(0x0C000010, 0xBEEF));
  ASSERT_TRUE(debugger.Read(0x0C000010, value));
  EXPECT_EQ(value, 0xBEEFu);
}

// The shipped board answers where the processor's set-up rows write: each
// register of the S3C44B0X rows in the CPU database takes its value.
TEST_P(PortcallTest, ShippedBoardTakesTheProcessorSetUpRows) {
  std::string cpu = ReadText(fs::path(ROMSMITH_SOURCE_DIR) / "data/cpu.ini");
  std::size_t start = cpu.find("\n[S3C44B0X]\n");
  ASSERT_NE(start, std::string::npos);
  std::string section = cpu.substr(start + 1, cpu.find("\n[", start + 1) - start);
  PortLibrary port(dir_);
  ASSERT_TRUE(port.Loaded()) << port.Error();
  PortDebugger debugger(port);
  ASSERT_TRUE(debugger.Halt());
  unsigned rows = 0;
  std::istringstream lines(section);
  for (std::string line; std::getline(lines, line);) {
    // SimN=NAME:$ADDRESS:BITS:$VALUE:LABEL
    if (line.rfind("Sim", 0) != 0 || line.find('=') == std::string::npos ||
        line.find(':') == std::string::npos)
      continue;
    std::istringstream fields(line.substr(line.find('=') + 1));
    std::string name, address, bits, value;
    std::getline(fields, name, ':');
    std::getline(fields, address, ':');
    std::getline(fields, bits, ':');
    std::getline(fields, value, ':');
    SCOPED_TRACE(line);
    auto at = static_cast<std::uint32_t>(std::stoul(address.substr(1), nullptr, 16));
    auto wanted = static_cast<std::uint32_t>(std::stoul(value.substr(1), nullptr, 16));
    unsigned width = static_cast<unsigned>(std::stoul(bits));
    ASSERT_TRUE(debugger.Write(at, wanted, width));
    std::uint32_t read = 0;
    ASSERT_TRUE(debugger.Read(at, read, width));
    EXPECT_EQ(read, wanted);
    ++rows;
  }
  EXPECT_EQ(rows, 12u);
}

// The board runs between port accesses as its timing says: a counting loop
// in flash, stopped by a debug request, has counted as far as the run
// budget lets it in deterministic timing, whatever the host's pace, and as
// far as host time lets it in real time.
TEST_P(PortcallTest, CoreRunsBetweenPortAccessesAsTheTimingSays) {
  // 0x00 MOV r2, #0x0C000000; 0x04 ADD r1, r1, #1; 0x08 STR r1, [r2]; 0x0C B 0x04
  const std::uint32_t loop[] = {0xE3A0240C, 0xE2811001, 0xE5821000, 0xEAFFFFFC};
  std::string image(2u * 1024 * 1024, '\xFF');
  for (std::size_t i = 0; i < 16; ++i) {
    std::uint32_t word = loop[i / 4];
    unsigned shift = BigEndian() ? 8 * (3 - i % 4) : 8 * (i % 4);
    image[i] = static_cast<char>(word >> shift);
  }
  auto count_after = [&](const std::string& board, int sleep_ms) -> std::uint32_t {
    WriteText(board_, board);
    WriteText(Image(), image);
    PortLibrary port(dir_);
    EXPECT_TRUE(port.Loaded()) << port.Error();
    if (!port.Loaded()) return 0;
    PortDebugger debugger(port);  // powers the board on
    for (int slept = 0; slept < sleep_ms; slept += 10) {
      usleep(10000);
      debugger.jtag().Reset();  // port accesses in between
    }
    std::uint32_t count = 0;
    EXPECT_TRUE(debugger.Halt());
    EXPECT_TRUE(debugger.Read(0x0C000000, count, 32));
    return count;
  };
  // RunBudget=20000: the MOV and 3 instructions a count.
  std::string deterministic = ShippedBoard(BigEndian());
  std::uint32_t at_once = count_after(deterministic, 0);
  EXPECT_GE(at_once, 6600u);
  EXPECT_LE(at_once, 6667u);
  EXPECT_EQ(count_after(deterministic, 40), at_once);
  // 1000 instructions a millisecond: 60 ms make well over 10000 counts.
  std::string real_time = ShippedBoard(BigEndian(), "Timing", "RealTime");
  std::size_t at = real_time.find("ClockKHz=");
  real_time.replace(at, real_time.find('\n', at) - at, "ClockKHz=1000");
  EXPECT_GE(count_after(real_time, 60), 10000u);
}

TEST_P(PortcallTest, BoardBesideTheLibraryWhenNoneIsNamed) {
  unsetenv("ROMSMITH_BOARD");
  WriteText(board_, ShippedBoard(BigEndian(), "PortBase", "$278"));
  PortLibrary port(dir_);
  ASSERT_TRUE(port.Loaded()) << port.Error();
  port.Write(0x278, 0x38);
  EXPECT_EQ(port.Read(0x279) & 0x50, 0x10);
  EXPECT_EQ(port.Read(kPortBase + 1), 0xFF);
  EXPECT_TRUE(fs::exists(Image()));
}

TEST_P(PortcallTest, MissingOrWrongBoardGivesOneMessageAndADisconnectedPort) {
  struct Case {
    const char* what;
    std::string board;  // empty: no file
    const char* key;    // named in the message
  };
  const Case cases[] = {
      {"missing", "", ""},
      {"wrong port base", ShippedBoard(BigEndian(), "PortBase", "$12345"), "PortBase"},
      {"wrong probe", ShippedBoard(BigEndian(), "Probe", "parrot"), "Probe"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    fs::path file = dir_ / (std::string("case-") + c.key + ".ini");
    if (!c.board.empty()) WriteText(file, c.board);
    setenv("ROMSMITH_BOARD", file.c_str(), 1);
    PortLibrary port(dir_);
    ASSERT_TRUE(port.Loaded()) << port.Error();
    ::testing::internal::CaptureStderr();
    port.Write(kPortBase, 0x38);
    std::uint8_t status = port.Read(kPortBase + 1);
    std::uint8_t data = port.Read(kPortBase);
    port.Write(kPortBase + 2, 0x06);
    std::uint8_t control = port.Read(kPortBase + 2);
    std::string message = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(status, 0xFF);
    EXPECT_EQ(data, 0xFF);
    EXPECT_EQ(control, 0xFF);
    // One line, naming the file and the key at fault.
    EXPECT_EQ(std::count(message.begin(), message.end(), '\n'), 1) << message;
    EXPECT_NE(message.find(file.string()), std::string::npos) << message;
    EXPECT_NE(message.find(c.key), std::string::npos) << message;
    EXPECT_FALSE(fs::exists(Image()));
  }
}

TEST_P(PortcallTest, FlashWrittenInOneProcessIsSeenByTheNext) {
  pid_t child = fork();
  ASSERT_NE(child, -1);
  if (child == 0) {
    int code = 10;
    {
      PortLibrary port(dir_);
      if (port.Loaded()) {
        PortDebugger debugger(port);
        code = !debugger.Halt()                         ? 11
               : !debugger.ProgramHalf(0x1000, 0x1234)  ? 12
               : !debugger.ProgramHalf(0x4002, 0xA55A)  ? 13
                                                        : 0;
      }
    }  // the library unloads here and brings the image up to date
    _exit(code);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  ASSERT_EQ(WEXITSTATUS(status), 0);

  std::string image = ReadText(Image());
  ASSERT_EQ(image.size(), 2u * 1024 * 1024);
  auto half = [&](std::size_t at) {
    auto b0 = static_cast<std::uint8_t>(image[at]), b1 = static_cast<std::uint8_t>(image[at + 1]);
    return BigEndian() ? (b0 << 8 | b1) : (b1 << 8 | b0);
  };
  EXPECT_EQ(half(0x1000), 0x1234);
  EXPECT_EQ(half(0x4002), 0xA55A);
  EXPECT_EQ(half(0x1002), 0xFFFF);

  PortLibrary port(dir_);
  ASSERT_TRUE(port.Loaded()) << port.Error();
  PortDebugger debugger(port);
  ASSERT_TRUE(debugger.Halt());
  std::uint32_t value = 0;
  ASSERT_TRUE(debugger.Read(0x1000, value));
  EXPECT_EQ(value, 0x1234u);
  ASSERT_TRUE(debugger.Read(0x4002, value));
  EXPECT_EQ(value, 0xA55Au);
  ASSERT_TRUE(debugger.Read(0x4000, value));
  EXPECT_EQ(value, 0xFFFFu);
}

// ROMSMITH_BOARD_COUNTERS names the file that gets the board's counters
// when the library unloads; they count the accesses the module made.
TEST_P(PortcallTest, CounterReportIsWrittenWhenTheLibraryUnloads) {
  const fs::path report = dir_ / "counters.txt";
  setenv("ROMSMITH_BOARD_COUNTERS", report.c_str(), 1);
  std::uint64_t accesses = 0;
  {
    PortLibrary port(dir_);
    ASSERT_TRUE(port.Loaded()) << port.Error();
    PortDebugger debugger(port);
    ASSERT_TRUE(debugger.Halt());
    std::uint32_t value = 0;
    ASSERT_TRUE(debugger.Read(0x0C000000, value, 32));
    accesses = port.accesses;
    EXPECT_FALSE(fs::exists(report));
  }
  unsetenv("ROMSMITH_BOARD_COUNTERS");
  std::istringstream lines(ReadText(report));
  std::map<std::string, std::uint64_t> counters;
  for (std::string line; std::getline(lines, line);) {
    auto equals = line.find('=');
    ASSERT_NE(equals, std::string::npos) << line;
    counters[line.substr(0, equals)] = std::stoull(line.substr(equals + 1));
  }
  EXPECT_EQ(counters["port_reads"] + counters["port_writes"], accesses);
  EXPECT_GT(counters["tck_cycles"], 0u);
  EXPECT_GT(counters["system_speed_accesses"], 0u);
  EXPECT_EQ(counters.count("instructions"), 1u);
  EXPECT_EQ(counters.count("flash_cycles"), 1u);
}

INSTANTIATE_TEST_SUITE_P(ByteOrders, PortcallTest, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& info) {
                           return info.param ? "BigEndian" : "LittleEndian";
                         });

}  // namespace
