#include "simboard/description/board_file.h"

#include <algorithm>
#include <cctype>
#include <fstream>
#include <limits>
#include <sstream>

#include "simboard/description/onchip_board_file.h"

namespace simboard {

namespace {

std::string_view Trim(std::string_view text) {
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front()))) text.remove_prefix(1);
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back()))) text.remove_suffix(1);
  return text;
}

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) ==
                  std::tolower(static_cast<unsigned char>(y));
         });
}

std::string Hex(std::uint64_t value) {
  std::ostringstream out;
  out << "0x" << std::uppercase << std::hex << value;
  return out.str();
}

}  // namespace

// ---------------------------------------------------------------------------
// IniText

std::optional<IniText> IniText::Load(const std::filesystem::path& path, std::string& error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    error = path.string() + ": cannot open the board file";
    return std::nullopt;
  }
  std::ostringstream text;
  text << in.rdbuf();
  return Parse(text.str());
}

IniText IniText::Parse(std::string_view text) {
  IniText ini;
  Section* current = nullptr;
  while (!text.empty()) {
    std::size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    line = Trim(line);
    if (line.empty() || line.front() == ';' || line.front() == '#') continue;
    if (line.front() == '[') {
      std::size_t close = line.find(']');
      std::string name(Trim(line.substr(1, close == std::string_view::npos ? line.size() - 1 : close - 1)));
      auto found = std::find_if(ini.sections_.begin(), ini.sections_.end(),
                                [&](const auto& s) { return s.first == name; });
      if (found == ini.sections_.end()) {
        ini.sections_.emplace_back(name, Section{});
        current = &ini.sections_.back().second;
      } else {
        current = &found->second;
      }
      continue;
    }
    std::size_t equals = line.find('=');
    if (equals == std::string_view::npos || current == nullptr) continue;
    std::string key(Trim(line.substr(0, equals)));
    std::string_view value = line.substr(equals + 1);
    // A comment may follow the value.
    std::size_t comment = value.find_first_of(";#");
    if (comment != std::string_view::npos) value = value.substr(0, comment);
    std::string value_text(Trim(value));
    auto same = std::find_if(current->entries.begin(), current->entries.end(),
                             [&](const auto& e) { return e.first == key; });
    if (same != current->entries.end()) {
      same->second = value_text;
    } else {
      current->entries.emplace_back(key, value_text);
    }
  }
  return ini;
}

bool IniText::HasSection(const std::string& section) const {
  return std::any_of(sections_.begin(), sections_.end(),
                     [&](const auto& s) { return s.first == section; });
}

const std::string* IniText::Find(const std::string& section, const std::string& key) const {
  for (const auto& [name, content] : sections_) {
    if (name != section) continue;
    for (const auto& [k, v] : content.entries) {
      if (k == key) return &v;
    }
  }
  return nullptr;
}

std::vector<std::string> IniText::Sections() const {
  std::vector<std::string> names;
  for (const auto& s : sections_) names.push_back(s.first);
  return names;
}

std::vector<std::string> IniText::Keys(const std::string& section) const {
  std::vector<std::string> keys;
  for (const auto& [name, content] : sections_) {
    if (name != section) continue;
    for (const auto& entry : content.entries) keys.push_back(entry.first);
  }
  return keys;
}

// ---------------------------------------------------------------------------
// Numbers

