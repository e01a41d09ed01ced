// The test driver behaves as the workbench tests rely on: a loader run does a
// correct loader's work, the switches fail what they name, and the flash
// outlives the module.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "driver_api/gdi.h"
#include "platform/shared_library.h"
#include "tests/file_contents.h"

namespace {

namespace fs = std::filesystem;

constexpr std::uint32_t kRam = 0x0C000000;

class TestDriverTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("testdriver_" + std::to_string(::getpid()) + "_" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    Set("TESTDRIVER_STATE_DIR", (dir_ / "state").string());
    Set("TESTDRIVER_JOURNAL", (dir_ / "journal.txt").string());
    Set("TESTDRIVER_NOR", "0x0:4x0x1000");  // four 4 KiB sectors at 0
    Set("TESTDRIVER_NAND", "8:2:512");      // eight 1 KiB blocks
  }
  void TearDown() override {
    Unbind();
    for (const std::string& name : set_) ::unsetenv(name.c_str());
    if (!std::getenv("TESTDRIVER_KEEP")) fs::remove_all(dir_);
  }
  void Set(const std::string& name, const std::string& value) {
    ::setenv(name.c_str(), value.c_str(), 1);
    set_.push_back(name);
  }

  bool Bind(bool little = true) {
    if (!module_.Open(fs::path(ROMSMITH_TEST_DRIVER_DIR) / "test_driver.so")) return false;
    auto get = module_.Get<GdiGetFunction>("gdi_get");
    if (!get) return false;
    table_ = get();
    std::uint8_t order = little ? GDI_LITTLE_ENDIAN : GDI_BIG_ENDIAN, speed = 0;
    char parameter[GDI_OPTION_TEXT_SIZE] = "";
    OpenOptions options{&order, parameter, &speed};
    if (table_->gdi_open(-1, 0, 3, &options, 0) != GDI_OK) return false;
    char port[GDI_PORT_TEXT_SIZE] = "LPT1";
    ConnectRecord record{GDI_COMM_PARALLEL, 1, port};
    if (table_->gdi_connect(&record) != GDI_OK) return false;
    RegisterListItem items[] = {{"R0", 0, 0}, {"PC", 18, 0}, {"CPSR", 19, 0}};
    return table_->gdi_set_register_list(3, items, 0) == GDI_OK;
  }
  void Unbind() {
    if (table_ && module_.IsOpen()) table_->gdi_close(1);
    table_ = nullptr;
    module_.Close();
  }

  void Write(std::uint32_t address, const std::vector<std::uint8_t>& bytes) {
    std::vector<MemoryCell> cells;
    for (std::uint8_t b : bytes) cells.push_back({b, 0});
    ASSERT_EQ(table_->gdi_write_memory(0, address, cells.data(),
                                       static_cast<std::uint32_t>(cells.size()), 4), GDI_OK);
  }
  std::vector<std::uint8_t> Read(std::uint32_t address, std::uint32_t count) {
    std::vector<MemoryCell> cells(count);
    EXPECT_EQ(table_->gdi_read_memory(0, address, cells.data(), count, 1), GDI_OK);
    std::vector<std::uint8_t> bytes;
    for (const MemoryCell& c : cells) bytes.push_back(static_cast<std::uint8_t>(c.value));
    return bytes;
  }

  // A parameter block in the target's byte order.
  struct Params {
    std::uint8_t bytes[8] = {};
    std::uint32_t words[23] = {};  // offsets 8, 12, 16, ten addresses, ten data words
  };
  static std::vector<std::uint8_t> Pack(const Params& p, bool little) {
    std::vector<std::uint8_t> out(p.bytes, p.bytes + 8);
    for (std::uint32_t w : p.words) {
      for (int k = 0; k < 4; ++k) out.push_back(static_cast<std::uint8_t>(w >> (8 * (little ? k : 3 - k))));
    }
    return out;
  }

  // Loads an image, the block and the data, and runs to the breakpoint.
  std::uint32_t RunLoader(const Params& p, const std::vector<std::uint8_t>& data,
                          bool second_family, bool little = true) {
    Write(kRam, {0x01, 0x02, 0x03, 0x04});
    std::vector<std::uint8_t> block = Pack(p, little);
    block.insert(block.end(), data.begin(), data.end());
    Write(kRam + (second_family ? 0xC00 : 0x800), block);
    EXPECT_EQ(table_->gdi_write_register(18, kRam, 0), GDI_OK);
    BreakpointEntry entry{};
    BreakpointRequest request{GDI_BP_EXECUTE, 0, kRam + (second_family ? 0xBF8u : 0x7F8u), 0,
                              GDI_BP_AUTOMATIC};
    EXPECT_EQ(table_->gdi_set_breakpoint(&entry, request), GDI_OK);
    EXPECT_EQ(table_->gdi_run(), GDI_OK);
    TargetStatus status{};
    for (int poll = 0; poll < 100; ++poll) {
      EXPECT_EQ(table_->gdi_get_status(&status), GDI_OK);
      if (status.state != GDI_STATE_RUNNING) break;
    }
    EXPECT_EQ(status.breakpoint, entry.number);
    table_->gdi_clear_all_breakpoints();
    return status.state;
  }

