// A private JACK server with the dummy driver and a MIDI capture client, for the tests
// and benchmarks that watch bytes arrive over a real transport.
#pragma once

#include <sys/types.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "midi/MidiServices.h"
#include "midi/backends/SpscRing.h"

struct _jack_client;
struct _jack_port;

// A jackd process of our own: `jackd -n <name> ... -d dummy -p <period>`, its output in
// $TMPDIR/<name>.log. The constructor
// points JACK_DEFAULT_SERVER of this process at it, so every client of the process (our
// backend included) talks to this server and parallel test runs cannot meet.
class JackTestServer {
 public:
  explicit JackTestServer(unsigned periodFrames = 64);
  ~JackTestServer();
  JackTestServer(const JackTestServer&) = delete;
  JackTestServer& operator=(const JackTestServer&) = delete;

  // Starts jackd and waits (bounded) until it takes clients. False with a reason if not.
  bool Start(std::string& error);
  // SIGKILL, as a crash would; waits (bounded) for the process to end.
  void Kill();
  // SIGTERM, so the server gives back its slot in libjack's registry; SIGKILL if it does
  // not end in time. Close every client first.
  void Stop();
  const std::string& Name() const { return m_name; }

 private:
  explicit JackTestServer(std::string name);  // leaves JACK_DEFAULT_SERVER alone
  bool Launch(std::string& error);
  bool EndProcess(int signal);
  static void ReclaimAbandonedServers();
  std::string LogPath() const;
  std::string ReadLog() const;

  std::string m_name;
  unsigned m_period;
  pid_t m_pid = -1;
  bool m_abandoned = false;  // killed, its registry slot not yet given back
};

// A JACK client "qm-capture" with one MIDI input port "in" that keeps every event it
// receives, with the time its process callback saw it.
class JackCapture {
 public:
  struct Event {
    std::vector<std::uint8_t> bytes;
    std::chrono::steady_clock::time_point seen;
  };

  JackCapture();
  ~JackCapture();
  JackCapture(const JackCapture&) = delete;
  JackCapture& operator=(const JackCapture&) = delete;

  bool Open(std::string& error);
  void Close();
  std::string PortName() const;
  // The capture port's device number in the services' output list; -1 when not listed.
  std::int32_t DeviceIn(MidiServices& services) const;

  // Moves what the process callback received into Events(); returns how many there are.
  std::size_t Collect();
  // Collects until at least count events arrived or the timeout passed.
  bool WaitForEvents(std::size_t count, std::chrono::milliseconds timeout);
  const std::vector<Event>& Events() const { return m_events; }
  void ClearEvents() { m_events.clear(); }
  // Events the process callback had to drop because the test did not collect in time.
  unsigned Overflows() const { return m_overflows.load(); }

 private:
  struct Raw {
    std::uint16_t size;
    std::uint8_t bytes[512];
    std::int64_t seenNanoseconds;
  };
  static int Process(std::uint32_t frames, void* arg);

  struct ClientCloser {
    void operator()(_jack_client* client) const;
  };
  std::unique_ptr<SpscRing<Raw, 4096>> m_ring;
  std::atomic<unsigned> m_overflows{0};
  std::vector<Event> m_events;
  _jack_port* m_port = nullptr;
  std::unique_ptr<_jack_client, ClientCloser> m_client;  // last: closed first
};

// The bytes of a key's remote-key message (the reset message for "reset"), as the panel
// would send them with the target device ID of the installed settings.
std::vector<std::uint8_t> KeyMessageBytes(const char* keyName);
