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
// Generous: a shared two-core machine under a sanitizer can take seconds to start jackd.
constexpr auto kServerStartBound = std::chrono::seconds(30);
constexpr auto kServerStopBound = std::chrono::seconds(5);

#ifndef QUILLMARK_JACKD
#define QUILLMARK_JACKD ""
#endif

void Quiet(const char*) {}

bool ServerTakesClients(const std::string& name) {
  jack_status_t status{};
  jack_client_t* probe = jack_client_open(
      "qm-probe", static_cast<jack_options_t>(JackNoStartServer | JackServerName), &status,
      name.c_str());
  if (!probe) return false;
  jack_client_close(probe);
  return true;
}

}  // namespace

JackTestServer::JackTestServer(unsigned periodFrames) : m_period(periodFrames) {
  static std::atomic<int> serial{0};
  m_name = "quillmark-test-" + std::to_string(getpid()) + "-" + std::to_string(serial++);
  setenv("JACK_DEFAULT_SERVER", m_name.c_str(), 1);
  // Probing a server that is still starting is expected to fail; keep the log readable.
  jack_set_error_function(&Quiet);
  jack_set_info_function(&Quiet);
}

JackTestServer::JackTestServer(std::string name) : m_name(std::move(name)), m_period(64) {}

JackTestServer::~JackTestServer() {
  if (m_pid <= 0 && m_abandoned) {
    // Only a server of the same name gives a killed server's registry entry back.
    std::string ignored;
    Start(ignored);
  }
  Stop();
  std::remove(LogPath().c_str());
}

bool JackTestServer::Start(std::string& error) {
  if (m_pid > 0) return true;
  if (Launch(error)) return true;
  // libjack keeps a handful of server slots per user, and a killed server keeps its slot
  // until a server of its name starts again: give back the slots of test runs that died.
  if (error.find("Too many servers") == std::string::npos) return false;
  ReclaimAbandonedServers();
  error.clear();
  return Launch(error);
}

bool JackTestServer::Launch(std::string& error) {
  const std::string jackd = QUILLMARK_JACKD;
  if (jackd.empty()) {
    error = "jackd was not found when the tests were configured; run tools/setup.sh";
    return false;
  }
  const std::string period = std::to_string(m_period);
  // No realtime scheduling: a test must not starve the other work of a shared machine.
  // Synchronous mode: the server waits for its clients each cycle instead of dropping a
  // late cycle, so a slow machine delays events but does not lose them. Few ports keep
  // the server's shared memory small.
  std::vector<std::string> args = {jackd, "-n", m_name, "--no-realtime", "--sync",
                                   "--timeout", "10000", "--port-max", "32",
                                   "-d", "dummy", "-r", "48000", "-p", period};
  std::vector<char*> argv;
  for (std::string& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);
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
    execv(argv[0], argv.data());
    _exit(127);
  }
  if (m_pid < 0) {
    m_pid = -1;
    error = std::string("could not start jackd: ") + std::strerror(errno);
    return false;
  }

  const auto deadline = Clock::now() + kServerStartBound;
  while (Clock::now() < deadline) {
    if (waitpid(m_pid, nullptr, WNOHANG) == m_pid) {
      m_pid = -1;
      error = "jackd ended at start-up; its log:\n" + ReadLog();
      return false;
    }
    if (ServerTakesClients(m_name)) {
      m_abandoned = false;
      return true;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  error = "jackd did not take clients in time; its log:\n" + ReadLog();
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
  // Our servers are named after the test process; one whose process is gone is abandoned.
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
  const char* tmp = std::getenv("TMPDIR");
  return std::string(tmp && *tmp ? tmp : "/tmp") + "/" + m_name + ".log";
}

std::string JackTestServer::ReadLog() const {
  std::ifstream log(LogPath());
  std::stringstream text;
  text << log.rdbuf();
  return text.str();
}

void JackCapture::ClientCloser::operator()(_jack_client* client) const { jack_client_close(client); }

JackCapture::JackCapture() : m_ring(std::make_unique<SpscRing<Raw, 4096>>()) {}

JackCapture::~JackCapture() { Close(); }

bool JackCapture::Open(std::string& error) {
  Close();
  jack_status_t status{};
  m_client.reset(jack_client_open("qm-capture", JackNoStartServer, &status));
  if (!m_client) {
    error = "the capture client could not connect to the JACK server";
    return false;
  }
  m_port = jack_port_register(m_client.get(), "in", JACK_DEFAULT_MIDI_TYPE, JackPortIsInput, 0);
  jack_set_process_callback(m_client.get(), &JackCapture::Process, this);
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

int JackCapture::Process(std::uint32_t frames, void* arg) {
  auto* self = static_cast<JackCapture*>(arg);
  void* buffer = jack_port_get_buffer(self->m_port, frames);
  const std::uint32_t count = jack_midi_get_event_count(buffer);
  const auto now = std::chrono::duration_cast<std::chrono::nanoseconds>(
                       Clock::now().time_since_epoch()).count();
  for (std::uint32_t i = 0; i < count; ++i) {
    jack_midi_event_t event;
    if (jack_midi_event_get(&event, buffer, i) != 0) continue;
    Raw raw{};
    raw.size = static_cast<std::uint16_t>(event.size > sizeof raw.bytes ? sizeof raw.bytes : event.size);
    std::memcpy(raw.bytes, event.buffer, raw.size);
    raw.seenNanoseconds = now;
    if (!self->m_ring->Push(raw)) self->m_overflows.fetch_add(1);
  }
  return 0;
}

std::size_t JackCapture::Collect() {
  Raw raw{};
  while (m_ring->Pop(raw)) {
    m_events.push_back({std::vector<std::uint8_t>(raw.bytes, raw.bytes + raw.size),
                        Clock::time_point(std::chrono::nanoseconds(raw.seenNanoseconds))});
  }
  return m_events.size();
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
  const std::vector<std::string> names = OutDeviceNames(services);
  const auto found = std::find(names.begin(), names.end(), PortName());
  return found == names.end() ? -1 : static_cast<std::int32_t>(found - names.begin());
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
