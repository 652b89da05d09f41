#include "midi/backends/alsa/AlsaOutDevice.h"

#include <cerrno>

namespace {

using Clock = AlsaSystem::Clock;

constexpr const char* kClientName = "Quillmark";
constexpr const char* kVirtualPortName = "Quillmark";
constexpr const char* kDevicePortName = "out";

// A MIDI wire carries 31250 bits a second, ten bits a byte.
constexpr auto kWireTimePerByte = std::chrono::microseconds(320);
// A receiver whose queue is full is asked again after this pause, this many times.
constexpr auto kFullReceiverPause = std::chrono::milliseconds(2);
constexpr int kFullReceiverTries = 500;
// The idle worker and the watcher look at their stop request at least this often.
constexpr auto kIdleBound = std::chrono::seconds(1);

bool IsFull(int result) { return result == -EAGAIN || result == -ENOMEM; }
// The addressed client or port does not exist (any more).
bool IsGone(int result) { return result == -ENOENT || result == -ENXIO || result == -ENODEV; }

// The device error for a sequencer's refusal.
MidiResult SendFailure(int result) {
  if (IsGone(result)) return kMidiOutputGone;
  if (result == -EBUSY) return kAlsaPortBusy;
  if (IsFull(result)) return kAlsaReceiverFull;
  return kAlsaSendFailed;
}

}  // namespace

AlsaOutDevice::AlsaOutDevice(AlsaSystem& system, MidiOutCallback callback, std::uintptr_t instance)
    : m_system(system), m_callback(callback), m_instance(instance) {}

AlsaOutDevice::~AlsaOutDevice() { StopThreads(); }

MidiResult AlsaOutDevice::Start(bool virtualPort, int destClient, int destPort) {
  // The MIDI byte encoder is libasound's, whichever sequencer is behind m_system.
  if (!alsabackend::LoadAlsaApi()) return kAlsaNoSequencer;
  m_seq = virtualPort ? m_system.Open() : m_system.OpenDevice();
  if (!m_seq) return kAlsaNoSequencer;
  m_seq->SetClientName(kClientName);
  m_client = m_seq->ClientId();
  m_port = m_seq->CreateSourcePort(virtualPort ? kVirtualPortName : kDevicePortName);
  if (m_port < 0) return kAlsaPortFailed;
  m_virtual = virtualPort;
  m_dest = {destClient, destPort};
  bool watching = false;
  if (!virtualPort) {
    // Watching starts first, so that a destination leaving right after the connection is
    // seen. Without it a loss still shows, at the next write.
    watching = m_seq->WatchAnnouncements() >= 0;
    const int connected = m_seq->ConnectTo(m_port, destClient, destPort);
    if (connected == -EBUSY) return kAlsaPortBusy;
    // The sequencer answers -EINVAL for a client or port that does not exist.
    if (connected == -EINVAL || IsGone(connected)) return kMidiOutputGone;
    if (connected < 0) return kAlsaConnectFailed;
  }
  snd_midi_event_t* encoder = nullptr;
  if (alsabackend::snd_midi_event_new(16, &encoder) < 0) return QM_MMSYSERR_NOMEM;
  m_encoder.reset(encoder);
  alsabackend::snd_midi_event_no_status(encoder, 1);
  m_wireFreeAt = m_system.Now();
  m_worker = std::jthread([this](std::stop_token stop) { WorkerMain(stop); });
  if (watching) m_watcher = std::jthread([this](std::stop_token stop) { WatcherMain(stop); });
  return 0;
}

MidiResult AlsaOutDevice::Short(std::uint32_t message) {
  std::uint8_t bytes[3];
  for (std::size_t i = 0; i < 3; ++i) bytes[i] = static_cast<std::uint8_t>(message >> (8 * i));
  Outgoing item{nullptr, {}, 0, false, {}};
  snd_seq_ev_clear(&item.event);
  alsabackend::snd_midi_event_reset_encode(m_encoder.get());
  for (std::uint8_t byte : bytes) {
    const int used = alsabackend::snd_midi_event_encode_byte(m_encoder.get(), byte, &item.event);
    if (used < 0) return QM_MMSYSERR_INVALPARAM;
    ++item.bytes;
    if (used == 1) return Queue(item);
  }
  return QM_MMSYSERR_INVALPARAM;
}

MidiResult AlsaOutDevice::Long(MidiHeader* header) {
  if (!(header->dwFlags & QM_MHDR_PREPARED)) return QM_MIDIERR_UNPREPARED;
  if (header->dwFlags & QM_MHDR_INQUEUE) return QM_MIDIERR_STILLPLAYING;
  Outgoing item{header, {}, header->dwBufferLength, false, {}};
  snd_seq_ev_clear(&item.event);
  snd_seq_ev_set_sysex(&item.event, header->dwBufferLength, header->lpData);
  return Queue(item);
}

MidiResult AlsaOutDevice::Reset() {
  std::vector<MidiHeader*> held;
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    TakeHeld(held);
  }
  for (MidiHeader* header : held) Complete(header, 0);
  return 0;
}

MidiResult AlsaOutDevice::Close() {
  StopThreads();
  std::vector<MidiHeader*> held;
  TakeHeld(held);
  for (MidiHeader* header : held) Complete(header, 0);
  if (m_seq) m_seq->DrainOutput();
  m_seq.reset();
  m_callback(this, QM_MOM_CLOSE, m_instance, 0, 0);
  return 0;
}

