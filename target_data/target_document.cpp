#include "target_data/target_document.h"

#include <algorithm>

#include "platform/text.h"
#include "platform/message_box.h"

namespace romsmith {
namespace {

// Shown sector numbers count from 1, stored ones from 0. A file may hold any
// 32-bit value; the shift wraps as the stored bits do instead of overflowing,
// so the value survives the round trip and validation rejects it later.
std::int32_t ShiftSectorNumber(std::int32_t number, std::int32_t by) {
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(number) + static_cast<std::uint32_t>(by));
}

constexpr char kSaveChangedQuestion[] = "Save changed to target config file?";

// A name from a file as a line shows it: control characters as '?', and a
// very long one cut (a damaged file may hold anything there).
std::string ShownName(const std::string& name) {
  std::size_t longest = 64;
  // Cut before a UTF-8 sequence, never inside one.
  while (longest < name.size() && longest > 0 &&
         (static_cast<unsigned char>(name[longest]) & 0xC0) == 0x80)
    --longest;
  std::string shown;
  for (const char c : name.substr(0, longest))
    shown.push_back(static_cast<unsigned char>(c) < 0x20 || c == 0x7F ? '?' : c);
  if (name.size() > longest) shown += FormatText("... (%zu bytes)", name.size());
  return shown;
}

std::string CountText(std::int32_t value) { return value ? FormatText("%d", value) : std::string(); }

}  // namespace

// ---- recent file list ----

void RecentFileList::Read(const ProfileStore& profile) {
  entries_.clear();
  for (std::size_t i = 1; i <= kCapacity; ++i) {
    std::string path = profile.GetText(kSection, FormatText("file%zu", i));
    if (!path.empty()) entries_.push_back(std::move(path));
  }
}

void RecentFileList::Write(ProfileStore& profile) const {
  profile.RemoveSection(kSection);
  // Keys go in directly under the header: set from the last to the first so
  // the file lists "file1" first.
  for (std::size_t i = entries_.size(); i >= 1; --i)
    profile.SetText(kSection, FormatText("file%zu", i), entries_[i - 1]);
}

void RecentFileList::Add(const std::string& path) {
  if (path.empty()) return;
  entries_.erase(std::remove(entries_.begin(), entries_.end(), path), entries_.end());
  entries_.insert(entries_.begin(), path);
  if (entries_.size() > kCapacity) entries_.resize(kCapacity);
}

void RecentFileList::Remove(std::size_t index) {
  if (index < entries_.size()) entries_.erase(entries_.begin() + static_cast<std::ptrdiff_t>(index));
}

// ---- the document ----

TargetDocument::TargetDocument(TargetPages& pages) : pages_(pages) {}

bool TargetDocument::ConfirmDiscard() {
  if (!IsModified()) return true;
  switch (platform::ShowMessage(kSaveChangedQuestion, "Romsmith", platform::MessageIcon::Question,
                                platform::MessageButtons::YesNoCancel)) {
    case platform::MessageAnswer::Yes:
      return Save();
    case platform::MessageAnswer::No:
      return true;
    case platform::MessageAnswer::Ok:
    case platform::MessageAnswer::Cancel:
      break;
  }
  return false;
}

bool TargetDocument::Load(const std::string& path) {
  if (!ConfirmDiscard()) return false;
  IniDocument document;
  if (!document.Load(path)) {
    platform::ShowMessage("Can't open target config file!", "Error", platform::MessageIcon::Error);
    return false;
  }
  ReadTargetConfig(document, config_);
  snapshot_ = config_;
  ShowOnPages();
  pages_.program.target_caption = path;
  return true;
}

bool TargetDocument::Open(const std::string& path) {
  if (!Load(path)) return false;
  current_file_ = path;
  recent_files_.Add(path);
  return true;
}

bool TargetDocument::OpenRecent(std::size_t index) {
  if (index >= recent_files_.entries().size()) return false;
  const std::string path = recent_files_.entries()[index];
  return Open(path);
}

