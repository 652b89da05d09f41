// The remote page's server over real TCP on the loopback: every refusal presses nothing,
// a good key goes through the hand-off to the owning thread, a slow client is cut off, a
// flood is bounded, and a key the owner never took is dropped, not pressed later.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "RecordingSeams.h"
#include "desktop/ManualUiQueue.h"
#include "remote/KeyTable.h"
#include "server/KeyDispatcher.h"
#include "server/RemoteServer.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr char kToken[] = "00112233445566778899aabbccddeeff";

class RecordingRoutine final : public KeyRoutine {
 public:
  KeyOutcome PressKey(const KeyRow& row) override {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_keys.emplace_back(row.name);
    return {KeyStatus::Sent, "sent"};
  }
  std::vector<std::string> Keys() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_keys;
  }

 private:
  std::mutex m_mutex;
  std::vector<std::string> m_keys;
};

// Owns one socket; moves, never copies, so no descriptor is closed twice.
struct FdCloser {
  explicit FdCloser(int descriptor) : fd(descriptor) {}
  FdCloser(const FdCloser&) = delete;
  FdCloser& operator=(const FdCloser&) = delete;
  FdCloser(FdCloser&& other) noexcept : fd(std::exchange(other.fd, -1)) {}
  FdCloser& operator=(FdCloser&&) = delete;
  ~FdCloser() {
    if (fd >= 0) close(fd);
  }
  int fd;
};

int Connect(std::uint16_t port) {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

// Reads until the server closes or the bound passes; what came.
std::string ReadAll(int fd, std::chrono::milliseconds bound) {
  std::string reply;
  const auto deadline = Clock::now() + bound;
  while (Clock::now() < deadline) {
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, 50) <= 0) continue;
    char buffer[4096];
    const ssize_t got = read(fd, buffer, sizeof buffer);
    if (got <= 0) break;
    reply.append(buffer, static_cast<std::size_t>(got));
  }
  return reply;
}

// The status code of the reply to a raw request; 0 when none came.
int Request(std::uint16_t port, const std::string& raw, std::string* body = nullptr) {
  const FdCloser fd{Connect(port)};
  if (fd.fd < 0 || write(fd.fd, raw.data(), raw.size()) != static_cast<ssize_t>(raw.size())) return 0;
  const std::string reply = ReadAll(fd.fd, 10s);
  if (body) *body = reply.substr(std::min(reply.size(), reply.find("\r\n\r\n") + 4));
  return reply.starts_with("HTTP/1.1 ") ? std::stoi(reply.substr(9, 3)) : 0;
}

std::string KeyRequest(std::uint16_t port, const std::string& extraHeaders, const std::string& body = "ent",
                       const std::string& host = "") {
  return "POST /key HTTP/1.1\r\nHost: " + (host.empty() ? "127.0.0.1:" + std::to_string(port) : host) +
         "\r\n" + extraHeaders + "Content-Type: text/plain\r\nContent-Length: " + std::to_string(body.size()) +
         "\r\n\r\n" + body;
}

// The owning thread of the tests: pumps the hand-off's queue until it ends.
class Owner {
 public:
  Owner() : m_thread([this] {
      while (!m_stop) {
        m_queue.WaitForPost(20ms);
        if (m_pumping) m_queue.Pump();
      }
    }) {}
  ~Owner() {
    m_stop = true;
    m_thread.join();
  }
  ManualUiQueue& Queue() { return m_queue; }
  void Pumping(bool on) { m_pumping = on; }

 private:
  ManualUiQueue m_queue;
  std::atomic<bool> m_stop{false};
  std::atomic<bool> m_pumping{true};
  std::thread m_thread;
};

class RemoteHttpTest : public ::testing::Test {
 protected:
  void SetUp() override {
    RemoteSettings settings;
    settings.pageEnabled = true;
    settings.pagePort = 0;
    settings.token = kToken;
    std::string error;
    ASSERT_TRUE(server.Start(settings, error)) << error;
    port = server.PagePort();
    ASSERT_NE(port, 0);
  }
  void TearDown() override {
    dispatcher.Close();
    server.Stop();
  }
  std::string Bearer(const std::string& token = kToken) { return "Authorization: Bearer " + token + "\r\n"; }

  Owner owner;
  RecordingRoutine routine;
  KeyDispatcher dispatcher{owner.Queue(), routine};
  RemoteServer server{dispatcher};
  std::uint16_t port = 0;
};

