#include "simboard/nor/nor_flash.h"

#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>
#include <limits>

namespace simboard {

namespace {

// Smallest n with 2^n >= value (value >= 1).
std::uint8_t Log2Ceiling(std::uint64_t value) {
  std::uint8_t n = 0;
  while ((std::uint64_t{1} << n) < value && n < 63) ++n;
  return n;
}

// Runs of equal sector sizes, in address order: (count, size).
std::vector<std::pair<std::uint32_t, std::uint32_t>> EraseRegions(const std::vector<std::uint32_t>& sectors) {
  std::vector<std::pair<std::uint32_t, std::uint32_t>> runs;
  for (auto size : sectors) {
    if (!runs.empty() && runs.back().second == size) {
      ++runs.back().first;
    } else {
      runs.emplace_back(1, size);
    }
  }
  return runs;
}

}  // namespace

// ---------------------------------------------------------------------------
// The CFI query table (Common Flash Interface, query structure overview):
// 10h "QRY", 13h primary command set, 15h primary extended table address,
// 17h/19h alternate set and table, 1Bh-26h system interface (voltages and
// timeouts as powers of two), 27h device size 2^n bytes, 28h interface code,
// 2Ah multi-byte write size, 2Ch number of erase block regions, 2Dh four bytes
// per region (blocks - 1, block size / 256, both 16 bits little-endian).

std::vector<std::uint8_t> BuildCfiTable(const NorDescription& chip) {
  bool amd = chip.command_set == CommandSet::AMD;
  bool sst = chip.command_set == CommandSet::SST;
  std::uint32_t buffer = chip.command_set == CommandSet::Intel ? chip.write_buffer_bytes : 0;
  auto runs = EraseRegions(chip.sectors);
  std::uint32_t first = chip.sectors.empty() ? 0 : chip.sectors.front();
  std::uint32_t last = chip.sectors.empty() ? 0 : chip.sectors.back();
  bool top_boot = runs.size() > 1 && last < first;
  bool bottom_boot = runs.size() > 1 && first < last;
  // Top-boot parts of the AMD family list their regions from the small boot
  // sectors up and flag themselves "top boot" in the extended table, which
  // tells software to read the list backwards.
  if (amd && top_boot) std::reverse(runs.begin(), runs.end());

  std::size_t geometry_end = 0x2D + 4 * runs.size();
  std::size_t primary = amd ? std::max<std::size_t>(0x40, geometry_end) : geometry_end;
  std::vector<std::uint8_t> t(primary + 16, 0);
  auto put16 = [&](std::size_t at, std::uint32_t value) {
    t[at] = static_cast<std::uint8_t>(value);
    t[at + 1] = static_cast<std::uint8_t>(value >> 8);
  };

  t[0x10] = 'Q';
  t[0x11] = 'R';
  t[0x12] = 'Y';
  // AMD/Fujitsu standard, SST, Intel/Sharp extended; SST parts have no
  // extended table.
  put16(0x13, amd ? 0x0002 : sst ? 0x0701 : 0x0001);
  put16(0x15, sst ? 0 : static_cast<std::uint32_t>(primary));
  put16(0x17, 0x0000);
  put16(0x19, 0x0000);
  t[0x1B] = 0x27;  // Vcc min 2.7 V (BCD volts)
  t[0x1C] = 0x36;  // Vcc max 3.6 V
  t[0x1D] = 0x00;  // no Vpp pin
  t[0x1E] = 0x00;
  // Typical times as 2^n, maximum as 2^m times typical: our times are exact,
  // so the maximum is twice the typical value.
  t[0x1F] = Log2Ceiling(std::max<std::uint32_t>(chip.program_time_us, 1));
  std::uint32_t buffer_time_us = chip.program_time_us * (1 + buffer / (chip.width_bits / 8) / 8);
  t[0x20] = buffer ? Log2Ceiling(std::max<std::uint32_t>(buffer_time_us, 1)) : 0x00;
  t[0x21] = Log2Ceiling(std::max<std::uint32_t>(chip.sector_erase_time_ms, 1));
  t[0x22] = amd || sst ? Log2Ceiling(std::max<std::uint32_t>(chip.chip_erase_time_ms, 1)) : 0x00;
  t[0x23] = 0x01;
  t[0x24] = buffer ? 0x01 : 0x00;
  t[0x25] = 0x01;
  t[0x26] = amd || sst ? 0x01 : 0x00;
  t[0x27] = Log2Ceiling(std::max<std::uint32_t>(chip.ChipSize(), 1));
  // Interface: 0 x8 only, 1 x16 only, 2 x8/x16, 3 x32 only.
  std::uint32_t interface = chip.width_bits == 32 ? 0x0003
                            : chip.width_bits == 16 || chip.byte_mode ? 0x0002
                                                                      : 0x0000;
  put16(0x28, interface);
  put16(0x2A, buffer ? Log2Ceiling(buffer) : 0x0000);
  t[0x2C] = static_cast<std::uint8_t>(runs.size());
  for (std::size_t i = 0; i < runs.size(); ++i) {
    put16(0x2D + 4 * i, runs[i].first - 1);
    put16(0x2F + 4 * i, runs[i].second / 256);
  }

  if (sst) {
    t.resize(geometry_end);
    return t;
  }
  std::size_t p = primary;
  t[p] = 'P';
  t[p + 1] = 'R';
  t[p + 2] = 'I';
  t[p + 3] = '1';
  if (amd) {
    // AMD extended query, version 1.1.
    t[p + 4] = '1';
    t[p + 5] = 0x00;   // unlock cycles required (address-sensitive unlock)
    t[p + 6] = 0x00;   // erase suspend not supported
    // Sector protection: one sector a group, by the persistent protection
    // bits (advanced sector protection, scheme 8), when the part has them.
    t[p + 7] = chip.persistent_protection ? 0x01 : 0x00;
    t[p + 8] = 0x00;   // no temporary sector unprotect
    t[p + 9] = chip.persistent_protection ? 0x08 : 0x00;
    t[p + 10] = 0x00;  // no simultaneous operation
    t[p + 11] = 0x00;  // no burst mode
    t[p + 12] = 0x00;  // no page mode
    t[p + 13] = 0x00;  // no acceleration supply
    t[p + 14] = 0x00;
    t[p + 15] = top_boot ? 0x03 : bottom_boot ? 0x02 : 0x00;  // boot sector location
  } else {
    // Intel extended query, version 1.0.
    t[p + 4] = '0';
    // Optional features: bits 1 and 2 erase and program suspend, bit 3
    // legacy lock/unlock (all blocks at once), bit 5 instant individual
    // block locking.
    put16(p + 5, 0x0006 | (chip.unlock_clears_all ? 0x0008 : 0x0020));
    put16(p + 7, 0x0000);
    t[p + 9] = 0x01;        // program after erase suspend
    put16(p + 10, chip.unlock_clears_all ? 0x0001 : 0x0003);  // block status: lock, lock-down
    t[p + 12] = 0x33;       // Vcc optimum 3.3 V
    t[p + 13] = 0x00;       // no Vpp
    t.resize(p + 14);
  }
  return t;
}

// ---------------------------------------------------------------------------
// Common chip parts

NorChip::NorChip(const NorDescription& description, NorCells& cells, const Clock& clock,
                 const NorTiming& timing, bool no_erase, Counters& counters)
    : description_(description),
      cells_(cells),
      clock_(clock),
      timing_(timing),
      no_erase_(no_erase),
      counters_(counters),
      cfi_(BuildCfiTable(description)) {
  std::uint32_t chip_bytes = description.width_bits / 8;
  std::uint32_t cell = 0;
  for (auto size : description.sectors) {
    sector_starts_.push_back(cell);
    cell += size / chip_bytes;
  }
  cell_count_ = cell;
}

NorChip::Sector NorChip::SectorOf(std::uint32_t address) const {
  address %= cell_count_;  // upper address lines beyond the chip are not decoded
  auto next = std::upper_bound(sector_starts_.begin(), sector_starts_.end(), address);
  std::size_t index = static_cast<std::size_t>(next - sector_starts_.begin()) - 1;
  std::uint32_t end = index + 1 < sector_starts_.size() ? sector_starts_[index + 1] : cell_count_;
  return {index, sector_starts_[index], end - sector_starts_[index]};
}

std::uint32_t NorChip::QueryValue(std::uint32_t address) const {
  std::uint32_t index = CommandIndex(address);
  return index < cfi_.size() ? cfi_[index] : 0;
}

bool NorChip::ProgramCell(std::uint32_t cell, std::uint32_t data, bool& changed) {
  cell %= cell_count_;
  data &= DataMask();
  std::uint32_t old = cells_.Load(cell);
  std::uint32_t stuck = cells_.Stuck(cell);
  std::uint32_t result = old & (data | stuck);
  changed = result != old;
  if (changed) cells_.Store(cell, result);
  counters_.bytes_programmed += description_.width_bits / 8;
  return result == data;
}

void NorChip::EraseSector(std::size_t sector) {
  std::uint32_t first = sector_starts_[sector];
  std::uint32_t end = sector + 1 < sector_starts_.size() ? sector_starts_[sector + 1] : cell_count_;
  std::uint32_t erased = DataMask();
  for (std::uint32_t cell = first; cell < end; ++cell) cells_.Store(cell, erased);
  ++counters_.sectors_erased;
}

// ---------------------------------------------------------------------------
// The command sets, each in its own file.

std::unique_ptr<NorChip> MakeNorChip(const NorDescription& description, NorCells& cells,
                                     const Clock& clock, const NorTiming& timing, bool no_erase,
                                     Counters& counters) {
  switch (description.command_set) {
    case CommandSet::Intel:
      return MakeIntelChip(description, cells, clock, timing, no_erase, counters);
    case CommandSet::SST:
      return MakeSstChip(description, cells, clock, timing, no_erase, counters);
    case CommandSet::AMD:
      break;
  }
  return MakeAmdChip(description, cells, clock, timing, no_erase, counters);
}

// ---------------------------------------------------------------------------
// The bank

// One chip's cells within the region's bytes: chip `chip` drives data lines
// chip*width .. chip*width + width - 1 of each bus word.
class NorRegion::ChipCells : public NorCells {
 public:
  ChipCells(NorRegion& region, unsigned chip) : region_(region), chip_(chip) {}

