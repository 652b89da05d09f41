// MIDI output over the ALSA sequencer. Output devices are the writable, subscribable
// ports of the other clients (the system client excluded), named "client:port"; input
// devices are their readable, subscribable ports. Opening a device makes a client named
// "Quillmark" with one source port connected to the chosen port; QM_MIDI_MAPPER makes the
// port "Quillmark" unconnected, for any other program to connect to.
//
// Every message is handed to the sequencer at once, without blocking; a long message
// completes (QM_MOM_DONE, on the calling thread, inside LongMsg) when the sequencer took it.
// Without a sequencer the lists are empty, opens fail and nothing is printed.
#pragma once

#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "midi/MidiServices.h"

// Result codes of this backend.
inline constexpr MidiResult kAlsaNoSequencer = kBackendErrorBase + 0x101;
inline constexpr MidiResult kAlsaPortFailed = kBackendErrorBase + 0x102;
inline constexpr MidiResult kAlsaConnectFailed = kBackendErrorBase + 0x103;
inline constexpr MidiResult kAlsaSendFailed = kBackendErrorBase + 0x104;

class AlsaMidiServices final : public MidiServices {
 public:
  AlsaMidiServices();
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
  // QM_MIDIERR_NOTREADY when the sequencer's queue is full, kAlsaSendFailed otherwise.
  MidiResult ShortMsg(HMidiOut device, std::uint32_t message) override;
  MidiResult LongMsg(HMidiOut device, MidiHeader* header, unsigned size) override;
  // The device holds nothing: every long message completed inside LongMsg.
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

  std::mutex m_mutex;
  Snapshot m_snapshot;
  bool m_looked = false;
  std::set<int> m_ownClients;  // sequencer client numbers of our open devices
};
