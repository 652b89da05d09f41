// MIDI output over the ALSA sequencer. Output devices are the writable, subscribable
// ports of the other clients (the system client excluded), named "client:port"; input
// devices are their readable, subscribable ports. Opening a device makes a client named
// "Quillmark" with one source port connected to the chosen port; QM_MIDI_MAPPER makes the
// port "Quillmark" unconnected, for any other program to connect to.
//
// Messages are addressed to the destination port itself (the connection made at open
// stays, so the destination shows it), so a port that was unplugged or whose program
// ended fails the write instead of the message going to nobody; that failure is a device
// error (kAlsaPortGone), as are a port another program holds (kAlsaPortBusy) and a
// receiver that stops reading (kAlsaReceiverFull; a queue that is full for a moment is
// asked again). A device thread hands the messages to the sequencer one at a time, the
// next only when the wire time of the one before (320 us a byte at 31250 bits/s) has
// passed: a hardware port's driver buffers 4 KB and drops what overflows with no more
// than a kernel log line. Completion (QM_MOM_DONE, from that thread) therefore means
// "the sequencer took it and its wire time has passed", not "the unit received it",
// which the sequencer cannot tell. LongMsg never blocks; a failure is returned by the
// next call, and what was still queued comes back with Reset or Close.
// Without a sequencer the lists are empty, opens fail and nothing is printed.
#pragma once

#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "midi/MidiServices.h"
#include "midi/backends/alsa/AlsaSequencer.h"

// Result codes of this backend.
inline constexpr MidiResult kAlsaNoSequencer = kBackendErrorBase + 0x101;
inline constexpr MidiResult kAlsaPortFailed = kBackendErrorBase + 0x102;
inline constexpr MidiResult kAlsaConnectFailed = kBackendErrorBase + 0x103;
inline constexpr MidiResult kAlsaSendFailed = kBackendErrorBase + 0x104;
inline constexpr MidiResult kAlsaPortGone = kBackendErrorBase + 0x105;
inline constexpr MidiResult kAlsaPortBusy = kBackendErrorBase + 0x106;
inline constexpr MidiResult kAlsaReceiverFull = kBackendErrorBase + 0x107;

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
  // kAlsaPortGone or kAlsaConnectFailed when the connection is refused.
  // ShortMsg and LongMsg queue; they fail with the device error the sequencer gave before.
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
