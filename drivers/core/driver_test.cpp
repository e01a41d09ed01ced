#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "drivers/core/driver.h"
#include "drivers/core/testing/fake_core.h"

namespace drivers {
namespace {

using testing::FakeCore;

std::vector<std::string> messages;
void Collect(std::int32_t kind, const char* text) {
  EXPECT_EQ(kind, 2048);
  messages.push_back(text);
}

// An emulator probe that answers the presence test.
class ProbePort : public Port {
 public:
  std::uint8_t Read(std::uint16_t port) override {
    if (port == 0x379 || port == 0x279) {
      if (!present) return 0x00;
      return data == 0x38 ? 0x10 : data == 0xC0 ? 0x40 : 0x80;
    }
    return 0;
  }
  void Write(std::uint16_t port, std::uint8_t value) override {
    if (port == 0x378 || port == 0x278) data = value;
  }
  std::uint8_t data = 0;
  bool present = true;
};

const ModuleProfile kProfile = {
    .probe = kTevrinEmulator,
    .core = CoreFamily::Arm7,
    .description = "Tevrin JTAG emulator for ARM7",
    .version = 0x112045,
};

class DriverTest : public ::testing::Test {
 protected:
  DriverTest() {
    messages.clear();
    auto fake = std::make_unique<FakeCore>(nullptr);
    core = fake.get();
    driver = std::make_unique<Driver>(
        kProfile,
        [this](const std::string& directory, std::string*, bool*) -> std::unique_ptr<Port> {
          opened_directory = directory;
          if (!port_library_present) return nullptr;
          auto port = std::make_unique<ProbePort>();
          probe = port.get();
          probe->present = probe_present;
          return port;
        },
        std::move(fake));
    core->state_ = &driver->state();
    driver->SetCallback(2048, Collect);
  }

  int Open(std::uint8_t order = 2, std::uint8_t speed = 0) {
    byte_order = order;
    speed_index = speed;
    options = OpenOptions{&byte_order, "/ports/", &speed_index};
    return driver->Open(&options);
  }
  int Connect(const char* name = "LPT1", std::uint32_t type = 0x8000) {
    std::strcpy(port_name, name);
    record = ConnectRecord{type, 1, port_name};
    return driver->Connect(&record);
  }
  void OpenAndConnect(std::uint8_t order = 2) {
    ASSERT_EQ(Open(order), 0);
    ASSERT_EQ(Connect(), 0);
    messages.clear();
    core->ClearCounts();
  }
  std::vector<MemoryCell> Cells(std::initializer_list<std::uint8_t> bytes) {
    std::vector<MemoryCell> cells;
    for (std::uint8_t b : bytes) cells.push_back({b, 0});
    return cells;
  }
  void RegisterNames(std::vector<const char*> names) {
    items.clear();
    for (std::size_t i = 0; i < names.size(); ++i) {
      items.push_back({names[i], static_cast<std::uint32_t>(100 + i), 0});
    }
    ASSERT_EQ(driver->SetRegisterList(static_cast<std::uint32_t>(items.size()), items.data()), 0);
  }