std::optional<std::uint64_t> ParseBoardNumber(std::string_view text, bool allow_suffix) {
  text = Trim(text);
  unsigned base = 10;
  if (!text.empty() && text.front() == '$') {
    base = 16;
    text.remove_prefix(1);
  } else if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    base = 16;
    text.remove_prefix(2);
  }
  std::uint64_t multiplier = 1;
  if (allow_suffix && !text.empty()) {
    char last = static_cast<char>(std::toupper(static_cast<unsigned char>(text.back())));
    if (last == 'K' || (last == 'M')) {
      multiplier = last == 'K' ? 1024 : 1024 * 1024;
      text.remove_suffix(1);
    }
  }
  if (text.empty()) return std::nullopt;
  std::uint64_t value = 0;
  for (char c : text) {
    unsigned digit;
    if (c >= '0' && c <= '9') {
      digit = static_cast<unsigned>(c - '0');
    } else if (base == 16 && std::isxdigit(static_cast<unsigned char>(c))) {
      digit = static_cast<unsigned>(std::toupper(static_cast<unsigned char>(c)) - 'A' + 10);
    } else {
      return std::nullopt;
    }
    if (value > (std::numeric_limits<std::uint64_t>::max() - digit) / base) return std::nullopt;
    value = value * base + digit;
  }
  if (value > std::numeric_limits<std::uint64_t>::max() / multiplier) return std::nullopt;
  return value * multiplier;
}

const char* CoreKindName(CoreKind kind) {
  switch (kind) {
    case CoreKind::ARM9TDMI: return "ARM9TDMI";
    case CoreKind::ARM920T: return "ARM920T";
    default: return "ARM7TDMI";
  }
}

const char* RegionKindName(RegionKind kind) {
  switch (kind) {
    case RegionKind::RAM: return "RAM";
    case RegionKind::IO: return "IO";
    case RegionKind::NOR: return "NOR";
    case RegionKind::LPC: return "LPC";
    case RegionKind::SAM7: return "SAM7";
    case RegionKind::STR71x: return "STR71x";
    case RegionKind::NAND: return "NAND";
  }
  return "?";
}

const char* CommandSetName(CommandSet set) {
  switch (set) {
    case CommandSet::Intel: return "Intel";
    case CommandSet::SST: return "SST";
    case CommandSet::AMD: break;
  }
  return "AMD";
}

std::uint32_t NorDescription::ChipSize() const {
  std::uint64_t total = 0;
  for (auto size : sectors) total += size;
  return static_cast<std::uint32_t>(total);
}

// ---------------------------------------------------------------------------
// The board file

namespace {

// Reads the keys of one file and remembers the first error, worded
// "<file>: [<section>] <key>: <what is wrong>".
class Reader {
 public:
  Reader(const IniText& ini, std::string file) : ini_(ini), file_(std::move(file)) {}

  bool failed() const { return !error_.empty(); }
  const std::string& error() const { return error_; }

  void Fail(const std::string& section, const std::string& key, const std::string& what) {
    if (error_.empty()) error_ = file_ + ": [" + section + "] " + key + ": " + what;
  }

  const std::string* Text(const std::string& section, const std::string& key, bool required) {
    const std::string* value = ini_.Find(section, key);
    if (value == nullptr && required) Fail(section, key, "missing");
    return value;
  }

  // A number in [min, max]; `fallback` when the key is absent and not required.
  std::uint64_t Number(const std::string& section, const std::string& key, bool required,
                       std::uint64_t fallback, std::uint64_t min, std::uint64_t max,
                       bool allow_suffix = false) {
    const std::string* text = Text(section, key, required);
    if (text == nullptr) return fallback;
    auto value = ParseBoardNumber(*text, allow_suffix);
    if (!value) {
      Fail(section, key, "\"" + *text + "\" is not a number");
      return fallback;
    }
    if (*value < min || *value > max) {
      Fail(section, key, "\"" + *text + "\" is out of range (" + std::to_string(min) + " to " +
                             std::to_string(max) + ")");
      return fallback;
    }
    return *value;
  }

  bool Flag(const std::string& section, const std::string& key, bool fallback) {
    return Number(section, key, false, fallback ? 1 : 0, 0, 1) != 0;
  }

