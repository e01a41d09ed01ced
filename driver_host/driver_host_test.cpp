// Discovery, binding and the access wrappers against the test driver module.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "driver_host/driver_binding.h"
#include "driver_host/driver_tables.h"
#include "reporting/testing/recording_frontend.h"
#include "platform/message_box.h"
#include "tests/file_contents.h"

namespace romsmith {
namespace {

namespace fs = std::filesystem;
using testing::RecordingFrontend;

constexpr std::uint32_t kRam = 0x0C000000;

// One logged line with its two flags.
struct Line {
  std::string text;
  bool error = false;
  bool blink = false;
  bool operator==(const Line&) const = default;
  friend void PrintTo(const Line& line, std::ostream* out) {
    *out << '"' << line.text << "\" error=" << line.error << " blink=" << line.blink;
  }
};

class DriverHostTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("driverhost_" + std::to_string(::getpid()) + "_" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_ / "drivers");
    fs::path built = ROMSMITH_TEST_DRIVER_DIR;
    fs::copy_file(built / "test_driver.so", dir_ / "drivers" / "beta.so");
    fs::copy_file(built / "test_driver.so", dir_ / "drivers" / "alpha.so");
    fs::copy_file(built / "not_a_driver.so", dir_ / "drivers" / "plain.so");
    std::ofstream(dir_ / "drivers" / "junk.so") << "not a module";
    std::ofstream(dir_ / "drivers" / "notes.txt") << "text";
    fs::create_directories(dir_ / "drivers" / "folder.so");
    Set("TESTDRIVER_JOURNAL", (dir_ / "journal.txt").string());
    Set("TESTDRIVER_STATE_DIR", (dir_ / "state").string());

    settings_.driver_module_directory = (dir_ / "drivers").string() + "/";
    settings_.port_driver_directory = "/opt/ports/";
    settings_.remote.device = "alpha.so";
    settings_.remote.comm_type = "Parallel";
    settings_.remote.parallel = "LPT1";
    settings_.remote.ip_addr = "10.0.0.7";
    settings_.remote.speed = 2;
    target_.cpu_endian = "LITTLE";
    log_.SetFrontend(&frontend_);
  }
  void TearDown() override {
    binding_.UnbindDriver();
    for (const std::string& name : set_) ::unsetenv(name.c_str());
    fs::remove_all(dir_);
  }
  void Set(const std::string& name, const std::string& value) {
    ::setenv(name.c_str(), value.c_str(), 1);
    set_.push_back(name);
  }
  std::string Journal() { return romsmith_tests::ReadFileText(dir_ / "journal.txt"); }
  bool JournalHas(const std::string& text) { return Journal().find(text) != std::string::npos; }
  void ClearJournal() { fs::remove(dir_ / "journal.txt"); }
  bool Bind() {
    binding_.RecomputeConnection();
    return binding_.BindDriver();
  }
  // The lines logged since the last call, with their two flags.
  std::vector<Line> TakeLines() {
    std::vector<Line> lines;
    for (const auto& line : frontend_.lines) lines.push_back({line.text, line.error, line.blink});
    frontend_.lines.clear();
    return lines;
  }

  fs::path dir_;
  std::vector<std::string> set_;
  RecordingFrontend frontend_;
  MessageLog log_;
  ProgramSettings settings_;
  TargetConfig target_;
  DriverBinding binding_{log_, settings_, target_};
};

Line Plain(const std::string& text) { return {text, false, false}; }
Line AsError(const std::string& text) { return {text, true, true}; }

// ---- Tables ----

