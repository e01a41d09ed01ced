#include "app/option_dialog.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

#include "platform/message_box.h"

namespace romsmith::gui {
namespace {

QLineEdit* NumberEdit(QWidget* parent, const char* name, std::int64_t value) {
  auto* edit = new QLineEdit(QString::number(value), parent);
  edit->setObjectName(name);
  return edit;
}

}  // namespace

OptionValues OptionsFromSettings(const ProgramSettings& settings) {
  OptionValues values;
  values.log = settings.log_to_file != 0;
  values.check_id = settings.check_id != 0;
  values.load_sector_data = settings.load_sector_data != 0;
  values.time_out_seconds = settings.time_out_polls / 10;
  values.test_ram_kib = settings.test_ram_bytes / 1024;
  values.reset_count = settings.reset_count;
  // The frequency is kept as a 32-bit pattern; the dialog shows it unsigned.
  values.lpc_frequency_khz = static_cast<std::uint32_t>(settings.lpc_frequency);
  return values;
}

void ApplyOptions(const OptionValues& values, ProgramSettings& settings) {
  settings.log_to_file = values.log ? 1 : 0;
  settings.check_id = values.check_id ? 1 : 0;
  settings.load_sector_data = values.load_sector_data ? 1 : 0;
  settings.time_out_polls = static_cast<std::int32_t>(values.time_out_seconds * 10);
  settings.test_ram_bytes = static_cast<std::int32_t>(values.test_ram_kib * 1024);
  settings.reset_count = static_cast<std::int32_t>(values.reset_count);
  settings.lpc_frequency =
      static_cast<std::int32_t>(static_cast<std::uint32_t>(values.lpc_frequency_khz));
}

OptionDialog::OptionDialog(const OptionValues& values, QWidget* parent)
    : QDialog(parent), values_(values) {
  setObjectName("optionDialog");
  setWindowTitle(tr("Option"));

  log_ = new QCheckBox(tr("Output information to log file."), this);
  log_->setObjectName("logCheck");
  log_->setChecked(values.log);
  check_id_ = new QCheckBox(tr("Check flash device code status."), this);
  check_id_->setObjectName("checkIdCheck");
  check_id_->setChecked(values.check_id);
  check_id_->setEnabled(false);
  load_sector_data_ = new QCheckBox(tr("Loading all sector data when programming."), this);
  load_sector_data_->setObjectName("loadSectorDataCheck");
  load_sector_data_->setChecked(values.load_sector_data);
  time_out_ = NumberEdit(this, "timeOutEdit", values.time_out_seconds);
  test_ram_ = NumberEdit(this, "testRamSizeEdit", values.test_ram_kib);
  reset_count_ = NumberEdit(this, "resetCountEdit", values.reset_count);
  lpc_frequency_ = NumberEdit(this, "lpcFrequencyEdit", values.lpc_frequency_khz);

  auto* form = new QFormLayout;
  const auto with_unit = [this](QLineEdit* edit, const QString& unit) {
    auto* row = new QHBoxLayout;
    row->addWidget(edit);
    row->addWidget(new QLabel(unit, this));
    return row;
  };
  form->addRow(tr("Time Out:"), with_unit(time_out_, tr("Sec.")));
  form->addRow(tr("Test Ram Size:"), with_unit(test_ram_, tr("KB")));
  form->addRow(tr("Reset Count Before Flash command:"), reset_count_);
  auto* frequency = new QHBoxLayout;
  frequency->addWidget(lpc_frequency_);
  frequency->addWidget(new QLabel(tr("KHz"), this));
  form->addRow(tr("Philps LPC2000 XTAL Freq.:"), frequency);

  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  buttons->setObjectName("buttonBox");
  connect(buttons, &QDialogButtonBox::accepted, this, &OptionDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &OptionDialog::reject);

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(log_);
  layout->addWidget(check_id_);
  layout->addWidget(load_sector_data_);
  layout->addLayout(form);
  layout->addWidget(buttons);
}

void OptionDialog::accept() {
  OptionValues checked = values_;
  const NumberField fields[] = {
      {time_out_, 1, 360, &checked.time_out_seconds},
      {test_ram_, 1, 1024, &checked.test_ram_kib},
      {reset_count_, 0, 4, &checked.reset_count},
      {lpc_frequency_, 1, 4294967295LL, &checked.lpc_frequency_khz},
  };
  for (const NumberField& field : fields) {
    bool ok = false;
    const qlonglong number = field.edit->text().trimmed().toLongLong(&ok);
    if (!ok || number < field.low || number > field.high) {
      platform::ShowMessage(
          QString("Please enter an integer between %1 and %2.").arg(field.low).arg(field.high)
              .toStdString(),
          "Romsmith", platform::MessageIcon::Warning);
      field.edit->setFocus();
      field.edit->selectAll();
      return;
    }
    *field.target = number;
  }
  checked.log = log_->isChecked();
  checked.check_id = check_id_->isChecked();
  checked.load_sector_data = load_sector_data_->isChecked();
  values_ = checked;
  QDialog::accept();
}

}  // namespace romsmith::gui
