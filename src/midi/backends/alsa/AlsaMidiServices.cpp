#include "midi/backends/alsa/AlsaMidiServices.h"

#include <alsa/asoundlib.h>

#include <condition_variable>
#include <deque>
#include <stop_token>
#include <thread>

#include <cerrno>
#include <memory>

namespace {

using Clock = AlsaSystem::Clock;

constexpr const char* kClientName = "Quillmark";
constexpr const char* kVirtualPortName = "Quillmark";
constexpr const char* kDevicePortName = "out";

// A MIDI wire carries 31250 bits a second, ten bits a byte.
constexpr auto kWireTimePerByte = std::chrono::microseconds(320);
// A receiver whose queue is full (-EAGAIN, or -ENOMEM from its pool) is asked again
// after this pause, this many times, before that becomes a device error.
constexpr auto kFullReceiverPause = std::chrono::milliseconds(2);
constexpr int kFullReceiverTries = 500;

struct EncoderFree {
  void operator()(snd_midi_event_t* encoder) const { snd_midi_event_free(encoder); }
};
using EncoderPtr = std::unique_ptr<snd_midi_event_t, EncoderFree>;

bool Has(unsigned caps, unsigned wanted) { return (caps & wanted) == wanted; }

// The device error for a sequencer's refusal.
MidiResult SendFailure(int result) {
  switch (result) {
    case -ENOENT:
    case -ENXIO:
    case -ENODEV:
      return kAlsaPortGone;
    case -EBUSY:
      return kAlsaPortBusy;
    case -EAGAIN:
    case -ENOMEM:
      return kAlsaReceiverFull;
    default:
      return kAlsaSendFailed;
  }
}

// One message for the wire: a long message's header, or a short message when it is null.
struct Outgoing {
  MidiHeader* header;
  snd_seq_event_t event;
  std::size_t bytes;
};

class AlsaOutDevice final : public MidiOutDevice {
 public:
  AlsaOutDevice(AlsaSystem& system, MidiOutCallback callback, std::uintptr_t instance)
      : m_system(system), m_callback(callback), m_instance(instance) {}
  ~AlsaOutDevice() override { StopWorker(); }

  // virtualPort: no destination, the port carries the program's name.
  MidiResult Start(bool virtualPort, int destClient, int destPort) {
    m_seq = m_system.Open();
    if (!m_seq) return kAlsaNoSequencer;
    m_seq->SetClientName(kClientName);
    m_client = m_seq->ClientId();
    m_port = m_seq->CreateSourcePort(virtualPort ? kVirtualPortName : kDevicePortName);
    if (m_port < 0) return kAlsaPortFailed;
    m_virtual = virtualPort;
    m_destClient = destClient;
    m_destPort = destPort;
    if (!virtualPort) {
      // The connection shows the destination that we send to it; the events themselves
      // are addressed to it directly, so that one it cannot take fails the write.
      const int connected = m_seq->ConnectTo(m_port, destClient, destPort);
      if (connected == -EBUSY) return kAlsaPortBusy;
      if (connected == -ENOENT || connected == -ENXIO || connected == -EINVAL) return kAlsaPortGone;
      if (connected < 0) return kAlsaConnectFailed;
    }
    snd_midi_event_t* encoder = nullptr;
    if (snd_midi_event_new(16, &encoder) < 0) return QM_MMSYSERR_NOMEM;
    m_encoder.reset(encoder);
    snd_midi_event_no_status(encoder, 1);
    m_wireFreeAt = m_system.Now();
    m_worker = std::jthread([this](std::stop_token stop) { WorkerMain(stop); });
    return 0;
  }

  int Client() const { return m_client; }

