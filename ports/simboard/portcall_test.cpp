// portcall.so for the virtual board seen from the port side, as a driver
// module sees it: loaded with dlopen, the board file named by ROMSMITH_BOARD
// or lying beside the library, the probe bit-banged through port writes.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "platform/shared_library.h"
#include "simboard/arm7_debug.h"
#include "simboard/jtag_tap.h"
#include "simboard/probe.h"
#include "simboard/tests/jtag_test_support.h"

namespace {

namespace fs = std::filesystem;
using simboard::testing::JtagMaster;

constexpr std::uint32_t kBase = 0x378;
constexpr std::uint32_t kNop = 0xE1A00000;  // MOV r0, r0

std::string ReadText(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteText(const fs::path& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary);
  out << text;
}

// A board file of the shipped pair with one [Board] key replaced (or added).
std::string ShippedBoard(bool big_endian, const std::string& key = "", const std::string& value = "") {
  std::string text = ReadText(fs::path(ROMSMITH_SOURCE_DIR) / "ports/simboard" /
                              (big_endian ? "board-big.ini" : "board.ini"));
  // A short run after power-on keeps the tests quick.
  std::size_t at = text.find("RunBudget=");
  text.replace(at, text.find('\n', at) - at, "RunBudget=20000");
  if (!key.empty()) {
    at = text.find("\n" + key + "=");
    if (at == std::string::npos) {
      at = text.find("[Board]\n") + 8;
      text.insert(at, key + "=" + value + "\n");
    } else {
      ++at;
      text.replace(at, text.find('\n', at) - at, key + "=" + value);
    }
  }
  return text;
}

// One loaded copy of the library. Each copy lives in its own file, so each
// holds its own board, as a fresh process would.
class PortLibrary {
 public:
  explicit PortLibrary(const fs::path& directory) {
    static int copies = 0;
    path_ = directory / ("portcall-" + std::to_string(getpid()) + "-" + std::to_string(++copies) + ".so");
    fs::copy_file(fs::path(ROMSMITH_STAGE_DIR) / "ports/simboard/portcall.so", path_,
                  fs::copy_options::overwrite_existing);
    if (!library_.Open(path_)) return;
    read_ = library_.Get<unsigned int (*)(unsigned int)>("port_readb");
    write_ = library_.Get<void (*)(unsigned int, unsigned int)>("port_writeb");
  }
  ~PortLibrary() {
    library_.Close();
    std::error_code ignored;
    fs::remove(path_, ignored);
  }
  bool Loaded() const { return read_ != nullptr && write_ != nullptr; }
  std::string Error() const { return library_.error(); }

  std::uint8_t Read(std::uint32_t port) {
    ++accesses;
    return static_cast<std::uint8_t>(read_(port));
  }
  void Write(std::uint32_t port, std::uint8_t value) {
    ++accesses;
    write_(port, value);
  }

  std::uint64_t accesses = 0;

 private:
  fs::path path_;
  platform::SharedLibrary library_;
  unsigned int (*read_)(unsigned int) = nullptr;
  void (*write_)(unsigned int, unsigned int) = nullptr;
};

// The emulator probe's pins as a driver drives them: data bit 0 TCK, bit 1
// TDI, bit 2 TMS; control bits 1 and 2 enable, bit 0 the target reset; TDO
// inverted on status bit 7.
class EmulatorPins : public simboard::JtagConnector {
 public:
  explicit EmulatorPins(PortLibrary& port) : port_(port) { port_.Write(kBase + 2, 0x06); }
  void SetPins(bool tck, bool tms, bool tdi) override {
    port_.Write(kBase, static_cast<std::uint8_t>((tck ? 1 : 0) | (tdi ? 2 : 0) | (tms ? 4 : 0)));
  }
  bool Tdo() override { return (port_.Read(kBase + 1) & simboard::kStatusTdoInverted) == 0; }
  void SetTestReset(bool) override {}  // the emulator has no TRST line
  void SetSystemReset(bool asserted) override {
    port_.Write(kBase + 2, static_cast<std::uint8_t>(0x06 | (asserted ? 1 : 0)));
  }

