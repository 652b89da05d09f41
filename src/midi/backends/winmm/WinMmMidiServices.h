// The Windows multimedia system's MIDI output (midiOut*): the system's device numbers,
// names and result codes, and its error texts. QM_MIDI_MAPPER opens the system's MIDI
// mapper.
//
// A long message goes to the system as a copy in a header of ours, prepared for exactly
// its bytes and unprepared once the system has handed it back (the system forbids
// changing a prepared header's data or length, and the caller's buffers change length
// from message to message). The system thus never holds the caller's memory: a buffer it
// keeps past a reset or a close that gave up waiting is ours, never freed or unprepared
// while it holds it, and the caller gets its header back all the same.
#pragma once

#include <chrono>

#include "midi/MidiServices.h"

struct WinMmApi;

class WinMmMidiServices final : public MidiServices {
 public:
  // How long Reset and Close wait for the system to hand back the buffers it holds.
  static constexpr std::chrono::milliseconds kReturnBound{3000};

  // Over the system's functions.
  WinMmMidiServices();
  // Over a table of functions standing in for the system's (tests), with its own bound.
  WinMmMidiServices(const WinMmApi& api, std::chrono::milliseconds returnBound);

  unsigned OutDeviceCount() override;
  // Names in UTF-8.
  bool OutDeviceName(unsigned device, std::string& name) override;
  unsigned InDeviceCount() override;
  bool InDeviceName(unsigned device, std::string& name) override;

  MidiResult Open(HMidiOut* device, std::uint32_t deviceId, MidiOutCallback callback,
                  std::uintptr_t instance) override;
  MidiResult PrepareHeader(HMidiOut device, MidiHeader* header, unsigned size) override;
  MidiResult UnprepareHeader(HMidiOut device, MidiHeader* header, unsigned size) override;
  MidiResult ShortMsg(HMidiOut device, std::uint32_t message) override;
  MidiResult LongMsg(HMidiOut device, MidiHeader* header, unsigned size) override;
  // Resets the device, then waits (at most the return bound) until every buffer is back.
  // Headers whose copies the system still holds then come back with
  // QM_MIDIERR_STILLPLAYING in param2, and so does the reset.
  MidiResult Reset(HMidiOut device) override;
  // Resets as above, closes the device and ends its callbacks. Copies the system has not
  // handed back are never touched again: the device record and they are kept for the rest
  // of the run, so that a late callback or a late read finds them.
  MidiResult Close(HMidiOut device) override;
  // The system's text (midiOutGetErrorText) for its codes, in UTF-8.
  std::string ErrorText(MidiResult result) override;
  // Device -1 is the system's MIDI mapper, which needs no entry in a list of its own, and
  // with no device at all the system's text for the stored number says so.
  std::string VirtualOutputLabel() override { return {}; }
  std::string NoOutputsText() override { return {}; }

 private:
  const WinMmApi& m_api;
  std::chrono::milliseconds m_returnBound;
};
