// LPC2000 on-chip flash: the array at 0 with its user sectors and the boot
// block above them, and the boot ROM whose In-Application Programming entry
// erases and programs the user sectors.
//
// The IAP entry is reached as the silicon reaches it: the caller puts the
// command table address in R0 and the result table address in R1 and
// branches with BX to 0x7FFFFFF1 (THUMB). The ROM answers the fetch at
// 0x7FFFFFF0 by carrying out the command; commands that take time leave the
// core spinning inside the ROM until the flash is ready again, then return
// through BX LR with the status in result word 0. A call that arrives while
// the flash is still busy (the caller was stopped inside the ROM and sent
// back in) is answered BUSY.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "simboard/description/board_file.h"
#include "simboard/memory/flash_image.h"
#include "simboard/memory/memory.h"
#include "simboard/description/onchip_parts.h"

namespace simboard {

class ArmCore;

// IAP status codes (user manual, IAP chapter).
enum class IapStatus : std::uint32_t {
  CmdSuccess = 0,
  InvalidCommand = 1,
  SrcAddrError = 2,
  DstAddrError = 3,
  SrcAddrNotMapped = 4,
  DstAddrNotMapped = 5,
  CountError = 6,
  InvalidSector = 7,
  SectorNotBlank = 8,
  SectorNotPrepared = 9,
  CompareError = 10,
  Busy = 11,
};

// IAP command codes.
enum class IapCommand : std::uint32_t {
  Prepare = 50,
  CopyRamToFlash = 51,
  Erase = 52,
  BlankCheck = 53,
  ReadPartId = 54,
  ReadBootVersion = 55,
  Compare = 56,
};

class LpcFlashRegion : public Region {
 public:
  static std::unique_ptr<LpcFlashRegion> Create(const RegionDescription& description,
                                                std::string& error);

  // Stores into the flash do nothing: only the boot ROM programs it.
  bool Read(std::uint32_t offset, unsigned count, AccessKind kind, std::uint8_t* bytes) override;
  bool Write(std::uint32_t offset, unsigned count, const std::uint8_t* bytes) override;
  void Peek(std::uint32_t offset, std::uint32_t count, std::uint8_t* bytes) const override;
  void Poke(std::uint32_t offset, std::uint32_t count, const std::uint8_t* bytes) override;
  const std::uint8_t* QuietFetchBytes(std::uint32_t offset, std::uint32_t& count) override {
    count = static_cast<std::uint32_t>(size() - offset);
    return image_.array() + offset;
  }

  const LpcPart& part() const { return part_; }
  std::uint8_t* array() { return image_.array(); }
  std::uint32_t SectorStart(std::size_t sector) const { return starts_[sector]; }
  std::size_t SectorCount() const { return part_.sectors.size(); }
  // The sector holding a flash offset; SectorCount() for the boot block.
  std::size_t SectorOf(std::uint32_t offset) const;

 private:
  LpcFlashRegion(const RegionDescription& description, const LpcPart& part);

  const LpcPart& part_;
  FlashImage image_;
  std::vector<std::uint32_t> starts_;
};

class LpcBootRom : public Region {
 public:
  LpcBootRom(LpcFlashRegion& flash, MemoryBus& bus, Clock& clock, std::uint32_t clock_khz,
             bool deterministic, Counters& counters);

  // The core whose registers an IAP call reads (set once the core exists).
  void AttachCore(ArmCore& core) { core_ = &core; }

  bool Read(std::uint32_t offset, unsigned count, AccessKind kind, std::uint8_t* bytes) override;
  bool Write(std::uint32_t offset, unsigned count, const std::uint8_t* bytes) override;
  void Peek(std::uint32_t offset, std::uint32_t count, std::uint8_t* bytes) const override;
  void Poke(std::uint32_t, std::uint32_t, const std::uint8_t*) override {}
  void Reset() override;

  // The CPU clock the last copy or erase was given, in kHz.
  std::uint32_t last_cclk_khz() const { return last_cclk_khz_; }
  bool busy() const { return clock_.cycles < ready_at_; }

 private:
  // The THUMB instruction the ROM answers a fetch at `address` with.
  std::uint16_t Entry();
  std::uint16_t Wait();
  // Carries out a command; returns its status and the cycles it keeps the
  // flash busy, and fills `results` (words 1 and 2 of the result table).
  IapStatus Execute(const std::uint32_t* command, std::uint32_t results[2], std::uint64_t& cycles);
  bool SectorRange(std::uint32_t first, std::uint32_t last) const;
  bool InRam(std::uint32_t address, std::uint32_t count) const;
  bool InUserFlash(std::uint32_t address, std::uint32_t count) const;
  std::uint32_t LoadWord(std::uint32_t address);
  void StoreWord(std::uint32_t address, std::uint32_t value);

  LpcFlashRegion& flash_;
  MemoryBus& bus_;
  Clock& clock_;
  std::uint64_t cycles_per_ms_;
  bool deterministic_;
  Counters& counters_;
  ArmCore* core_ = nullptr;
  std::vector<bool> prepared_;
  std::uint64_t ready_at_ = 0;
  // The call in progress: where its results go and what they are.
  bool in_call_ = false;
  std::uint32_t result_table_ = 0;
  std::uint32_t pending_status_ = 0;
  std::uint32_t pending_results_[2] = {};
  unsigned pending_result_words_ = 0;
  std::uint32_t last_cclk_khz_ = 0;
};

}  // namespace simboard
