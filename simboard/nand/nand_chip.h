// A Samsung NAND chip as its data sheet describes it from its pins: command,
// address and data cycles on an 8-bit bus, a page register, ready/busy and
// the status register.
//
// Small-page chips (512 + 16 bytes) read with 0x00/0x01/0x50 (areas A, B
// and C) and one column plus three row address cycles; large-page chips
// (2048 + 64) take two column and two row cycles and the read confirm 0x30,
// with random data output (0x05/0xE0) and random data input (0x85). Program
// (0x80 ... 0x10) only turns bits from 1 to 0; erase (0x60 ... 0xD0) works on
// a whole block. Factory bad blocks carry a non-0xFF byte in the spare area
// of their first two pages and fail every program and erase.
//
// The image file holds every page followed by its spare bytes, block after
// block. It grows as blocks are written: blocks past its end are erased, so
// a 128 MB chip costs only the blocks in use.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "simboard/memory/memory.h"
#include "simboard/description/onchip_parts.h"

namespace simboard {

namespace nand {
inline constexpr std::uint8_t kStatusFail = 0x01;
inline constexpr std::uint8_t kStatusReady = 0x40;
inline constexpr std::uint8_t kStatusNotProtected = 0x80;
}  // namespace nand

class NandChip {
 public:
  static std::unique_ptr<NandChip> Create(const NandPart& part, const std::filesystem::path& image,
                                          const std::vector<std::uint32_t>& bad_blocks,
                                          const Clock& clock, std::uint32_t clock_khz,
                                          Counters& counters, std::string& error);
  ~NandChip();
  NandChip(const NandChip&) = delete;
  NandChip& operator=(const NandChip&) = delete;

  // Bus cycles (CLE, ALE, or data).
  void Command(std::uint8_t command);
  void Address(std::uint8_t address);
  void WriteData(std::uint8_t data);
  std::uint8_t ReadData();
  bool Ready() const { return clock_.cycles >= ready_at_; }
  std::uint64_t CyclesToReady() const { return Ready() ? 0 : ready_at_ - clock_.cycles; }
  // Power-on: back to reading area A, nothing in progress.
  void Reset();

  const NandPart& part() const { return part_; }
  // Page contents with their spare bytes, without bus cycles (tests, the
  // debugger).
  void PeekPage(std::uint32_t page, std::uint8_t* bytes) const;
  void PokePage(std::uint32_t page, const std::uint8_t* bytes);
  bool FactoryBad(std::uint32_t block) const;

 private:
  enum class State : std::uint8_t { Idle, ReadId, Status, Read, ProgramInput, EraseAddress };
  NandChip(const NandPart& part, const Clock& clock, std::uint32_t clock_khz, Counters& counters);

  std::uint8_t* Block(std::uint32_t block, bool allocate);
  const std::uint8_t* PageBytes(std::uint32_t page) const;
  void StorePage(std::uint32_t page, const std::uint8_t* bytes);
  void StoreBlock(std::uint32_t block);
  void LoadPage();  // the page register from the array, going busy tR
  void Busy(std::uint32_t microseconds);
  unsigned ColumnCycles() const { return part_.large_page ? 2 : 1; }
  unsigned RowCycles() const { return part_.address_cycles - ColumnCycles(); }
  std::uint32_t Row(unsigned first) const;

  const NandPart& part_;
  const Clock& clock_;
  std::uint64_t cycles_per_us_x1000_;
  Counters& counters_;
  int fd_ = -1;
  std::uint64_t file_blocks_ = 0;  // whole blocks in the file
  std::vector<std::vector<std::uint8_t>> blocks_;  // empty: erased
  std::vector<bool> bad_;

  State state_ = State::Idle;
  std::uint8_t command_ = 0;
  std::vector<std::uint8_t> address_;
  std::uint32_t area_ = 0;        // small pages: 0, 256 or 512 added to the column
  bool area_one_shot_ = false;    // 0x01 points at area B for one operation only
  std::uint32_t page_ = 0;
  std::uint32_t column_ = 0;
  std::vector<std::uint8_t> page_register_;
  bool failed_ = false;
  unsigned id_index_ = 0;
  std::uint64_t ready_at_ = 0;
};

}  // namespace simboard
