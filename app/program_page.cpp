#include "app/program_page.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

#include "app/file_chooser.h"
#include "app/tab_order.h"
#include "target_data/target_config.h"

namespace romsmith::gui {
namespace {

QLineEdit* Field(QWidget* parent, const char* name, bool read_only) {
  auto* edit = new QLineEdit(parent);
  edit->setObjectName(name);
  edit->setReadOnly(read_only);
  return edit;
}

QLabel* Label(const QString& text, QWidget* buddy, QWidget* parent) {
  auto* label = new QLabel(text, parent);
  label->setBuddy(buddy);
  return label;
}

QString Text(const std::string& text) { return QString::fromStdString(text); }

}  // namespace

ProgramPageWidget::ProgramPageWidget(std::function<FileChooser&()> files, QWidget* parent)
    : QWidget(parent), files_(std::move(files)) {
  setObjectName("programPage");

  target_group_ = new QGroupBox(tr("Target"), this);
  target_group_->setObjectName("targetGroup");
  cpu_type_ = Field(target_group_, "cpuTypeEdit", true);
  cpu_endian_ = Field(target_group_, "cpuEndianEdit", true);
  ram_start_ = Field(target_group_, "ramStartEdit", false);
  flash_device_ = Field(target_group_, "flashDeviceEdit", true);
  flash_start_ = Field(target_group_, "flashStartEdit", true);
  // An address stays readable however narrow the window gets.
  for (QLineEdit* address : {ram_start_, flash_start_})
    address->setMinimumWidth(address->fontMetrics().horizontalAdvance("0x00000000") + 16);
  flash_width_ = Field(target_group_, "flashWidthEdit", true);
  flash_chips_ = Field(target_group_, "flashChipsEdit", true);
  sector_from_ = Field(target_group_, "targetSectorFromEdit", true);
  sector_to_ = Field(target_group_, "targetSectorToEdit", true);
  auto_erase_ = new QCheckBox(tr("Auto Erase"), target_group_);
  auto_erase_->setObjectName("autoEraseCheck");
  auto_verify_ = new QCheckBox(tr("Auto Verify"), target_group_);
  auto_verify_->setObjectName("autoVerifyCheck");

  auto* target = new QGridLayout(target_group_);
  target->addWidget(Label(tr("CPU Type:"), cpu_type_, target_group_), 0, 0);
  target->addWidget(cpu_type_, 0, 1, 1, 3);
  target->addWidget(Label(tr("CPU Endian:"), cpu_endian_, target_group_), 1, 0);
  target->addWidget(cpu_endian_, 1, 1);
  target->addWidget(Label(tr("RAM Start:"), ram_start_, target_group_), 1, 2);
  target->addWidget(ram_start_, 1, 3);
  target->addWidget(Label(tr("Flash Device:"), flash_device_, target_group_), 2, 0);
  target->addWidget(flash_device_, 2, 1, 1, 3);
  target->addWidget(Label(tr("Flash Start:"), flash_start_, target_group_), 3, 0);
  target->addWidget(flash_start_, 3, 1);
  auto* width_row = new QHBoxLayout;
  width_row->addWidget(flash_width_);
  width_row->addWidget(new QLabel(tr("X"), target_group_));
  width_row->addWidget(flash_chips_);
  target->addWidget(Label(tr("Flash Width:"), flash_width_, target_group_), 3, 2);
  target->addLayout(width_row, 3, 3);
  auto* sector_row = new QHBoxLayout;
  sector_row->addWidget(sector_from_);
  sector_row->addWidget(new QLabel(tr("To"), target_group_));
  sector_row->addWidget(sector_to_);
  target->addWidget(Label(tr("Sector From"), sector_from_, target_group_), 4, 0);
  target->addLayout(sector_row, 4, 1);
  auto* program_with = new QHBoxLayout;
  program_with->addWidget(new QLabel(tr("Program With"), target_group_));
  program_with->addWidget(auto_erase_);
  program_with->addWidget(auto_verify_);
  program_with->addStretch();
  target->addLayout(program_with, 4, 2, 1, 2);
  target->setColumnStretch(1, 1);
  target->setColumnStretch(3, 1);

  auto* file_group = new QGroupBox(tr("File"), this);
  file_group->setObjectName("fileGroup");
  program_file_ = Field(file_group, "programFileEdit", false);
  upload_file_ = Field(file_group, "uploadFileEdit", false);
  const QIcon folder(":/icons/browse.svg");
  program_browse_ = new QPushButton(folder, tr("..."), file_group);
  program_browse_->setObjectName("programBrowseButton");
  upload_browse_ = new QPushButton(folder, tr("..."), file_group);
  upload_browse_->setObjectName("uploadBrowseButton");
  format_ = new QComboBox(file_group);
  format_->setObjectName("formatCombo");
  format_->addItems({kFlatBinFormat, kIntelHexFormat, kImageFormat});

  auto* file = new QGridLayout(file_group);
  file->addWidget(Label(tr("Program:"), program_file_, file_group), 0, 0);
  file->addWidget(program_file_, 0, 1);
  file->addWidget(program_browse_, 0, 2);
  file->addWidget(format_, 0, 3);
  file->addWidget(Label(tr("Upload:"), upload_file_, file_group), 1, 0);
  file->addWidget(upload_file_, 1, 1);
  file->addWidget(upload_browse_, 1, 2);
  file->setColumnStretch(1, 1);

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(target_group_);
  layout->addWidget(file_group);
  layout->addStretch();

  connect(program_browse_, &QPushButton::clicked, this, &ProgramPageWidget::BrowseProgramFile);
  connect(upload_browse_, &QPushButton::clicked, this, &ProgramPageWidget::BrowseUploadFile);
  connect(program_file_, &QLineEdit::textChanged, this, &ProgramPageWidget::UpdatePathTooltips);
  connect(upload_file_, &QLineEdit::textChanged, this, &ProgramPageWidget::UpdatePathTooltips);

  // Row by row, the read-outs too (their texts can be selected and copied).
  SetTabChain({cpu_type_, cpu_endian_, ram_start_, flash_device_, flash_start_, flash_width_,
               flash_chips_, sector_from_, sector_to_, auto_erase_, auto_verify_, program_file_,
               program_browse_, format_, upload_file_, upload_browse_});
}

void ProgramPageWidget::Load(const ProgramPage& page) {
  target_group_->setTitle(Text(page.target_caption));
  cpu_type_->setText(Text(page.cpu_type));
  cpu_endian_->setText(Text(page.cpu_endian));
  flash_device_->setText(Text(page.flash_device));
  flash_start_->setText(Text(page.flash_start));
  flash_width_->setText(QString::number(page.flash_width));
  flash_chips_->setText(QString::number(page.flash_chips));
  sector_from_->setText(QString::number(page.sector_from));
  sector_to_->setText(QString::number(page.sector_to));
  ram_start_->setText(Text(page.ram_start));
  auto_erase_->setChecked(page.auto_erase);
  auto_verify_->setChecked(page.auto_verify);
  program_file_->setText(Text(page.program_file));
  upload_file_->setText(Text(page.upload_file));
  const int format = format_->findText(Text(page.format), Qt::MatchFixedString);
  format_->setCurrentIndex(format < 0 ? 0 : format);
}

void ProgramPageWidget::Store(ProgramPage& page) const {
  page.ram_start = ram_start_->text().toStdString();
  page.auto_erase = auto_erase_->isChecked();
  page.auto_verify = auto_verify_->isChecked();
  page.program_file = program_file_->text().toStdString();
  page.upload_file = upload_file_->text().toStdString();
  page.format = format_->currentText().toStdString();
}

void ProgramPageWidget::BrowseProgramFile() {
  const QString fallback = default_folder_ ? default_folder_() : QString();
  const QString path = files_().OpenFile(
      this, tr("Program File"),
      "Flat Bin File (*.bin);;Intel Hex File (*.hex);;"
      "Image File (*.elf *.axf *.srec *.s19 *.s28 *.s37 *.mot *.hex);;All Files (*)",
      DialogStart(program_file_->text(), fallback));
  if (!path.isEmpty()) program_file_->setText(path);
}

void ProgramPageWidget::BrowseUploadFile() {
  const QString fallback = default_folder_ ? default_folder_() : QString();
  const QString path = files_().SaveFile(this, tr("Upload File"),
                                         "Flat Bin File (*.bin);;All Files (*)",
                                         DialogStart(upload_file_->text(), fallback));
  if (!path.isEmpty()) upload_file_->setText(path);
}

void ProgramPageWidget::UpdatePathTooltips() {
  const bool long_path = program_file_->text().size() >= kPathTooltipLength ||
                         upload_file_->text().size() >= kPathTooltipLength;
  program_file_->setToolTip(long_path ? program_file_->text() : QString());
  upload_file_->setToolTip(long_path ? upload_file_->text() : QString());
}

}  // namespace romsmith::gui
