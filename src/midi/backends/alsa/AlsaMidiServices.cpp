#include "midi/backends/alsa/AlsaMidiServices.h"

#include <alsa/asoundlib.h>

#include <cerrno>
#include <memory>

namespace {

constexpr const char* kClientName = "Quillmark";
constexpr const char* kVirtualPortName = "Quillmark";
constexpr const char* kDevicePortName = "out";

// libasound prints its own errors (a missing /dev/snd/seq among them) on stderr; the user
// gets our texts instead.
void SilentAlsaError(const char*, int, const char*, int, const char*, ...) {}

struct SeqCloser {
  void operator()(snd_seq_t* seq) const { snd_seq_close(seq); }
};
using SeqPtr = std::unique_ptr<snd_seq_t, SeqCloser>;

struct EncoderFree {
  void operator()(snd_midi_event_t* encoder) const { snd_midi_event_free(encoder); }
};
using EncoderPtr = std::unique_ptr<snd_midi_event_t, EncoderFree>;

struct ClientInfoFree {
  void operator()(snd_seq_client_info_t* info) const { snd_seq_client_info_free(info); }
};
struct PortInfoFree {
  void operator()(snd_seq_port_info_t* info) const { snd_seq_port_info_free(info); }
};

SeqPtr OpenSequencer(int streams) {
  snd_seq_t* seq = nullptr;
  if (snd_seq_open(&seq, "default", streams, SND_SEQ_NONBLOCK) < 0) return nullptr;
  return SeqPtr(seq);
}

bool Has(unsigned caps, unsigned wanted) { return (caps & wanted) == wanted; }

class AlsaOutDevice final : public MidiOutDevice {
 public:
  AlsaOutDevice(MidiOutCallback callback, std::uintptr_t instance)
      : m_callback(callback), m_instance(instance) {}

  // virtualPort: no destination, the port carries the program's name.
  MidiResult Start(bool virtualPort, int destClient, int destPort) {
    m_seq = OpenSequencer(SND_SEQ_OPEN_OUTPUT);
    if (!m_seq) return kAlsaNoSequencer;
    snd_seq_set_client_name(m_seq.get(), kClientName);
    m_client = snd_seq_client_id(m_seq.get());
    m_port = snd_seq_create_simple_port(
        m_seq.get(), virtualPort ? kVirtualPortName : kDevicePortName,
        SND_SEQ_PORT_CAP_READ | SND_SEQ_PORT_CAP_SUBS_READ,
        SND_SEQ_PORT_TYPE_MIDI_GENERIC | SND_SEQ_PORT_TYPE_APPLICATION);
    if (m_port < 0) return kAlsaPortFailed;
    if (!virtualPort && snd_seq_connect_to(m_seq.get(), m_port, destClient, destPort) < 0) {
      return kAlsaConnectFailed;
    }
    snd_midi_event_t* encoder = nullptr;
    if (snd_midi_event_new(16, &encoder) < 0) return QM_MMSYSERR_NOMEM;
    m_encoder.reset(encoder);
    snd_midi_event_no_status(encoder, 1);
    return 0;
  }

  int Client() const { return m_client; }

  MidiResult Short(std::uint32_t message) {
    std::uint8_t bytes[3];
    for (std::size_t i = 0; i < 3; ++i) bytes[i] = static_cast<std::uint8_t>(message >> (8 * i));
    snd_seq_event_t event;
    snd_seq_ev_clear(&event);
    snd_midi_event_reset_encode(m_encoder.get());
    bool complete = false;
    for (std::uint8_t byte : bytes) {
      const int used = snd_midi_event_encode_byte(m_encoder.get(), byte, &event);
      if (used < 0) return QM_MMSYSERR_INVALPARAM;
      if (used == 1) {
        complete = true;
        break;
      }
    }
    if (!complete) return QM_MMSYSERR_INVALPARAM;
    return Output(event);
  }

  MidiResult Long(MidiHeader* header) {
    if (!(header->dwFlags & QM_MHDR_PREPARED)) return QM_MIDIERR_UNPREPARED;
    snd_seq_event_t event;
    snd_seq_ev_clear(&event);
    snd_seq_ev_set_sysex(&event, header->dwBufferLength, header->lpData);
    if (const MidiResult result = Output(event)) return result;
    header->dwFlags |= QM_MHDR_DONE;
    m_callback(this, QM_MOM_DONE, m_instance, reinterpret_cast<std::uintptr_t>(header), 0);
    return 0;
  }

