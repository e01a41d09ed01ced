#include "app/flash_page.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>

#include "app/cpu_page.h"
#include "app/tab_order.h"
#include "app/vendor_tree.h"
#include "platform/text.h"

namespace romsmith::gui {
namespace {

QString Text(const std::string& text) { return QString::fromStdString(text); }

void SelectText(QComboBox* combo, const std::string& text) {
  combo->setCurrentIndex(combo->findText(Text(text)));
}

}  // namespace

FlashPageWidget::FlashPageWidget(FlashPage& model, QWidget* parent)
    : QWidget(parent), model_(model) {
  setObjectName("flashPage");

  tree_ = NewVendorTree("flashTree", this);
  width_ = new QComboBox(this);
  width_->setObjectName("widthCombo");
  chips_ = new QComboBox(this);
  chips_->setObjectName("chipsCombo");
  for (const std::string& choice : FlashPage::ChipChoices()) chips_->addItem(Text(choice));
  start_address_ = new QLineEdit(this);
  start_address_->setObjectName("startAddressEdit");
  sector_from_ = new QLineEdit(this);
  sector_from_->setObjectName("sectorFromEdit");
  sector_to_ = new QLineEdit(this);
  sector_to_->setObjectName("sectorToEdit");
  sectors_ = new QTableWidget(this);
  sectors_->setObjectName("sectorList");
  SetUpEditableList(sectors_, {tr("Sector"), tr("Size"), tr("Starts")});
  sectors_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  FitColumnsToContents(sectors_);

  auto* width_label = new QLabel(tr("Width:"), this);
  width_label->setBuddy(width_);
  auto* start_label = new QLabel(tr("Start Address:"), this);
  start_label->setBuddy(start_address_);
  auto* sector_label = new QLabel(tr("Sector:"), this);
  auto* from_label = new QLabel(tr("From"), this);
  from_label->setBuddy(sector_from_);
  auto* to_label = new QLabel(tr("To"), this);
  to_label->setBuddy(sector_to_);

  auto* fields = new QGridLayout;
  fields->addWidget(width_label, 0, 0);
  auto* width_row = new QHBoxLayout;
  width_row->addWidget(width_);
  width_row->addWidget(new QLabel(tr("Bits  X"), this));
  width_row->addWidget(chips_);
  width_row->addWidget(new QLabel(tr("Chips"), this));
  width_row->addStretch();
  fields->addLayout(width_row, 0, 1);
  fields->addWidget(start_label, 1, 0);
  fields->addWidget(start_address_, 1, 1);
  fields->addWidget(sector_label, 2, 0);
  auto* sector_row = new QHBoxLayout;
  sector_row->addWidget(from_label);
  sector_row->addWidget(sector_from_);
  sector_row->addWidget(to_label);
  sector_row->addWidget(sector_to_);
  fields->addLayout(sector_row, 2, 1);

  auto* right = new QVBoxLayout;
  right->addLayout(fields);
  right->addWidget(sectors_, 1);

  auto* layout = new QHBoxLayout(this);
  layout->addWidget(tree_, 1);
  layout->addLayout(right, 1);

  connect(tree_, &QTreeWidget::currentItemChanged, this,
          [this](QTreeWidgetItem* current, QTreeWidgetItem*) { OnTreeSelection(current); });
  connect(start_address_, &QLineEdit::textChanged, this, [this](const QString& text) {
    if (filling_) return;
    model_.start_address = text.toStdString();
    FillSectorList();
  });
  SetTabChain({tree_, width_, chips_, start_address_, sector_from_, sector_to_, sectors_});
}

void FlashPageWidget::FillTree() {
  filling_ = true;
  FillVendorTree(tree_, model_.database.vendors, model_.database.devices);
  filling_ = false;
}

void FlashPageWidget::Load() {
  filling_ = true;
  SelectInVendorTree(tree_, Text(model_.chip));
  FillWidths();
  SelectText(chips_, model_.chips_text);
  start_address_->setText(Text(model_.start_address));
  sector_from_->setText(QString::number(model_.sector_from));
  sector_to_->setText(QString::number(model_.sector_to));
  filling_ = false;
  FillSectorList();
}

void FlashPageWidget::Store() {
  model_.width_text = width_->currentText().toStdString();
  model_.chips_text = chips_->currentText().toStdString();
  model_.start_address = start_address_->text().toStdString();
  model_.sector_from = static_cast<std::int32_t>(ParseNumberText(sector_from_->text().toStdString()));
  model_.sector_to = static_cast<std::int32_t>(ParseNumberText(sector_to_->text().toStdString()));
}

void FlashPageWidget::OnTreeSelection(QTreeWidgetItem* current) {
  const QString name = RecordNameOf(current);
  if (filling_ || name.isEmpty()) return;
  // The width and chip choices keep what the user had picked.
  Store();
  if (!model_.SelectDevice(name.toStdString())) return;
  filling_ = true;
  FillWidths();
  sector_from_->setText(QString::number(model_.sector_from));
  sector_to_->setText(QString::number(model_.sector_to));
  filling_ = false;
  FillSectorList();
}

void FlashPageWidget::FillWidths() {
  const bool was_filling = filling_;
  filling_ = true;
  width_->clear();
  for (const std::string& width : model_.width_choices) width_->addItem(Text(width));
  SelectText(width_, model_.width_text);
  filling_ = was_filling;
}

void FlashPageWidget::FillSectorList() {
  const std::vector<SectorRow> rows = model_.SectorRows();
  sectors_->clearContents();
  sectors_->setRowCount(static_cast<int>(rows.size()));
  for (int i = 0; i < static_cast<int>(rows.size()); ++i) {
    const std::string* cells[] = {&rows[i].number, &rows[i].size, &rows[i].starts};
    for (int column = 0; column < 3; ++column) {
      auto* item = new QTableWidgetItem(Text(*cells[column]));
      item->setFlags(Qt::ItemIsSelectable | Qt::ItemIsEnabled);
      sectors_->setItem(i, column, item);
    }
  }
}

}  // namespace romsmith::gui
