// The command line's stand-in for the user-interface thread's message queue: the
// engine's posts wait here until the main thread pumps them.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>

#include "midi/UiPoster.h"

class CliUiQueue final : public UiPosterFactory {
 public:
  CliUiQueue() = default;
  ~CliUiQueue() override = default;

  std::unique_ptr<UiPoster> Create(PostedMessageProc proc) override;
  // Dispatches what was posted, on the calling thread; returns how many messages.
  int Pump();
  // Waits until something is posted or the timeout passes.
  void WaitForPost(std::chrono::milliseconds timeout);

 private:
  class Poster;
  struct Entry {
    Poster* target;
    unsigned message;
    std::uintptr_t wParam;
    std::uintptr_t lParam;
  };
  std::mutex m_mutex;
  std::condition_variable m_posted;
  std::deque<Entry> m_entries;
};
