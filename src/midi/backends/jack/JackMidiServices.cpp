#include "midi/backends/jack/JackMidiServices.h"

#include <jack/jack.h>
#include <jack/midiport.h>
#include <semaphore.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <ctime>
#include <stop_token>
#include <thread>

#include "midi/backends/SpscRing.h"

namespace {

using Clock = std::chrono::steady_clock;
// How long a reset or close waits for the realtime side or the notifier. A live server
// answers within a few periods; a dead one no longer touches our buffers at all.
constexpr auto kWaitBound = std::chrono::seconds(3);
// PipeWire's libjack reports a connection (jack_connect returns, jack_port_connected
// counts it) before its link carries data: both ends still negotiate buffers on their
// non-realtime threads, and what is written meanwhile is dropped without a trace. No JACK
// call tells when that is done, so a device port waits both a few cycles and a time
// that covers a busy machine's scheduling delays after the connection appears. Measured
// on two cores at a load of 10 with a 64-frame quantum: 15 ms lost 2 first messages in
// 100 runs, 60 ms none. jackd2 connects within jack_connect and needs neither.
constexpr int kPipeWireLinkSettleCycles = 4;
constexpr jack_time_t kPipeWireLinkSettleMicroseconds = 50'000;
// What one cycle may carry. jackd2 refuses an event that does not fit its port buffer;
// PipeWire accepts every jack_midi_event_write and then drops the whole cycle once its
// buffer of 32 KB (events and their 16-byte headers) overflows. Half of that keeps clear
// of both and still moves megabytes a second.
constexpr std::size_t kCycleByteBudget = 16 * 1024;
constexpr std::size_t kEventOverhead = 16;
// What a closing device lets pass after its last write (see LetLastWritesLeave): cycles,
// and under PipeWire also a time, for the same reason as above.
constexpr std::uint64_t kDrainCycles = 3;
constexpr auto kPipeWireDrainTime = std::chrono::milliseconds(25);

constexpr const char* kClientName = "Quillmark";
constexpr const char* kVirtualPortName = "Quillmark";
constexpr const char* kDevicePortName = "out";

void SilentJackMessage(const char*) {}

bool ServedByPipeWire() {
  static const bool pipeWire = std::strstr(jack_get_version_string(), "PipeWire") != nullptr;
  return pipeWire;
}

struct JackClientCloser {
  void operator()(jack_client_t* client) const { jack_client_close(client); }
};
using JackClientPtr = std::unique_ptr<jack_client_t, JackClientCloser>;

JackClientPtr OpenClient(MidiResult* failure) {
  jack_status_t status{};
  JackClientPtr client(jack_client_open(kClientName, JackNoStartServer, &status));
  if (!client && failure) {
    *failure = (status & JackServerFailed) ? kJackServerGone : kJackClientFailed;
  }
  return client;
}

std::string ClientPart(const std::string& portName) {
  return portName.substr(0, portName.find(':'));
}

// A counting semaphore that a realtime thread may post.
class Semaphore {
 public:
  Semaphore() { sem_init(&m_sem, 0, 0); }
  ~Semaphore() { sem_destroy(&m_sem); }
  Semaphore(const Semaphore&) = delete;
  Semaphore& operator=(const Semaphore&) = delete;

