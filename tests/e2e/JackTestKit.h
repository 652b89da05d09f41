// A private JACK server with the dummy driver and a MIDI capture client, for the tests
// and benchmarks that watch bytes arrive over a real transport.
#pragma once

#include <sys/types.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "midi/MidiServices.h"
#include "midi/backends/SpscRing.h"

struct _jack_client;
struct _jack_port;

// A JACK server of our own, for this process and the programs it starts. Which one is
// chosen by the environment, so the same tests run against both:
// - jackd2 (default): `jackd -n <name> ... -d dummy -p <period>`. JACK_DEFAULT_SERVER of
//   this process points at it. Names come from a small pool, each held by a lock file
//   for the server's lifetime: libjack keeps one registry slot per server name (8 in
//   all) and a killed server's slot is given back only when a server of the same name
//   starts again, so reusing names never leaves slots behind, whatever ended a run.
// - PipeWire's JACK (QUILLMARK_JACK_SERVER=pipewire, with PipeWire's libjack on the
//   library path): `pipewire -c <our config>` in a private runtime folder, headless,
//   with one dummy driver; PIPEWIRE_RUNTIME_DIR and PIPEWIRE_REMOTE of this process
//   point at it.
// The server's output goes to $TMPDIR/<name>.log.
class JackTestServer {
 public:
  explicit JackTestServer(unsigned periodFrames = 64);
  ~JackTestServer();
  JackTestServer(const JackTestServer&) = delete;
  JackTestServer& operator=(const JackTestServer&) = delete;

  // True when the tests run against PipeWire's JACK.
  static bool PipeWire();

  // Starts the server and waits (bounded) until it takes clients. False with a reason.
  bool Start(std::string& error);
  // SIGKILL, as a crash would; waits (bounded) for the process to end.
  void Kill();
  // SIGTERM, so the server gives back what it holds; SIGKILL if it does not end in time.
  // Close every client first.
  void Stop();
  const std::string& Name() const { return m_name; }

 private:
  explicit JackTestServer(std::string name);  // a stale name, started to give its slot back
  bool ClaimName(std::string& error);
  bool Launch(std::string& error);
  bool EndProcess(int signal);
  static void ReclaimAbandonedServers();
  std::string LogPath() const;
  std::string ReadLog() const;

  std::string m_name;
  unsigned m_period;
  pid_t m_pid = -1;
  int m_nameLock = -1;       // jackd2: the lock file that holds m_name
  std::set<std::string> m_triedNames;  // jackd2: names this server has held
  std::string m_runtimeDir;  // PipeWire: the private runtime folder
  bool m_abandoned = false;  // killed, its registry slot not yet given back
};

// A JACK client "qm-capture" with one MIDI input port "in" that keeps every event it
// receives, with the time its process callback saw it and the frame it arrived at, and
// the cycles the server ran without it.
class JackCapture {
 public:
  struct Event {
    std::vector<std::uint8_t> bytes;
    std::chrono::steady_clock::time_point seen;
    std::uint32_t frame;  // JACK frame time: the cycle's first frame plus the event's offset
  };

  JackCapture();
  ~JackCapture();
  JackCapture(const JackCapture&) = delete;
  JackCapture& operator=(const JackCapture&) = delete;

  // physical: the port is flagged JackPortIsPhysical, as a hardware MIDI output's is.
  bool Open(std::string& error, bool physical = false);
  void Close();
  std::string PortName() const;
  // The capture port's device number in the services' output list, waiting (bounded)
  // until the list shows it: PipeWire announces a new port to other clients a little
  // later. A listed name may carry a suffix after a space. -1 when it never shows.
  std::int32_t DeviceIn(MidiServices& services) const;

  // Moves what the process callback received into Events(); returns how many there are.
  std::size_t Collect();
  // Collects until at least count events arrived or the timeout passed.
  bool WaitForEvents(std::size_t count, std::chrono::milliseconds timeout);
  const std::vector<Event>& Events() const { return m_events; }
  void ClearEvents() { m_events.clear(); }
  // Events the process callback had to drop because the test did not collect in time.
  unsigned Overflows() const { return m_overflows.load(); }
  // Cycles the server reported late to this client (xruns) since it opened.
  unsigned Xruns() const { return m_xruns.load(); }
  // Cycles the server ran without running this client's process callback on time (its
  // frame time jumped past them), as collected so far; and whether a message written at
  // this frame time went out in one of them (the frame time as its writer read it, which
  // may be a period ahead: a cycle run late reads the next one's).
  std::uint64_t SkippedCycles() const { return m_skippedCycles; }
  bool Skipped(std::uint32_t frame) const;
  // Waits (bounded) until the process callback has run this many more times: what was
  // written before has reached the capture by then, or never will.
  bool WaitForCycles(unsigned cycles, std::chrono::milliseconds timeout);
  // True while some port is connected to the capture port.
  bool Connected() const;
  // The server's frame time now, as this client estimates it.
  std::uint32_t FrameTime() const;

 private:
  struct Raw {
    std::uint16_t size;
    std::uint8_t bytes[512];
    std::int64_t seenNanoseconds;
    std::uint32_t frame;
  };
  // Where the frame time did not follow on: a jump forward over cycles not run, or (a
  // cycle run late reads the next one's time) a step back.
  struct Gap {
    std::uint32_t from;  // the frame time expected
    std::int32_t frames;  // how far the one read was ahead of it
  };
  static int Process(std::uint32_t frames, void* arg);
  static int Xrun(void* arg);

  struct ClientCloser {
    void operator()(_jack_client* client) const;
  };
  std::unique_ptr<SpscRing<Raw, 4096>> m_ring;
  std::unique_ptr<SpscRing<Gap, 8192>> m_gapRing;
  std::vector<Gap> m_gaps;
  std::uint64_t m_skippedCycles = 0;
  std::uint32_t m_period = 0;
  // The process callback's own (m_client changes while it may still run).
  _jack_client* m_rtClient = nullptr;
  bool m_cycleSeen = false;
  std::uint32_t m_nextCycleFrame = 0;
  std::atomic<unsigned> m_overflows{0};
  std::atomic<unsigned> m_xruns{0};
  std::atomic<std::uint64_t> m_cycles{0};
  std::vector<Event> m_events;
  _jack_port* m_port = nullptr;
  std::unique_ptr<_jack_client, ClientCloser> m_client;  // last: closed first
};

// The bytes of a key's remote-key message (the reset message for "reset"), as the panel
// would send them with the target device ID of the installed settings.
std::vector<std::uint8_t> KeyMessageBytes(const char* keyName);

// What reached the capture of the messages sent, in order, each written at the JACK frame
// time given: every message arrives once, in order and byte for byte, and one that did not
// arrive was written in a cycle the capture skipped (the same rule under jackd2 and
// PipeWire; jackd2's synchronous mode skips none). Collects first. Empty when so, else
// what went wrong; lost: how many messages those skipped cycles took.
std::string CheckDelivery(const std::vector<std::vector<std::uint8_t>>& sent,
                          const std::vector<std::uint32_t>& writtenAt, JackCapture& capture,
                          std::size_t* lost = nullptr);
