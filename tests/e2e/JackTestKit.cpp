#include "JackTestKit.h"

#include <algorithm>

#include <jack/jack.h>
#include <jack/midiport.h>
#include <signal.h>
#include <dirent.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fcntl.h>
#include <sys/file.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <cstring>
#include <thread>

#include "midi/MidiXmit.h"
#include "remote/KeyTable.h"
#include "remote/RemoteKeyMsg.h"

namespace {

using Clock = std::chrono::steady_clock;
// Generous: a shared two-core machine under a sanitizer can take seconds to start a server.
constexpr auto kServerStartBound = std::chrono::seconds(30);
constexpr auto kServerStopBound = std::chrono::seconds(5);
// How long a test waits for a free server name while other test runs hold them all.
constexpr auto kNameClaimBound = std::chrono::seconds(120);
// jackd2 names this user's test servers can take; libjack's registry has 8 slots.
constexpr int kServerNamePool = 6;
constexpr const char* kPipeWireRemote = "quillmark-pw";  // core.name in our config
// A new port reaches another PipeWire client's view within milliseconds.
constexpr auto kListingBound = std::chrono::seconds(30);

#ifndef QUILLMARK_JACKD
#define QUILLMARK_JACKD ""
#endif
#ifndef QUILLMARK_PIPEWIRE
#define QUILLMARK_PIPEWIRE ""
#endif
#ifndef QUILLMARK_PIPEWIRE_CONF
#define QUILLMARK_PIPEWIRE_CONF ""
#endif

void Quiet(const char*) {}

bool ServerTakesClients(const std::string& name) {
  jack_status_t status{};
  jack_client_t* probe =
      JackTestServer::PipeWire()
          ? jack_client_open("qm-probe", JackNoStartServer, &status)
          : jack_client_open("qm-probe", static_cast<jack_options_t>(JackNoStartServer | JackServerName),
                             &status, name.c_str());
  if (!probe) return false;
  jack_client_close(probe);
  return true;
}

std::string TempDir() {
  const char* tmp = std::getenv("TMPDIR");
  return tmp && *tmp ? tmp : "/tmp";
}

}  // namespace

bool JackTestServer::PipeWire() {
  const char* server = std::getenv("QUILLMARK_JACK_SERVER");
  return server && std::string(server) == "pipewire";
}

JackTestServer::JackTestServer(unsigned periodFrames) : m_period(periodFrames) {
  // Probing a server that is still starting is expected to fail; keep the log readable.
  jack_set_error_function(&Quiet);
  jack_set_info_function(&Quiet);
}

JackTestServer::JackTestServer(std::string name) : m_name(std::move(name)), m_period(64) {}

JackTestServer::~JackTestServer() {
  if (m_pid <= 0 && m_abandoned && !PipeWire()) {
    // Only a server of the same name gives a killed server's registry entry back.
    std::string ignored;
    Launch(ignored);
  }
  Stop();
  if (!m_name.empty()) std::remove(LogPath().c_str());
  if (!m_runtimeDir.empty()) {
    // pipewire leaves its socket and lock file behind.
    if (DIR* dir = opendir(m_runtimeDir.c_str())) {
      while (const dirent* entry = readdir(dir)) {
        const std::string file = entry->d_name;
        if (file != "." && file != "..") std::remove((m_runtimeDir + "/" + file).c_str());
      }
      closedir(dir);
    }
    rmdir(m_runtimeDir.c_str());
  }
  if (m_nameLock >= 0) close(m_nameLock);
}