TEST(DriverTablesTest, CommTypeNamesFollowTheBitCodes) {
  EXPECT_STREQ(CommTypeName(0x0001), "RS232");
  EXPECT_STREQ(CommTypeName(0x0008), "TCPIP");
  EXPECT_STREQ(CommTypeName(0x1000), "TAP");
  EXPECT_STREQ(CommTypeName(0x8000), "PARALLEL");
  EXPECT_EQ(CommTypeName(0x8001), nullptr);
  for (std::size_t i = 0; i < kCommTypeNames.size(); ++i) {
    EXPECT_EQ(kCommTypeNames[i].code, 1u << i);
  }
  std::vector<std::string> offered;
  for (const CommTypeNameRow& row : CommTypesOf(0x8109)) offered.push_back(row.name);
  EXPECT_EQ(offered, (std::vector<std::string>{"RS232", "TCPIP", "USB", "PARALLEL"}));
  EXPECT_TRUE(CommTypesOf(0).empty());
  EXPECT_TRUE(CommTypeHasSettings(0x0001));
  EXPECT_TRUE(CommTypeHasSettings(0x0008));
  EXPECT_TRUE(CommTypeHasSettings(0x8000));
  EXPECT_FALSE(CommTypeHasSettings(0x0100));
  EXPECT_EQ(PortText("LPT", 0), "LPT1");
  EXPECT_EQ(PortText("COM", 2), "COM3");
  EXPECT_EQ(DeviceFileName("osprey7"), "osprey7.so");
}

TEST(DriverTablesTest, RegisterKeysMatchNamesIgnoringCase) {
  ASSERT_EQ(kRegisterNameTable.size(), 21u);
  for (int n = 0; n <= 15; ++n) EXPECT_EQ(RegisterKey("r" + std::to_string(n)), n);
  EXPECT_EQ(RegisterKey("SP"), 16);
  EXPECT_EQ(RegisterKey("lr"), 17);
  EXPECT_EQ(RegisterKey("pc"), 18);
  EXPECT_EQ(RegisterKey("Cpsr"), 19);
  EXPECT_EQ(RegisterKey("spsr"), 20);
  EXPECT_EQ(RegisterKey("R16"), -1);
  EXPECT_EQ(RegisterKey(""), -1);
  EXPECT_EQ(RegisterKey("pc "), -1);
  for (const RegisterNameRow& row : kRegisterNameTable) {
    EXPECT_EQ(row.width, 32u);
    EXPECT_EQ(row.zero, 0u);
  }
}

// ---- Discovery ----

TEST_F(DriverHostTest, DiscoveryListsLoadableDriversByFileNameAndReleasesTheirTexts) {
  std::vector<DriverEntry> drivers = DiscoverDrivers(settings_.driver_module_directory);
  ASSERT_EQ(drivers.size(), 2u);
  EXPECT_EQ(drivers[0].title, "alpha");
  EXPECT_EQ(drivers[0].file_name, "alpha.so");
  EXPECT_EQ(drivers[0].path, settings_.driver_module_directory + "alpha.so");
  EXPECT_EQ(drivers[0].description, "Test driver alpha");
  EXPECT_EQ(drivers[0].version, "1");
  EXPECT_EQ(drivers[0].comm_types, 0x8000u);
  EXPECT_EQ(drivers[0].speed_count, 3u);
  EXPECT_EQ(drivers[0].speed_names,
            (std::vector<std::string>{"High Speed", "Medium Speed", "Low Speed"}));
  EXPECT_EQ(drivers[1].title, "beta");
  EXPECT_EQ(drivers[1].description, "Test driver beta");

  // Only the description slot and the three releases: nothing is opened.
  std::string journal = Journal();
  std::size_t frees = 0;
  for (std::size_t at = 0; (at = journal.find("free text", at)) != std::string::npos; ++at) ++frees;
  EXPECT_EQ(frees, 6u);
  EXPECT_EQ(journal.find("open"), std::string::npos);
  EXPECT_EQ(journal.find("set_callback"), std::string::npos);

  // Without the trailing separator the same list.
  std::string bare = (dir_ / "drivers").string();
  EXPECT_EQ(DiscoverDrivers(bare), drivers);
}

TEST_F(DriverHostTest, DiscoveryOfEmptyOrMissingDirectoryGivesNoDrivers) {
  fs::create_directories(dir_ / "empty");
  EXPECT_TRUE(DiscoverDrivers((dir_ / "empty").string() + "/").empty());
  EXPECT_TRUE(DiscoverDrivers((dir_ / "missing").string() + "/").empty());
}

