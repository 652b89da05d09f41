// The few sequencer calls the ALSA backend makes, behind a seam, so tests can script the
// sequencer's answers (a port that was unplugged, one another program holds, a receiver
// whose queue is full) and run the wire-time pacing on a clock they control.
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

// One open sequencer client. Results are the sequencer's: >= 0 or a negative errno.
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
  // Hands one event to the sequencer at once, without blocking.
  virtual int OutputDirect(snd_seq_event_t& event) = 0;
  virtual void DrainOutput() = 0;
  // Every port of every client except the system client and this one.
  virtual std::vector<AlsaPortInfo> OtherPorts() = 0;
};

// Opens sequencer clients, and the clock the pacing runs on.
class AlsaSystem {
 public:
  using Clock = std::chrono::steady_clock;
  AlsaSystem() = default;
  AlsaSystem(const AlsaSystem&) = delete;
  AlsaSystem& operator=(const AlsaSystem&) = delete;
  virtual ~AlsaSystem() = default;

  // Null when there is no sequencer.
  virtual std::unique_ptr<AlsaSequencer> Open() = 0;
  virtual Clock::time_point Now() = 0;
  // Waits on the condition until it is notified or the deadline passed (the lock held
  // on entry and on return).
  virtual void WaitUntil(std::condition_variable& condition, std::unique_lock<std::mutex>& lock,
                         Clock::time_point deadline) = 0;
};

// The machine's sequencer (libasound, "default") and the steady clock.
std::unique_ptr<AlsaSystem> CreateAlsaSystem();
