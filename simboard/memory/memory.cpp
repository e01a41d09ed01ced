#include "simboard/memory/memory.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>

namespace simboard {

RamRegion::RamRegion(std::string name, std::uint32_t base, std::uint64_t size)
    : Region(std::move(name), base, size),
      memory_(static_cast<std::uint8_t*>(std::calloc(static_cast<std::size_t>(size), 1))) {
  if (!memory_) throw std::bad_alloc();
}

void RamRegion::Free::operator()(std::uint8_t* p) const { std::free(p); }

bool RamRegion::Read(std::uint32_t offset, unsigned count, AccessKind, std::uint8_t* bytes) {
  std::memcpy(bytes, memory_.get() + offset, count);
  return true;
}

bool RamRegion::Write(std::uint32_t offset, unsigned count, const std::uint8_t* bytes) {
  std::memcpy(memory_.get() + offset, bytes, count);
  if (changed_) changed_(base() + offset, count);
  return true;
}

void RamRegion::Peek(std::uint32_t offset, std::uint32_t count, std::uint8_t* bytes) const {
  std::memcpy(bytes, memory_.get() + offset, count);
}

void RamRegion::Poke(std::uint32_t offset, std::uint32_t count, const std::uint8_t* bytes) {
  std::memcpy(memory_.get() + offset, bytes, count);
  if (changed_) changed_(base() + offset, count);
}

bool IoRegion::Read(std::uint32_t offset, unsigned count, AccessKind, std::uint8_t* bytes) {
  Peek(offset, count, bytes);
  return true;
}

bool IoRegion::Write(std::uint32_t offset, unsigned count, const std::uint8_t* bytes) {
  Poke(offset, count, bytes);
  return true;
}

void IoRegion::Peek(std::uint32_t offset, std::uint32_t count, std::uint8_t* bytes) const {
  for (std::uint32_t i = 0; i < count; ++i) {
    std::uint32_t at = offset + i;
    auto page = pages_.find(at / kPageBytes);
    bytes[i] = page == pages_.end() ? 0 : page->second[at % kPageBytes];
  }
}

void IoRegion::Poke(std::uint32_t offset, std::uint32_t count, const std::uint8_t* bytes) {
  for (std::uint32_t i = 0; i < count; ++i) {
    std::uint32_t at = offset + i;
    auto& page = pages_[at / kPageBytes];
    if (page.empty()) page.assign(kPageBytes, 0);
    page[at % kPageBytes] = bytes[i];
  }
}

std::uint32_t ComposeValue(const std::uint8_t* bytes, unsigned count, bool big_endian) {
  std::uint32_t value = 0;
  for (unsigned k = 0; k < count; ++k) {
    unsigned shift = 8 * (big_endian ? count - 1 - k : k);
    value |= std::uint32_t{bytes[k]} << shift;
  }
  return value;
}

void SplitValue(std::uint32_t value, unsigned count, bool big_endian, std::uint8_t* bytes) {
  for (unsigned k = 0; k < count; ++k) {
    unsigned shift = 8 * (big_endian ? count - 1 - k : k);
    bytes[k] = static_cast<std::uint8_t>(value >> shift);
  }
}

Region& MemoryBus::Add(std::unique_ptr<Region> region) {
  Region* added = region.get();
  regions_.push_back(std::move(region));
  std::sort(regions_.begin(), regions_.end(),
            [](const auto& a, const auto& b) { return a->base() < b->base(); });
  last_ = nullptr;
  return *added;
}

Region* MemoryBus::Find(std::uint32_t address, unsigned bytes) {
  if (last_ && last_->Contains(address, bytes)) return last_;
  for (auto& region : regions_) {
    if (region->Contains(address, bytes)) {
      last_ = region.get();
      return last_;
    }
  }
  return nullptr;
}

bool MemoryBus::Read(std::uint32_t address, AccessSize size, AccessKind kind, std::uint32_t& value) {
  unsigned count = static_cast<unsigned>(size);
  Region* region = Find(address, count);
  if (region == nullptr) {
    ++unmapped_;
    return false;
  }
  std::uint8_t bytes[4];
  if (!region->Read(address - region->base(), count, kind, bytes)) return false;
  value = ComposeValue(bytes, count, big_endian_);
  return true;
}

bool MemoryBus::Write(std::uint32_t address, AccessSize size, std::uint32_t value) {
  unsigned count = static_cast<unsigned>(size);
  Region* region = Find(address, count);
  if (region == nullptr) {
    ++unmapped_;
    return false;
  }
  std::uint8_t bytes[4];
  SplitValue(value, count, big_endian_, bytes);
  return region->Write(address - region->base(), count, bytes);
}

const std::uint8_t* MemoryBus::QuietFetchBytes(std::uint32_t address, std::uint32_t& count) {
  Region* region = Find(address, 4);
  if (region == nullptr) return nullptr;
  return region->QuietFetchBytes(address - region->base(), count);
}

void MemoryBus::CountQuietFetches(std::uint32_t address, std::uint64_t fetches) {
  if (Region* region = Find(address)) region->CountQuietFetches(fetches);
}

std::uint64_t MemoryBus::SteadyReadsFor(std::uint32_t address, AccessSize size) {
  const unsigned count = static_cast<unsigned>(size);
  Region* region = Find(address, count);
  return region != nullptr ? region->SteadyReadsFor(address - region->base(), count) : 0;
}

void MemoryBus::CountSteadyReads(std::uint32_t address, AccessSize size, std::uint64_t reads) {
  const unsigned count = static_cast<unsigned>(size);
  if (Region* region = Find(address, count))
    region->CountSteadyReads(address - region->base(), count, reads);
}

bool MemoryBus::Peek(std::uint32_t address, std::uint32_t count, std::uint8_t* bytes) const {
  std::uint64_t at = address;
  std::uint64_t end = at + count;
  while (at < end) {
    const Region* region = nullptr;
    for (const auto& r : regions_) {
      if (r->Contains(static_cast<std::uint32_t>(at), 1)) region = r.get();
    }
    if (region == nullptr) return false;
    std::uint64_t chunk = std::min<std::uint64_t>(end - at, region->base() + region->size() - at);
    region->Peek(static_cast<std::uint32_t>(at - region->base()), static_cast<std::uint32_t>(chunk),
                 bytes + (at - address));
    at += chunk;
  }
  return true;
}

bool MemoryBus::Poke(std::uint32_t address, std::uint32_t count, const std::uint8_t* bytes) {
  // Check the whole range first so a failed poke changes nothing.
  std::uint64_t at = address;
  std::uint64_t end = at + count;
  while (at < end) {
    Region* region = Find(static_cast<std::uint32_t>(at));
    if (region == nullptr) return false;
    at = region->base() + region->size();
  }
  at = address;
  while (at < end) {
    Region* region = Find(static_cast<std::uint32_t>(at));
    std::uint64_t chunk = std::min<std::uint64_t>(end - at, region->base() + region->size() - at);
    region->Poke(static_cast<std::uint32_t>(at - region->base()), static_cast<std::uint32_t>(chunk),
                 bytes + (at - address));
    at += chunk;
  }
  return true;
}

}  // namespace simboard
