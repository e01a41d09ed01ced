#include "app/main_window.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QDir>
#include <QEventLoop>
#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QMenuBar>
#include <QMessageBox>
#include <QKeyEvent>
#include <QToolButton>
#include <QVBoxLayout>

#include "app/about_dialogs.h"
#include "app/configuration_dialog.h"
#include "app/cpu_page.h"
#include "app/flash_page.h"
#include "app/help_files.h"
#include "app/help_window.h"
#include "app/message_list.h"
#include "app/option_dialog.h"
#include "app/program_page.h"
#include "platform/paths.h"

namespace romsmith::gui {
namespace {

constexpr int kProgressRange = 1024;
// The bar follows a command's progress at most this often (a display frame
// or two); more would only repaint it.
constexpr int kProgressIntervalMs = 30;

struct ButtonRow {
  const char* text;
  const char* name;
  const char* icon;
};

// The command buttons, top to bottom.
constexpr ButtonRow kButtonRows[] = {
    {"&Blank Check", "blankCheckButton", ":/icons/blank_check.svg"},
    {"&Erase", "eraseButton", ":/icons/erase.svg"},
    {"&Program", "programButton", ":/icons/program.svg"},
    {"&Verify", "verifyButton", ":/icons/verify.svg"},
    {"&Checksum", "checksumButton", ":/icons/checksum.svg"},
    {"Pr&otect", "protectButton", ":/icons/protect.svg"},
    {"&Upload", "uploadButton", ":/icons/upload.svg"},
};

constexpr char kConfigFilter[] = "Target Config File (*.cfg);;All Files (*)";

QString ProgramDirectory() { return QString::fromStdString(platform::ProgramDirectoryText()); }

}  // namespace

MainWindow::MainWindow(QWidget* parent)
    : QMainWindow(parent),
      workbench_(std::make_unique<Workbench>(
          frontend_, SettingsStore(platform::ProgramDirectory(), platform::ProfilePath()))),
      files_(std::make_unique<DialogFileChooser>()),
      url_opener_([](const QUrl& url) { return QDesktopServices::openUrl(url); }) {
  setObjectName("mainWindow");
  setWindowTitle("Romsmith");
  setWindowIcon(QIcon(":/icons/romsmith.svg"));

  BuildPages();
  BuildButtons();

  progress_ = new QProgressBar(this);
  progress_->setObjectName("progressBar");
  progress_->setRange(0, kProgressRange);
  progress_->setValue(0);
  progress_->setTextVisible(false);
  animation_ = new BusyIndicator(this);
  status_ = new StatusLine(this);
  message_button_ = new QToolButton(this);
  message_button_->setObjectName("messageListButton");
  message_button_->setText(tr("&Messages..."));
  message_button_->setToolTip(tr("Every message of this run, to read back and copy"));
  connect(message_button_, &QToolButton::clicked, this, &MainWindow::ShowMessageList);
  connect(status_, &StatusLine::clicked, this, &MainWindow::ShowMessageList);

  auto* central = new QWidget(this);
  central->setObjectName("centralWidget");
  auto* grid = new QGridLayout(central);
  grid->addWidget(tabs_, 0, 0);
  auto* column = new QVBoxLayout;
  column->addSpacing(tabs_->tabBar()->sizeHint().height());
  for (QPushButton* button : buttons_) column->addWidget(button);
  column->addWidget(close_);
  column->addStretch();
  grid->addLayout(column, 0, 1);
  auto* bottom = new QGridLayout;
  bottom->addWidget(progress_, 0, 0);
  bottom->addWidget(animation_, 0, 1, 2, 1, Qt::AlignCenter);
  auto* status_row = new QHBoxLayout;
  status_row->addWidget(status_, 1);
  status_row->addWidget(message_button_);
  bottom->addLayout(status_row, 1, 0);
  bottom->setColumnStretch(0, 1);
  grid->addLayout(bottom, 1, 0, 1, 2);
  grid->setRowStretch(0, 1);
  grid->setColumnStretch(0, 1);
  setCentralWidget(central);

  BuildMenus();

  frontend_.Attach({this, new ProgressPacer(progress_, kProgressIntervalMs, this), animation_,
                    status_, [this](bool enable, bool stoppable) { SetControls(enable, stoppable); },
                    [this] { return workbench_->closing(); }});
  // The command's end reaches this thread as a queued call: the worker does
  // not wait for it.
  workbench_->SetCompletionCallback([this](const CommandReport& report) {
    QMetaObject::invokeMethod(this, [this, report] { OnCommandFinished(report); },
                              Qt::QueuedConnection);
  });

  // The tab order of the window: the pages, then the buttons top to bottom.
  setTabOrder(tabs_, buttons_[0]);
  for (int i = 1; i < kButtons; ++i) setTabOrder(buttons_[i - 1], buttons_[i]);
  setTabOrder(buttons_[kButtons - 1], close_);
  setTabOrder(close_, message_button_);

  resize(sizeHint().expandedTo(QSize(860, 560)));
}

MainWindow::~MainWindow() {
  // The window cannot close while a command runs; should it be destroyed
  // anyway, the command is stopped with its questions answered by default.
  // The worker may be waiting for this thread to show a line: serve it until
  // the command has ended, then nothing reaches the widgets any more.
  workbench_->SetCompletionCallback({});
  if (workbench_->IsBusy()) workbench_->RequestClose();
  while (workbench_->IsBusy()) QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
  frontend_.Attach({});
  workbench_.reset();
}

void MainWindow::SetFileChooser(std::unique_ptr<FileChooser> chooser) {
  files_ = std::move(chooser);
}

void MainWindow::BuildPages() {
  tabs_ = new QTabWidget(this);
  tabs_->setObjectName("pageTabs");
  TargetPages& pages = workbench_->pages();
  program_page_ = new ProgramPageWidget([this]() -> FileChooser& { return *files_; }, tabs_);
  program_page_->SetDefaultFolder([this] { return ConfigurationFolder(); });
  cpu_page_ = new CpuPageWidget(pages.cpu, tabs_);
  flash_page_ = new FlashPageWidget(pages.flash, tabs_);
  tabs_->addTab(program_page_, tr("Program"));
  tabs_->addTab(cpu_page_, tr("CPU"));
  tabs_->addTab(flash_page_, tr("Flash"));
  connect(tabs_, &QTabWidget::currentChanged, this, &MainWindow::OnTabChanged);
  connect(cpu_page_, &CpuPageWidget::cpuSelected, this, &MainWindow::ApplyCpuKind);
  connect(cpu_page_, &CpuPageWidget::targetTestRequested, this,
          [this] { RunCommand(Command::kTargetTest); });
  connect(cpu_page_, &CpuPageWidget::registerReadRequested, this,
          [this] { RunCommand(Command::kRegisterRead); });
}

void MainWindow::BuildButtons() {
  constexpr Command kCommands[] = {Command::kBlankCheck, Command::kErase,    Command::kProgram,
                                   Command::kVerify,     Command::kChecksum, Command::kProtect,
                                   Command::kUpload};
  for (int i = 0; i < kButtons; ++i) {
    auto* button = new QPushButton(QIcon(kButtonRows[i].icon), tr(kButtonRows[i].text), this);
    button->setObjectName(kButtonRows[i].name);
    button->setIconSize(QSize(16, 16));
    button->setAutoDefault(false);
    const Command command = kCommands[i];
    connect(button, &QPushButton::clicked, this, [this, command] { RunCommand(command); });
    buttons_[i] = button;
  }
  // Made once: each new icon would draw its picture anew at the next paint.
  close_icon_ = QIcon(":/icons/close.svg");
  stop_icon_ = QIcon(":/icons/stop.svg");
  close_ = new QPushButton(close_icon_, tr("Cl&ose"), this);
  close_->setObjectName("closeButton");
  close_->setIconSize(QSize(16, 16));
  close_->setAutoDefault(false);
  connect(close_, &QPushButton::clicked, this, &MainWindow::CloseOrStop);
}

void MainWindow::BuildMenus() {
  QMenu* file = menuBar()->addMenu(tr("&File"));
  file->setObjectName("fileMenu");
  QAction* open = file->addAction(tr("&Open..."), this, &MainWindow::OpenConfiguration);
  open->setObjectName("openAction");
  QAction* save = file->addAction(tr("&Save"), this, [this] { SaveConfiguration(); });
  save->setObjectName("saveAction");
  QAction* save_as = file->addAction(tr("S&ave As..."), this, [this] { SaveConfigurationAs(); });
  save_as->setObjectName("saveAsAction");
  file->addSeparator();
  recent_placeholder_ = file->addAction(tr("Recent File"));
  recent_placeholder_->setObjectName("recentFilePlaceholder");
  recent_placeholder_->setEnabled(false);
  for (int i = 0; i < static_cast<int>(recent_actions_.size()); ++i) {
    QAction* action = file->addAction(QString(), this, [this, i] { OpenRecent(i); });
    action->setObjectName(QString("recentFileAction%1").arg(i + 1));
    action->setVisible(false);
    recent_actions_[i] = action;
  }
  file->addSeparator();
  QAction* exit = file->addAction(tr("E&xit"), this, &MainWindow::CloseOrStop);
  exit->setObjectName("exitAction");

  QMenu* setting = menuBar()->addMenu(tr("&Setting"));
  setting->setObjectName("settingMenu");
  QAction* configure = setting->addAction(tr("&Configure..."), this, &MainWindow::Configure);
  configure->setObjectName("configureAction");

  QMenu* tools = menuBar()->addMenu(tr("&Tools"));
  tools->setObjectName("toolsMenu");
  QAction* option = tools->addAction(tr("&Option..."), this, &MainWindow::Options);
  option->setObjectName("optionAction");

  QMenu* help = menuBar()->addMenu(tr("&Help"));
  help->setObjectName("helpMenu");
  QAction* contents = help->addAction(tr("&Contents"), this, &MainWindow::HelpContents);
  contents->setObjectName("helpContentsAction");
  contents->setShortcut(QKeySequence::HelpContents);
  QAction* about = help->addAction(tr("&About..."), this, &MainWindow::About);
  about->setObjectName("aboutAction");
  about->setMenuRole(QAction::AboutRole);

  config_actions_ = {open, save, save_as, configure, option};
  for (QAction* action : recent_actions_) config_actions_.append(action);
}

void MainWindow::Start() {
  // Without settings the window still opens, with no log file; the
  // databases and the recent file list are loaded either way.
  StartOptions options;
  options.read_recent_files = true;
  workbench_->Start(options);
  UpdateRecentFiles();
  workbench_->pages().cpu.ResetMemoryRows();
  cpu_page_->FillTree();
  flash_page_->FillTree();
  LoadPages();
}

// ---------------------------------------------------------------- pages

void MainWindow::StorePages() {
  TargetPages& pages = workbench_->pages();
  program_page_->Store(pages.program);
  cpu_page_->Store();
  flash_page_->Store();
}

void MainWindow::LoadPages() {
  program_page_->Load(workbench_->pages().program);
  cpu_page_->Load();
  flash_page_->Load();
  ApplyCpuKind(workbench_->pages().cpu.current.IsNand());
}

void MainWindow::OnTabChanged() {
  // Every page hands its values to the configuration before the next one
  // shows; the program page's read-out follows the configuration.
  StorePages();
  workbench_->document().TakeFromPages();
  program_page_->Load(workbench_->pages().program);
}

void MainWindow::ApplyCpuKind(bool nand) {
  nand_cpu_ = nand;
  buttons_[kProtect]->setText(nand ? tr("Check Block") : tr(kButtonRows[kProtect].text));
  buttons_[kChecksum]->setEnabled(!nand && !command_running_);
}

// ---------------------------------------------------------------- commands

void MainWindow::RunCommand(Command command) {
  if (command_running_) return;
  StorePages();
  if (!workbench_->RunCommand(command)) return;  // it logged why
  command_start_sector_ = workbench_->config().start_sector;
  command_end_sector_ = workbench_->config().end_sector;
  command_running_ = true;
  SetControls(false, true);
}

void MainWindow::OnCommandFinished(const CommandReport& report) {
  command_running_ = false;
  workbench_->WaitForCommand();
  if (report.code == CommandCode::kRegisterRead) {
    workbench_->ApplyRegisterRead(report);
    cpu_page_->FillRegisterList();
  }
  SetControls(true, true);
  if (report.code == CommandCode::kNandCheckBlock && report.result.completed &&
      report.result.outcome == CommandOutcome::kSucceeded)
    ShowBadBlocks();
  emit commandFinished(report.result.outcome);
}

void MainWindow::SetControls(bool enable, bool stoppable) {
  for (int i = 0; i < kButtons; ++i) {
    buttons_[i]->setEnabled(enable && !(i == kChecksum && nand_cpu_));
  }
  cpu_page_->target_test_button()->setEnabled(enable);
  cpu_page_->register_read_button()->setEnabled(enable);
  // Files and settings stay as they are while a command uses them.
  const bool idle = enable && !command_running_;
  for (QAction* action : config_actions_) action->setEnabled(idle);
  if (enable) {
    close_->setIcon(close_icon_);
    close_->setText(tr("Cl&ose"));
    close_->setEnabled(true);
  } else if (stoppable) {
    close_->setIcon(stop_icon_);
    close_->setText(tr("&Stop"));
    close_->setEnabled(true);
  } else {
    close_->setEnabled(false);
  }
}

void MainWindow::CloseOrStop() {
  // While a command runs, Close is Stop: the window stays open and the
  // command ends itself at its next stop check.
  if (command_running_ || workbench_->IsBusy()) {
    workbench_->OnCloseOrStop();
    return;
  }
  close();
}

void MainWindow::keyPressEvent(QKeyEvent* event) {
  // Not a window-wide shortcut: a shortcut sees the key before the widget
  // that has the focus, so Escape meant for a pop-up or a cell editor would
  // close the window. A key event reaches the window only when the focus
  // widget and its parents left it unused.
  if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
    event->accept();
    CloseOrStop();
    return;
  }
  QMainWindow::keyPressEvent(event);
}

