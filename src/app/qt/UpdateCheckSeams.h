// The version check's seams over Qt: posting to the Qt event loop and the override wait
// cursor.
#pragma once

#include <QObject>
#include <deque>
#include <mutex>

#include "update/UpdateSeams.h"

// Tasks wait in a queue of ours under a lock; Qt's event queue carries only the call by
// name that runs them, so no data of ours crosses between the threads inside Qt, where the
// thread sanitizer cannot see the hand-over. Lives on the user-interface thread; tasks
// still queued when it goes are dropped.
class QtUiThreadInvoker final : public QObject, public UiThreadInvoker {
  Q_OBJECT

 public:
  void PostToUiThread(std::function<void()> task) override;

 private:
  Q_INVOKABLE void RunPosted();

  std::mutex m_mutex;
  std::deque<std::function<void()>> m_tasks;
};

class QtWaitCursor final : public WaitCursor {
 public:
  void BeginWaitCursor() override;
  void EndWaitCursor() override;
};
