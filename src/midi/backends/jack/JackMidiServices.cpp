#include "midi/backends/jack/JackMidiServices.h"

#include <jack/jack.h>

#include "midi/backends/jack/JackOutDevice.h"

using namespace jackbackend;
// libjack's functions are called as jackbackend::jack_... here: out in the global scope the
// plain names would mean both libjack's declarations and the backend's pointers.

namespace {

JackOutDevice* AsJack(HMidiOut device) { return static_cast<JackOutDevice*>(device); }

}  // namespace

JackMidiServices::JackMidiServices() {
  // libjack is opened here, once; without it there is no server to list or send to, and
  // OpenClient says so. libjack reports a missing server on stderr; the user gets our
  // error texts instead.
  if (!LoadJackApi()) return;
  static std::once_flag silenced;
  std::call_once(silenced, [] {
    jackbackend::jack_set_error_function(&SilentJackMessage);
    jackbackend::jack_set_info_function(&SilentJackMessage);
  });
  AskPipeWireForAnUnlockedProcessCallback();
}

JackMidiServices::~JackMidiServices() {
  if (m_lister && m_listerGone.load()) DropGoneLister();
}

void JackMidiServices::DropGoneLister() {
  // libjack cannot close a client of a server that went away once another server of that
  // name runs, and may crash trying (jackd2's), or races with its own thread (PipeWire's);
  // such a client is left as it is. (PipeWire's libjack also reports some errors of a live
  // client as the server's end, see JackOutDevice::StillServed; a listing client that
  // met one is left behind too, idle.)
  static_cast<void>(m_lister.release());
}

jack_client_t* JackMidiServices::ListingClient() {
  if (m_lister && m_listerGone.load()) DropGoneLister();
  if (!m_lister) {
    m_listerGone.store(false);
    JackClientPtr client = OpenClient(nullptr);
    if (!client) return nullptr;
    jackbackend::jack_on_info_shutdown(
        client.get(), [](jack_status_t, const char*, void* arg) { ListingServerShutdown(arg); }, this);
    jackbackend::jack_on_shutdown(client.get(), &JackMidiServices::ListingServerShutdown, this);
    m_lister.reset(client.release());
  }
  return m_lister.get();
}

void JackMidiServices::ClientCloser::operator()(jack_client_t* client) const {
  jackbackend::jack_client_close(client);
}

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
    const char** ports = jackbackend::jack_get_ports(client, nullptr, JACK_DEFAULT_MIDI_TYPE, flags);
    if (!ports) return;
    for (const char** port = ports; *port; ++port) {
      const std::string name = *port;
      if (!m_ownClients.contains(ClientPart(name))) names.push_back(name);
    }
    jackbackend::jack_free(static_cast<void*>(ports));
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

bool JackMidiServices::VirtualOutputAvailable() {
  std::lock_guard<std::mutex> lock(m_mutex);
  if (!m_looked) m_snapshot = Look();
  m_looked = true;
  return m_snapshot.serverRunning;
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
    case kJackStuck:
      return "The JACK server did not hand back the MIDI buffers in time. Restart the JACK "
             "server, then try again.";
    default:
      return StandardMidiErrorText(result);
  }
}
