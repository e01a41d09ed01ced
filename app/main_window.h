// The main window: the three target pages, the seven flash command buttons
// and Close, the progress bar, the busy animation, the status line and the
// menus. It owns the Workbench and routes every user command to it.
#pragma once

#include <QAction>
#include <QMainWindow>
#include <QProgressBar>
#include <QPushButton>
#include <QTabWidget>
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

class CpuPageWidget;
class FlashPageWidget;
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

  bool command_running() const { return command_running_; }

 signals:
  // A command started from this window has ended and the controls are back.
  void commandFinished(romsmith::CommandOutcome outcome);

 protected:
  void closeEvent(QCloseEvent* event) override;

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

  QList<QAction*> config_actions_;  // off while a command runs
  std::array<QAction*, 4> recent_actions_{};
  QAction* recent_placeholder_ = nullptr;

  bool command_running_ = false;
  bool nand_cpu_ = false;
  bool help_viewer_failed_ = false;
};

}  // namespace romsmith::gui