  std::vector<std::uint8_t> FileBytes(const char* name) {
    return romsmith_tests::ReadFileBytes(dir_ / "state" / name);
  }
  std::string JournalText() { return romsmith_tests::ReadFileText(dir_ / "journal.txt"); }

  fs::path dir_;
  std::vector<std::string> set_;
  platform::SharedLibrary module_;
  const DriverTable* table_ = nullptr;
};

TEST_F(TestDriverTest, ProgramThenSectorEraseThenChipEraseActOnTheFlashFile) {
  ASSERT_TRUE(Bind());
  Params program;
  program.bytes[0] = 4;
  program.bytes[5] = 1;                  // verify
  program.words[1] = 0x1000;             // sector 1
  program.words[2] = 8;
  std::vector<std::uint8_t> data = {1, 2, 3, 4, 5, 6, 7, 8};
  EXPECT_EQ(RunLoader(program, data, false), GDI_STATE_HALTED_BREAKPOINT);
  EXPECT_EQ(Read(kRam + 0x807, 1)[0], 0);  // verified
  EXPECT_EQ(Read(0x1000, 8), data);

  Params erase;
  erase.bytes[0] = 3;
  erase.bytes[1] = 1;
  erase.words[1] = 0x1000;
  erase.words[3] = 0x1000;  // the sector-address cycle
  RunLoader(erase, {}, false);
  EXPECT_EQ(Read(0x1000, 2), (std::vector<std::uint8_t>{0xFF, 0xFF}));

  RunLoader(program, data, false);
  erase.words[3] = 0xAAA;  // no sector cycle: the whole chip
  erase.words[1] = 0;
  RunLoader(erase, {}, false);
  Unbind();
  std::vector<std::uint8_t> nor = FileBytes("nor.bin");
  ASSERT_EQ(nor.size(), 0x4000u);
  EXPECT_EQ(nor[0x1000], 0xFF);
  EXPECT_NE(JournalText().find("flash: erased sector 3"), std::string::npos);
}

TEST_F(TestDriverTest, FlashOutlivesTheModuleAndProtectedSectorsKeepTheirData) {
  ASSERT_TRUE(Bind());
  Params program;
  program.bytes[0] = 4;
  program.words[1] = 0x2000;
  program.words[2] = 4;
  RunLoader(program, {0x12, 0x34, 0x56, 0x78}, false);
  Params protect;
  protect.bytes[0] = 5;
  protect.bytes[1] = 1;
  protect.words[1] = 0x2000;
  protect.words[3] = 0x2000;
  RunLoader(protect, {}, false);
  Unbind();

  ASSERT_TRUE(Bind());
  EXPECT_EQ(Read(0x2000, 4), (std::vector<std::uint8_t>{0x12, 0x34, 0x56, 0x78}));
  EXPECT_EQ(Read(kRam + 0x864, 4), (std::vector<std::uint8_t>{0x12, 0x34, 0x56, 0x78}));  // RAM too
  Params erase;
  erase.bytes[0] = 3;
  erase.bytes[1] = 1;
  erase.words[1] = 0x2000;
  erase.words[3] = 0x2000;
  RunLoader(erase, {}, false);
  EXPECT_EQ(Read(0x2000, 1)[0], 0x12);
  EXPECT_EQ(FileBytes("nor.protect"), (std::vector<std::uint8_t>{0, 0, 1, 0}));
}

TEST_F(TestDriverTest, VerifySwitchAndBitsThatCannotReturnToOneSetTheResultByte) {
  ASSERT_TRUE(Bind());
  Params program;
  program.bytes[0] = 4;
  program.bytes[5] = 1;
  program.words[2] = 1;
  RunLoader(program, {0x0F}, false);
  EXPECT_EQ(Read(kRam + 0x807, 1)[0], 0);
  RunLoader(program, {0xF0}, false);  // 0x0F & 0xF0: the flash now holds 0x00
  EXPECT_EQ(Read(kRam + 0x807, 1)[0], 1);
  EXPECT_EQ(Read(0, 1)[0], 0x00);
  Unbind();

  Set("TESTDRIVER_VERIFY_FAIL", "1");
  ASSERT_TRUE(Bind());
  program.words[1] = 0x10;
  RunLoader(program, {0x55}, false);
  EXPECT_EQ(Read(kRam + 0x807, 1)[0], 1);
  EXPECT_EQ(Read(0x10, 1)[0], 0x55);  // still programmed
}

