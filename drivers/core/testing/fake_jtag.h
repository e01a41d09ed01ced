// A JTAG layer for core tests: keeps the IR, the selected scan chain and the
// EmbeddedICE registers, records every chain-1 access, and answers captured
// chain-1 accesses from a script. It knows nothing of the ARM pipeline.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <vector>

#include <gtest/gtest.h>

#include "drivers/transport/jtag.h"

namespace drivers::testing {

struct Chain1Access {
  std::uint32_t word;  // ARM9: the instruction
  bool fast;
  bool capture;
  bool with_data = false;  // ARM9: the 67-bit form
  std::uint32_t data = 0;  // ARM9: the data field of the 67-bit form
};

class FakeJtag : public Jtag {
 public:
  void TapReset() override { ++tap_resets; }

  std::uint32_t IrScan(std::uint32_t instruction) override {
    irs.push_back(instruction);
    ir = instruction;
    if (instruction == 4) {
      ++restarts;
      if (on_restart) on_restart();
    }
    if (fail_after_ir >= 0 && static_cast<int>(irs.size()) > fail_after_ir) return 0xF;
    return broken ? 0xF : 1;
  }

  void DrScan(const std::uint8_t* in, std::uint8_t* out, int bits, bool capture,
              bool to_idle) override {
    if (ir == 2) {
      chain = 0;
      for (int k = 0; k < bits; ++k) chain |= (in[k] & 1) << k;
      scan_n_bits = bits;
      return;
    }
    if (ir == 14) {
      for (int k = 0; k < bits; ++k) out[k] = (idcode >> k) & 1;
      return;
    }
    if (ir != 12) return;
    if (chain == 2 && bits == 38) {
      std::uint32_t value = 0;
      int address = 0;
      for (int k = 0; k < 32; ++k) value |= static_cast<std::uint32_t>(in[k] & 1) << k;
      for (int k = 0; k < 5; ++k) address |= (in[32 + k] & 1) << k;
      if (in[37]) {
        ice[address] = value;
        ice_writes.push_back({address, value});
        return;
      }
      if (capture) {
        std::uint32_t shown = ice[pending];
        if (pending == 1 && !status_script.empty()) {
          shown = status_script.front();
          if (status_script.size() > 1 || !keep_last_status) status_script.pop_front();
        }
        if (pending == 1) {
          ++status_reads;
          if (on_status_read) on_status_read();
        }
        ++ice_reads;
        for (int k = 0; k < 32; ++k) out[k] = (shown >> k) & 1;
      }
      pending = address;
      return;
    }
    if (chain == 1 && (bits == 35 || bits == 67)) {
      Arm9Chain1(in, out, bits, capture, to_idle);
      return;
    }
    if (chain == 1 && bits == 33) {
      EXPECT_TRUE(to_idle) << "chain-1 accesses end in Run-Test/Idle";
      Chain1Access access{0, in[0] != 0, capture};
      for (int k = 0; k < 32; ++k) access.word |= static_cast<std::uint32_t>(in[1 + k] & 1) << (31 - k);
      chain1.push_back(access);
      if (capture) {
        const std::uint32_t value = bus.empty() ? 0 : bus.front();
        if (!bus.empty()) bus.pop_front();
        out[0] = static_cast<std::uint8_t>(breakpt);
        for (int k = 0; k < 32; ++k) out[1 + k] = (value >> (31 - k)) & 1;
      }
    }
  }

  // ARM9: positions 0-31 data (bit 0 first), 32 a 0, 33 a 1, 34 system
  // speed, 35-66 the instruction (bit 31 first); the 35-bit form shifts only
  // positions 32-66 in.
  void Arm9Chain1(const std::uint8_t* in, std::uint8_t* out, int bits, bool capture, bool to_idle) {
    EXPECT_TRUE(to_idle) << "chain-1 accesses end in Run-Test/Idle";
    const int base = bits - 35;
    EXPECT_EQ(in[base], 0);
    EXPECT_EQ(in[base + 1], 1);
    Chain1Access access{0, in[base + 2] != 0, capture, bits == 67, 0};
    for (int k = 0; k < 32; ++k) access.word |= static_cast<std::uint32_t>(in[base + 3 + k] & 1) << (31 - k);
    for (int k = 0; k < base; ++k) access.data |= static_cast<std::uint32_t>(in[k] & 1) << k;
    chain1.push_back(access);
    if (capture) {
      const std::uint32_t value = bus.empty() ? 0 : bus.front();
      if (!bus.empty()) bus.pop_front();
      for (int k = 0; k < 32; ++k) out[k] = (value >> k) & 1;
      out[34] = static_cast<std::uint8_t>(breakpt);
    }
  }

  void IdleClock() override { ++idle_clocks; }
  void ResetPulse(std::uint32_t) override {
    ++reset_pulses;
    if (on_reset) on_reset();
  }

  std::vector<std::uint32_t> Words() const {
    std::vector<std::uint32_t> words;
    for (const Chain1Access& a : chain1) words.push_back(a.word);
    return words;
  }

  std::uint32_t ir = 0;
  int chain = -1;
  int scan_n_bits = 0;
  bool broken = false;
  int fail_after_ir = -1;
  std::uint32_t ice[32] = {};
  int pending = 0;
  std::uint32_t idcode = 0x1F0F0F0F;
  std::deque<std::uint32_t> status_script;  // debug status values, in order
  bool keep_last_status = true;             // the last scripted value stays
  std::deque<std::uint32_t> bus;            // data bus of captured chain-1 accesses
  int breakpt = 0;
  std::vector<Chain1Access> chain1;
  std::vector<std::pair<int, std::uint32_t>> ice_writes;
  std::vector<std::uint32_t> irs;
  int ice_reads = 0, restarts = 0, idle_clocks = 0, tap_resets = 0, reset_pulses = 0;
  int status_reads = 0;
  std::function<void()> on_status_read;
  std::function<void()> on_restart;
  std::function<void()> on_reset;
};

}  // namespace drivers::testing