MidiResult AlsaOutDevice::Queue(Outgoing& item) {
  std::lock_guard<std::mutex> lock(m_mutex);
  if (m_failure != 0) return m_failure;
  snd_seq_ev_set_source(&item.event, static_cast<unsigned char>(m_port));
  snd_seq_ev_set_dest(&item.event, static_cast<unsigned char>(m_dest.client),
                      static_cast<unsigned char>(m_dest.port));
  snd_seq_ev_set_direct(&item.event);
  if (item.header) item.header->dwFlags = (item.header->dwFlags & ~QM_MHDR_DONE) | QM_MHDR_INQUEUE;
  m_queue.push_back(std::move(item));
  m_wake.notify_one();
  return 0;
}

// m_mutex held, or the threads stopped: the header on the wire first, then the queue.
void AlsaOutDevice::TakeHeld(std::vector<MidiHeader*>& held) {
  if (m_onWire) held.push_back(m_onWire);
  m_onWire = nullptr;
  for (const Outgoing& item : m_queue) {
    if (item.header) held.push_back(item.header);
  }
  m_queue.clear();
}

// Hands one message at a time to the sequencer, the next only when the wire time of the
// one before has passed; a long message completes when its wire time has passed. Sleeps
// while there is nothing to do.
void AlsaOutDevice::WorkerMain(const std::stop_token& stop) {
  std::unique_lock<std::mutex> lock(m_mutex);
  int fullTries = 0;
  while (!stop.stop_requested()) {
    const Clock::time_point now = m_system.Now();
    if (now < m_wireFreeAt) {
      m_system.WaitUntil(m_wake, lock, m_wireFreeAt);
      continue;
    }
    if (MidiHeader* sent = m_onWire) {
      m_onWire = nullptr;
      lock.unlock();
      Complete(sent, 0);
      lock.lock();
      continue;
    }
    if (m_queue.empty() || m_failure != 0) {
      m_wake.wait_for(lock, kIdleBound);
      continue;
    }
    Outgoing& item = m_queue.front();
    const int result = Deliver(item);
    if (IsFull(result) && ++fullTries < kFullReceiverTries) {
      // The receiver's queue is full for the moment; it drains as it reads.
      m_wireFreeAt = now + kFullReceiverPause;
      continue;
    }
    fullTries = 0;
    if (result < 0) {
      lock.unlock();
      Fail(SendFailure(result));
      lock.lock();
      continue;
    }
    m_wireFreeAt = now + kWireTimePerByte * static_cast<long>(item.bytes);
    m_onWire = item.header;
    m_queue.pop_front();
  }
}

int AlsaOutDevice::Deliver(Outgoing& item) {
  if (!m_virtual) return m_seq->OutputDirect(item.event);
  if (!item.subscribersKnown) {
    if (m_seq->Subscribers(m_port, item.subscribers) < 0) item.subscribers.clear();
    item.subscribersKnown = true;
  }
  int full = 0;
  for (auto subscriber = item.subscribers.begin(); subscriber != item.subscribers.end();) {
    snd_seq_ev_set_dest(&item.event, static_cast<unsigned char>(subscriber->client),
                        static_cast<unsigned char>(subscriber->port));
    const int result = m_seq->OutputDirect(item.event);
    if (result >= 0 || IsGone(result)) {
      // Taken, or the subscriber went away meanwhile: either way not asked again.
      subscriber = item.subscribers.erase(subscriber);
    } else if (IsFull(result)) {
      if (full == 0) full = result;
      ++subscriber;
    } else {
      return result;
    }
  }
  return full;
}

// Waits for the announcements that can mean the destination is gone.
void AlsaOutDevice::WatcherMain(const std::stop_token& stop) {
  while (!stop.stop_requested()) {
    AlsaAnnouncement announcement;
    const int got = m_seq->NextAnnouncement(announcement, kIdleBound);
    if (stop.stop_requested()) return;
    // Our input failed: from here on a loss shows at the next write.
    if (got < 0) return;
    if (got > 0 && DestinationLost(announcement)) {
      Fail(kMidiOutputGone);
      return;
    }
  }
}

bool AlsaOutDevice::DestinationLost(const AlsaAnnouncement& announcement) {
  switch (announcement.kind) {
    case AlsaAnnouncement::Kind::ClientExit:
      return announcement.addr.client == m_dest.client;
    case AlsaAnnouncement::Kind::PortExit:
      return announcement.addr == m_dest;
    case AlsaAnnouncement::Kind::Unsubscribed:
      // Someone may just have removed our connection in a patchbay: the events are
      // addressed to the port itself and still arrive while it exists.
      if (announcement.sender != AlsaAddress{m_client, m_port} || announcement.dest != m_dest) return false;
      return !m_seq->PortExists(m_dest);
    case AlsaAnnouncement::Kind::Overflow:
      return !m_seq->PortExists(m_dest);
  }
  return false;
}

void AlsaOutDevice::Fail(MidiResult result) {
  std::vector<MidiHeader*> queued;
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_failure != 0) return;
    m_failure = result;
    // The message on the wire has left; everything behind it never will.
    for (const Outgoing& item : m_queue) {
      if (item.header) queued.push_back(item.header);
    }
    m_queue.clear();
  }
  m_wake.notify_all();
  for (MidiHeader* header : queued) Complete(header, result);
  if (queued.empty()) m_callback(this, QM_MOM_ERROR, m_instance, result, 0);
}

void AlsaOutDevice::StopThreads() {
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_worker.request_stop();
    m_watcher.request_stop();
  }
  m_wake.notify_all();
  if (m_watcher.joinable()) m_seq->InterruptWait();
  if (m_worker.joinable()) m_worker.join();
  if (m_watcher.joinable()) m_watcher.join();
}

void AlsaOutDevice::Complete(MidiHeader* header, MidiResult result) {
  header->dwFlags = (header->dwFlags & ~QM_MHDR_INQUEUE) | QM_MHDR_DONE;
  m_callback(this, QM_MOM_DONE, m_instance, reinterpret_cast<std::uintptr_t>(header), result);
}