TEST_F(RemoteHttpTest, RefusedRequestsPressNothing) {
  const std::string self = "Origin: http://127.0.0.1:" + std::to_string(port) + "\r\n";
  struct Case {
    const char* what;
    std::string request;
    int status;
  };
  const Case cases[] = {
      {"no token", KeyRequest(port, ""), 401},
      {"wrong token", KeyRequest(port, Bearer("ffeeddccbbaa99887766554433221100")), 401},
      {"token cut short", KeyRequest(port, Bearer(std::string(kToken).substr(0, 31))), 401},
      {"token as a query", "POST /key?token=" + std::string(kToken) + KeyRequest(port, "").substr(9), 401},
      {"foreign origin", KeyRequest(port, Bearer() + "Origin: http://evil.example\r\n"), 403},
      {"opaque origin", KeyRequest(port, Bearer() + "Origin: null\r\n"), 403},
      {"cross-site fetch", KeyRequest(port, Bearer() + "Sec-Fetch-Site: cross-site\r\n"), 403},
      {"foreign host", KeyRequest(port, Bearer(), "ent", "evil.example:" + std::to_string(port)), 403},
      {"key by GET", "GET /key HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(port) + "\r\n" + Bearer() + "\r\n", 405},
      {"unknown key", KeyRequest(port, Bearer() + self, "enter"), 400},
      {"body too large", KeyRequest(port, Bearer() + self, std::string(5000, 'e')), 413},
      {"head too large", KeyRequest(port, Bearer() + "X-Filler: " + std::string(8000, 'x') + "\r\n"), 0},
      {"no such page", "GET /../../etc/passwd HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(port) + "\r\n\r\n", 404},
  };
  for (const Case& c : cases) {
    const int status = Request(port, c.request);
    // A head over the limit is cut off by the server itself (with a 4xx or a close).
    if (c.status == 0) {
      EXPECT_TRUE(status == 0 || (status >= 400 && status < 500)) << c.what << ": " << status;
    } else {
      EXPECT_EQ(status, c.status) << c.what;
    }
  }
  EXPECT_TRUE(routine.Keys().empty());

  std::string body;
  EXPECT_EQ(Request(port, KeyRequest(port, Bearer() + self, " ENT\n")), 200);
  EXPECT_EQ(Request(port, KeyRequest(port, Bearer(), "reset"), &body), 200) << "no Origin: not a browser";
  EXPECT_NE(body.find("\"status\":\"sent\""), std::string::npos) << body;
  EXPECT_EQ(routine.Keys(), (std::vector<std::string>{"ent", "reset"}));
}

TEST_F(RemoteHttpTest, SlowClientIsCutOff) {
  const FdCloser fd{Connect(port)};
  ASSERT_GE(fd.fd, 0);
  const std::string head = "GET / HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(port) + "\r\nX-Slow: ";
  ASSERT_EQ(write(fd.fd, head.data(), head.size()), static_cast<ssize_t>(head.size()));
  // One byte every 300 ms keeps each read short of its timeout; the head as a whole must
  // still be in within the limit, so the server ends the connection.
  const auto start = Clock::now();
  bool closed = false;
  while (!closed && Clock::now() - start < 30s) {
    if (write(fd.fd, "x", 1) != 1) closed = true;
    pollfd p{fd.fd, POLLIN, 0};
    if (poll(&p, 1, 300) > 0) {
      char buffer[512];
      closed = read(fd.fd, buffer, sizeof buffer) >= 0;
    }
  }
  EXPECT_TRUE(closed);
  EXPECT_EQ(Request(port, "GET / HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(port) + "\r\n\r\n"), 200);
}

TEST_F(RemoteHttpTest, FloodIsBounded) {
  // Idle connections that never send a byte, more than the server has workers for.
  std::vector<FdCloser> idle;
  for (int i = 0; i < 40; ++i) idle.emplace_back(Connect(port));
  const auto start = Clock::now();
  std::atomic<int> answered{0};
  std::atomic<int> unexpected{0};
  std::vector<std::thread> senders;
  for (int t = 0; t < 8; ++t) {
    senders.emplace_back([&] {
      for (int i = 0; i < 40; ++i) {
        const int status = Request(port, KeyRequest(port, Bearer(), "prog"));
        if (status == 200 || status == 429 || status == 503) {
          ++answered;
        } else if (status != 0) {
          ++unexpected;
        }
      }
    });
  }
  for (std::thread& sender : senders) sender.join();
  const std::chrono::duration<double> elapsed = Clock::now() - start;
  idle.clear();
  EXPECT_EQ(unexpected.load(), 0);
  EXPECT_GT(answered.load(), 0);
  const auto pressed = static_cast<double>(routine.Keys().size());
  EXPECT_LE(pressed, kRemoteKeyBurst + kRemoteKeysPerSecond * elapsed.count() + 1);
  // Afterwards the page answers again (once the rate has refilled).
  std::this_thread::sleep_for(1s);
  EXPECT_EQ(Request(port, KeyRequest(port, Bearer(), "byp")), 200);
}

TEST_F(RemoteHttpTest, KeyTheOwnerNeverTookIsDropped) {
  owner.Pumping(false);
  const auto start = Clock::now();
  const KeyOutcome outcome = dispatcher.Press(*FindKeyByName("F1"), 300ms);
  EXPECT_EQ(outcome.status, KeyStatus::TimedOut);
  EXPECT_LT(Clock::now() - start, 20s);
  owner.Pumping(true);
  std::this_thread::sleep_for(200ms);
  EXPECT_TRUE(routine.Keys().empty()) << "a key given up on is never pressed later";
  EXPECT_EQ(dispatcher.Press(*FindKeyByName("F2"), 10s).status, KeyStatus::Sent);
  EXPECT_EQ(routine.Keys(), std::vector<std::string>{"F2"});
}

TEST(KeyErrors, DeviceErrorGoesToThePageNotToAScreen) {
  RecordingSeams desktop;
  const KeyOutcome error = PressWithErrorsCaught(
      [](const KeyRow&, void*) {
        CurrentUserSeams().ShowMessageBox(nullptr, "Error: gone\nError location: MidiXmit (45)\n",
                                          "MIDI Device Error", QM_MB_OK | QM_MB_ICONHAND);
        CurrentUserSeams().MessageBeep(QM_MB_ICONHAND);
        return 0;
      },
      *FindKeyByName("ent"), nullptr);
  EXPECT_EQ(error.status, KeyStatus::DeviceError);
  EXPECT_EQ(error.text, "Error: gone\nError location: MidiXmit (45)");
  const KeyOutcome refused = PressWithErrorsCaught([](const KeyRow&, void*) { return 0; }, *FindKeyByName("ent"), nullptr);
  EXPECT_EQ(refused.status, KeyStatus::NotSent);
  EXPECT_TRUE(desktop.Boxes().empty());
  EXPECT_TRUE(desktop.Beeps().empty());
  EXPECT_EQ(&CurrentUserSeams(), &desktop) << "the desktop's seams are back";
}

}  // namespace