  MidiResult Short(std::uint32_t message) {
    std::uint8_t bytes[3];
    for (std::size_t i = 0; i < 3; ++i) bytes[i] = static_cast<std::uint8_t>(message >> (8 * i));
    Outgoing item{nullptr, {}, 0};
    snd_seq_ev_clear(&item.event);
    snd_midi_event_reset_encode(m_encoder.get());
    for (std::uint8_t byte : bytes) {
      const int used = snd_midi_event_encode_byte(m_encoder.get(), byte, &item.event);
      if (used < 0) return QM_MMSYSERR_INVALPARAM;
      ++item.bytes;
      if (used == 1) return Queue(item);
    }
    return QM_MMSYSERR_INVALPARAM;
  }

  MidiResult Long(MidiHeader* header) {
    if (!(header->dwFlags & QM_MHDR_PREPARED)) return QM_MIDIERR_UNPREPARED;
    if (header->dwFlags & QM_MHDR_INQUEUE) return QM_MIDIERR_STILLPLAYING;
    Outgoing item{header, {}, header->dwBufferLength};
    snd_seq_ev_clear(&item.event);
    snd_seq_ev_set_sysex(&item.event, header->dwBufferLength, header->lpData);
    return Queue(item);
  }

  MidiResult Reset() {
    std::vector<MidiHeader*> held;
    {
      std::lock_guard<std::mutex> lock(m_mutex);
      TakeHeld(held);
    }
    for (MidiHeader* header : held) Complete(header);
    return 0;
  }

  MidiResult Close() {
    StopWorker();
    std::vector<MidiHeader*> held;
    TakeHeld(held);
    for (MidiHeader* header : held) Complete(header);
    if (m_seq) m_seq->DrainOutput();
    m_seq.reset();
    m_callback(this, QM_MOM_CLOSE, m_instance, 0, 0);
    return 0;
  }

 private:
  MidiResult Queue(Outgoing& item) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_failure != 0) return m_failure;
    snd_seq_ev_set_source(&item.event, static_cast<unsigned char>(m_port));
    if (m_virtual) {
      snd_seq_ev_set_subs(&item.event);
    } else {
      snd_seq_ev_set_dest(&item.event, static_cast<unsigned char>(m_destClient),
                          static_cast<unsigned char>(m_destPort));
    }
    snd_seq_ev_set_direct(&item.event);
    if (item.header) item.header->dwFlags = (item.header->dwFlags & ~QM_MHDR_DONE) | QM_MHDR_INQUEUE;
    m_queue.push_back(item);
    m_wake.notify_one();
    return 0;
  }

  // m_mutex held, or the worker stopped: the header on the wire first, then the queue.
  void TakeHeld(std::vector<MidiHeader*>& held) {
    if (m_onWire) held.push_back(m_onWire);
    m_onWire = nullptr;
    for (const Outgoing& item : m_queue) {
      if (item.header) held.push_back(item.header);
    }
    m_queue.clear();
  }

  // Hands one message at a time to the sequencer, the next only when the wire time of
  // the one before has passed: a hardware port's driver keeps 4 KB and drops the rest.
  // A long message completes when its wire time has passed. Sleeps while there is
  // nothing to do.
  void WorkerMain(const std::stop_token& stop) {
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
        Complete(sent);
        lock.lock();
        continue;
      }
      if (m_queue.empty() || m_failure != 0) {
        m_wake.wait(lock);
        continue;
      }
      Outgoing& item = m_queue.front();
      const int result = m_seq->OutputDirect(item.event);
      if ((result == -EAGAIN || result == -ENOMEM) && ++fullTries < kFullReceiverTries) {
        // The receiver's queue is full for the moment; it drains as it reads.
        m_wireFreeAt = now + kFullReceiverPause;
        continue;
      }
      fullTries = 0;
      if (result < 0) {
        // What is still queued comes back with Reset or Close.
        m_failure = SendFailure(result);
        continue;
      }
      m_wireFreeAt = now + kWireTimePerByte * static_cast<long>(item.bytes);
      m_onWire = item.header;
      m_queue.pop_front();
    }
  }

  void StopWorker() {
    if (!m_worker.joinable()) return;
    {
      std::lock_guard<std::mutex> lock(m_mutex);
      m_worker.request_stop();
    }
    m_wake.notify_all();
    m_worker.join();
  }

  void Complete(MidiHeader* header) {
    header->dwFlags = (header->dwFlags & ~QM_MHDR_INQUEUE) | QM_MHDR_DONE;
    m_callback(this, QM_MOM_DONE, m_instance, reinterpret_cast<std::uintptr_t>(header), 0);
  }

  AlsaSystem& m_system;
  const MidiOutCallback m_callback;
  const std::uintptr_t m_instance;
  std::unique_ptr<AlsaSequencer> m_seq;
  EncoderPtr m_encoder;  // calling thread only
  int m_client = -1;
  int m_port = -1;
  bool m_virtual = false;
  int m_destClient = 0;
  int m_destPort = 0;
  std::mutex m_mutex;  // everything below
  std::condition_variable m_wake;
  std::deque<Outgoing> m_queue;
  MidiHeader* m_onWire = nullptr;  // sent, its wire time not yet over
  Clock::time_point m_wireFreeAt;
  MidiResult m_failure = 0;  // the sequencer's first refusal; every later call fails with it
  std::jthread m_worker;     // last: stopped first
};

