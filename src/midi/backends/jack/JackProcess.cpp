// The device's realtime side: the process callback, what it writes per cycle, and
// what close lets leave first.
#include "midi/backends/jack/JackOutDevice.h"

#include <jack/midiport.h>

#include <algorithm>
#include <thread>

namespace jackbackend {

int JackOutDevice::Process(jack_nframes_t frames, void* arg) {
  auto* self = static_cast<JackOutDevice*>(arg);
  void* buffer = jack_port_get_buffer(self->m_port, frames);
  jack_midi_clear_buffer(buffer);
  // Announce first, then look at the block flag: Quiesce does the opposite, so one of
  // the two always sees the other.
  self->m_inProcess.store(true);
  self->m_cycle.fetch_add(1, std::memory_order_relaxed);
  if (!self->m_processBlocked.load()) {
    self->CompleteWritten();
    if (self->LinkCarriesData()) self->WriteQueued(buffer);
  }
  self->m_inProcess.store(false);
  return 0;
}

void JackOutDevice::CompleteWritten() {
  if (m_writtenCount == 0) return;
  for (std::size_t i = 0; i < m_writtenCount; ++i) m_done.Push(m_written[i]);
  m_writtenCount = 0;
  m_wake.Post();
}

void JackOutDevice::WriteQueued(void* buffer) {
  std::size_t budget = kCycleByteBudget;
  while (const Outgoing* item = m_toProcess.Front()) {
    std::uint8_t shortBytes[3];
    const std::uint8_t* data = shortBytes;
    std::size_t size = 0;
    if (item->header) {
      // Room in m_done for everything written this cycle, once it completes.
      if (m_done.Size() + m_writtenCount >= m_done.capacity()) break;
      data = item->header->lpData;
      size = item->header->dwBufferLength;
    } else {
      const std::uint32_t message = item->shortMessage;
      for (std::size_t i = 0; i < 3; ++i) shortBytes[i] = static_cast<std::uint8_t>(message >> (8 * i));
      size = ShortMessageLength(shortBytes[0]);
    }
    const bool first = jack_midi_get_event_count(buffer) == 0;
    if (size + kEventOverhead > budget && !first) break;
    if (size > 0 && jack_midi_event_write(buffer, 0, data, size) != 0) {
      // Full for this cycle: the message waits for the next one. Only an event that
      // does not fit into an empty buffer can never go out.
      if (!first) break;
      MidiResult none = 0;
      m_failure.compare_exchange_strong(none, kJackEventTooLarge);
    }
    budget -= std::min(budget, size + kEventOverhead);
    if (item->header) m_written[m_writtenCount++] = item->header;
    m_toProcess.Pop();
    m_lastWriteCycle.store(m_cycle.load(std::memory_order_relaxed), std::memory_order_relaxed);
    m_lastWriteNanoseconds.store(Clock::now().time_since_epoch().count(), std::memory_order_relaxed);
  }
}

void JackOutDevice::LetLastWritesLeave() {
  if (m_lastWriteCycle.load() == 0) return;
  const auto start = Clock::now();
  const auto deadline = start + kWaitBound;
  const auto drained = [&] {
    if (m_cycle.load() < m_lastWriteCycle.load() + kDrainCycles) return false;
    return !m_pipeWire ||
           Clock::now() - Clock::time_point(Clock::duration(m_lastWriteNanoseconds.load())) >=
               kPipeWireDrainTime;
  };
  while (!m_gone.load() && !drained()) {
    if (Clock::now() > deadline) return;
    std::this_thread::sleep_for(std::chrono::microseconds(200));
  }
}

}  // namespace jackbackend
