// romsmith-simboard as a user runs it: small programs assembled with the
// cross binutils, run with --exec, judged by their output, the register dump,
// the exit status and the flash image they leave behind.
#include <sys/wait.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "simboard/tests/arm_test_support.h"
#include "simboard/tests/board_test_support.h"

namespace simboard {
namespace {

using testing::Assemble;
using testing::AssemblerAvailable;
using testing::FreshDirectory;

struct ToolRun {
  int status = -1;
  std::string out;
  std::string err;
};

std::string ReadText(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

ToolRun RunTool(const std::filesystem::path& dir, const std::string& arguments) {
  std::string command = std::string("'") + ROMSMITH_STAGE_DIR + "/romsmith-simboard' " + arguments +
                        " >'" + (dir / "out.txt").string() + "' 2>'" + (dir / "err.txt").string() + "'";
  int raw = std::system(command.c_str());
  ToolRun run;
  run.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  run.out = ReadText(dir / "out.txt");
  run.err = ReadText(dir / "err.txt");
  return run;
}

std::string BoardFile(const std::filesystem::path& dir, const std::string& endian,
                      const std::string& extra = "") {
  std::ofstream out(dir / "board.ini");
  out << "[Board]\nCore=ARM7TDMI\nEndian=" << endian
      << "\nClockKHz=20000\nRunBudget=10000000\n\n"
         "[Region1]\nKind=RAM\nBase=$0C000000\nSize=$00100000\n\n"
         "[Region2]\nKind=NOR\nBase=$00000000\nCommandSet=AMD\nManufacturerId=$01\n"
         "DeviceId=$2249\nWidth=16\nChips=1\nSectors=16K,8K,8K,32K,31*64K\nImage=flash0.bin\n"
         "ProgramTimeUs=10\nSectorEraseTimeMs=2\nChipEraseTimeMs=20\n"
      << extra;
  return "--board '" + (dir / "board.ini").string() + "'";
}

std::string WriteProgram(const std::filesystem::path& dir, const std::string& source, ByteOrder order,
                         std::uint32_t origin = 0x0C000000) {
  auto bytes = Assemble(source, order, origin);
  std::ofstream out(dir / "program.bin", std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  return (dir / "program.bin").string();
}

// The value of one "NAME=0x..." line of the register dump.
std::string Register(const std::string& out, const std::string& name) {
  std::size_t at = out.find("\n" + name + "=");
  if (at == std::string::npos) return "";
  std::size_t start = at + name.size() + 2;
  return out.substr(start, out.find('\n', start) - start);
}

const char kHello[] = R"(
_start:
    adr   r1, message
    mov   r0, #4            @ SYS_WRITE0
    svc   0x123456
    adr   r1, bang
    mov   r0, #3            @ SYS_WRITEC
    svc   0x123456
    mov   r4, #42
    mov   r0, #0x18         @ SYS_EXIT
    ldr   r1, =0x20026
    svc   0x123456
message:
    .asciz "hello, world\n"
bang:
    .byte '!'
    .align 2
    .ltorg
)";

class SimboardTool : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!AssemblerAvailable()) GTEST_SKIP() << "arm-none-eabi-as is not installed";
    dir_ = FreshDirectory();
  }
  std::filesystem::path dir_;
};

TEST_F(SimboardTool, HelloPrintsThroughSemihostingAndDumpsRegisters) {
  for (auto order : {ByteOrder::Little, ByteOrder::Big}) {
    std::string board = BoardFile(dir_, order == ByteOrder::Big ? "Big" : "Little");
    std::string image = WriteProgram(dir_, kHello, order);
    ToolRun run = RunTool(dir_, board + " --exec '" + image + "@0x0C000000'");
    EXPECT_EQ(run.status, 0) << run.err;
    ASSERT_EQ(run.out.rfind("hello, world\n!R0=0x00000018\nR1=0x00020026\n", 0), 0u) << run.out;
    EXPECT_EQ(Register(run.out, "R4"), "0x0000002A");
    // Supervisor mode, ARM state, interrupts off, as reset left it.
    EXPECT_EQ(Register(run.out, "CPSR"), "0x000000D3");
    std::size_t lines = 0;
    for (char c : run.out) lines += c == '\n';
    EXPECT_EQ(lines, 18u);  // the text's one line, R0..R15 and CPSR
    EXPECT_NE(run.out.find("\nR15=0x0C0000"), std::string::npos);
  }
}

