#include "operations/testing/fake_target.h"

#include <algorithm>
#include <chrono>
#include <numeric>
#include <thread>

namespace romsmith::testing {

FakeTarget::FakeTarget(MessageLog& log, Geometry geometry)
    : log_(log), geometry_(std::move(geometry)) {
  ram_.assign(geometry_.ram_size, 0);
  const std::uint64_t total =
      std::accumulate(geometry_.block_sizes.begin(), geometry_.block_sizes.end(), std::uint64_t{0});
  flash_.assign(total, 0xFF);
}

void FakeTarget::FailAfter(const std::string& name, int after) {
  std::lock_guard lock(mutex_);
  fail_after_[name] = after;
}

std::uint32_t FakeTarget::FlashOffset(std::uint32_t block) const {
  std::uint32_t offset = 0;
  for (std::uint32_t b = 0; b < block && b < geometry_.block_sizes.size(); ++b)
    offset += geometry_.block_sizes[b];
  return offset;
}

std::vector<FakeTarget::Run> FakeTarget::runs() const {
  std::lock_guard lock(mutex_);
  return runs_;
}

int FakeTarget::calls(const std::string& name) const {
  std::lock_guard lock(mutex_);
  auto it = calls_.find(name);
  return it == calls_.end() ? 0 : it->second;
}

bool FakeTarget::bound() const {
  std::lock_guard lock(mutex_);
  return bound_;
}

bool FakeTarget::running() const {
  std::lock_guard lock(mutex_);
  return running_;
}

std::map<std::uint32_t, std::uint32_t> FakeTarget::registers_written() const {
  std::lock_guard lock(mutex_);
  std::map<std::uint32_t, std::uint32_t> words;
  for (const auto& [address, byte] : other_) words[address & ~3u] |= 0;  // keys only
  std::map<std::uint32_t, std::uint32_t> result;
  for (const auto& [address, unused] : words) {
    std::uint8_t bytes[4] = {};
    for (std::uint32_t i = 0; i < 4; ++i) {
      auto it = other_.find(address + i);
      bytes[i] = it == other_.end() ? 0 : it->second;
    }
    result[address] = Word(bytes);
  }
  return result;
}

void FakeTarget::SetRegister(std::uint32_t address, std::uint32_t value) {
  std::lock_guard lock(mutex_);
  std::uint8_t bytes[4];
  PutWord(bytes, value);
  for (std::uint32_t i = 0; i < 4; ++i) other_[address + i] = bytes[i];
}

std::uint32_t FakeTarget::ReadRamWord(std::uint32_t address) const {
  std::lock_guard lock(mutex_);
  const std::uint32_t offset = address - geometry_.ram_address;
  return Word(&ram_[offset]);
}

bool FakeTarget::Pass(const std::string& name) {
  ++calls_[name];
  auto it = fail_after_.find(name);
  if (it == fail_after_.end()) return true;
  if (it->second <= 0) return false;
  --it->second;
  return true;
}

std::uint8_t* FakeTarget::Byte(std::uint32_t address) {
  if (address - geometry_.ram_address < ram_.size()) return &ram_[address - geometry_.ram_address];
  if (!geometry_.nand && address - geometry_.flash_address < flash_.size())
    return &flash_[address - geometry_.flash_address];
  return &other_[address];
}

std::uint32_t FakeTarget::Word(const std::uint8_t* at) const {
  if (geometry_.little_endian)
    return at[0] | (at[1] << 8) | (at[2] << 16) | (static_cast<std::uint32_t>(at[3]) << 24);
  return at[3] | (at[2] << 8) | (at[1] << 16) | (static_cast<std::uint32_t>(at[0]) << 24);
}

void FakeTarget::PutWord(std::uint8_t* at, std::uint32_t value) const {
  for (int i = 0; i < 4; ++i)
    at[geometry_.little_endian ? i : 3 - i] = static_cast<std::uint8_t>(value >> (8 * i));
}

std::int64_t FakeTarget::BlockAt(std::uint32_t offset) const {
  std::uint32_t start = 0;
  for (std::size_t b = 0; b < geometry_.block_sizes.size(); ++b) {
    if (offset < start + geometry_.block_sizes[b]) return static_cast<std::int64_t>(b);
    start += geometry_.block_sizes[b];
  }
  return -1;
}

// ---------------------------------------------------------------- wrappers

bool FakeTarget::WaitUnlessHung(const std::string& name) {
  if (name != hang_) return true;
  std::unique_lock lock(cancel_mutex_);
  cancel_changed_.wait_for(lock, std::chrono::seconds(10), [this] { return cancelled_.load(); });
  return false;
}

void FakeTarget::CancelWaits() {
  {
    std::lock_guard lock(cancel_mutex_);
    cancelled_ = true;
  }
  cancel_changed_.notify_all();
}

bool FakeTarget::BindDriver() {
  if (!WaitUnlessHung("bind")) return false;
  std::lock_guard lock(mutex_);
  if (!Pass("bind")) {
    log_.Error("Error: unable to load emulator module.\n");
    return false;
  }
  bound_ = true;
  ++binds_;
  return true;
}

void FakeTarget::UnbindDriver() {
  std::lock_guard lock(mutex_);
  bound_ = false;
}

bool FakeTarget::WriteMemory(std::uint32_t address, std::uint32_t value, std::uint32_t size) {
  std::lock_guard lock(mutex_);
  if (!Pass("write") || (size != 1 && size != 2 && size != 4)) {
    log_.Info("Error: write memory failed.\n");
    return false;
  }
  for (std::uint32_t i = 0; i < size; ++i) {
    const std::uint32_t shift = geometry_.little_endian ? 8 * i : 8 * (size - 1 - i);
    if (static_cast<std::int64_t>(address + i) == broken_ram_word_) continue;
    *Byte(address + i) = static_cast<std::uint8_t>(value >> shift);
  }
  return true;
}

bool FakeTarget::ReadMemory(std::uint32_t address, std::uint32_t* value, std::uint32_t size) {
  std::lock_guard lock(mutex_);
  if (!Pass("read") || (size != 1 && size != 2 && size != 4)) {
    log_.Error("Error: read memory failed.");
    return false;
  }
  std::uint32_t result = 0;
  for (std::uint32_t i = 0; i < size; ++i) {
    const std::uint32_t shift = geometry_.little_endian ? 8 * i : 8 * (size - 1 - i);
    result |= static_cast<std::uint32_t>(*Byte(address + i)) << shift;
  }
  *value = result;
  return true;
}

bool FakeTarget::FillMemory(std::uint32_t address, const std::uint8_t* bytes, std::uint32_t count,
                            std::uint32_t) {
  std::lock_guard lock(mutex_);
  if (!Pass("fill")) {
    log_.Error("Error: fill memory failed.\n");
    return false;
  }
  for (std::uint32_t i = 0; i < count; ++i) {
    if (static_cast<std::int64_t>(address + i) == broken_ram_word_) continue;
    *Byte(address + i) = bytes[i];
  }
  return true;
}

bool FakeTarget::DumpMemory(std::uint32_t address, std::uint8_t* bytes, std::uint32_t count,
                            std::uint32_t) {
  int delay;
  {
    std::lock_guard lock(mutex_);
    delay = dump_delay_ms_;
  }
  if (delay > 0) std::this_thread::sleep_for(std::chrono::milliseconds(delay));
  std::lock_guard lock(mutex_);
  if (!Pass("dump")) {
    log_.Error("Error: dump memory failed.");
    return false;
  }
  for (std::uint32_t i = 0; i < count; ++i) bytes[i] = *Byte(address + i);
  return true;
}

bool FakeTarget::SetPC(std::uint32_t value) {
  std::lock_guard lock(mutex_);
  if (!Pass("pc")) {
    log_.Info("Error: write register failed.\n");
    return false;
  }
  pc_ = value;
  return true;
}

bool FakeTarget::RunTarget() {
  std::lock_guard lock(mutex_);
  if (!Pass("run")) {
    log_.Info("Error: run target failed.\n");
    return false;
  }
  running_ = true;
  if (never_halt_ || pc_ != geometry_.ram_address) return true;
  const std::uint32_t end = geometry_.ram_address + (geometry_.nand ? 0xBF8u : 0x7F8u);
  if (!breakpoints_.count(end)) return true;  // would run past the image
  RunLoader();
  running_ = false;
  pc_ = end;
  return true;
}

bool FakeTarget::StopTarget() {
  if (!WaitUnlessHung("stop")) return false;
  std::lock_guard lock(mutex_);
  if (!Pass("stop")) {
    log_.Info("Error: stop target failed.\n");
    return false;
  }
  running_ = false;
  return true;
}

bool FakeTarget::ResetTarget() {
  if (!WaitUnlessHung("reset")) return false;
  std::lock_guard lock(mutex_);
  if (!Pass("reset")) {
    log_.Info("Error: reset target failed.\n");
    return false;
  }
  return true;
}

bool FakeTarget::GetTargetStatus(bool* running) {
  std::lock_guard lock(mutex_);
  if (!Pass("status")) {
    log_.Error("Error: get target status failed.\n");
    return false;
  }
  *running = running_;
  return true;
}

bool FakeTarget::SetBreakpoint(std::uint32_t address, std::uint32_t* number) {
  std::lock_guard lock(mutex_);
  if (!Pass("breakpoint")) {
    log_.Error("Error: breakpoint set failed.\n");
    return false;
  }
  breakpoints_.insert(address);
  *number = static_cast<std::uint32_t>(breakpoints_.size());
  return true;
}

bool FakeTarget::ClearAllBreakpoints() {
  std::lock_guard lock(mutex_);
  if (!Pass("clear")) {
    log_.Error("Error: clear all breakpoints failed.\n");
    return false;
  }
  breakpoints_.clear();
  return true;
}

// ---------------------------------------------------------------- loader

void FakeTarget::RunLoader() {
  const std::uint32_t params_offset = geometry_.nand ? 0xC00 : 0x800;
  std::uint8_t* p = &ram_[params_offset];
  std::uint8_t* data = p + 100;
  const std::uint8_t op = p[0];
  const std::uint32_t address = Word(p + 12);
  const std::uint32_t length = Word(p + 16);
  const auto cycle_address = [&](int i) { return Word(p + 20 + 4 * i); };
  const auto cycle_data = [&](int i) { return Word(p + 60 + 4 * i); };
  Run run;
  run.params.assign(p, p + 100);
  const std::uint32_t data_bytes =
      std::min<std::uint32_t>(length, static_cast<std::uint32_t>(ram_.size() - params_offset - 100));
  run.data.assign(data, data + data_bytes);
  runs_.push_back(run);
  const std::uint32_t offset = address - geometry_.flash_address;

  switch (op) {
    case 3: {  // erase: the chip on a chip-erase command (0x10), else one sector
      const std::uint8_t cycles = p[1];
      if (cycles > 0 && (cycle_data(cycles - 1) & 0xFF) == 0x10) {
        std::fill(flash_.begin(), flash_.end(), 0xFF);
      } else if (const std::int64_t block = BlockAt(offset); block >= 0) {
        const std::uint32_t start = FlashOffset(static_cast<std::uint32_t>(block));
        std::fill_n(flash_.begin() + start, geometry_.block_sizes[block], 0xFF);
      }
      break;
    }
    case 4:
    case 14: {
      bool mismatch = verify_fails_;
      for (std::uint32_t i = 0; i < data_bytes && offset + i < flash_.size(); ++i) {
        flash_[offset + i] &= data[i];
        if (flash_[offset + i] != data[i]) mismatch = true;
      }
      if (p[5] != 0 && mismatch) p[7] = 1;
      break;
    }
    case 8:
    case 18:
      PutWord(p + 4, device_code_);
      break;
    case 13:
      for (std::uint32_t b = cycle_address(0); b <= cycle_address(1); ++b) {
        if (b >= geometry_.block_sizes.size() || bad_blocks_.count(b)) continue;
        std::fill_n(flash_.begin() + FlashOffset(b), geometry_.block_sizes[b], 0xFF);
      }
      break;
    case 15: {
      std::uint32_t mask = 0;
      for (std::uint32_t b = cycle_address(0); b <= cycle_address(1) && b - cycle_address(0) < 32;
           ++b)
        if (bad_blocks_.count(b)) mask |= 1u << (b - cycle_address(0));
      PutWord(p + 20, mask);
      break;
    }
    case 16:
    case 17:
      for (std::uint32_t i = 0; i < 4096; ++i)
        data[i] = offset + i < flash_.size() ? flash_[offset + i] : 0xFF;
      break;
    default:
      break;
  }
  (void)cycle_data;
}

}  // namespace romsmith::testing
