// The Workbench's target link over the driver host: the Workbench's command
// frame binds and unbinds, its bodies call the wrappers.
#pragma once

#include "driver_host/driver_binding.h"
#include "operations/target_link.h"
#include "operations/workbench.h"

namespace romsmith {

class BindingLink : public TargetLink {
 public:
  // Reads the Workbench's settings and configuration at every call; the
  // Workbench must outlive the link (it owns it).
  explicit BindingLink(Workbench& workbench)
      : binding_(workbench.log(), workbench.settings(), workbench.config()) {}

  bool BindDriver() override {
    // The settings were reloaded when the command was entered.
    binding_.RecomputeConnection();
    return binding_.BindDriver();
  }
  void UnbindDriver() override { binding_.UnbindDriver(); }

  bool WriteMemory(std::uint32_t address, std::uint32_t value, std::uint32_t size) override {
    return binding_.WriteMemory(address, value, size);
  }
  bool ReadMemory(std::uint32_t address, std::uint32_t* value, std::uint32_t size) override {
    return binding_.ReadMemory(address, value, size);
  }
  bool FillMemory(std::uint32_t address, const std::uint8_t* bytes, std::uint32_t count,
                  std::uint32_t width) override {
    return binding_.FillMemory(address, bytes, count, width);
  }
  bool DumpMemory(std::uint32_t address, std::uint8_t* bytes, std::uint32_t count,
                  std::uint32_t width) override {
    return binding_.DumpMemory(address, bytes, count, width);
  }
  bool SetPC(std::uint32_t value) override { return binding_.SetPC(value); }
  bool RunTarget() override { return binding_.RunTarget(); }
  bool StopTarget() override { return binding_.StopTarget(); }
  bool ResetTarget() override { return binding_.ResetTarget(); }
  bool GetTargetStatus(bool* running) override { return binding_.GetTargetStatus(running); }
  bool SetBreakpoint(std::uint32_t address, std::uint32_t* number) override {
    return binding_.SetBreakpoint(address, number);
  }
  bool ClearAllBreakpoints() override { return binding_.ClearAllBreakpoints(); }

 private:
  DriverBinding binding_;
};

}  // namespace romsmith
