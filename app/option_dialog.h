// Tools > Option: the flash-command options of the user profile. The dialog
// shows them in the user's units (seconds, KiB) and checks each number
// against its range on OK.
#pragma once

#include <QCheckBox>
#include <QDialog>
#include <QLineEdit>

#include <cstdint>

#include "target_data/program_settings.h"

namespace romsmith::gui {

// The dialog's values, in the units it shows.
struct OptionValues {
  bool log = false;
  bool check_id = false;
  bool load_sector_data = false;
  std::int64_t time_out_seconds = 0;
  std::int64_t test_ram_kib = 0;
  std::int64_t reset_count = 1;
  std::int64_t lpc_frequency_khz = 11059;
};

// Settings (held in polls and bytes) <-> the dialog's units.
OptionValues OptionsFromSettings(const ProgramSettings& settings);
void ApplyOptions(const OptionValues& values, ProgramSettings& settings);

class OptionDialog : public QDialog {
  Q_OBJECT

 public:
  explicit OptionDialog(const OptionValues& values, QWidget* parent = nullptr);

  const OptionValues& values() const { return values_; }

  // Checks every number; one outside its range shows a message that names
  // the range, puts the focus on its field and keeps the dialog open.
  void accept() override;

 private:
  struct NumberField {
    QLineEdit* edit;
    std::int64_t low;
    std::int64_t high;
    std::int64_t* target;
  };

  OptionValues values_;
  QCheckBox* log_;
  QCheckBox* check_id_;
  QCheckBox* load_sector_data_;
  QLineEdit* time_out_;
  QLineEdit* test_ram_;
  QLineEdit* reset_count_;
  QLineEdit* lpc_frequency_;
};

}  // namespace romsmith::gui
