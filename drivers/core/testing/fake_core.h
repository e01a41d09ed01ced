// A core access for breakpoint and command-layer tests: target memory as a
// byte map with writable and read-only regions, the EmbeddedICE registers as
// an array, and a log of every operation. Loads and stores assemble values in
// the target's byte order the way the core's bus does.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "drivers/core/core_access.h"
#include "drivers/core/driver_state.h"

namespace drivers::testing {

class FakeCore : public CoreAccess {
 public:
  explicit FakeCore(DriverState* state) : state_(state) {}

  bool ReadDebugStatus(std::uint32_t* status) override {
    if (status_failures > 0) {
      --status_failures;
      return false;
    }
    if (!status_script.empty()) {
      *status = status_script.front();
      status_script.erase(status_script.begin());
      return true;
    }
    *status = (halted ? kDebugAck : 0) | (thumb ? kDebugThumb : 0);
    return true;
  }
  bool ReadIce(int address, std::uint32_t* value) override {
    *value = ice[address];
    return true;
  }
  bool WriteIce(int address, std::uint32_t value) override {
    if (fail_ice_writes) return false;
    ice[address] = value;
    log.push_back("ice " + std::to_string(address) + "=" + Hex(value));
    return true;
  }
  std::uint32_t ReadIdcode() override { return idcode; }
  bool ReadRegisters() override {
    log.push_back("read registers");
    return registers_ok;
  }
  bool LoadBank(int index) override {
    log.push_back(std::string("load bank ") + state_->modes[static_cast<std::size_t>(index)].suffix);
    state_->modes[static_cast<std::size_t>(index)].loaded = true;
    return true;
  }
  bool Resume() override {
    log.push_back("resume");
    halted = false;
    return true;
  }
  int Halt() override {
    if (halted) return kWasHalted;
    halted = true;
    log.push_back("halt");
    return kHalted;
  }
  bool SingleStep() override {
    log.push_back("step");
    return halted;
  }
  bool ResetAndCatch() override {
    log.push_back("reset");
    return true;
  }

  bool Load(std::uint32_t address, int width, std::uint32_t* value, bool check) override {
    if (check && !halted) return false;
    ++loads;
    log.push_back("load" + std::to_string(width) + " " + Hex(address));
    *value = Get(address, width);
    return true;
  }
  bool Store(std::uint32_t address, int width, std::uint32_t value, bool check) override {
    if (check && !halted) return false;
    if (fail_stores) return false;
    ++stores;
    log.push_back("store" + std::to_string(width) + " " + Hex(address) + "=" + Hex(value));
    Put(address, width, value);
    return true;
  }
  bool BlockLoad(std::uint32_t address, std::uint32_t* words, int count, bool check) override {
    if (count % 8 || (check && !halted)) return false;
    block_loads += count / 8;
    log.push_back("block load " + Hex(address) + " x" + std::to_string(count));
    for (int k = 0; k < count; ++k) words[k] = Get(address + 4u * static_cast<std::uint32_t>(k), 4);
    return true;
  }
  bool BlockStore(std::uint32_t address, const std::uint32_t* words, int count,
                  bool check) override {
    if (count % 12 || (check && !halted)) return false;
    block_stores += count / 12;
    log.push_back("block store " + Hex(address) + " x" + std::to_string(count));
    for (int k = 0; k < count; ++k) Put(address + 4u * static_cast<std::uint32_t>(k), 4, words[k]);
    return true;
  }

  // Memory as the target holds it, byte by byte.
  std::uint8_t Byte(std::uint32_t address) const {
    auto it = memory.find(address);
    return it == memory.end() ? 0 : it->second;
  }
  void SetByte(std::uint32_t address, std::uint8_t value) { memory[address] = value; }
  std::uint32_t Get(std::uint32_t address, int width) const {
    std::uint32_t value = 0;
    for (int k = 0; k < width; ++k) {
      const int lane = state_->big_endian() ? width - 1 - k : k;
      value |= static_cast<std::uint32_t>(Byte(address + static_cast<std::uint32_t>(k))) << (8 * lane);
    }
    return value;
  }
  void Put(std::uint32_t address, int width, std::uint32_t value) {
    for (int k = 0; k < width; ++k) {
      const std::uint32_t a = address + static_cast<std::uint32_t>(k);
      if (a >= read_only_from && a < read_only_to) continue;  // flash ignores plain writes
      const int lane = state_->big_endian() ? width - 1 - k : k;
      memory[a] = static_cast<std::uint8_t>(value >> (8 * lane));
    }
  }
  static std::string Hex(std::uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "%X", value);
    return text;
  }
  void ClearCounts() {
    log.clear();
    loads = stores = block_loads = block_stores = 0;
  }

  DriverState* state_;
  bool halted = true;
  bool thumb = false;
  int status_failures = 0;
  std::vector<std::uint32_t> status_script;
  bool registers_ok = true;
  bool fail_ice_writes = false;
  bool fail_stores = false;
  std::uint32_t idcode = 0x1F0F0F0F;
  std::uint32_t ice[32] = {};
  std::map<std::uint32_t, std::uint8_t> memory;
  std::uint32_t read_only_from = 0, read_only_to = 0;
  std::vector<std::string> log;
  int loads = 0, stores = 0, block_loads = 0, block_stores = 0;
};

}  // namespace drivers::testing
