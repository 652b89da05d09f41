// The Windows multimedia system's MIDI output (midiOut*): the system's device numbers,
// names and result codes, and its error texts. QM_MIDI_MAPPER opens the system's MIDI
// mapper.
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
  MidiResult Reset(HMidiOut device) override;
  // Resets, closes the device and ends its callbacks. Buffers the system has not handed
  // back within the return bound are never touched again: their device record is kept for the
  // rest of the run so that a late callback finds it.
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
