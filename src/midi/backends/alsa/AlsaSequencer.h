// The few sequencer calls the ALSA backend makes, behind a seam, so tests can script the
// sequencer's answers (a port that was unplugged, one another program holds, a receiver
// whose queue is full, a destination that goes away) and run the wire-time pacing on a
// clock they control.
#pragma once

#include <alsa/asoundlib.h>

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

// One port of another client, as the sequencer lists it.
struct AlsaPortInfo {
  std::string clientName;
  std::string portName;
  int client = 0;
  int port = 0;
  unsigned capability = 0;  // SND_SEQ_PORT_CAP_*
};

struct AlsaAddress {
  int client = 0;
  int port = 0;
  bool operator==(const AlsaAddress&) const = default;
};

// What the system's announce port said, as far as a sender cares.
struct AlsaAnnouncement {
  enum class Kind {
    ClientExit,    // client: the client that ended, with all its ports
    PortExit,      // client, port: the port that was deleted
    Unsubscribed,  // sender and dest: the connection that was removed
    Overflow,      // announcements were lost: look again at what matters
  };
  Kind kind = Kind::Overflow;
  AlsaAddress addr;
  AlsaAddress sender;
  AlsaAddress dest;
};

// One open sequencer client. Results are the sequencer's: >= 0 or a negative errno.
// OutputDirect and Subscribers run on the device's worker thread, the announcement calls
// on its watcher thread, InterruptWait on any: libasound keeps its output and input
// buffers apart, and the rest are single ioctls.
class AlsaSequencer {
 public:
  AlsaSequencer() = default;
  AlsaSequencer(const AlsaSequencer&) = delete;
  AlsaSequencer& operator=(const AlsaSequencer&) = delete;
  virtual ~AlsaSequencer() = default;  // closes the client

  virtual int ClientId() = 0;
  virtual void SetClientName(const char* name) = 0;
  // A readable, subscribable MIDI port of this client; its number.
  virtual int CreateSourcePort(const char* name) = 0;
  // Subscribes the destination to our port.
  virtual int ConnectTo(int ourPort, int destClient, int destPort) = 0;
  // Hands one event to the sequencer at once, to the destination it names, without
  // blocking.
  virtual int OutputDirect(snd_seq_event_t& event) = 0;
  virtual void DrainOutput() = 0;
  // Every port of every client except the system client and this one.
  virtual std::vector<AlsaPortInfo> OtherPorts() = 0;
  // The ports now subscribed to our port; their number, or a negative errno.
  virtual int Subscribers(int ourPort, std::vector<AlsaAddress>& subscribers) = 0;
  // Whether the port exists now.
  virtual bool PortExists(AlsaAddress port) = 0;

  // Subscribes a private port of ours (one nobody else can connect to) to the system's
  // announce port, for client and port exits and removed connections. Needs a client
  // opened by AlsaSystem::OpenDevice.
  virtual int WatchAnnouncements() = 0;
  // Waits at most the bound for the next announcement: 1 with it filled in, 0 when the
  // bound ran out or InterruptWait was called (then every later wait returns 0 at once),
  // or a negative errno.
  virtual int NextAnnouncement(AlsaAnnouncement& announcement, std::chrono::milliseconds bound) = 0;
  virtual void InterruptWait() = 0;
};

// Opens sequencer clients, and the clock the pacing runs on.
class AlsaSystem {
 public:
  using Clock = std::chrono::steady_clock;
  AlsaSystem() = default;
  AlsaSystem(const AlsaSystem&) = delete;
  AlsaSystem& operator=(const AlsaSystem&) = delete;
  virtual ~AlsaSystem() = default;

  // Null when there is no sequencer. Open: a client that only looks and sends; OpenDevice:
  // one that can also watch the announcements.
  virtual std::unique_ptr<AlsaSequencer> Open() = 0;
  virtual std::unique_ptr<AlsaSequencer> OpenDevice() = 0;
  virtual Clock::time_point Now() = 0;
  // Waits on the condition until it is notified or the deadline passed (the lock held
  // on entry and on return).
  virtual void WaitUntil(std::condition_variable& condition, std::unique_lock<std::mutex>& lock,
                         Clock::time_point deadline) = 0;
};

// The machine's sequencer (libasound, "default") and the steady clock.
std::unique_ptr<AlsaSystem> CreateAlsaSystem();