  std::uint32_t Load(std::uint32_t cell) const override {
    std::uint32_t value = 0;
    for (unsigned b = 0; b < region_.chip_bytes_; ++b) {
      value |= std::uint32_t{region_.data_[Offset(cell, b)]} << (8 * b);
    }
    return value;
  }

  void Store(std::uint32_t cell, std::uint32_t value) override {
    for (unsigned b = 0; b < region_.chip_bytes_; ++b) {
      std::size_t offset = Offset(cell, b);
      region_.data_[offset] = static_cast<std::uint8_t>(value >> (8 * b));
      region_.image_.Touch(offset, 1);
    }
  }

  bool Protected(std::size_t sector) const override {
    const auto& bits = region_.protection_[chip_];
    return sector < bits.size() && bits[sector];
  }

  void SetProtected(std::size_t sector, bool on) override {
    auto& bits = region_.protection_[chip_];
    if (sector >= bits.size() || bits[sector] == on) return;
    bits[sector] = on;
    region_.SaveProtection();
  }

  std::uint32_t Stuck(std::uint32_t cell) const override {
    if (region_.stuck_.empty()) return 0;
    std::uint32_t value = 0;
    for (unsigned b = 0; b < region_.chip_bytes_; ++b) {
      auto found = region_.stuck_.find(static_cast<std::uint32_t>(Offset(cell, b)));
      if (found != region_.stuck_.end()) value |= std::uint32_t{found->second} << (8 * b);
    }
    return value;
  }

