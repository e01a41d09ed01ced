#include "app/cpu_page.h"

#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QScrollBar>
#include <QStyle>
#include <QToolTip>
#include <QVBoxLayout>

#include "app/tab_order.h"
#include "app/vendor_tree.h"
#include "platform/text.h"

namespace romsmith::gui {
namespace {

QString Text(const std::string& text) { return QString::fromStdString(text); }

QTableWidgetItem* Cell(const QString& text, bool editable) {
  auto* item = new QTableWidgetItem(text);
  Qt::ItemFlags flags = Qt::ItemIsSelectable | Qt::ItemIsEnabled;
  if (editable) flags |= Qt::ItemIsEditable;
  item->setFlags(flags);
  return item;
}

}  // namespace

void SetUpEditableList(QTableWidget* list, const QStringList& columns) {
  list->setColumnCount(columns.size());
  list->setHorizontalHeaderLabels(columns);
  list->setShowGrid(true);
  list->setSelectionBehavior(QAbstractItemView::SelectRows);
  list->setSelectionMode(QAbstractItemView::SingleSelection);
  list->setEditTriggers(QAbstractItemView::SelectedClicked | QAbstractItemView::EditKeyPressed);
  list->verticalHeader()->setVisible(false);
  list->verticalHeader()->setDefaultSectionSize(list->fontMetrics().height() + 6);
  list->horizontalHeader()->setStretchLastSection(true);
  list->horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
  // Tab leaves the list for the next control; the arrows move in it.
  list->setTabKeyNavigation(false);
}

void FitColumnsToContents(QTableWidget* list) {
  list->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
  list->horizontalHeader()->setStretchLastSection(true);
  list->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
}

void FitHexColumn(QTableWidget* list, int column) {
  // The widest of the digits, eight times, behind "0x", with the cell's
  // margins: the column takes a value shown as 0x%08X whole, however
  // empty the list is.
  const QFontMetrics metrics(list->font());
  int digit = 0;
  for (QChar c : QStringLiteral("0123456789ABCDEF")) digit = std::max(digit, metrics.horizontalAdvance(c));
  const int margin = 2 * (list->style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, list) + 1);
  const int text = metrics.horizontalAdvance("0x") + 8 * digit + margin + 4;
  QHeaderView* header = list->horizontalHeader();
  header->setSectionResizeMode(column, QHeaderView::Interactive);
  header->resizeSection(column, std::max(text, header->sectionSizeHint(column)));
}

CpuPageWidget::CpuPageWidget(CpuPage& model, QWidget* parent) : QWidget(parent), model_(model) {
  setObjectName("cpuPage");

  tree_ = NewVendorTree("cpuTree", this);

  registers_ = new QTableWidget(this);
  registers_->setObjectName("registerList");
  SetUpEditableList(registers_, {tr("Register"), tr("Default"), tr("Value")});
  memory_ = new QTableWidget(this);
  memory_->setObjectName("memoryList");
  SetUpEditableList(memory_, {tr("Address"), tr("Value"), tr("Size")});
  FitColumnsToContents(memory_);
  FitHexColumn(memory_, 0);
  FitHexColumn(memory_, 1);
  // Size takes what is left, and the layout keeps room for both columns
  // and the Size header.
  QHeaderView* header = memory_->horizontalHeader();
  header->setStretchLastSection(false);
  header->setSectionResizeMode(2, QHeaderView::Stretch);
  memory_->setMinimumWidth(header->sectionSize(0) + header->sectionSize(1) +
                           header->sectionSizeHint(2) + 2 * memory_->frameWidth() +
                           memory_->verticalScrollBar()->sizeHint().width());

  auto* endian = new QGroupBox(tr("Endian"), this);
  endian->setObjectName("endianGroup");
  little_ = new QRadioButton(tr("Little"), endian);
  little_->setObjectName("littleEndianRadio");
  big_ = new QRadioButton(tr("Big"), endian);
  big_->setObjectName("bigEndianRadio");
  little_->setChecked(true);
  auto* endian_layout = new QHBoxLayout(endian);
  endian_layout->addWidget(little_);
  endian_layout->addWidget(big_);

  target_test_ = new QPushButton(tr("&Target Test"), this);
  target_test_->setObjectName("targetTestButton");
  register_read_ = new QPushButton(tr("&Register Read"), this);
  register_read_->setObjectName("registerReadButton");

  auto* register_label = new QLabel(tr("Write Registers:"), this);
  register_label->setBuddy(registers_);
  auto* memory_label = new QLabel(tr("Write Memory:"), this);
  memory_label->setBuddy(memory_);

  auto* right = new QGridLayout;
  right->addWidget(register_label, 0, 0);
  right->addWidget(registers_, 1, 0);
  right->addWidget(memory_label, 0, 1);
  right->addWidget(memory_, 1, 1);
  auto* bottom = new QHBoxLayout;
  bottom->addWidget(endian);
  bottom->addStretch();
  bottom->addWidget(target_test_);
  bottom->addWidget(register_read_);
  right->addLayout(bottom, 2, 0, 1, 2);
  right->setColumnStretch(0, 1);
  right->setColumnStretch(1, 1);

  auto* layout = new QHBoxLayout(this);
  layout->addWidget(tree_, 1);
  layout->addLayout(right, 4);

  connect(tree_, &QTreeWidget::currentItemChanged, this,
          [this](QTreeWidgetItem* current, QTreeWidgetItem*) { OnTreeSelection(current); });
  connect(registers_, &QTableWidget::itemChanged, this, &CpuPageWidget::OnRegisterEdited);
  connect(registers_, &QTableWidget::cellClicked, this, &CpuPageWidget::OnRegisterClicked);
  connect(target_test_, &QPushButton::clicked, this, &CpuPageWidget::targetTestRequested);
  connect(register_read_, &QPushButton::clicked, this, &CpuPageWidget::registerReadRequested);

  SetTabChain({tree_, registers_, memory_, little_, big_, target_test_, register_read_});
  FillMemoryList();
}

