// MIDI output over the ALSA sequencer. Output devices are the writable, subscribable
// ports of the other clients (the system client excluded), named "client:port"; input
// devices are their readable, subscribable ports. Opening a device makes a client named
// "Quillmark" with one source port connected to the chosen port (and a private one, listed
// nowhere, for the system's announcements); QM_MIDI_MAPPER makes the port "Quillmark"
// unconnected, for any other program to connect to.
//
// How messages leave, and how a destination that goes away is reported, is
// AlsaOutDevice's (AlsaOutDevice.h). LongMsg never blocks.
//
// Without a sequencer the lists are empty, opens fail and nothing is printed.
#pragma once

#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "midi/MidiServices.h"
#include "midi/backends/alsa/AlsaOutDevice.h"
#include "midi/backends/alsa/AlsaSequencer.h"

class AlsaMidiServices final : public MidiServices {
 public:
  AlsaMidiServices();  // the machine's sequencer
  explicit AlsaMidiServices(std::unique_ptr<AlsaSystem> system);
  ~AlsaMidiServices() override;

  // True when the sequencer can be opened.
  bool HasSequencer();

  // Counts take a fresh look at the sequencer; names come from the last look.
  unsigned OutDeviceCount() override;
  bool OutDeviceName(unsigned device, std::string& name) override;
  unsigned InDeviceCount() override;
  bool InDeviceName(unsigned device, std::string& name) override;

  MidiResult Open(HMidiOut* device, std::uint32_t deviceId, MidiOutCallback callback,
                std::uintptr_t instance) override;
  MidiResult PrepareHeader(HMidiOut device, MidiHeader* header, unsigned size) override;
  MidiResult UnprepareHeader(HMidiOut device, MidiHeader* header, unsigned size) override;
  // Open: a fresh look first (numbers mean the ports as they are now); kAlsaPortBusy,
  // kMidiOutputGone or kAlsaConnectFailed when the connection is refused.
  // ShortMsg and LongMsg queue; they fail with the device's failure once it has one.
  MidiResult ShortMsg(HMidiOut device, std::uint32_t message) override;
  MidiResult LongMsg(HMidiOut device, MidiHeader* header, unsigned size) override;
  // Returns every header the device holds, the one whose wire time runs included.
  MidiResult Reset(HMidiOut device) override;
  MidiResult Close(HMidiOut device) override;
  std::string ErrorText(MidiResult result) override;

 private:
  struct Port {
    std::string name;
    int client;
    int port;
  };
  struct Snapshot {
    std::vector<Port> outputs;
    std::vector<Port> inputs;
  };
  Snapshot Look();

  std::unique_ptr<AlsaSystem> m_system;
  std::mutex m_mutex;
  Snapshot m_snapshot;
  bool m_looked = false;
  std::set<int> m_ownClients;  // sequencer client numbers of our open devices
};
