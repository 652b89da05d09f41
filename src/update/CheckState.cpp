#include "update/CheckState.h"

#include "update/UpdateSeams.h"

CheckState::WaitEnd CheckState::WaitForDoneOrEnd(Clock::time_point deadline) {
  std::unique_lock<std::mutex> lock(m_mutex);
  m_changed.wait_until(lock, deadline, [this] { return m_done || m_ended; });
  if (m_done) return WaitEnd::kDone;
  return m_ended ? WaitEnd::kEnded : WaitEnd::kTimeout;
}

bool CheckState::WaitForEnd(Clock::time_point deadline) {
  std::unique_lock<std::mutex> lock(m_mutex);
  return m_changed.wait_until(lock, deadline, [this] { return m_ended; });
}

bool CheckState::HasEnded() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_ended;
}

void CheckState::Supersede() {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_superseded = true;
  m_connection.Stop();
  m_changed.notify_all();
}

void CheckState::SetDone() {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_done = true;
  m_changed.notify_all();
}

bool CheckState::Superseded() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_superseded;
}

bool CheckState::PostUnlessSuperseded(UiThreadInvoker& invoker, std::function<void()> task) {
  std::lock_guard<std::mutex> lock(m_mutex);
  if (m_superseded) return false;
  m_boxFinished = false;
  m_boxAnswer = 0;
  invoker.PostToUiThread(std::move(task));
  return true;
}

int CheckState::WaitForBoxAnswer() {
  // Bounded by the user's answer or by the stop that the next check and the tear-down
  // always send.
  std::unique_lock<std::mutex> lock(m_mutex);
  m_changed.wait(lock, [this] { return m_boxFinished || m_superseded; });
  return m_boxFinished ? m_boxAnswer : 0;
}

void CheckState::ReleaseVersionCheck() { m_connection.Close(); }

void CheckState::MarkEnded() {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_ended = true;
  m_changed.notify_all();
}

bool CheckState::StillWanted() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return !m_superseded;
}

void CheckState::FinishBox(int answer) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_boxFinished = true;
  m_boxAnswer = answer;
  m_changed.notify_all();
}
