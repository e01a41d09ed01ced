// NOR chips as the processor addresses them in the flash tests: command
// index n of every chip sits at bus word n, and commands are replicated onto
// each chip's lanes.
#pragma once

#include <cstdint>

#include "simboard/tests/board_test_support.h"

namespace simboard::testing {

struct Bank {
  TestBoard& tb;
  unsigned bus_bytes;
  unsigned chip_bits;

  AccessSize Size() const {
    return bus_bytes == 1 ? AccessSize::Byte : bus_bytes == 2 ? AccessSize::Half : AccessSize::Word;
  }
  std::uint32_t Rep(std::uint32_t value) const {
    std::uint32_t out = 0;
    for (unsigned c = 0; c < bus_bytes * 8 / chip_bits; ++c) out |= value << (c * chip_bits);
    return out;
  }
  void Cmd(std::uint32_t index, std::uint32_t value) { tb.Write(index * bus_bytes, Rep(value), Size()); }
  std::uint32_t Get(std::uint32_t index) { return tb.Read(index * bus_bytes, Size()); }
  void Unlock() {
    Cmd(0x555, 0xAA);
    Cmd(0x2AA, 0x55);
  }
};

}  // namespace simboard::testing
