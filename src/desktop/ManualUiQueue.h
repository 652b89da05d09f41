// A user-interface message queue that its owner pumps by hand: for programs without an
// event loop of their own (the command-line companion) and for the tests. Posting is
// thread-safe; destroying a poster drops what was posted to it.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>

#include "desktop/UiPoster.h"

class ManualUiQueue final : public UiPosterFactory {
 public:
  std::unique_ptr<UiPoster> Create(PostedMessageProc proc) override;
  // Dispatches on the calling thread until the queue is empty; returns the number of
  // messages dispatched.
  int Pump();
  // Waits until something is posted or the timeout passes.
  void WaitForPost(std::chrono::milliseconds timeout);
  std::size_t Pending() const;
  int PostersAlive() const;
  // Testing aid: Create fails while this is set.
  bool failCreate = false;

 private:
  class Poster;
  struct Entry {
    Poster* target;
    unsigned message;
    std::uintptr_t wParam;
    std::uintptr_t lParam;
  };
  mutable std::mutex m_mutex;
  std::condition_variable m_posted;
  std::deque<Entry> m_entries;
  int m_alive = 0;
};