TEST_F(DriverHostTest, DriverWithoutSpeedArrayOrCountOffersNoSpeeds) {
  Set("TESTDRIVER_SPEEDS", "null");
  Set("TESTDRIVER_SPEED_COUNT", "3");
  Set("TESTDRIVER_DESCRIPTION", "Kite probe");
  Set("TESTDRIVER_VERSION", "1122101");
  Set("TESTDRIVER_COMM_TYPES", "0x8008");
  std::vector<DriverEntry> drivers = DiscoverDrivers(settings_.driver_module_directory);
  ASSERT_EQ(drivers.size(), 2u);
  EXPECT_EQ(drivers[0].speed_count, 0u);
  EXPECT_TRUE(drivers[0].speed_names.empty());
  EXPECT_EQ(drivers[0].description, "Kite probe");
  EXPECT_EQ(drivers[0].version, "1122101");
  EXPECT_EQ(drivers[0].comm_types, 0x8008u);

  Set("TESTDRIVER_SPEEDS", "");
  drivers = DiscoverDrivers(settings_.driver_module_directory);
  ASSERT_EQ(drivers.size(), 2u);
  EXPECT_EQ(drivers[0].speed_count, 0u);
  EXPECT_TRUE(drivers[0].speed_names.empty());
}

// ---- Connection values ----

TEST_F(DriverHostTest, RecomputeConnectionDerivesCommCodeAndPortCopy) {
  settings_.remote.comm_type = "pArAlLeL";
  settings_.remote.parallel = "LPT2";
  binding_.RecomputeConnection();
  EXPECT_EQ(binding_.comm_code(), 0x8000u);
  EXPECT_EQ(binding_.port_copy(), "LPT2");

  settings_.remote.parallel = "A-PORT-NAME-LONGER-THAN-FIFTEEN";
  binding_.RecomputeConnection();
  EXPECT_EQ(binding_.port_copy(), "A-PORT-NAME-LON");

  for (const char* other : {"TCPIP", "USB", "", "Parallel2"}) {
    settings_.remote.comm_type = other;
    binding_.RecomputeConnection();
    EXPECT_EQ(binding_.comm_code(), 0u) << other;
    EXPECT_EQ(binding_.port_copy(), "") << other;
  }
}

// ---- Binding ----

TEST_F(DriverHostTest, BindOpensConnectsAndRegistersInOrderAndUnbindCloses) {
  settings_.remote.comm_type = "PARALLEL";
  ASSERT_TRUE(Bind());
  EXPECT_TRUE(binding_.bound());
  binding_.UnbindDriver();
  EXPECT_FALSE(binding_.bound());
  binding_.UnbindDriver();  // nothing bound: nothing happens

  std::string expected =
      "get\n"
      "set_callback 2048 => 0\n"
      "open -1 0 3 0 order=2 parameter=\"/opt/ports/\" speed=2 => 0\n"
      "connect comm=0x8000 connected=1 port=\"LPT1\" => 0\n"
      "set_register_list 21 0 R0=0 R1=1 R2=2 R3=3 R4=4 R5=5 R6=6 R7=7 R8=8 R9=9 R10=10 "
      "R11=11 R12=12 R13=13 R14=14 R15=15 SP=16 LR=17 PC=18 CPSR=19 SPSR=20 => 0\n"
      "close 1 => 0\n";
  EXPECT_EQ(Journal(), expected);
  EXPECT_TRUE(TakeLines().empty());
}

