#include "simboard/description/onchip_parts.h"

namespace simboard {

namespace {

std::vector<std::uint32_t> Repeat(std::initializer_list<std::pair<unsigned, std::uint32_t>> runs) {
  std::vector<std::uint32_t> sizes;
  for (const auto& [count, size] : runs) sizes.insert(sizes.end(), count, size);
  return sizes;
}

// LPC2106/2129/2148 user manuals, flash memory system and IAP chapters.
const std::vector<LpcPart>& LpcParts() {
  static const std::vector<LpcPart> parts = {
      {"LPC2106", 0xFFF0FF32, Repeat({{15, 8192}}), 8192, 0x7FFFE000, 0x0140, 64 * 1024},
      {"LPC2129", 0x0201FF13, Repeat({{8, 8192}, {2, 65536}, {7, 8192}}), 8192, 0x7FFFE000, 0x0140,
       16 * 1024},
      {"LPC2148", 0x0402FF25, Repeat({{8, 4096}, {14, 32768}, {5, 4096}}), 12288, 0x7FFFD000,
       0x0202, 32 * 1024},
  };
  return parts;
}

// AT91SAM7S data sheet, embedded flash controller chapter.
const std::vector<Sam7Part>& Sam7Parts() {
  static const std::vector<Sam7Part> parts = {
      {"AT91SAM7S64", 0x27090540, 128, 512, 16},
      {"AT91SAM7S256", 0x270B0940, 256, 1024, 16},
  };
  return parts;
}

// STR71x flash programming manual: bank 0 of 4 x 8K, 32K, 3 x 64K; bank 1 of 2 x 8K.
const std::vector<Str71xPart>& Str71xParts() {
  static const std::vector<Str71xPart> parts = {
      {"STR710", Repeat({{4, 8192}, {1, 32768}, {3, 65536}}), Repeat({{2, 8192}})},
      {"STR711", Repeat({{4, 8192}, {1, 32768}, {3, 65536}}), Repeat({{2, 8192}})},
  };
  return parts;
}

// K9F1208U0B and K9F1G08U0A data sheets.
const std::vector<NandPart>& NandParts() {
  static const std::vector<NandPart> parts = {
      {"K9F1208U0B", {0xEC, 0x76, 0x5A, 0x3F}, 512, 16, 32, 4096, 4, false, 12, 200, 2000},
      {"K9F1G08U0A", {0xEC, 0xF1, 0x80, 0x15}, 2048, 64, 64, 1024, 4, true, 25, 200, 2000},
  };
  return parts;
}

template <typename Part>
const Part* FindIn(const std::vector<Part>& parts, const std::string& name) {
  for (const auto& part : parts) {
    if (name == part.name) return &part;
  }
  return nullptr;
}

template <typename Part>
std::string NamesOf(const std::vector<Part>& parts) {
  std::string list;
  for (std::size_t i = 0; i < parts.size(); ++i) {
    list += (i == 0 ? "" : i + 1 == parts.size() ? " or " : ", ") + std::string(parts[i].name);
  }
  return list;
}

}  // namespace

std::uint32_t LpcPart::FlashBytes() const {
  std::uint32_t total = boot_block_bytes;
  for (auto size : sectors) total += size;
  return total;
}

const LpcPart* FindLpcPart(const std::string& name) { return FindIn(LpcParts(), name); }
const Sam7Part* FindSam7Part(const std::string& name) { return FindIn(Sam7Parts(), name); }
const Str71xPart* FindStr71xPart(const std::string& name) { return FindIn(Str71xParts(), name); }
const NandPart* FindNandPart(const std::string& name) { return FindIn(NandParts(), name); }
std::string LpcPartNames() { return NamesOf(LpcParts()); }
std::string Sam7PartNames() { return NamesOf(Sam7Parts()); }
std::string Str71xPartNames() { return NamesOf(Str71xParts()); }
std::string NandPartNames() { return NamesOf(NandParts()); }

}  // namespace simboard
