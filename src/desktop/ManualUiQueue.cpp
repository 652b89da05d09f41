#include "desktop/ManualUiQueue.h"

#include <algorithm>

class ManualUiQueue::Poster final : public UiPoster {
 public:
  Poster(ManualUiQueue& queue, PostedMessageProc handler) : m_queue(queue), m_proc(handler) {}
  ~Poster() override {
    std::lock_guard<std::mutex> lock(m_queue.m_mutex);
    auto& entries = m_queue.m_entries;
    entries.erase(std::remove_if(entries.begin(), entries.end(),
                                 [this](const Entry& e) { return e.target == this; }),
                  entries.end());
    --m_queue.m_alive;
  }
  bool Post(unsigned message, std::uintptr_t wParam, std::uintptr_t lParam) override {
    {
      std::lock_guard<std::mutex> lock(m_queue.m_mutex);
      m_queue.m_entries.push_back({this, message, wParam, lParam});
    }
    m_queue.m_posted.notify_all();
    return true;
  }
  PostedMessageProc proc() const { return m_proc; }

 private:
  ManualUiQueue& m_queue;
  PostedMessageProc m_proc;
};

std::unique_ptr<UiPoster> ManualUiQueue::Create(PostedMessageProc proc) {
  if (failCreate) return nullptr;
  std::lock_guard<std::mutex> lock(m_mutex);
  ++m_alive;
  return std::make_unique<Poster>(*this, proc);
}

int ManualUiQueue::Pump() {
  int dispatched = 0;
  for (;;) {
    Entry entry{};
    {
      std::lock_guard<std::mutex> lock(m_mutex);
      if (m_entries.empty()) return dispatched;
      entry = m_entries.front();
      m_entries.pop_front();
    }
    entry.target->proc()(entry.target, entry.message, entry.wParam, entry.lParam);
    ++dispatched;
  }
}

std::size_t ManualUiQueue::Pending() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_entries.size();
}

void ManualUiQueue::WaitForPost(std::chrono::milliseconds timeout) {
  std::unique_lock<std::mutex> lock(m_mutex);
  m_posted.wait_for(lock, timeout, [this] { return !m_entries.empty(); });
}

int ManualUiQueue::PostersAlive() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_alive;
}
