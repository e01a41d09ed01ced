// The processor's view of the board: every instruction fetch and data access
// of the core goes through a Bus. The board fills it with regions (RAM,
// peripheral space, flash chips); the debug logic may wrap it to watch
// accesses. Values are as the processor sees them: the bus composes them from
// memory bytes in the board's byte order.
#pragma once

#include <cstdint>
#include <limits>

namespace simboard {

// Steady reads that stay steady until something writes or the host acts.
inline constexpr std::uint64_t kSteadyForever = std::numeric_limits<std::uint64_t>::max();

enum class AccessSize : std::uint8_t { Byte = 1, Half = 2, Word = 4 };

enum class AccessKind : std::uint8_t { InstructionFetch, DataRead, DataWrite };

class Bus {
 public:
  virtual ~Bus() = default;

  // A read at a byte address aligned to its size (the core rotates or masks
  // for unaligned accesses itself). False: nothing answers there, and the
  // core takes a prefetch abort (fetch) or a data abort (data).
  virtual bool Read(std::uint32_t address, AccessSize size, AccessKind kind,
                    std::uint32_t& value) = 0;

  // A write at a byte address aligned to its size; false raises a data abort.
  virtual bool Write(std::uint32_t address, AccessSize size, std::uint32_t value) = 0;

  // Time moves on by `cycles` core cycles (flash busy timers count these).
  virtual void Advance(std::uint64_t cycles) { (void)cycles; }

  // The memory bytes instruction fetches from `address` on would read, while
  // such fetches change nothing beyond a read count (an array at rest, no
  // chip in a command or busy state); `count` gets how many bytes follow.
  // nullptr where a fetch may do more, or nothing answers. The core uses it
  // to pass over code that does not execute without fetching word by word.
  virtual const std::uint8_t* QuietFetchBytes(std::uint32_t address, std::uint32_t& count) {
    (void)address;
    (void)count;
    return nullptr;
  }
  // `fetches` fetches from QuietFetchBytes(address) were passed over: they
  // count as reads of whatever holds those bytes.
  virtual void CountQuietFetches(std::uint32_t address, std::uint64_t fetches) {
    (void)address;
    (void)fetches;
  }

  // For how many more cycles data reads at `address` stay steady: each
  // returns what the address gives in the state it is in now, at most
  // alternating with every read that state's unit answers (a status bit that
  // toggles on each read), and changes nothing but read counts and that
  // alternation. A new state (a busy flash done) begins with a new answer.
  // 0: no such promise; kSteadyForever: until written. A polling loop that
  // reads only such addresses, each an even number of times, repeats itself
  // exactly, and the core may pass over the repeats at once.
  virtual std::uint64_t SteadyReadsFor(std::uint32_t address, AccessSize size) {
    (void)address;
    (void)size;
    return 0;
  }
  // `reads` (an even number) steady reads at `address` were passed over:
  // they count as reads of whatever answers there.
  virtual void CountSteadyReads(std::uint32_t address, AccessSize size, std::uint64_t reads) {
    (void)address;
    (void)size;
    (void)reads;
  }
};

}  // namespace simboard