 private:
  std::size_t Offset(std::uint32_t cell, unsigned chip_byte) const {
    return region_.LaneOffset(cell, chip_ * region_.chip_bytes_ + chip_byte);
  }

  NorRegion& region_;
  unsigned chip_;
};

NorRegion::NorRegion(const RegionDescription& description, bool big_endian)
    : Region(description.section, description.base, description.size),
      description_(description),
      big_endian_(big_endian),
      bus_bytes_(description.nor.BusBytes()),
      chip_bytes_(description.nor.width_bits / 8) {}

NorRegion::~NorRegion() {
  Settle();
  chips_.clear();
}

// Lane 0 carries data lines D0-D7. On a little-endian bus the byte at the
// lowest address of a bus word rides on lane 0; on a big-endian bus on the
// highest lane.
std::size_t NorRegion::LaneOffset(std::uint32_t bus_word, unsigned lane) const {
  unsigned k = big_endian_ ? bus_bytes_ - 1 - lane : lane;
  return std::size_t{bus_word} * bus_bytes_ + k;
}

std::unique_ptr<NorRegion> NorRegion::Create(const RegionDescription& description, bool big_endian,
                                             std::uint32_t clock_khz, const FaultDescription& faults,
                                             const Clock& clock, Counters& counters,
                                             std::string& error) {
  std::unique_ptr<NorRegion> region(new NorRegion(description, big_endian));
  region->counters_ = &counters;
  region->clock_ = &clock;
  region->flush_cycles_ = std::uint64_t{clock_khz};
  std::size_t size = static_cast<std::size_t>(description.size);
  const auto& image = description.nor.image;
  if (image.empty()) {
    region->memory_.assign(size, 0xFF);
    region->data_ = region->memory_.data();
  } else {
    std::string why;
    if (!region->image_.Open(image, size, 0xFF, why)) {
      error = "[" + description.section + "] Image: " + why;
      return nullptr;
    }
    region->data_ = region->image_.data();
  }
  for (const auto& stuck : faults.stuck_bits) {
    if (!region->Contains(stuck.address, 1)) continue;
    std::uint8_t bytes[4];
    SplitValue(stuck.mask, region->bus_bytes_, big_endian, bytes);
    for (unsigned k = 0; k < region->bus_bytes_; ++k) {
      if (bytes[k]) region->stuck_[stuck.address - description.base + k] |= bytes[k];
    }
  }
  NorTiming timing;
  std::uint64_t khz = clock_khz;
  timing.program_cycles = description.nor.program_time_us * khz / 1000;
  timing.sector_erase_cycles = description.nor.sector_erase_time_ms * khz;
  timing.chip_erase_cycles = description.nor.chip_erase_time_ms * khz;
  timing.erase_window_cycles = 50 * khz / 1000;  // 50 us sector erase time-out
  timing.refused_program_cycles = khz / 1000;     // 1 us
  timing.refused_erase_cycles = 100 * khz / 1000;  // 100 us
  if (faults.erase_never_ends) {
    // Centuries at any clock, and still no overflow for every sector at once.
    constexpr std::uint64_t kNever = std::uint64_t{1} << 50;
    timing.sector_erase_cycles = kNever;
    timing.chip_erase_cycles = kNever;
  }
  if (!region->LoadProtection(error)) return nullptr;
  for (unsigned c = 0; c < description.nor.chips; ++c) {
    region->cells_.push_back(std::make_unique<ChipCells>(*region, c));
    region->chips_.push_back(MakeNorChip(region->description_.nor, *region->cells_.back(), clock,
                                         timing, faults.no_erase, counters));
  }
  return region;
}

bool NorRegion::Read(std::uint32_t offset, unsigned count, AccessKind, std::uint8_t* bytes) {
  ++counters_->flash_reads;
  bool plain = true;
  for (auto& chip : chips_) plain = plain && chip->ReadsArray();
  if (plain) {
    std::memcpy(bytes, data_ + offset, count);
    WriteThrough();  // an erase may just have become due
    return true;
  }
  // Each bus word is one read cycle for every chip; the bytes come from the
  // lanes of the chips' answers.
  std::uint32_t word = offset / bus_bytes_;
  std::uint32_t values[4] = {};
  bool read[4] = {};
  for (unsigned i = 0; i < count; ++i) {
    std::uint32_t at = offset + i;
    if (at / bus_bytes_ != word) {
      word = at / bus_bytes_;
      std::fill(std::begin(read), std::end(read), false);
    }
    unsigned k = at % bus_bytes_;
    unsigned lane = big_endian_ ? bus_bytes_ - 1 - k : k;
    unsigned chip = lane / chip_bytes_;
    if (!read[chip]) {
      values[chip] = chips_[chip]->Read(word);
      read[chip] = true;
    }
    bytes[i] = static_cast<std::uint8_t>(values[chip] >> (8 * (lane % chip_bytes_)));
  }
  WriteThrough();
  return true;
}

bool NorRegion::Write(std::uint32_t offset, unsigned count, const std::uint8_t* bytes) {
  ++counters_->flash_writes;
  // Gather each chip's data lines per bus word; lanes the access does not
  // drive read as 1s (the data bus floats high).
  std::uint32_t i = 0;
  while (i < count) {
    std::uint32_t word = (offset + i) / bus_bytes_;
    std::uint32_t values[4] = {0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF};
    bool driven[4] = {};
    for (; i < count && (offset + i) / bus_bytes_ == word; ++i) {
      unsigned k = (offset + i) % bus_bytes_;
      unsigned lane = big_endian_ ? bus_bytes_ - 1 - k : k;
      unsigned chip = lane / chip_bytes_;
      unsigned shift = 8 * (lane % chip_bytes_);
      values[chip] = (values[chip] & ~(0xFFu << shift)) | (std::uint32_t{bytes[i]} << shift);
      driven[chip] = true;
    }
    for (unsigned c = 0; c < chips_.size(); ++c) {
      if (driven[c]) chips_[c]->Write(word, values[c]);
    }
  }
  WriteThrough();
  return true;
}

void NorRegion::WriteThrough() {
  if (!image_.dirty()) {
    changes_pending_ = false;
    return;
  }
  std::uint64_t now = clock_->cycles;
  if (!changes_pending_) {
    changes_pending_ = true;
    changed_since_ = now;
  }
  if (now - changed_since_ >= flush_cycles_) {
    image_.Flush();
    changes_pending_ = false;
  }
}

const std::uint8_t* NorRegion::QuietFetchBytes(std::uint32_t offset, std::uint32_t& count) {
  for (auto& chip : chips_) {
    if (!chip->ReadsArray()) return nullptr;
  }
  count = static_cast<std::uint32_t>(std::min<std::uint64_t>(size() - offset, std::numeric_limits<std::uint32_t>::max()));
  return data_ + offset;
}

void NorRegion::CountQuietFetches(std::uint64_t fetches) {
  counters_->flash_reads += fetches;
  WriteThrough();
}

// Each chip on the bus answers every read, so the bank is as steady as its
// least steady chip.
std::uint64_t NorRegion::SteadyReadsFor(std::uint32_t offset, unsigned count) {
  (void)count;
  const std::uint32_t word = offset / bus_bytes_;
  std::uint64_t steady = kSteadyForever;
  for (auto& chip : chips_) steady = std::min(steady, chip->SteadyFor(word));
  return steady;
}

void NorRegion::CountSteadyReads(std::uint32_t offset, unsigned count, std::uint64_t reads) {
  counters_->flash_reads += reads;
  // An odd count would flip the toggle bits: one real read does that.
  if ((reads & 1) != 0) {
    std::uint8_t ignored[4];
    --counters_->flash_reads;
    Read(offset, count, AccessKind::DataRead, ignored);
  }
  WriteThrough();
}

void NorRegion::Peek(std::uint32_t offset, std::uint32_t count, std::uint8_t* bytes) const {
  std::memcpy(bytes, data_ + offset, count);
}

void NorRegion::Poke(std::uint32_t offset, std::uint32_t count, const std::uint8_t* bytes) {
  std::memcpy(data_ + offset, bytes, count);
  image_.Touch(offset, count);
  image_.Flush();
}

// The protection bits of every chip, one byte per sector in chip order:
// 0x00 protected (the bit programmed), 0xFF not. A missing file means no
// sector is protected.
bool NorRegion::LoadProtection(std::string& error) {
  const NorDescription& nor = description_.nor;
  std::size_t sectors = nor.sectors.size();
  protection_.assign(nor.chips, std::vector<bool>(nor.persistent_protection ? sectors : 0, false));
  if (nor.protection_image.empty()) return true;
  std::error_code ec;
  if (!std::filesystem::exists(nor.protection_image, ec)) return true;
  std::ifstream in(nor.protection_image, std::ios::binary);
  std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (!in.eof() && in.fail()) {
    error = "[" + description_.section + "] ProtectionImage: cannot read " + nor.protection_image.string();
    return false;
  }
  if (bytes.size() != sectors * nor.chips) {
    error = "[" + description_.section + "] ProtectionImage: " + nor.protection_image.string() +
            " is " + std::to_string(bytes.size()) + " bytes, not the " +
            std::to_string(sectors * nor.chips) + " of " + std::to_string(nor.chips) +
            " chip(s) of " + std::to_string(sectors) + " sectors";
    return false;
  }
  for (unsigned c = 0; c < nor.chips; ++c) {
    for (std::size_t s = 0; s < sectors; ++s) protection_[c][s] = bytes[c * sectors + s] == 0;
  }
  return true;
}

// Written whole on each change (changes are rare): beside the old file, then
// renamed over it, so a failed write never leaves half a table.
void NorRegion::SaveProtection() {
  const auto& path = description_.nor.protection_image;
  if (path.empty()) return;
  std::string bytes;
  for (const auto& chip : protection_) {
    for (bool on : chip) bytes.push_back(on ? '\0' : '\xFF');
  }
  auto temporary = path;
  temporary += ".new";
  {
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out.flush()) return;
  }
  std::error_code ec;
  std::filesystem::rename(temporary, path, ec);
}

void NorRegion::Reset() {
  for (auto& chip : chips_) chip->Reset();
}

void NorRegion::Settle() {
  for (auto& chip : chips_) chip->Settle();
  image_.Flush();
  changes_pending_ = false;
}

}  // namespace simboard
