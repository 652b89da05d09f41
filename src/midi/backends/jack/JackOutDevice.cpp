// The device's client and server life: open, send, reset, close, the notifier, and
// the return of headers.
#include "midi/backends/jack/JackOutDevice.h"

#include <thread>

namespace jackbackend {

JackOutDevice::~JackOutDevice() {
  StopNotifier();
  CloseClient();
}

MidiResult JackOutDevice::Start(const std::string& target, JackClientPtr client) {
  m_target = target;
  m_notifier = std::jthread([this](std::stop_token stop) { NotifierMain(stop); });
  std::lock_guard<std::mutex> lock(m_clientMutex);
  m_client = std::move(client);
  return Connect();
}

MidiResult JackOutDevice::Send(const Outgoing& item) {
  std::lock_guard<std::mutex> producer(m_producerMutex);
  if (m_gone.load()) {
    // The server went away since the last message; one that runs again by now (a
    // restarted one) gets this message on a new client.
    if (const MidiResult revived = Revive()) return revived;
  }
  if (const MidiResult failure = m_failure.load()) return failure;
  if (m_linkState.load() == kLinkMissing) return kMidiOutputGone;
  if (item.header) {
    MidiHeader* header = item.header;
    if (!(header->dwFlags & QM_MHDR_PREPARED)) return QM_MIDIERR_UNPREPARED;
    if (header->dwFlags & QM_MHDR_INQUEUE) return QM_MIDIERR_STILLPLAYING;
    {
      std::lock_guard<std::mutex> lock(m_heldMutex);
      ++m_held;
    }
    header->dwFlags = (header->dwFlags & ~QM_MHDR_DONE) | QM_MHDR_INQUEUE;
    if (!m_toProcess.Push(item)) {
      header->dwFlags &= ~QM_MHDR_INQUEUE;
      ForgetHeld();
      return QM_MIDIERR_NOTREADY;
    }
  } else if (!m_toProcess.Push(item)) {
    return QM_MIDIERR_NOTREADY;
  }
  // The server or the destination may have gone between the check and the push, after
  // the notifier took the queue: its next pass returns this message too. (Both sides
  // step m_handOver after their change: the later of the two sees the other's.)
  m_handOver.fetch_add(1);
  if (m_gone.load() || m_linkState.load() == kLinkMissing) m_wake.Post();
  return 0;
}

MidiResult JackOutDevice::Reset() {
  std::vector<MidiHeader*> returned;
  {
    std::lock_guard<std::mutex> consumer(m_consumerMutex);
    if (!Quiesce()) return kJackStuck;
    TakeQueued(&returned, returned);
    if (!m_gone.load()) m_processBlocked.store(false);
  }
  // Outside the consumer role, which a revival may wait for under the engine's lock.
  for (MidiHeader* header : returned) Complete(header);
  return WaitUntilNothingHeld() ? MidiResult{0} : kJackStuck;
}

MidiResult JackOutDevice::Close() {
  LetLastWritesLeave();
  // The notifier first: nothing calls back once Close has returned. Then the client: no
  // JACK thread runs our callbacks once it is closed; only then are the rings ours alone.
  StopNotifier();
  CloseClient();
  DeliverDone();
  ReturnQueued();
  m_callback(this, QM_MOM_CLOSE, m_instance, 0, 0);
  return 0;
}

MidiResult JackOutDevice::Connect() {
  MidiResult failure = 0;
  if (!m_client) m_client = OpenClient(&failure);
  if (!m_client) return failure;
  jack_client_t* client = m_client.get();
  m_clientName = jack_get_client_name(client);
  m_frameClockStarted = false;
  ForgetLinks();
  // jackd2 calls the informative shutdown callback only; PipeWire's libjack only the
  // plain one. Both end up here.
  jack_on_info_shutdown(client, &JackOutDevice::ServerShutdownInfo, this);
  jack_on_shutdown(client, &JackOutDevice::ServerShutdown, this);
  jack_set_port_connect_callback(client, &JackOutDevice::PortConnect, this);
  if (!m_target.empty()) jack_set_port_registration_callback(client, &JackOutDevice::PortRegistration, this);
  const char* portName = m_target.empty() ? kVirtualPortName : kDevicePortName;
  m_port = jack_port_register(client, portName, JACK_DEFAULT_MIDI_TYPE, JackPortIsOutput, 0);
  // Without the probe a new link falls back to the timed wait.
  m_probe = m_pipeWire ? jack_port_register(client, kProbePortName, JACK_DEFAULT_MIDI_TYPE, JackPortIsOutput, 0)
                       : nullptr;
  m_ourId.store(IdOf(m_port));
  m_probeId.store(IdOf(m_probe));
  MidiResult result = 0;
  if (m_port) {
    m_processContexts.push_back(std::make_unique<ProcessContext>(ProcessContext{this, client, m_port}));
    jack_set_process_callback(client, &JackOutDevice::Process, m_processContexts.back().get());
    m_rtClient.store(client);
  }
  if (!m_port) {
    result = kJackPortFailed;
  } else if (jack_activate(client) != 0) {
    result = m_gone.load() ? kJackServerGone : kJackClientFailed;
  } else if (!m_target.empty() && !LinkTarget()) {
    result = m_gone.load() ? kJackServerGone : kJackConnectFailed;
  }
  if (result != 0) {
    m_client.reset();
    m_port = m_probe = nullptr;
    m_ourId.store(kNoPort);
    m_probeId.store(kNoPort);
  }
  UpdateWritable();
  return result;
}

MidiResult JackOutDevice::Revive() {
  std::vector<MidiHeader*> written;
  std::vector<MidiHeader*> unsent;
  const MidiResult result = ReviveClient(written, unsent);
  for (MidiHeader* header : written) Complete(header);
  for (MidiHeader* header : unsent) Complete(header, kJackServerGone);
  return result;
}

MidiResult JackOutDevice::ReviveClient(std::vector<MidiHeader*>& written, std::vector<MidiHeader*>& unsent) {
  std::lock_guard<std::mutex> consumer(m_consumerMutex);
  std::lock_guard<std::mutex> lock(m_clientMutex);
  if (StillServed()) {
    m_gone.store(false);
    return 0;
  }
  // The old process callback may still end its last cycle: kept away, then it leaves the
  // device alone for good (Process); what it left queued goes back now, and the new one
  // takes over the consumer role from here.
  if (!Quiesce()) return kJackStuck;
  TakeQueued(&written, unsent);
  // Left as it is, as CloseClient leaves one.
  static_cast<void>(m_client.release());
  m_port = m_probe = nullptr;
  m_gone.store(false);
  if (const MidiResult result = Connect()) {
    m_gone.store(true);
    return result;
  }
  m_processBlocked.store(false);
  return 0;
}

void JackOutDevice::ServerShutdownInfo(jack_status_t, const char*, void* arg) { ServerShutdown(arg); }

void JackOutDevice::ServerShutdown(void* arg) {
  DelayNotificationForTests();
  auto* self = static_cast<JackOutDevice*>(arg);
  self->m_gone.store(true);
  self->m_handOver.fetch_add(1);
  self->m_wake.Post();
}

bool JackOutDevice::Quiesce() {
  m_processBlocked.store(true);
  const auto deadline = Clock::now() + kWaitBound;
  while (m_inProcess.load()) {
    if (Clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::microseconds(100));
  }
  return true;
}

void JackOutDevice::NotifierMain(const std::stop_token& stop) {
  auto wakeAt = Clock::time_point::max();
  while (!stop.stop_requested()) {
    if (wakeAt == Clock::time_point::max()) {
      m_wake.Wait();
    } else {
      m_wake.WaitUntil(wakeAt);
    }
    DeliverDone();
    if (m_gone.load()) {
      FollowStoppedServer();
      wakeAt = Clock::time_point::max();
      continue;
    }
    wakeAt = FollowLinks();
    if (m_reportGone.exchange(false)) {
      // Every header first, so that the device holds nothing when it reports its end.
      ReturnHeld(kMidiOutputGone, true);
      m_callback(this, QM_MOM_ERROR, m_instance, kMidiOutputGone, 0);
    } else if (m_linkState.load() == kLinkMissing) {
      ReturnHeld(kMidiOutputGone, false);
    }
  }
  DeliverDone();
}

bool JackOutDevice::StillServed() {
  // PipeWire's libjack also calls the shutdown callbacks for an error that a request of
  // ours met (binding a port that went away at once, for example), and the client lives
  // on. Disconnecting the probe (which has no link but while a new link is probed) is a
  // round trip that fails at once with EPIPE on a connection that is gone (other errors
  // are more of those reports).
  if (!m_pipeWire || !m_client || !m_probe) return false;
  if (jack_port_disconnect(m_client.get(), m_probe) == EPIPE) return false;
  for (std::size_t i = 0; i < m_pendingCount; ++i) {
    PendingLink& entry = m_pending[i];
    if (!entry.probed) continue;
    entry.probed = false;
    entry.deadline = Clock::now() + kLinkSettleTime;
    entry.settleCycle = m_cycle.load() + kLinkSettleCycles;
  }
  return true;
}

void JackOutDevice::FollowStoppedServer() {
  {
    std::lock_guard<std::mutex> lock(m_clientMutex);
    if (m_gone.load() && StillServed()) {
      m_gone.store(false);
      return;
    }
  }
  // A reset or a revival holding the consumer role returns the queue itself. The headers
  // go back outside the role: a revival may wait for it while its caller holds the lock
  // the engine's callback takes.
  std::vector<MidiHeader*> written;
  std::vector<MidiHeader*> unsent;
  {
    std::unique_lock<std::mutex> consumer(m_consumerMutex, std::try_to_lock);
    if (consumer && m_gone.load() && Quiesce()) TakeQueued(&written, unsent);
  }
  for (MidiHeader* header : written) Complete(header);
  for (MidiHeader* header : unsent) Complete(header, kJackServerGone);
}

void JackOutDevice::CloseClient() {
  std::lock_guard<std::mutex> lock(m_clientMutex);
  if (!m_client) return;
  if (m_gone.load() && !StillServed()) {
    // A client of a server that went away is left as it is: libjack's close of it uses
    // the server's shared state, which another client's open in this process (a listing,
    // or a server of that name starting again) may have let go meanwhile; jackd2's
    // libjack was seen to crash so, PipeWire's to race with its own thread.
    static_cast<void>(m_client.release());
    return;
  }
  jack_deactivate(m_client.get());
  m_client.reset();
}

void JackOutDevice::StopNotifier() {
  if (!m_notifier.joinable()) return;
  m_notifier.request_stop();
  m_wake.Post();
  m_notifier.join();
}

void JackOutDevice::DeliverDone() {
  MidiHeader* header = nullptr;
  while (m_done.Pop(header)) Complete(header);
}

void JackOutDevice::TakeQueued(std::vector<MidiHeader*>* written, std::vector<MidiHeader*>& unsent) {
  if (written) {
    for (std::size_t i = 0; i < m_writtenCount; ++i) {
      written->push_back(m_written[(m_writtenHead + i) % m_written.size()].header);
    }
    m_writtenHead = m_writtenCount = 0;
  }
  Outgoing item{};
  while (m_toProcess.Pop(item)) {
    if (item.header) unsent.push_back(item.header);
  }
}

void JackOutDevice::ReturnHeld(MidiResult failure, bool written) {
  if (!written && m_toProcess.Size() == 0) return;
  std::vector<MidiHeader*> left;
  std::vector<MidiHeader*> cut;
  {
    std::unique_lock<std::mutex> consumer(m_consumerMutex, std::try_to_lock);
    if (!consumer) return;
    if (Quiesce()) {
      // Completions the process callback queued since the last delivery are older: first.
      for (MidiHeader* done = nullptr; written && m_done.Pop(done);) left.push_back(done);
      for (; written && m_writtenCount > 0; --m_writtenCount) {
        const Written& entry = m_written[m_writtenHead];
        (entry.dueFrame > m_frameTime ? cut : left).push_back(entry.header);
        m_writtenHead = (m_writtenHead + 1) % m_written.size();
      }
      TakeQueued(nullptr, cut);
    }
    if (!m_gone.load()) m_processBlocked.store(false);
  }
  for (MidiHeader* header : left) Complete(header);
  for (MidiHeader* header : cut) Complete(header, failure);
}

void JackOutDevice::ReturnQueued() {
  std::vector<MidiHeader*> returned;
  TakeQueued(&returned, returned);
  for (MidiHeader* header : returned) Complete(header);
}

void JackOutDevice::Complete(MidiHeader* header, MidiResult failure) {
  header->dwFlags = (header->dwFlags & ~QM_MHDR_INQUEUE) | QM_MHDR_DONE;
  m_callback(this, QM_MOM_DONE, m_instance, reinterpret_cast<std::uintptr_t>(header), failure);
  ForgetHeld();
}

void JackOutDevice::ForgetHeld() {
  {
    std::lock_guard<std::mutex> lock(m_heldMutex);
    --m_held;
  }
  m_heldChanged.notify_all();
}

bool JackOutDevice::WaitUntilNothingHeld() {
  std::unique_lock<std::mutex> lock(m_heldMutex);
  return m_heldChanged.wait_for(lock, kWaitBound, [this] { return m_held == 0; });
}

}  // namespace jackbackend
