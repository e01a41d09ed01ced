#include "simboard/debug/jtag_side.h"

#include <cinttypes>
#include <cstdio>

#include "simboard/debug/arm7_debug.h"
#include "simboard/debug/arm9_debug.h"

namespace simboard {

namespace {

std::unique_ptr<ArmDebugLogic> MakeDebugLogic(ArmCore& core, Bus& system_bus,
                                              const JtagSettings& settings, CoreRunner* runner) {
  switch (settings.core) {
    case DebugCore::ARM9TDMI:
      return std::make_unique<Arm9DebugLogic>(core, system_bus, settings.debug, runner, false);
    case DebugCore::ARM920T:
      return std::make_unique<Arm9DebugLogic>(core, system_bus, settings.debug, runner, true);
    default: return std::make_unique<Arm7DebugLogic>(core, system_bus, settings.debug, runner);
  }
}

}  // namespace

JtagSide::JtagSide(ArmCore& core, Bus& system_bus, const JtagSettings& settings,
                   CoreRunner* runner, std::function<void(bool)> on_system_reset)
    : settings_(settings),
      debug_(MakeDebugLogic(core, system_bus, settings_, runner)),
      tap_(settings.id_code, debug_.get(),
           settings.core == DebugCore::ARM7TDMI ? kArm7ScanSelect : kArm9ScanSelect),
      port_(std::make_unique<ParallelPort>(settings.port_base, settings.probe, *this,
                                           settings.dead_after_port_accesses)),
      on_system_reset_(std::move(on_system_reset)) {}

JtagSide::~JtagSide() = default;

void JtagSide::SetPins(bool tck, bool tms, bool tdi) {
  if (settings_.debug.real_time) debug_->Poll();
  if (tck && !tck_) debug_->TckCycle();
  tck_ = tck;
  tap_.SetPins(tck, tms, tdi);
}

bool JtagSide::Tdo() { return settings_.tdo_stuck ? true : tap_.Tdo(); }

void JtagSide::SetTestReset(bool asserted) { tap_.SetTestReset(asserted); }

void JtagSide::SetSystemReset(bool asserted) {
  if (on_system_reset_) on_system_reset_(asserted);
  debug_->SetSystemReset(asserted);
}

std::string JtagSide::CounterReport() const {
  const PortCounters& port = port_->Counters();
  const TapCounters& tap = tap_.Counters();
  const DebugCounters& debug = debug_->Counters();
  std::string text;
  char line[96];
  auto add = [&](const char* name, std::uint64_t value) {
    std::snprintf(line, sizeof line, "%s=%" PRIu64 "\n", name, value);
    text += line;
  };
  add("port_reads", port.reads);
  add("port_writes", port.writes);
  add("tck_cycles", tap.tck_cycles);
  add("ir_scans", tap.ir_scans);
  for (unsigned chain = 0; chain < 32; ++chain) {
    if (tap.dr_scans[chain] == 0) continue;
    std::snprintf(line, sizeof line, "chain%u_scans=%" PRIu64 "\n", chain, tap.dr_scans[chain]);
    text += line;
  }
  add("other_dr_scans", tap.other_dr_scans);
  add("debug_instructions", debug.debug_instructions);
  add("system_speed_accesses", debug.system_speed_accesses);
  add("debug_entries", debug.debug_entries);
  add("run_instructions", debug.run_instructions);
  add("comms_overruns", debug.comms_overruns);
  return text;
}

}  // namespace simboard
