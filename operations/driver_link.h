// The TargetLink of the program: the driver module named in the settings,
// bound through the driver host around every command.
#pragma once

#include <memory>

#include "driver_host/driver_binding.h"
#include "operations/target_link.h"

namespace romsmith {

class DriverLink : public TargetLink {
 public:
  explicit DriverLink(MessageLog& log) : log_(log) {}

  // The binding of the command prepared last (nullptr before the first).
  DriverBinding* binding() { return binding_.get(); }

  // A binding over the command's own settings and configuration, so nothing
  // the owner changes while the command runs reaches the driver.
  void PrepareCommand(const ProgramSettings& settings, const TargetConfig& target) override {
    binding_.reset();
    binding_ = std::make_unique<DriverBinding>(log_, settings, target);
    binding_->RecomputeConnection();
  }
  bool BindDriver() override {
    if (!binding_) {
      log_.Error("Error: unable to load emulator module.\n");
      return false;
    }
    return binding_->BindDriver();
  }
  void UnbindDriver() override {
    if (binding_) binding_->UnbindDriver();
  }
  void CancelWaits() override {
    if (binding_) binding_->CancelWaits();
  }
  std::string CoreMismatchLine() const override {
    return binding_ ? binding_->CoreMismatchLine() : std::string();
  }
  // The wrappers run only between a successful BindDriver and UnbindDriver,
  // so a binding exists.
  bool WriteMemory(std::uint32_t address, std::uint32_t value, std::uint32_t size) override {
    return binding_->WriteMemory(address, value, size);
  }
  bool ReadMemory(std::uint32_t address, std::uint32_t* value, std::uint32_t size) override {
    return binding_->ReadMemory(address, value, size);
  }
  bool FillMemory(std::uint32_t address, const std::uint8_t* bytes, std::uint32_t count,
                  std::uint32_t width) override {
    return binding_->FillMemory(address, bytes, count, width);
  }
  bool DumpMemory(std::uint32_t address, std::uint8_t* bytes, std::uint32_t count,
                  std::uint32_t width) override {
    return binding_->DumpMemory(address, bytes, count, width);
  }
  bool SetPC(std::uint32_t value) override { return binding_->SetPC(value); }
  bool RunTarget() override { return binding_->RunTarget(); }
  bool StopTarget() override { return binding_->StopTarget(); }
  bool ResetTarget() override { return binding_->ResetTarget(); }
  bool GetTargetStatus(bool* running) override { return binding_->GetTargetStatus(running); }
  bool SetBreakpoint(std::uint32_t address, std::uint32_t* number) override {
    return binding_->SetBreakpoint(address, number);
  }
  bool ClearAllBreakpoints() override { return binding_->ClearAllBreakpoints(); }
  CommsAnswer WriteComms(const std::uint32_t* words, std::uint32_t count, std::uint32_t check_every,
                         CommsWrite* out) override {
    CommsResult result{};
    const int answer = binding_->WriteComms(words, count, check_every, &result);
    *out = {result.written, result.status_read != 0, result.status};
    if (answer == GDI_NOT_SUPPORTED) return CommsAnswer::kNotSupported;
    return answer == GDI_OK ? CommsAnswer::kDone : CommsAnswer::kFailed;
  }

 private:
  MessageLog& log_;
  std::unique_ptr<DriverBinding> binding_;
};

}  // namespace romsmith
