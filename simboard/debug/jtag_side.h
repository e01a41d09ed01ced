// What a debugger reaches of the virtual board: the parallel port with its
// probe, the JTAG connector, the TAP and the debug logic of the board's core
// (ARM7TDMI, ARM9TDMI, or ARM920T: an ARM9TDMI with its CP15 on scan chain
// 15), with the JTAG-side faults and the counters.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "simboard/debug/arm_debug.h"
#include "simboard/core/arm_core.h"
#include "simboard/memory/bus.h"
#include "simboard/debug/jtag_tap.h"
#include "simboard/debug/probe.h"

namespace simboard {

enum class DebugCore : std::uint8_t { ARM7TDMI, ARM9TDMI, ARM920T };

struct JtagSettings {
  DebugCore core = DebugCore::ARM7TDMI;
  std::uint32_t id_code = 0x3F0F0F0F;
  ProbeKind probe = ProbeKind::Emulator;
  std::uint32_t port_base = 0x378;
  bool tdo_stuck = false;                   // TDO reads 1, as with the cable pulled
  std::uint64_t dead_after_port_accesses = 0;  // 0: the probe never dies
  DebugSettings debug;
};

class JtagSide : public JtagConnector {
 public:
  // on_system_reset: the rest of the board hears the reset line too (flash
  // chips, peripherals).
  // runner: how the core runs between debug entries (nullptr: the bare core).
  JtagSide(ArmCore& core, Bus& system_bus, const JtagSettings& settings,
           CoreRunner* runner = nullptr, std::function<void(bool asserted)> on_system_reset = {});
  ~JtagSide() override;

  ParallelPort& Port() { return *port_; }
  TapController& Tap() { return tap_; }
  ArmDebugLogic& Debug() { return *debug_; }
  const JtagSettings& Settings() const { return settings_; }

  // JtagConnector
  void SetPins(bool tck, bool tms, bool tdi) override;
  bool Tdo() override;
  void SetTestReset(bool asserted) override;
  void SetSystemReset(bool asserted) override;

  // "name=value" lines: port reads and writes, TCK cycles, scans per chain,
  // debug-state instructions.
  std::string CounterReport() const;

 private:
  JtagSettings settings_;
  std::unique_ptr<ArmDebugLogic> debug_;
  TapController tap_;
  std::unique_ptr<ParallelPort> port_;
  std::function<void(bool)> on_system_reset_;
  bool tck_ = false;
};

}  // namespace simboard
