#include "app/vendor_tree.h"

namespace romsmith::gui {

QTreeWidget* NewVendorTree(const QString& object_name, QWidget* parent) {
  auto* tree = new QTreeWidget(parent);
  tree->setObjectName(object_name);
  tree->setHeaderHidden(true);
  return tree;
}

void SelectInVendorTree(QTreeWidget* tree, const QString& name) {
  tree->setCurrentItem(nullptr);
  for (int v = 0; v < tree->topLevelItemCount(); ++v) {
    QTreeWidgetItem* vendor = tree->topLevelItem(v);
    for (int r = 0; r < vendor->childCount(); ++r) {
      if (vendor->child(r)->text(0) == name) {
        tree->setCurrentItem(vendor->child(r));
        tree->scrollToItem(vendor->child(r));
        return;
      }
    }
  }
}

QString RecordNameOf(const QTreeWidgetItem* item) {
  if (item == nullptr || item->parent() == nullptr) return {};
  return item->text(0);
}

}  // namespace romsmith::gui