  std::unique_ptr<Driver> driver;
  FakeCore* core = nullptr;
  ProbePort* probe = nullptr;
  bool port_library_present = true;
  bool probe_present = true;
  std::string opened_directory;
  std::uint8_t byte_order = 2, speed_index = 0;
  OpenOptions options{};
  char port_name[16] = {};
  ConnectRecord record{};
  std::vector<RegisterListItem> items;
};

TEST_F(DriverTest, OpenTakesByteOrderSpeedAndThePortLibrary) {
  EXPECT_EQ(Open(1, 2), 0);
  EXPECT_EQ(opened_directory, "/ports/");
  EXPECT_EQ(driver->state().byte_order, 1);
  EXPECT_EQ(driver->transport().delay_factor(), 4);
  EXPECT_EQ(driver->state().breakpoints.size(), 255u);
  EXPECT_TRUE(messages.empty());
  EXPECT_EQ(Open(2, 3), 0);
  EXPECT_EQ(driver->transport().delay_factor(), 0);
  EXPECT_EQ(messages, (std::vector<std::string>{
                          "Warning: JTAG speed config error, Tevrin Emulator running at full speed.\n"}));
  port_library_present = false;
  messages.clear();
  EXPECT_EQ(Open(), 7);
  EXPECT_EQ(messages, (std::vector<std::string>{"Error: device driver error!\n"}));
}

TEST_F(DriverTest, ConnectChecksThePortNameAndReportsTheTarget) {
  ASSERT_EQ(Open(), 0);
  EXPECT_EQ(Connect("lpt1"), 7);
  EXPECT_EQ(Connect("LPT1", 0x0008), 7);
  EXPECT_TRUE(messages.empty());
  EXPECT_EQ(Connect("LPT2"), 0);
  EXPECT_EQ(driver->state().port_base, 0x278);
  EXPECT_EQ(record.connected & 0xFF, 1u);
  EXPECT_EQ(messages, (std::vector<std::string>{"Info: target device ID is: 0x1f0f0f0f.\n",
                                                "Info: CPU was in debug state before connect, "
                                                "register values may be incorrect.\n"}));
  EXPECT_EQ(core->log.back(), "read registers");

  messages.clear();
  core->halted = false;
  core->idcode = 0;
  EXPECT_EQ(Connect(), 7);
  EXPECT_EQ(messages, (std::vector<std::string>{"Error: target CPU not found. \n"}));
  probe->present = false;
  messages.clear();
  EXPECT_EQ(Connect(), 7);
  EXPECT_EQ(messages, (std::vector<std::string>{
                          "Error: emulator not found, please check power and hardware connection.\n"}));
}

TEST_F(DriverTest, ConnectWithoutOpenFailsAndCloseFreesEverything) {
  EXPECT_EQ(Connect(), 7);
  OpenAndConnect();
  RegisterNames({"R0"});
  std::int32_t keys[1] = {100};
  std::int32_t id = 0;
  ASSERT_EQ(driver->CreateRegisterGroup(&id, keys, 1), 0);
  EXPECT_EQ(driver->Close(), 0);
  EXPECT_TRUE(driver->state().breakpoints.empty());
  EXPECT_TRUE(driver->state().registers.empty());
  EXPECT_EQ(driver->DeleteRegisterGroup(id), 5);
}

TEST_F(DriverTest, InfoCarriesEveryConstant) {
  DriverInfo info;
  std::memset(&info, 0xCC, sizeof info);
  ASSERT_EQ(Open(1), 0);
  ASSERT_EQ(driver->GetInfo(&info), 0);
  EXPECT_STREQ(info.description, "Tevrin JTAG emulator for ARM7");
  EXPECT_STREQ(info.version_text, "1122373");
  EXPECT_EQ(info.version, 0x112045u);
  ASSERT_NE(info.speed_names, nullptr);
  EXPECT_STREQ(info.speed_names[2], "Low Speed");
  EXPECT_EQ(info.speed_count, 3u);
  EXPECT_EQ(info.comm_types, 0x8000u);
  auto at = [&](int offset) { return info.constants[offset - 24]; };
  auto word = [&](int offset) {
    std::uint32_t v;
    std::memcpy(&v, &info.constants[offset - 24], 4);
    return v;
  };
  EXPECT_EQ(at(24), 0);
  EXPECT_EQ(at(26), 0xCC) << "unlisted bytes keep the caller's value";
  EXPECT_EQ(word(84), 2048u);
  EXPECT_EQ(at(88), 1);
  EXPECT_EQ(at(90), 0);
  EXPECT_EQ(at(91), 1);
  EXPECT_EQ(word(92), 1u);
  EXPECT_EQ(word(96), 1u);
  EXPECT_EQ(at(102), 1);
  EXPECT_EQ(at(109), 0);
  EXPECT_EQ(at(110), 0xCC);
  EXPECT_STREQ(info.extra_text, "");
  EXPECT_EQ(info.constant_128, 1u);
  EXPECT_EQ(info.byte_order, 1u);
  EXPECT_EQ(info.constant_136, 2u);
  EXPECT_EQ(info.constant_140, 0);
  EXPECT_EQ(info.constant_144, 0u);
  driver->Free(info.description);
  driver->Free(info.version_text);
  driver->Free(info.extra_text);
  EXPECT_EQ(driver->Free(nullptr), 0);
  std::uint32_t version = 0;
  driver->GetVersion(&version);
  EXPECT_EQ(version, 0x112045u);
}

TEST_F(DriverTest, MemoryWidthsCountsAndRunningCores) {
  OpenAndConnect();
  std::vector<MemoryCell> cells = Cells({1, 2, 3});
  EXPECT_EQ(driver->WriteMemory(0x100, cells.data(), 0, 4), 0);
  EXPECT_EQ(driver->ReadMemory(0x100, cells.data(), 0, 1), 0);
  EXPECT_EQ(driver->WriteMemory(0x100, cells.data(), 3, 3), 2);
  EXPECT_EQ(driver->ReadMemory(0x100, cells.data(), 3, 0), 2);
  EXPECT_EQ(driver->ReadMemory(0xFFFFFFFE, cells.data(), 3, 1), 2) << "no wrap to address 0";
  EXPECT_EQ(driver->WriteMemory(0xFFFFFFFD, cells.data(), 3, 1), 0) << "up to the last byte";
  core->ClearCounts();
  EXPECT_EQ(driver->WriteMemory(0xFFFFFFFE, cells.data(), 3, 4), 2);
  EXPECT_TRUE(core->log.empty());
  EXPECT_EQ(cells[0].value, 1u);

  core->halted = false;
  EXPECT_EQ(driver->ReadMemory(0x100, cells.data(), 3, 4), 5);
  EXPECT_EQ(driver->WriteMemory(0x100, cells.data(), 3, 1), 5);
  EXPECT_EQ(messages, (std::vector<std::string>{
                          "Debug: Can not execute dump memblock command while CPU is running!\n",
                          "Debug: Can not execute write memory command while CPU is running!\n"}));
}

TEST_F(DriverTest, WordWriteWithEdgesKeepsTheBytesAroundIt) {
  for (std::uint8_t order : {std::uint8_t{2}, std::uint8_t{1}}) {
    OpenAndConnect(order);
    for (std::uint32_t a = 0x2000; a < 0x2010; ++a) core->SetByte(a, 0xEE);
    auto cells = Cells({0x10, 0x11, 0x12, 0x13, 0x14});
    ASSERT_EQ(driver->WriteMemory(0x2002, cells.data(), 5, 4), 0);
    EXPECT_EQ(core->loads, 2);
    EXPECT_EQ(core->stores, 2);
    const std::uint8_t expected[] = {0xEE, 0xEE, 0x10, 0x11, 0x12, 0x13, 0x14, 0xEE, 0xEE};
    for (std::uint32_t k = 0; k < 9; ++k) EXPECT_EQ(core->Byte(0x2000 + k), expected[k]) << k;

    // One halfword holds both ends: read once.
    core->ClearCounts();
    auto one = Cells({0x77});
    ASSERT_EQ(driver->WriteMemory(0x2009, one.data(), 1, 2), 0);
    EXPECT_EQ(core->loads, 1);
    EXPECT_EQ(core->Byte(0x2008), 0xEE);
    EXPECT_EQ(core->Byte(0x2009), 0x77);
    driver->Close();
  }
}

TEST_F(DriverTest, LongWordWritesUseTwelveWordBlockStores) {
  OpenAndConnect();
  struct Case {
    std::uint32_t words;
    int blocks, singles;
  };
  for (const Case& c : {Case{11, 0, 11}, Case{12, 1, 0}, Case{25, 2, 1}}) {
    core->ClearCounts();
    std::vector<MemoryCell> cells(c.words * 4);
    for (std::size_t i = 0; i < cells.size(); ++i) cells[i].value = static_cast<std::uint8_t>(i * 7);
    ASSERT_EQ(driver->WriteMemory(0x3000, cells.data(), c.words * 4, 4), 0);
    EXPECT_EQ(core->block_stores, c.blocks) << c.words;
    EXPECT_EQ(core->stores, c.singles) << c.words;
    EXPECT_EQ(core->loads, 0);
    for (std::size_t i = 0; i < cells.size(); ++i) {
      ASSERT_EQ(core->Byte(0x3000 + static_cast<std::uint32_t>(i)), cells[i].value) << i;
    }
  }
}

TEST_F(DriverTest, ReadsUseTheirWidthAndLeaveTheCellsSecondWord) {
  for (std::uint8_t order : {std::uint8_t{2}, std::uint8_t{1}}) {
    OpenAndConnect(order);
    for (std::uint32_t a = 0; a < 0x40; ++a) core->SetByte(0x4000 + a, static_cast<std::uint8_t>(a + 1));
    for (std::int32_t width : {1, 2, 4}) {
      for (std::uint32_t start : {0x4000u, 0x4001u, 0x4003u}) {
        for (std::uint32_t count : {1u, 3u, 5u, 33u}) {
          core->ClearCounts();
          std::vector<MemoryCell> cells(count, MemoryCell{0xFFFFFFFF, 0xABCD});
          ASSERT_EQ(driver->ReadMemory(start, cells.data(), count, width), 0);
          for (std::uint32_t i = 0; i < count; ++i) {
            ASSERT_EQ(cells[i].value, core->Byte(start + i)) << width << " " << start << " " << i;
            ASSERT_EQ(cells[i].unused, 0xABCDu);
          }
          if (width == 4) {
            EXPECT_EQ(core->loads, 0);
            const std::uint32_t words = ((start + count + 3) / 4) - start / 4;
            EXPECT_EQ(core->block_loads, static_cast<int>((words + 7) / 8));
          }
        }
      }
    }
    driver->Close();
  }
}

TEST_F(DriverTest, SoftwareBreakpointsAreInvisibleThroughTheMemorySlots) {
  OpenAndConnect();
  auto program = Cells({0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08});
  ASSERT_EQ(driver->WriteMemory(0x2800000, program.data(), 8, 4), 0);
  BreakpointEntry entry{};
  ASSERT_EQ(driver->SetBreakpoint(&entry, BreakpointRequest{1, 0, 0x2800004, 0, 1}), 0);
  EXPECT_EQ(core->Get(0x2800004, 4), kWordPattern);
  std::vector<MemoryCell> cells(8);
  ASSERT_EQ(driver->ReadMemory(0x2800000, cells.data(), 8, 4), 0);
  for (int i = 0; i < 8; ++i) EXPECT_EQ(cells[i].value, program[i].value);

  auto patch = Cells({0xA5, 0xA6});
  ASSERT_EQ(driver->WriteMemory(0x2800005, patch.data(), 2, 1), 0);
  EXPECT_EQ(core->Get(0x2800004, 4), kWordPattern) << "the pattern stays in memory";
  ASSERT_EQ(driver->ClearBreakpoint(entry.number), 0);
  EXPECT_EQ(core->Byte(0x2800004), 0x05);
  EXPECT_EQ(core->Byte(0x2800005), 0xA5);
  EXPECT_EQ(core->Byte(0x2800006), 0xA6);
  EXPECT_EQ(core->Byte(0x2800007), 0x08);
}

TEST_F(DriverTest, RegistersByNameInEveryMode) {
  OpenAndConnect();
  RegisterNames({"SP", "R8", "SPSR_irq", "PC", "CPSR", "R13_usr", "nonsense", "R16", "SPSR",
                 "LR_fiq", "R0"});
  for (const RegisterListItem& item : items) EXPECT_EQ(item.supported, 1u);
  DriverState& s = driver->state();
  for (int i = 0; i < kRegisterFileSize; ++i) s.regs[i] = 0x1000 + static_cast<std::uint32_t>(i);
  auto read = [&](std::int32_t key) {
    RegisterValue v{0xDEAD, 9};
    const int result = driver->ReadRegister(key, &v);
    return std::make_pair(result, v.value);
  };
  s.regs[16] = 0x12;  // IRQ
  s.modes[4].loaded = true;
  EXPECT_EQ(read(100), std::make_pair(0, 0x1000u + 31));
  EXPECT_EQ(read(101), std::make_pair(0, 0x1000u + 8));
  s.regs[16] = 0x11;  // FIQ
  s.modes[1].loaded = true;
  EXPECT_EQ(read(101), std::make_pair(0, 0x1000u + 17));
  EXPECT_EQ(read(109), std::make_pair(0, 0x1000u + 23));

  s.regs[16] = 0x13;  // supervisor: the IRQ bank is loaded first
  s.modes[4].loaded = false;
  core->ClearCounts();
  EXPECT_EQ(read(102).second, 0x1000u + 33);
  EXPECT_EQ(core->log, (std::vector<std::string>{"load bank _irq"}));
  core->ClearCounts();
  EXPECT_EQ(read(102).second, 0x1000u + 33);
  EXPECT_TRUE(core->log.empty()) << "loaded once";
  EXPECT_EQ(read(108), std::make_pair(0, 0x1000u + 27));  // SPSR of svc
  EXPECT_EQ(read(103).second, 0x1000u + 15);
  EXPECT_EQ(read(104).second, 0x13u);

  RegisterValue v{};
  EXPECT_EQ(driver->ReadRegister(106, &v), 5);
  EXPECT_EQ(v.status, 3u);
  EXPECT_EQ(v.value, 0u);
  EXPECT_EQ(driver->ReadRegister(107, &v), 5);
  s.regs[16] = 0x10;
  EXPECT_EQ(driver->ReadRegister(108, &v), 5) << "user mode has no SPSR";
  EXPECT_EQ(driver->ReadRegister(999, &v), 4);

  EXPECT_EQ(driver->WriteRegister(103, 0x8000, 0), 0);
  EXPECT_EQ(s.regs[15], 0x8000u);
  EXPECT_EQ(driver->WriteRegister(103, 0x8000, 1), 4);
  EXPECT_EQ(driver->WriteRegister(999, 0, 0), 4);
  EXPECT_EQ(driver->WriteRegister(106, 0, 0), 5);
}

TEST_F(DriverTest, RegisterGroupsReadAndWriteByPosition) {
  OpenAndConnect();
  RegisterNames({"R0", "R1", "R2"});
  std::int32_t keys[] = {102, 100};
  std::int32_t first = 0, second = 0;
  ASSERT_EQ(driver->CreateRegisterGroup(&first, keys, 2), 0);
  ASSERT_EQ(driver->CreateRegisterGroup(&second, keys, 1), 0);
  EXPECT_EQ(first, 1);
  EXPECT_EQ(second, 2);
  RegisterWriteItem writes[] = {{0x22, 0}, {0x44, 0}};
  EXPECT_EQ(driver->WriteRegisterGroup(first, writes), 0);
  EXPECT_EQ(driver->state().regs[2], 0x22u);
  EXPECT_EQ(driver->state().regs[0], 0x44u);
  RegisterValue values[2] = {};
  EXPECT_EQ(driver->ReadRegisterGroup(first, values), 0);
  EXPECT_EQ(values[0].value, 0x22u);
  EXPECT_EQ(values[1].value, 0x44u);
  RegisterWriteItem flagged[] = {{1, 0}, {2, 1}};
  EXPECT_EQ(driver->WriteRegisterGroup(first, flagged), 4) << "the last write's result";
  EXPECT_EQ(driver->DeleteRegisterGroup(first), 0);
  EXPECT_EQ(driver->DeleteRegisterGroup(first), 5);
  EXPECT_EQ(driver->ReadRegisterGroup(first, values), 5);
  std::int32_t again = 0;
  ASSERT_EQ(driver->CreateRegisterGroup(&again, keys, 2), 0);
  EXPECT_EQ(again, 1) << "the first free entry";
  for (int i = 3; i <= 254; ++i) ASSERT_EQ(driver->CreateRegisterGroup(&again, keys, 1), 0);
  EXPECT_EQ(driver->CreateRegisterGroup(&again, keys, 1), 5);
}

TEST_F(DriverTest, StatusFollowsTheStopCause) {
  OpenAndConnect();
  TargetStatus status{9, 9};
  ASSERT_EQ(driver->GetStatus(&status), 0);
  EXPECT_EQ(status.state, 1024u);

  core->halted = false;
  ASSERT_EQ(driver->GetStatus(&status), 0);
  EXPECT_EQ(status.state, 0u);

  // Halted on the first read, running on the second.
  core->status_script = {kDebugAck, 0};
  ASSERT_EQ(driver->GetStatus(&status), 0);
  EXPECT_EQ(status.state, 0u);
  EXPECT_EQ(messages, (std::vector<std::string>{"Debug: Pseudo debug state been found!\n"}));

  // One failed read: TAP reset, units on again, then the second read.
  messages.clear();
  core->halted = true;
  core->ice[12] = 0xFFFFFEF7;
  BreakpointEntry entry{};
  driver->state().breakpoints[0] = BreakpointSlot{1, 1, 0, 0x100, 0, 0, 0, 1, 0};
  core->status_failures = 1;
  ASSERT_EQ(driver->GetStatus(&status), 0);
  EXPECT_EQ(messages, (std::vector<std::string>{"Debug: JTAG communication error.\n"}));
  EXPECT_EQ(core->ice[12], 0xFFFFFFF7u);
  core->status_failures = 2;
  EXPECT_EQ(driver->GetStatus(&status), 5);
  (void)entry;
}

TEST_F(DriverTest, AfterARunStatusFindsTheBreakpointOrWatchpoint) {
  OpenAndConnect();
  DriverState& s = driver->state();
  BreakpointEntry hardware{};
  ASSERT_EQ(driver->SetBreakpoint(&hardware, BreakpointRequest{1, 0, 0x8000, 0, 0}), 0);
  ASSERT_EQ(driver->Run(), 0);
  EXPECT_EQ(s.stop_cause, 512);
  EXPECT_EQ(driver->Run(), 1);
  EXPECT_EQ(messages.back(), "Debug: CPU is already in running state!\n");

  core->halted = true;
  s.regs[15] = 0x8000;
  TargetStatus status{};
  ASSERT_EQ(driver->GetStatus(&status), 0);
  EXPECT_EQ(status.state, 4u);
  EXPECT_EQ(status.breakpoint, hardware.number);
  EXPECT_EQ(core->log.back(), "read registers");

  s.stop_cause = 512;
  s.regs[15] = 0x9000;
  ASSERT_EQ(driver->GetStatus(&status), 0);
  EXPECT_EQ(status.state, 512u);
  EXPECT_EQ(status.breakpoint, 0u);

  s.stop_cause = 512;
  s.watchpoint_hit = 1;
  ASSERT_EQ(driver->GetStatus(&status), 0);
  EXPECT_EQ(status.state, 8u);
}

TEST_F(DriverTest, RunStepsOverTheSoftwareBreakpointAtThePc) {
  OpenAndConnect();
  DriverState& s = driver->state();
  core->Put(0x2900000, 4, 0xE1A01002);
  BreakpointEntry entry{};
  ASSERT_EQ(driver->SetBreakpoint(&entry, BreakpointRequest{1, 0, 0x2900000, 0, 1}), 0);
  s.regs[15] = 0x2900000;
  core->ClearCounts();
  ASSERT_EQ(driver->Run(), 0);
  const std::vector<std::string> expected = {
      "load4 2900000", "store4 2900000=E1A01002", "step", "store4 2900000=EFEFEFEF",
      "ice 0=0", "resume"};
  EXPECT_EQ(core->log, expected);

  // A hardware breakpoint at the PC: one step, then the run.
  core->halted = true;
  driver->ClearAllBreakpoints();
  core->Put(0x8000, 4, 0xE1A00000);
  ASSERT_EQ(driver->SetBreakpoint(&entry, BreakpointRequest{1, 0, 0x8000, 0, 0}), 0);
  s.regs[15] = 0x8000;
  core->ClearCounts();
  ASSERT_EQ(driver->Run(), 0);
  EXPECT_EQ(core->log, (std::vector<std::string>{"load4 8000", "step", "ice 0=0", "resume"}));
}

TEST_F(DriverTest, ThumbCoreStoppedOnTheOtherHalfOfAWholeWordRunsOn) {
  OpenAndConnect();
  DriverState& s = driver->state();
  core->Put(0x2A00000, 4, 0x22221111);
  BreakpointEntry entry{};
  ASSERT_EQ(driver->SetBreakpoint(&entry, BreakpointRequest{1, 0, 0x2A00002, 0, 1}), 0);
  ASSERT_EQ(driver->Run(), 0);
  core->halted = true;
  core->thumb = true;
  s.regs[15] = 0x2A00000;  // the halfword below the breakpoint
  TargetStatus status{9, 9};
  core->ClearCounts();
  ASSERT_EQ(driver->GetStatus(&status), 0);
  EXPECT_EQ(status.state, 0u);
  EXPECT_EQ(core->Get(0x2A00000, 2), 0x1111u);
  EXPECT_EQ(core->Get(0x2A00002, 2), kHalfwordPattern);
  EXPECT_EQ(s.breakpoints[0].width, 1);
  EXPECT_EQ(core->log.back(), "resume");

  // Stopping on its own halfword reports it.
  core->halted = true;
  s.stop_cause = 512;
  s.regs[15] = 0x2A00002;
  ASSERT_EQ(driver->GetStatus(&status), 0);
  EXPECT_EQ(status.state, 4u);
  EXPECT_EQ(status.breakpoint, entry.number);
}

TEST_F(DriverTest, StepStopAndResetSetTheirCauses) {
  OpenAndConnect();
  DriverState& s = driver->state();
  ASSERT_EQ(driver->Stop(), 0);
  EXPECT_EQ(s.stop_cause, 1024) << "already halted: unchanged";
  ASSERT_EQ(driver->Step(), 0);
  EXPECT_EQ(s.stop_cause, 1);
  core->halted = false;
  EXPECT_EQ(driver->Step(), 5);
  EXPECT_EQ(messages.back(), "Debug: Can not execute step command while CPU is running!\n");
  ASSERT_EQ(driver->Stop(), 0);
  EXPECT_EQ(s.stop_cause, 128);
  ASSERT_EQ(driver->Reset(), 0);
  EXPECT_EQ(s.stop_cause, 128);
  char state_text[8];
  driver->GetCpuState(state_text);
  EXPECT_STREQ(state_text, "ARM");
  s.thumb = 1;
  driver->GetCpuState(state_text);
  EXPECT_STREQ(state_text, "THUMB");
}

TEST_F(DriverTest, MemorySpaceListMarksTheKnownNames) {
  MemorySpaceItem spaces[] = {{"UserData", 1, 0}, {"Flash", 2, 0}, {"DMA", 3, 0}};
  ASSERT_EQ(driver->SetMemorySpaceList(3, spaces), 0);
  EXPECT_EQ(spaces[0].supported, 1u);
  EXPECT_EQ(spaces[1].supported, 0u);
  EXPECT_EQ(spaces[2].supported, 1u);
  EXPECT_EQ(driver->state().memory_spaces.size(), 3u);
}

// The host's stop: connect gives up without a line, and the next open
// starts afresh.
TEST_F(DriverTest, CancelledWaitsLastUntilTheNextOpen) {
  ASSERT_EQ(Open(), 0);
  EXPECT_EQ(driver->CancelWaits(), 0);
  EXPECT_TRUE(driver->state().WaitsCancelled());
  EXPECT_EQ(Connect(), GDI_OPEN_FAILED);
  EXPECT_TRUE(messages.empty());
  ASSERT_EQ(Open(), 0);
  EXPECT_FALSE(driver->state().WaitsCancelled());
  EXPECT_EQ(Connect(), 0);
}

}  // namespace
}  // namespace drivers
