// A user-interface message queue that the test pumps by hand. Posting is thread-safe;
// destroying a poster drops what was posted to it.
#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>

#include "midi/UiPoster.h"

class ManualUiQueue final : public UiPosterFactory {
 public:
  std::unique_ptr<UiPoster> Create(PostedMessageProc proc) override;
  // Dispatches until the queue is empty; returns the number of messages dispatched.
  int Pump();
  std::size_t Pending() const;
  int postersAlive() const;
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
  std::deque<Entry> m_entries;
  int m_alive = 0;
};
