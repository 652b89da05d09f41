// One open JACK output device: its client and port, the process callback that writes
// what the caller queued, and the notifier thread that delivers completions and follows
// the server and the destination. JackMidiServices.h states what callers can rely on.
#pragma once

#include <jack/jack.h>

#include <array>
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <stop_token>
#include <string>
#include <thread>
#include <vector>

#include "midi/backends/SpscRing.h"
#include "midi/backends/jack/JackSupport.h"

namespace jackbackend {

class JackOutDevice final : public MidiOutDevice {
 public:
  JackOutDevice(MidiOutCallback callback, std::uintptr_t instance)
      : m_callback(callback),
        m_instance(instance),
        m_pipeWire(ServedByPipeWire()) {}
  ~JackOutDevice() override;

  // Client, port, notifier, activation, connection. Nothing calls back on failure.
  // client: one already open (the services' listing client) to use instead of opening
  // another; null to open one.
  MidiResult Start(const std::string& target, JackClientPtr client);

  const std::string& ClientName() const { return m_clientName; }

  MidiResult Send(const Outgoing& item);

  MidiResult Reset();

  MidiResult Close();

 private:
  // Opens the client and connects it; m_clientMutex held. On failure no client is left.
  MidiResult Connect();

  // Sending thread, producer role held. Replaces the client of a server that went away.
  MidiResult Revive();

  MidiResult ReviveClient(std::vector<MidiHeader*>& returned);

  // Connects the port to the destination again if the destination exists; m_clientMutex
  // held. False when it does not (or the client is gone).
  bool Reconnect();

  static int Process(jack_nframes_t frames, void* arg);

  // Realtime thread. A device port writes only while it is connected, and only once the
  // connection has settled: what goes out earlier reaches nobody. The virtual port is
  // the user's to connect: unconnected, it writes (to nobody, as a socket without a cable
  // would); a new connection settles first like any other.
  bool LinkCarriesData();

  // Realtime thread: consumer of m_toProcess, producer of m_done. A message completes one
  // cycle after it was written: only when that cycle has ended has the destination read
  // it, and a client closed earlier takes the cycle's data along (PipeWire drops it).
  void CompleteWritten();

  void WriteQueued(void* buffer);

  // A connection ends with the client, and PipeWire hands a cycle's data to the
  // destination only a cycle or two after it was written: closing at once would take the
  // last message along. Bounded; nothing to wait for after a quiet spell or without a
  // server.
  void LetLastWritesLeave();

  static void ServerShutdownInfo(jack_status_t, const char*, void* arg);
  static void ServerShutdown(void* arg);

  // A notification thread of libjack: a connection of our port came or went. A lost
  // connection to the destination (its program ended, or someone disconnected it) is
  // made again as soon as the destination is back.
  static void PortConnect(jack_port_id_t a, jack_port_id_t b, int connect, void* arg);

  // A notification thread of libjack: a port came (maybe the destination, back again).
  static void PortRegistration(jack_port_id_t id, int registered, void* arg);

  // Keeps the process callback away from the rings. False if it did not leave them in
  // time; the rings must not be touched then.
  bool Quiesce();

  // Wakes only for work: a completion, a stopped server, a lost or returning destination,
  // or the stop request.
  void NotifierMain(const std::stop_token& stop);

  void CloseDeadClient();

  void CloseClient();
  void StopNotifier();

  // Consumer of m_done: the notifier, or the closing thread once the notifier ended.
  void DeliverDone();

  // Consumer of m_toProcess while the process callback is kept away: returns every header
  // not yet written and drops short messages.
  // Like ReturnQueued, but hands the headers to the caller to return.
  void TakeQueued(std::vector<MidiHeader*>& headers);

  void ReturnQueued();

  void Complete(MidiHeader* header);

  void ForgetHeld();

  bool WaitUntilNothingHeld();

  const MidiOutCallback m_callback;
  const std::uintptr_t m_instance;
  const bool m_pipeWire;
  std::string m_target;  // empty for the virtual port
  SpscRing<Outgoing, kJackRingSlots> m_toProcess;
  SpscRing<MidiHeader*, kJackRingSlots> m_done;
  // Written in the last cycle, completing in the next; the consumer role's, like m_toProcess.
  std::array<MidiHeader*, kJackRingSlots> m_written{};
  std::size_t m_writtenCount = 0;
  Semaphore m_wake;
  std::atomic<bool> m_inProcess{false};
  std::atomic<bool> m_processBlocked{false};
  std::atomic<bool> m_gone{false};
  std::atomic<bool> m_destinationMissing{false};
  std::atomic<bool> m_relink{false};  // the destination came back: connect afresh
  std::atomic<const jack_port_t*> m_linkedPort{nullptr};  // the destination we connected to
  // Realtime thread only (a new client's callback starts after the old one's ended):
  // cycles, and since when, the port has been connected.
  int m_linkedCycles = 0;
  unsigned m_seenLinkEpoch = 0;
  std::atomic<unsigned> m_linkEpoch{0};  // counts connections made or lost
  std::atomic<std::uint64_t> m_cycle{0};
  std::atomic<std::uint64_t> m_lastWriteCycle{0};  // 0: nothing written yet
  std::atomic<Clock::rep> m_lastWriteNanoseconds{0};
  jack_time_t m_linkedSince = 0;
  std::atomic<jack_client_t*> m_notifyClient{nullptr};  // for the notification callbacks
  std::atomic<MidiResult> m_failure{0};  // the first failure the process callback met
  std::mutex m_producerMutex;          // callers of Send
  std::mutex m_consumerMutex;          // whoever returns the queue instead of the callback
  std::mutex m_heldMutex;
  std::condition_variable m_heldChanged;
  int m_held = 0;  // headers accepted and not yet returned
  std::string m_clientName;
  jack_port_t* m_port = nullptr;
  std::jthread m_notifier;
  std::mutex m_clientMutex;  // the notifier closes the client of a stopped server
  JackClientPtr m_client;    // last: closed first
};

}  // namespace jackbackend