void CpuPageWidget::FillTree() {
  filling_ = true;
  FillVendorTree(tree_, model_.database.vendors, model_.database.cpus);
  filling_ = false;
}

void CpuPageWidget::Load() {
  filling_ = true;
  SelectInVendorTree(tree_, Text(model_.chip));
  filling_ = false;
  little_->setChecked(model_.little_endian);
  big_->setChecked(!model_.little_endian);
  FillRegisterList();
  FillMemoryList();
}

void CpuPageWidget::Store() {
  model_.little_endian = little_->isChecked();
  model_.memory_rows.resize(std::max<std::size_t>(model_.memory_rows.size(), memory_->rowCount()));
  for (int row = 0; row < memory_->rowCount(); ++row) {
    MemoryListRow& target = model_.memory_rows[row];
    target.address = memory_->item(row, 0)->text().toStdString();
    target.value = memory_->item(row, 1)->text().toStdString();
    target.size = memory_->item(row, 2)->text().toStdString();
  }
}

void CpuPageWidget::FillRegisterList() {
  filling_ = true;
  const std::vector<RegisterListRow> rows = model_.RegisterRows();
  registers_->clearContents();
  registers_->setRowCount(static_cast<int>(rows.size()));
  for (int i = 0; i < static_cast<int>(rows.size()); ++i) {
    registers_->setItem(i, kName, Cell(Text(rows[i].name), false));
    registers_->setItem(i, kDefault, Cell(Text(rows[i].default_text), false));
    QTableWidgetItem* value = Cell(Text(rows[i].value_text), true);
    registers_->setItem(i, kValue, value);
    MarkChanged(value, rows[i].changed);
  }
  registers_->resizeColumnToContents(kName);
  filling_ = false;
}

void CpuPageWidget::FillMemoryList() {
  filling_ = true;
  const int rows = static_cast<int>(std::max(model_.memory_rows.size(), kMemoryListRows));
  memory_->clearContents();
  memory_->setRowCount(rows);
  for (int i = 0; i < rows; ++i) {
    const bool known = i < static_cast<int>(model_.memory_rows.size());
    const MemoryListRow row = known ? model_.memory_rows[i] : MemoryListRow{};
    memory_->setItem(i, 0, Cell(Text(row.address), true));
    memory_->setItem(i, 1, Cell(Text(row.value), true));
    memory_->setItem(i, 2, Cell(Text(row.size), true));
  }
  filling_ = false;
}

void CpuPageWidget::OnTreeSelection(QTreeWidgetItem* current) {
  // Vendor rows and programmatic selections choose nothing.
  const QString name = RecordNameOf(current);
  if (filling_ || name.isEmpty()) return;
  if (!model_.SelectCpu(name.toStdString())) return;
  FillRegisterList();
  emit cpuSelected(model_.current.IsNand());
}

void CpuPageWidget::OnRegisterEdited(QTableWidgetItem* item) {
  if (filling_ || item->column() != kValue) return;
  const bool changed = model_.SetRegisterValueText(static_cast<std::size_t>(item->row()),
                                                   item->text().toStdString());
  filling_ = true;
  MarkChanged(item, changed);
  filling_ = false;
}

void CpuPageWidget::OnRegisterClicked(int row, int column) {
  if (column == kValue) return;
  const std::vector<RegisterListRow> rows = model_.RegisterRows();
  if (row < 0 || row >= static_cast<int>(rows.size())) return;
  registers_->setToolTip(Text(rows[row].tooltip));
}

void CpuPageWidget::MarkChanged(QTableWidgetItem* item, bool changed) {
  // Changed values stand out in the desktop's own highlight colours.
  item->setData(Qt::UserRole, changed);
  QFont font = registers_->font();
  font.setBold(changed);
  item->setFont(font);
  if (changed) {
    item->setBackground(palette().brush(QPalette::Highlight));
    item->setForeground(palette().brush(QPalette::HighlightedText));
  } else {
    item->setData(Qt::BackgroundRole, QVariant());
    item->setData(Qt::ForegroundRole, QVariant());
  }
}

}  // namespace romsmith::gui
