#include "midi/backends/alsa/AlsaMidiServices.h"

#include "midi/backends/alsa/AlsaOutDevice.h"

namespace {

bool Has(unsigned caps, unsigned wanted) { return (caps & wanted) == wanted; }

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
