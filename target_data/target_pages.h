// The field values of the three target pages (program and files, CPU,
// flash), kept as a plain model that the desktop program binds its widgets
// to and the command line fills directly. The model also does what the
// pages do without widgets: selecting a CPU or a flash device from the
// databases, the register and sector lists, and the edits of register values.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "target_data/cpu_database.h"
#include "target_data/flash_database.h"

namespace romsmith {

// The target and files page. The first block is the read-only summary of
// the chosen target; the second holds what the user types.
struct ProgramPage {
  std::string cpu_type;       // name of the chosen CPU
  std::string cpu_endian;     // "Little" or "Big"
  std::string flash_device;
  std::string flash_start;    // "0x%08X"
  std::int32_t flash_width = 0;
  std::int32_t flash_chips = 0;
  std::int32_t sector_from = 0;
  std::int32_t sector_to = 0;
  std::string target_caption = "Target";  // the group box shows the file path

  std::string ram_start;      // number text
  bool ram_support = false;
  bool auto_erase = false;
  bool auto_verify = false;
  std::string program_file;
  std::string format = "Flat Bin";  // a "Format" value (target_config.h)
  std::string upload_file;
};

// One row of the register list: texts as the list shows them.
struct RegisterListRow {
  std::string name;
  std::string default_text;  // "0x%08X"
  std::string value_text;    // "0x%08X"
  bool changed = false;      // value differs from the default: shown highlighted
  std::string tooltip;       // "%s address: 0x%08X"
};

// One row of the memory list: the texts the user typed.
struct MemoryListRow {
  std::string address;
  std::string value;
  std::string size;
  bool IsBlank() const;
};

inline constexpr std::size_t kMemoryListRows = 100;
// The register list shows at most this many rows of a CPU.
inline constexpr std::size_t kRegisterListRows = 256;

struct CpuPage {
  CpuDatabase database;
  std::string vendor;
  std::string chip;
  CpuRecord current;          // copy of the selected record with the row values
  bool little_endian = true;  // radio buttons "Little" / "Big"
  std::vector<MemoryListRow> memory_rows = std::vector<MemoryListRow>(kMemoryListRows);

  // Makes the first record of that name the current CPU and resets every
  // row's value to its default; false (nothing changes) when there is none.
  bool SelectCpu(const std::string& name);
  // The rows the register list shows (at most kRegisterListRows).
  std::vector<RegisterListRow> RegisterRows() const;
  std::size_t shown_register_count() const;
  // The end of an edit of a value cell: the text is read as a number and
  // stored in the row; true when the row now differs from its default.
  bool SetRegisterValueText(std::size_t row, const std::string& text);
  // 100 empty rows, as at page initialisation.
  void ResetMemoryRows();
};

struct FlashPage {
  FlashDatabase database;
  std::string vendor;
  std::string chip;
  FlashDevice current;                    // copy of the selected device
  std::vector<std::string> width_choices; // "%d" of each width the device allows
  std::string width_text;                 // the chosen width
  std::string chips_text = "1";           // "1", "2" or "4"
  std::string start_address;              // number text
  std::int32_t sector_from = 0;           // shown sector numbers, from 1
  std::int32_t sector_to = 0;
  bool little_endian = false;

  static const std::vector<std::string>& ChipChoices();

  // Makes a copy of the first device of that name the current device, lists
  // its widths and sets the range to the whole device; false when there is
  // no such device.
  bool SelectDevice(const std::string& name);
  // The sector list for the current device at the typed start address.
  std::vector<SectorRow> SectorRows() const;
};

struct TargetPages {
  ProgramPage program;
  CpuPage cpu;
  FlashPage flash;
};

}  // namespace romsmith
