// Tools > Option: every user option of the profile, one field per row of the
// settings schema that the dialog shows: a check box for a switch, a number
// field in the user's units (seconds, KiB) for a number, each with its
// one-line explanation. OK checks every number as --set does.
#pragma once

#include <QCheckBox>
#include <QDialog>
#include <QLineEdit>

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "target_data/program_settings.h"
#include "target_data/settings_schema.h"

namespace romsmith::gui {

// The dialog's values by key, in the units it shows (what the profile
// stores).
using OptionValues = std::map<std::string, std::int64_t>;

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
  struct Field {
    const SettingRow* row;
    QCheckBox* check;  // a switch
    QLineEdit* edit;   // a number
  };

  OptionValues values_;
  std::vector<Field> fields_;
};

}  // namespace romsmith::gui
