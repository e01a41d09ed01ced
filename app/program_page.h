// The "Program" tab: a read-out of the chosen target and the fields the user
// types for a command (RAM start, program and upload files, format, auto
// erase and verify). Bound to the ProgramPage of the page model.
#pragma once

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLineEdit>
#include <QPushButton>
#include <QWidget>

#include <functional>

#include "target_data/target_pages.h"

namespace romsmith::gui {

class FileChooser;

class ProgramPageWidget : public QWidget {
  Q_OBJECT

 public:
  // `files` gives the window's current file dialogs.
  ProgramPageWidget(std::function<FileChooser&()> files, QWidget* parent = nullptr);

  // Model -> fields, and the fields the user types -> model.
  void Load(const ProgramPage& page);
  void Store(ProgramPage& page) const;

  // Where the browse dialogs open for an empty field (the folder of the
  // target configuration, say); the user's home folder without one.
  void SetDefaultFolder(std::function<QString()> folder) { default_folder_ = std::move(folder); }

  // Path tooltips appear only while either path has at least this many
  // characters.
  static constexpr int kPathTooltipLength = 37;

 private:
  void BrowseProgramFile();
  void BrowseUploadFile();
  void UpdatePathTooltips();

  std::function<FileChooser&()> files_;
  std::function<QString()> default_folder_;
  QGroupBox* target_group_;
  QLineEdit* cpu_type_;
  QLineEdit* cpu_endian_;
  QLineEdit* ram_start_;
  QCheckBox* auto_erase_;
  QCheckBox* auto_verify_;
  QLineEdit* flash_device_;
  QLineEdit* flash_start_;
  QLineEdit* flash_width_;
  QLineEdit* flash_chips_;
  QLineEdit* sector_from_;
  QLineEdit* sector_to_;
  QLineEdit* program_file_;
  QPushButton* program_browse_;
  QComboBox* format_;
  QLineEdit* upload_file_;
  QPushButton* upload_browse_;
};

}  // namespace romsmith::gui
