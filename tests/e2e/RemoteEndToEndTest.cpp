// The headless mode as a user runs it beside the rack: `quillmark --serve --port N --osc N`
// started without a display, on a private JACK server with a capture client. Headless
// chromium opens the address the program prints and taps "ent"; oscsend sends the same
// key; requests without the token, with a foreign Origin or a foreign Host are refused and
// send nothing. Each key must arrive as the design's bytes for the stored device ID.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QSettings>
#include <QTemporaryDir>
#include <arpa/inet.h>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "DesignKeys.h"
#include "JackTestKit.h"
#include "midi/backends/MidiBackends.h"

extern char** environ;

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr auto kStartBound = 30s;
constexpr auto kArrivalBound = 20s;
constexpr std::uint8_t kDeviceId = 99;  // the design's example: the fourth byte is 63

// This process's environment without a display, with `more` added.
std::vector<std::string> HeadlessEnvironment(const std::vector<std::string>& more) {
  std::vector<std::string> result;
  for (char** entry = environ; *entry; ++entry) {
    const std::string text = *entry;
    if (text.starts_with("DISPLAY=") || text.starts_with("WAYLAND_DISPLAY=")) continue;
    result.push_back(text);
  }
  result.insert(result.end(), more.begin(), more.end());
  return result;
}

// A program whose standard output is read line by line; ended (bounded) when it goes.
class Program {
 public:
  Program() = default;
  Program(const Program&) = delete;
  Program& operator=(const Program&) = delete;
  ~Program() {
    if (m_pid > 0) {
      kill(m_pid, SIGKILL);
      waitpid(m_pid, nullptr, 0);
    }
    if (m_out >= 0) close(m_out);
  }

  bool Start(const std::vector<std::string>& argv, const std::vector<std::string>& env) {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) return false;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    std::vector<char*> envp;
    for (const std::string& e : env) envp.push_back(const_cast<char*>(e.c_str()));
    envp.push_back(nullptr);
    const int rc = posix_spawnp(&m_pid, args[0], &actions, nullptr, args.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    close(fds[1]);
    m_out = fds[0];
    if (rc != 0) m_pid = -1;
    return rc == 0;
  }

  // The next line of output that begins with `prefix`; empty when none came in time.
  std::string LineStartingWith(const std::string& prefix, std::chrono::milliseconds bound) {
    const auto deadline = Clock::now() + bound;
    for (;;) {
      for (std::size_t end; (end = m_buffer.find('\n')) != std::string::npos;) {
        const std::string line = m_buffer.substr(0, end);
        m_buffer.erase(0, end + 1);
        m_lines += line + "\n";
        if (line.starts_with(prefix)) return line;
      }
      if (Clock::now() >= deadline) return {};
      pollfd p{m_out, POLLIN, 0};
      if (poll(&p, 1, 100) <= 0) continue;
      char chunk[4096];
      const ssize_t got = read(m_out, chunk, sizeof chunk);
      if (got <= 0) return {};
      m_buffer.append(chunk, static_cast<std::size_t>(got));
    }
  }

  // Sends `signal` and waits (bounded) for the end; false when it did not end in time.
  bool End(int signal, std::chrono::milliseconds bound, int& status) {
    kill(m_pid, signal);
    const auto deadline = Clock::now() + bound;
    while (Clock::now() < deadline) {
      if (waitpid(m_pid, &status, WNOHANG) == m_pid) {
        m_pid = -1;
        return true;
      }
      std::this_thread::sleep_for(20ms);
    }
    return false;
  }
  const std::string& Lines() const { return m_lines; }

 private:
  pid_t m_pid = -1;
  int m_out = -1;
  std::string m_buffer;
  std::string m_lines;
};

// Runs a program to its end (bounded) and returns its standard output.
std::string RunToEnd(const std::vector<std::string>& argv, std::chrono::milliseconds bound) {
  Program program;
  if (!program.Start(argv, HeadlessEnvironment({}))) return {};
  std::string out;
  for (std::string line; !(line = program.LineStartingWith("", bound)).empty();) out += line + "\n";
  int status = 0;
  program.End(SIGTERM, 5s, status);
  return out;
}

std::uint16_t FreePort(int type) {
  const int fd = socket(AF_INET, type | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  socklen_t size = sizeof address;
  bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
  getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size);
  close(fd);
  return ntohs(address.sin_port);
}

// The status code of a raw HTTP request to the loopback; 0 when no reply came.
int HttpStatus(std::uint16_t port, const std::string& raw) {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  std::string reply;
  if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
      write(fd, raw.data(), raw.size()) == static_cast<ssize_t>(raw.size())) {
    const auto deadline = Clock::now() + 10s;
    char buffer[1024];
    while (Clock::now() < deadline) {
      pollfd p{fd, POLLIN, 0};
      if (poll(&p, 1, 100) <= 0) continue;
      const ssize_t got = read(fd, buffer, sizeof buffer);
      if (got <= 0) break;
      reply.append(buffer, static_cast<std::size_t>(got));
    }
  }
  close(fd);
  return reply.starts_with("HTTP/1.1 ") ? std::stoi(reply.substr(9, 3)) : 0;
}