bool JackTestServer::ClaimName(std::string& error) {
  if (!m_name.empty()) return true;
  if (PipeWire()) {
    std::string pattern = TempDir() + "/quillmark-pw-XXXXXX";
    if (!mkdtemp(pattern.data())) {
      error = std::string("could not make a runtime folder for pipewire: ") + std::strerror(errno);
      return false;
    }
    m_runtimeDir = pattern;
    m_name = kPipeWireRemote;
    setenv("PIPEWIRE_RUNTIME_DIR", m_runtimeDir.c_str(), 1);
    setenv("PIPEWIRE_REMOTE", kPipeWireRemote, 1);
    return true;
  }
  // One lock file per name, shared by every test run of this user; the kernel lets go of
  // a lock when its holder ends, however it ends.
  const auto deadline = Clock::now() + kNameClaimBound;
  for (;;) {
    for (int slot = 0; slot < kServerNamePool; ++slot) {
      const std::string name = "quillmark-test-" + std::to_string(slot);
      if (m_triedNames.contains(name)) continue;
      const std::string lockPath = "/tmp/" + name + "-" + std::to_string(getuid()) + ".lock";
      const int fd = open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
      if (fd < 0) continue;
      if (flock(fd, LOCK_EX | LOCK_NB) == 0) {
        m_nameLock = fd;
        m_name = name;
        m_triedNames.insert(name);
        setenv("JACK_DEFAULT_SERVER", m_name.c_str(), 1);
        return true;
      }
      close(fd);
    }
    if (Clock::now() > deadline) {
      error = "every JACK test server name stayed in use by other test runs";
      return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
}

bool JackTestServer::Start(std::string& error) {
  if (m_pid > 0) return true;
  if (!ClaimName(error)) return false;
  if (Launch(error)) return true;
  if (PipeWire()) return false;
  // libjack thinks a server of this name still runs when a killed one's registry entry
  // names a process ID that another process has taken since (IDs wrap at 32768 and a
  // busy machine goes round quickly). Nothing of ours runs under the name (we hold its
  // lock): take the next one.
  while (error.find("server already active") != std::string::npos && !m_triedNames.empty()) {
    if (m_triedNames.size() >= static_cast<std::size_t>(kServerNamePool)) return false;
    close(m_nameLock);
    m_nameLock = -1;
    m_name.clear();
    error.clear();
    if (!ClaimName(error)) return false;
    if (Launch(error)) return true;
  }
  // Servers of test runs from before the name pool were named after their process; give
  // back the slots of those that died.
  if (error.find("Too many servers") == std::string::npos) return false;
  ReclaimAbandonedServers();
  error.clear();
  return Launch(error);
}

bool JackTestServer::Launch(std::string& error) {
  const bool pipeWire = PipeWire() && !m_runtimeDir.empty();
  const std::string program = pipeWire ? QUILLMARK_PIPEWIRE : QUILLMARK_JACKD;
  if (program.empty()) {
    error = std::string(pipeWire ? "pipewire" : "jackd") +
            " was not found when the tests were configured; run tools/setup.sh";
    return false;
  }
  const std::string period = std::to_string(m_period);
  std::vector<std::string> args;
  std::vector<std::string> environment;
  if (pipeWire) {
    // Our config: no devices, no session manager, no session bus; a dummy driver at a
    // 64-frame quantum.
    args = {program, "-c", QUILLMARK_PIPEWIRE_CONF};
    environment = {"XDG_RUNTIME_DIR=" + m_runtimeDir, "PIPEWIRE_RUNTIME_DIR=" + m_runtimeDir,
                   "HOME=" + m_runtimeDir, "PATH=/usr/bin:/bin"};
  } else {
    // No realtime scheduling: a test must not starve the other work of a shared machine.
    // Synchronous mode: the server waits for its clients each cycle instead of dropping a
    // late cycle, so a slow machine delays events but does not lose them. Few ports keep
    // the server's shared memory small.
    args = {program, "-n", m_name, "--no-realtime", "--sync", "--timeout", "10000",
            "--port-max", "32", "-d", "dummy", "-r", "48000", "-p", period};
    for (char** variable = environ; *variable; ++variable) environment.emplace_back(*variable);
  }
  std::vector<char*> argv;
  for (std::string& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);
  std::vector<char*> envp;
  for (std::string& variable : environment) envp.push_back(variable.data());
  envp.push_back(nullptr);
  const std::string logPath = LogPath();
  const pid_t parent = getpid();

  m_pid = fork();
  if (m_pid == 0) {
    // Only async-signal-safe calls from here on. A test that crashes takes its server
    // along instead of leaving it behind.
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (getppid() != parent) _exit(127);
    const int log = open(logPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int nothing = open("/dev/null", O_RDONLY);
    if (nothing >= 0) dup2(nothing, STDIN_FILENO);
    if (log >= 0) {
      dup2(log, STDOUT_FILENO);
      dup2(log, STDERR_FILENO);
    }
    execve(argv[0], argv.data(), envp.data());
    _exit(127);
  }
  if (m_pid < 0) {
    m_pid = -1;
    error = std::string("could not start the server: ") + std::strerror(errno);
    return false;
  }

  const auto deadline = Clock::now() + kServerStartBound;
  while (Clock::now() < deadline) {
    if (waitpid(m_pid, nullptr, WNOHANG) == m_pid) {
      m_pid = -1;
      error = program + " ended at start-up; its log:\n" + ReadLog();
      return false;
    }
    if (ServerTakesClients(m_name)) {
      m_abandoned = false;
      return true;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  error = program + " did not take clients in time; its log:\n" + ReadLog();
  Kill();
  return false;
}

void JackTestServer::Kill() {
  if (m_pid <= 0) return;
  EndProcess(SIGKILL);
  m_abandoned = true;
}

void JackTestServer::Stop() {
  if (m_pid <= 0) return;
  if (!EndProcess(SIGTERM)) {
    EndProcess(SIGKILL);
    m_abandoned = true;
  }
}

bool JackTestServer::EndProcess(int signal) {
  kill(m_pid, signal);
  const auto deadline = Clock::now() + kServerStopBound;
  while (waitpid(m_pid, nullptr, WNOHANG) == 0) {
    if (Clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  m_pid = -1;
  return true;
}

void JackTestServer::ReclaimAbandonedServers() {
  // Servers of older test runs were named after their process; one whose process is
  // gone is abandoned.
  const std::string prefix = "jack_quillmark-test-";
  DIR* dir = opendir("/dev/shm");
  if (!dir) return;
  std::vector<std::string> names;
  while (const dirent* entry = readdir(dir)) {
    const std::string file = entry->d_name;
    if (file.rfind(prefix, 0) != 0 || file.size() < 4 || file.substr(file.size() - 4) != "_0_0") continue;
    const std::string name = file.substr(5, file.size() - 9);
    const long pid = std::strtol(name.c_str() + prefix.size() - 5, nullptr, 10);
    if (pid > 0 && kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH) names.push_back(name);
  }
  closedir(dir);
  for (const std::string& name : names) {
    JackTestServer stale(name);
    std::string ignored;
    if (stale.Launch(ignored)) stale.Stop();
  }
}

std::string JackTestServer::LogPath() const {
  const std::string name = m_runtimeDir.empty() ? m_name : m_runtimeDir.substr(m_runtimeDir.rfind('/') + 1);
  return TempDir() + "/" + name + ".log";
}

std::string JackTestServer::ReadLog() const {
  std::ifstream log(LogPath());
  std::stringstream text;
  text << log.rdbuf();
  return text.str();
}

void JackCapture::ClientCloser::operator()(_jack_client* client) const { jack_client_close(client); }

JackCapture::JackCapture()
    : m_ring(std::make_unique<SpscRing<Raw, 4096>>()), m_gapRing(std::make_unique<SpscRing<Gap, 8192>>()) {}

JackCapture::~JackCapture() { Close(); }

bool JackCapture::Open(std::string& error, bool physical) {
  Close();
  m_cycleSeen = false;
  jack_status_t status{};
  // PipeWire refuses a client for a moment while it still tears down the one of the same
  // name that just closed (status 0x101); jackd2 does not. A few tries, then a failure.
  for (int attempt = 0; attempt < 40 && !m_client; ++attempt) {
    if (attempt > 0) std::this_thread::sleep_for(std::chrono::milliseconds(25));
    m_client.reset(jack_client_open("qm-capture", JackNoStartServer, &status));
  }
  if (!m_client) {
    char status_text[16];
    std::snprintf(status_text, sizeof status_text, "0x%x", static_cast<unsigned>(status));
    error = std::string("the capture client could not connect to the JACK server (status ") +
            status_text + ")";
    return false;
  }
  const unsigned long flags = JackPortIsInput | (physical ? JackPortIsPhysical | JackPortIsTerminal : 0);
  m_port = jack_port_register(m_client.get(), "in", JACK_DEFAULT_MIDI_TYPE, flags, 0);
  m_period = jack_get_buffer_size(m_client.get());
  m_rtClient = m_client.get();
  jack_set_process_callback(m_client.get(), &JackCapture::Process, this);
  jack_set_xrun_callback(m_client.get(), &JackCapture::Xrun, this);
  if (!m_port || jack_activate(m_client.get()) != 0) {
    m_client.reset();
    error = "the capture client could not register or activate its port";
    return false;
  }
  return true;
}

void JackCapture::Close() {
  m_client.reset();
  m_port = nullptr;
  Collect();
}

std::string JackCapture::PortName() const { return m_port ? jack_port_name(m_port) : ""; }

int JackCapture::Xrun(void* arg) {
  static_cast<JackCapture*>(arg)->m_xruns.fetch_add(1);
  return 0;
}

int JackCapture::Process(std::uint32_t frames, void* arg) {
  auto* self = static_cast<JackCapture*>(arg);
  void* buffer = jack_port_get_buffer(self->m_port, frames);
  const std::uint32_t count = jack_midi_get_event_count(buffer);
  const auto now = std::chrono::duration_cast<std::chrono::nanoseconds>(
                       Clock::now().time_since_epoch()).count();
  const jack_nframes_t cycleFrame = jack_last_frame_time(self->m_rtClient);
  // A full ring loses the record, never the events: the test is the stricter for it.
  if (self->m_cycleSeen && cycleFrame != self->m_nextCycleFrame) {
    self->m_gapRing->Push(
        {self->m_nextCycleFrame, static_cast<std::int32_t>(cycleFrame - self->m_nextCycleFrame)});
  }
  // A cycle run after its time was over, or one whose frame time repeats the last one's:
  // a PipeWire server catching up after a stall runs cycles back to back, and then runs
  // this client before or without the writer's data for the cycle it reads. Such a cycle
  // counts as one the capture did not run, with the one before (a late writer may have
  // read either frame time).
  const bool repeated = self->m_cycleSeen && cycleFrame + frames == self->m_nextCycleFrame;
  if (repeated || jack_frames_since_cycle_start(self->m_rtClient) >= frames) {
    self->m_gapRing->Push({cycleFrame - frames, static_cast<std::int32_t>(2 * frames)});
  }
  self->m_cycleSeen = true;
  self->m_nextCycleFrame = cycleFrame + frames;
  for (std::uint32_t i = 0; i < count; ++i) {
    jack_midi_event_t event;
    if (jack_midi_event_get(&event, buffer, i) != 0) continue;
    Raw raw{};
    raw.size = static_cast<std::uint16_t>(event.size > sizeof raw.bytes ? sizeof raw.bytes : event.size);
    std::memcpy(raw.bytes, event.buffer, raw.size);
    raw.seenNanoseconds = now;
    raw.frame = cycleFrame + event.time;
    if (!self->m_ring->Push(raw)) self->m_overflows.fetch_add(1);
  }
  self->m_cycles.fetch_add(1);
  return 0;
}

std::size_t JackCapture::Collect() {
  Raw raw{};
  while (m_ring->Pop(raw)) {
    m_events.push_back({std::vector<std::uint8_t>(raw.bytes, raw.bytes + raw.size),
                        Clock::time_point(std::chrono::nanoseconds(raw.seenNanoseconds)), raw.frame});
  }
  Gap gap{};
  while (m_gapRing->Pop(gap)) {
    // A step back: a cycle ran so late that it read the next one's frame time, and the
    // jump before it spans cycles the callback did not run in on time. Both are the
    // capture's; a sender can neither see nor prevent them.
    if (gap.frames <= 0) continue;
    m_gaps.push_back(gap);
    m_skippedCycles += m_period ? (static_cast<std::uint32_t>(gap.frames) + m_period - 1) / m_period : 1;
  }
  return m_events.size();
}

bool JackCapture::WaitForCycles(unsigned cycles, std::chrono::milliseconds timeout) {
  const std::uint64_t until = m_cycles.load() + cycles;
  const auto deadline = Clock::now() + timeout;
  while (m_cycles.load() < until) {
    if (Clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::microseconds(200));
  }
  Collect();
  return true;
}

bool JackCapture::Connected() const { return m_port && jack_port_connected(m_port) > 0; }

std::uint32_t JackCapture::FrameTime() const { return m_client ? jack_frame_time(m_client.get()) : 0; }

bool JackCapture::Skipped(std::uint32_t frame) const {
  const auto in = [this](std::uint32_t at) {
    return std::any_of(m_gaps.begin(), m_gaps.end(),
                       [at](const Gap& gap) { return at - gap.from < static_cast<std::uint32_t>(gap.frames); });
  };
  // A writer that ran late read the next cycle's time too.
  return in(frame) || in(frame - m_period);
}

bool JackCapture::WaitForEvents(std::size_t count, std::chrono::milliseconds timeout) {
  const auto deadline = Clock::now() + timeout;
  while (Collect() < count) {
    if (Clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::microseconds(200));
  }
  return true;
}

std::int32_t JackCapture::DeviceIn(MidiServices& services) const {
  const std::string port = PortName();
  if (port.empty()) return -1;
  const auto deadline = Clock::now() + kListingBound;
  for (;;) {
    const std::vector<std::string> names = OutDeviceNames(services);
    for (std::size_t i = 0; i < names.size(); ++i) {
      if (names[i] == port || names[i].rfind(port + " ", 0) == 0) return static_cast<std::int32_t>(i);
    }
    if (Clock::now() > deadline) return -1;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

std::vector<std::uint8_t> KeyMessageBytes(const char* keyName) {
  const KeyRow* row = FindKeyByName(keyName);
  if (!row) return {};
  // Built without a port: the message is only assembled.
  CMidiXmit* port = g_pMidiXmit;
  g_pMidiXmit = nullptr;
  std::vector<std::uint8_t> bytes;
  if (row->keyCode.empty()) {
    CRemoteKeyMsg message;
    bytes.assign(message.Data(), message.Data() + message.Length());
  } else {
    CRemoteKeyMsg message(row->keyCode[0], row->keyCode[1]);
    bytes.assign(message.Data(), message.Data() + message.Length());
  }
  g_pMidiXmit = port;
  return bytes;
}

std::string CheckDelivery(const std::vector<std::vector<std::uint8_t>>& sent,
                          const std::vector<std::uint32_t>& writtenAt, JackCapture& capture,
                          std::size_t* lost) {
  capture.Collect();
  std::size_t skipped = 0;
  std::size_t next = 0;
  // The messages before index end that did not arrive must have been written in cycles the
  // capture skipped.
  const auto missing = [&](std::size_t end) -> std::string {
    for (; next < end; ++next) {
      if (next >= writtenAt.size() || !capture.Skipped(writtenAt[next])) {
        return "message " + std::to_string(next) + " of " + std::to_string(sent.size()) +
               " was lost in a cycle the capture ran (written at frame " +
               (next < writtenAt.size() ? std::to_string(writtenAt[next]) : std::string("?")) + ")";
      }
      ++skipped;
    }
    return "";
  };
  const auto& events = capture.Events();
  for (std::size_t i = 0; i < events.size(); ++i) {
    std::size_t match = next;
    while (match < sent.size() && sent[match] != events[i].bytes) ++match;
    if (match == sent.size()) {
      return "event " + std::to_string(i) + " of " + std::to_string(events.size()) +
             " arrived twice, out of order or corrupted";
    }
    if (std::string error = missing(match); !error.empty()) return error;
    next = match + 1;
  }
  if (std::string error = missing(sent.size()); !error.empty()) return error;
  if (lost) *lost = skipped;
  if (skipped > 0) {
    std::printf("%zu of %zu messages written in cycles the capture skipped\n", skipped, sent.size());
  }
  return "";
}
