// A loader run on a virtual board without the JTAG side: the image and its
// parameter block are poked into RAM as the host would write them, the core
// starts at the image and the run ends where the host's breakpoint would
// stop it (an SWI placed there stands in for the breakpoint).
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "simboard/board/board.h"
#include "target_data/flash_database.h"

namespace romsmith::loader_testing {

// The loader's parameter block, as the host fills it.
struct Params {
  std::uint8_t operation = 0;
  std::uint8_t cycle_count = 0;
  std::uint8_t width_bytes = 1;
  std::uint8_t chips = 1;
  std::uint8_t mode = 0;
  std::uint8_t auto_verify = 0;
  std::uint32_t flash_start = 0;
  std::uint32_t address = 0;
  std::uint32_t length = 0;
  std::array<std::uint32_t, 10> cycle_address{};
  std::array<std::uint32_t, 10> cycle_data{};
};

// The bus cycles of one command-set sequence for `width_bytes` x `chips` at
// `flash_start`; a cycle at table address 0 goes to `sector` when nonzero.
void SetCycles(Params& params, const CommandSequence& sequence, std::uint32_t sector = 0);

// The command set of `type` in the shipped flash database.
CommandSet ShippedCommandSet(const std::string& type);

enum class RunEnd { Finished, Parked, Crashed };

class LoaderBench {
 public:
  // `board_text` is a whole board file; the loader image comes from the
  // committed images by name ("parl", "hwl", ...). `area` is the image area:
  // 2048 bytes, or 3072 for the NAND family (block and data behind it, the
  // end of the run 8 bytes before its end).
  LoaderBench(const std::string& board_text, const std::string& loader, std::uint32_t ram,
              std::uint32_t area = 2048);

  simboard::Board& board() { return *board_; }
  bool big_endian() const { return board_->description().big_endian; }

  // One run; `data` goes behind the block. Budget in instructions.
  RunEnd Run(const Params& params, const std::vector<std::uint8_t>& data = {},
             std::uint64_t budget = 20000000, bool thumb_entry = false);
  std::uint8_t ResultByte();
  std::uint32_t DeviceCode();
  // A word of the parameter block as the loader left it.
  std::uint32_t ParamsWord(std::uint32_t offset);
  std::vector<std::uint8_t> Flash(std::uint32_t address, std::uint32_t count);

 private:
  std::filesystem::path dir_;
  std::unique_ptr<simboard::Board> board_;
  std::uint32_t ram_;
  std::uint32_t area_;
  std::uint32_t params_at() const { return area_; }
  std::uint32_t done() const { return area_ - 8; }
};

}  // namespace romsmith::loader_testing
