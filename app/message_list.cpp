#include "app/message_list.h"

#include <QApplication>
#include <QClipboard>
#include <QDialogButtonBox>
#include <QKeySequence>
#include <QShortcut>
#include <QVBoxLayout>

namespace romsmith::gui {
namespace {

QStringList SelectedOrAll(const QListWidget* list) {
  QStringList lines;
  const QList<QListWidgetItem*> selected = list->selectedItems();
  for (int row = 0; row < list->count(); ++row) {
    QListWidgetItem* item = list->item(row);
    if (selected.isEmpty() || item->isSelected()) lines << item->text();
  }
  return lines;
}

// A Copy and a Close button under `list`, Ctrl+C on the list, and the copy
// itself from `text`.
template <typename Window>
void AddCopyAndClose(Window* window, QListWidget* list, const char* copy_name) {
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, window);
  QPushButton* copy = buttons->addButton(QObject::tr("&Copy"), QDialogButtonBox::ActionRole);
  copy->setObjectName(copy_name);
  copy->setAutoDefault(false);
  const auto to_clipboard = [window] { QApplication::clipboard()->setText(window->CopyText()); };
  QObject::connect(copy, &QPushButton::clicked, window, to_clipboard);
  auto* shortcut = new QShortcut(QKeySequence::Copy, list);
  shortcut->setContext(Qt::WidgetShortcut);
  QObject::connect(shortcut, &QShortcut::activated, window, to_clipboard);
  QObject::connect(buttons, &QDialogButtonBox::rejected, window, &QDialog::close);
  window->layout()->addWidget(buttons);
}

}  // namespace

MessageListWindow::MessageListWindow(const StatusLine& status, QWidget* parent)
    : QDialog(parent), status_(status) {
  setObjectName("messageListWindow");
  setWindowTitle(tr("Messages"));
  setModal(false);
  list_ = new QListWidget(this);
  list_->setObjectName("messageList");
  list_->setSelectionMode(QAbstractItemView::ExtendedSelection);
  list_->setUniformItemSizes(true);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(list_);
  AddCopyAndClose(this, list_, "copyMessagesButton");
  resize(620, 360);
  connect(&status_, &StatusLine::messageAdded, this, &MessageListWindow::OnMessageAdded);
  Refill();
}

QListWidgetItem* MessageListWindow::Item(const StatusLine::Message& message) {
  auto* item = new QListWidgetItem(message.text);
  item->setForeground(message.error ? QColor(255, 0, 0) : QColor(0, 0, 255));
  return item;
}

void MessageListWindow::Refill() {
  list_->clear();
  for (const StatusLine::Message& message : status_.messages()) list_->addItem(Item(message));
  list_->scrollToBottom();
}

void MessageListWindow::OnMessageAdded(bool replaced) {
  const QList<StatusLine::Message>& messages = status_.messages();
  // The oldest lines have gone, or the list was never filled in step.
  if (messages.isEmpty() || list_->count() + (replaced ? 0 : 1) != messages.size()) {
    Refill();
    return;
  }
  if (replaced) {
    delete list_->takeItem(list_->count() - 1);
  }
  const bool at_end = list_->count() == 0 || list_->currentRow() < 0 ||
                      list_->currentRow() == list_->count() - 1;
  list_->addItem(Item(messages.last()));
  if (at_end) list_->scrollToBottom();
}

QString MessageListWindow::CopyText() const { return SelectedOrAll(list_).join('\n'); }

BadBlockWindow::BadBlockWindow(QWidget* parent) : QDialog(parent) {
  setObjectName("badBlockWindow");
  setWindowTitle(tr("Bad Blocks"));
  setModal(false);
  summary_ = new QLabel(this);
  summary_->setObjectName("badBlockSummary");
  summary_->setTextInteractionFlags(Qt::TextSelectableByMouse);
  summary_->setWordWrap(true);
  list_ = new QListWidget(this);
  list_->setObjectName("badBlockList");
  list_->setSelectionMode(QAbstractItemView::ExtendedSelection);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(summary_);
  layout->addWidget(list_);
  AddCopyAndClose(this, list_, "copyBadBlocksButton");
  resize(340, 320);
}

void BadBlockWindow::Show(const BadBlockSummary& summary) {
  summary_text_ = QString::fromStdString(summary.Text());
  summary_->setText(summary_text_);
  list_->clear();
  for (std::int32_t sector : summary.bad_sectors) list_->addItem(QString::number(sector));
  show();
  raise();
  activateWindow();
}

QString BadBlockWindow::CopyText() const {
  if (list_->selectedItems().isEmpty()) return summary_text_;
  return SelectedOrAll(list_).join(", ");
}

}  // namespace romsmith::gui
