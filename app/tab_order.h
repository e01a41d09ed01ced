// The Tab key's walk through a page or dialog, in reading order.
#pragma once

#include <QWidget>

#include <initializer_list>

namespace romsmith::gui {

inline void SetTabChain(std::initializer_list<QWidget*> widgets) {
  QWidget* previous = nullptr;
  for (QWidget* widget : widgets) {
    if (previous) QWidget::setTabOrder(previous, widget);
    previous = widget;
  }
}

}  // namespace romsmith::gui