// FastRead is asked for after the open, only when it is set; a driver that
// has no such option still binds, and the user learns the read stays slow.
TEST_F(DriverHostTest, FastReadIsAskedForOnlyWhenSetAndADriverWithoutItStillBinds) {
  settings_.remote.comm_type = "PARALLEL";
  settings_.fast_read = 1;
  ASSERT_TRUE(Bind());
  binding_.UnbindDriver();
  const std::string journal = Journal();
  const std::size_t open = journal.find("open -1");
  const std::size_t option = journal.find("set_option FastRead 1 => 4\n");
  const std::size_t connect = journal.find("connect ");
  ASSERT_NE(option, std::string::npos) << journal;
  EXPECT_LT(open, option);
  EXPECT_LT(option, connect);
  EXPECT_EQ(TakeLines(),
            (std::vector{Plain("Info: the driver module alpha.so has no fast read; reading "
                               "the standard way.\n")}));

  ClearJournal();
  settings_.fast_read = 0;
  ASSERT_TRUE(Bind());
  binding_.UnbindDriver();
  EXPECT_FALSE(JournalHas("set_option")) << Journal();
  EXPECT_TRUE(TakeLines().empty());
}

TEST_F(DriverHostTest, BindPassesByteOrderSpeedAndAddressForOtherConnections) {
  target_.cpu_endian = "Big";
  settings_.remote.speed = 0x102;  // only the low byte travels
  ASSERT_TRUE(Bind());
  binding_.UnbindDriver();
  EXPECT_TRUE(JournalHas("open -1 0 3 0 order=1 parameter=\"/opt/ports/\" speed=2 => 0"));

  // TCP/IP: the address as option text, comm code 0 and no port; the
  // parallel-port driver refuses the connect and is closed again.
  ClearJournal();
  settings_.remote.comm_type = "tcpip";
  target_.cpu_endian = "little";
  EXPECT_FALSE(Bind());
  EXPECT_FALSE(binding_.bound());
  EXPECT_EQ(Journal(),
            "get\nset_callback 2048 => 0\n"
            "open -1 0 3 0 order=2 parameter=\"10.0.0.7\" speed=2 => 0\n"
            "connect comm=0x0 connected=1 port=null => 7\n"
            "close 1 => 0\n");

  // Any other type: an empty option text.
  ClearJournal();
  settings_.remote.comm_type = "USB";
  EXPECT_FALSE(Bind());
  EXPECT_TRUE(JournalHas("parameter=\"\""));
  // A refused connect says which connection it was.
  EXPECT_EQ(TakeLines(), (std::vector{AsError("Error: no connection to the probe on tcpip (result 7).\n"),
                                      AsError("Error: no connection to the probe on USB (result 7).\n")}));
}

