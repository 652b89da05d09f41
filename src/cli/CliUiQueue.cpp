#include "cli/CliUiQueue.h"

#include <algorithm>

class CliUiQueue::Poster final : public UiPoster {
 public:
  Poster(CliUiQueue& queue, PostedMessageProc proc) : m_queue(queue), m_proc(proc) {}
  ~Poster() override {
    // A destroyed poster's messages are never dispatched.
    std::lock_guard<std::mutex> lock(m_queue.m_mutex);
    auto& entries = m_queue.m_entries;
    entries.erase(std::remove_if(entries.begin(), entries.end(),
                                 [this](const Entry& entry) { return entry.target == this; }),
                  entries.end());
  }
  bool Post(unsigned message, std::uintptr_t wParam, std::uintptr_t lParam) override {
    {
      std::lock_guard<std::mutex> lock(m_queue.m_mutex);
      m_queue.m_entries.push_back({this, message, wParam, lParam});
    }
    m_queue.m_posted.notify_all();
    return true;
  }
  PostedMessageProc Proc() const { return m_proc; }

 private:
  CliUiQueue& m_queue;
  PostedMessageProc m_proc;
};

std::unique_ptr<UiPoster> CliUiQueue::Create(PostedMessageProc proc) {
  return std::make_unique<Poster>(*this, proc);
}

int CliUiQueue::Pump() {
  int dispatched = 0;
  for (;;) {
    Entry entry{};
    {
      std::lock_guard<std::mutex> lock(m_mutex);
      if (m_entries.empty()) return dispatched;
      entry = m_entries.front();
      m_entries.pop_front();
    }
    entry.target->Proc()(entry.target, entry.message, entry.wParam, entry.lParam);
    ++dispatched;
  }
}

void CliUiQueue::WaitForPost(std::chrono::milliseconds timeout) {
  std::unique_lock<std::mutex> lock(m_mutex);
  m_posted.wait_for(lock, timeout, [this] { return !m_entries.empty(); });
}