bool TargetDocument::Save() {
  if (current_file_.empty()) return false;
  TakeFromPages();
  if (!WriteTargetConfig(config_).SaveAs(current_file_)) return false;
  snapshot_ = config_;
  return true;
}

bool TargetDocument::SaveAs(const std::string& path) {
  if (path.empty()) return false;
  current_file_ = path;
  pages_.program.target_caption = path;
  if (!Save()) return false;
  recent_files_.Add(path);
  return true;
}

bool TargetDocument::IsModified() {
  if (current_file_.empty()) return false;
  TakeFromPages();
  return !SameTargetSettings(config_, snapshot_);
}

bool TargetDocument::Validate(const LogError& log_error) const {
  // A name the database does not hold would give the device no sectors and
  // the CPU none of its set-up rows: said first, with the name, before
  // anything is done on the target.
  const auto refuse = [&log_error](const std::string& line) {
    if (log_error) log_error(line);
    return false;
  };
  if (!config_.flash_vendor.empty() && !config_.flash_chip.empty() &&
      !pages_.flash.database.Find(config_.flash_chip)) {
    if (pages_.flash.database.devices.empty())
      return refuse("Error: the flash device database (rom.xdl) could not be read, so flash device \"" +
                    ShownName(config_.flash_chip) + "\" cannot be used.\n");
    return refuse("Error: flash device \"" + ShownName(config_.flash_chip) +
                  "\" is not in the flash device database; choose one from the flash list.\n");
  }
  if (!config_.cpu_vendor.empty() && !config_.cpu_chip.empty() &&
      !pages_.cpu.database.Find(config_.cpu_chip)) {
    if (pages_.cpu.database.cpus.empty())
      return refuse("Error: the CPU database (proc.xdl) could not be read, so CPU \"" +
                    ShownName(config_.cpu_chip) + "\" cannot be used.\n");
    return refuse("Error: CPU \"" + ShownName(config_.cpu_chip) +
                  "\" is not in the CPU database; choose one from the CPU list.\n");
  }
  return ValidateTargetConfig(config_, selected_flash_.sector_count(), log_error);
}

void TargetDocument::TakeFromPages() {
  const FlashPage& flash = pages_.flash;
  config_.flash_vendor = flash.vendor;
  config_.flash_chip = flash.chip;
  config_.flash_address = ParseNumberText(flash.start_address);
  config_.flash_width = static_cast<std::int32_t>(ParseNumberText(flash.width_text));
  config_.chips_per_sector = static_cast<std::int32_t>(ParseNumberText(flash.chips_text));
  config_.little_endian = flash.little_endian ? 1 : 0;
  config_.start_sector = ShiftSectorNumber(flash.sector_from, -1);
  config_.end_sector = ShiftSectorNumber(flash.sector_to, -1);
  selected_flash_ = flash.current;

  const CpuPage& cpu = pages_.cpu;
  config_.cpu_vendor = cpu.vendor;
  config_.cpu_chip = cpu.chip;
  config_.cpu_endian = cpu.little_endian ? "LITTLE" : "BIG";
  const std::size_t registers = std::min(cpu.shown_register_count(), kMaxConfigRows);
  config_.register_count = static_cast<std::uint32_t>(registers);
  for (std::size_t i = 0; i < registers; ++i) {
    const CpuRegister& reg = cpu.current.registers[i];
    config_.registers[i] = ConfigRegisterRow{reg.name, reg.address, reg.size, reg.value};
  }
  // A memory row counts when the user typed something into it; blank rows in
  // between are passed over, so no typed write is lost.
  std::size_t memory = 0;
  for (const MemoryListRow& row : cpu.memory_rows) {
    if (memory == kMaxConfigRows) break;
    if (row.IsBlank()) continue;
    config_.memory[memory++] = ConfigMemoryRow{ParseNumberText(row.address), ParseNumberText(row.size),
                                               ParseNumberText(row.value)};
  }
  config_.memory_count = static_cast<std::uint32_t>(memory);
  selected_cpu_ = cpu.current;

  const ProgramPage& program = pages_.program;
  config_.ram_address = ParseNumberText(program.ram_start);
  config_.ram_support = program.ram_support ? 1 : 0;
  config_.program_file = program.program_file;
  config_.upload_file = program.upload_file;
  config_.format = program.format;
  config_.auto_erase = program.auto_erase ? 1 : 0;
  config_.auto_verify = program.auto_verify ? 1 : 0;

  ShowSummary();
}

