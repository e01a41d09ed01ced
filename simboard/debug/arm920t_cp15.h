// The ARM920T's system control coprocessor (CP15) as far as a debugger and a
// flash loader with the MMU and caches off use it: the ID and cache type
// registers, the control register (shared with the core, which acts on its
// byte-order and vector bits), the MMU and fault registers kept as written,
// cache and TLB operations accepted (nothing is cached), and scan chain 15
// after the ARM920T technical reference manual ("Debug support"): physical
// access to the registers by a 6-bit address, and interpreted access, in
// which the MCR or MRC scanned in runs in place of the next system-speed
// load or store while the test state register's interpret bit is set.
#pragma once

#include <array>
#include <cstdint>

#include "simboard/core/arm_core.h"
#include "simboard/debug/jtag_tap.h"

namespace simboard {

// Chain 15, bit 0 nearest TDO: bit 0 access (1 physical, 0 interpreted),
// bits 1..32 data, bits 33..38 register address, bit 39 write.
inline constexpr unsigned kArm920tChain15Length = 40;

namespace arm920t {
inline constexpr std::uint32_t kCacheType = 0x0D172172;  // 16 KB I and D, 64-way, 8-word lines
// Physical register addresses: bit 5 selects the cache and TLB test
// registers, bits 4..1 the CRn, bit 0 the second register of a pair.
inline constexpr unsigned kPhysId = 0x00;
inline constexpr unsigned kPhysCacheType = 0x01;
inline constexpr unsigned kPhysControl = 0x02;
inline constexpr unsigned kPhysTestState = 0x1E;
inline constexpr std::uint32_t kTestStateInterpret = 1u << 0;
ScanBits Chain15Word(bool physical, std::uint32_t data, unsigned address, bool write);
std::uint32_t Chain15Data(ScanBits bits);
}  // namespace arm920t

class Arm920tCp15 : public Coprocessor {
 public:
  explicit Arm920tCp15(ArmCore& core);

  // MRC and MCR from the core.
  bool Read(unsigned opcode1, unsigned crn, unsigned crm, unsigned opcode2,
            std::uint32_t& value) override;
  bool Write(unsigned opcode1, unsigned crn, unsigned crm, unsigned opcode2,
             std::uint32_t value) override;

  // Scan chain 15.
  ScanBits Capture() const;
  void Update(ScanBits value);

  // Registers by physical address.
  std::uint32_t ReadPhysical(unsigned address) const;
  void WritePhysical(unsigned address, std::uint32_t value);

  // Interpreted access: the CP15 instruction that replaces the next
  // system-speed load or store, while one is armed.
  bool InterpretArmed() const;
  std::uint32_t InterpretedInstruction() const { return interpreted_; }

 private:
  ArmCore& core_;
  std::array<std::uint32_t, 64> physical_{};  // test and lockdown registers as written
  std::uint32_t ttb_ = 0, domains_ = 0, process_id_ = 0, tlb_lockdown_ = 0;
  std::array<std::uint32_t, 2> fault_status_{};   // data, prefetch
  std::array<std::uint32_t, 2> fault_address_{};  // data, prefetch
  std::uint32_t interpreted_ = 0;
  bool interpreted_valid_ = false;
  std::uint32_t capture_ = 0;  // what a physical read left for the next capture
};

}  // namespace simboard
