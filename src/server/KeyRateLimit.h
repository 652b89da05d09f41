// Keys per second for all remote clients together: a bucket that holds `burst` keys and
// fills at `perSecond`. A flood of requests then presses at most that many keys, so it
// can neither fill the MIDI output nor keep the owning thread from its own work.
// Thread-safe.
#pragma once

#include <chrono>
#include <mutex>

class KeyRateLimit {
 public:
  using Clock = std::chrono::steady_clock;
  KeyRateLimit(double perSecond, double burst);
  // True when a key may go now (and counts it).
  bool Take(Clock::time_point now = Clock::now());

 private:
  std::mutex m_mutex;
  double m_perSecond;
  double m_burst;
  double m_available;
  Clock::time_point m_last{};
  bool m_started = false;
};