  // One of `names` (compared ignoring case); returns its index.
  std::size_t Choice(const std::string& section, const std::string& key,
                     const std::vector<std::string>& names, std::size_t fallback, bool required) {
    const std::string* text = Text(section, key, required);
    if (text == nullptr) return fallback;
    for (std::size_t i = 0; i < names.size(); ++i) {
      if (EqualsIgnoringCase(*text, names[i])) return i;
    }
    std::string list;
    for (std::size_t i = 0; i < names.size(); ++i) {
      list += (i == 0 ? "" : i + 1 == names.size() ? " or " : ", ") + names[i];
    }
    Fail(section, key, "\"" + *text + "\" is not one of " + list);
    return fallback;
  }

 private:
  const IniText& ini_;
  std::string file_;
  std::string error_;
};

constexpr std::uint64_t kMaxRamBytes = 1ull << 30;

// "16K,8K,8K,32K,31*64K": sector sizes with repeat counts.
bool ParseSectors(const std::string& text, std::vector<std::uint32_t>& sectors, std::string& what) {
  std::string_view rest = text;
  while (true) {
    std::size_t comma = rest.find(',');
    std::string_view item = Trim(rest.substr(0, comma));
    std::uint64_t repeat = 1;
    std::size_t star = item.find('*');
    if (star != std::string_view::npos) {
      auto count = ParseBoardNumber(item.substr(0, star), false);
      if (!count || *count == 0 || *count > 65536) {
        what = "bad repeat count in \"" + std::string(item) + "\"";
        return false;
      }
      repeat = *count;
      item = item.substr(star + 1);
    }
    auto size = ParseBoardNumber(item, true);
    if (!size || *size == 0 || *size > 0x80000000u) {
      what = "bad sector size \"" + std::string(item) + "\"";
      return false;
    }
    if (sectors.size() + repeat > 65536) {
      what = "too many sectors";
      return false;
    }
    sectors.insert(sectors.end(), repeat, static_cast<std::uint32_t>(*size));
    if (comma == std::string_view::npos) break;
    rest.remove_prefix(comma + 1);
  }
  return true;
}

// The keys that only one command set knows: each is refused on the others.
void ReadNorOptions(Reader& r, const std::string& s, const std::filesystem::path& directory,
                    NorDescription& nor) {
  auto only = [&](const char* key, CommandSet set) {
    if (r.Text(s, key, false) && nor.command_set != set && !r.failed()) {
      r.Fail(s, key, std::string("only ") + CommandSetName(set) + " chips have it");
    }
  };
  auto power_of_two = [&](const char* key, std::uint64_t value) {
    if (!r.failed() && value != 0 &&
        ((value & (value - 1)) != 0 || value % (nor.width_bits / 8) != 0)) {
      r.Fail(s, key, "must be 0 or a power of two of whole " + std::to_string(nor.width_bits) +
                         "-bit words");
    }
  };
  only("WriteBufferBytes", CommandSet::Intel);
  only("BlockSize", CommandSet::SST);
  only("PersistentProtection", CommandSet::AMD);
  only("ProtectionImage", CommandSet::AMD);
  if (nor.command_set == CommandSet::Intel) {
    nor.write_buffer_bytes = static_cast<std::uint32_t>(r.Number(s, "WriteBufferBytes", false, 32, 0, 4096));
    power_of_two("WriteBufferBytes", nor.write_buffer_bytes);
  }
  if (nor.command_set == CommandSet::SST) {
    nor.block_bytes = static_cast<std::uint32_t>(r.Number(s, "BlockSize", false, 0x10000, 0, 0x1000000, true));
    power_of_two("BlockSize", nor.block_bytes);
  }
  if (nor.command_set == CommandSet::AMD) {
    nor.persistent_protection = r.Flag(s, "PersistentProtection", false);
    if (const std::string* image = r.Text(s, "ProtectionImage", false); image && !image->empty()) {
      if (!nor.persistent_protection && !r.failed()) {
        r.Fail(s, "ProtectionImage", "needs PersistentProtection=1");
      }
      std::filesystem::path path(*image);
      nor.protection_image = path.is_absolute() ? path : directory / path;
    }
  }
}

void ReadNor(Reader& r, const std::string& s, const std::filesystem::path& directory,
             RegionDescription& region) {
  NorDescription& nor = region.nor;
  nor.command_set = static_cast<CommandSet>(r.Choice(s, "CommandSet", {"AMD", "Intel", "SST"}, 0, true));
  nor.manufacturer_id = static_cast<std::uint32_t>(r.Number(s, "ManufacturerId", true, 0, 0, 0xFFFF));
  nor.width_bits = static_cast<unsigned>(r.Number(s, "Width", false, 16, 8, 32));
  if (!r.failed() && nor.width_bits != 8 && nor.width_bits != 16 && nor.width_bits != 32) {
    r.Fail(s, "Width", "must be 8, 16 or 32");
  }
  // An x8/x16 part in byte mode shows the low byte of its 16-bit code.
  std::uint64_t id_max = nor.width_bits == 32 ? 0xFFFFFFFF : 0xFFFF;
  nor.device_id = static_cast<std::uint32_t>(r.Number(s, "DeviceId", true, 0, 0, id_max));
  nor.chips = static_cast<unsigned>(r.Number(s, "Chips", false, 1, 1, 4));
  if (!r.failed() && nor.chips == 3) r.Fail(s, "Chips", "must be 1, 2 or 4");
  if (!r.failed() && nor.width_bits * nor.chips > 32) {
    r.Fail(s, "Chips", std::to_string(nor.chips) + " chips of " + std::to_string(nor.width_bits) +
                           " bits make a bus wider than 32 bits");
  }
  bool sst = nor.command_set == CommandSet::SST;
  nor.byte_mode = r.Flag(s, "ByteMode", nor.width_bits == 8 && !sst);
  if (!r.failed() && nor.byte_mode && nor.width_bits != 8) {
    r.Fail(s, "ByteMode", "only an 8-bit chip can be in byte mode");
  }
  if (!r.failed() && nor.byte_mode && sst) r.Fail(s, "ByteMode", "SST chips have no byte mode");
  if (const std::string* text = r.Text(s, "Sectors", true); text && !r.failed()) {
    std::string what;
    if (!ParseSectors(*text, nor.sectors, what)) {
      r.Fail(s, "Sectors", what);
    } else {
      std::uint64_t total = 0;
      std::size_t runs = 0;
      for (std::size_t i = 0; i < nor.sectors.size(); ++i) {
        if (i == 0 || nor.sectors[i] != nor.sectors[i - 1]) ++runs;
      }
      if (runs > 255) {
        r.Fail(s, "Sectors", "more than 255 runs of equal sector sizes, which the query table cannot describe");
      }
      for (auto size : nor.sectors) {
        if (size % (nor.width_bits / 8) != 0 && !r.failed()) {
          r.Fail(s, "Sectors", "sector size " + Hex(size) + " is not a whole number of " +
                                   std::to_string(nor.width_bits) + "-bit words");
        }
        total += size;
      }
      if (!r.failed() && (total & (total - 1)) != 0) {
        r.Fail(s, "Sectors", "the sectors add up to " + Hex(total) +
                                 " bytes, not a power of two as a chip's size");
      } else if (!r.failed() && total * nor.chips > 0x100000000ull) {
        r.Fail(s, "Sectors", "the chips are larger than the address space");
      }
      region.size = total * nor.chips;
    }
  }
  if (const std::string* size = r.Text(s, "Size", false); size && !r.failed()) {
    auto value = ParseBoardNumber(*size, true);
    if (!value || *value != region.size) {
      r.Fail(s, "Sectors", "the sectors of " + std::to_string(nor.chips) + " chip(s) make " +
                               Hex(region.size) + " bytes, not the region's Size " + *size);
    }
  }
  if (const std::string* image = r.Text(s, "Image", false); image && !image->empty()) {
    std::filesystem::path path(*image);
    nor.image = path.is_absolute() ? path : directory / path;
  }
  nor.program_time_us = static_cast<std::uint32_t>(r.Number(s, "ProgramTimeUs", false, 10, 0, 1000000));
  nor.sector_erase_time_ms =
      static_cast<std::uint32_t>(r.Number(s, "SectorEraseTimeMs", false, 2, 0, 100000));
  nor.chip_erase_time_ms =
      static_cast<std::uint32_t>(r.Number(s, "ChipEraseTimeMs", false, 20, 0, 1000000));
  nor.locked_at_reset = r.Flag(s, "LockedAtReset", false);
  nor.unlock_clears_all = r.Flag(s, "UnlockClearsAll", false);
  ReadNorOptions(r, s, directory, nor);
}

void ReadFaults(Reader& r, const IniText& ini, BoardDescription& board) {
  const std::string s = "Faults";
  if (!ini.HasSection(s)) return;
  if (const std::string* text = r.Text(s, "StuckBits", false); text && !Trim(*text).empty()) {
    std::string_view rest = *text;
    while (!r.failed()) {
      std::size_t comma = rest.find(',');
      std::string_view item = Trim(rest.substr(0, comma));
      std::size_t colon = item.find(':');
      auto address = colon == std::string_view::npos ? std::nullopt
                                                     : ParseBoardNumber(item.substr(0, colon), false);
      auto mask = colon == std::string_view::npos ? std::nullopt
                                                  : ParseBoardNumber(item.substr(colon + 1), false);
      if (!address || !mask || *address > 0xFFFFFFFFu || *mask > 0xFFFFFFFFu) {
        r.Fail(s, "StuckBits", "\"" + std::string(item) + "\" is not ADDRESS:MASK");
        break;
      }
      board.faults.stuck_bits.push_back(
          {static_cast<std::uint32_t>(*address), static_cast<std::uint32_t>(*mask)});
      if (comma == std::string_view::npos) break;
      rest.remove_prefix(comma + 1);
    }
  }
  board.faults.no_erase = r.Flag(s, "NoErase", false);
  board.faults.erase_never_ends = r.Flag(s, "EraseNeverEnds", false);
}

// Stuck bits must name an aligned bus word of a NOR region and fit its width.
void CheckStuckBits(Reader& r, const BoardDescription& board) {
  for (const auto& stuck : board.faults.stuck_bits) {
    const RegionDescription* target = nullptr;
    for (const auto& region : board.regions) {
      if (stuck.address >= region.base && stuck.address - region.base < region.size) target = &region;
    }
    if (target == nullptr || target->kind != RegionKind::NOR) {
      r.Fail("Faults", "StuckBits", Hex(stuck.address) + " is not in a NOR region");
      return;
    }
    unsigned bus_bytes = target->nor.BusBytes();
    if ((stuck.address - target->base) % bus_bytes != 0) {
      r.Fail("Faults", "StuckBits", Hex(stuck.address) + " is not aligned to the " +
                                        std::to_string(bus_bytes * 8) + "-bit bus of [" +
                                        target->section + "]");
      return;
    }
    if (bus_bytes < 4 && stuck.mask >> (bus_bytes * 8) != 0) {
      r.Fail("Faults", "StuckBits", "mask " + Hex(stuck.mask) + " is wider than the " +
                                        std::to_string(bus_bytes * 8) + "-bit bus of [" +
                                        target->section + "]");
      return;
    }
  }
}

}  // namespace

