#include "midi/MidiXmit.h"

#include <cstdio>

#include "midi/OutputStream.h"
#include "midi/SettingsAccess.h"
#include "desktop/UserSeams.h"

CMidiXmit* g_pMidiXmit = nullptr;

CMidiXmit::CMidiXmit() : m_stream(nullptr), m_errorReported(0) {}

CMidiXmit::~CMidiXmit() { ReleasePort(); }

void CMidiXmit::OpenPort() {
  if (m_stream) {
    CurrentUserSeams().MessageBeep(QM_MB_ICONHAND);
    return;
  }
  const auto device = static_cast<std::uint32_t>(CurrentMidiOutDevice());
  const MidiResult result = OpenOutputStream(&m_stream, nullptr, device, nullptr, kOpenOptions);
  if (result != 0) ReportError(result, kOpenErrorLocation);
}

int CMidiXmit::Send(int count, const unsigned char* bytes) {
  if (!m_stream || m_errorReported) {
    OpenPort();
    if (!m_stream) {
      CurrentUserSeams().MessageBeep(QM_MB_ICONHAND);
      return 0;
    }
  }
  for (int i = 0; i < count; ++i) {
    const MidiEvent event{0, 0xF0u | (static_cast<std::uint32_t>(bytes[i]) << 8)};
    const int result = PutOutputEvent(m_stream, &event);
    if (result == 0) continue;
    if (result != -1) {
      ReportError(static_cast<MidiResult>(result), kPutErrorLocation);
      // The device failed under the stream (a transport that went away): let the next key
      // open it afresh rather than report the same dead stream again and again.
      ReleasePort();
    }
    return 0;
  }
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
  char text[512];
  std::snprintf(text, sizeof text, "Error: %s\nError location: %s (%d)\n", errorText.c_str(),
                "MidiXmit", location);
  CurrentUserSeams().ShowMessageBox(nullptr, text, "MIDI Device Error", QM_MB_OK | QM_MB_ICONHAND);
  m_errorReported = 1;
}
