// Test helpers for the core: a flat RAM bus in either byte order and the
// cross assembler, so test programs read as assembly.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "simboard/core/arm_core.h"
#include "simboard/memory/bus.h"

namespace simboard::testing {

// RAM at [base, base + size); everything else aborts. Counts accesses.
class RamBus : public Bus {
 public:
  RamBus(std::uint32_t base, std::uint32_t size, ByteOrder order)
      : base_(base), memory_(size, 0), order_(order) {}

  bool Read(std::uint32_t address, AccessSize size, AccessKind kind,
            std::uint32_t& value) override;
  bool Write(std::uint32_t address, AccessSize size, std::uint32_t value) override;
  void Advance(std::uint64_t cycles) override { advanced += cycles; }

  void Load(std::uint32_t address, const std::vector<std::uint8_t>& bytes);
  std::uint32_t Peek(std::uint32_t address, AccessSize size) const;
  void Poke(std::uint32_t address, AccessSize size, std::uint32_t value);
  std::uint8_t* Memory() { return memory_.data(); }
  std::uint32_t Base() const { return base_; }
  std::uint32_t Size() const { return static_cast<std::uint32_t>(memory_.size()); }

  std::uint64_t advanced = 0;
  std::uint64_t fetches = 0;
  std::uint64_t data_reads = 0;
  std::uint64_t data_writes = 0;

 private:
  bool Inside(std::uint32_t address, std::uint32_t bytes) const {
    return address - base_ < memory_.size() && memory_.size() - (address - base_) >= bytes;
  }
  std::uint32_t base_;
  std::vector<std::uint8_t> memory_;
  ByteOrder order_;
};

// Assembles `source` with arm-none-eabi-as for ARMv4T (big-endian when
// asked) and returns the bytes of its .text as the processor sees them in
// memory, linked at `origin`. Fails the current test on an assembler error.
std::vector<std::uint8_t> Assemble(const std::string& source, ByteOrder order,
                                   std::uint32_t origin = 0);

bool AssemblerAvailable();

}  // namespace simboard::testing
