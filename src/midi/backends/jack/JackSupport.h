// What the parts of the JACK backend share: bounds, names, the client handle, a
// semaphore a realtime thread may post, and what the caller hands to the process callback.
#pragma once

#include "midi/backends/jack/JackApi.h"
#include <semaphore.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <ctime>
#include <memory>
#include <string>

#include "midi/backends/jack/JackMidiServices.h"

namespace jackbackend {

using Clock = std::chrono::steady_clock;
// How long a reset or close waits for the realtime side or the notifier. A live server
// answers within a few periods; a dead one no longer touches our buffers at all.
inline constexpr auto kWaitBound = std::chrono::seconds(3);
// How long a new PipeWire link may take to show that the destination applied it (see
// JackOutDevice::FollowLinks) before the device writes anyway. Setting up a link takes a
// few milliseconds; this is a safety net for a lost notification, not a wait anyone sees.
inline constexpr auto kLinkSignalBound = std::chrono::seconds(2);
// The timed wait the signal replaced, for a link the probe port cannot reach: a few cycles
// and a time that covers a busy machine's scheduling delays. Measured on two cores at a
// load of 10 with a 64-frame quantum: 15 ms lost 2 first messages in 100 runs, 60 ms none.
inline constexpr std::uint64_t kLinkSettleCycles = 4;
inline constexpr auto kLinkSettleTime = std::chrono::milliseconds(50);
// How long, and how often, a destination that registered again is tried while it does not
// take connections yet (a client is announced before it is active).
inline constexpr auto kRelinkRetryTime = std::chrono::seconds(2);
inline constexpr auto kRelinkRetryInterval = std::chrono::milliseconds(20);
// What one cycle may carry. jackd2 refuses an event that does not fit its port buffer;
// PipeWire accepts every jack_midi_event_write and then drops the whole cycle once its
// buffer of 32 KB (events and their 16-byte headers) overflows. Half of that keeps clear
// of both and still moves megabytes a second.
inline constexpr std::size_t kCycleByteBudget = 16 * 1024;
inline constexpr std::size_t kEventOverhead = 16;
// A byte on the MIDI wire: 10 bits at 31250 baud.
inline constexpr std::uint64_t kWireMicrosecondsPerByte = 320;
// What a closing device lets pass after its last write (see LetLastWritesLeave): cycles,
// and under PipeWire also a time, since it hands a cycle's data over a little later.
inline constexpr std::uint64_t kDrainCycles = 3;
inline constexpr auto kPipeWireDrainTime = std::chrono::milliseconds(25);

inline constexpr const char* kClientName = "Quillmark";
inline constexpr const char* kVirtualPortName = "Quillmark";
inline constexpr const char* kDevicePortName = "out";
inline constexpr const char* kProbePortName = "link-probe";

// A JACK port id, as the notification callbacks name ports; kNoPort for none.
using PortId = std::uint32_t;
inline constexpr PortId kNoPort = 0xFFFFFFFFu;
PortId IdOf(const jack_port_t* port);

void SilentJackMessage(const char*);
bool ServedByPipeWire();

struct JackClientCloser {
  void operator()(jack_client_t* client) const { jack_client_close(client); }
};
using JackClientPtr = std::unique_ptr<jack_client_t, JackClientCloser>;

// A client named kClientName on the running server. Under PipeWire it runs its process
// callback without the lock that libjack otherwise holds around every notification
// callback: while that lock is taken, libjack skips our process callback but still sends
// our port's buffer, which only that callback clears, so the last cycle's messages would
// go out again.
JackClientPtr OpenClient(MidiResult* failure);
// What OpenClient asks of PipeWire, asked at once (it changes the environment: as early
// as possible, while few threads run).
void AskPipeWireForAnUnlockedProcessCallback();

std::string ClientPart(const std::string& portName);

// The test seam of SetJackNotificationDelayForTests: called first by every notification
// callback of a device.
void DelayNotificationForTests();

// A counting semaphore that a realtime thread may post.
class Semaphore {
 public:
  Semaphore() { sem_init(&m_sem, 0, 0); }
  ~Semaphore() { sem_destroy(&m_sem); }
  Semaphore(const Semaphore&) = delete;
  Semaphore& operator=(const Semaphore&) = delete;

  void Post() { sem_post(&m_sem); }
  void Wait() {
    while (sem_wait(&m_sem) != 0 && errno == EINTR) {
    }
  }
  // Waits until posted or the deadline (of Clock) passed.
  void WaitUntil(Clock::time_point deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::nanoseconds>(deadline - Clock::now());
    if (left.count() <= 0) return;
    timespec until{};
    clock_gettime(CLOCK_MONOTONIC, &until);
    const auto total = until.tv_nsec + left.count();
    until.tv_sec += static_cast<time_t>(total / 1'000'000'000);
    until.tv_nsec = static_cast<long>(total % 1'000'000'000);
    while (sem_clockwait(&m_sem, CLOCK_MONOTONIC, &until) != 0 && errno == EINTR) {
    }
  }

 private:
  sem_t m_sem;
};

// Bytes of a packed short message, by its status byte; 0 for none.
std::size_t ShortMessageLength(std::uint8_t status);

// What the caller hands to the process callback: a long message's header, or a short
// message when the header is null.
struct Outgoing {
  MidiHeader* header;
  std::uint32_t shortMessage;
};

}  // namespace jackbackend
