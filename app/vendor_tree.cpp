#include "app/vendor_tree.h"

#include <QStyle>

#include <algorithm>

namespace romsmith::gui {

QTreeWidget* NewVendorTree(const QString& object_name, QWidget* parent) {
  auto* tree = new QTreeWidget(parent);
  tree->setObjectName(object_name);
  tree->setHeaderHidden(true);
  return tree;
}

void FitVendorTreeWidth(QTreeWidget* tree, const QStringList& record_names) {
  int widest = 0;
  for (const QString& name : record_names)
    widest = std::max(widest, tree->fontMetrics().horizontalAdvance(name));
  // Two levels of indentation, the frame, the scroll bar and a margin.
  const int scroll_bar = tree->style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, tree);
  tree->setMinimumWidth(widest + 2 * tree->indentation() + 2 * tree->frameWidth() + scroll_bar + 12);
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
