// The module-wide state of one driver module: one probe, one target.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "drivers/core/messages.h"
#include "drivers/transport/jtag.h"

namespace drivers {

// Stop causes, as kept and as the status slot reports them.
enum StopCause : int {
  kRunning = 0,
  kHaltedStep = 1,
  kHaltedBreakpoint = 4,
  kHaltedWatchpoint = 8,
  kHaltedStop = 128,
  kRunIssued = 512,
  kNeverRun = 1024,
};

// Words of the register file: R0-R7 shared; R8-R12, R13, R14 of user and
// system mode; PC; CPSR; then the banks of FIQ (R8-R14, SPSR), supervisor,
// abort, IRQ and undefined (R13, R14, SPSR each).
inline constexpr int kRegisterFileSize = 37;
inline constexpr int kPcIndex = 15;
inline constexpr int kCpsrIndex = 16;

inline constexpr std::uint32_t kModeUser = 0x10;
inline constexpr std::uint32_t kModeFiq = 0x11;
inline constexpr std::uint32_t kModeIrq = 0x12;
inline constexpr std::uint32_t kModeSupervisor = 0x13;
inline constexpr std::uint32_t kModeAbort = 0x17;
inline constexpr std::uint32_t kModeUndefined = 0x1B;
inline constexpr std::uint32_t kModeSystem = 0x1F;

// One banked mode: how to switch to it, store and load its bank, and where
// the bank lives in the register file.
struct ModeRecord {
  const char* suffix;
  std::uint32_t mode;
  bool loaded;
  std::uint32_t set_mode;     // ORR r0,r0,#mode
  std::uint32_t store_bank;   // STMDA r0,{banked registers}
  std::uint32_t load_bank;    // LDMIA r1,{banked registers}
  std::uint32_t load_shared;  // LDMIA r0,{the registers no bank holds}
  int count;                  // banked registers (R(15 - count) .. R14)
  int first;                  // register-file index of the first one
  int spsr;                   // register-file index of the SPSR, -1: none
};

std::array<ModeRecord, 6> InitialModeRecords();

// The mode bits with system mode counted as user mode.
inline std::uint32_t BankMode(std::uint32_t cpsr) {
  const std::uint32_t mode = cpsr & 0x1F;
  return mode == kModeSystem ? kModeUser : mode;
}

// One entry of the breakpoint table. The first six words are the record the
// set slot hands back to the host.
struct BreakpointSlot {
  std::uint32_t number = 0;  // 0: free; else index + 1
  std::uint32_t flags = 0;
  std::uint32_t spare = 0;
  std::uint32_t address = 0;
  std::uint32_t condition = 0;
  std::uint32_t kind = 0;  // 0 hardware, 1 software (resolved)
  int unit = 0;
  // software: 1 = 16-bit entry, 0 = whole word; hardware execution: 1;
  // watchpoint: access code 0 read, 1 write, 2 either.
  int width = 0;
  std::uint32_t saved = 0;  // software: the bytes the pattern replaced
};

inline constexpr int kBreakpointTableSize = 255;
inline constexpr int kRegisterGroupCount = 255;

struct RegisterName {
  char name[16] = {};
  std::uint32_t key = 0;
  bool supported = false;
};

struct MemorySpace {
  std::string name;
  std::uint32_t id = 0;
  bool supported = false;
};

struct RegisterGroup {
  bool used = false;
  std::vector<std::int32_t> keys;
};

struct DriverState {
  int byte_order = 2;  // 1 big-endian, any other value little-endian
  int delay_factor = 0;
  int speed_code = 0;
  std::uint16_t port_base = 0x378;
  int ir_length = 4;
  int stop_cause = kNeverRun;
  int thumb = 0;
  std::uint32_t regs[kRegisterFileSize] = {};
  int entered_by_debug_request = 0;
  int watchpoint_hit = 0;
  std::uint32_t saved_pc = 0;
  // 2 when the last register read left THUMB state by BX pc from a halfword
  // that is not word aligned: the core's PC then lost bit 1.
  std::uint32_t pc_alignment_loss = 0;
  int cycle_counter = 0;
  int debug_request_counter = 0;
  // Block loads of 14 words per system-speed access instead of 8 (the
  // "FastRead" option); off unless the host asks for it.
  bool wide_block_loads = false;
  std::array<ModeRecord, 6> modes = InitialModeRecords();
  std::vector<BreakpointSlot> breakpoints;  // 255 entries once opened
  std::vector<RegisterName> registers;
  std::vector<MemorySpace> memory_spaces;
  std::array<RegisterGroup, kRegisterGroupCount> groups;
  Messenger messenger;
  // Set by the cancel slot, from any thread; cleared by open. Every wait
  // gives up while it is set.
  std::atomic<bool> waits_cancelled{false};
  bool WaitsCancelled() const { return waits_cancelled.load(std::memory_order_relaxed); }

  bool big_endian() const { return byte_order == 1; }
};

}  // namespace drivers
