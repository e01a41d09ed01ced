#include "simboard/nand/nand_chip.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

namespace simboard {

namespace {

constexpr std::uint32_t kResetUs = 5;

bool WriteAll(int fd, const std::uint8_t* bytes, std::size_t count, std::uint64_t offset) {
  while (count > 0) {
    ssize_t done = ::pwrite(fd, bytes, count, static_cast<off_t>(offset));
    if (done <= 0) return false;
    bytes += done;
    count -= static_cast<std::size_t>(done);
    offset += static_cast<std::uint64_t>(done);
  }
  return true;
}

}  // namespace

NandChip::NandChip(const NandPart& part, const Clock& clock, std::uint32_t clock_khz,
                   Counters& counters)
    : part_(part),
      clock_(clock),
      cycles_per_us_x1000_(clock_khz),
      counters_(counters),
      blocks_(part.blocks),
      bad_(part.blocks, false),
      page_register_(part.PageTotal(), 0xFF) {}

NandChip::~NandChip() {
  if (fd_ >= 0) ::close(fd_);
}

std::unique_ptr<NandChip> NandChip::Create(const NandPart& part,
                                           const std::filesystem::path& image,
                                           const std::vector<std::uint32_t>& bad_blocks,
                                           const Clock& clock, std::uint32_t clock_khz,
                                           Counters& counters, std::string& error) {
  std::unique_ptr<NandChip> chip(new NandChip(part, clock, clock_khz, counters));
  const std::uint32_t block_bytes = part.BlockTotal();
  if (!image.empty()) {
    chip->fd_ = ::open(image.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (chip->fd_ < 0) {
      error = "Image: cannot open or create " + image.string();
      return nullptr;
    }
    struct stat info {};
    ::fstat(chip->fd_, &info);
    const std::uint64_t blocks =
        std::min<std::uint64_t>(static_cast<std::uint64_t>(info.st_size) / block_bytes, part.blocks);
    std::vector<std::uint8_t> buffer(block_bytes);
    for (std::uint64_t b = 0; b < blocks; ++b) {
      if (::pread(chip->fd_, buffer.data(), block_bytes, static_cast<off_t>(b * block_bytes)) !=
          static_cast<ssize_t>(block_bytes)) {
        error = "Image: cannot read " + image.string();
        return nullptr;
      }
      if (std::any_of(buffer.begin(), buffer.end(), [](std::uint8_t v) { return v != 0xFF; })) {
        chip->blocks_[b] = buffer;
      }
    }
    chip->file_blocks_ = blocks;
  }
  // Factory bad blocks: the marker byte of the first two pages is 0 and the
  // blocks refuse program and erase from then on.
  for (std::uint32_t block : bad_blocks) {
    chip->bad_[block] = true;
    std::uint8_t* bytes = chip->Block(block, true);
    for (unsigned page = 0; page < 2; ++page) bytes[page * part.PageTotal() + part.BadMarkColumn()] = 0;
    chip->StoreBlock(block);
  }
  for (std::uint32_t block = 0; block < part.blocks; ++block) {
    if (chip->FactoryBad(block)) chip->bad_[block] = true;
  }
  return chip;
}

std::uint8_t* NandChip::Block(std::uint32_t block, bool allocate) {
  auto& bytes = blocks_[block];
  if (bytes.empty()) {
    if (!allocate) return nullptr;
    bytes.assign(part_.BlockTotal(), 0xFF);
  }
  return bytes.data();
}

const std::uint8_t* NandChip::PageBytes(std::uint32_t page) const {
  const auto& bytes = blocks_[page / part_.pages_per_block];
  if (bytes.empty()) return nullptr;
  return bytes.data() + (page % part_.pages_per_block) * part_.PageTotal();
}

bool NandChip::FactoryBad(std::uint32_t block) const {
  for (std::uint32_t page = 0; page < 2; ++page) {
    const std::uint8_t* bytes = PageBytes(block * part_.pages_per_block + page);
    if (bytes != nullptr && bytes[part_.BadMarkColumn()] != 0xFF) return true;
  }
  return false;
}

// Writes a block through to the image; a block past the end first fills
// the gap with erased blocks.
void NandChip::StoreBlock(std::uint32_t block) {
  if (fd_ < 0) return;
  const std::uint32_t block_bytes = part_.BlockTotal();
  if (block > file_blocks_) {
    std::vector<std::uint8_t> erased(block_bytes, 0xFF);
    for (std::uint64_t b = file_blocks_; b < block; ++b) WriteAll(fd_, erased.data(), block_bytes, b * block_bytes);
  }
  const std::uint8_t* bytes = Block(block, true);
  WriteAll(fd_, bytes, block_bytes, std::uint64_t{block} * block_bytes);
  file_blocks_ = std::max<std::uint64_t>(file_blocks_, block + 1);
}

void NandChip::StorePage(std::uint32_t page, const std::uint8_t* bytes) {
  const std::uint32_t block = page / part_.pages_per_block;
  std::uint8_t* cells = Block(block, true) + (page % part_.pages_per_block) * part_.PageTotal();
  std::memcpy(cells, bytes, part_.PageTotal());
  if (fd_ < 0) return;
  if (block >= file_blocks_) {
    StoreBlock(block);
  } else {
    WriteAll(fd_, cells, part_.PageTotal(), std::uint64_t{page} * part_.PageTotal());
  }
}

void NandChip::PeekPage(std::uint32_t page, std::uint8_t* bytes) const {
  const std::uint8_t* cells = PageBytes(page);
  if (cells == nullptr) {
    std::memset(bytes, 0xFF, part_.PageTotal());
  } else {
    std::memcpy(bytes, cells, part_.PageTotal());
  }
}

void NandChip::PokePage(std::uint32_t page, const std::uint8_t* bytes) { StorePage(page, bytes); }

void NandChip::Busy(std::uint32_t microseconds) {
  ready_at_ = clock_.cycles + std::max<std::uint64_t>(1, microseconds * cycles_per_us_x1000_ / 1000);
}

void NandChip::Reset() {
  state_ = State::Idle;
  area_ = 0;
  area_one_shot_ = false;
  address_.clear();
  ready_at_ = 0;
}

std::uint32_t NandChip::Row(unsigned first) const {
  std::uint32_t row = 0;
  for (unsigned i = 0; i < RowCycles() && first + i < address_.size(); ++i) {
    row |= std::uint32_t{address_[first + i]} << (8 * i);
  }
  return row % (part_.blocks * part_.pages_per_block);
}

void NandChip::LoadPage() {
  PeekPage(page_, page_register_.data());
  ++counters_.flash_reads;
  Busy(part_.read_us);
}

void NandChip::Command(std::uint8_t command) {
  switch (command) {
    case 0xFF:  // reset
      Reset();
      Busy(kResetUs);
      return;
    case 0x90:
      state_ = State::ReadId;
      id_index_ = 0;
      address_.clear();
      return;
    case 0x70:
      state_ = State::Status;
      return;
    case 0x00:
    case 0x01:
    case 0x50:
      if (!part_.large_page) {
        area_ = command == 0x00 ? 0 : command == 0x01 ? 256 : part_.page_bytes;
        area_one_shot_ = command == 0x01;
      }
      state_ = State::Read;
      command_ = command;
      address_.clear();
      return;
    case 0x30:  // large pages: read confirm
      if (part_.large_page && state_ == State::Read && address_.size() >= part_.address_cycles) {
        LoadPage();
      }
      return;
    case 0x05:  // random data output: new column follows
      if (state_ == State::Read) {
        command_ = 0x05;
        address_.clear();
      }
      return;
    case 0xE0:
      if (state_ == State::Read && command_ == 0x05 && address_.size() >= 2) {
        column_ = (address_[0] | address_[1] << 8) % part_.PageTotal();
      }
      return;
    case 0x80:
      state_ = State::ProgramInput;
      command_ = 0x80;
      address_.clear();
      std::fill(page_register_.begin(), page_register_.end(), 0xFF);
      return;
    case 0x85:  // random data input
      if (state_ == State::ProgramInput) {
        command_ = 0x85;
        address_.clear();
      }
      return;
    case 0x10: {
      if (state_ != State::ProgramInput) return;
      failed_ = bad_[page_ / part_.pages_per_block];
      if (!failed_) {
        std::vector<std::uint8_t> cells(part_.PageTotal());
        PeekPage(page_, cells.data());
        for (std::size_t i = 0; i < cells.size(); ++i) cells[i] &= page_register_[i];
        StorePage(page_, cells.data());
        counters_.bytes_programmed += part_.page_bytes;
      }
      ++counters_.flash_writes;
      if (area_one_shot_) area_ = 0;
      area_one_shot_ = false;
      state_ = State::Status;
      Busy(part_.program_us);
      return;
    }
    case 0x60:
      state_ = State::EraseAddress;
      address_.clear();
      return;
    case 0xD0: {
      if (state_ != State::EraseAddress || address_.size() < RowCycles()) return;
      const std::uint32_t block = Row(0) / part_.pages_per_block;
      failed_ = bad_[block];
      if (!failed_) {
        blocks_[block].assign(part_.BlockTotal(), 0xFF);
        StoreBlock(block);
        blocks_[block].clear();
        ++counters_.sectors_erased;
      }
      state_ = State::Status;
      Busy(part_.erase_us);
      return;
    }
    default:
      state_ = State::Idle;
      return;
  }
}

void NandChip::Address(std::uint8_t address) {
  address_.push_back(address);
  const unsigned columns = ColumnCycles();
  switch (state_) {
    case State::Read:
      if (command_ == 0x05) return;  // the column waits for 0xE0
      if (address_.size() == part_.address_cycles) {
        column_ = part_.large_page ? (address_[0] | address_[1] << 8) : address_[0] + area_;
        column_ %= part_.PageTotal();
        page_ = Row(columns);
        if (!part_.large_page) LoadPage();  // small pages start reading at once
      }
      return;
    case State::ProgramInput:
      if (command_ == 0x85) {
        if (address_.size() == 2) column_ = (address_[0] | address_[1] << 8) % part_.PageTotal();
        return;
      }
      if (address_.size() == part_.address_cycles) {
        column_ = part_.large_page ? (address_[0] | address_[1] << 8) : address_[0] + area_;
        column_ %= part_.PageTotal();
        page_ = Row(columns);
      }
      return;
    default:
      return;
  }
}

void NandChip::WriteData(std::uint8_t data) {
  if (state_ != State::ProgramInput || column_ >= part_.PageTotal()) return;
  page_register_[column_++] = data;
}

std::uint8_t NandChip::ReadData() {
  switch (state_) {
    case State::ReadId:
      return part_.id[id_index_++ % 4];
    case State::Status:
      return static_cast<std::uint8_t>(nand::kStatusNotProtected | (Ready() ? nand::kStatusReady : 0) |
                                       (failed_ ? nand::kStatusFail : 0));
    case State::Read: {
      if (!Ready()) return 0;  // the page register is not loaded yet
      const std::uint8_t value = page_register_[column_++];
      if (column_ >= part_.PageTotal()) {
        if (part_.large_page) {
          column_ = part_.PageTotal() - 1;  // large pages stop at the page's end
        } else {
          // Small pages read on into the next page (area C: its spare bytes).
          page_ = (page_ + 1) % (part_.blocks * part_.pages_per_block);
          column_ = area_ == part_.page_bytes ? part_.page_bytes : 0;
          LoadPage();
        }
      }
      return value;
    }
    default:
      return 0;
  }
}

}  // namespace simboard