TEST_F(DriverHostTest, BindFailuresLeaveNothingBound) {
  settings_.remote.device = "missing.so";
  EXPECT_FALSE(Bind());
  EXPECT_EQ(TakeLines(), std::vector{AsError("Error: unable to load emulator module.\n")});

  settings_.remote.device = "junk.so";
  EXPECT_FALSE(Bind());
  EXPECT_EQ(TakeLines(), std::vector{AsError("Error: unable to load emulator module.\n")});

  // A module without gdi_get, or whose table lacks a slot the program calls
  // (a null slot would crash at its first call): the missing-module line.
  settings_.remote.device = "plain.so";
  EXPECT_FALSE(Bind());
  EXPECT_FALSE(binding_.bound());
  EXPECT_EQ(TakeLines(), std::vector{AsError("Error: unable to load emulator module.\n")});
  settings_.remote.device = "alpha.so";
  for (int slot : {GDI_SLOT_OPEN, GDI_SLOT_SET_CALLBACK, GDI_SLOT_READ_MEMORY, GDI_SLOT_GET_STATUS}) {
    Set("TESTDRIVER_NULL_SLOT", std::to_string(slot));
    EXPECT_FALSE(Bind()) << slot;
    EXPECT_FALSE(binding_.bound());
    EXPECT_EQ(TakeLines(), std::vector{AsError("Error: unable to load emulator module.\n")});
  }
  // The free slot may be null, and so may the ones the program never calls.
  for (int slot : {int{GDI_SLOT_FREE}, int{GDI_SLOT_GET_CPU_STATE}, 5}) {
    Set("TESTDRIVER_NULL_SLOT", std::to_string(slot));
    EXPECT_TRUE(Bind()) << slot;
    binding_.UnbindDriver();
  }
  Set("TESTDRIVER_NULL_SLOT", "");
  TakeLines();

  // Open fails: the driver's own message, then the step that failed; no
  // close.
  ClearJournal();
  Set("TESTDRIVER_FAIL", "12");
  Set("TESTDRIVER_SAY", "12:Error: cannot reach the port driver.");
  EXPECT_FALSE(Bind());
  EXPECT_FALSE(binding_.bound());
  EXPECT_EQ(TakeLines(), (std::vector{AsError("Error: cannot reach the port driver.\n"),
                                      AsError("Error: the driver module alpha.so did not open (result 7).\n")}));
  EXPECT_TRUE(JournalHas("=> 7"));
  EXPECT_FALSE(JournalHas("close"));

  // Connect fails: closed, then unloaded; the port is named.
  ClearJournal();
  Set("TESTDRIVER_FAIL", "17");
  Set("TESTDRIVER_SAY", "17:Info: probe not found");
  EXPECT_FALSE(Bind());
  EXPECT_FALSE(binding_.bound());
  EXPECT_EQ(TakeLines(), (std::vector{Plain("Info: probe not found\n"),
                                      AsError("Error: no connection to the probe on LPT1 (result 7).\n")}));
  EXPECT_TRUE(JournalHas("close 1 => 0"));
  EXPECT_FALSE(JournalHas("set_register_list"));

  // The register list's own result does not matter.
  Set("TESTDRIVER_FAIL", "18");
  ::unsetenv("TESTDRIVER_SAY");
  EXPECT_TRUE(Bind());
}

TEST_F(DriverHostTest, BindingAgainWhileBoundUnbindsFirst) {
  ASSERT_TRUE(Bind());
  ASSERT_TRUE(Bind());
  binding_.UnbindDriver();
  std::string journal = Journal();
  std::size_t first_close = journal.find("close 1");
  ASSERT_NE(first_close, std::string::npos);
  EXPECT_NE(journal.find("close 1", first_close + 1), std::string::npos);
}

// ---- Driver messages ----

TEST_F(DriverHostTest, DriverMessagesBeginningErrorAreLoggedAsErrors) {
  DriverBinding::OnDriverMessage(2048, "Error: scan chain broken.\n");
  DriverBinding::OnDriverMessage(7, "ERROR: any case.\n");
  DriverBinding::OnDriverMessage(2048, "Warning: slow probe.\n");
  DriverBinding::OnDriverMessage(2048, "Errr\n");
  DriverBinding::OnDriverMessage(2048, "Info: done.\n");
  EXPECT_EQ(TakeLines(), (std::vector{AsError("Error: scan chain broken.\n"),
                                      AsError("ERROR: any case.\n"),
                                      Plain("Warning: slow probe.\n"), Plain("Errr\n"),
                                      Plain("Info: done.\n")}));
}

TEST(DriverMessageTest, WithoutABindingMessagesGoToAMessageBox) {
  std::vector<std::string> shown;
  platform::ScopedMessageHandler handler([&shown](const platform::MessageRequest& request) {
    shown.push_back(request.text);
    return platform::MessageAnswer::Ok;
  });
  {
    MessageLog log;
    ProgramSettings settings;
    TargetConfig target;
    DriverBinding binding(log, settings, target);
    DriverBinding::OnDriverMessage(2048, "Info: seen by the log.\n");
  }
  DriverBinding::OnDriverMessage(2048, "Error: no window yet.\n");
  EXPECT_EQ(shown, std::vector<std::string>{"Error: no window yet.\n"});
}

// ---- Wrappers: byte order ----

