// One open JACK output device: its client and ports, the process callback that writes
// what the caller queued, and the notifier thread that delivers completions and follows
// the server and the destination. JackMidiServices.h states what callers can rely on.
//
// Threads and roles:
// - the caller (the user-interface thread) produces into m_toProcess: Send;
// - the realtime thread consumes m_toProcess and produces into m_done: Process. Reset,
//   a revival and the notifier take that consumer role over under m_consumerMutex, after
//   keeping the callback away (Quiesce);
// - libjack's notification thread runs PortConnect, PortRegistration and the shutdown
//   callbacks, which only store atomics, queue a LinkEvent and post m_wake: they never
//   block, allocate or call into libjack, so they hold up nothing of libjack's;
// - the notifier consumes m_done and the link events and makes every libjack call that
//   follows the destination (FollowLinks), under m_clientMutex. Completions and errors
//   are delivered with no lock of ours held: the engine's callback takes a lock that the
//   user-interface thread holds while it sends.
#pragma once

#include <jack/jack.h>

#include <array>
#include <atomic>
#include <condition_variable>
#include <memory>
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
      : m_callback(callback), m_instance(instance), m_pipeWire(ServedByPipeWire()) {}
  ~JackOutDevice() override;

  // Client, ports, notifier, activation, connection. Nothing calls back on failure.
  // client: one already open (the services' listing client) to use instead of opening
  // another; null to open one.
  MidiResult Start(const std::string& target, JackClientPtr client);

  const std::string& ClientName() const { return m_clientName; }

  MidiResult Send(const Outgoing& item);
  MidiResult Reset();
  MidiResult Close();

 private:
  // ---- Client and server life (JackOutDevice.cpp).
  // Opens the client, registers the ports and connects them; m_clientMutex held. On
  // failure no client is left.
  MidiResult Connect();
  // Sending thread, producer role held. Replaces the client of a server that went away.
  MidiResult Revive();
  MidiResult ReviveClient(std::vector<MidiHeader*>& written, std::vector<MidiHeader*>& unsent);
  static void ServerShutdownInfo(jack_status_t, const char*, void* arg);
  static void ServerShutdown(void* arg);
  // Wakes only for work: a completion, a stopped server, news of a link or the
  // destination, a deadline of FollowLinks, or the stop request.
  void NotifierMain(const std::stop_token& stop);
  // Notifier: returns what the dead server's client held.
  void FollowStoppedServer();
  // After a report that the server stopped: whether the client is still served after all;
  // m_clientMutex held.
  bool StillServed();
  void CloseClient();
  void StopNotifier();
  // Keeps the process callback away from the rings. False if it did not leave them in
  // time; the rings must not be touched then.
  bool Quiesce();
  // Consumer of m_done: the notifier, or the closing thread once the notifier ended.
  void DeliverDone();
  // Consumer role held, the process callback kept away: takes the headers written and
  // waiting for their cycle to end (when written is not null) and those not yet written,
  // and drops short messages.
  void TakeQueued(std::vector<MidiHeader*>* written, std::vector<MidiHeader*>& unsent);
  // Notifier: hands back with failure whatever waits in m_toProcess, and with written
  // also what the process callback wrote: as sent, since a cycle took it (toward a paced
  // destination only when its last byte has left by now, else with failure). Nothing
  // when another thread holds the consumer role (it returns the queue itself then).
  void ReturnHeld(MidiResult failure, bool written);
  // Closing thread, every JACK thread of ours ended: returns everything still held.
  void ReturnQueued();
  // failure: 0 when the bytes left, else why they never will.
  void Complete(MidiHeader* header, MidiResult failure = 0);
  void ForgetHeld();
  bool WaitUntilNothingHeld();

  // ---- The connection to the destination (JackConnections.cpp).
  struct LinkEvent {
    enum Kind : std::uint8_t { kLinked, kUnlinked, kProbed, kTargetUnregistered } kind;
    PortId peer;
  };
  // A new link of the device port waits for the destination to apply it (see FollowLinks).
  struct PendingLink {
    PortId peer = kNoPort;
    bool linked = false;  // the link of our port is reported; else still awaited
    bool probed = false;  // the probe port was connected to the peer
    Clock::time_point deadline;
    std::uint64_t settleCycle = 0;  // with a deadline of the timed wait: cycles as well
  };
  static void PortConnect(jack_port_id_t a, jack_port_id_t b, int connect, void* arg);
  static void PortRegistration(jack_port_id_t id, int registered, void* arg);
  void PostLinkEvent(LinkEvent event);
  // A new client: no link, no pending news. m_clientMutex held.
  void ForgetLinks();
  // Connects the device port to m_target; m_clientMutex held. False when it could not.
  bool LinkTarget();
  // Notifier, m_clientMutex taken here: reads the link events, notices a destination
  // that went away, links one that came back, and lets the process callback write once
  // every new link carries data. Returns when it wants to run again without news.
  Clock::time_point FollowLinks();
  // m_clientMutex held, from here on as in FollowLinks.
  void AwaitData(PortId peer, bool linked);
  void ProbeAnswered(PortId peer);
  void ForgetPending(std::size_t index);
  Clock::time_point ExpirePending(Clock::time_point now);
  bool TargetStillLinked();
  void CheckPendingAfterLostNews();
  void LoseDestination();
  void TryRelink();
  void UpdateWritable();

  // ---- The realtime side (JackProcess.cpp).
  static int Process(jack_nframes_t frames, void* arg);
  // Realtime thread: under jackd2, whether this cycle's graph has the device port's link.
  bool LinkInGraph() const;
  // Realtime thread: the frame time of this cycle's start, in 64 bits.
  void AdvanceFrameClock();
  // Realtime thread: consumer of m_toProcess, producer of m_done. A message completes
  // one cycle after it was written, and toward a paced destination only once its last
  // byte has left on the wire: only then has the destination read it, and a client
  // closed earlier takes the cycle's data along (PipeWire drops it).
  void CompleteWritten();
  void WriteQueued(void* buffer, jack_nframes_t frames);
  // A connection ends with the client, and PipeWire hands a cycle's data to the
  // destination only a cycle or two after it was written: closing at once would take the
  // last message along. Bounded; nothing to wait for after a quiet spell or without a
  // server.
  void LetLastWritesLeave();

  enum LinkState : int { kLinkUp, kLinkMissing };
  struct Written {
    MidiHeader* header;
    std::uint64_t cycle;     // m_cycle of the write
    std::uint64_t dueFrame;  // paced: the frame its last byte has left by; else 0
  };

  const MidiOutCallback m_callback;
  const std::uintptr_t m_instance;
  const bool m_pipeWire;
  std::string m_target;  // empty for the virtual port
  SpscRing<Outgoing, kJackRingSlots> m_toProcess;
  SpscRing<MidiHeader*, kJackRingSlots> m_done;
  Semaphore m_wake;
  std::atomic<bool> m_inProcess{false};
  std::atomic<bool> m_processBlocked{false};
  std::atomic<bool> m_gone{false};
  std::atomic<MidiResult> m_failure{0};  // the first failure the process callback met
  std::atomic<std::uint64_t> m_cycle{0};
  std::atomic<std::uint64_t> m_lastWriteCycle{0};  // 0: nothing written yet
  std::atomic<Clock::rep> m_lastWriteNanoseconds{0};

  // The realtime side's own, like the consumer role of m_toProcess.
  std::array<Written, kJackRingSlots> m_written{};  // oldest first, from m_writtenHead
  std::size_t m_writtenHead = 0;
  std::size_t m_writtenCount = 0;
  // What each client's process callback is given: a revived device's old client may run a
  // last cycle after the new one started. Kept for the device's life.
  struct ProcessContext {
    JackOutDevice* device;
    jack_client_t* client;
    jack_port_t* port;
  };
  std::vector<std::unique_ptr<ProcessContext>> m_processContexts;  // under m_clientMutex
  std::atomic<jack_client_t*> m_rtClient{nullptr};  // the client whose callback may act
  bool m_frameClockStarted = false;
  jack_nframes_t m_lastFrame = 0;
  std::uint64_t m_frameTime = 0;
  std::uint64_t m_wireFree = 0;  // in millionths of a frame: when the wire is free again

  // Shared with the realtime side and the notification callbacks.
  std::atomic<bool> m_writable{false};  // every link carries data: the process callback writes
  std::atomic<bool> m_paced{false};     // the destination is a physical port
  std::atomic<int> m_linkState{kLinkUp};
  std::atomic<PortId> m_ourId{kNoPort};
  std::atomic<PortId> m_probeId{kNoPort};
  std::atomic<PortId> m_targetId{kNoPort};
  std::atomic<PortId> m_lostTargetId{kNoPort};  // the destination's port before it was lost
  std::atomic<bool> m_portRegistered{false};
  SpscRing<LinkEvent, 64> m_linkEvents;
  std::atomic_flag m_linkEventsBusy = ATOMIC_FLAG_INIT;  // the producer side of m_linkEvents
  std::atomic<bool> m_linkEventsLost{false};
  std::atomic<bool> m_reportGone{false};
  std::atomic<unsigned> m_handOver{0};  // stepped after a push and after a device's end

  // The notifier's (and a new client's), under m_clientMutex.
  std::array<PendingLink, 8> m_pending{};
  std::size_t m_pendingCount = 0;
  bool m_targetLeft = false;  // the destination's port was unregistered, not just unlinked
  Clock::time_point m_relinkUntil{};

  std::mutex m_producerMutex;  // callers of Send
  std::mutex m_consumerMutex;  // whoever returns the queue instead of the callback
  std::mutex m_heldMutex;
  std::condition_variable m_heldChanged;
  int m_held = 0;  // headers accepted and not yet returned
  std::string m_clientName;
  jack_port_t* m_port = nullptr;
  jack_port_t* m_probe = nullptr;  // PipeWire only
  std::jthread m_notifier;
  std::mutex m_clientMutex;  // the client and every libjack call outside the callbacks
  JackClientPtr m_client;    // last: closed first
};

}  // namespace jackbackend
