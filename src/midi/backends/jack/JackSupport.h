// What the parts of the JACK backend share: bounds, names, the client handle, a
// semaphore a realtime thread may post, and what the caller hands to the process callback.
#pragma once

#include <jack/jack.h>
#include <semaphore.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <ctime>
#include <memory>
#include <string>

#include "midi/backends/jack/JackMidiServices.h"

namespace jackbackend {

using Clock = std::chrono::steady_clock;
// How long a reset or close waits for the realtime side or the notifier. A live server
// answers within a few periods; a dead one no longer touches our buffers at all.
inline constexpr auto kWaitBound = std::chrono::seconds(3);
// PipeWire's libjack reports a connection (jack_connect returns, jack_port_connected
// counts it) before its link carries data: both ends still negotiate buffers on their
// non-realtime threads, and what is written meanwhile is dropped without a trace. No JACK
// call tells when that is done, so a device port waits both a few cycles and a time
// that covers a busy machine's scheduling delays after the connection appears. Measured
// on two cores at a load of 10 with a 64-frame quantum: 15 ms lost 2 first messages in
// 100 runs, 60 ms none. jackd2 connects within jack_connect and needs neither.
inline constexpr int kPipeWireLinkSettleCycles = 4;
inline constexpr jack_time_t kPipeWireLinkSettleMicroseconds = 50'000;
// What one cycle may carry. jackd2 refuses an event that does not fit its port buffer;
// PipeWire accepts every jack_midi_event_write and then drops the whole cycle once its
// buffer of 32 KB (events and their 16-byte headers) overflows. Half of that keeps clear
// of both and still moves megabytes a second.
inline constexpr std::size_t kCycleByteBudget = 16 * 1024;
inline constexpr std::size_t kEventOverhead = 16;
// What a closing device lets pass after its last write (see LetLastWritesLeave): cycles,
// and under PipeWire also a time, for the same reason as above.
inline constexpr std::uint64_t kDrainCycles = 3;
inline constexpr auto kPipeWireDrainTime = std::chrono::milliseconds(25);

inline constexpr const char* kClientName = "Quillmark";
inline constexpr const char* kVirtualPortName = "Quillmark";
inline constexpr const char* kDevicePortName = "out";

inline void SilentJackMessage(const char*) {}

inline bool ServedByPipeWire() {
  static const bool pipeWire = std::strstr(jack_get_version_string(), "PipeWire") != nullptr;
  return pipeWire;
}

struct JackClientCloser {
  void operator()(jack_client_t* client) const { jack_client_close(client); }
};
using JackClientPtr = std::unique_ptr<jack_client_t, JackClientCloser>;

inline JackClientPtr OpenClient(MidiResult* failure) {
  jack_status_t status{};
  JackClientPtr client(jack_client_open(kClientName, JackNoStartServer, &status));
  if (!client && failure) {
    *failure = (status & JackServerFailed) ? kJackServerGone : kJackClientFailed;
  }
  return client;
}

inline std::string ClientPart(const std::string& portName) {
  return portName.substr(0, portName.find(':'));
}

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
  void TimedWait(std::chrono::nanoseconds timeout) {
    timespec deadline{};
    clock_gettime(CLOCK_REALTIME, &deadline);
    const auto total = deadline.tv_nsec + timeout.count();
    deadline.tv_sec += static_cast<time_t>(total / 1'000'000'000);
    deadline.tv_nsec = static_cast<long>(total % 1'000'000'000);
    while (sem_timedwait(&m_sem, &deadline) != 0 && errno == EINTR) {
    }
  }

 private:
  sem_t m_sem;
};

// Bytes of a packed short message, by its status byte; 0 for none.
inline std::size_t ShortMessageLength(std::uint8_t status) {
  if (status < 0x80 || status == 0xF0 || status == 0xF7) return 0;
  if (status < 0xF0) {
    const std::uint8_t kind = status & 0xF0;
    return (kind == 0xC0 || kind == 0xD0) ? 2 : 3;
  }
  if (status == 0xF1 || status == 0xF3) return 2;
  if (status == 0xF2) return 3;
  return 1;
}

// What the caller hands to the process callback: a long message's header, or a short
// message when the header is null.
struct Outgoing {
  MidiHeader* header;
  std::uint32_t shortMessage;
};

}  // namespace jackbackend