TEST_F(DriverHostTest, SingleValueWrappersUseTheTargetByteOrder) {
  for (const char* order : {"Little", "BIG"}) {
    SCOPED_TRACE(order);
    target_.cpu_endian = order;
    bool little = std::string(order) == "Little";
    ClearJournal();
    ASSERT_TRUE(Bind());
    EXPECT_TRUE(binding_.WriteMemory(kRam, 0x1234, 2));
    EXPECT_TRUE(binding_.WriteMemory(kRam + 4, 0x11223344, 4));
    EXPECT_TRUE(binding_.WriteMemory(kRam + 8, 0x1A5, 1));
    EXPECT_TRUE(JournalHas(little ? "address=0x0C000000 count=2 width=2 bytes=34 12 => 0"
                                  : "address=0x0C000000 count=2 width=2 bytes=12 34 => 0"));
    EXPECT_TRUE(JournalHas(little ? "count=4 width=4 bytes=44 33 22 11 => 0"
                                  : "count=4 width=4 bytes=11 22 33 44 => 0"));
    EXPECT_TRUE(JournalHas("address=0x0C000008 count=1 width=1 bytes=A5 => 0"));

    // Reading back gives the values; the raw bytes show the order.
    std::uint32_t value = 0;
    EXPECT_TRUE(binding_.ReadMemory(kRam, &value, 2));
    EXPECT_EQ(value, 0x1234u);
    EXPECT_TRUE(binding_.ReadMemory(kRam + 4, &value, 4));
    EXPECT_EQ(value, 0x11223344u);
    EXPECT_TRUE(binding_.ReadMemory(kRam + 8, &value, 1));
    EXPECT_EQ(value, 0xA5u);
    const std::uint8_t raw[4] = {0x01, 0x02, 0x03, 0x04};
    EXPECT_TRUE(binding_.FillMemory(kRam + 16, raw, 4, 4));
    EXPECT_TRUE(binding_.ReadMemory(kRam + 16, &value, 4));
    EXPECT_EQ(value, little ? 0x04030201u : 0x01020304u);
    EXPECT_TRUE(binding_.ReadMemory(kRam + 16, &value, 2));
    EXPECT_EQ(value, little ? 0x0201u : 0x0102u);
    binding_.UnbindDriver();
  }
  EXPECT_TRUE(TakeLines().empty());
}

TEST_F(DriverHostTest, BlockWrappersMoveBytesInAddressOrderOnBothByteOrders) {
  std::vector<std::uint8_t> bytes(300);
  for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<std::uint8_t>(i * 13 + 1);
  for (const char* order : {"LITTLE", "big"}) {
    target_.cpu_endian = order;
    ASSERT_TRUE(Bind());
    EXPECT_TRUE(binding_.FillMemory(kRam + 0x100, bytes.data(), 300, 4));
    std::vector<std::uint8_t> back(300);
    EXPECT_TRUE(binding_.DumpMemory(kRam + 0x100, back.data(), 300, 1));
    EXPECT_EQ(back, bytes) << order;
    binding_.UnbindDriver();
  }
  EXPECT_TRUE(JournalHas("write_memory address=0x0C000100 count=300 width=4 => 0"));
  EXPECT_TRUE(JournalHas("read_memory address=0x0C000100 count=300 width=1 => 0"));
}

// ---- Wrappers: registers, run control, breakpoints ----

