#include "midi/MidiXmit.h"

#include <algorithm>
#include <string>

#include "midi/KeyPathCounters.h"
#include "midi/OutputStream.h"
#include "midi/SettingsAccess.h"
#include "desktop/UserSeams.h"

CMidiXmit* g_pMidiXmit = nullptr;

std::string OutputNotConnectedText(const std::string& name) {
  return "The MIDI output \"" + name +
         "\" is not connected. Connect it, or choose another output in File, Preferences.";
}

std::string OutputBusyText() {
  return "The MIDI output has not taken the keys before this one within " +
         std::to_string(CMidiXmit::kBufferWaitBound.count() / 1000) +
         " seconds, so this key was not sent. Check the output, or choose another one in File, "
         "Preferences.";
}

OutputLookup LookUpOutputDevice(const std::vector<std::string>& labels, std::int32_t storedDevice,
                                const std::string& storedName, bool reportNoOutputs,
                                std::uint32_t& device) {
  if (storedName.empty() && storedDevice == -1) {
    device = QM_MIDI_MAPPER;
    return OutputLookup::Found;
  }
  if (reportNoOutputs && labels.empty()) return OutputLookup::NoOutputs;
  if (storedName.empty()) {
    device = static_cast<std::uint32_t>(storedDevice);
    return OutputLookup::Found;
  }
  const auto found = std::find(labels.begin(), labels.end(), storedName);
  if (found == labels.end()) return OutputLookup::NotConnected;
  device = static_cast<std::uint32_t>(found - labels.begin());
  return OutputLookup::Found;
}

CMidiXmit::CMidiXmit() : m_stream(nullptr), m_errorReported(0), m_bufferWaitBound(kBufferWaitBound) {}

CMidiXmit::~CMidiXmit() { ReleasePort(); }

void CMidiXmit::OpenPort() {
  if (m_stream) {
    CurrentUserSeams().MessageBeep(QM_MB_ICONHAND);
    return;
  }
  auto device = static_cast<std::uint32_t>(CurrentMidiOutDevice());
  // Device numbers follow the order in which ports appeared, so the stored name is looked
  // up in the list as it is now.
  if (MidiServices* services = StreamLibServices()) {
    const std::string name = CurrentMidiOutDeviceName();
    const std::string noOutputs = services->NoOutputsText();
    switch (LookUpOutputDevice(OutDeviceLabels(*services), CurrentMidiOutDevice(), name,
                               !noOutputs.empty(), device)) {
      case OutputLookup::Found:
        break;
      case OutputLookup::NotConnected:
        ReportErrorText(OutputNotConnectedText(name), kOpenErrorLocation);
        return;
      case OutputLookup::NoOutputs:
        ReportErrorText(noOutputs, kOpenErrorLocation);
        return;
    }
  }
  const MidiResult result = OpenOutputStream(&m_stream, nullptr, device, nullptr, kOpenOptions);
  if (result != 0) {
    ReportError(result, kOpenErrorLocation);
    return;
  }
  // The output by the name the user knows it by, for the day its destination goes away.
  m_strOutputName = CurrentMidiOutDeviceName();
  if (MidiServices* services = StreamLibServices(); services && m_strOutputName.empty()) {
    if (device == QM_MIDI_MAPPER) {
      m_strOutputName = services->VirtualOutputLabel();
    } else if (!services->OutDeviceLabel(device, m_strOutputName)) {
      m_strOutputName.clear();
    }
  }
}

int CMidiXmit::Send(int count, const unsigned char* bytes) {
  KeyPathCounters& counters = TheKeyPathCounters();
  CountKeyPath(counters.sends);
  if (!m_stream || m_errorReported) {
    OpenPort();
    if (!m_stream) {
      CountKeyPath(counters.sendsReported);
      CurrentUserSeams().MessageBeep(QM_MB_ICONHAND);
      return 0;
    }
  }
  bool waited = false;
  for (int i = 0; i < count; ++i) {
    const MidiEvent event{0, 0xF0u | (static_cast<std::uint32_t>(bytes[i]) << 8)};
    int result = PutOutputEvent(m_stream, &event);
    if (result == -1) {
      // Every buffer the stream may have away is away (keys came faster than the device
      // took them, or this thread was held up while they queued). The byte waits for one
      // to come back rather than the key vanishing.
      if (!waited) CountKeyPath(counters.sendsWaited);
      waited = true;
      result = WaitForSysExBuffer(m_stream, m_bufferWaitBound);
      if (result == 0) result = PutOutputEvent(m_stream, &event);
      if (result == -1) {
        CountKeyPath(counters.sendsReported);
        ReportErrorText(OutputBusyText(), kPutErrorLocation);
        return 0;
      }
    }
    if (result == 0) continue;
    CountKeyPath(counters.sendsReported);
    if (static_cast<MidiResult>(result) == kMidiOutputGone && !m_strOutputName.empty()) {
      ReportErrorText(OutputNotConnectedText(m_strOutputName), kPutErrorLocation);
    } else {
      ReportError(static_cast<MidiResult>(result), kPutErrorLocation);
    }
    // The device failed under the stream (a transport that went away): let the next key
    // open it afresh rather than report the same dead stream again and again.
    ReleasePort();
    return 0;
  }
  CountKeyPath(counters.sendsAccepted);
  return 1;
}

int CMidiXmit::ReleasePort() {
  if (!m_stream) return 0;
  const MidiResult result = CloseOutputStream(&m_stream);
  m_stream = nullptr;
  return static_cast<int>(result);
}

void CMidiXmit::ReportError(MidiResult result, int location) {
  // The platform's error text comes in a 256-character buffer, terminator included.
  std::string errorText = MidiErrorText(result);
  if (errorText.size() > 255) errorText.resize(255);
  ReportErrorText(errorText, location);
}

void CMidiXmit::ReportErrorText(const std::string& errorText, int location) {
  const std::string text = "Error: " + errorText + "\nError location: MidiXmit (" +
                           std::to_string(location) + ")\n";
  CurrentUserSeams().ShowMessageBox(nullptr, text, "MIDI Device Error", QM_MB_OK | QM_MB_ICONHAND);
  m_errorReported = 1;
}