void MainWindow::closeEvent(QCloseEvent* event) {
  // The window's own close request is the Close button: while a command
  // runs it asks the command to stop and the window stays open.
  if (command_running_ || workbench_->IsBusy()) {
    workbench_->OnCloseOrStop();
    event->ignore();
    return;
  }
  StorePages();
  if (!workbench_->RequestClose()) {
    event->ignore();
    return;
  }
  WriteRecentFiles();
  event->accept();
}

void MainWindow::BringToFront() {
  if (isMinimized()) showNormal();
  show();
  raise();
  activateWindow();
}

// ---------------------------------------------------------------- File menu

void MainWindow::OpenConfiguration() {
  const QString path = files_->OpenFile(this, tr("Open"), kConfigFilter, ConfigurationDialogStart());
  if (!path.isEmpty()) OpenConfigurationFile(path);
}

void MainWindow::OpenConfigurationFile(const QString& path) {
  if (command_running_ || workbench_->IsBusy()) return;
  StorePages();
  if (!workbench_->document().Open(path.toStdString())) return;
  LoadPages();
  UpdateRecentFiles();
  WriteRecentFiles();
}

void MainWindow::OpenRecent(int index) {
  StorePages();
  if (!workbench_->document().OpenRecent(static_cast<std::size_t>(index))) return;
  LoadPages();
  UpdateRecentFiles();
  WriteRecentFiles();
}

