// STR71x on-chip flash: bank 0 and bank 1 and the flash interface that
// programs them, after the STR71x flash programming manual.
//
// An operation is set up in FLASH_CR0 (WPG word program, DWPG double word,
// SER sector erase with the sectors selected in FLASH_CR1, SPR set
// protection), with the address in FLASH_AR and data in FLASH_DR0/DR1, and
// started by setting WMS. While it runs, LOCK and the bank's BSY bit are set
// and the interface takes no new set-up. Failures show in FLASH_ER: WPF for a
// protected sector, 10ER for a 1 written over a 0, SEQER for a start without
// exactly one operation, each with ERR. The write protection register
// (NVWPAR, a bit 0 per protected sector) is non-volatile.
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

namespace str71x {
// Offsets from 0x40000000.
inline constexpr std::uint32_t kCr0 = 0x100000;
inline constexpr std::uint32_t kCr1 = 0x100004;
inline constexpr std::uint32_t kDr0 = 0x100008;
inline constexpr std::uint32_t kDr1 = 0x10000C;
inline constexpr std::uint32_t kAr = 0x100010;
inline constexpr std::uint32_t kEr = 0x100014;
inline constexpr std::uint32_t kNvwpar = 0x10DFB0;
inline constexpr std::uint32_t kNvapr0 = 0x10DFB8;
inline constexpr std::uint32_t kNvapr1 = 0x10DFBC;
// FLASH_CR0
inline constexpr std::uint32_t kWms = 1u << 31;
inline constexpr std::uint32_t kSusp = 1u << 30;
inline constexpr std::uint32_t kWpg = 1u << 29;
inline constexpr std::uint32_t kDwpg = 1u << 28;
inline constexpr std::uint32_t kSer = 1u << 27;
inline constexpr std::uint32_t kSpr = 1u << 24;
inline constexpr std::uint32_t kLock = 1u << 4;
inline constexpr std::uint32_t kBsy1 = 1u << 2;
inline constexpr std::uint32_t kBsy0 = 1u << 1;
// FLASH_CR1
inline constexpr std::uint32_t kB0s = 1u << 24;
inline constexpr std::uint32_t kB1s = 1u << 25;
// FLASH_ER
inline constexpr std::uint32_t kErr = 1u << 0;
inline constexpr std::uint32_t kErer = 1u << 1;
inline constexpr std::uint32_t kPger = 1u << 2;
inline constexpr std::uint32_t k10er = 1u << 3;
inline constexpr std::uint32_t kSeqer = 1u << 6;
inline constexpr std::uint32_t kWpf = 1u << 8;
}  // namespace str71x

class Str71xFlashRegion : public ControlledFlashRegion {
 public:
  static std::unique_ptr<Str71xFlashRegion> Create(const RegionDescription& description,
                                                   const Clock& clock, std::uint32_t clock_khz,
                                                   Counters& counters, std::string& error);

  bool Read(std::uint32_t offset, unsigned count, AccessKind kind, std::uint8_t* bytes) override;
  // The array up to the next gap or the register block.
  const std::uint8_t* QuietFetchBytes(std::uint32_t offset, std::uint32_t& count) override;
  void CountQuietFetches(std::uint64_t fetches) override { counters_.flash_reads += fetches; }
  bool Write(std::uint32_t offset, unsigned count, const std::uint8_t* bytes) override;
  void Peek(std::uint32_t offset, std::uint32_t count, std::uint8_t* bytes) const override;
  void Poke(std::uint32_t offset, std::uint32_t count, const std::uint8_t* bytes) override;
  // The first register read after an operation has ended clears its bits:
  // steady only while it runs or once that read has been made.
  std::uint64_t SteadyReadsFor(std::uint32_t, unsigned) override {
    return busy_bits_ != 0 && !busy() ? 0 : SteadyWhileBusy();
  }
  void CountSteadyReads(std::uint32_t offset, unsigned, std::uint64_t reads) override {
    if (offset < str71x::kCr0) counters_.flash_reads += reads;
  }
  void Reset() override;

  std::uint32_t protection() const;  // NVWPAR

 private:
  // A sector of either bank: its protection bit (0-7 bank 0, 16-17 bank 1),
  // its window offset and size.
  struct Sector {
    std::uint32_t bit;
    std::uint32_t offset;
    std::uint32_t size;
  };
  Str71xFlashRegion(const RegionDescription& description, const Str71xPart& part,
                    const Clock& clock, std::uint32_t clock_khz, Counters& counters);

  std::uint32_t ReadRegister(std::uint32_t offset);
  void WriteRegister(std::uint32_t offset, std::uint32_t value);
  void Start();
  void Fail(std::uint32_t bits) { er_ |= bits | str71x::kErr; }
  const Sector* SectorAt(std::uint32_t offset) const;
  // Byte of the image behind a window offset, or nullptr outside the banks.
  std::uint8_t* Cell(std::uint32_t offset);
  bool ProgramWord(std::uint32_t offset, std::uint32_t value);

  std::uint32_t bank0_bytes_;
  std::uint32_t bank1_bytes_;
  std::vector<Sector> sectors_;
  std::uint32_t cr0_ = 0, cr1_ = 0, dr0_ = 0, dr1_ = 0, ar_ = 0, er_ = 0;
  std::uint32_t busy_bits_ = 0;  // BSY0/BSY1 of the running operation
};

}  // namespace simboard
