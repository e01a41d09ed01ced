// The "CPU" tab: the CPU tree from the CPU database, the start-up register
// and memory-write lists (edited in place), the byte order and the target
// test buttons. Bound to the CpuPage of the page model.
#pragma once

#include <QPushButton>
#include <QRadioButton>
#include <QTableWidget>
#include <QTreeWidget>
#include <QWidget>

#include "target_data/target_pages.h"

namespace romsmith::gui {

class CpuPageWidget : public QWidget {
  Q_OBJECT

 public:
  // The page edits `model` directly as the user picks a CPU or edits a
  // register value; `model` outlives the page.
  explicit CpuPageWidget(CpuPage& model, QWidget* parent = nullptr);

  // The tree from the database (once, after it was loaded).
  void FillTree();
  // Model -> controls (selects the model's CPU in the tree without
  // re-selecting it), and the typed fields -> model.
  void Load();
  void Store();
  // Refills the register list from the model's current CPU.
  void FillRegisterList();

  QPushButton* target_test_button() const { return target_test_; }
  QPushButton* register_read_button() const { return register_read_; }

 signals:
  // The user picked another CPU; `nand` when its name holds "(Nand)".
  void cpuSelected(bool nand);
  void targetTestRequested();
  void registerReadRequested();

 private:
  enum RegisterColumn { kName, kDefault, kValue };
  void OnTreeSelection(QTreeWidgetItem* current);
  void OnRegisterEdited(QTableWidgetItem* item);
  void OnRegisterClicked(int row, int column);
  void MarkChanged(QTableWidgetItem* item, bool changed);
  void FillMemoryList();

  CpuPage& model_;
  QTreeWidget* tree_;
  QTableWidget* registers_;
  QTableWidget* memory_;
  QRadioButton* little_;
  QRadioButton* big_;
  QPushButton* target_test_;
  QPushButton* register_read_;
  bool filling_ = false;
};

// The lists' shared look: grid lines, whole-row selection, editing by a
// click on a cell of the row already selected (or F2), Enter or a loss of
// focus ends the edit and Escape drops it.
void SetUpEditableList(QTableWidget* list, const QStringList& columns);
// Columns as wide as their widest text, the last one taking what is left: a
// narrow window scrolls the list instead of cutting its values off.
void FitColumnsToContents(QTableWidget* list);
// Column `column` of `list` wide enough for a 0x%08X value, and resizable.
void FitHexColumn(QTableWidget* list, int column);

}  // namespace romsmith::gui
