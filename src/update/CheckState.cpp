#include "update/CheckState.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

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
  // Both wake-ups: the stop channel for the worker's polls, the shutdown for a send that
  // blocks on a full socket buffer.
  if (m_stopWrite) {
    const char byte = 1;
    [[maybe_unused]] const ssize_t written = ::write(m_stopWrite.Get(), &byte, 1);
  }
  if (m_socket) ::shutdown(m_socket.Get(), SHUT_RDWR);
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

int CheckState::OpenStopChannel() {
  int ends[2];
  if (::pipe2(ends, O_CLOEXEC | O_NONBLOCK) != 0) return errno;
  std::lock_guard<std::mutex> lock(m_mutex);
  m_stopRead.Reset(ends[0]);
  m_stopWrite.Reset(ends[1]);
  // A stop that came before the channel existed must still wake the polls.
  if (m_superseded) {
    const char byte = 1;
    [[maybe_unused]] const ssize_t written = ::write(m_stopWrite.Get(), &byte, 1);
  }
  return 0;
}

bool CheckState::AdoptSocket(UniqueFd socket) {
  std::lock_guard<std::mutex> lock(m_mutex);
  if (m_superseded) return false;
  m_socket = std::move(socket);
  return true;
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

void CheckState::ReleaseVersionCheck() {
  UniqueFd socket;
  UniqueFd stopRead;
  UniqueFd stopWrite;
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    socket = std::move(m_socket);
    stopRead = std::move(m_stopRead);
    stopWrite = std::move(m_stopWrite);
  }
  // Closed outside the lock; the socket first, which ends the connection.
  socket.Reset();
}

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