void TargetDocument::ShowOnPages() {
  const std::uint32_t registers = std::min<std::uint32_t>(config_.register_count, kMaxConfigRows);
  const std::uint32_t memory = std::min<std::uint32_t>(config_.memory_count, kMaxConfigRows);

  CpuPage& cpu = pages_.cpu;
  if (!cpu.SelectCpu(config_.cpu_chip)) {
    // A CPU the database does not know (or none): keep the stored rows so
    // that nothing of the file is lost on the next save.
    cpu.current = CpuRecord();
    cpu.current.name = config_.cpu_chip;
    cpu.current.vendor = config_.cpu_vendor;
    for (std::uint32_t i = 0; i < registers; ++i) {
      const ConfigRegisterRow& row = config_.registers[i];
      CpuRegister reg;
      reg.name = row.name;
      reg.address = row.address;
      reg.size = row.size;
      reg.default_value = row.value;
      reg.value = row.value;
      cpu.current.registers.push_back(std::move(reg));
    }
  } else {
    for (std::uint32_t i = 0; i < registers; ++i) {
      const ConfigRegisterRow& row = config_.registers[i];
      const std::size_t shown = cpu.shown_register_count();
      for (std::size_t k = 0; k < shown; ++k) {
        if (cpu.current.registers[k].name == row.name) {
          cpu.current.registers[k].value = row.value;
          break;
        }
      }
    }
  }
  cpu.vendor = config_.cpu_vendor;
  cpu.chip = config_.cpu_chip;
  cpu.little_endian = config_.IsLittleEndian();
  cpu.ResetMemoryRows();
  if (cpu.memory_rows.size() < memory) cpu.memory_rows.resize(memory);
  for (std::uint32_t i = 0; i < memory; ++i) {
    const ConfigMemoryRow& row = config_.memory[i];
    cpu.memory_rows[i] = MemoryListRow{FormatText("0x%08X", row.address), FormatText("0x%08X", row.value),
                                       FormatText("%u", row.size)};
  }

  FlashPage& flash = pages_.flash;
  if (!flash.SelectDevice(config_.flash_chip)) {
    flash.current = FlashDevice();
    flash.current.name = config_.flash_chip;
    flash.current.vendor = config_.flash_vendor;
    flash.width_choices.clear();
  }
  flash.vendor = config_.flash_vendor;
  flash.chip = config_.flash_chip;
  flash.width_text = CountText(config_.flash_width);
  flash.chips_text = CountText(config_.chips_per_sector);
  flash.start_address = FormatText("0x%08X", config_.flash_address);
  flash.sector_from = ShiftSectorNumber(config_.start_sector, 1);
  flash.sector_to = ShiftSectorNumber(config_.end_sector, 1);
  flash.little_endian = config_.little_endian != 0;

  ProgramPage& program = pages_.program;
  program.ram_start = FormatText("0x%08X", config_.ram_address);
  program.ram_support = config_.ram_support != 0;
  program.program_file = config_.program_file;
  program.upload_file = config_.upload_file;
  program.format = config_.format;
  program.auto_erase = config_.auto_erase != 0;
  program.auto_verify = config_.auto_verify != 0;

  ShowSummary();
}

void TargetDocument::ShowSummary() {
  ProgramPage& program = pages_.program;
  program.cpu_type = config_.cpu_chip;
  program.cpu_endian = config_.IsLittleEndian() ? "Little" : "Big";
  program.flash_device = config_.flash_chip;
  program.flash_start = FormatText("0x%08X", config_.flash_address);
  program.flash_width = config_.flash_width;
  program.flash_chips = config_.chips_per_sector;
  program.sector_from = ShiftSectorNumber(config_.start_sector, 1);
  program.sector_to = ShiftSectorNumber(config_.end_sector, 1);
}

}  // namespace romsmith
