// Every driver module against a virtual board with its probe wiring, slot by
// slot, through the staged module and the board's port library: what a host
// sees of a real board.
#include <gtest/gtest.h>

#include <cstdlib>
#include <dlfcn.h>
#include <unistd.h>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <tuple>
#include <vector>

#include "driver_api/gdi.h"
#include "modules_under_test.h"
#include "platform/shared_library.h"

namespace {

namespace fs = std::filesystem;
using modules_test::ModuleFacts;

constexpr std::uint32_t kRam = 0x0C000000;
constexpr std::uint32_t kFlashBytes = 0x200000;

std::vector<std::string> messages;
void GDI_CALL Collect(int32_t, const char* text) { messages.push_back(text); }

bool Has(const std::string& line) {
  for (const std::string& m : messages) {
    if (m == line) return true;
  }
  return false;
}

std::uint8_t FlashByte(std::uint32_t address) {
  return address < 0x10000 ? static_cast<std::uint8_t>(address * 7 + 3 + (address >> 8)) : 0xFF;
}

// A board file and its flash image in a directory of their own.
class BoardFiles {
 public:
  BoardFiles(const ModuleFacts& module, bool big, const std::string& faults,
             const char* port_base = "$378") {
    dir_ = fs::temp_directory_path() /
           ("module_board_" + std::to_string(::getpid()) + "_" + std::to_string(counter_++));
    fs::create_directories(dir_);
    std::vector<char> image(kFlashBytes);
    for (std::uint32_t a = 0; a < kFlashBytes; ++a) image[a] = static_cast<char>(FlashByte(a));
    std::ofstream(dir_ / "flash.bin", std::ios::binary).write(image.data(), kFlashBytes);
    std::ofstream(dir_ / "board.ini")
        << "[Board]\nCore=" << (module.arm9 ? "ARM920T" : "ARM7TDMI")
        << "\nEndian=" << (big ? "Big" : "Little") << "\nIdCode="
        << (module.arm9 ? "$0032409D" : "$3F0F0F0F") << "\nProbe=" << module.probe
        << "\nPortBase=" << port_base << "\nTiming=Deterministic\n"
           "RunBudget=" << (faults.empty() ? "20000" : "500") << "\n"
           "[Region1]\nKind=RAM\nBase=$0C000000\nSize=$00100000\n"
           "[Region2]\nKind=NOR\nBase=$00000000\nCommandSet=AMD\nManufacturerId=$01\n"
           "DeviceId=$2249\nWidth=16\nChips=1\nSectors=16K,8K,8K,32K,31*64K\nImage=flash.bin\n"
        << (faults.empty() ? "" : "[Faults]\n" + faults + "\n");
    ::setenv("ROMSMITH_BOARD", (dir_ / "board.ini").c_str(), 1);
    // The port library builds its board once per load: a board of an earlier
    // case still resident would answer instead of this one. ctest runs every
    // case in its own process.
    void* resident =
        ::dlopen((std::string(ROMSMITH_STAGE_DIR) + "/ports/simboard/portcall.so").c_str(),
                 RTLD_NOW | RTLD_NOLOAD);
    if (resident) {
      ::dlclose(resident);
      ADD_FAILURE() << "the board's port library is still loaded from an earlier case; run each "
                       "case in its own process (ctest does)";
    }
  }
  ~BoardFiles() {
    std::error_code ignored;
    fs::remove_all(dir_, ignored);
  }

