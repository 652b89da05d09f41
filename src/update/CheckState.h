// What one check shares between the user-interface thread and its worker: the done
// event, the ended and superseded marks, and the connection (so that a stop can end its
// waits). Both threads hold it by shared
// ownership, so a worker that outlives its check still works on live state. Each check
// gets a fresh one; a stopped worker never reaches the next check's state.
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>

#include "update/NetConnection.h"

class UiThreadInvoker;

class CheckState {
 public:
  using Clock = std::chrono::steady_clock;
  enum class WaitEnd { kDone, kEnded, kTimeout };

  CheckState() = default;
  CheckState(const CheckState&) = delete;
  CheckState& operator=(const CheckState&) = delete;

  // User-interface thread.
  // Waits until the done event is set or the worker has ended, at most until `deadline`.
  WaitEnd WaitForDoneOrEnd(Clock::time_point deadline);
  // Waits until the worker has ended, at most until `deadline`; true when it has.
  bool WaitForEnd(Clock::time_point deadline);
  bool HasEnded() const;
  // From now on the worker shows nothing and posts nothing: its socket is shut down and
  // its waits are woken. Once this returns, the worker will not call the invoker again.
  void Supersede();

  // Worker.
  void SetDone();
  bool Superseded() const;
  // The check's connection; Supersede stops it.
  NetConnection& Connection() { return m_connection; }
  // Runs `task` through `invoker` unless the check is superseded; false when superseded.
  bool PostUnlessSuperseded(UiThreadInvoker& invoker, std::function<void()> task);
  // Waits for FinishBox, or until the check is superseded. Returns the answer, or 0.
  int WaitForBoxAnswer();
  // Closes the connection; a second call closes nothing more.
  void ReleaseVersionCheck();
  // The worker's last touch of the state.
  void MarkEnded();

  // A box task, on the user-interface thread.
  // False once the check is superseded: the box must not be shown, the shell not asked.
  bool StillWanted() const;
  void FinishBox(int answer);

 private:
  mutable std::mutex m_mutex;
  std::condition_variable m_changed;
  bool m_done = false;
  bool m_ended = false;
  bool m_superseded = false;
  bool m_boxFinished = false;
  int m_boxAnswer = 0;
  NetConnection m_connection;
};
