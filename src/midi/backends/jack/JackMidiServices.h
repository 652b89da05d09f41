// MIDI output over a JACK server. Output devices are the MIDI input ports of the other
// clients of the server, named "client:port"; input devices are their MIDI output ports.
// The lists are read with a client named "Quillmark" (never a server), which stays open
// and becomes the device's client at the next open, so listing and sending take one
// client; opening a device gives that client one MIDI output port connected to the chosen
// port. QM_MIDI_MAPPER opens the port "Quillmark" unconnected, for any other program to
// connect to.
//
// Long and short messages reach the process callback through a lock-free ring. A long
// message completes (QM_MOM_DONE) only after the process callback has written it into the
// port buffer of a port whose link carries data, a cycle later: that is as far as JACK
// lets a client see, not the moment the destination read it. Nothing is written before a
// new link carries data: under jackd2 once the cycle's graph has it, under PipeWire once
// the destination has shown that it applied the link (JackConnections.cpp says how), or
// after kLinkSignalBound whatever happens. Nor is more written per cycle than every
// server takes (kCycleByteBudget); the rest waits for the next cycle. Close lets what it
// holds be written, and the last cycles' writes leave, before the connection goes with
// the client. Completions are delivered from a notifier thread of the device, which
// sleeps until there is work: never from the realtime thread, since the engine's callback
// takes a lock the user-interface thread holds while sending. After a QM_MOM_DONE whose
// bytes left, the header's reserved field holds the JACK frame time they were written at
// (what a test compares with the cycles the destination ran).
//
// Under PipeWire the client runs with jack.locked-process off (see OpenClient in
// JackSupport.h): no message is ever sent twice, however long a notification takes.
//
// Toward a port flagged JackPortIsPhysical (a hardware MIDI output: jackd's own ALSA MIDI
// driver, or a bridge) messages leave no faster than the MIDI wire carries them, 320 us a
// byte timed on JACK's frame clock, each at its own frame within the cycle, and a message
// completes once its last byte has left: an interface's buffer holds a few dozen
// messages, and a longer burst would reach the unit cut off while reported as sent.
// Software destinations take messages as fast as the cycles go.
//
// When the destination port goes away (its program ended, or it was disconnected), the
// device says so at once from its notifier: what it had not written yet (toward a
// physical port, also what had not all left) comes back with kMidiOutputGone, then
// QM_MOM_ERROR with kMidiOutputGone; later calls fail with kMidiOutputGone. Should a port
// of the destination's name register again, the device links to it as soon as it takes
// connections, and calls go through again.
//
// When the server stops (noticed within a cycle or so under jackd2 and PipeWire alike),
// the headers the device still held come back at once, those not yet written with
// kJackServerGone. The next call opens a client on the server running by then and
// connects again, so the first key after a restart goes out; without a server it fails
// with kJackServerGone.
#pragma once

#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "midi/MidiServices.h"

struct _jack_client;

// Result codes of this backend.
inline constexpr MidiResult kJackServerGone = kBackendErrorBase + 0x01;
inline constexpr MidiResult kJackClientFailed = kBackendErrorBase + 0x02;
inline constexpr MidiResult kJackPortFailed = kBackendErrorBase + 0x03;
inline constexpr MidiResult kJackConnectFailed = kBackendErrorBase + 0x04;
inline constexpr MidiResult kJackEventTooLarge = kBackendErrorBase + 0x05;
inline constexpr MidiResult kJackStuck = kBackendErrorBase + 0x06;

// Slots of the ring between the caller and the process callback. Larger than the engine's
// pool (81 buffers), so a LongMsg never finds it full in practice.
inline constexpr std::size_t kJackRingSlots = 256;

class JackMidiServices final : public MidiServices {
 public:
  JackMidiServices();
  ~JackMidiServices() override;

  // Counts take a fresh look at the server; names come from the last look (taken first
  // if there was none). Without a server both lists are empty.
  unsigned OutDeviceCount() override;
  bool OutDeviceName(unsigned device, std::string& name) override;
  unsigned InDeviceCount() override;
  bool InDeviceName(unsigned device, std::string& name) override;

  // Errors: QM_MMSYSERR_BADDEVICEID for a number outside the last look, kJackServerGone when
  // no server runs, kJackClientFailed, kJackPortFailed, kJackConnectFailed.
  MidiResult Open(HMidiOut* device, std::uint32_t deviceId, MidiOutCallback callback,
                std::uintptr_t instance) override;
  MidiResult PrepareHeader(HMidiOut device, MidiHeader* header, unsigned size) override;
  MidiResult UnprepareHeader(HMidiOut device, MidiHeader* header, unsigned size) override;
  // QM_MIDIERR_NOTREADY when the ring is full, kJackServerGone while no server runs,
  // kMidiOutputGone while the destination is missing.
  MidiResult ShortMsg(HMidiOut device, std::uint32_t message) override;
  MidiResult LongMsg(HMidiOut device, MidiHeader* header, unsigned size) override;
  // Drops what has not been written yet and returns every held header; bounded.
  MidiResult Reset(HMidiOut device) override;
  // Deactivates and closes the client first, then returns every held header, then
  // QM_MOM_CLOSE. Bounded.
  MidiResult Close(HMidiOut device) override;
  // QM_MMSYSERR_BADDEVICEID gets the text of kJackServerGone when the last look found no
  // server: the number was out of range because the server's ports were missing.
  std::string ErrorText(MidiResult result) override;
  // The text of kJackServerGone when a server this process has seen is gone; otherwise
  // the general one.
  std::string NoOutputsText() override;
  // A server runs (as of the last look; one is taken first if there was none).
  bool VirtualOutputAvailable() override;

 private:
  struct Snapshot {
    std::vector<std::string> outputs;  // ports we can send to
    std::vector<std::string> inputs;   // ports that send
    bool serverRunning = false;
  };
  Snapshot Look();
  // The client the lists are read with, opened when there is none (null without a
  // server); m_mutex held.
  _jack_client* ListingClient();
  static void ListingServerShutdown(void* arg);
  // The listing client after a report that its server stopped; m_mutex held.
  void DropGoneLister();

  struct ClientCloser {
    void operator()(_jack_client* client) const;
  };
  std::mutex m_mutex;
  std::unique_ptr<_jack_client, ClientCloser> m_lister;
  std::atomic<bool> m_listerGone{false};
  Snapshot m_snapshot;
  bool m_looked = false;
  bool m_seenServer = false;  // some look of this process found a server
  std::set<std::string> m_ownClients;  // client names of our open devices
};

// Tests: every notification callback of a device (connections, port registrations, the
// server's end) first sleeps this long, as a loaded machine may hold it up; 0 (the
// default) for none.
void SetJackNotificationDelayForTests(std::chrono::microseconds delay);
