#include "app/qt/UpdateCheckSeams.h"

#include <QApplication>
#include <QMetaObject>

void QtUiThreadInvoker::PostToUiThread(std::function<void()> task) {
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_tasks.push_back(std::move(task));
  }
  QMetaObject::invokeMethod(this, "RunPosted", Qt::QueuedConnection);
}

void QtUiThreadInvoker::RunPosted() {
  for (;;) {
    std::function<void()> task;
    {
      std::lock_guard<std::mutex> lock(m_mutex);
      if (m_tasks.empty()) return;
      task = std::move(m_tasks.front());
      m_tasks.pop_front();
    }
    task();
  }
}

void QtWaitCursor::BeginWaitCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }

void QtWaitCursor::EndWaitCursor() { QApplication::restoreOverrideCursor(); }
