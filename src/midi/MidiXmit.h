// The program's one MIDI transmit port. It opens an output stream on demand on the
// device named by the settings, turns a byte string into SysEx events for the engine,
// releases the device when asked, and tells the user about device errors.
// User-interface thread only.
#pragma once

#include "midi/MidiServices.h"

struct OutputStream;

class CMidiXmit {
 public:
  // Option word of the port's stream: 81 SysEx buffers of 256 bytes, a queue of 256
  // events, SysEx through the buffer pool.
  static constexpr std::uint32_t kOpenOptions = 74321;
  static constexpr int kOpenErrorLocation = 45;
  static constexpr int kPutErrorLocation = 85;

  CMidiXmit();
  CMidiXmit(const CMidiXmit&) = delete;
  CMidiXmit& operator=(const CMidiXmit&) = delete;
  virtual ~CMidiXmit();

  // 1 when all count bytes were accepted by the engine, 0 otherwise.
  int Send(int count, const unsigned char* bytes);
  // 0 when no stream was open, otherwise the close result.
  int ReleasePort();
  void ReportError(MidiResult result, int location);

  bool IsOpen() const { return m_stream != nullptr; }
  bool ErrorReported() const { return m_errorReported != 0; }

 private:
  void OpenPort();

  OutputStream* m_stream;
  int m_errorReported;
};

extern CMidiXmit* g_pMidiXmit;
