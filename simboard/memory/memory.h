// The board's memory system as the processor sees it: regions at fixed
// bases (RAM, peripheral space, flash banks) behind one Bus. A region deals in
// bytes; the bus composes halfwords and words from them in the board's byte
// order, so byte i of a region is always the byte at Base + i.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "simboard/memory/bus.h"

namespace simboard {

// Board time in core cycles. Flash busy timers compare against it.
struct Clock {
  std::uint64_t cycles = 0;
};

struct Counters {
  std::uint64_t instructions = 0;      // executed by the core
  std::uint64_t flash_reads = 0;       // bus cycles that read a flash bank
  std::uint64_t flash_writes = 0;      // bus cycles that wrote a flash bank
  std::uint64_t bytes_programmed = 0;  // flash bytes changed by program operations
  std::uint64_t sectors_erased = 0;    // sectors (blocks) erased, counted per chip

  std::uint64_t FlashCycles() const { return flash_reads + flash_writes; }
};

class Region {
 public:
  Region(std::string name, std::uint32_t base, std::uint64_t size)
      : name_(std::move(name)), base_(base), size_(size) {}
  virtual ~Region() = default;
  Region(const Region&) = delete;
  Region& operator=(const Region&) = delete;

  const std::string& name() const { return name_; }
  std::uint32_t base() const { return base_; }
  std::uint64_t size() const { return size_; }
  bool Contains(std::uint32_t address, unsigned bytes) const {
    return address >= base_ && std::uint64_t{address} - base_ + bytes <= size_;
  }

  // One bus access of `count` bytes (1, 2 or 4, aligned) at `offset` from the
  // base; bytes[k] is the byte at offset + k. False: the region does not
  // answer (the core takes an abort).
  virtual bool Read(std::uint32_t offset, unsigned count, AccessKind kind, std::uint8_t* bytes) = 0;
  virtual bool Write(std::uint32_t offset, unsigned count, const std::uint8_t* bytes) = 0;

  // The region's bytes without bus side effects, for loading programs and the
  // debugger's view of the memory contents (flash: the array, not the status).
  virtual void Peek(std::uint32_t offset, std::uint32_t count, std::uint8_t* bytes) const = 0;
  virtual void Poke(std::uint32_t offset, std::uint32_t count, const std::uint8_t* bytes) = 0;

  // Host memory standing for the whole region when every access is a plain
  // byte copy (RAM, kept peripheral registers), else nullptr.
  virtual std::uint8_t* Direct() { return nullptr; }

  // Bytes from `offset` that instruction fetches read without any effect but
  // a read count, `count` of them; nullptr when a fetch may do more. A
  // region that answers counts `fetches` such reads in CountQuietFetches.
  virtual const std::uint8_t* QuietFetchBytes(std::uint32_t offset, std::uint32_t& count) {
    (void)offset;
    (void)count;
    return nullptr;
  }
  virtual void CountQuietFetches(std::uint64_t fetches) { (void)fetches; }

  // For how many cycles reads of `count` bytes at `offset` stay steady, as
  // Bus::SteadyReadsFor says; plain memory (Direct) stays so until written.
  // CountSteadyReads counts `reads` such reads passed over.
  virtual std::uint64_t SteadyReadsFor(std::uint32_t offset, unsigned count) {
    (void)offset;
    (void)count;
    return Direct() != nullptr ? kSteadyForever : 0;
  }
  virtual void CountSteadyReads(std::uint32_t offset, unsigned count, std::uint64_t reads) {
    (void)offset;
    (void)count;
    (void)reads;
  }

  // Back to the power-on state of the region's state machines (contents stay).
  virtual void Reset() {}

 private:
  std::string name_;
  std::uint32_t base_;
  std::uint64_t size_;
};

// RAM: zeroed host memory (pages are only touched when used).
class RamRegion : public Region {
 public:
  RamRegion(std::string name, std::uint32_t base, std::uint64_t size);

  bool Read(std::uint32_t offset, unsigned count, AccessKind kind, std::uint8_t* bytes) override;
  bool Write(std::uint32_t offset, unsigned count, const std::uint8_t* bytes) override;
  void Peek(std::uint32_t offset, std::uint32_t count, std::uint8_t* bytes) const override;
  void Poke(std::uint32_t offset, std::uint32_t count, const std::uint8_t* bytes) override;
  std::uint8_t* Direct() override { return memory_.get(); }