TEST_F(TestDriverTest, DeviceCodeFollowsTheTargetByteOrder) {
  Set("TESTDRIVER_DEVICE_CODE", "0x22492249");
  Set("TESTDRIVER_NAND_ID", "0xEC76");
  for (bool little : {true, false}) {
    ASSERT_TRUE(Bind(little));
    Params id;
    id.bytes[0] = 8;
    id.bytes[1] = 3;
    id.words[3] = 0xAAA;
    id.words[13] = 0x00900090;
    id.words[4] = 0x554;
    id.words[14] = 0x00550055;
    RunLoader(id, {}, false, little);
    std::vector<std::uint8_t> code = Read(kRam + 0x804, 4);
    using Bytes = std::vector<std::uint8_t>;
    EXPECT_EQ(code, (little ? Bytes{0x49, 0x22, 0x49, 0x22} : Bytes{0x22, 0x49, 0x22, 0x49}));
    Params nand;
    nand.bytes[0] = 18;
    RunLoader(nand, {}, true, little);
    EXPECT_EQ(Read(kRam + 0xC04, 4), (little ? Bytes{0x76, 0xEC, 0, 0} : Bytes{0, 0, 0xEC, 0x76}));
    Unbind();
  }
}

TEST_F(TestDriverTest, SecondFamilyChecksErasesProgramsAndReadsBlocks) {
  Set("TESTDRIVER_NAND_BAD", "1,3");
  ASSERT_TRUE(Bind());
  Params check;
  check.bytes[0] = 15;
  check.words[3] = 0;   // first block
  check.words[4] = 5;   // last block
  check.words[13] = 512;
  check.words[14] = 2;
  RunLoader(check, {}, true);
  EXPECT_EQ(Read(kRam + 0xC14, 4), (std::vector<std::uint8_t>{0x0A, 0, 0, 0}));

  std::vector<std::uint8_t> data(4096);
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(i * 7);
  Params program;
  program.bytes[0] = 14;
  program.bytes[5] = 1;
  program.words[1] = 4096;  // blocks 4 to 7
  program.words[2] = 4096;
  program.words[13] = 512;
  RunLoader(program, data, true);
  EXPECT_EQ(Read(kRam + 0xC07, 1)[0], 0);

  Params upload = program;
  upload.bytes[0] = 16;
  RunLoader(upload, std::vector<std::uint8_t>(4096, 0), true);
  EXPECT_EQ(Read(kRam + 0xC64, 4096), data);

  program.words[1] = 0;  // blocks 0 to 3, two of them bad
  RunLoader(program, data, true);
  EXPECT_EQ(Read(kRam + 0xC07, 1)[0], 1);
  Unbind();
  std::vector<std::uint8_t> nand = FileBytes("nand.bin");
  ASSERT_EQ(nand.size(), 8u * 1024);
  EXPECT_EQ(nand[1], 7);         // block 0 took the data
  EXPECT_EQ(nand[1024 + 1], 0xFF);  // bad block 1 did not

  // Another process fills the array; erase leaves the bad blocks alone.
  {
    std::ofstream out(dir_ / "state" / "nand.bin", std::ios::binary | std::ios::trunc);
    out << std::string(8 * 1024, '\0');
  }
  ASSERT_TRUE(Bind());
  Params erase = check;
  erase.bytes[0] = 13;
  erase.words[4] = 7;
  RunLoader(erase, {}, true);
  Unbind();
  nand = FileBytes("nand.bin");
  for (std::uint32_t block = 0; block < 8; ++block) {
    EXPECT_EQ(nand[block * 1024 + 5], block == 1 || block == 3 ? 0x00 : 0xFF) << block;
  }
}