 private:
  static inline int counter_ = 0;
  fs::path dir_;
};

const char* const kRegisterNames[] = {
    "R0", "R1", "R8", "SP", "LR", "PC", "CPSR", "SPSR", "SP_irq", "LR_irq", "SPSR_irq",
    "SP_fiq", "R8_fiq", "R13_usr", "SP_svc"};
enum Key { R0 = 1, R1, R8, SP, LR, PC, CPSR, SPSR, SP_irq, LR_irq, SPSR_irq, SP_fiq, R8_fiq,
           R13_usr, SP_svc };

// One bind of the module, as the host makes it.
class Session {
 public:
  bool Bind(const ModuleFacts& module, bool big, int expected_connect = 0, uint8_t speed = 0) {
    const std::string path = std::string(ROMSMITH_STAGE_DIR) + "/drivers/" + module.name + ".so";
    if (!module_.Open(path)) return false;
    speed_ = speed;
    t = module_.Get<GdiGetFunction>(GDI_GET_EXPORT_NAME)();
    t->gdi_set_callback(GDI_MESSAGE_KIND, Collect);
    order_ = big ? 1 : 2;
    std::strcpy(directory_, (std::string(ROMSMITH_STAGE_DIR) + "/ports/simboard/").c_str());
    OpenOptions options{&order_, directory_, &speed_};
    if (t->gdi_open(-1, 0, 3, &options, 0) != 0) return false;
    std::strcpy(port_, "LPT1");
    ConnectRecord record{GDI_COMM_PARALLEL, 1, port_};
    const int result = t->gdi_connect(&record);
    EXPECT_EQ(result, expected_connect);
    if (result != 0) return false;
    for (std::size_t i = 0; i < std::size(kRegisterNames); ++i) {
      items_.push_back({kRegisterNames[i], static_cast<uint32_t>(i + 1), 0});
    }
    return t->gdi_set_register_list(static_cast<uint32_t>(items_.size()), items_.data(), 0) == 0;
  }
  ~Session() {
    if (t) t->gdi_close(1);
  }

  uint32_t Reg(Key key) {
    RegisterValue v{0, 9};
    EXPECT_EQ(t->gdi_read_register(key, &v), 0) << kRegisterNames[key - 1];
    return v.value;
  }
  void SetReg(Key key, uint32_t value) { EXPECT_EQ(t->gdi_write_register(key, value, 0), 0); }

  std::vector<uint8_t> Read(uint32_t address, uint32_t count, int width) {
    std::vector<MemoryCell> cells(count, MemoryCell{0xFFFF, 0});
    EXPECT_EQ(t->gdi_read_memory(0, address, cells.data(), count, width), 0);
    std::vector<uint8_t> bytes;
    for (const MemoryCell& c : cells) bytes.push_back(static_cast<uint8_t>(c.value));
    return bytes;
  }
  void Write(uint32_t address, const std::vector<uint8_t>& bytes, int width) {
    std::vector<MemoryCell> cells;
    for (uint8_t b : bytes) cells.push_back({b, 0});
    ASSERT_EQ(t->gdi_write_memory(0, address, cells.data(), static_cast<uint32_t>(cells.size()), width), 0);
  }
  // Instruction words in the target's byte order.
  void Program(uint32_t address, const std::vector<uint32_t>& words) {
    std::vector<uint8_t> bytes;
    for (uint32_t w : words) {
      for (int k = 0; k < 4; ++k) bytes.push_back(static_cast<uint8_t>(w >> (8 * (order_ == 1 ? 3 - k : k))));
    }
    Write(address, bytes, 4);
  }
  void ProgramThumb(uint32_t address, const std::vector<uint16_t>& halves) {
    std::vector<uint8_t> bytes;
    for (uint16_t h : halves) {
      bytes.push_back(static_cast<uint8_t>(order_ == 1 ? h >> 8 : h));
      bytes.push_back(static_cast<uint8_t>(order_ == 1 ? h : h >> 8));
    }
    Write(address, bytes, 2);
  }
  uint32_t Breakpoint(uint32_t address, uint32_t kind, uint32_t flags = GDI_BP_EXECUTE,
                      int expected = 0, uint32_t* resolved = nullptr) {
    BreakpointEntry entry{};
    EXPECT_EQ(t->gdi_set_breakpoint(&entry, BreakpointRequest{flags, 0, address, 0, kind}), expected);
    if (resolved) *resolved = entry.request.kind;
    return entry.number;
  }
  TargetStatus RunToHalt() {
    EXPECT_EQ(t->gdi_run(), 0);
    TargetStatus status{};
    for (int poll = 0; poll < 50; ++poll) {
      EXPECT_EQ(t->gdi_get_status(&status), 0);
      if (status.state != 0) break;
    }
    return status;
  }