 private:
  PortLibrary& port_;
};

// ARM7TDMI memory accesses at system speed, the core halted by a debug
// request, all through the port.
class Debugger {
 public:
  explicit Debugger(PortLibrary& port) : pins_(port), jtag_(pins_) { jtag_.Reset(); }

  JtagMaster& jtag() { return jtag_; }

  bool Halt() {
    using namespace simboard;
    if (!jtag_.SelectChain(2)) return false;
    jtag_.IceWrite(static_cast<unsigned>(IceRegister::DebugControl),
                   debug_control::kDbgRq | debug_control::kIntDis);
    if ((Status() & debug_status::kDbgAck) == 0) return false;
    jtag_.IceWrite(static_cast<unsigned>(IceRegister::DebugControl), debug_control::kIntDis);
    return true;
  }
  // STRH r1, [r0] at system speed with r0, r1 loaded at debug speed.
  bool WriteHalf(std::uint32_t address, std::uint16_t value) {
    if (!jtag_.SelectChain(1)) return false;
    jtag_.Chain1(0xE8900003);  // LDMIA r0, {r0, r1}
    jtag_.Chain1(kNop);
    jtag_.Chain1(kNop);
    jtag_.Chain1(address);
    jtag_.Chain1(value);
    jtag_.Chain1(kNop);
    jtag_.Chain1(kNop);
    jtag_.Chain1(kNop, true);
    jtag_.Chain1(0xE1C010B0);  // STRH r1, [r0]
    jtag_.Restart();
    return Back();
  }
  // LDRH r0, [r0] at system speed, then r0 out through STR at debug speed.
  bool ReadHalf(std::uint32_t address, std::uint32_t& value) {
    if (!jtag_.SelectChain(1)) return false;
    jtag_.Chain1(0xE8900001);  // LDMIA r0, {r0}: loads the address
    jtag_.Chain1(kNop);
    jtag_.Chain1(kNop);
    jtag_.Chain1(address);
    jtag_.Chain1(kNop);
    jtag_.Chain1(kNop);
    jtag_.Chain1(kNop, true);
    jtag_.Chain1(0xE1D000B0);  // LDRH r0, [r0]
    jtag_.Restart();
    if (!Back() || !jtag_.SelectChain(1)) return false;
    jtag_.Chain1(0xE5800000);  // STR r0, [r0]
    jtag_.Chain1(kNop);
    jtag_.Chain1(kNop);
    value = jtag_.Chain1(kNop);
    return true;
  }
  // AMD word program: two unlock cycles, the program command, the data;
  // then polls until the location reads the data.
  bool ProgramHalf(std::uint32_t address, std::uint16_t value) {
    if (!WriteHalf(0xAAA, 0xAA) || !WriteHalf(0x554, 0x55) || !WriteHalf(0xAAA, 0xA0) ||
        !WriteHalf(address, value))
      return false;
    std::uint32_t read = 0;
    for (int poll = 0; poll < 20; ++poll)
      if (ReadHalf(address, read) && read == value) return true;
    return false;
  }

 private:
  std::uint32_t Status() {
    if (!jtag_.SelectChain(2)) return 0;
    return jtag_.IceRead(static_cast<unsigned>(simboard::IceRegister::DebugStatus));
  }
  // The core came back to debug state with its access done.
  bool Back() {
    using namespace simboard;
    std::uint32_t want = debug_status::kDbgAck | debug_status::kSysComp;
    return (Status() & want) == want;
  }

  EmulatorPins pins_;
  JtagMaster jtag_;
};

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
  port.Write(kBase, 0x38);
  EXPECT_EQ(port.Read(kBase + 1) & 0x50, 0x10);
  port.Write(kBase, 0xC0);
  EXPECT_EQ(port.Read(kBase + 1) & 0x50, 0x40);
  EXPECT_EQ(port.Read(kBase), 0xC0);
  // Nothing answers beside the three registers, and writes there change nothing.
  for (std::uint32_t other : {kBase - 1, kBase + 3, 0x278u, 0x3BCu, 0x10378u}) {
    EXPECT_EQ(port.Read(other), 0xFF) << std::hex << other;
    port.Write(other, 0x38);
  }
  EXPECT_EQ(port.Read(kBase), 0xC0);
  EXPECT_EQ(port.Read(kBase + 1) & 0x50, 0x40);
}

