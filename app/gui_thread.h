// Calls from the command's worker thread into widgets: run on the thread
// that owns `context` and wait there until done, as a synchronous window
// message would. A call made on that thread runs at once.
#pragma once

#include <QMetaObject>
#include <QObject>
#include <QThread>

#include <utility>

namespace romsmith::gui {

template <typename Function>
void RunOnGuiThread(QObject* context, Function&& function) {
  if (QThread::currentThread() == context->thread()) {
    function();
    return;
  }
  QMetaObject::invokeMethod(context, std::forward<Function>(function),
                            Qt::BlockingQueuedConnection);
}

}  // namespace romsmith::gui