AlsaOutDevice* AsAlsa(HMidiOut device) { return static_cast<AlsaOutDevice*>(device); }

}  // namespace

AlsaMidiServices::AlsaMidiServices() : AlsaMidiServices(CreateAlsaSystem()) {}

AlsaMidiServices::AlsaMidiServices(std::unique_ptr<AlsaSystem> system) : m_system(std::move(system)) {}

AlsaMidiServices::~AlsaMidiServices() = default;

bool AlsaMidiServices::HasSequencer() { return m_system->Open() != nullptr; }

AlsaMidiServices::Snapshot AlsaMidiServices::Look() {
  Snapshot snapshot;
  std::unique_ptr<AlsaSequencer> seq = m_system->Open();
  if (!seq) return snapshot;
  for (const AlsaPortInfo& info : seq->OtherPorts()) {
    if (m_ownClients.contains(info.client) || (info.capability & SND_SEQ_PORT_CAP_NO_EXPORT)) continue;
    const Port port{info.clientName + ":" + info.portName, info.client, info.port};
    if (Has(info.capability, SND_SEQ_PORT_CAP_WRITE | SND_SEQ_PORT_CAP_SUBS_WRITE)) {
      snapshot.outputs.push_back(port);
    }
    if (Has(info.capability, SND_SEQ_PORT_CAP_READ | SND_SEQ_PORT_CAP_SUBS_READ)) {
      snapshot.inputs.push_back(port);
    }
  }
  return snapshot;
}

unsigned AlsaMidiServices::OutDeviceCount() {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_snapshot = Look();
  m_looked = true;
  return static_cast<unsigned>(m_snapshot.outputs.size());
}

bool AlsaMidiServices::OutDeviceName(unsigned device, std::string& name) {
  std::lock_guard<std::mutex> lock(m_mutex);
  if (!m_looked) m_snapshot = Look();
  m_looked = true;
  if (device >= m_snapshot.outputs.size()) return false;
  name = m_snapshot.outputs[device].name;
  return true;
}

unsigned AlsaMidiServices::InDeviceCount() {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_snapshot = Look();
  m_looked = true;
  return static_cast<unsigned>(m_snapshot.inputs.size());
}

bool AlsaMidiServices::InDeviceName(unsigned device, std::string& name) {
  std::lock_guard<std::mutex> lock(m_mutex);
  if (!m_looked) m_snapshot = Look();
  m_looked = true;
  if (device >= m_snapshot.inputs.size()) return false;
  name = m_snapshot.inputs[device].name;
  return true;
}

