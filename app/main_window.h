// The main window: the three target pages, the seven flash command buttons
// and Close, the progress bar, the busy animation, the status line and the
// menus. It owns the Workbench and routes every user command to it.
#pragma once

#include <QAction>
#include <QMainWindow>
#include <QProgressBar>
#include <QPushButton>
#include <QTabWidget>
#include <QToolButton>
#include <QUrl>

#include <array>
#include <functional>
#include <memory>

#include "app/busy_indicator.h"
#include "app/file_chooser.h"
#include "app/status_line.h"
#include "app/window_frontend.h"
#include "operations/workbench.h"

namespace romsmith::gui {

class BadBlockWindow;
class CpuPageWidget;
class FlashPageWidget;
class HelpWindow;
class MessageListWindow;
class ProgramPageWidget;

class MainWindow : public QMainWindow {
  Q_OBJECT

 public:
  // The widgets only; Start does the rest of the start-up.
  explicit MainWindow(QWidget* parent = nullptr);
  ~MainWindow() override;

  // Start-up: the recent file list of the user profile, the settings of the
  // program directory, "Info.log", the two databases and the pages. Boxes it
  // raises go to the message handler installed before it.
  void Start();

  Workbench& workbench() { return *workbench_; }
  // Tests answer the file dialogs and keep the help browser closed.
  void SetFileChooser(std::unique_ptr<FileChooser> chooser);
  void SetUrlOpener(std::function<bool(const QUrl&)> opener) { url_opener_ = std::move(opener); }

  // Restored when minimised, raised and activated: a second start asked.
  void BringToFront();
  // File > Open with the file chosen: a configuration named on the command
  // line or by a second start. Refused while a command runs (the File menu
  // is off then too).
  void OpenConfigurationFile(const QString& path);
  // The list of every line the status line has shown in this run.
  void ShowMessageList();

  bool command_running() const { return command_running_; }

 signals:
  // A command started from this window has ended and the controls are back.
  void commandFinished(romsmith::CommandOutcome outcome);

 protected:
  void closeEvent(QCloseEvent* event) override;
  // Escape that no child used (a drop-down list's pop-up, a cell editor and
  // a dialog each take their own) is the Close button.
  void keyPressEvent(QKeyEvent* event) override;

 private:
  enum Button { kBlankCheck, kErase, kProgram, kVerify, kChecksum, kProtect, kUpload, kButtons };

  void BuildPages();
  void BuildButtons();
  void BuildMenus();

  // Pages <-> the page model.
  void StorePages();
  void LoadPages();
  void OnTabChanged();
  void ApplyCpuKind(bool nand);

  // Commands.
  void RunCommand(Command command);
  void OnCommandFinished(const CommandReport& report);
  void SetControls(bool enable, bool stoppable);
  // Close button, Escape and File Exit: Stop while a command runs, else
  // close the window.
  void CloseOrStop();

  // Menus.
  void OpenConfiguration();
  void OpenRecent(int index);
  bool SaveConfiguration();
  bool SaveConfigurationAs();
  void UpdateRecentFiles();
  void WriteRecentFiles();
  void Configure();
  void Options();
  void HelpContents();
  void About();
  // After a Check Block that ran to its end: its result line in the message
  // log and the bad blocks in their window.
  void ShowBadBlocks();
  // Where File > Open and Save As open: the configuration's folder, else
  // the last one's, else the examples.
  QString ConfigurationDialogStart() const;
  QString ConfigurationFolder() const;

  WindowFrontend frontend_;
  std::unique_ptr<Workbench> workbench_;
  std::unique_ptr<FileChooser> files_;
  std::function<bool(const QUrl&)> url_opener_;

  QTabWidget* tabs_ = nullptr;
  ProgramPageWidget* program_page_ = nullptr;
  CpuPageWidget* cpu_page_ = nullptr;
  FlashPageWidget* flash_page_ = nullptr;
  std::array<QPushButton*, kButtons> buttons_{};
  QPushButton* close_ = nullptr;
  QIcon close_icon_;
  QIcon stop_icon_;
  QProgressBar* progress_ = nullptr;
  BusyIndicator* animation_ = nullptr;
  StatusLine* status_ = nullptr;
  QToolButton* message_button_ = nullptr;
  MessageListWindow* message_list_ = nullptr;
  BadBlockWindow* bad_blocks_ = nullptr;
  HelpWindow* help_window_ = nullptr;

  QList<QAction*> config_actions_;  // off while a command runs
  std::array<QAction*, 4> recent_actions_{};
  QAction* recent_placeholder_ = nullptr;

  bool command_running_ = false;
  bool nand_cpu_ = false;
  bool log_file_open_ = false;
  // The desktop could not open the help once: the help window serves the
  // rest of the run.
  bool help_opener_failed_ = false;
  // The sector range of the running (or last) command, as it started.
  std::int32_t command_start_sector_ = 0;
  std::int32_t command_end_sector_ = 0;
};

}  // namespace romsmith::gui