TEST_F(DriverHostTest, RegisterAndRunControlWrappersReachTheDriver) {
  ASSERT_TRUE(Bind());
  EXPECT_TRUE(binding_.WriteRegister("r3", 0xCAFE));
  EXPECT_TRUE(JournalHas("write_register 3 0x0000CAFE 0 => 0"));
  std::uint32_t value = 0;
  EXPECT_TRUE(binding_.ReadRegister("R3", &value));
  EXPECT_EQ(value, 0xCAFEu);
  EXPECT_TRUE(binding_.SetPC(kRam));
  EXPECT_TRUE(JournalHas("write_register 18 0x0C000000 0 => 0"));
  EXPECT_TRUE(binding_.ReadRegister("r15", &value));
  EXPECT_EQ(value, kRam);

  EXPECT_FALSE(binding_.WriteRegister("R99", 1));
  EXPECT_FALSE(binding_.ReadRegister("FPSCR", &value));
  EXPECT_FALSE(JournalHas("write_register -1"));
  EXPECT_EQ(TakeLines(), (std::vector{Plain("Error: write register failed.\n"),
                                      Plain("Error: read register failed.\n")}));

  // Interrupts off: CPSR bits 6 and 7.
  EXPECT_TRUE(binding_.WriteRegister("CPSR", 0x13));
  EXPECT_TRUE(binding_.DisableInterrupts());
  EXPECT_TRUE(binding_.ReadRegister("cpsr", &value));
  EXPECT_EQ(value, 0xD3u);

  // A breakpoint in RAM, a free run (1 when already running), a stop.
  std::uint32_t number = 0;
  EXPECT_TRUE(binding_.SetBreakpoint(kRam + 0x7F8, &number));
  EXPECT_EQ(number, 1u);
  EXPECT_TRUE(JournalHas("set_breakpoint address=0x0C0007F8 flags=1 cond=0 kind=2"));
  EXPECT_TRUE(binding_.RunTarget());
  EXPECT_TRUE(binding_.RunTarget());
  EXPECT_TRUE(JournalHas("run => 1"));
  bool running = false;
  EXPECT_TRUE(binding_.GetTargetStatus(&running));
  EXPECT_TRUE(running);
  EXPECT_TRUE(binding_.StopTarget());
  EXPECT_TRUE(binding_.GetTargetStatus(&running));
  EXPECT_FALSE(running);
  EXPECT_TRUE(binding_.StepTarget());
  EXPECT_TRUE(JournalHas("step 0 => 0"));
  EXPECT_TRUE(binding_.ClearBreakpoint(number));
  EXPECT_FALSE(binding_.ClearBreakpoint(number));
  EXPECT_TRUE(binding_.ClearAllBreakpoints());
  EXPECT_TRUE(binding_.ResetTarget());
  EXPECT_EQ(TakeLines(), std::vector{AsError("Error: clear breakpoint failed.\n")});
}

TEST_F(DriverHostTest, DumpRegistersLogsEveryRegisterAndStopsAtTheFirstFailure) {
  ASSERT_TRUE(Bind());
  for (int n = 0; n <= 14; ++n)
    ASSERT_TRUE(binding_.WriteRegister("R" + std::to_string(n), 0x100u + n));
  ASSERT_TRUE(binding_.WriteRegister("PC", 0xABC));
  ASSERT_TRUE(binding_.WriteRegister("CPSR", 0xD3));
  ASSERT_TRUE(binding_.WriteRegister("SPSR", 0x10));
  TakeLines();
  EXPECT_TRUE(binding_.DumpRegisters());
  std::vector<Line> expected;
  for (int n = 0; n <= 14; ++n) {
    char text[32];
    std::snprintf(text, sizeof text, "R%d=0x%X ", n, 0x100u + n);
    expected.push_back(Plain(text));
  }
  expected.push_back(Plain("\n"));
  for (const char* line : {"sp=0x10D ", "lr=0x10E ", "pc=0xABC ", "cpsr=0xD3 ", "spsr=0x10 "})
    expected.push_back(Plain(line));
  expected.push_back(Plain("\n"));
  EXPECT_EQ(TakeLines(), expected);
  binding_.UnbindDriver();

  Set("TESTDRIVER_FAIL", "47@2");
  ClearJournal();
  ASSERT_TRUE(Bind());
  EXPECT_FALSE(binding_.DumpRegisters());
  EXPECT_EQ(TakeLines(), (std::vector{Plain("R0=0x0 "), Plain("R1=0x0 "),
                                      Plain("Error: read register failed.\n")}));
  // A failed read leaves CPSR alone.
  EXPECT_FALSE(binding_.DisableInterrupts());
  EXPECT_FALSE(JournalHas("write_register 19"));
}

// ---- Wrappers: failure lines ----

struct FailureCase {
  int slot;
  std::function<bool(DriverBinding&)> call;
  Line line;
};

