// The CPU and flash device trees of the CPU and Flash pages: one top row a
// vendor, in the database's vendor order, and under it the names of that
// vendor's records in database order. Only the rows below a vendor stand for
// a record.
#pragma once

#include <QString>
#include <QTreeWidget>

#include <string>
#include <vector>

namespace romsmith::gui {

QTreeWidget* NewVendorTree(const QString& object_name, QWidget* parent);
void FitVendorTreeWidth(QTreeWidget* tree, const QStringList& record_names);

// `Record` has `vendor` and `name` (CpuRecord, FlashDevice).
// The tree is kept wide enough for its longest name.
template <typename Record>
void FillVendorTree(QTreeWidget* tree, const std::vector<std::string>& vendors,
                    const std::vector<Record>& records) {
  tree->clear();
  QStringList names;
  for (const std::string& vendor : vendors) {
    auto* root = new QTreeWidgetItem(tree, {QString::fromStdString(vendor)});
    for (const Record& record : records) {
      if (record.vendor != vendor) continue;
      names << QString::fromStdString(record.name);
      new QTreeWidgetItem(root, {names.last()});
    }
  }
  FitVendorTreeWidth(tree, names);
}

// Makes the first record row called `name` current and scrolls to it; no
// row is current when none is called so.
void SelectInVendorTree(QTreeWidget* tree, const QString& name);

// The record a row stands for: its name, or "" for a vendor row or none.
QString RecordNameOf(const QTreeWidgetItem* item);

}  // namespace romsmith::gui
