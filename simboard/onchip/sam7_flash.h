// AT91SAM7S embedded flash: the array at 0x00100000 and its embedded flash
// controller (EFC) in the memory controller, after the data sheet's EFC
// chapter.
//
// Words written anywhere in the flash's address space fill the latch buffer
// (the offset within a page picks the word); a "write page" command with the
// key 0x5A in MC_FCR then programs the page PAGEN from it, erasing the page
// first unless MC_FMR NEBP is set, and refills the buffer with ones. Lock
// bits, one per lock region, are non-volatile: a locked region refuses
// writes with LOCKE; a wrong key or command gives PROGE. FRDY is low while
// a command runs.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "simboard/description/board_file.h"
#include "simboard/onchip/controlled_flash_region.h"
#include "simboard/memory/memory.h"
#include "simboard/description/onchip_parts.h"

namespace simboard {

// Memory controller register offsets from 0xFFFFFF00, and MC_FSR bits.
namespace efc {
inline constexpr std::uint32_t kFmr = 0x60;
inline constexpr std::uint32_t kFcr = 0x64;
inline constexpr std::uint32_t kFsr = 0x68;
inline constexpr std::uint32_t kFrdy = 1u << 0;
inline constexpr std::uint32_t kLocke = 1u << 2;
inline constexpr std::uint32_t kProge = 1u << 3;
inline constexpr std::uint32_t kSecurity = 1u << 4;
inline constexpr std::uint32_t kNebp = 1u << 7;  // MC_FMR: no erase before programming
inline constexpr std::uint32_t kKey = 0x5A;
enum Command : std::uint32_t {
  kWritePage = 0x1,
  kSetLockBit = 0x2,
  kWritePageAndLock = 0x3,
  kClearLockBit = 0x4,
  kEraseAll = 0x8,
  kSetGpnvm = 0xB,
  kClearGpnvm = 0xD,
  kSetSecurity = 0xF,
};
}  // namespace efc

class Sam7FlashRegion : public ControlledFlashRegion {
 public:
  static std::unique_ptr<Sam7FlashRegion> Create(const RegionDescription& description,
                                                 const Clock& clock, std::uint32_t clock_khz,
                                                 Counters& counters, std::string& error);

  bool Read(std::uint32_t offset, unsigned count, AccessKind kind, std::uint8_t* bytes) override;
  const std::uint8_t* QuietFetchBytes(std::uint32_t offset, std::uint32_t& count) override;
  void CountQuietFetches(std::uint64_t fetches) override { counters_.flash_reads += fetches; }
  std::uint64_t SteadyReadsFor(std::uint32_t, unsigned) override { return SteadyWhileBusy(); }
  void CountSteadyReads(std::uint32_t, unsigned, std::uint64_t reads) override {
    counters_.flash_reads += reads;
  }
  // 32-bit writes go to the latch buffer; narrower ones are ignored.
  bool Write(std::uint32_t offset, unsigned count, const std::uint8_t* bytes) override;
  void Peek(std::uint32_t offset, std::uint32_t count, std::uint8_t* bytes) const override;
  void Poke(std::uint32_t offset, std::uint32_t count, const std::uint8_t* bytes) override;
  void Reset() override;

  // The controller's registers (offset from 0xFFFFFF00).
  std::uint32_t ReadRegister(std::uint32_t offset);
  void WriteRegister(std::uint32_t offset, std::uint32_t value);
  // How long reads of a register stay steady (see Bus::SteadyReadsFor).
  std::uint64_t RegisterSteadyFor(std::uint32_t offset) const;

  const Sam7Part& part() const { return part_; }
  std::uint32_t locks() const;  // bit r set: lock region r locked

 private:
  Sam7FlashRegion(const RegionDescription& description, const Sam7Part& part, const Clock& clock,
                  std::uint32_t clock_khz, Counters& counters);
  void Command(std::uint32_t value);
  void SetNonVolatile(std::uint32_t mask, bool set);  // bits of the config word

  const Sam7Part& part_;
  std::vector<std::uint8_t> latch_;
  std::uint32_t fmr_ = 0;
  std::uint32_t errors_ = 0;  // LOCKE and PROGE until MC_FSR is read
};

// The system controller at 0xFFFFF000: the memory controller's EFC
// registers, the debug unit's chip ID, a power manager that reports its
// clocks stable, and plain registers elsewhere.
class Sam7SystemController : public Region {
 public:
  explicit Sam7SystemController(Sam7FlashRegion& flash);

  bool Read(std::uint32_t offset, unsigned count, AccessKind kind, std::uint8_t* bytes) override;
  bool Write(std::uint32_t offset, unsigned count, const std::uint8_t* bytes) override;
  void Peek(std::uint32_t offset, std::uint32_t count, std::uint8_t* bytes) const override;
  void Poke(std::uint32_t offset, std::uint32_t count, const std::uint8_t* bytes) override;
  std::uint64_t SteadyReadsFor(std::uint32_t offset, unsigned count) override;

 private:
  std::uint32_t Special(std::uint32_t offset, bool& special) const;

  Sam7FlashRegion& flash_;
  std::vector<std::uint8_t> registers_;
};

}  // namespace simboard
