#include "tests/test_driver/test_target.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <sstream>

namespace testdriver {
namespace {

// Loader layouts: image at the entry, parameter block and data behind it.
constexpr std::uint32_t kFirstBreakpoint = 0x7F8, kFirstParams = 0x800;
constexpr std::uint32_t kSecondBreakpoint = 0xBF8, kSecondParams = 0xC00;
constexpr std::uint32_t kParamsSize = 100;
constexpr std::uint32_t kResultByte = 7;
constexpr std::uint32_t kCycleAddresses = 20, kCycleData = 60;

const char* Env(const char* name) {
  const char* value = std::getenv(name);
  return value && *value ? value : nullptr;
}

std::string Hex(std::uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08X", value);
  return text;
}

bool ParseNumber(const std::string& text, std::uint32_t& out) {
  if (text.empty()) return false;
  char* end = nullptr;
  unsigned long long value = std::strtoull(text.c_str(), &end, 0);
  if (*end != '\0' || value > 0xFFFFFFFFull) return false;
  out = static_cast<std::uint32_t>(value);
  return true;
}

std::vector<std::string> Split(const std::string& text, char separator) {
  std::vector<std::string> parts;
  std::string part;
  std::istringstream stream(text);
  while (std::getline(stream, part, separator)) {
    if (!part.empty()) parts.push_back(part);
  }
  return parts;
}

// "COUNTxSIZE,COUNTxSIZE,..." or plain sizes.
bool ParseSectors(const std::string& text, std::vector<std::uint32_t>& sectors) {
  std::vector<std::uint32_t> result;
  for (const std::string& part : Split(text, ',')) {
    std::uint32_t count = 1, size = 0;
    auto x = part.find_first_of("xX", part.size() > 1 && part[0] == '0' ? 2 : 0);
    if (x != std::string::npos) {
      if (!ParseNumber(part.substr(0, x), count) || !ParseNumber(part.substr(x + 1), size))
        return false;
    } else if (!ParseNumber(part, size)) {
      return false;
    }
    if (size == 0 || count == 0 || count > 65536) return false;
    result.insert(result.end(), count, size);
  }
  if (result.empty()) return false;
  sectors = std::move(result);
  return true;
}

}  // namespace

Switches Switches::FromEnvironment(std::vector<std::string>& errors) {
  Switches s;
  s.nor_sectors = {16384, 8192, 8192, 32768};
  s.nor_sectors.insert(s.nor_sectors.end(), 31, 65536);
  auto bad = [&errors](const char* name, const char* value) {
    errors.push_back(std::string("Error: test driver: bad ") + name + " \"" + value + "\".\n");
  };
  auto number = [&](const char* name, std::uint32_t& out) {
    if (const char* v = Env(name)) {
      if (!ParseNumber(v, out)) bad(name, v);
    }
  };
  auto flag = [](const char* name) {
    const char* v = Env(name);
    return v && std::strcmp(v, "0") != 0;
  };

  if (const char* v = Env("TESTDRIVER_STATE_DIR")) s.state_dir = v;
  if (const char* v = Env("TESTDRIVER_JOURNAL")) s.journal = v;
  if (const char* v = Env("TESTDRIVER_FAIL")) {
    for (const std::string& item : Split(v, ',')) {
      Failure f;
      std::string rest = item;
      std::uint32_t n = 0;
      bool ok = true;
      if (auto eq = rest.find('='); eq != std::string::npos) {
        ok = ParseNumber(rest.substr(eq + 1), n) && ok;
        f.result = static_cast<int>(n);
        rest.resize(eq);
      }
      if (auto at = rest.find('@'); at != std::string::npos) {
        ok = ParseNumber(rest.substr(at + 1), n) && ok;
        f.after = static_cast<int>(n);
        rest.resize(at);
      }
      ok = ParseNumber(rest, n) && n < 58 && ok;
      f.slot = static_cast<int>(n);
      if (ok) s.failures.push_back(f); else bad("TESTDRIVER_FAIL", item.c_str());
    }
  }
  if (const char* v = Env("TESTDRIVER_SAY")) {
    for (const std::string& entry : Split(v, '\n')) {
      auto colon = entry.find(':');
      std::uint32_t slot = 0;
      if (colon == std::string::npos || !ParseNumber(entry.substr(0, colon), slot) || slot >= 58) {
        bad("TESTDRIVER_SAY", entry.c_str());
        continue;
      }
      s.messages[static_cast<int>(slot)].push_back(entry.substr(colon + 1) + "\n");
    }
  }
  s.run_never_ends = flag("TESTDRIVER_RUN_NEVER_ENDS");
  std::uint32_t polls = 0;
  number("TESTDRIVER_RUN_POLLS", polls);
  s.run_polls = static_cast<int>(std::min<std::uint32_t>(polls, 1000000));
  s.verify_fails = flag("TESTDRIVER_VERIFY_FAIL");
  s.lpc = flag("TESTDRIVER_LPC");
  if (const char* v = Env("TESTDRIVER_ENDIAN")) {
    std::string order = v;
    for (char& c : order) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (order == "little") s.little_endian = true;
    else if (order == "big") s.little_endian = false;
    else bad("TESTDRIVER_ENDIAN", v);
  }
  if (const char* v = Env("TESTDRIVER_NOR")) {
    std::string text = v;
    auto colon = text.find(':');
    std::uint32_t base = 0;
    std::vector<std::uint32_t> sectors;
    if (colon == std::string::npos || !ParseNumber(text.substr(0, colon), base) ||
        !ParseSectors(text.substr(colon + 1), sectors)) {
      bad("TESTDRIVER_NOR", v);
    } else {
      s.nor_base = base;
      s.nor_sectors = std::move(sectors);
    }
  }
  number("TESTDRIVER_DEVICE_CODE", s.device_code);
  if (const char* v = Env("TESTDRIVER_NAND")) {
    auto parts = Split(v, ':');
    std::uint32_t blocks = 0, pages = 0, size = 0;
    if (parts.size() != 3 || !ParseNumber(parts[0], blocks) || !ParseNumber(parts[1], pages) ||
        !ParseNumber(parts[2], size) || blocks == 0 || pages == 0 || size == 0 ||
        static_cast<std::uint64_t>(blocks) * pages * size > (1ull << 30)) {
      bad("TESTDRIVER_NAND", v);
    } else {
      s.nand_blocks = blocks;
      s.nand_pages = pages;
      s.nand_page_size = size;
    }
  }
  if (const char* v = Env("TESTDRIVER_NAND_BAD")) {
    for (const std::string& item : Split(v, ',')) {
      std::uint32_t block = 0;
      if (ParseNumber(item, block)) s.nand_bad.insert(block); else bad("TESTDRIVER_NAND_BAD", v);
    }
  }
  number("TESTDRIVER_NAND_ID", s.nand_code);
  if (const char* v = Env("TESTDRIVER_RAM_FAULT")) {
    std::uint32_t address = 0;
    if (ParseNumber(v, address)) s.ram_fault = address; else bad("TESTDRIVER_RAM_FAULT", v);
  }
  if (const char* v = Env("TESTDRIVER_DESCRIPTION")) s.description = v;
  number("TESTDRIVER_VERSION", s.version);
  if (const char* v = std::getenv("TESTDRIVER_SPEEDS")) {
    if (std::strcmp(v, "null") == 0) {
      s.null_speed_names = true;
    } else {
      s.speed_names = Split(v, ',');
      s.speed_count = static_cast<std::uint32_t>(s.speed_names.size());
    }
  }
  if (s.null_speed_names) number("TESTDRIVER_SPEED_COUNT", s.speed_count);
  number("TESTDRIVER_COMM_TYPES", s.comm_types);
  return s;
}

bool FlashArray::Open(const std::filesystem::path& file, std::size_t length,
                      std::uint8_t erased) {
  Close();
  if (file.empty()) {
    memory_.assign(length, erased);
    data_ = memory_.data();
    size_ = length;
    return true;
  }
  std::error_code ignored;
  bool fresh = !std::filesystem::exists(file, ignored) ||
               std::filesystem::file_size(file, ignored) != length;
  if (!file_.Open(file, platform::MappedFile::OpenMode::OpenOrCreate)) return false;
  if (fresh && !file_.Truncate(0)) return false;
  if (!file_.Map(length)) return false;
  data_ = reinterpret_cast<std::uint8_t*>(file_.data());
  size_ = length;
  if (fresh) std::memset(data_, erased, length);
  return true;
}

void FlashArray::Close() {
  file_.Close();
  memory_.clear();
  memory_.shrink_to_fit();
  data_ = nullptr;
  size_ = 0;
}

TestTarget::TestTarget(Switches switches) : switches_(std::move(switches)) {
  std::uint32_t offset = 0;
  for (std::uint32_t size : switches_.nor_sectors) {
    sector_starts_.push_back(offset);
    offset += size;
  }
  Reset();
  state_ = 1024;
  if (!switches_.journal.empty()) journal_ = std::fopen(switches_.journal.c_str(), "a");
}

TestTarget::~TestTarget() {
  CloseStorage();
  if (journal_) std::fclose(journal_);
}

void TestTarget::Journal(const std::string& line) {
  if (!journal_) return;
  std::fputs(line.c_str(), journal_);
  std::fputc('\n', journal_);
  std::fflush(journal_);
}

bool TestTarget::OpenStorage(std::string& error) {
  std::size_t nor_size = 0;
  for (std::uint32_t size : switches_.nor_sectors) nor_size += size;
  std::size_t nand_size = static_cast<std::size_t>(switches_.nand_blocks) *
                          switches_.nand_pages * switches_.nand_page_size;
  const std::filesystem::path& dir = switches_.state_dir;
  if (!dir.empty()) {
    std::error_code ignored;
    std::filesystem::create_directories(dir, ignored);
  }
  auto file = [&dir](const char* name) {
    return dir.empty() ? std::filesystem::path() : dir / name;
  };
  if (!nor_.Open(file("nor.bin"), nor_size, 0xFF) ||
      !nor_protect_.Open(file("nor.protect"), switches_.nor_sectors.size(), 0) ||
      !nand_.Open(file("nand.bin"), nand_size, 0xFF)) {
    error = "Error: test driver: cannot open the flash files in " + dir.string() + ".\n";
    CloseStorage();
    return false;
  }
  // RAM keeps what it held, like a board that stays powered between commands.
  if (!dir.empty()) {
    ram_file_ = dir / "ram.pages";
    if (std::FILE* in = std::fopen(ram_file_.c_str(), "rb")) {
      std::uint32_t number = 0;
      auto page = std::make_unique<std::array<std::uint8_t, 4096>>();
      while (std::fread(&number, sizeof number, 1, in) == 1 &&
             std::fread(page->data(), page->size(), 1, in) == 1) {
        pages_[number] = std::move(page);
        page = std::make_unique<std::array<std::uint8_t, 4096>>();
      }
      std::fclose(in);
    }
  }
  return true;
}

void TestTarget::CloseStorage() {
  if (!ram_file_.empty()) {
    if (std::FILE* out = std::fopen(ram_file_.c_str(), "wb")) {
      for (const auto& [number, page] : pages_) {
        std::fwrite(&number, sizeof number, 1, out);
        std::fwrite(page->data(), page->size(), 1, out);
      }
      std::fclose(out);
    }
    ram_file_.clear();
  }
  nor_.Close();
  nor_protect_.Close();
  nand_.Close();
}

bool TestTarget::IsFlash(std::uint32_t address) const { return SectorAt(address) >= 0; }

int TestTarget::SectorAt(std::uint32_t address) const {
  if (address < switches_.nor_base) return -1;
  std::uint64_t offset = address - switches_.nor_base;
  if (sector_starts_.empty()) return -1;
  std::uint64_t end = static_cast<std::uint64_t>(sector_starts_.back()) + switches_.nor_sectors.back();
  if (offset >= end) return -1;
  auto it = std::upper_bound(sector_starts_.begin(), sector_starts_.end(),
                             static_cast<std::uint32_t>(offset));
  return static_cast<int>(it - sector_starts_.begin()) - 1;
}

std::uint32_t TestTarget::SectorStart(int sector) const {
  return switches_.nor_base + sector_starts_[static_cast<std::size_t>(sector)];
}

std::uint8_t TestTarget::ReadByte(std::uint32_t address) {
  int sector = SectorAt(address);
  if (sector >= 0) {
    std::size_t offset = address - switches_.nor_base;
    return offset < nor_.size() ? nor_.data()[offset] : 0xFF;
  }
  std::uint8_t value = 0;
  auto page = pages_.find(address >> 12);
  if (page != pages_.end()) value = (*page->second)[address & 0xFFF];
  if (switches_.ram_fault && *switches_.ram_fault == address) value ^= 0xFF;
  return value;
}

void TestTarget::WriteByte(std::uint32_t address, std::uint8_t value) {
  // A plain bus write does not change flash contents; commands do.
  if (SectorAt(address) >= 0) return;
  auto& page = pages_[address >> 12];
  if (!page) {
    page = std::make_unique<std::array<std::uint8_t, 4096>>();
    page->fill(0);
  }
  (*page)[address & 0xFFF] = value;
}

std::uint32_t TestTarget::ReadWord(std::uint32_t address) {
  std::uint32_t value = 0;
  for (std::uint32_t k = 0; k < 4; ++k) {
    std::uint32_t byte = ReadByte(address + k);
    value |= byte << (8 * (little_endian_ ? k : 3 - k));
  }
  return value;
}

void TestTarget::WriteWord(std::uint32_t address, std::uint32_t value) {
  for (std::uint32_t k = 0; k < 4; ++k) {
    WriteByte(address + k, static_cast<std::uint8_t>(value >> (8 * (little_endian_ ? k : 3 - k))));
  }
}

int TestTarget::RegisterIndex(const std::string& name) {
  std::string upper;
  for (char c : name) upper += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  if (upper == "SP") return 13;
  if (upper == "LR") return 14;
  if (upper == "PC") return kPc;
  if (upper == "CPSR") return kCpsr;
  if (upper == "SPSR") return kSpsr;
  if (upper.size() >= 2 && upper.size() <= 3 && upper[0] == 'R' &&
      std::all_of(upper.begin() + 1, upper.end(), [](char c) { return std::isdigit(c); })) {
    int n = std::atoi(upper.c_str() + 1);
    if (n <= 15 && !(upper.size() == 3 && upper[1] == '0')) return n;
  }
  return -1;
}

std::uint32_t TestTarget::AddBreakpoint(std::uint32_t address, std::uint32_t flags,
                                        std::uint32_t arg2, std::uint32_t kind) {
  for (std::size_t i = 0; i < breakpoints_.size(); ++i) {
    if (!breakpoints_[i].used) {
      breakpoints_[i] = {address, flags, arg2, kind, true};
      return static_cast<std::uint32_t>(i + 1);
    }
  }
  return 0;
}

bool TestTarget::RemoveBreakpoint(std::uint32_t number) {
  if (number == 0 || number > breakpoints_.size() || !breakpoints_[number - 1].used) return false;
  breakpoints_[number - 1].used = false;
  return true;
}

void TestTarget::RemoveAllBreakpoints() {
  for (Breakpoint& b : breakpoints_) b.used = false;
}

bool TestTarget::Run() {
  if (state_ == 0) return false;
  std::uint32_t entry = registers_[kPc];
  run_kind_ = RunKind::Free;
  // A loader run: the core starts at an image (not blank memory) with the
  // breakpoint at the end of one of the two image areas.
  bool image = ReadWord(entry) != 0xFFFFFFFFu && ReadWord(entry) != 0 && !IsFlash(entry);
  for (const Breakpoint& b : breakpoints_) {
    if (!b.used || !(b.flags & 1u) || !image) continue;
    if (b.address == entry + kFirstBreakpoint) run_kind_ = RunKind::Loader;
    if (b.address == entry + kSecondBreakpoint) run_kind_ = RunKind::LoaderFamily2;
  }
  run_entry_ = entry;
  polls_left_ = switches_.run_polls;
  state_ = 0;
  Journal(std::string("target runs from ") + Hex(entry) +
          (run_kind_ == RunKind::Free ? " (no loader: runs until stopped)" : " (loader)"));
  return true;
}

void TestTarget::Stop() {
  if (state_ == 0) {
    state_ = 128;
    run_kind_ = RunKind::None;
  }
}

void TestTarget::Step() {
  state_ = 1;
  run_kind_ = RunKind::None;
  registers_[kPc] += 4;
}

void TestTarget::Reset() {
  registers_.fill(0);
  registers_[kCpsr] = 0xD3;  // supervisor mode, interrupts off
  if (state_ == 0) state_ = 128;
  run_kind_ = RunKind::None;
}

std::uint32_t TestTarget::Poll(std::uint32_t& breakpoint) {
  breakpoint = 0;
  if (state_ == 0) {
    bool loader = run_kind_ == RunKind::Loader || run_kind_ == RunKind::LoaderFamily2;
    if (!loader || switches_.run_never_ends) return 0;
    if (polls_left_ > 0) {
      --polls_left_;
      return 0;
    }
    bool second = run_kind_ == RunKind::LoaderFamily2;
    FinishLoaderRun(second, run_entry_);
    std::uint32_t at = run_entry_ + (second ? kSecondBreakpoint : kFirstBreakpoint);
    registers_[kPc] = at;
    run_kind_ = RunKind::None;
    state_ = 4;
    halted_at_ = 0;
    for (std::size_t i = 0; i < breakpoints_.size(); ++i) {
      if (breakpoints_[i].used && breakpoints_[i].address == at) {
        halted_at_ = static_cast<std::uint32_t>(i + 1);
        break;
      }
    }
  }
  if (state_ == 4) breakpoint = halted_at_;
  return state_;
}

void TestTarget::FinishLoaderRun(bool second_family, std::uint32_t entry) {
  if (second_family) RunSecondFamily(entry + kSecondParams);
  else RunFirstFamily(entry + kFirstParams);
}

void TestTarget::EraseSector(int sector) {
  if (nor_protect_.data()[sector]) {
    Journal("flash: sector " + std::to_string(sector) + " is protected, not erased");
    return;
  }
  std::uint32_t offset = sector_starts_[static_cast<std::size_t>(sector)];
  std::memset(nor_.data() + offset, 0xFF, switches_.nor_sectors[static_cast<std::size_t>(sector)]);
  Journal("flash: erased sector " + std::to_string(sector) + " at " + Hex(SectorStart(sector)));
}

void TestTarget::ProtectSector(int sector) {
  nor_protect_.data()[sector] = 1;
  Journal("flash: protected sector " + std::to_string(sector) + " at " + Hex(SectorStart(sector)));
}

bool TestTarget::ProgramNor(std::uint32_t address, const std::vector<std::uint8_t>& data) {
  bool ok = true;
  for (std::size_t i = 0; i < data.size(); ++i) {
    std::uint32_t a = address + static_cast<std::uint32_t>(i);
    int sector = SectorAt(a);
    if (sector < 0 || nor_protect_.data()[sector]) {
      ok = false;
      continue;
    }
    nor_.data()[a - switches_.nor_base] &= data[i];
  }
  return ok;
}

std::vector<std::uint8_t> TestTarget::ReadBlock(std::uint32_t address, std::uint32_t length) {
  std::vector<std::uint8_t> bytes(length);
  for (std::uint32_t i = 0; i < length; ++i) bytes[i] = ReadByte(address + i);
  return bytes;
}

void TestTarget::RunFirstFamily(std::uint32_t p) {
  std::uint8_t code = ReadByte(p);
  std::uint8_t cycles = ReadByte(p + 1), width = ReadByte(p + 2), chips = ReadByte(p + 3);
  std::uint8_t mode = ReadByte(p + 4), verify = ReadByte(p + 5);
  std::uint32_t flash = ReadWord(p + 8), address = ReadWord(p + 12), length = ReadWord(p + 16);
  std::uint32_t cycle_address[10], cycle_data[10];
  std::string line = "loader code=" + std::to_string(code) + " cycles=" + std::to_string(cycles) +
                     " width=" + std::to_string(width) + " chips=" + std::to_string(chips) +
                     " mode=" + std::to_string(mode) + " verify=" + std::to_string(verify) +
                     " flash=" + Hex(flash) + " address=" + Hex(address) +
                     " length=" + std::to_string(length) + " cycle=";
  for (int i = 0; i < 10; ++i) {
    cycle_address[i] = ReadWord(p + kCycleAddresses + 4 * i);
    cycle_data[i] = ReadWord(p + kCycleData + 4 * i);
    line += (i ? "," : "") + Hex(cycle_address[i]) + "/" + Hex(cycle_data[i]);
  }
  Journal(line);

  std::uint32_t used = switches_.lpc ? 0 : std::min<std::uint32_t>(cycles, 10);
  // The sector-address cycle marks a sector operation; without cycles the
  // loader drives an on-chip controller at the sector address it is given.
  bool sector_cycle = used == 0;
  for (std::uint32_t i = 0; i < used; ++i) sector_cycle |= cycle_address[i] == address;

  switch (code) {
    case 3:
    case 5: {
      auto apply = [&](int sector) {
        if (code == 3) EraseSector(sector); else ProtectSector(sector);
      };
      if (switches_.lpc && code == 3) {
        for (int k = cycles; k <= width; ++k) {
          if (k < static_cast<int>(sector_starts_.size())) apply(k);
          else Journal("loader fault: no sector " + std::to_string(k));
        }
      } else if (sector_cycle) {
        int sector = SectorAt(address);
        if (sector < 0) Journal("loader fault: " + Hex(address) + " is not in the flash");
        else apply(sector);
      } else {
        for (int k = 0; k < static_cast<int>(sector_starts_.size()); ++k) apply(k);
      }
      break;
    }
    case 4: {
      std::vector<std::uint8_t> data = ReadBlock(p + kParamsSize, length);
      bool ok = ProgramNor(address, data);
      if (!ok) Journal("loader fault: program outside the flash or into a protected sector");
      std::vector<std::uint8_t> back = ReadBlock(address, length);
      bool differs = back != data || switches_.verify_fails;
      if (verify && differs) WriteByte(p + kResultByte, 1);
      Journal("flash: programmed " + std::to_string(length) + " bytes at " + Hex(address) +
              (differs ? " (verify mismatch)" : ""));
      break;
    }
    case 8: {
      bool identify = false;
      for (std::uint32_t i = 0; i < used; ++i) identify |= (cycle_data[i] & 0xFF) == 0x90;
      if (identify) {
        WriteWord(p + 4, switches_.device_code);
        Journal("flash: device code " + Hex(switches_.device_code));
      } else {
        Journal("flash: back to read mode");
      }
      break;
    }
    default:
      Journal("loader fault: unknown operation code " + std::to_string(code));
  }
}

void TestTarget::RunSecondFamily(std::uint32_t p) {
  std::uint8_t code = ReadByte(p), verify = ReadByte(p + 5);
  std::uint32_t flash = ReadWord(p + 8), address = ReadWord(p + 12), length = ReadWord(p + 16);
  std::uint32_t first = ReadWord(p + kCycleAddresses), last = ReadWord(p + kCycleAddresses + 4);
  std::uint32_t page_size = ReadWord(p + kCycleData), pages = ReadWord(p + kCycleData + 4);
  Journal("loader code=" + std::to_string(code) + " verify=" + std::to_string(verify) +
          " flash=" + Hex(flash) + " address=" + Hex(address) +
          " length=" + std::to_string(length) + " first=" + std::to_string(first) +
          " last=" + std::to_string(last) + " pagesize=" + std::to_string(page_size) +
          " pages=" + std::to_string(pages));
  const std::uint32_t block_size = switches_.nand_pages * switches_.nand_page_size;
  const std::uint32_t data = p + kParamsSize;
  auto bad = [this](std::uint32_t block) { return switches_.nand_bad.count(block) != 0; };
  auto in_nand = [&](std::uint64_t offset, std::uint64_t count) {
    return offset + count <= nand_.size();
  };

  switch (code) {
    case 13:
    case 15: {
      if (code == 15) {
        std::uint32_t mask = 0;
        for (std::uint32_t b = first; b <= last && b - first < 32; ++b) {
          if (bad(b)) mask |= 1u << (b - first);
        }
        WriteWord(p + kCycleAddresses, mask);
        Journal("nand: blocks " + std::to_string(first) + "-" + std::to_string(last) +
                " bad mask " + Hex(mask));
        break;
      }
      // The loader takes its geometry from the block it is given.
      std::uint64_t given = static_cast<std::uint64_t>(page_size) * pages;
      for (std::uint32_t b = first; b <= last && b - first < 32; ++b) {
        if (bad(b)) {
          Journal("nand: block " + std::to_string(b) + " is bad, not erased");
          continue;
        }
        if (given == 0 || !in_nand(b * given, given)) {
          Journal("loader fault: block " + std::to_string(b) + " is not in the flash");
          continue;
        }
        std::memset(nand_.data() + b * given, 0xFF, given);
        Journal("nand: erased block " + std::to_string(b));
      }
      break;
    }
    case 14:
    case 16:
    case 17: {
      std::uint64_t offset = static_cast<std::uint64_t>(address) - flash;
      if (address < flash || !in_nand(offset, length)) {
        Journal("loader fault: " + Hex(address) + " is not in the flash");
        if (code == 14 && verify) WriteByte(p + kResultByte, 1);
        break;
      }
      if (code != 14) {
        for (std::uint32_t i = 0; i < length; ++i) WriteByte(data + i, nand_.data()[offset + i]);
        Journal("nand: read " + std::to_string(length) + " bytes at " + Hex(address));
        break;
      }
      bool differs = switches_.verify_fails;
      for (std::uint32_t i = 0; i < length; ++i) {
        std::uint8_t byte = ReadByte(data + i);
        if (bad(static_cast<std::uint32_t>((offset + i) / block_size))) {
          differs |= byte != 0xFF;  // a bad block does not take the data
          continue;
        }
        nand_.data()[offset + i] &= byte;
        differs |= nand_.data()[offset + i] != byte;
      }
      if (verify && differs) WriteByte(p + kResultByte, 1);
      Journal("nand: programmed " + std::to_string(length) + " bytes at " + Hex(address) +
              (differs ? " (verify mismatch)" : ""));
      break;
    }
    case 18:
      WriteWord(p + 4, switches_.nand_code);
      Journal("nand: device code " + Hex(switches_.nand_code));
      break;
    default:
      Journal("loader fault: unknown operation code " + std::to_string(code));
  }
}

}  // namespace testdriver
