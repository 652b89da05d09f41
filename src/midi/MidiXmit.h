// The program's one MIDI transmit port. It opens an output stream on demand on the
// device chosen in the settings (by its stored name when there is one), turns a byte string into SysEx events for the engine,
// releases the device when asked, and tells the user about device errors.
// User-interface thread only.
#pragma once

#include <chrono>
#include <string>
#include <vector>

#include "midi/MidiServices.h"

struct OutputStream;

// The device-error text for a stored output that cannot be found (the one for no output at
// all comes from the services):
// "The MIDI output "<name>" is not connected. Connect it, or choose another output in File,
// Preferences."
std::string OutputNotConnectedText(const std::string& name);

// The device-error text for a key that found every buffer still away and none came back
// in time.
std::string OutputBusyText();

enum class OutputLookup { Found, NotConnected, NoOutputs };
// The device a stored choice means in the current output list (labels, as
// OutDeviceLabels gives them). A stored name counts when there is one and must match a
// label exactly, wherever the list now puts it. Without a name the stored number counts
// as it stands: -1 is the virtual port, and a number past the list is left for the open
// to refuse. With reportNoOutputs, an empty list means NoOutputs for anything but the
// virtual port; without it, an empty list is searched like any other. device is set only
// for Found.
OutputLookup LookUpOutputDevice(const std::vector<std::string>& labels, std::int32_t storedDevice,
                                const std::string& storedName, bool reportNoOutputs,
                                std::uint32_t& device);

class CMidiXmit {
 public:
  // Option word of the port's stream: 81 SysEx buffers of 256 bytes, a queue of 256
  // events, SysEx through the buffer pool.
  static constexpr std::uint32_t kOpenOptions = 74321;
  static constexpr int kOpenErrorLocation = 45;
  static constexpr int kPutErrorLocation = 85;
  // How long a message waits for the device to hand a buffer back when all are away.
  static constexpr std::chrono::milliseconds kBufferWaitBound{2000};

  CMidiXmit();
  CMidiXmit(const CMidiXmit&) = delete;
  CMidiXmit& operator=(const CMidiXmit&) = delete;
  virtual ~CMidiXmit();

  // 1 when all count bytes were accepted by the engine, 0 otherwise. With every buffer
  // away, a byte waits (at most kBufferWaitBound) for one to come back, the buffers still
  // waiting for this thread handed to the device first; if none comes back the user is
  // told. So a failed send has always told the user (box or beep), never silently.
  int Send(int count, const unsigned char* bytes);
  // 0 when no stream was open, otherwise the close result.
  int ReleasePort();
  void ReportError(MidiResult result, int location);
  // The same box with a text of the program's own in place of the system's.
  void ReportErrorText(const std::string& errorText, int location);

  bool IsOpen() const { return m_stream != nullptr; }
  // Testing aid: a shorter wait for a buffer.
  void SetBufferWaitBound(std::chrono::milliseconds bound) { m_bufferWaitBound = bound; }
  bool ErrorReported() const { return m_errorReported != 0; }

 private:
  void OpenPort();

  OutputStream* m_stream;
  int m_errorReported;
  std::chrono::milliseconds m_bufferWaitBound;
  // The open output's stored name, or its label in the list when it was chosen by number.
  std::string m_strOutputName;
};

extern CMidiXmit* g_pMidiXmit;
