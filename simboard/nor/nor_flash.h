// NOR flash: the chips' command state machines (AMD/JEDEC and Intel command
// sets, each with the CFI query) and the bank of 1, 2 or 4 chips side by side
// that the processor sees as one region.
//
// A chip is addressed in its own units: bytes for an 8-bit chip, words for
// 16- and 32-bit chips. Commands, identifier codes and the query table are
// decoded from the chip's "command index": the chip address itself, or for an
// x8/x16 part in byte mode the chip address without its lowest line.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "simboard/description/board_file.h"
#include "simboard/memory/image_file.h"
#include "simboard/memory/memory.h"

namespace simboard {

// The CFI query table of one chip, indexed by command index (0x10 holds
// 'Q'), generated from the chip's description.
std::vector<std::uint8_t> BuildCfiTable(const NorDescription& chip);

// The storage under one chip: its cells in chip units, as values of the
// chip's width.
class NorCells {
 public:
  virtual ~NorCells() = default;
  virtual std::uint32_t Load(std::uint32_t cell) const = 0;
  virtual void Store(std::uint32_t cell, std::uint32_t value) = 0;
  // Bits of the cell that never program (fault injection).
  virtual std::uint32_t Stuck(std::uint32_t cell) const = 0;
  // The sector's non-volatile protection bit (AMD persistent protection).
  virtual bool Protected(std::size_t sector) const = 0;
  virtual void SetProtected(std::size_t sector, bool on) = 0;
};

struct NorTiming {
  std::uint64_t program_cycles = 0;       // one word
  std::uint64_t sector_erase_cycles = 0;  // one sector or block
  std::uint64_t chip_erase_cycles = 0;
  std::uint64_t erase_window_cycles = 0;  // AMD: time to add more sectors to an erase
  // AMD: how long the status shows a refused program (1 us) or erase
  // (100 us) of protected sectors before the chip returns to reading.
  std::uint64_t refused_program_cycles = 0;
  std::uint64_t refused_erase_cycles = 0;
};

class NorChip {
 public:
  NorChip(const NorDescription& description, NorCells& cells, const Clock& clock,
          const NorTiming& timing, bool no_erase, Counters& counters);
  virtual ~NorChip() = default;
  NorChip(const NorChip&) = delete;
  NorChip& operator=(const NorChip&) = delete;

  // One bus cycle at a chip address; values are the chip's data lines.
  virtual std::uint32_t Read(std::uint32_t address) = 0;
  virtual void Write(std::uint32_t address, std::uint32_t data) = 0;
  // The hardware reset line: back to reading the array, operations abandoned.
  virtual void Reset() = 0;
  // True when a read returns the array contents (no status, codes or query).
  virtual bool ReadsArray() = 0;
  // Lets time-driven work that is due happen now (an erase whose sector
  // window has closed).
  virtual void Settle() = 0;
  // For how many more cycles reads at a chip address stay steady (see
  // Bus::SteadyReadsFor): until a busy chip's status may change, for ever
  // while it is not busy (a read then changes nothing).
  virtual std::uint64_t SteadyFor(std::uint32_t address) = 0;

  // Sector (block) of a chip address: its index, first cell and cell count.
  struct Sector {
    std::size_t index;
    std::uint32_t first_cell;
    std::uint32_t cells;
  };
  Sector SectorOf(std::uint32_t address) const;
  std::size_t SectorCount() const { return sector_starts_.size(); }
  std::uint32_t CellCount() const { return cell_count_; }
  const NorDescription& description() const { return description_; }

 protected:
  std::uint32_t CommandIndex(std::uint32_t address) const {
    return description_.byte_mode ? address >> 1 : address;
  }
  std::uint32_t DataMask() const {
    return description_.width_bits == 32 ? 0xFFFFFFFFu : (1u << description_.width_bits) - 1;
  }
  std::uint32_t QueryValue(std::uint32_t address) const;
  std::uint64_t Now() const { return clock_.cycles; }
  // Programs one cell: bits only go from 1 to 0, stuck bits stay. Returns
  // false when the cell does not end up holding `data`.
  bool ProgramCell(std::uint32_t cell, std::uint32_t data, bool& changed);
  void EraseSector(std::size_t sector);