std::optional<BoardDescription> ParseBoardText(std::string_view text,
                                               const std::filesystem::path& file,
                                               std::string& error) {
  BoardDescription board;
  board.file = file;
  board.ini = IniText::Parse(text);
  const IniText& ini = board.ini;
  Reader r(ini, file.filename().string().empty() ? file.string() : file.filename().string());

  const std::string b = "Board";
  if (!ini.HasSection(b)) r.Fail(b, "Core", "the file has no [Board] section");
  board.core = static_cast<CoreKind>(r.Choice(b, "Core", {"ARM7TDMI", "ARM9TDMI", "ARM920T"}, 0, false));
  board.big_endian = r.Choice(b, "Endian", {"Little", "Big"}, 0, false) == 1;
  board.id_code = static_cast<std::uint32_t>(r.Number(b, "IdCode", false, 0x3F0F0F0F, 0, 0xFFFFFFFF));
  static const std::vector<std::string> kProbes = {"emulator", "cable", "kestrel", "harrier"};
  board.probe = kProbes[r.Choice(b, "Probe", kProbes, 0, false)];
  board.port_base = static_cast<std::uint32_t>(r.Number(b, "PortBase", false, 0x378, 0, 0xFFFF));
  board.timing = static_cast<TimingMode>(r.Choice(b, "Timing", {"Deterministic", "RealTime"}, 0, false));
  board.clock_khz = static_cast<std::uint32_t>(r.Number(b, "ClockKHz", false, 20000, 1, 10000000));
  board.run_budget = r.Number(b, "RunBudget", false, 100000000, 1,
                              std::numeric_limits<std::uint64_t>::max());

  std::filesystem::path directory = file.parent_path();
  for (unsigned n = 1; !r.failed(); ++n) {
    std::string s = "Region" + std::to_string(n);
    if (!ini.HasSection(s)) break;
    RegionDescription region;
    region.section = s;
    region.kind = static_cast<RegionKind>(r.Choice(s, "Kind", {"RAM", "IO", "NOR", "LPC", "SAM7", "STR71x", "NAND"}, 0, true));
    region.base = static_cast<std::uint32_t>(r.Number(s, "Base", true, 0, 0, 0xFFFFFFFF));
    if (r.failed()) break;
    if (region.kind == RegionKind::NOR) {
      ReadNor(r, s, directory, region);
      if (!r.failed() && region.base % region.nor.BusBytes() != 0) {
        r.Fail(s, "Base", "not aligned to the " + std::to_string(region.nor.BusBytes() * 8) +
                              "-bit bus of the chips");
      }
    } else if (IsOnChipKind(region.kind)) {
      std::string key, what;
      if (!ReadOnChipRegion(ini, s, directory, region, key, what)) r.Fail(s, key, what);
    } else {
      region.size = r.Number(s, "Size", true, 0, 1, 0x100000000ull, true);
      if (!r.failed() && region.kind == RegionKind::RAM && region.size > kMaxRamBytes) {
        r.Fail(s, "Size", "more than 1 GB of RAM");
      }
    }
    if (r.failed()) break;
    if (region.base + region.size > 0x100000000ull) {
      r.Fail(s, "Size", "the region runs past the end of the 4 GB address space");
      break;
    }
    for (const auto& other : board.regions) {
      for (const auto& mine : RegionSpans(region)) {
        for (const auto& theirs : RegionSpans(other)) {
          if (mine.base < theirs.base + theirs.size && theirs.base < mine.base + mine.size) {
            r.Fail(s, "Base", "the region overlaps [" + other.section + "]");
          }
        }
      }
      if (r.failed()) break;
    }
    board.regions.push_back(std::move(region));
  }
  // A gap in the numbering would silently drop regions.
  if (!r.failed()) {
    for (const auto& name : ini.Sections()) {
      if (name.rfind("Region", 0) == 0 &&
          std::none_of(board.regions.begin(), board.regions.end(),
                       [&](const auto& region) { return region.section == name; })) {
        r.Fail(name, "Kind", "regions must be numbered Region1, Region2, ... without gaps");
        break;
      }
    }
  }
  if (!r.failed()) ReadFaults(r, ini, board);
  if (!r.failed()) CheckStuckBits(r, board);
  if (r.failed()) {
    error = r.error();
    return std::nullopt;
  }
  return board;
}

std::optional<BoardDescription> LoadBoardFile(const std::filesystem::path& path, std::string& error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    error = path.string() + ": cannot open the board file";
    return std::nullopt;
  }
  std::ostringstream text;
  text << in.rdbuf();
  return ParseBoardText(text.str(), path, error);
}

}  // namespace simboard
