// The port side of the virtual board's portcall.so as a driver module sees
// it, for the tests and the benchmark: a private copy of the library loaded
// with dlopen, the emulator probe's pins driven through port writes, and
// ARM7TDMI system-speed memory accesses over them.
#pragma once

#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "platform/shared_library.h"
#include "simboard/debug/arm7_debug.h"
#include "simboard/debug/probe.h"
#include "simboard/tests/jtag_test_support.h"

namespace simboard::testing {

namespace fs = std::filesystem;

constexpr std::uint32_t kPortBase = 0x378;
constexpr std::uint32_t kArmNop = 0xE1A00000;  // MOV r0, r0

inline std::string ReadText(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void WriteText(const fs::path& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary);
  out << text;
}

// A board file of the shipped pair with one [Board] key replaced (or added).
inline std::string ShippedBoard(bool big_endian, const std::string& key = "", const std::string& value = "") {
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
  explicit EmulatorPins(PortLibrary& port) : port_(port) { port_.Write(kPortBase + 2, 0x06); }
  void SetPins(bool tck, bool tms, bool tdi) override {
    port_.Write(kPortBase, static_cast<std::uint8_t>((tck ? 1 : 0) | (tdi ? 2 : 0) | (tms ? 4 : 0)));
  }
  bool Tdo() override { return (port_.Read(kPortBase + 1) & simboard::kStatusTdoInverted) == 0; }
  void SetTestReset(bool) override {}  // the emulator has no TRST line
  void SetSystemReset(bool asserted) override {
    port_.Write(kPortBase + 2, static_cast<std::uint8_t>(0x06 | (asserted ? 1 : 0)));
  }

 private:
  PortLibrary& port_;
};

// ARM7TDMI memory accesses at system speed, the core halted by a debug
// request, all through the port.
class PortDebugger {
 public:
  explicit PortDebugger(PortLibrary& port) : pins_(port), jtag_(pins_) { jtag_.Reset(); }

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
  // A store of `bits` (16 or 32) at system speed, STRH or STR r1, [r0],
  // with r0 and r1 loaded at debug speed.
  bool Write(std::uint32_t address, std::uint32_t value, unsigned bits = 16) {
    if (!jtag_.SelectChain(1)) return false;
    jtag_.Chain1(0xE8900003);  // LDMIA r0, {r0, r1}
    jtag_.Chain1(kArmNop);
    jtag_.Chain1(kArmNop);
    jtag_.Chain1(address);
    jtag_.Chain1(value);
    jtag_.Chain1(kArmNop);
    jtag_.Chain1(kArmNop);
    jtag_.Chain1(kArmNop, true);
    jtag_.Chain1(bits == 32 ? 0xE5801000 : 0xE1C010B0);  // STR / STRH r1, [r0]
    jtag_.Restart();
    return Back();
  }
  // A load of `bits` (16 or 32) at system speed, LDRH or LDR r0, [r0]; r0
  // then leaves through STR at debug speed.
  bool Read(std::uint32_t address, std::uint32_t& value, unsigned bits = 16) {
    if (!jtag_.SelectChain(1)) return false;
    jtag_.Chain1(0xE8900001);  // LDMIA r0, {r0}: loads the address
    jtag_.Chain1(kArmNop);
    jtag_.Chain1(kArmNop);
    jtag_.Chain1(address);
    jtag_.Chain1(kArmNop);
    jtag_.Chain1(kArmNop);
    jtag_.Chain1(kArmNop, true);
    jtag_.Chain1(bits == 32 ? 0xE5900000 : 0xE1D000B0);  // LDR / LDRH r0, [r0]
    jtag_.Restart();
    if (!Back() || !jtag_.SelectChain(1)) return false;
    jtag_.Chain1(0xE5800000);  // STR r0, [r0]
    jtag_.Chain1(kArmNop);
    jtag_.Chain1(kArmNop);
    value = jtag_.Chain1(kArmNop);
    return true;
  }
  // AMD word program: two unlock cycles, the program command, the data;
  // then polls until the location reads the data.
  bool ProgramHalf(std::uint32_t address, std::uint16_t value) {
    if (!Write(0xAAA, 0xAA) || !Write(0x554, 0x55) || !Write(0xAAA, 0xA0) ||
        !Write(address, value))
      return false;
    std::uint32_t read = 0;
    for (int poll = 0; poll < 20; ++poll)
      if (Read(address, read) && read == value) return true;
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

}  // namespace simboard::testing
