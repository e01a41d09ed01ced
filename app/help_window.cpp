#include "app/help_window.h"

#include <QDesktopServices>
#include <QHBoxLayout>
#include <QPushButton>
#include <QVBoxLayout>

namespace romsmith::gui {

HelpWindow::HelpWindow(QWidget* parent) : QWidget(parent, Qt::Window) {
  setObjectName("helpWindow");
  setWindowTitle(tr("Romsmith Help"));
  browser_ = new QTextBrowser(this);
  browser_->setObjectName("helpBrowser");
  browser_->setOpenLinks(true);
  browser_->setOpenExternalLinks(true);
  auto* back = new QPushButton(tr("&Back"), this);
  back->setObjectName("helpBackButton");
  back->setEnabled(false);
  auto* forward = new QPushButton(tr("&Forward"), this);
  forward->setObjectName("helpForwardButton");
  forward->setEnabled(false);
  auto* contents = new QPushButton(tr("&Contents"), this);
  contents->setObjectName("helpContentsButton");
  auto* close = new QPushButton(tr("Cl&ose"), this);
  close->setObjectName("helpCloseButton");
  connect(back, &QPushButton::clicked, browser_, &QTextBrowser::backward);
  connect(forward, &QPushButton::clicked, browser_, &QTextBrowser::forward);
  connect(browser_, &QTextBrowser::backwardAvailable, back, &QPushButton::setEnabled);
  connect(browser_, &QTextBrowser::forwardAvailable, forward, &QPushButton::setEnabled);
  connect(contents, &QPushButton::clicked, this,
          [this] { browser_->setSource(QUrl::fromLocalFile(start_page_)); });
  connect(close, &QPushButton::clicked, this, &QWidget::close);
  connect(browser_, &QTextBrowser::sourceChanged, this, [this] {
    const QString title = browser_->documentTitle();
    setWindowTitle(title.isEmpty() ? tr("Romsmith Help") : title);
  });

  auto* buttons = new QHBoxLayout;
  buttons->addWidget(back);
  buttons->addWidget(forward);
  buttons->addWidget(contents);
  buttons->addStretch();
  buttons->addWidget(close);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(buttons);
  layout->addWidget(browser_);
  resize(760, 560);
}

void HelpWindow::ShowPage(const QString& page) {
  start_page_ = page;
  browser_->setSource(QUrl::fromLocalFile(page));
  show();
  raise();
  activateWindow();
}

}  // namespace romsmith::gui