bool MainWindow::SaveConfiguration() {
  if (workbench_->document().current_file().empty()) return SaveConfigurationAs();
  StorePages();
  const bool saved = workbench_->document().Save();
  program_page_->Load(workbench_->pages().program);
  return saved;
}

bool MainWindow::SaveConfigurationAs() {
  const QString path =
      files_->SaveFile(this, tr("Save As"), kConfigFilter, ConfigurationDialogStart());
  if (path.isEmpty()) return false;
  StorePages();
  const bool saved = workbench_->document().SaveAs(path.toStdString());
  program_page_->Load(workbench_->pages().program);
  UpdateRecentFiles();
  WriteRecentFiles();
  return saved;
}

void MainWindow::UpdateRecentFiles() {
  const std::vector<std::string>& entries = workbench_->document().recent_files().entries();
  for (std::size_t i = 0; i < recent_actions_.size(); ++i) {
    QAction* action = recent_actions_[i];
    const bool used = i < entries.size();
    action->setVisible(used);
    if (used) {
      const QString path = QString::fromStdString(entries[i]).left(260);
      action->setText(QString("&%1 %2").arg(i + 1).arg(path));
    }
  }
  recent_placeholder_->setVisible(entries.empty());
}

void MainWindow::WriteRecentFiles() { workbench_->SaveRecentFiles(); }