TEST_F(SimboardTool, ThumbInterworkingRunsBothStates) {
  std::string board = BoardFile(dir_, "Little");
  std::string image = WriteProgram(dir_, R"(
_start:
    adr   r0, thumb_code + 1
    bx    r0
    .thumb
    .thumb_func
thumb_code:
    movs  r5, #7
    lsls  r5, r5, #4
    adds  r5, #3
    adr   r1, text
    movs  r0, #4
    svc   0xAB
    bl    thumb_sub
    ldr   r0, =arm_back
    bx    r0
thumb_sub:
    adds  r5, r5, #1
    bx    lr
    .align 2
text:
    .asciz "thumb\n"
    .align 2
    .ltorg
    .arm
arm_back:
    mov   r6, pc
    mov   r0, #0x18
    ldr   r1, =0x20026
    svc   0x123456
    .ltorg
)",
                                   ByteOrder::Little);
  ToolRun run = RunTool(dir_, board + " --exec '" + image + "@$0C000000'");
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out.rfind("thumb\n", 0), 0u) << run.out;
  EXPECT_EQ(Register(run.out, "R5"), "0x00000074");
  EXPECT_EQ(Register(run.out, "CPSR"), "0x000000D3");  // back in ARM state
}

TEST_F(SimboardTool, ProgramsAndVerifiesANorSectorThroughTheAmdSequence) {
  std::string board = BoardFile(dir_, "Little");
  std::string image = WriteProgram(dir_, R"(
_start:
    mov   r4, #0                @ flash base
    ldr   r5, =0xAAA            @ 0x555 on the 16-bit bus
    ldr   r6, =0x554            @ 0x2AA
    mov   r7, #0xAA
    mov   r8, #0x55
    ldr   r9, =0x4000           @ sector 1
    mov   r11, #0
    @ sector erase
    strh  r7, [r4, r5]
    strh  r8, [r4, r6]
    mov   r0, #0x80
    strh  r0, [r4, r5]
    strh  r7, [r4, r5]
    strh  r8, [r4, r6]
    mov   r0, #0x30
    strh  r0, [r9]
wait_erase:
    ldrh  r0, [r9]
    tst   r0, #0x80             @ DQ7 reads 1 once the sector holds 0xFF
    bne   program
    tst   r0, #0x20             @ DQ5: time limit exceeded
    beq   wait_erase
    b     fail
program:
    mov   r10, #0
next_word:
    add   r1, r10, r10, lsl #8
    eor   r1, r1, #0x5A
    add   r2, r9, r10, lsl #1
    strh  r7, [r4, r5]
    strh  r8, [r4, r6]
    mov   r0, #0xA0
    strh  r0, [r4, r5]
    strh  r1, [r2]
poll:
    ldrh  r0, [r2]
    eor   r3, r0, r1
    tst   r3, #0x80             @ DQ7 equals the data's bit 7 when done
    beq   programmed
    tst   r0, #0x20
    beq   poll
    ldrh  r0, [r2]
    eor   r3, r0, r1
    tst   r3, #0x80
    bne   fail
programmed:
    add   r10, r10, #1
    cmp   r10, #256
    blt   next_word
    mov   r10, #0
verify:
    add   r1, r10, r10, lsl #8
    eor   r1, r1, #0x5A
    add   r2, r9, r10, lsl #1
    ldrh  r0, [r2]
    cmp   r0, r1
    bne   fail
    add   r10, r10, #1
    cmp   r10, #256
    blt   verify
    ldr   r11, =0x600D
fail:
    mov   r0, #0x18
    ldr   r1, =0x20026
    svc   0x123456
    .ltorg
)",
                                   ByteOrder::Little);
  // Stale data in the sector first, so the erase has work to do.
  {
    std::vector<char> stale(0x200000, '\xFF');
    std::fill(stale.begin() + 0x4000, stale.begin() + 0x6000, '\0');
    std::ofstream out(dir_ / "flash0.bin", std::ios::binary);
    out.write(stale.data(), static_cast<std::streamsize>(stale.size()));
  }
  ToolRun run = RunTool(dir_, board + " --exec '" + image + "@0x0C000000'");
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(Register(run.out, "R11"), "0x0000600D") << run.out;
  std::string flash = ReadText(dir_ / "flash0.bin");
  ASSERT_EQ(flash.size(), 0x200000u);
  for (unsigned i = 0; i < 256; ++i) {
    unsigned value = (i | i << 8) ^ 0x5A;
    ASSERT_EQ(static_cast<std::uint8_t>(flash[0x4000 + 2 * i]), value & 0xFF) << i;
    ASSERT_EQ(static_cast<std::uint8_t>(flash[0x4001 + 2 * i]), value >> 8) << i;
  }
  EXPECT_EQ(static_cast<std::uint8_t>(flash[0x4200]), 0xFF);  // rest of the sector erased
  EXPECT_EQ(static_cast<std::uint8_t>(flash[0x5FFF]), 0xFF);
  EXPECT_EQ(static_cast<std::uint8_t>(flash[0x3FFF]), 0xFF);

  // With the sector's first bit stuck the loader sees DQ5 and gives up.
  BoardFile(dir_, "Little", "[Faults]\nStuckBits=$4000:$0001\n");
  run = RunTool(dir_, board + " --exec '" + image + "@0x0C000000'");
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(Register(run.out, "R11"), "0x00000000") << run.out;
}