MidiResult AlsaMidiServices::Open(HMidiOut* device, std::uint32_t deviceId, MidiOutCallback callback,
                                std::uintptr_t instance) {
  if (!device) return QM_MMSYSERR_INVALPARAM;
  *device = nullptr;
  if (!callback) return QM_MMSYSERR_INVALPARAM;
  const bool virtualPort = deviceId == QM_MIDI_MAPPER;
  Port destination{{}, 0, 0};
  if (!virtualPort) {
    // A number means the device at that place now: ports come and go with USB cables.
    std::lock_guard<std::mutex> lock(m_mutex);
    m_snapshot = Look();
    m_looked = true;
    if (deviceId >= m_snapshot.outputs.size()) return QM_MMSYSERR_BADDEVICEID;
    destination = m_snapshot.outputs[deviceId];
  }
  auto opened = std::make_unique<AlsaOutDevice>(*m_system, callback, instance);
  if (const MidiResult result = opened->Start(virtualPort, destination.client, destination.port)) {
    return result;
  }
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_ownClients.insert(opened->Client());
  }
  *device = opened.release();
  callback(*device, QM_MOM_OPEN, instance, 0, 0);
  return 0;
}

MidiResult AlsaMidiServices::PrepareHeader(HMidiOut device, MidiHeader* header, unsigned size) {
  if (!device) return QM_MMSYSERR_INVALHANDLE;
  if (!header || size != kMidiHeaderSize) return QM_MMSYSERR_INVALPARAM;
  header->dwFlags |= QM_MHDR_PREPARED;
  return 0;
}

MidiResult AlsaMidiServices::UnprepareHeader(HMidiOut device, MidiHeader* header, unsigned size) {
  if (!device) return QM_MMSYSERR_INVALHANDLE;
  if (!header || size != kMidiHeaderSize) return QM_MMSYSERR_INVALPARAM;
  if (header->dwFlags & QM_MHDR_INQUEUE) return QM_MIDIERR_STILLPLAYING;
  header->dwFlags &= ~QM_MHDR_PREPARED;
  return 0;
}

MidiResult AlsaMidiServices::ShortMsg(HMidiOut device, std::uint32_t message) {
  if (!device) return QM_MMSYSERR_INVALHANDLE;
  return AsAlsa(device)->Short(message);
}

MidiResult AlsaMidiServices::LongMsg(HMidiOut device, MidiHeader* header, unsigned size) {
  if (!device) return QM_MMSYSERR_INVALHANDLE;
  if (!header || size != kMidiHeaderSize) return QM_MMSYSERR_INVALPARAM;
  return AsAlsa(device)->Long(header);
}

MidiResult AlsaMidiServices::Reset(HMidiOut device) {
  if (!device) return QM_MMSYSERR_INVALHANDLE;
  return AsAlsa(device)->Reset();
}

MidiResult AlsaMidiServices::Close(HMidiOut device) {
  if (!device) return QM_MMSYSERR_INVALHANDLE;
  auto* alsa = AsAlsa(device);
  const MidiResult result = alsa->Close();
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_ownClients.erase(alsa->Client());
  }
  delete alsa;
  return result;
}

std::string AlsaMidiServices::ErrorText(MidiResult result) {
  switch (result) {
    case kAlsaNoSequencer:
      return "The ALSA sequencer is not available. Load the snd-seq kernel module, then try "
             "again.";
    case kAlsaPortFailed:
      return "Quillmark could not create its ALSA sequencer port.";
    case kAlsaConnectFailed:
      return "Quillmark could not connect to the chosen ALSA MIDI port. Choose the MIDI output "
             "device again in Preferences.";
    case kAlsaSendFailed:
      return "The ALSA sequencer did not take the message.";
    case kAlsaPortGone:
      return "The ALSA MIDI port has gone away: the interface was unplugged or the program "
             "that owns the port ended. Plug it in or start it again, then press the key again.";
    case kAlsaPortBusy:
      return "Another program holds the chosen ALSA MIDI port. Close it there, then press the "
             "key again.";
    case kAlsaReceiverFull:
      return "The ALSA MIDI port did not take the message: the program that receives it has "
             "stopped reading. Check that program, then press the key again.";
    default:
      return StandardMidiErrorText(result);
  }
}