TEST_F(DriverHostTest, EveryWrapperLogsItsOwnLineWhenItsSlotFails) {
  std::uint32_t value = 0;
  std::uint8_t bytes[8] = {};
  bool running = false;
  const std::vector<FailureCase> cases = {
      {36, [](DriverBinding& b) { return b.WriteMemory(kRam, 1, 4); },
       Plain("Error: write memory failed.\n")},
      {37, [&](DriverBinding& b) { return b.ReadMemory(kRam, &value, 2); },
       AsError("Error: read memory failed.")},
      {36, [&](DriverBinding& b) { return b.FillMemory(kRam, bytes, 8, 4); },
       AsError("Error: fill memory failed.\n")},
      {37, [&](DriverBinding& b) { return b.DumpMemory(kRam, bytes, 8, 4); },
       AsError("Error: dump memory failed.")},
      {46, [](DriverBinding& b) { return b.WriteRegister("R1", 1); },
       Plain("Error: write register failed.\n")},
      {47, [&](DriverBinding& b) { return b.ReadRegister("R1", &value); },
       Plain("Error: read register failed.\n")},
      {46, [](DriverBinding& b) { return b.SetPC(kRam); }, Plain("Error: write register failed.\n")},
      {6, [](DriverBinding& b) { return b.RunTarget(); }, Plain("Error: run target failed.\n")},
      {9, [](DriverBinding& b) { return b.StopTarget(); }, Plain("Error: stop target failed.\n")},
      {4, [](DriverBinding& b) { return b.StepTarget(); }, Plain("Error: step target failed.\n")},
      {3, [](DriverBinding& b) { return b.ResetTarget(); }, Plain("Error: reset target failed.\n")},
      {8, [&](DriverBinding& b) { return b.GetTargetStatus(&running); },
       AsError("Error: get target status failed.\n")},
      {0, [&](DriverBinding& b) { return b.SetBreakpoint(kRam, &value); },
       AsError("Error: breakpoint set failed.\n")},
      {1, [](DriverBinding& b) { return b.ClearBreakpoint(1); },
       AsError("Error: clear breakpoint failed.\n")},
      {2, [](DriverBinding& b) { return b.ClearAllBreakpoints(); },
       AsError("Error: clear all breakpoints failed.\n")},
  };
  for (const FailureCase& c : cases) {
    SCOPED_TRACE(c.line.text);
    for (const char* code : {"5", "4", "2"}) {
      Set("TESTDRIVER_FAIL", std::to_string(c.slot) + "=" + code);
      ASSERT_TRUE(Bind());
      TakeLines();
      EXPECT_FALSE(c.call(binding_));
      EXPECT_EQ(TakeLines(), std::vector{c.line});
      binding_.UnbindDriver();
    }
    // Nothing bound: the same line, and no crash.
    EXPECT_FALSE(c.call(binding_));
    EXPECT_EQ(TakeLines(), std::vector{c.line});
  }
}

TEST_F(DriverHostTest, SizesOtherThanOneTwoOrFourAreRefusedWithoutCallingTheDriver) {
  ASSERT_TRUE(Bind());
  std::uint32_t value = 0;
  std::uint8_t bytes[3] = {1, 2, 3};
  EXPECT_FALSE(binding_.WriteMemory(kRam, 1, 3));
  EXPECT_FALSE(binding_.ReadMemory(kRam, &value, 8));
  EXPECT_FALSE(binding_.FillMemory(kRam, bytes, 3, 3));
  EXPECT_FALSE(binding_.DumpMemory(kRam, bytes, 3, 0));
  EXPECT_FALSE(JournalHas("write_memory"));
  EXPECT_FALSE(JournalHas("read_memory"));
  EXPECT_EQ(TakeLines(), (std::vector{Plain("Error: write memory failed.\n"),
                                      AsError("Error: read memory failed."),
                                      AsError("Error: fill memory failed.\n"),
                                      AsError("Error: dump memory failed.")}));
}

}  // namespace
}  // namespace romsmith
