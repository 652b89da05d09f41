// The device's realtime side: the process callback, what it writes per cycle, and
// what close lets leave first.
#include "midi/backends/jack/JackOutDevice.h"

#include <jack/midiport.h>

#include <algorithm>
#include <thread>

namespace jackbackend {

namespace {

constexpr std::uint64_t kMicro = 1'000'000;  // millionths of a frame per frame

std::uint64_t WholeFrames(std::uint64_t microframes) { return (microframes + kMicro - 1) / kMicro; }

}  // namespace

int JackOutDevice::Process(jack_nframes_t frames, void* arg) {
  const auto* context = static_cast<const ProcessContext*>(arg);
  JackOutDevice* self = context->device;
  void* buffer = jack_port_get_buffer(context->port, frames);
  jack_midi_clear_buffer(buffer);
  // Announce first, then look at the block flag: Quiesce does the opposite, so one of
  // the two always sees the other. A client replaced by a revival may still run a last
  // cycle: it leaves everything alone.
  self->m_inProcess.store(true);
  if (!self->m_processBlocked.load() && context->client == self->m_rtClient.load()) {
    self->m_cycle.fetch_add(1, std::memory_order_relaxed);
    // The frame clock is the consumer role's too: the notifier reads it once it holds that.
    self->AdvanceFrameClock();
    self->CompleteWritten();
    // A device port writes only while its link carries data: what goes out earlier
    // reaches nobody. The virtual port is the user's to connect: unconnected, it writes
    // (to nobody, as a socket without a cable would); a new link of it waits like any other.
    // Nor does it write in a cycle whose time is already over: a server catching up after
    // a stall runs such cycles back to back, and PipeWire may then run the destination of
    // that cycle before us, so what we write reaches nobody. The next cycle on time takes it.
    if (self->m_writable.load() && self->LinkInGraph() &&
        jack_frames_since_cycle_start(context->client) < frames) {
      self->WriteQueued(buffer, frames);
    }
  }
  self->m_inProcess.store(false);
  return 0;
}

bool JackOutDevice::LinkInGraph() const {
  // jackd2 makes a connection within jack_connect, but a cycle takes it up only once the
  // graph it runs on has it; its jack_port_connected reads that graph without a lock.
  // (PipeWire's takes a lock, and its links are followed by the notifier instead.)
  return m_pipeWire || m_target.empty() || jack_port_connected(m_port) > 0;
}

void JackOutDevice::AdvanceFrameClock() {
  const jack_nframes_t now = jack_last_frame_time(m_rtClient.load(std::memory_order_relaxed));
  m_frameTime = m_frameClockStarted ? m_frameTime + static_cast<jack_nframes_t>(now - m_lastFrame) : now;
  m_frameClockStarted = true;
  m_lastFrame = now;
}

void JackOutDevice::CompleteWritten() {
  const std::uint64_t cycle = m_cycle.load(std::memory_order_relaxed);
  bool completed = false;
  while (m_writtenCount > 0) {
    const Written& written = m_written[m_writtenHead];
    if (cycle <= written.cycle || m_frameTime < written.dueFrame) break;
    m_done.Push(written.header);
    m_writtenHead = (m_writtenHead + 1) % m_written.size();
    --m_writtenCount;
    completed = true;
  }
  if (completed) m_wake.Post();
}

void JackOutDevice::WriteQueued(void* buffer, jack_nframes_t frames) {
  // Toward hardware, messages leave no faster than the MIDI wire carries them, timed on
  // the frame clock: an interface's buffer holds a few dozen messages, and what overflows
  // it reaches the unit cut off. Software takes them as fast as they come.
  const bool paced = m_paced.load();
  const std::uint64_t rate = jack_get_sample_rate(m_rtClient.load(std::memory_order_relaxed));
  const std::uint64_t cycleStart = m_frameTime;
  std::size_t budget = kCycleByteBudget;
  while (const Outgoing* item = m_toProcess.Front()) {
    std::uint8_t shortBytes[3];
    const std::uint8_t* data = shortBytes;
    std::size_t size = 0;
    if (item->header) {
      // Room in m_done for everything written and not yet complete, once it completes.
      if (m_done.Size() + m_writtenCount >= m_done.capacity()) break;
      data = item->header->lpData;
      size = item->header->dwBufferLength;
    } else {
      const std::uint32_t message = item->shortMessage;
      for (std::size_t i = 0; i < 3; ++i) shortBytes[i] = static_cast<std::uint8_t>(message >> (8 * i));
      size = ShortMessageLength(shortBytes[0]);
    }
    jack_nframes_t offset = 0;
    if (paced) {
      const std::uint64_t start = WholeFrames(std::max(m_wireFree, cycleStart * kMicro));
      if (start >= cycleStart + frames) break;  // the wire is busy for the rest of this cycle
      offset = static_cast<jack_nframes_t>(start - cycleStart);
    }
    const bool first = jack_midi_get_event_count(buffer) == 0;
    if (size + kEventOverhead > budget && !first) break;
    if (size > 0 && jack_midi_event_write(buffer, offset, data, size) != 0) {
      // Full for this cycle: the message waits for the next one. Only an event that
      // does not fit into an empty buffer can never go out.
      if (!first) break;
      MidiResult none = 0;
      m_failure.compare_exchange_strong(none, kJackEventTooLarge);
    }
    budget -= std::min(budget, size + kEventOverhead);
    std::uint64_t dueFrame = 0;
    if (paced) {
      m_wireFree = (cycleStart + offset) * kMicro + size * kWireMicrosecondsPerByte * rate;
      dueFrame = WholeFrames(m_wireFree);
    }
    if (item->header) {
      item->header->reserved = static_cast<jack_nframes_t>(cycleStart + offset);
      m_written[(m_writtenHead + m_writtenCount) % m_written.size()] = {item->header, m_cycle.load(), dueFrame};
      ++m_writtenCount;
    }
    m_toProcess.Pop();
    m_lastWriteCycle.store(m_cycle.load(std::memory_order_relaxed), std::memory_order_relaxed);
    m_lastWriteNanoseconds.store(Clock::now().time_since_epoch().count(), std::memory_order_relaxed);
  }
}

void JackOutDevice::LetLastWritesLeave() {
  const auto deadline = Clock::now() + kWaitBound;
  // What the caller handed over and the process callback has not written yet goes first
  // (a short message has no completion to wait for), while a link is there to take it.
  while (!m_gone.load() && m_linkState.load() == kLinkUp && m_toProcess.Size() > 0) {
    if (Clock::now() > deadline) return;
    std::this_thread::sleep_for(std::chrono::microseconds(200));
  }
  if (m_lastWriteCycle.load() == 0) return;
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