  MidiResult Close() {
    if (m_seq) snd_seq_drain_output(m_seq.get());
    m_seq.reset();
    m_callback(this, QM_MOM_CLOSE, m_instance, 0, 0);
    return 0;
  }

 private:
  MidiResult Output(snd_seq_event_t& event) {
    snd_seq_ev_set_source(&event, static_cast<unsigned char>(m_port));
    snd_seq_ev_set_subs(&event);
    snd_seq_ev_set_direct(&event);
    const int result = snd_seq_event_output_direct(m_seq.get(), &event);
    if (result == -EAGAIN) return QM_MIDIERR_NOTREADY;
    return result < 0 ? kAlsaSendFailed : 0;
  }

  const MidiOutCallback m_callback;
  const std::uintptr_t m_instance;
  SeqPtr m_seq;
  EncoderPtr m_encoder;
  int m_client = -1;
  int m_port = -1;
};

AlsaOutDevice* AsAlsa(HMidiOut device) { return static_cast<AlsaOutDevice*>(device); }

}  // namespace

AlsaMidiServices::AlsaMidiServices() {
  static std::once_flag silenced;
  std::call_once(silenced, [] { snd_lib_error_set_handler(&SilentAlsaError); });
}

AlsaMidiServices::~AlsaMidiServices() = default;

bool AlsaMidiServices::HasSequencer() { return OpenSequencer(SND_SEQ_OPEN_OUTPUT) != nullptr; }

AlsaMidiServices::Snapshot AlsaMidiServices::Look() {
  Snapshot snapshot;
  SeqPtr seq = OpenSequencer(SND_SEQ_OPEN_OUTPUT);
  if (!seq) return snapshot;
  snd_seq_client_info_t* clientInfo = nullptr;
  snd_seq_port_info_t* portInfo = nullptr;
  if (snd_seq_client_info_malloc(&clientInfo) < 0) return snapshot;
  std::unique_ptr<snd_seq_client_info_t, ClientInfoFree> ownClientInfo(clientInfo);
  if (snd_seq_port_info_malloc(&portInfo) < 0) return snapshot;
  std::unique_ptr<snd_seq_port_info_t, PortInfoFree> ownPortInfo(portInfo);

  const int self = snd_seq_client_id(seq.get());
  snd_seq_client_info_set_client(clientInfo, -1);
  while (snd_seq_query_next_client(seq.get(), clientInfo) >= 0) {
    const int client = snd_seq_client_info_get_client(clientInfo);
    // The system client carries only the timer and the announce port.
    if (client == SND_SEQ_CLIENT_SYSTEM || client == self || m_ownClients.contains(client)) continue;
    const std::string clientName = snd_seq_client_info_get_name(clientInfo);
    snd_seq_port_info_set_client(portInfo, client);
    snd_seq_port_info_set_port(portInfo, -1);
    while (snd_seq_query_next_port(seq.get(), portInfo) >= 0) {
      const unsigned caps = snd_seq_port_info_get_capability(portInfo);
      if (caps & SND_SEQ_PORT_CAP_NO_EXPORT) continue;
      const Port port{clientName + ":" + snd_seq_port_info_get_name(portInfo), client,
                      snd_seq_port_info_get_port(portInfo)};
      if (Has(caps, SND_SEQ_PORT_CAP_WRITE | SND_SEQ_PORT_CAP_SUBS_WRITE)) snapshot.outputs.push_back(port);
      if (Has(caps, SND_SEQ_PORT_CAP_READ | SND_SEQ_PORT_CAP_SUBS_READ)) snapshot.inputs.push_back(port);
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
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_looked) m_snapshot = Look();
    m_looked = true;
    if (deviceId >= m_snapshot.outputs.size()) return QM_MMSYSERR_BADDEVICEID;
    destination = m_snapshot.outputs[deviceId];
  }
  auto opened = std::make_unique<AlsaOutDevice>(callback, instance);
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
  return device ? MidiResult{0} : QM_MMSYSERR_INVALHANDLE;
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
      return "The ALSA sequencer did not take the message. The MIDI port may have gone away; "
             "choose the MIDI output device again in Preferences.";
    default:
      return StandardMidiErrorText(result);
  }
}