// ---------------------------------------------------------------- dialogs

void MainWindow::Configure() {
  const ProgramSettings& settings = workbench_->settings();
  ConfigurationDialog dialog(workbench_->Drivers(), ChoiceFromSettings(settings.remote), this);
  if (dialog.exec() != QDialog::Accepted) return;
  // The next command binds the driver with these.
  RemoteSettings remote = settings.remote;
  ApplyConfiguration(dialog.choice(), remote);
  workbench_->ChangeConnection(remote);
}

void MainWindow::Options() {
  OptionDialog dialog(OptionsFromSettings(workbench_->settings()), this);
  if (dialog.exec() != QDialog::Accepted) return;
  ProgramSettings options = workbench_->settings();
  ApplyOptions(dialog.values(), options);
  workbench_->ChangeOptions(options);
}

void MainWindow::HelpContents() {
  const QString page = HelpStartPage(ProgramDirectory(), QLocale::system());
  if (!QFileInfo(page).isFile()) {
    platform::ShowMessage("Error: can't find help file.", "Romsmith",
                          platform::MessageIcon::Warning);
    return;
  }
  // The desktop's browser first; where it has none to offer, the program's
  // own help window over the same pages.
  if (!help_opener_failed_ && url_opener_(QUrl::fromLocalFile(page))) return;
  help_opener_failed_ = true;
  if (!help_window_) help_window_ = new HelpWindow(this);
  help_window_->ShowPage(page);
}

