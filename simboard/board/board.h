// One virtual board: the core, the bus with its regions (RAM, peripheral
// space, flash banks), the board clock and the counters, built from a board
// file. The JTAG side and the command-line tool reach everything through it.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>

#include "simboard/core/arm_core.h"
#include "simboard/description/board_file.h"
#include "simboard/memory/memory.h"
#include "simboard/nor/nor_flash.h"

namespace simboard {

class Board {
 public:
  // Reads the board file and builds the board; images are opened (and
  // created erased) here. Nothing and `error` set when it cannot.
  static std::unique_ptr<Board> Open(const std::filesystem::path& board_file, std::string& error);
  static std::unique_ptr<Board> Create(BoardDescription description, std::string& error);
  ~Board();
  Board(const Board&) = delete;
  Board& operator=(const Board&) = delete;

  const BoardDescription& description() const { return description_; }
  ArmCore& core() { return *core_; }
  MemoryBus& bus() { return bus_; }
  Clock& clock() { return clock_; }
  // The regions in address order; nullptr where none answers.
  Region* RegionAt(std::uint32_t address) { return bus_.Find(address); }
  NorRegion* FlashAt(std::uint32_t address);

  // Counters since construction or ResetCounters; `instructions` is the core's.
  Counters counters() const;
  void ResetCounters();

  // The reset line: the core to its reset state (ARM, Supervisor, interrupts
  // off, at the reset vector) and every flash chip back to reading its array.
  // Memory contents stay.
  void Reset();
  // The same line as the memories hear it, leaving the core alone (for a
  // reset the debug logic drives).
  void ResetMemories();

  // Deterministic running: the core executes until it halts (debug request,
  // breakpoint, a hook's stop, an exception in stop_on_exceptions) or has
  // executed `max_instructions` (0: the board's RunBudget).
  RunResult Run(std::uint64_t max_instructions = 0, unsigned stop_on_exceptions = 0);

  // Real-time running (Timing=RealTime): while the core is marked running it
  // owes ClockKHz instructions per millisecond of host time; CatchUp executes
  // what is owed since the last call. While it is not running the board
  // clock moves on by ClockKHz cycles a millisecond instead, so flash
  // operations complete under a halted core. The outside calls it at each of
  // its accesses. In deterministic mode CatchUp does nothing.
  void SetRunning(bool running);
  bool running() const { return running_; }
  RunResult CatchUp();
  // How many times CatchUp gave up time the host could not keep up with
  // (0 while the board keeps real time).
  std::uint64_t behind_real_time() const { return behind_real_time_; }
  // The host time a CatchUp call may run the core for when it is behind, in
  // microseconds: bounds of the time that passed since the last call.
  static constexpr std::uint64_t kShortestCatchUpUs = 50;
  static constexpr std::uint64_t kLongestCatchUpUs = 20000;

  // Time passing without the core (debug-state cycles of the JTAG side).
  void AdvanceTime(std::uint64_t cycles) { clock_.cycles += cycles; }

  // Memory contents without side effects (flash arrays as stored), for
  // loading programs, tests and the debugger's view. False when a byte of the
  // range lies outside every region; a failed Poke changes nothing.
  bool Peek(std::uint32_t address, std::uint32_t count, std::uint8_t* bytes) const;
  bool Poke(std::uint32_t address, std::uint32_t count, const std::uint8_t* bytes);
  // A value in the board's byte order (Peek of 1, 2 or 4 bytes).
  bool PeekValue(std::uint32_t address, AccessSize size, std::uint32_t& value) const;

  // Brings time-driven flash work that is due into the images, and the
  // images' pending changes into their files (which otherwise lag by up to
  // 1 ms of board time while the core runs). The board settles when the
  // core halts and when it closes; an in-process reader of an image file
  // settles first.
  void Settle();

  // The regions and chips as the board file describes them, one item a line.
  std::string Info() const;

 private:
  explicit Board(BoardDescription description);

  BoardDescription description_;
  Clock clock_;
  Counters counters_;
  MemoryBus bus_;
  std::unique_ptr<ArmCore> core_;
  bool running_ = false;
  std::uint64_t realtime_start_us_ = 0;
  std::uint64_t realtime_ticks_ = 0;
  std::uint64_t behind_real_time_ = 0;
  std::uint64_t caught_up_us_ = 0;  // host time at the end of the last CatchUp
};

}  // namespace simboard
