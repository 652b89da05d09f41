// One open ALSA sequencer output: a client named "Quillmark" with one source port, a
// worker thread that hands messages to the sequencer at the speed of a MIDI wire, and,
// for a chosen destination, a watcher thread that learns from the system's announce port
// when that destination goes away.
//
// - A chosen destination: the connection made at open shows the destination that we
//   send to it; each event is addressed to the destination port itself, so one that went
//   away fails the write instead of the message going to nobody.
// - The virtual port: each event goes to every port now subscribed to ours, one by one.
//   The sequencer delivers a subscribers' event to all of them and returns only the first
//   error, so asking it again would repeat the message to those that took it; addressed
//   one by one, only the subscribers that did not take it are asked again. A subscriber
//   that went away meanwhile is passed over.
// - A receiver whose queue is full for the moment (-EAGAIN, or -ENOMEM from its pool) is
//   asked again after a short pause, a bounded number of times, before that becomes a
//   device error.
// - Pacing: the next message goes only when the wire time of the one before (320 us a
//   byte at 31250 bits/s) has passed: a hardware port's driver buffers 4 KB and drops what
//   overflows with no more than a kernel log line. A long message completes
//   (QM_MOM_DONE, param2 0, from the worker) when its wire time has passed.
// - Failure: the first refusal, or the destination's client or port leaving (or our
//   connection to it removed while the port is gone too), fails the device for good. At
//   that moment every header still queued comes back with the failure in param2, from the
//   thread that saw it, and QM_MOM_ERROR follows when none was queued; every later
//   ShortMsg or LongMsg fails with it. A destination that went away is kMidiOutputGone.
#pragma once

#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <stop_token>
#include <thread>
#include <vector>

#include "midi/MidiServices.h"
#include "midi/backends/alsa/AlsaApi.h"
#include "midi/backends/alsa/AlsaSequencer.h"

// Result codes of the ALSA backend.
inline constexpr MidiResult kAlsaNoSequencer = kBackendErrorBase + 0x101;
inline constexpr MidiResult kAlsaPortFailed = kBackendErrorBase + 0x102;
inline constexpr MidiResult kAlsaConnectFailed = kBackendErrorBase + 0x103;
inline constexpr MidiResult kAlsaSendFailed = kBackendErrorBase + 0x104;
inline constexpr MidiResult kAlsaPortBusy = kBackendErrorBase + 0x106;
inline constexpr MidiResult kAlsaReceiverFull = kBackendErrorBase + 0x107;

class AlsaOutDevice final : public MidiOutDevice {
 public:
  AlsaOutDevice(AlsaSystem& system, MidiOutCallback callback, std::uintptr_t instance);
  ~AlsaOutDevice() override;  // stops the threads

  // virtualPort: no destination, the port carries the program's name. kAlsaPortBusy,
  // kMidiOutputGone or kAlsaConnectFailed when the connection is refused.
  MidiResult Start(bool virtualPort, int destClient, int destPort);
  int Client() const { return m_client; }

  MidiResult Short(std::uint32_t message);
  MidiResult Long(MidiHeader* header);
  // Every header the device holds comes back (param2 0), the one whose wire time runs
  // included.
  MidiResult Reset();
  // Reset, then the threads end, the client closes and QM_MOM_CLOSE is the last callback.
  MidiResult Close();

 private:
  // One message for the wire: a long message's header, or a short message when it is null.
  struct Outgoing {
    MidiHeader* header;
    snd_seq_event_t event;
    std::size_t bytes;
    // Virtual port: the subscribers that have yet to take it, once looked up.
    bool subscribersKnown = false;
    std::vector<AlsaAddress> subscribers;
  };

  MidiResult Queue(Outgoing& item);
  void WorkerMain(const std::stop_token& stop);
  void WatcherMain(const std::stop_token& stop);
  // Hands the message on: 0 when every receiver took it, else the sequencer's refusal.
  int Deliver(Outgoing& item);
  bool DestinationLost(const AlsaAnnouncement& announcement);
  // Fails the device with result unless it failed already; m_mutex not held.
  void Fail(MidiResult result);
  void TakeHeld(std::vector<MidiHeader*>& held);
  void StopThreads();
  void Complete(MidiHeader* header, MidiResult result);

  AlsaSystem& m_system;
  const MidiOutCallback m_callback;
  const std::uintptr_t m_instance;
  std::unique_ptr<AlsaSequencer> m_seq;
  struct EncoderFree {
    void operator()(snd_midi_event_t* encoder) const { alsabackend::snd_midi_event_free(encoder); }
  };
  std::unique_ptr<snd_midi_event_t, EncoderFree> m_encoder;  // calling thread only
  int m_client = -1;
  int m_port = -1;
  bool m_virtual = false;
  AlsaAddress m_dest;
  std::mutex m_mutex;  // everything below
  std::condition_variable m_wake;
  std::deque<Outgoing> m_queue;
  MidiHeader* m_onWire = nullptr;  // sent, its wire time not yet over
  AlsaSystem::Clock::time_point m_wireFreeAt;
  MidiResult m_failure = 0;  // the first failure; every later call fails with it
  std::jthread m_watcher;
  std::jthread m_worker;  // last: stopped first
};