  const DriverTable* t = nullptr;

 private:
  platform::SharedLibrary module_;
  uint8_t order_ = 2, speed_ = 0;
  char directory_[260] = {};
  char port_[16] = {};
  std::vector<RegisterListItem> items_;
};

std::string IdLine(const ModuleFacts& module) {
  return module.arm9 ? "Info: target device ID is: 0x32409d.\n"
                     : "Info: target device ID is: 0x3f0f0f0f.\n";
}

int HaltPolls(const ModuleFacts& module) {
  return std::string(module.probe) == "harrier" ? 1024 : 255;
}

using ModuleAndOrder = std::tuple<ModuleFacts, bool>;

std::string CaseName(const ::testing::TestParamInfo<ModuleAndOrder>& info) {
  return std::string(std::get<0>(info.param).name) + (std::get<1>(info.param) ? "_Big" : "_Little");
}

// A module bound to a board with its wiring. The Harrier runs big-endian
// cases at "High Speed", so that its ready handshake is in the loop.
class ModuleBoard : public ::testing::TestWithParam<ModuleAndOrder> {
 protected:
  void SetUp() override {
    messages.clear();
    const uint8_t speed = (std::string(module.probe) == "harrier" && big) ? 1 : 0;
    ASSERT_TRUE(session.Bind(module, big, 0, speed)) << (messages.empty() ? "" : messages.back());
    ASSERT_EQ(session.t->gdi_stop(), 0);
  }
  const ModuleFacts& module = std::get<0>(GetParam());
  bool big = std::get<1>(GetParam());
  BoardFiles files{module, big, ""};
  Session session;
};

// One module, little-endian, on boards the case describes.
class ModuleConnect : public ::testing::TestWithParam<ModuleFacts> {
 protected:
  void SetUp() override { messages.clear(); }
  const ModuleFacts& module = GetParam();
};

TEST_P(ModuleBoard, ConnectNamesTheTargetAndStopHaltsIt) {
  EXPECT_TRUE(Has(IdLine(module)));
  EXPECT_FALSE(Has("Info: CPU was in debug state before connect, register values may be incorrect.\n"));
  TargetStatus status{};
  ASSERT_EQ(session.t->gdi_get_status(&status), 0);
  EXPECT_EQ(status.state, 128u);
  messages.clear();
  EXPECT_EQ(session.t->gdi_stop(), 0);
  EXPECT_EQ(messages, (std::vector<std::string>{"Debug: CPU is already stoped!\n"}));
}

TEST_P(ModuleBoard, FlashReadsBackAsTheImageHoldsItInEveryWidthAndAlignment) {
  for (int width : {1, 2, 4}) {
    for (uint32_t start : {0x100u, 0x101u, 0x102u, 0x103u}) {
      for (uint32_t count : {1u, 3u, 4u, 7u, 12u, 20u, 44u, 48u, 100u, 13u}) {
        const auto bytes = session.Read(start, count, width);
        for (uint32_t i = 0; i < count; ++i) {
          ASSERT_EQ(bytes[i], FlashByte(start + i)) << width << " " << start << " " << count << " " << i;
        }
      }
    }
  }
  // 0 bytes: nothing read, nothing touched.
  MemoryCell cell{0x1234, 0};
  EXPECT_EQ(session.t->gdi_read_memory(0, 0x100, &cell, 0, 4), 0);
  EXPECT_EQ(cell.value, 0x1234u);
}

// The 14-word block loads read what the 8-word ones read, whatever the start
// and length, and leave the core as they found it: a step afterwards runs
// from the same PC with the same registers.
TEST_P(ModuleBoard, FastReadsMatchTheStandardReadsAndLeaveTheCoreAsItWas) {
  std::vector<uint8_t> ram(3000);
  for (std::size_t i = 0; i < ram.size(); ++i) ram[i] = static_cast<uint8_t>(i * 13 + (i >> 7));
  session.Write(kRam + 0x2000, ram, 4);
  // MOV r0,#5; B .
  session.Program(kRam, {0xE3A00005, 0xEAFFFFFE});
  session.SetReg(PC, kRam);
  session.SetReg(R1, 0x11111111);
  session.SetReg(R8, 0x88888888);
  session.SetReg(SP, kRam + 0x8000);
  session.SetReg(LR, 0x0E0E0E0E);

  struct Span {
    uint32_t offset, count;
  };
  const Span spans[] = {{0, 1},   {1, 3},    {2, 55},  {3, 56},   {0, 57},  {5, 113},
                        {0, 224}, {7, 1024}, {1, 1023}, {0, 2048}, {6, 2993}};
  for (int fast : {0, 1}) {
    ASSERT_EQ(session.t->gdi_set_option("FastRead", fast), 0);
    for (const Span& span : spans) {
      const auto flash = session.Read(0x100 + span.offset, span.count, 4);
      for (uint32_t i = 0; i < span.count; ++i) {
        ASSERT_EQ(flash[i], FlashByte(0x100 + span.offset + i))
            << "fast " << fast << " at " << span.offset << " count " << span.count << " byte " << i;
      }
      const auto back = session.Read(kRam + 0x2000 + span.offset, span.count, 4);
      for (uint32_t i = 0; i < span.count; ++i) {
        ASSERT_EQ(back[i], ram[span.offset + i])
            << "fast " << fast << " at " << span.offset << " count " << span.count << " byte " << i;
      }
    }
  }
  ASSERT_EQ(session.t->gdi_step(0), 0);
  EXPECT_EQ(session.Reg(PC), kRam + 4);
  EXPECT_EQ(session.Reg(R0), 5u);
  EXPECT_EQ(session.Reg(R1), 0x11111111u);
  EXPECT_EQ(session.Reg(R8), 0x88888888u);
  EXPECT_EQ(session.Reg(SP), kRam + 0x8000);
  EXPECT_EQ(session.Reg(LR), 0x0E0E0E0Eu);
}

TEST_P(ModuleBoard, RamWritesOfEveryWidthKeepTheirNeighbours) {
  std::vector<uint8_t> data(100);
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(0xA0 + i * 3);
  for (int width : {1, 2, 4}) {
    for (uint32_t offset : {0u, 1u, 2u, 3u}) {
      for (uint32_t count : {0u, 1u, 3u, 4u, 5u, 12u, 20u, 44u, 48u, 100u}) {
        const uint32_t base = kRam + 0x1000;
        session.Write(base - 8, std::vector<uint8_t>(120, 0x5A), 4);
        const uint32_t start = base + offset;
        session.Write(start, std::vector<uint8_t>(data.begin(), data.begin() + count), width);
        const auto back = session.Read(base - 8, 120, 4);
        for (uint32_t i = 0; i < 120; ++i) {
          const uint32_t a = base - 8 + i;
          const uint8_t expected = (a >= start && a < start + count) ? data[a - start] : 0x5A;
          ASSERT_EQ(back[i], expected) << width << " " << offset << " " << count << " " << i;
        }
        const auto same = session.Read(start, count, width);
        for (uint32_t i = 0; i < count; ++i) ASSERT_EQ(same[i], data[i]);
      }
    }
  }
  // A word's bytes lie in the target's byte order.
  session.Program(kRam, {0x11223344});
  const auto bytes = session.Read(kRam, 4, 1);
  EXPECT_EQ(bytes[0], big ? 0x11 : 0x44);
  EXPECT_EQ(bytes[3], big ? 0x44 : 0x11);
}

TEST_P(ModuleBoard, RunStepAndBreakpointsInArmState) {
  // MOV r0,#5; ADD r0,r0,#1 (x3); B .
  session.Program(kRam, {0xE3A00005, 0xE2800001, 0xE2800001, 0xE2800001, 0xEAFFFFFE});
  session.SetReg(PC, kRam);
  ASSERT_EQ(session.t->gdi_step(0), 0);
  EXPECT_EQ(session.Reg(PC), kRam + 4);
  EXPECT_EQ(session.Reg(R0), 5u);
  TargetStatus status{};
  session.t->gdi_get_status(&status);
  EXPECT_EQ(status.state, 1u);

  const uint32_t hard = session.Breakpoint(kRam + 12, GDI_BP_HARDWARE);
  status = session.RunToHalt();
  EXPECT_EQ(status.state, 4u);
  EXPECT_EQ(status.breakpoint, hard);
  EXPECT_EQ(session.Reg(R0), 7u);
  // Run on from the breakpoint: steps over it, then loops at the B.
  ASSERT_EQ(session.t->gdi_run(), 0);
  EXPECT_EQ(session.t->gdi_run(), 1);
  ASSERT_EQ(session.t->gdi_stop(), 0);
  EXPECT_EQ(session.Reg(PC), kRam + 16);
  EXPECT_EQ(session.Reg(R0), 8u);
  session.t->gdi_get_status(&status);
  EXPECT_EQ(status.state, 128u);

  // Halted at a PC that no entry names: 512.
  session.SetReg(PC, kRam);
  ASSERT_EQ(session.t->gdi_clear_all_breakpoints(), 0);
  const uint32_t again = session.Breakpoint(kRam + 8, GDI_BP_HARDWARE);
  ASSERT_EQ(session.t->gdi_run(), 0);
  ASSERT_EQ(session.t->gdi_clear_breakpoint(again), 0);
  session.t->gdi_get_status(&status);
  EXPECT_EQ(status.state, 512u);
}

TEST_P(ModuleBoard, SoftwareBreakpointsAreHiddenAndThumbStepsByHalfwords) {
  // ADD r1,pc,#1; BX r1; then THUMB: MOVS r0,#5; ADDS r0,#1 (x4); B .
  session.Program(kRam + 0x100, {0xE28F1001, 0xE12FFF11});
  session.ProgramThumb(kRam + 0x108, {0x2005, 0x3001, 0x3001, 0x3001, 0x3001, 0xE7FE});
  const auto before = session.Read(kRam + 0x100, 20, 4);
  uint32_t kind = 9;
  const uint32_t a = session.Breakpoint(kRam + 0x10C, GDI_BP_AUTOMATIC, GDI_BP_EXECUTE, 0, &kind);
  EXPECT_EQ(kind, 1u) << "RAM takes a software breakpoint";
  const uint32_t b = session.Breakpoint(kRam + 0x10E, GDI_BP_SOFTWARE);
  EXPECT_EQ(session.Read(kRam + 0x100, 20, 4), before) << "the patterns never show";
  EXPECT_EQ(session.Read(kRam + 0x10D, 2, 1), std::vector<uint8_t>(before.begin() + 13, before.begin() + 15));

  session.SetReg(PC, kRam + 0x100);
  TargetStatus status = session.RunToHalt();
  EXPECT_EQ(status.state, 4u);
  EXPECT_EQ(status.breakpoint, a);
  EXPECT_EQ(session.Reg(PC), kRam + 0x10C);
  EXPECT_EQ(session.Reg(R0), 6u);
  EXPECT_TRUE(session.Reg(CPSR) & 0x20);
  char state[8] = {};
  session.t->gdi_get_cpu_state(state);
  EXPECT_STREQ(state, "THUMB");
  status = session.RunToHalt();
  EXPECT_EQ(status.breakpoint, b);
  EXPECT_EQ(session.Reg(R0), 7u);
  ASSERT_EQ(session.t->gdi_step(0), 0);
  EXPECT_EQ(session.Reg(PC), kRam + 0x110);
  EXPECT_EQ(session.Reg(R0), 8u);

  // A write over a pattern changes the saved instruction, which the clear
  // puts back.
  session.ProgramThumb(kRam + 0x10E, {0x3002});  // ADDS r0,#2
  ASSERT_EQ(session.t->gdi_clear_breakpoint(b), 0);
  ASSERT_EQ(session.t->gdi_clear_breakpoint(a), 0);
  session.SetReg(PC, kRam + 0x108);  // the core stays in THUMB state
  const uint32_t end = session.Breakpoint(kRam + 0x112, GDI_BP_HARDWARE);
  status = session.RunToHalt();
  EXPECT_EQ(status.breakpoint, end);
  EXPECT_EQ(session.Reg(R0), 5u + 1 + 1 + 2 + 1);
}

TEST_P(ModuleBoard, BreakpointKindsAndUnits) {
  uint32_t kind = 9;
  session.Breakpoint(0x100, GDI_BP_AUTOMATIC, GDI_BP_EXECUTE, 0, &kind);
  EXPECT_EQ(kind, 0u) << "flash takes a hardware breakpoint";
  EXPECT_EQ(session.Read(0x100, 4, 4), session.Read(0x100, 4, 1));
  session.Breakpoint(0x200, GDI_BP_HARDWARE);
  messages.clear();
  session.Breakpoint(0x300, GDI_BP_HARDWARE, GDI_BP_EXECUTE, 4);
  EXPECT_EQ(messages, (std::vector<std::string>{"Warning: too many breakpoints.\n"}));
  session.Breakpoint(0x302, GDI_BP_HARDWARE, GDI_BP_EXECUTE, 4);
  EXPECT_EQ(session.t->gdi_clear_all_breakpoints(), 0);
  session.Breakpoint(0x301, GDI_BP_HARDWARE, GDI_BP_EXECUTE, 2);
}

TEST_P(ModuleBoard, WatchpointsStopOnTheirAccess) {
  // MOV r1,#0x77; STR r1,[r0]; B .
  session.Program(kRam, {0xE3A01077, 0xE5801000, 0xEAFFFFFE});
  session.SetReg(PC, kRam);
  session.SetReg(R0, kRam + 0x800);
  session.Breakpoint(kRam + 0x800, GDI_BP_HARDWARE, GDI_BP_WATCH_WRITE);
  const TargetStatus status = session.RunToHalt();
  EXPECT_EQ(status.state, 8u);
  EXPECT_EQ(session.Read(kRam + 0x800, 4, 4)[big ? 3 : 0], 0x77);
}

TEST_P(ModuleBoard, RegistersOfEveryModeByName) {
  // From supervisor mode: into IRQ mode, set SP, LR, SPSR; into FIQ mode,
  // store SP and R8 there; back to supervisor; B .
  session.Program(kRam, {
      0xE321F0D2,  // MSR CPSR_c,#0xD2 (IRQ)
      0xE3A0DA05,  // MOV sp,#0x5000
      0xE3A0EA06,  // MOV lr,#0x6000
      0xE361F01F,  // MSR SPSR_c,#0x1F
      0xE321F0D1,  // MSR CPSR_c,#0xD1 (FIQ)
      0xE580D000,  // STR sp,[r0]
      0xE5808004,  // STR r8,[r0,#4]
      0xE321F0D3,  // MSR CPSR_c,#0xD3 (SVC)
      0xEAFFFFFE,  // B .
  });
  ASSERT_EQ(session.t->gdi_reset(), 0);
  EXPECT_EQ(session.Reg(CPSR) & 0x1F, 0x13u);
  session.SetReg(PC, kRam);
  session.SetReg(R0, kRam + 0x800);
  session.SetReg(SP_fiq, 0x7000);
  session.SetReg(R8_fiq, 0x88);
  session.SetReg(R8, 0x1234);
  session.SetReg(SP_svc, 0x9000);
  session.Breakpoint(kRam + 32, GDI_BP_HARDWARE);
  ASSERT_EQ(session.RunToHalt().state, 4u);
  EXPECT_EQ(session.Reg(CPSR) & 0x1F, 0x13u);
  EXPECT_EQ(session.Reg(SP_irq), 0x5000u);
  EXPECT_EQ(session.Reg(LR_irq), 0x6000u);
  EXPECT_EQ(session.Reg(SPSR_irq) & 0xFF, 0x1Fu);
  EXPECT_EQ(session.Reg(SP), 0x9000u) << "SP names the current mode's";
  EXPECT_EQ(session.Reg(R8), 0x1234u);
  const auto stored = session.Read(kRam + 0x800, 8, 4);
  const auto word = [&](int k) {
    uint32_t v = 0;
    for (int i = 0; i < 4; ++i) v |= uint32_t(stored[k * 4 + i]) << (8 * (big ? 3 - i : i));
    return v;
  };
  EXPECT_EQ(word(0), 0x7000u);
  EXPECT_EQ(word(1), 0x88u);
}

TEST_P(ModuleBoard, ResetCatchesTheCoreAtTheResetVector) {
  session.SetReg(PC, kRam);
  ASSERT_EQ(session.t->gdi_reset(), 0);
  EXPECT_EQ(session.Reg(PC), 0u);
  EXPECT_EQ(session.Reg(CPSR) & 0x3F, 0x13u);
}

#if ROMSMITH_BOARD_HAS_ARM9
INSTANTIATE_TEST_SUITE_P(Arm9, ModuleBoard,
                         ::testing::Combine(::testing::ValuesIn(modules_test::ModulesOn(true)),
                                            ::testing::Bool()),
                         CaseName);
#endif
INSTANTIATE_TEST_SUITE_P(Arm7, ModuleBoard,
                         ::testing::Combine(::testing::ValuesIn(modules_test::ModulesOn(false)),
                                            ::testing::Bool()),
                         CaseName);

TEST_P(ModuleConnect, AHaltedCoreAtConnectIsReportedAndStaysNeverRun) {
  BoardFiles files(module, false, "");
  messages.clear();
  // The test keeps the board alive between the two binds.
  platform::SharedLibrary keep;
  ASSERT_TRUE(keep.Open(std::string(ROMSMITH_STAGE_DIR) + "/ports/simboard/portcall.so"));
  {
    Session first;
    ASSERT_TRUE(first.Bind(module, false));
    ASSERT_EQ(first.t->gdi_stop(), 0);
  }
  messages.clear();
  Session second;
  ASSERT_TRUE(second.Bind(module, false));
  EXPECT_TRUE(Has("Info: CPU was in debug state before connect, register values may be incorrect.\n"));
  TargetStatus status{};
  ASSERT_EQ(second.t->gdi_get_status(&status), 0);
  EXPECT_EQ(status.state, 1024u);
}

TEST_P(ModuleConnect, APulledCableLeavesNoTargetToFind) {
  BoardFiles files(module, false, "TdoStuck=1");
  Session session;
  EXPECT_FALSE(session.Bind(module, false, 7));
  EXPECT_EQ(messages, (std::vector<std::string>{module.cpu_not_found}));
}

// The example board the program directory ships for the module's wiring
// and core family answers the module as it stands (its flash image made in a
// directory of the case's own).
TEST_P(ModuleConnect, TheShippedExampleBoardForItsWiringAnswers) {
  const std::string probe = module.probe;
  const std::string name = std::string(module.arm9 ? "board-arm9" : "board") +
                           (probe == "emulator" ? "" : "-" + probe) + ".ini";
  const fs::path dir = fs::temp_directory_path() / ("module_example_" + std::to_string(::getpid()));
  fs::create_directories(dir);
  fs::copy_file(fs::path(ROMSMITH_STAGE_DIR) / "ports/simboard" / name, dir / "board.ini",
                fs::copy_options::overwrite_existing);
  ::setenv("ROMSMITH_BOARD", (dir / "board.ini").c_str(), 1);
  {
    Session session;
    EXPECT_TRUE(session.Bind(module, false)) << name;
    EXPECT_TRUE(Has(IdLine(module))) << name;
  }
  std::error_code ignored;
  fs::remove_all(dir, ignored);
}

// Nothing at the port the host names: the board's probe sits on LPT2. The
// cable cannot tell; it finds no target instead.
TEST_P(ModuleConnect, NoProbeAtThePortFailsWithTheModulesOwnLine) {
  BoardFiles files(module, false, "", "$278");
  Session session;
  EXPECT_FALSE(session.Bind(module, false, 7));
  EXPECT_EQ(messages, (std::vector<std::string>{module.probe_not_found ? module.probe_not_found
                                                                        : module.cpu_not_found}));
}

TEST_P(ModuleConnect, ACoreThatNeverHaltsFailsTheStop) {
  BoardFiles files(module, false, "NeverHalt=1");
  Session session;
  ASSERT_TRUE(session.Bind(module, false));
  EXPECT_EQ(session.t->gdi_stop(), 5);
  EXPECT_TRUE(Has("Debug: Waiting for stop " + std::to_string(HaltPolls(module)) + " times.\n"));
  EXPECT_TRUE(Has("Debug: Debug request failed!!\n"));
}

}  // namespace

