#include "simboard/debug/arm920t_cp15.h"

namespace simboard {

namespace arm920t {

ScanBits Chain15Word(bool physical, std::uint32_t data, unsigned address, bool write) {
  return ScanBits{physical ? 1u : 0u} | (ScanBits{data} << 1) |
         (ScanBits{address & 0x3Fu} << 33) | (ScanBits{write ? 1u : 0u} << 39);
}

std::uint32_t Chain15Data(ScanBits bits) { return static_cast<std::uint32_t>(bits >> 1); }

}  // namespace arm920t

namespace {

// The lockdown, process ID and test registers that a physical access
// reaches by CRn, with the core-side storage they share.
constexpr unsigned PhysicalAddress(unsigned crn, unsigned second) { return (crn << 1) | second; }

bool IsCoprocessorTransferToCp15(std::uint32_t op) {
  return (op & 0x0F000F10u) == 0x0E000F10u;
}

}  // namespace

Arm920tCp15::Arm920tCp15(ArmCore& core) : core_(core) {}

bool Arm920tCp15::Read(unsigned opcode1, unsigned crn, unsigned crm, unsigned opcode2,
                       std::uint32_t& value) {
  (void)crm;
  if (opcode1 != 0 && crn != 15) return false;
  switch (crn) {
    case 0: value = opcode2 == 1 ? arm920t::kCacheType : core_.Cp15Id(); return true;
    case 1: value = core_.Cp15Control(); return true;
    case 2: value = ttb_; return true;
    case 3: value = domains_; return true;
    case 5: value = fault_status_[opcode2 & 1]; return true;
    case 6: value = fault_address_[opcode2 & 1]; return true;
    case 9: value = physical_[PhysicalAddress(9, opcode2 & 1)]; return true;
    case 10: value = tlb_lockdown_; return true;
    case 13: value = process_id_; return true;
    case 15: value = physical_[PhysicalAddress(15, 0)]; return true;
    default: return false;  // c4, c11, c12 reserved; c7 and c8 are write-only operations
  }
}

bool Arm920tCp15::Write(unsigned opcode1, unsigned crn, unsigned crm, unsigned opcode2,
                        std::uint32_t value) {
  (void)crm;
  if (opcode1 != 0 && crn != 15) return false;
  switch (crn) {
    case 0: return true;  // read-only
    case 1: core_.SetCp15Control(value); return true;
    case 2: ttb_ = value & 0xFFFFC000u; return true;
    case 3: domains_ = value; return true;
    case 5: fault_status_[opcode2 & 1] = value & 0xFFu; return true;
    case 6: fault_address_[opcode2 & 1] = value; return true;
    case 7: case 8: return true;  // cache and TLB maintenance: nothing is cached
    case 9: physical_[PhysicalAddress(9, opcode2 & 1)] = value; return true;
    case 10: tlb_lockdown_ = value; return true;
    case 13: process_id_ = value & 0xFE000000u; return true;
    case 15: physical_[PhysicalAddress(15, 0)] = value; return true;
    default: return false;
  }
}

std::uint32_t Arm920tCp15::ReadPhysical(unsigned address) const {
  switch (address & 0x3F) {
    case arm920t::kPhysId: return core_.Cp15Id();
    case arm920t::kPhysCacheType: return arm920t::kCacheType;
    case arm920t::kPhysControl: return core_.Cp15Control();
    case PhysicalAddress(13, 0): return process_id_;
    default: return physical_[address & 0x3F];
  }
}

void Arm920tCp15::WritePhysical(unsigned address, std::uint32_t value) {
  switch (address & 0x3F) {
    case arm920t::kPhysId:
    case arm920t::kPhysCacheType: break;
    case arm920t::kPhysControl: core_.SetCp15Control(value); break;
    case PhysicalAddress(13, 0): process_id_ = value & 0xFE000000u; break;
    default: physical_[address & 0x3F] = value; break;
  }
}

ScanBits Arm920tCp15::Capture() const { return arm920t::Chain15Word(true, capture_, 0, false); }

void Arm920tCp15::Update(ScanBits value) {
  bool physical = (value & 1) != 0;
  std::uint32_t data = arm920t::Chain15Data(value);
  unsigned address = static_cast<unsigned>((value >> 33) & 0x3F);
  bool write = ((value >> 39) & 1) != 0;
  if (!physical) {
    interpreted_ = data;
    interpreted_valid_ = true;
    return;
  }
  if (write)
    WritePhysical(address, data);
  else
    capture_ = ReadPhysical(address);
}

bool Arm920tCp15::InterpretArmed() const {
  return interpreted_valid_ &&
         (physical_[arm920t::kPhysTestState] & arm920t::kTestStateInterpret) != 0 &&
         IsCoprocessorTransferToCp15(interpreted_);
}

}  // namespace simboard
