#include "server/KeyDispatcher.h"

#include <condition_variable>

#include "desktop/UserSeams.h"
#include "remote/KeyTable.h"

namespace {

constexpr unsigned kRunKeys = 0x5155;

// Keeps the first device-error box of a key for the page instead of showing it.
class CaughtErrorSeams final : public UserSeams {
 public:
  explicit CaughtErrorSeams(UserSeams& desktop) : m_desktop(desktop) {}
  int ShowMessageBox(OwnerWindow, const std::string& text, const std::string&, unsigned) override {
    if (m_text.empty()) m_text = text;
    return QM_IDOK;
  }
  void MessageBeep(unsigned) override {}
  bool ShellOpen(const std::string& target) override { return m_desktop.ShellOpen(target); }
  const std::string& Text() const { return m_text; }

 private:
  UserSeams& m_desktop;
  std::string m_text;
};

std::string WithoutTrailingNewlines(std::string text) {
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
  return text;
}

}  // namespace

KeyOutcome PressWithErrorsCaught(int (*press)(const KeyRow&, void*), const KeyRow& row, void* context) {
  CaughtErrorSeams caught(CurrentUserSeams());
  UserSeams* previous = InstallUserSeams(&caught);
  const int result = press(row, context);
  InstallUserSeams(previous);
  if (!caught.Text().empty()) return {KeyStatus::DeviceError, WithoutTrailingNewlines(caught.Text())};
  if (result == 1) return {KeyStatus::Sent, "sent"};
  return {KeyStatus::NotSent, "The MIDI output is still busy with earlier keys; this key was not sent."};
}

struct KeyDispatcher::Request {
  enum class State { Waiting, Taken, Done, Dropped };
  explicit Request(const KeyRow& r) : row(r) {}
  const KeyRow& row;
  State state = State::Waiting;  // under the dispatcher's mutex
  KeyOutcome outcome;
  std::condition_variable done;
};

KeyDispatcher::KeyDispatcher(UiPosterFactory& posters, KeyRoutine& routine)
    : m_routine(routine), m_poster(posters.Create(&KeyDispatcher::OnPosted)) {}

KeyDispatcher::~KeyDispatcher() {
  Close();
  // Drops a wake-up still posted, so it never reaches a dispatcher that is gone.
  m_poster.reset();
}

void KeyDispatcher::OnPosted(UiPoster*, unsigned message, std::uintptr_t wParam, std::uintptr_t) {
  if (message == kRunKeys) reinterpret_cast<KeyDispatcher*>(wParam)->RunWaiting();
}

KeyOutcome KeyDispatcher::Press(const KeyRow& row, std::chrono::milliseconds bound) {
  auto request = std::make_shared<Request>(row);
  std::unique_lock<std::mutex> lock(m_mutex);
  if (m_closed || !m_poster) return {KeyStatus::Stopped, "The remote control is stopping."};
  if (m_waiting.size() >= kMaxWaiting) {
    return {KeyStatus::Busy, "Too many keys are waiting; this key was not sent."};
  }
  m_waiting.push_back(request);
  if (!m_poster->Post(kRunKeys, reinterpret_cast<std::uintptr_t>(this), 0)) {
    m_waiting.pop_back();
    return {KeyStatus::Busy, "Quillmark could not take the key; it was not sent."};
  }
  const auto deadline = std::chrono::steady_clock::now() + bound;
  request->done.wait_until(lock, deadline, [&] {
    return request->state == Request::State::Done || request->state == Request::State::Dropped;
  });
  switch (request->state) {
    case Request::State::Done:
    case Request::State::Dropped:
      return request->outcome;
    case Request::State::Waiting:
      // Not taken yet: out of the queue, so it is never pressed behind the user's back.
      request->state = Request::State::Dropped;
      std::erase(m_waiting, request);
      return {KeyStatus::TimedOut, "Quillmark did not take the key in time; it was not sent."};
    case Request::State::Taken:
      break;
  }
  return {KeyStatus::TimedOut, "Quillmark did not finish the key in time; it may have been sent."};
}

void KeyDispatcher::Close() {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_closed = true;
  for (const auto& request : m_waiting) {
    request->state = Request::State::Dropped;
    request->outcome = {KeyStatus::Stopped, "The remote control is stopping."};
    request->done.notify_all();
  }
  m_waiting.clear();
}

void KeyDispatcher::RunWaiting() {
  for (;;) {
    std::shared_ptr<Request> request;
    {
      std::lock_guard<std::mutex> lock(m_mutex);
      if (m_waiting.empty()) return;
      request = m_waiting.front();
      m_waiting.pop_front();
      request->state = Request::State::Taken;
    }
    KeyOutcome outcome = m_routine.PressKey(request->row);
    std::lock_guard<std::mutex> lock(m_mutex);
    request->outcome = std::move(outcome);
    request->state = Request::State::Done;
    request->done.notify_all();
  }
}
