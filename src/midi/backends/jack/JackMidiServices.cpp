#include "midi/backends/jack/JackMidiServices.h"

#include <jack/jack.h>
#include <jack/midiport.h>
#include <semaphore.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <ctime>
#include <stop_token>
#include <thread>

#include "midi/backends/SpscRing.h"

namespace {

using Clock = std::chrono::steady_clock;
// How long a reset or close waits for the realtime side or the notifier. A live server
// answers within a few periods; a dead one no longer touches our buffers at all.
constexpr auto kWaitBound = std::chrono::seconds(3);
// The notifier also wakes on its own at this interval, to return what a stopped server
// will never process.
constexpr auto kNotifierTick = std::chrono::milliseconds(50);

constexpr const char* kClientName = "Quillmark";
constexpr const char* kVirtualPortName = "Quillmark";
constexpr const char* kDevicePortName = "out";

void SilentJackMessage(const char*) {}

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
      : m_callback(callback), m_instance(instance) {}
  ~JackOutDevice() override {
    CloseClient();
    StopNotifier();
  }

  // Client, port, notifier, activation, connection. Nothing calls back on failure.
  MidiResult Start(const std::string& target) {
    // The notifier closes the client if the server stops; not while it is being set up.
    std::lock_guard<std::mutex> lock(m_clientMutex);
    MidiResult failure = 0;
    m_client = OpenClient(&failure);
    if (!m_client) return failure;
    jack_client_t* client = m_client.get();
    m_clientName = jack_get_client_name(client);
    jack_set_process_callback(client, &JackOutDevice::Process, this);
    jack_on_info_shutdown(client, &JackOutDevice::ServerShutdown, this);
    const char* portName = target.empty() ? kVirtualPortName : kDevicePortName;
    m_port = jack_port_register(client, portName, JACK_DEFAULT_MIDI_TYPE, JackPortIsOutput, 0);
    if (!m_port) return kJackPortFailed;
    m_notifier = std::jthread([this](std::stop_token stop) { NotifierMain(stop); });
    if (jack_activate(client) != 0) return m_gone ? kJackServerGone : kJackClientFailed;
    if (!target.empty()) {
      const int connected = jack_connect(client, jack_port_name(m_port), target.c_str());
      if (connected != 0 && connected != EEXIST) return m_gone ? kJackServerGone : kJackConnectFailed;
    }
    return 0;
  }

  const std::string& ClientName() const { return m_clientName; }

  MidiResult Send(const Outgoing& item) {
    std::lock_guard<std::mutex> producer(m_producerMutex);
    if (m_gone.load()) return kJackServerGone;
    if (const MidiResult failure = m_failure.load()) return failure;
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
    {
      std::lock_guard<std::mutex> consumer(m_consumerMutex);
      if (!Quiesce()) return kJackStuck;
      ReturnQueued();
      if (!m_gone.load()) m_processBlocked.store(false);
    }
    return WaitUntilNothingHeld() ? MidiResult{0} : kJackStuck;
  }

  MidiResult Close() {
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
  static int Process(jack_nframes_t frames, void* arg) {
    auto* self = static_cast<JackOutDevice*>(arg);
    void* buffer = jack_port_get_buffer(self->m_port, frames);
    jack_midi_clear_buffer(buffer);
    // Announce first, then look at the block flag: Quiesce does the opposite, so one of
    // the two always sees the other.
    self->m_inProcess.store(true);
    if (!self->m_processBlocked.load()) self->WriteQueued(buffer);
    self->m_inProcess.store(false);
    return 0;
  }

  // Realtime thread: consumer of m_toProcess, producer of m_done.
  void WriteQueued(void* buffer) {
    bool completed = false;
    while (const Outgoing* item = m_toProcess.Front()) {
      std::uint8_t shortBytes[3];
      const std::uint8_t* data = shortBytes;
      std::size_t size = 0;
      if (item->header) {
        if (m_done.Full()) break;
        data = item->header->lpData;
        size = item->header->dwBufferLength;
      } else {
        const std::uint32_t message = item->shortMessage;
        for (std::size_t i = 0; i < 3; ++i) shortBytes[i] = static_cast<std::uint8_t>(message >> (8 * i));
        size = ShortMessageLength(shortBytes[0]);
      }
      if (size > 0 && jack_midi_event_write(buffer, 0, data, size) != 0) {
        // Full for this cycle: the message waits for the next one. Only an event that
        // does not fit into an empty buffer can never go out.
        if (jack_midi_get_event_count(buffer) != 0) break;
        MidiResult none = 0;
        m_failure.compare_exchange_strong(none, kJackEventTooLarge);
      }
      if (item->header) {
        m_done.Push(item->header);
        completed = true;
      }
      m_toProcess.Pop();
    }
    if (completed) m_wake.Post();
  }

  static void ServerShutdown(jack_status_t, const char*, void* arg) {
    auto* self = static_cast<JackOutDevice*>(arg);
    self->m_gone.store(true);
    self->m_wake.Post();
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

  void NotifierMain(const std::stop_token& stop) {
    while (!stop.stop_requested()) {
      m_wake.TimedWait(kNotifierTick);
      DeliverDone();
      if (m_gone.load()) {
        // A reset holding the consumer role returns the queue itself.
        std::unique_lock<std::mutex> consumer(m_consumerMutex, std::try_to_lock);
        if (consumer && Quiesce()) ReturnQueued();
        // A client of a stopped server must be closed before the next server of that name
        // starts: libjack cannot close it cleanly afterwards.
        CloseClient();
      }
    }
    DeliverDone();
  }

  void CloseClient() {
    std::lock_guard<std::mutex> lock(m_clientMutex);
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
  void ReturnQueued() {
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
  SpscRing<Outgoing, kJackRingSlots> m_toProcess;
  SpscRing<MidiHeader*, kJackRingSlots> m_done;
  Semaphore m_wake;
  std::atomic<bool> m_inProcess{false};
  std::atomic<bool> m_processBlocked{false};
  std::atomic<bool> m_gone{false};
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

JackMidiServices::~JackMidiServices() = default;

JackMidiServices::Snapshot JackMidiServices::Look() {
  Snapshot snapshot;
  JackClientPtr client = OpenClient(nullptr);
  if (!client) return snapshot;
  const auto collect = [&](unsigned long flags, std::vector<std::string>& names) {
    const char** ports = jack_get_ports(client.get(), nullptr, JACK_DEFAULT_MIDI_TYPE, flags);
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
  if (deviceId != QM_MIDI_MAPPER) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_looked) m_snapshot = Look();
    m_looked = true;
    if (deviceId >= m_snapshot.outputs.size()) return QM_MMSYSERR_BADDEVICEID;
    target = m_snapshot.outputs[deviceId];
  }
  auto opened = std::make_unique<JackOutDevice>(callback, instance);
  if (const MidiResult result = opened->Start(target)) return result;
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

std::string JackMidiServices::ErrorText(MidiResult result) {
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
    case kJackStuck:
      return "The JACK server did not hand back the MIDI buffers in time. Restart the JACK "
             "server, then try again.";
    default:
      return StandardMidiErrorText(result);
  }
}
