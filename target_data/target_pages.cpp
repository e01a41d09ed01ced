#include "target_data/target_pages.h"

#include <algorithm>

#include "platform/text.h"

namespace romsmith {
namespace {

bool IsBlankText(const std::string& text) {
  return std::all_of(text.begin(), text.end(), [](char c) { return IsCSpace(c); });
}

}  // namespace

bool MemoryListRow::IsBlank() const {
  return IsBlankText(address) && IsBlankText(value) && IsBlankText(size);
}

bool CpuPage::SelectCpu(const std::string& name) {
  const CpuRecord* record = database.Find(name);
  if (record == nullptr) return false;
  current = *record;
  for (CpuRegister& reg : current.registers) reg.value = reg.default_value;
  vendor = current.vendor;
  chip = current.name;
  return true;
}

std::size_t CpuPage::shown_register_count() const {
  return std::min(current.registers.size(), kRegisterListRows);
}

std::vector<RegisterListRow> CpuPage::RegisterRows() const {
  std::vector<RegisterListRow> rows;
  const std::size_t count = shown_register_count();
  rows.reserve(count);
  for (std::size_t i = 0; i < count; ++i) {
    const CpuRegister& reg = current.registers[i];
    RegisterListRow row;
    row.name = reg.name;
    row.default_text = FormatText("0x%08X", reg.default_value);
    row.value_text = FormatText("0x%08X", reg.value);
    row.changed = reg.value != reg.default_value;
    row.tooltip = FormatText("%s address: 0x%08X", reg.name.c_str(), reg.address);
    rows.push_back(std::move(row));
  }
  return rows;
}

bool CpuPage::SetRegisterValueText(std::size_t row, const std::string& text) {
  if (row >= shown_register_count()) return false;
  CpuRegister& reg = current.registers[row];
  reg.value = ParseNumberText(text);
  return reg.value != reg.default_value;
}

void CpuPage::ResetMemoryRows() { memory_rows.assign(kMemoryListRows, MemoryListRow()); }

const std::vector<std::string>& FlashPage::ChipChoices() {
  static const std::vector<std::string> choices = {"1", "2", "4"};
  return choices;
}

bool FlashPage::SelectDevice(const std::string& name) {
  const FlashDevice* device = database.Find(name);
  if (device == nullptr) return false;
  current = *device;
  vendor = current.vendor;
  chip = current.name;
  width_choices.clear();
  for (std::int32_t width : current.widths) width_choices.push_back(FormatText("%d", width));
  sector_from = 1;
  sector_to = current.sector_count();
  return true;
}

std::vector<SectorRow> FlashPage::SectorRows() const {
  return SectorTableRows(current, ParseNumberText(start_address));
}

}  // namespace romsmith
