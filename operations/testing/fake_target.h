// An in-process target for the Workbench tests: RAM, a NOR flash array or a
// NAND array behind the access wrappers, and a loader that does the work a
// correct loader would do when the target runs from the loader's entry.
// Switches make any wrapper fail, a run never end, or a verify fail; every
// loader run's parameter block is kept.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "reporting/message_log.h"
#include "operations/target_link.h"

namespace romsmith::testing {

class FakeTarget : public TargetLink {
 public:
  struct Geometry {
    std::uint32_t ram_address = 0x0C000000;
    std::uint32_t ram_size = 0x10000;
    std::uint32_t flash_address = 0;
    std::vector<std::uint32_t> block_sizes;  // bytes of the whole bus per sector/block
    bool nand = false;                       // loader works with the second family layout
    bool little_endian = true;
  };

  // One loader run as the loader saw it.
  struct Run {
    std::vector<std::uint8_t> params;  // the 100-byte block
    std::vector<std::uint8_t> data;    // the data behind it (length word)
  };

  FakeTarget(MessageLog& log, Geometry geometry);

  // --- switches
  // The wrapper `name` ("bind", "write", "read", "fill", "dump", "pc", "run",
  // "stop", "reset", "status", "breakpoint", "clear") succeeds `after` more
  // times and then fails.
  void FailAfter(const std::string& name, int after);
  void set_never_halt(bool on) { never_halt_ = on; }
  void set_verify_fails(bool on) { verify_fails_ = on; }
  // The wrapper `name` ("bind", "stop" or "reset") waits as a driver does on
  // a core or probe that never answers, until CancelWaits (then it fails,
  // reporting nothing, as a cancelled wait does) or 10 s have passed.
  void HangUntilCancelled(const std::string& name) { hang_ = name; }
  bool cancelled() const { return cancelled_.load(); }
  void set_dump_delay_ms(int ms) { dump_delay_ms_ = ms; }
  void set_device_code(std::uint32_t code) { device_code_ = code; }
  void MarkBad(std::uint32_t block) { bad_blocks_.insert(block); }
  // A RAM word that does not keep what is written (a failing RAM test).
  void set_broken_ram_word(std::uint32_t address) { broken_ram_word_ = address; }

  // --- state
  std::vector<std::uint8_t>& flash() { return flash_; }
  std::uint32_t FlashOffset(std::uint32_t block) const;
  std::vector<Run> runs() const;
  int calls(const std::string& name) const;
  bool bound() const;
  bool running() const;
  int binds() const { return binds_; }
  // Values written with WriteMemory outside RAM and flash (peripheral registers).
  std::map<std::uint32_t, std::uint32_t> registers_written() const;
  void SetRegister(std::uint32_t address, std::uint32_t value);
  std::uint32_t ReadRamWord(std::uint32_t address) const;

  // --- TargetLink
  bool BindDriver() override;
  void UnbindDriver() override;
  bool WriteMemory(std::uint32_t address, std::uint32_t value, std::uint32_t size) override;
  bool ReadMemory(std::uint32_t address, std::uint32_t* value, std::uint32_t size) override;
  bool FillMemory(std::uint32_t address, const std::uint8_t* bytes, std::uint32_t count,
                  std::uint32_t width) override;
  bool DumpMemory(std::uint32_t address, std::uint8_t* bytes, std::uint32_t count,
                  std::uint32_t width) override;
  bool SetPC(std::uint32_t value) override;
  bool RunTarget() override;
  bool StopTarget() override;
  bool ResetTarget() override;
  bool GetTargetStatus(bool* running) override;
  bool SetBreakpoint(std::uint32_t address, std::uint32_t* number) override;
  bool ClearAllBreakpoints() override;
  void CancelWaits() override;

 private:
  // False when `name` hangs and was cancelled.
  bool WaitUnlessHung(const std::string& name);
  bool Pass(const std::string& name);  // counts the call; false when it must fail
  std::uint8_t* Byte(std::uint32_t address);
  std::uint32_t Word(const std::uint8_t* at) const;
  void PutWord(std::uint8_t* at, std::uint32_t value) const;
  void RunLoader();
  std::int64_t BlockAt(std::uint32_t offset) const;

  MessageLog& log_;
  Geometry geometry_;
  mutable std::mutex mutex_;
  std::vector<std::uint8_t> ram_;
  std::vector<std::uint8_t> flash_;
  std::map<std::uint32_t, std::uint8_t> other_;
  std::map<std::string, int> fail_after_;
  std::map<std::string, int> calls_;
  std::set<std::uint32_t> bad_blocks_;
  std::vector<Run> runs_;
  std::uint32_t pc_ = 0;
  std::set<std::uint32_t> breakpoints_;
  bool bound_ = false;
  bool running_ = false;
  bool never_halt_ = false;
  bool verify_fails_ = false;
  int dump_delay_ms_ = 0;
  int binds_ = 0;
  std::uint32_t device_code_ = 0;
  std::int64_t broken_ram_word_ = -1;
  std::string hang_;
  std::atomic<bool> cancelled_{false};
  std::mutex cancel_mutex_;
  std::condition_variable cancel_changed_;
};

}  // namespace romsmith::testing
