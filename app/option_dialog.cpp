#include "app/option_dialog.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QStyle>
#include <QVBoxLayout>

#include "platform/message_box.h"

namespace romsmith::gui {
namespace {

bool InDialog(const SettingRow& row) {
  return row.field != SettingField::kNone && IsNumberSetting(row);
}

// The row's explanation under its field, in the small print of a hint.
QLabel* Explanation(const SettingRow& row, QWidget* parent) {
  auto* label = new QLabel(QString::fromUtf8(row.description), parent);
  label->setObjectName(QString::fromLatin1(row.object_name) + "Help");
  label->setWordWrap(true);
  label->setForegroundRole(QPalette::PlaceholderText);
  QFont font = label->font();
  font.setPointSizeF(font.pointSizeF() * 0.9);
  label->setFont(font);
  return label;
}

}  // namespace

OptionValues OptionsFromSettings(const ProgramSettings& settings) {
  OptionValues values;
  for (const SettingRow& row : SettingRows())
    if (InDialog(row)) values[row.key] = StoredNumber(row, settings);
  return values;
}

void ApplyOptions(const OptionValues& values, ProgramSettings& settings) {
  for (const SettingRow& row : SettingRows()) {
    if (!InDialog(row)) continue;
    if (const auto value = values.find(row.key); value != values.end())
      SetStoredNumber(row, value->second, settings);
  }
}

OptionDialog::OptionDialog(const OptionValues& values, QWidget* parent)
    : QDialog(parent), values_(values) {
  setObjectName("optionDialog");
  setWindowTitle(tr("Option"));

  auto* switches = new QVBoxLayout;
  auto* form = new QFormLayout;
  for (const SettingRow& row : SettingRows()) {
    if (!InDialog(row)) continue;
    const auto value = values.find(row.key);
    const std::int64_t number = value != values.end() ? value->second : row.default_number;
    const QString tip = QString::fromUtf8(row.description);
    Field field{&row, nullptr, nullptr};
    if (row.kind == SettingKind::kSwitch) {
      field.check = new QCheckBox(tr(row.label), this);
      field.check->setObjectName(row.object_name);
      field.check->setChecked(number != 0);
      field.check->setEnabled(row.field == SettingField::kEditable);
      field.check->setToolTip(tip);
      switches->addWidget(field.check);
      auto* hint = Explanation(row, this);
      hint->setIndent(field.check->style()->pixelMetric(QStyle::PM_IndicatorWidth) + 6);
      switches->addWidget(hint);
    } else {
      field.edit = new QLineEdit(QString::number(number), this);
      field.edit->setObjectName(row.object_name);
      field.edit->setEnabled(row.field == SettingField::kEditable);
      field.edit->setToolTip(tip);
      auto* line = new QHBoxLayout;
      line->addWidget(field.edit);
      if (row.unit) line->addWidget(new QLabel(tr(row.unit), this));
      auto* column = new QVBoxLayout;
      column->addLayout(line);
      column->addWidget(Explanation(row, this));
      form->addRow(tr(row.label), column);
    }
    fields_.push_back(field);
  }

  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  buttons->setObjectName("buttonBox");
  connect(buttons, &QDialogButtonBox::accepted, this, &OptionDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &OptionDialog::reject);

  auto* layout = new QVBoxLayout(this);
  layout->addLayout(switches);
  layout->addLayout(form);
  layout->addWidget(buttons);
}

void OptionDialog::accept() {
  OptionValues checked = values_;
  for (const Field& field : fields_) {
    const SettingRow& row = *field.row;
    if (field.check) {
      checked[row.key] = field.check->isChecked() ? 1 : 0;
      continue;
    }
    // The one check every front end uses, so what OK takes --set takes.
    const std::optional<std::int64_t> number =
        ParseSettingNumber(row, field.edit->text().toStdString());
    if (!number) {
      platform::ShowMessage(RangeMessage(row.low, row.high), "Romsmith",
                            platform::MessageIcon::Warning);
      field.edit->setFocus();
      field.edit->selectAll();
      return;
    }
    checked[row.key] = *number;
  }
  values_ = checked;
  QDialog::accept();
}

}  // namespace romsmith::gui