void MainWindow::About() {
  if (workbench_->settings().encrypt == 0) {
    AboutDialog(this).exec();
    return;
  }
  PasswordDialog dialog(this);
  const bool encrypt = dialog.exec() == QDialog::Accepted;
  // The data files are rewritten on the worker under the program
  // directory's lock, the commands off meanwhile; the menu returns when the
  // files are done.
  QEventLoop done;
  connect(this, &MainWindow::commandFinished, &done, &QEventLoop::quit);
  if (!workbench_->RunDataFileMaintenance(dialog.password().toStdString(), encrypt)) return;
  command_running_ = true;
  SetControls(false, false);
  done.exec();
}

// ---------------------------------------------------------------- lists

void MainWindow::ShowMessageList() {
  if (!message_list_) message_list_ = new MessageListWindow(*status_, this);
  message_list_->show();
  message_list_->raise();
  message_list_->activateWindow();
}

void MainWindow::ShowBadBlocks() {
  const BadBlockSummary summary =
      SummarizeBadBlocks(command_start_sector_, command_end_sector_, workbench_->bad_block_table());
  workbench_->log().Info("Info: " + summary.Text() + "\n");
  if (!bad_blocks_) bad_blocks_ = new BadBlockWindow(this);
  bad_blocks_->Show(summary);
}

QString MainWindow::ConfigurationFolder() const {
  const std::string& current = workbench_->document().current_file();
  if (!current.empty()) return QFileInfo(QString::fromStdString(current)).absolutePath();
  return {};
}

QString MainWindow::ConfigurationDialogStart() const {
  const std::string& current = workbench_->document().current_file();
  if (!current.empty()) return DialogStart(QString::fromStdString(current), {});
  const std::vector<std::string>& recent = workbench_->document().recent_files().entries();
  const QString examples = QDir(ProgramDirectory()).filePath("examples");
  if (!recent.empty())
    return DialogStart(QFileInfo(QString::fromStdString(recent.front())).absolutePath(), examples);
  return DialogStart({}, examples);
}

}  // namespace romsmith::gui
