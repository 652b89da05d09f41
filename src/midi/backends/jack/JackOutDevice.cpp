// The device's client and server life: open, send, reset, close, the notifier, and
// the return of headers.
#include "midi/backends/jack/JackOutDevice.h"

#include <thread>

namespace jackbackend {

JackOutDevice::~JackOutDevice() {
  CloseClient();
  StopNotifier();
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
  if (m_destinationMissing.load()) {
    std::lock_guard<std::mutex> lock(m_clientMutex);
    if (!Reconnect()) return kJackPortGone;
  }
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
  // The server may have stopped between the check and the push: the notifier's next
  // pass returns the header then.
  if (m_gone.load()) m_wake.Post();
  return 0;
}

MidiResult JackOutDevice::Reset() {
  std::vector<MidiHeader*> returned;
  {
    std::lock_guard<std::mutex> consumer(m_consumerMutex);
    if (!Quiesce()) return kJackStuck;
    TakeQueued(returned);
    if (!m_gone.load()) m_processBlocked.store(false);
  }
  // Outside the consumer role, which a revival may wait for under the engine's lock.
  for (MidiHeader* header : returned) Complete(header);
  return WaitUntilNothingHeld() ? MidiResult{0} : kJackStuck;
}

MidiResult JackOutDevice::Close() {
  LetLastWritesLeave();
  // No JACK thread runs our callbacks once the client is closed; only then are the
  // rings ours alone.
  CloseClient();
  StopNotifier();
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
  m_notifyClient.store(client);
  m_linkedCycles = 0;
  jack_set_process_callback(client, &JackOutDevice::Process, this);
  // jackd2 calls the informative shutdown callback only; PipeWire's libjack only the
  // plain one. Both end up here.
  jack_on_info_shutdown(client, &JackOutDevice::ServerShutdownInfo, this);
  jack_on_shutdown(client, &JackOutDevice::ServerShutdown, this);
  jack_set_port_connect_callback(client, &JackOutDevice::PortConnect, this);
  // The destination as it is now, before the notifications start: announcing it again is
  // not news.
  m_linkedPort.store(m_target.empty() ? nullptr : jack_port_by_name(client, m_target.c_str()));
  if (!m_target.empty()) jack_set_port_registration_callback(client, &JackOutDevice::PortRegistration, this);
  const char* portName = m_target.empty() ? kVirtualPortName : kDevicePortName;
  m_port = jack_port_register(client, portName, JACK_DEFAULT_MIDI_TYPE, JackPortIsOutput, 0);
  MidiResult result = 0;
  if (!m_port) {
    result = kJackPortFailed;
  } else if (jack_activate(client) != 0) {
    result = m_gone.load() ? kJackServerGone : kJackClientFailed;
  } else if (!m_target.empty()) {
    const int connected = jack_connect(client, jack_port_name(m_port), m_target.c_str());
    if (connected != 0 && connected != EEXIST) result = m_gone.load() ? kJackServerGone : kJackConnectFailed;
  }
  if (result != 0) {
    m_notifyClient.store(nullptr);
    m_client.reset();
    m_port = nullptr;
  }
  return result;
}

MidiResult JackOutDevice::Revive() {
  std::vector<MidiHeader*> returned;
  const MidiResult result = ReviveClient(returned);
  for (MidiHeader* header : returned) Complete(header);
  return result;
}

MidiResult JackOutDevice::ReviveClient(std::vector<MidiHeader*>& returned) {
  std::lock_guard<std::mutex> consumer(m_consumerMutex);
  std::lock_guard<std::mutex> lock(m_clientMutex);
  // The old process callback never runs again: what it left queued goes back now, and
  // the new one takes over the consumer role from here.
  TakeQueued(returned);
  m_notifyClient.store(nullptr);
  // The notifier closes a dead client at once; one it has not reached yet is left as it
  // is: libjack may crash closing it now that another server of that name may run.
  static_cast<void>(m_client.release());
  m_port = nullptr;
  m_gone.store(false);
  m_destinationMissing.store(false);
  if (const MidiResult result = Connect()) {
    m_gone.store(true);
    return result;
  }
  m_processBlocked.store(false);
  return 0;
}

void JackOutDevice::ServerShutdownInfo(jack_status_t, const char*, void* arg) { ServerShutdown(arg); }

void JackOutDevice::ServerShutdown(void* arg) {
  auto* self = static_cast<JackOutDevice*>(arg);
  self->m_gone.store(true);
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
  while (!stop.stop_requested()) {
    m_wake.Wait();
    DeliverDone();
    if (m_gone.load()) {
      // A reset or a revival holding the consumer role returns the queue itself. The
      // headers go back outside the role: a revival may wait for it while its caller
      // holds the lock the engine's callback takes.
      std::vector<MidiHeader*> returned;
      {
        std::unique_lock<std::mutex> consumer(m_consumerMutex, std::try_to_lock);
        if (consumer && m_gone.load() && Quiesce()) TakeQueued(returned);
      }
      for (MidiHeader* header : returned) Complete(header);
      // A client of a stopped server must be closed before the next server of that name
      // starts: libjack cannot close it cleanly afterwards.
      CloseDeadClient();
    } else if (m_destinationMissing.load()) {
      std::lock_guard<std::mutex> lock(m_clientMutex);
      if (!m_gone.load()) Reconnect();
    }
  }
  DeliverDone();
}

void JackOutDevice::CloseDeadClient() {
  std::lock_guard<std::mutex> lock(m_clientMutex);
  if (!m_gone.load() || !m_client) return;
  m_notifyClient.store(nullptr);
  m_client.reset();
}

void JackOutDevice::CloseClient() {
  std::lock_guard<std::mutex> lock(m_clientMutex);
  m_notifyClient.store(nullptr);
  if (!m_client) return;
  if (!m_gone.load()) jack_deactivate(m_client.get());
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

void JackOutDevice::TakeQueued(std::vector<MidiHeader*>& headers) {
  for (std::size_t i = 0; i < m_writtenCount; ++i) headers.push_back(m_written[i]);
  m_writtenCount = 0;
  Outgoing item{};
  while (m_toProcess.Pop(item)) {
    if (item.header) headers.push_back(item.header);
  }
}

void JackOutDevice::ReturnQueued() {
  for (std::size_t i = 0; i < m_writtenCount; ++i) Complete(m_written[i]);
  m_writtenCount = 0;
  Outgoing item{};
  while (m_toProcess.Pop(item)) {
    if (item.header) Complete(item.header);
  }
}

void JackOutDevice::Complete(MidiHeader* header) {
  header->dwFlags = (header->dwFlags & ~QM_MHDR_INQUEUE) | QM_MHDR_DONE;
  m_callback(this, QM_MOM_DONE, m_instance, reinterpret_cast<std::uintptr_t>(header), 0);
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