  const NorDescription& description_;
  NorCells& cells_;
  const Clock& clock_;
  NorTiming timing_;
  bool no_erase_;
  Counters& counters_;
  std::vector<std::uint8_t> cfi_;
  std::vector<std::uint32_t> sector_starts_;  // first cell of each sector
  std::uint32_t cell_count_ = 0;
};

// The two busy bits the AMD and SST command sets share: DQ6 toggles on every
// read, and DQ7 (data polling) reads the complement of bit 7 of the data
// being programmed, 0 while erasing.
class DataPolling {
 public:
  void Program(std::uint32_t data) { data_ = data; }
  // DQ7 and DQ6 as the next status read shows them.
  std::uint32_t Next(bool programming) {
    toggle_ = !toggle_;
    return (toggle_ ? 0x40u : 0u) | (programming ? ~data_ & 0x80u : 0u);
  }

 private:
  std::uint32_t data_ = 0;
  bool toggle_ = false;
};

std::unique_ptr<NorChip> MakeNorChip(const NorDescription& description, NorCells& cells,
                                     const Clock& clock, const NorTiming& timing, bool no_erase,
                                     Counters& counters);
// One maker per command set, each in its own source file.
std::unique_ptr<NorChip> MakeAmdChip(const NorDescription& description, NorCells& cells,
                                     const Clock& clock, const NorTiming& timing, bool no_erase,
                                     Counters& counters);
std::unique_ptr<NorChip> MakeSstChip(const NorDescription& description, NorCells& cells,
                                     const Clock& clock, const NorTiming& timing, bool no_erase,
                                     Counters& counters);
std::unique_ptr<NorChip> MakeIntelChip(const NorDescription& description, NorCells& cells,
                                       const Clock& clock, const NorTiming& timing, bool no_erase,
                                       Counters& counters);

// A flash bank: `chips` chips side by side on the data bus, each on its own
// byte lanes, with the region's bytes held in an image file (byte i of the
// file is the byte at Base + i). Changes reach the file within 1 ms of board
// time (a write per programmed word would cost more than the programming),
// at once on Settle and Poke, and all of them when the bank closes.
class NorRegion : public Region {
 public:
  // Opens or creates the image; false with `error` set when it cannot.
  static std::unique_ptr<NorRegion> Create(const RegionDescription& description, bool big_endian,
                                           std::uint32_t clock_khz, const FaultDescription& faults,
                                           const Clock& clock, Counters& counters,
                                           std::string& error);
  ~NorRegion() override;

  bool Read(std::uint32_t offset, unsigned count, AccessKind kind, std::uint8_t* bytes) override;
  bool Write(std::uint32_t offset, unsigned count, const std::uint8_t* bytes) override;
  void Peek(std::uint32_t offset, std::uint32_t count, std::uint8_t* bytes) const override;
  void Poke(std::uint32_t offset, std::uint32_t count, const std::uint8_t* bytes) override;
  // While every chip reads its array, a fetch is the plain copy Read makes.
  const std::uint8_t* QuietFetchBytes(std::uint32_t offset, std::uint32_t& count) override;
  void CountQuietFetches(std::uint64_t fetches) override;
  std::uint64_t SteadyReadsFor(std::uint32_t offset, unsigned count) override;
  void CountSteadyReads(std::uint32_t offset, unsigned count, std::uint64_t reads) override;
  void Reset() override;

  const NorDescription& nor() const { return description_.nor; }
  NorChip& chip(unsigned n) { return *chips_[n]; }
  // Brings every chip's due work into the image.
  void Settle();

 private:
  class ChipCells;
  NorRegion(const RegionDescription& description, bool big_endian);

  std::size_t LaneOffset(std::uint32_t bus_word, unsigned lane) const;
  bool LoadProtection(std::string& error);
  // After a bus access: writes the changes out once they are old enough.
  void WriteThrough();
  void SaveProtection();

  RegionDescription description_;
  bool big_endian_;
  unsigned bus_bytes_;
  unsigned chip_bytes_;
  ImageFile image_;
  std::vector<std::uint8_t> memory_;  // when no image file is named
  std::uint8_t* data_ = nullptr;
  std::map<std::uint32_t, std::uint8_t> stuck_;  // region offset -> bits that never program
  std::vector<std::vector<bool>> protection_;  // per chip, per sector
  std::vector<std::unique_ptr<ChipCells>> cells_;
  std::vector<std::unique_ptr<NorChip>> chips_;
  Counters* counters_ = nullptr;
  const Clock* clock_ = nullptr;
  std::uint64_t flush_cycles_ = 0;    // 1 ms at the board clock
  std::uint64_t changed_since_ = 0;   // board time of the oldest unwritten change
  bool changes_pending_ = false;
};

}  // namespace simboard