namespace {

TEST_P(ModuleConnect, AThumbCoreThatHaltedOnItsOwnIsReadInThumbStateAtConnect) {
  BoardFiles files(module, false, "");
  messages.clear();
  platform::SharedLibrary keep;
  ASSERT_TRUE(keep.Open(std::string(ROMSMITH_STAGE_DIR) + "/ports/simboard/portcall.so"));
  {
    Session first;
    ASSERT_TRUE(first.Bind(module, false));
    ASSERT_EQ(first.t->gdi_stop(), 0);
    // ADD r1,pc,#1; BX r1; THUMB: MOVS r0,#9; B .
    first.Program(kRam, {0xE28F1001, 0xE12FFF11});
    first.ProgramThumb(kRam + 8, {0x2009, 0xE7FE});
    first.SetReg(PC, kRam);
    first.Breakpoint(kRam + 10, GDI_BP_HARDWARE);
    // The core halts at the breakpoint with nobody reading its registers.
    ASSERT_EQ(first.t->gdi_run(), 0);
  }
  Session second;
  ASSERT_TRUE(second.Bind(module, false));
  EXPECT_TRUE(Has("Info: CPU was in debug state before connect, register values may be incorrect.\n"));
  EXPECT_EQ(second.Reg(PC), kRam + 10);
  EXPECT_EQ(second.Reg(R0), 9u);
  char state[8] = {};
  second.t->gdi_get_cpu_state(state);
  EXPECT_STREQ(state, "THUMB");
}

INSTANTIATE_TEST_SUITE_P(Arm7, ModuleConnect, ::testing::ValuesIn(modules_test::ModulesOn(false)),
                         [](const auto& info) { return std::string(info.param.name); });
#if ROMSMITH_BOARD_HAS_ARM9
INSTANTIATE_TEST_SUITE_P(Arm9, ModuleConnect, ::testing::ValuesIn(modules_test::ModulesOn(true)),
                         [](const auto& info) { return std::string(info.param.name); });
#endif

}  // namespace
