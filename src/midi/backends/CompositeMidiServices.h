// One device list over several backends: device numbers run over the first backend's
// devices, then the next one's, in the order the backends were added. QM_MIDI_MAPPER goes to
// the first backend whose virtual port is available. Handles and callbacks are the
// composite's own, so the engine never sees which backend serves a device.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "midi/MidiServices.h"

class CompositeMidiServices final : public MidiServices {
 public:
  // virtualPortAvailable: whether this backend can open QM_MIDI_MAPPER right now; null means
  // always. transport: how the user knows the backend ("JACK", "ALSA"); it follows each of
  // its devices' names in their labels.
  void Add(std::unique_ptr<MidiServices> backend, std::function<bool()> virtualPortAvailable = {},
           std::string transport = {});

  // A fresh look at every backend.
  unsigned OutDeviceCount() override;
  // Numbers as of the last count (one is taken first if there was none).
  bool OutDeviceName(unsigned device, std::string& name) override;
  // "<name> (<transport>)": the same port reached through two transports (as PipeWire
  // offers it) gets two labels.
  bool OutDeviceLabel(unsigned device, std::string& label) override;
  unsigned InDeviceCount() override;
  bool InDeviceName(unsigned device, std::string& name) override;

  // Takes a fresh look first, so a number means the device at that place now.
  MidiResult Open(HMidiOut* device, std::uint32_t deviceId, MidiOutCallback callback,
                std::uintptr_t instance) override;
  MidiResult PrepareHeader(HMidiOut device, MidiHeader* header, unsigned size) override;
  MidiResult UnprepareHeader(HMidiOut device, MidiHeader* header, unsigned size) override;
  MidiResult ShortMsg(HMidiOut device, std::uint32_t message) override;
  MidiResult LongMsg(HMidiOut device, MidiHeader* header, unsigned size) override;
  MidiResult Reset(HMidiOut device) override;
  MidiResult Close(HMidiOut device) override;
  // A backend's own code gets that backend's text. QM_MMSYSERR_BADDEVICEID gets the text of
  // a backend that now lists fewer outputs than before (its own reason, else the text for
  // an output that went away), else that of a backend that knows why its list is short.
  std::string ErrorText(MidiResult result) override;
  // A backend that knows better why there is no output at all (a JACK server that
  // stopped) gives the text; otherwise the general one.
  std::string NoOutputsText() override;
  // A backend whose virtual port is available and whose transport is there.
  bool VirtualOutputAvailable() override;

 private:
  struct Backend {
    std::unique_ptr<MidiServices> services;
    std::function<bool()> virtualPortAvailable;
    std::string transport;
    unsigned outCount = 0;
    unsigned inCount = 0;
    unsigned mostOut = 0;  // the most outputs it has listed in this run
  };
  // Finds the backend and its own number for a composite number.
  Backend* Locate(unsigned device, bool output, unsigned& local);

  std::vector<Backend> m_backends;
  bool m_countedOut = false;
  bool m_countedIn = false;
};