TEST_F(SimboardTool, StopsWithStatusOneAtTheLimitOrAnUnhandledException) {
  std::string board = BoardFile(dir_, "Little");
  std::string image = WriteProgram(dir_, "spin: b spin\n", ByteOrder::Little);
  ToolRun run = RunTool(dir_, board + " --exec '" + image + "@0x0C000000' --max-instructions 100");
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.err.find("stopped after 100 instructions"), std::string::npos) << run.err;
  EXPECT_EQ(Register(run.out, "R15"), "0x0C000000");

  image = WriteProgram(dir_, "ldr r0, =0x80000000\nldr r1, [r0]\n.ltorg\n", ByteOrder::Little);
  run = RunTool(dir_, board + " --exec '" + image + "@0x0C000000'");
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.err.find("stopped by the data abort of the instruction at 0x0C000004"), std::string::npos) << run.err;
  EXPECT_EQ(Register(run.out, "R15"), "0x00000010");  // at the abort vector
  EXPECT_EQ(Register(run.out, "CPSR"), "0x000000D7");  // Abort mode

  // A semihosting operation the board does not serve fails with -1; an SWI
  // that is not a semihosting call is the program's own, and it has none.
  image = WriteProgram(dir_, "mov r0, #0x01\nsvc 0x123456\nmov r5, r0\nsvc 0x12\n", ByteOrder::Little);
  run = RunTool(dir_, board + " --exec '" + image + "@0x0C000000'");
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(Register(run.out, "R5"), "0xFFFFFFFF");
  EXPECT_NE(run.err.find("stopped by the SWI of the instruction at 0x0C00000C"), std::string::npos) << run.err;
  EXPECT_EQ(Register(run.out, "R15"), "0x00000008");
}

TEST_F(SimboardTool, InfoAndUsageErrors) {
  std::string board = BoardFile(dir_, "Little");
  ToolRun run = RunTool(dir_, board + " --info");
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_NE(run.out.find("Region2: NOR $00000000-$001FFFFF (2M)"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("1 x AMD chip, 16 bits"), std::string::npos) << run.out;

  run = RunTool(dir_, board);
  EXPECT_EQ(run.status, 2);
  EXPECT_NE(run.err.find("nothing to do"), std::string::npos);
  run = RunTool(dir_, board + " --exec nowhere");
  EXPECT_EQ(run.status, 2);
  EXPECT_NE(run.err.find("--exec wants IMAGE@ADDRESS"), std::string::npos);
  run = RunTool(dir_, board + " --exec 'x@0x0C000000'");
  EXPECT_EQ(run.status, 2);
  EXPECT_NE(run.err.find("cannot read x"), std::string::npos);
  std::string image = WriteProgram(dir_, kHello, ByteOrder::Little);
  run = RunTool(dir_, board + " --exec '" + image + "@0x0C0FFFF0'");
  EXPECT_EQ(run.status, 2);
  EXPECT_NE(run.err.find("does not fit"), std::string::npos);
  BoardFile(dir_, "Little", "[Region3]\nKind=RAM\nBase=$0C080000\nSize=1M\n");
  run = RunTool(dir_, board + " --info");
  EXPECT_EQ(run.status, 2);
  EXPECT_NE(run.err.find("board.ini: [Region3] Base: the region overlaps [Region1]"),
            std::string::npos)
      << run.err;
}

}  // namespace
}  // namespace simboard
