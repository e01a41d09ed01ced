// The "Flash" tab: the flash tree from the flash device database, the bus
// width and chip count, the start address, the sector range and the sector
// list. Bound to the FlashPage of the page model.
#pragma once

#include <QComboBox>
#include <QLineEdit>
#include <QTableWidget>
#include <QTreeWidget>
#include <QWidget>

#include "target_data/target_pages.h"

namespace romsmith::gui {

class FlashPageWidget : public QWidget {
  Q_OBJECT

 public:
  // The page edits `model` directly when the user picks a device.
  explicit FlashPageWidget(FlashPage& model, QWidget* parent = nullptr);

  void FillTree();
  void Load();
  void Store();

 private:
  void OnTreeSelection(QTreeWidgetItem* current);
  void FillWidths();
  void FillSectorList();

  FlashPage& model_;
  QTreeWidget* tree_;
  QComboBox* width_;
  QComboBox* chips_;
  QLineEdit* start_address_;
  QLineEdit* sector_from_;
  QLineEdit* sector_to_;
  QTableWidget* sectors_;
  bool filling_ = false;
};

}  // namespace romsmith::gui