TEST_P(PortcallTest, TapResetAndIdCodeScan) {
  // A value of our own, so the scan shows the board file's code.
  WriteText(board_, ShippedBoard(BigEndian(), "IdCode", "$1F0F0F0F"));
  PortLibrary port(dir_);
  ASSERT_TRUE(port.Loaded()) << port.Error();
  Debugger debugger(port);
  JtagMaster& jtag = debugger.jtag();
  // After a TAP reset IDCODE is the instruction: a DR scan gives the code.
  EXPECT_EQ(jtag.DrScan(0, 32), 0x1F0F0F0Fu);
  // The IR captures 0b0001; BYPASS is one bit long; IDCODE selected again.
  EXPECT_EQ(jtag.IrScan(simboard::tap_instruction::kBypass), 0x1u);
  EXPECT_EQ(jtag.MeasureDr(), 1u);
  EXPECT_EQ(jtag.IrScan(simboard::tap_instruction::kIdCode), 0x1u);
  EXPECT_EQ(jtag.DrScan(0, 32), 0x1F0F0F0Fu);
  // A probe that is not enabled drives nothing: TDO reads 1 (status bit 7 clear).
  port.Write(kBase + 2, 0x00);
  for (int i = 0; i < 4; ++i) {
    port.Write(kBase, 0x00);
    EXPECT_EQ(port.Read(kBase + 1) & 0x80, 0x00);
    port.Write(kBase, 0x01);
  }
}

TEST_P(PortcallTest, FlashImageIsCreatedErasedAndReadsBackThroughTheCore) {
  ASSERT_FALSE(fs::exists(Image()));
  PortLibrary port(dir_);
  ASSERT_TRUE(port.Loaded()) << port.Error();
  port.Read(kBase + 1);  // the board opens at the first access
  ASSERT_TRUE(fs::exists(Image()));
  std::string image = ReadText(Image());
  ASSERT_EQ(image.size(), 2u * 1024 * 1024);
  EXPECT_EQ(image.find_first_not_of('\xFF'), std::string::npos);
  Debugger debugger(port);
  ASSERT_TRUE(debugger.Halt());
  std::uint32_t value = 0;
  ASSERT_TRUE(debugger.ReadHalf(0x1000, value));
  EXPECT_EQ(value, 0xFFFFu);
  // RAM answers at its base and keeps what is written.
  ASSERT_TRUE(debugger.WriteHalf(0x0C000010, 0xBEEF));
  ASSERT_TRUE(debugger.ReadHalf(0x0C000010, value));
  EXPECT_EQ(value, 0xBEEFu);
}

TEST_P(PortcallTest, BoardBesideTheLibraryWhenNoneIsNamed) {
  unsetenv("ROMSMITH_BOARD");
  WriteText(board_, ShippedBoard(BigEndian(), "PortBase", "$278"));
  PortLibrary port(dir_);
  ASSERT_TRUE(port.Loaded()) << port.Error();
  port.Write(0x278, 0x38);
  EXPECT_EQ(port.Read(0x279) & 0x50, 0x10);
  EXPECT_EQ(port.Read(kBase + 1), 0xFF);
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
    port.Write(kBase, 0x38);
    std::uint8_t status = port.Read(kBase + 1);
    std::uint8_t data = port.Read(kBase);
    port.Write(kBase + 2, 0x06);
    std::uint8_t control = port.Read(kBase + 2);
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
        Debugger debugger(port);
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
  Debugger debugger(port);
  ASSERT_TRUE(debugger.Halt());
  std::uint32_t value = 0;
  ASSERT_TRUE(debugger.ReadHalf(0x1000, value));
  EXPECT_EQ(value, 0x1234u);
  ASSERT_TRUE(debugger.ReadHalf(0x4002, value));
  EXPECT_EQ(value, 0xA55Au);
  ASSERT_TRUE(debugger.ReadHalf(0x4000, value));
  EXPECT_EQ(value, 0xFFFFu);
}

INSTANTIATE_TEST_SUITE_P(ByteOrders, PortcallTest, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& info) {
                           return info.param ? "BigEndian" : "LittleEndian";
                         });

}  // namespace