std::string KeyRequest(std::uint16_t port, const std::string& key, const std::string& headers,
                       const std::string& host = {}) {
  return "POST /key HTTP/1.1\r\nHost: " + (host.empty() ? "127.0.0.1:" + std::to_string(port) : host) +
         "\r\n" + headers + "Content-Length: " + std::to_string(key.size()) + "\r\n\r\n" + key;
}

class RemoteEndToEndTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string error;
    ASSERT_TRUE(server.Start(error)) << error;
    ASSERT_TRUE(capture.Open(error)) << error;
    ASSERT_TRUE(profileHome.isValid());
    const auto services = CreateMidiServices();
    const std::int32_t device = capture.DeviceIn(*services);
    ASSERT_GE(device, 0) << "capture port not listed";
    QSettings profile(profileHome.filePath("Vellicor/Quillmark.conf"), QSettings::IniFormat);
    profile.setValue("Settings/MIDI Channel", 1);
    profile.setValue("Settings/MIDI Output Device", device);
    profile.setValue("Settings/TargetDeviceID", kDeviceId);
    profile.sync();
    ASSERT_EQ(profile.status(), QSettings::NoError);
  }
  void TearDown() override {
    capture.Close();
    server.Stop();
  }

  // Waits for the next key at the capture and checks its bytes.
  void ExpectArrival(const char* key) {
    const std::size_t before = capture.Events().size();
    ASSERT_TRUE(capture.WaitForEvents(before + 1, kArrivalBound)) << key << " did not arrive";
    EXPECT_EQ(capture.Events()[before].bytes, DesignMessage(DesignKeyNamed(key), kDeviceId)) << key;
  }

  JackTestServer server;
  JackCapture capture;
  QTemporaryDir profileHome;
};

TEST_F(RemoteEndToEndTest, PageAndOscPressKeysRefusalsSendNothing) {
  const std::uint16_t pagePort = FreePort(SOCK_STREAM);
  const std::uint16_t oscPort = FreePort(SOCK_DGRAM);
  const std::string bin = QUILLMARK_BIN_DIR;
  Program program;
  ASSERT_TRUE(program.Start({bin + "/quillmark", "--serve", "--port", std::to_string(pagePort), "--osc",
                             std::to_string(oscPort)},
                            HeadlessEnvironment({"XDG_CONFIG_HOME=" + profileHome.path().toStdString()})));
  // The first address printed, a line of its own, is the network's; this computer's own
  // loopback address is among them.
  ASSERT_FALSE(program.LineStartingWith("http://", kStartBound).empty()) << program.Lines();
  const std::string page = program.LineStartingWith("http://127.0.0.1:" + std::to_string(pagePort) + "/#token=", kStartBound);
  ASSERT_FALSE(page.empty()) << program.Lines();
  const std::string token = page.substr(page.find("#token=") + 7);
  ASSERT_EQ(token.size(), 32u);

  // A real browser taps the key whose text is "ent".
  const std::string tapped = RunToEnd({"/usr/bin/python3", QUILLMARK_REMOTE_PAGE_SCRIPT, page, "--tap", "ent"}, 120s);
  EXPECT_EQ(tapped, "ent: sent\n");
  ExpectArrival("ent");

  // Refused, each: nothing of them may arrive ahead of the next good key.
  const std::string bearer = "Authorization: Bearer " + token + "\r\n";
  std::string wrong = token;
  wrong[0] = wrong[0] == '0' ? '1' : '0';
  EXPECT_EQ(HttpStatus(pagePort, KeyRequest(pagePort, "ent", "")), 401);
  EXPECT_EQ(HttpStatus(pagePort, KeyRequest(pagePort, "ent", "Authorization: Bearer " + wrong + "\r\n")), 401);
  EXPECT_EQ(HttpStatus(pagePort, KeyRequest(pagePort, "ent", bearer + "Origin: http://evil.example\r\n")), 403);
  EXPECT_EQ(HttpStatus(pagePort, KeyRequest(pagePort, "ent", bearer, "evil.example:" + std::to_string(pagePort))), 403);
  EXPECT_EQ(HttpStatus(pagePort, KeyRequest(pagePort, "prog", bearer)), 200);
  ExpectArrival("prog");

  // A real OSC sender; a key name the program does not know sends nothing.
  RunToEnd({"oscsend", "127.0.0.1", std::to_string(oscPort), "/quillmark/key", "s", "nokey"}, 10s);
  RunToEnd({"oscsend", "127.0.0.1", std::to_string(oscPort), "/quillmark/key", "s", "ent"}, 10s);
  ExpectArrival("ent");
  std::this_thread::sleep_for(200ms);
  EXPECT_EQ(capture.Collect(), 3u) << "exactly the three keys, nothing else";

  int status = -1;
  ASSERT_TRUE(program.End(SIGTERM, 10s, status)) << "SIGTERM did not end it";
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
}

}  // namespace
