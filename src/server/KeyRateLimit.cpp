#include "server/KeyRateLimit.h"

#include <algorithm>

KeyRateLimit::KeyRateLimit(double perSecond, double burst)
    : m_perSecond(perSecond), m_burst(burst), m_available(burst) {}

bool KeyRateLimit::Take(Clock::time_point now) {
  std::lock_guard<std::mutex> lock(m_mutex);
  if (m_started && now > m_last) {
    const std::chrono::duration<double> elapsed = now - m_last;
    m_available = std::min(m_burst, m_available + elapsed.count() * m_perSecond);
  }
  if (!m_started || now > m_last) m_last = now;
  m_started = true;
  if (m_available < 1.0) return false;
  m_available -= 1.0;
  return true;
}