TEST_F(TestDriverTest, FailSwitchCountsCallsAndGivesTheCodeAsked) {
  Set("TESTDRIVER_FAIL", "36@2,9=4");
  ASSERT_TRUE(Bind());
  MemoryCell cell{0x11, 0};
  EXPECT_EQ(table_->gdi_write_memory(0, kRam, &cell, 1, 1), GDI_OK);
  EXPECT_EQ(table_->gdi_write_memory(0, kRam, &cell, 1, 1), GDI_OK);
  EXPECT_EQ(table_->gdi_write_memory(0, kRam, &cell, 1, 1), GDI_FAILED);
  EXPECT_EQ(table_->gdi_stop(), GDI_NOT_SUPPORTED);
  EXPECT_EQ(table_->gdi_write_memory(0, kRam, &cell, 1, 3), GDI_FAILED);
  Unbind();

  Set("TESTDRIVER_FAIL", "12");
  EXPECT_FALSE(Bind());
  EXPECT_NE(JournalText().find(" => 7"), std::string::npos);
}

TEST_F(TestDriverTest, RunControlPollsStopsAndResolvesBreakpointKinds) {
  Set("TESTDRIVER_RUN_POLLS", "2");
  ASSERT_TRUE(Bind());
  MemoryCell cells[3] = {{1, 0}, {2, 0}, {3, 0}};
  EXPECT_EQ(table_->gdi_write_memory(0, kRam, cells, 3, 3), GDI_BAD_ARGUMENT);
  EXPECT_EQ(Read(kRam, 1)[0], 0);

  BreakpointEntry entry{};
  EXPECT_EQ(table_->gdi_set_breakpoint(&entry, {GDI_BP_EXECUTE, 0, 0x100, 0, GDI_BP_AUTOMATIC}), GDI_OK);
  EXPECT_EQ(entry.request.kind, GDI_BP_HARDWARE);  // flash
  EXPECT_EQ(table_->gdi_set_breakpoint(&entry, {GDI_BP_EXECUTE, 0, kRam, 0, GDI_BP_AUTOMATIC}), GDI_OK);
  EXPECT_EQ(entry.request.kind, GDI_BP_SOFTWARE);  // RAM
  EXPECT_EQ(table_->gdi_set_breakpoint(&entry, {GDI_BP_EXECUTE, 0, kRam + 1, 0, 2}), GDI_BAD_ARGUMENT);
  EXPECT_EQ(table_->gdi_set_breakpoint(&entry, {0x10, 0, kRam, 0, 2}), GDI_NOT_SUPPORTED);
  EXPECT_EQ(table_->gdi_clear_breakpoint(7), GDI_BAD_ARGUMENT);
  table_->gdi_clear_all_breakpoints();

  Params erase;
  erase.bytes[0] = 3;
  Write(kRam, {1, 2, 3, 4});
  Write(kRam + 0x800, Pack(erase, true));
  table_->gdi_write_register(18, kRam, 0);
  table_->gdi_set_breakpoint(&entry, {GDI_BP_EXECUTE, 0, kRam + 0x7F8, 0, 2});
  EXPECT_EQ(table_->gdi_run(), GDI_OK);
  EXPECT_EQ(table_->gdi_run(), GDI_ALREADY_RUNNING);
  TargetStatus status{};
  table_->gdi_get_status(&status);
  EXPECT_EQ(status.state, GDI_STATE_RUNNING);
  table_->gdi_get_status(&status);
  EXPECT_EQ(status.state, GDI_STATE_RUNNING);
  table_->gdi_get_status(&status);
  EXPECT_EQ(status.state, GDI_STATE_HALTED_BREAKPOINT);
  RegisterValue pc{};
  EXPECT_EQ(table_->gdi_read_register(18, &pc), GDI_OK);
  EXPECT_EQ(pc.value, kRam + 0x7F8);
  EXPECT_EQ(table_->gdi_write_register(18, 0, 1), GDI_NOT_SUPPORTED);
  EXPECT_EQ(table_->gdi_write_register(99, 0, 0), GDI_NOT_SUPPORTED);
  Unbind();

  Set("TESTDRIVER_RUN_NEVER_ENDS", "1");
  ASSERT_TRUE(Bind());
  Write(kRam, {1, 2, 3, 4});
  Write(kRam + 0x800, Pack(erase, true));
  table_->gdi_write_register(18, kRam, 0);
  table_->gdi_set_breakpoint(&entry, {GDI_BP_EXECUTE, 0, kRam + 0x7F8, 0, 2});
  table_->gdi_run();
  for (int i = 0; i < 20; ++i) {
    table_->gdi_get_status(&status);
    EXPECT_EQ(status.state, GDI_STATE_RUNNING);
  }
  EXPECT_EQ(table_->gdi_stop(), GDI_OK);
  table_->gdi_get_status(&status);
  EXPECT_EQ(status.state, GDI_STATE_HALTED_STOP);
  EXPECT_EQ(table_->gdi_stop(), GDI_OK);
}

}  // namespace