  // Called with the processor address and length of every change made
  // through Write and Poke (the core keeps decoded instructions of RAM it
  // reads directly, and drops those the change covers).
  using ChangeHook = std::function<void(std::uint32_t address, std::uint32_t count)>;
  void SetChangeHook(ChangeHook hook) { changed_ = std::move(hook); }

 private:
  ChangeHook changed_;
  struct Free {
    void operator()(std::uint8_t* p) const;
  };
  std::unique_ptr<std::uint8_t[], Free> memory_;
};

// Plain peripheral space that keeps what is written (board initialisation
// writes clock and bus-controller registers there) and reads 0 elsewhere.
// Stored sparsely: such a region may span hundreds of megabytes of which a
// few registers are used.
class IoRegion : public Region {
 public:
  IoRegion(std::string name, std::uint32_t base, std::uint64_t size) : Region(std::move(name), base, size) {}

  bool Read(std::uint32_t offset, unsigned count, AccessKind kind, std::uint8_t* bytes) override;
  bool Write(std::uint32_t offset, unsigned count, const std::uint8_t* bytes) override;
  void Peek(std::uint32_t offset, std::uint32_t count, std::uint8_t* bytes) const override;
  void Poke(std::uint32_t offset, std::uint32_t count, const std::uint8_t* bytes) override;
  // Kept registers read back what was written, without side effects.
  std::uint64_t SteadyReadsFor(std::uint32_t, unsigned) override { return kSteadyForever; }

 private:
  static constexpr std::uint32_t kPageBytes = 4096;
  std::unordered_map<std::uint32_t, std::vector<std::uint8_t>> pages_;  // by offset / kPageBytes
};

// Value <-> bytes in a byte order: little-endian puts the least significant
// byte first; big-endian (BE-32, word-invariant) the most significant.
std::uint32_t ComposeValue(const std::uint8_t* bytes, unsigned count, bool big_endian);
void SplitValue(std::uint32_t value, unsigned count, bool big_endian, std::uint8_t* bytes);

// The processor's bus over the regions. Accesses outside every region fail,
// which the core turns into a prefetch or data abort.
class MemoryBus : public Bus {
 public:
  MemoryBus(bool big_endian, Clock& clock) : big_endian_(big_endian), clock_(clock) {}

  bool big_endian() const { return big_endian_; }
  Clock& clock() { return clock_; }

  // Takes the region; regions must not overlap (the board file checks).
  Region& Add(std::unique_ptr<Region> region);
  const std::vector<std::unique_ptr<Region>>& regions() const { return regions_; }
  Region* Find(std::uint32_t address, unsigned bytes = 1);

  bool Read(std::uint32_t address, AccessSize size, AccessKind kind, std::uint32_t& value) override;
  bool Write(std::uint32_t address, AccessSize size, std::uint32_t value) override;
  void Advance(std::uint64_t cycles) override { clock_.cycles += cycles; }
  const std::uint8_t* QuietFetchBytes(std::uint32_t address, std::uint32_t& count) override;
  void CountQuietFetches(std::uint32_t address, std::uint64_t fetches) override;
  std::uint64_t SteadyReadsFor(std::uint32_t address, AccessSize size) override;
  void CountSteadyReads(std::uint32_t address, AccessSize size, std::uint64_t reads) override;

  // The debugger's and loader's view: bytes in address order without side
  // effects. False if any byte of the range lies outside every region.
  bool Peek(std::uint32_t address, std::uint32_t count, std::uint8_t* bytes) const;
  bool Poke(std::uint32_t address, std::uint32_t count, const std::uint8_t* bytes);

  // Accesses that hit no region since construction.
  std::uint64_t unmapped_accesses() const { return unmapped_; }

 private:
  bool big_endian_;
  Clock& clock_;
  std::vector<std::unique_ptr<Region>> regions_;
  Region* last_ = nullptr;
  std::uint64_t unmapped_ = 0;
};

}  // namespace simboard