  void Post() { sem_post(&m_sem); }
  void Wait() {
    while (sem_wait(&m_sem) != 0 && errno == EINTR) {
    }
  }
  void TimedWait(std::chrono::nanoseconds timeout) {
    timespec deadline{};
    clock_gettime(CLOCK_REALTIME, &deadline);
    const auto total = deadline.tv_nsec + timeout.count();
    deadline.tv_sec += static_cast<time_t>(total / 1'000'000'000);
    deadline.tv_nsec = static_cast<long>(total % 1'000'000'000);
    while (sem_timedwait(&m_sem, &deadline) != 0 && errno == EINTR) {
    }
  }

 private:
  sem_t m_sem;
};

// Bytes of a packed short message, by its status byte; 0 for none.
std::size_t ShortMessageLength(std::uint8_t status) {
  if (status < 0x80 || status == 0xF0 || status == 0xF7) return 0;
  if (status < 0xF0) {
    const std::uint8_t kind = status & 0xF0;
    return (kind == 0xC0 || kind == 0xD0) ? 2 : 3;
  }
  if (status == 0xF1 || status == 0xF3) return 2;
  if (status == 0xF2) return 3;
  return 1;
}

// What the caller hands to the process callback: a long message's header, or a short
// message when the header is null.
struct Outgoing {
  MidiHeader* header;
  std::uint32_t shortMessage;
};

class JackOutDevice final : public MidiOutDevice {
 public:
  JackOutDevice(MidiOutCallback callback, std::uintptr_t instance)
      : m_callback(callback),
        m_instance(instance),
        m_pipeWire(ServedByPipeWire()) {}
  ~JackOutDevice() override {
    CloseClient();
    StopNotifier();
  }

  // Client, port, notifier, activation, connection. Nothing calls back on failure.
  // client: one already open (the services' listing client) to use instead of opening
  // another; null to open one.
  MidiResult Start(const std::string& target, JackClientPtr client) {
    m_target = target;
    m_notifier = std::jthread([this](std::stop_token stop) { NotifierMain(stop); });
    std::lock_guard<std::mutex> lock(m_clientMutex);
    m_client = std::move(client);
    return Connect();
  }

  const std::string& ClientName() const { return m_clientName; }

  MidiResult Send(const Outgoing& item) {
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

  MidiResult Reset() {
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

  MidiResult Close() {
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

 private:
  // Opens the client and connects it; m_clientMutex held. On failure no client is left.
  MidiResult Connect() {
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

  // Sending thread, producer role held. Replaces the client of a server that went away.
  MidiResult Revive() {
    std::vector<MidiHeader*> returned;
    const MidiResult result = ReviveClient(returned);
    for (MidiHeader* header : returned) Complete(header);
    return result;
  }

  MidiResult ReviveClient(std::vector<MidiHeader*>& returned) {
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

  // Connects the port to the destination again if the destination exists; m_clientMutex
  // held. False when it does not (or the client is gone).
  bool Reconnect() {
    if (!m_client || !m_port) return false;
    jack_client_t* client = m_client.get();
    if (m_relink.exchange(false)) jack_disconnect(client, jack_port_name(m_port), m_target.c_str());
    const int connected = jack_connect(client, jack_port_name(m_port), m_target.c_str());
    const bool linked = connected == 0 || connected == EEXIST;
    if (linked) m_linkedPort.store(jack_port_by_name(client, m_target.c_str()));
    if (connected == 0) m_linkEpoch.fetch_add(1, std::memory_order_release);
    m_destinationMissing.store(!linked);
    return linked;
  }

  static int Process(jack_nframes_t frames, void* arg) {
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

  // Realtime thread. A device port writes only while it is connected, and only once the
  // connection has settled: what goes out earlier reaches nobody. The virtual port is
  // the user's to connect: unconnected, it writes (to nobody, as a socket without a cable
  // would); a new connection settles first like any other.
  bool LinkCarriesData() {
    // A connection replaced by another (the destination restarted) may never show as
    // none here; the new one settles all the same.
    const unsigned epoch = m_linkEpoch.load(std::memory_order_acquire);
    if (epoch != m_seenLinkEpoch) {
      m_seenLinkEpoch = epoch;
      m_linkedCycles = 0;
    }
    if (jack_port_connected(m_port) <= 0) {
      m_linkedCycles = 0;
      return m_target.empty();
    }
    if (!m_pipeWire) return true;
    const jack_time_t now = jack_get_time();
    if (m_linkedCycles == 0) m_linkedSince = now;
    if (m_linkedCycles >= kPipeWireLinkSettleCycles &&
        now - m_linkedSince >= kPipeWireLinkSettleMicroseconds) {
      return true;
    }
    ++m_linkedCycles;
    return false;
  }

  // Realtime thread: consumer of m_toProcess, producer of m_done. A message completes one
  // cycle after it was written: only when that cycle has ended has the destination read
  // it, and a client closed earlier takes the cycle's data along (PipeWire drops it).
  void CompleteWritten() {
    if (m_writtenCount == 0) return;
    for (std::size_t i = 0; i < m_writtenCount; ++i) m_done.Push(m_written[i]);
    m_writtenCount = 0;
    m_wake.Post();
  }

  void WriteQueued(void* buffer) {
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

  // A connection ends with the client, and PipeWire hands a cycle's data to the
  // destination only a cycle or two after it was written: closing at once would take the
  // last message along. Bounded; nothing to wait for after a quiet spell or without a
  // server.
  void LetLastWritesLeave() {
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

  static void ServerShutdownInfo(jack_status_t, const char*, void* arg) { ServerShutdown(arg); }
  static void ServerShutdown(void* arg) {
    auto* self = static_cast<JackOutDevice*>(arg);
    self->m_gone.store(true);
    self->m_wake.Post();
  }

  // A notification thread of libjack: a connection of our port came or went. A lost
  // connection to the destination (its program ended, or someone disconnected it) is
  // made again as soon as the destination is back.
  static void PortConnect(jack_port_id_t a, jack_port_id_t b, int connect, void* arg) {
    auto* self = static_cast<JackOutDevice*>(arg);
    jack_client_t* client = self->m_notifyClient.load();
    if (!client) return;
    const jack_port_t* ours = self->m_port;
    if (jack_port_by_id(client, a) != ours && jack_port_by_id(client, b) != ours) return;
    self->m_linkEpoch.fetch_add(1, std::memory_order_release);
    if (connect || self->m_target.empty()) return;
    self->m_destinationMissing.store(true);
    self->m_wake.Post();
  }

  // A notification thread of libjack: a port came (maybe the destination, back again).
  static void PortRegistration(jack_port_id_t id, int registered, void* arg) {
    auto* self = static_cast<JackOutDevice*>(arg);
    if (!registered) return;
    // The destination registered again (its program restarted). PipeWire may not have
    // told us that the old connection ended, and may keep it as a link to nothing: make
    // the connection afresh either way.
    jack_client_t* client = self->m_notifyClient.load();
    const jack_port_t* port = client ? jack_port_by_id(client, id) : nullptr;
    // PipeWire also announces the ports that were there before we connected, the
    // destination among them: only a port other than the one we connected to is new.
    if (port && port != self->m_linkedPort.load() && self->m_target == jack_port_name(port)) {
      self->m_relink.store(true);
      self->m_destinationMissing.store(true);
    }
    if (self->m_destinationMissing.load()) self->m_wake.Post();
  }

  // Keeps the process callback away from the rings. False if it did not leave them in
  // time; the rings must not be touched then.
  bool Quiesce() {
    m_processBlocked.store(true);
    const auto deadline = Clock::now() + kWaitBound;
    while (m_inProcess.load()) {
      if (Clock::now() > deadline) return false;
      std::this_thread::sleep_for(std::chrono::microseconds(100));
    }
    return true;
  }

  // Wakes only for work: a completion, a stopped server, a lost or returning destination,
  // or the stop request.
  void NotifierMain(const std::stop_token& stop) {
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

  void CloseDeadClient() {
    std::lock_guard<std::mutex> lock(m_clientMutex);
    if (!m_gone.load() || !m_client) return;
    m_notifyClient.store(nullptr);
    m_client.reset();
  }

  void CloseClient() {
    std::lock_guard<std::mutex> lock(m_clientMutex);
    m_notifyClient.store(nullptr);
    if (!m_client) return;
    if (!m_gone.load()) jack_deactivate(m_client.get());
    m_client.reset();
  }
  void StopNotifier() {
    if (!m_notifier.joinable()) return;
    m_notifier.request_stop();
    m_wake.Post();
    m_notifier.join();
  }

  // Consumer of m_done: the notifier, or the closing thread once the notifier ended.
  void DeliverDone() {
    MidiHeader* header = nullptr;
    while (m_done.Pop(header)) Complete(header);
  }

  // Consumer of m_toProcess while the process callback is kept away: returns every header
  // not yet written and drops short messages.
  // Like ReturnQueued, but hands the headers to the caller to return.
  void TakeQueued(std::vector<MidiHeader*>& headers) {
    for (std::size_t i = 0; i < m_writtenCount; ++i) headers.push_back(m_written[i]);
    m_writtenCount = 0;
    Outgoing item{};
    while (m_toProcess.Pop(item)) {
      if (item.header) headers.push_back(item.header);
    }
  }

  void ReturnQueued() {
    for (std::size_t i = 0; i < m_writtenCount; ++i) Complete(m_written[i]);
    m_writtenCount = 0;
    Outgoing item{};
    while (m_toProcess.Pop(item)) {
      if (item.header) Complete(item.header);
    }
  }

  void Complete(MidiHeader* header) {
    header->dwFlags = (header->dwFlags & ~QM_MHDR_INQUEUE) | QM_MHDR_DONE;
    m_callback(this, QM_MOM_DONE, m_instance, reinterpret_cast<std::uintptr_t>(header), 0);
    ForgetHeld();
  }

  void ForgetHeld() {
    {
      std::lock_guard<std::mutex> lock(m_heldMutex);
      --m_held;
    }
    m_heldChanged.notify_all();
  }

  bool WaitUntilNothingHeld() {
    std::unique_lock<std::mutex> lock(m_heldMutex);
    return m_heldChanged.wait_for(lock, kWaitBound, [this] { return m_held == 0; });
  }

  const MidiOutCallback m_callback;
  const std::uintptr_t m_instance;
  const bool m_pipeWire;
  std::string m_target;  // empty for the virtual port
  SpscRing<Outgoing, kJackRingSlots> m_toProcess;
  SpscRing<MidiHeader*, kJackRingSlots> m_done;
  // Written in the last cycle, completing in the next; the consumer role's, like m_toProcess.
  std::array<MidiHeader*, kJackRingSlots> m_written{};
  std::size_t m_writtenCount = 0;
  Semaphore m_wake;
  std::atomic<bool> m_inProcess{false};
  std::atomic<bool> m_processBlocked{false};
  std::atomic<bool> m_gone{false};
  std::atomic<bool> m_destinationMissing{false};
  std::atomic<bool> m_relink{false};  // the destination came back: connect afresh
  std::atomic<const jack_port_t*> m_linkedPort{nullptr};  // the destination we connected to
  // Realtime thread only (a new client's callback starts after the old one's ended):
  // cycles, and since when, the port has been connected.
  int m_linkedCycles = 0;
  unsigned m_seenLinkEpoch = 0;
  std::atomic<unsigned> m_linkEpoch{0};  // counts connections made or lost
  std::atomic<std::uint64_t> m_cycle{0};
  std::atomic<std::uint64_t> m_lastWriteCycle{0};  // 0: nothing written yet
  std::atomic<Clock::rep> m_lastWriteNanoseconds{0};
  jack_time_t m_linkedSince = 0;
  std::atomic<jack_client_t*> m_notifyClient{nullptr};  // for the notification callbacks
  std::atomic<MidiResult> m_failure{0};  // the first failure the process callback met
  std::mutex m_producerMutex;          // callers of Send
  std::mutex m_consumerMutex;          // whoever returns the queue instead of the callback
  std::mutex m_heldMutex;
  std::condition_variable m_heldChanged;
  int m_held = 0;  // headers accepted and not yet returned
  std::string m_clientName;
  jack_port_t* m_port = nullptr;
  std::jthread m_notifier;
  std::mutex m_clientMutex;  // the notifier closes the client of a stopped server
  JackClientPtr m_client;    // last: closed first
};

JackOutDevice* AsJack(HMidiOut device) { return static_cast<JackOutDevice*>(device); }

}  // namespace

JackMidiServices::JackMidiServices() {
  // libjack reports a missing server on stderr; the user gets our error texts instead.
  static std::once_flag silenced;
  std::call_once(silenced, [] {
    jack_set_error_function(&SilentJackMessage);
    jack_set_info_function(&SilentJackMessage);
  });
}

JackMidiServices::~JackMidiServices() {
  if (m_lister && m_listerGone.load()) static_cast<void>(m_lister.release());
}

jack_client_t* JackMidiServices::ListingClient() {
  if (m_lister && m_listerGone.load()) {
    // libjack cannot close a client of a server that went away once another server of
    // that name runs, and may crash trying; such a client is left as it is.
    static_cast<void>(m_lister.release());
  }
  if (!m_lister) {
    m_listerGone.store(false);
    JackClientPtr client = OpenClient(nullptr);
    if (!client) return nullptr;
    jack_on_info_shutdown(
        client.get(), [](jack_status_t, const char*, void* arg) { ListingServerShutdown(arg); }, this);
    jack_on_shutdown(client.get(), &JackMidiServices::ListingServerShutdown, this);
    m_lister.reset(client.release());
  }
  return m_lister.get();
}

void JackMidiServices::ClientCloser::operator()(jack_client_t* client) const { jack_client_close(client); }

void JackMidiServices::ListingServerShutdown(void* arg) {
  static_cast<JackMidiServices*>(arg)->m_listerGone.store(true);
}

JackMidiServices::Snapshot JackMidiServices::Look() {
  Snapshot snapshot;
  jack_client_t* client = ListingClient();
  if (!client) return snapshot;
  snapshot.serverRunning = true;
  m_seenServer = true;
  const auto collect = [&](unsigned long flags, std::vector<std::string>& names) {
    const char** ports = jack_get_ports(client, nullptr, JACK_DEFAULT_MIDI_TYPE, flags);
    if (!ports) return;
    for (const char** port = ports; *port; ++port) {
      const std::string name = *port;
      if (!m_ownClients.contains(ClientPart(name))) names.push_back(name);
    }
    jack_free(static_cast<void*>(ports));
  };
  collect(JackPortIsInput, snapshot.outputs);
  collect(JackPortIsOutput, snapshot.inputs);
  return snapshot;
}

unsigned JackMidiServices::OutDeviceCount() {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_snapshot = Look();
  m_looked = true;
  return static_cast<unsigned>(m_snapshot.outputs.size());
}

bool JackMidiServices::OutDeviceName(unsigned device, std::string& name) {
  std::lock_guard<std::mutex> lock(m_mutex);
  if (!m_looked) m_snapshot = Look();
  m_looked = true;
  if (device >= m_snapshot.outputs.size()) return false;
  name = m_snapshot.outputs[device];
  return true;
}

unsigned JackMidiServices::InDeviceCount() {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_snapshot = Look();
  m_looked = true;
  return static_cast<unsigned>(m_snapshot.inputs.size());
}

bool JackMidiServices::InDeviceName(unsigned device, std::string& name) {
  std::lock_guard<std::mutex> lock(m_mutex);
  if (!m_looked) m_snapshot = Look();
  m_looked = true;
  if (device >= m_snapshot.inputs.size()) return false;
  name = m_snapshot.inputs[device];
  return true;
}

MidiResult JackMidiServices::Open(HMidiOut* device, std::uint32_t deviceId, MidiOutCallback callback,
                                std::uintptr_t instance) {
  if (!device) return QM_MMSYSERR_INVALPARAM;
  *device = nullptr;
  if (!callback) return QM_MMSYSERR_INVALPARAM;
  std::string target;
  JackClientPtr client;
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (deviceId != QM_MIDI_MAPPER) {
      if (!m_looked) m_snapshot = Look();
      m_looked = true;
      if (deviceId >= m_snapshot.outputs.size()) return QM_MMSYSERR_BADDEVICEID;
      target = m_snapshot.outputs[deviceId];
    }
    // The listing client becomes the device's: one client per process for listing and
    // sending. The next listing opens another.
    if (ListingClient()) client.reset(m_lister.release());
  }
  auto opened = std::make_unique<JackOutDevice>(callback, instance);
  if (const MidiResult result = opened->Start(target, std::move(client))) return result;
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_ownClients.insert(opened->ClientName());
  }
  *device = opened.release();
  callback(*device, QM_MOM_OPEN, instance, 0, 0);
  return 0;
}

MidiResult JackMidiServices::PrepareHeader(HMidiOut device, MidiHeader* header, unsigned size) {
  if (!device) return QM_MMSYSERR_INVALHANDLE;
  if (!header || size != kMidiHeaderSize) return QM_MMSYSERR_INVALPARAM;
  header->dwFlags |= QM_MHDR_PREPARED;
  return 0;
}

MidiResult JackMidiServices::UnprepareHeader(HMidiOut device, MidiHeader* header, unsigned size) {
  if (!device) return QM_MMSYSERR_INVALHANDLE;
  if (!header || size != kMidiHeaderSize) return QM_MMSYSERR_INVALPARAM;
  if (header->dwFlags & QM_MHDR_INQUEUE) return QM_MIDIERR_STILLPLAYING;
  header->dwFlags &= ~QM_MHDR_PREPARED;
  return 0;
}

MidiResult JackMidiServices::ShortMsg(HMidiOut device, std::uint32_t message) {
  if (!device) return QM_MMSYSERR_INVALHANDLE;
  return AsJack(device)->Send({nullptr, message});
}

MidiResult JackMidiServices::LongMsg(HMidiOut device, MidiHeader* header, unsigned size) {
  if (!device) return QM_MMSYSERR_INVALHANDLE;
  if (!header || size != kMidiHeaderSize) return QM_MMSYSERR_INVALPARAM;
  return AsJack(device)->Send({header, 0});
}

MidiResult JackMidiServices::Reset(HMidiOut device) {
  if (!device) return QM_MMSYSERR_INVALHANDLE;
  return AsJack(device)->Reset();
}

MidiResult JackMidiServices::Close(HMidiOut device) {
  if (!device) return QM_MMSYSERR_INVALHANDLE;
  auto* jack = AsJack(device);
  const MidiResult result = jack->Close();
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_ownClients.erase(jack->ClientName());
  }
  delete jack;
  return result;
}

std::string JackMidiServices::NoOutputsText() {
  // A server this program has seen stop is a likelier reason than none ever started. The
  // list that found nothing may have been taken before the server's end reached us, so
  // look once more.
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_snapshot = Look();
    m_looked = true;
    if (!m_seenServer || m_snapshot.serverRunning) return MidiServices::NoOutputsText();
  }
  return ErrorText(kJackServerGone);
}

std::string JackMidiServices::ErrorText(MidiResult result) {
  if (result == QM_MMSYSERR_BADDEVICEID) {
    // The engine checks numbers against the count itself; with the server down the JACK
    // ports are simply missing from it.
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_looked && !m_snapshot.serverRunning) result = kJackServerGone;
  }
  switch (result) {
    case kJackServerGone:
      return "The JACK server is not running or has stopped. Start the JACK server, then "
             "press the key again.";
    case kJackClientFailed:
      return "The JACK server did not accept Quillmark as a client. Check the JACK server's "
             "messages, then try again.";
    case kJackPortFailed:
      return "Quillmark could not create its MIDI port on the JACK server.";
    case kJackConnectFailed:
      return "Quillmark could not connect to the chosen JACK MIDI port. The program that owns "
             "it may have closed it; choose the MIDI output device again in Preferences.";
    case kJackEventTooLarge:
      return "The message does not fit into the JACK server's MIDI buffer. Start the JACK "
             "server with a larger period.";
    case kJackPortGone:
      return "The chosen JACK MIDI port has gone away: the program that owns it has closed it "
             "or ended. Start that program again, then press the key again.";
    case kJackStuck:
      return "The JACK server did not hand back the MIDI buffers in time. Restart the JACK "
             "server, then try again.";
    default:
      return StandardMidiErrorText(result);
  }
}
