// The remote server inside the panel program: off by default (the process listens on no
// port), and when switched on, a key from the page goes through the panel's own key
// routine on the user-interface thread: the design's bytes with the device ID in force,
// or the device error on the page and no box on the screen.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QApplication>
#include <QTimer>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <thread>

#include "DesignKeys.h"
#include "FakeMidiServices.h"
#include "RecordingSeams.h"
#include "app/RemoteApp.h"
#include "desktop/ManualUiQueue.h"
#include "server/RemoteSettings.h"
#include "settings/PrefsDlg.h"
#include "settings/ProfileStore.h"
#include "ui/qt/PanelDlg.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// Sockets of this process that listen (TCP) or are bound (UDP), as the kernel lists them.
int OwnListeningSockets() {
  std::set<std::string> inodes;
  for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
    std::error_code error;
    const std::string target = std::filesystem::read_symlink(entry.path(), error).string();
    if (!error && target.starts_with("socket:[")) inodes.insert(target.substr(8, target.size() - 9));
  }
  int count = 0;
  for (const char* table : {"/proc/self/net/tcp", "/proc/self/net/tcp6", "/proc/self/net/udp", "/proc/self/net/udp6"}) {
    std::ifstream in(table);
    std::string line;
    std::getline(in, line);  // the column names
    while (std::getline(in, line)) {
      std::istringstream fields(line);
      std::string slot, local, remote, state, queues, timer, retransmits, uid, timeout, inode;
      fields >> slot >> local >> remote >> state >> queues >> timer >> retransmits >> uid >> timeout >> inode;
      const bool tcp = std::string(table).find("tcp") != std::string::npos;
      if (inodes.count(inode) && (!tcp || state == "0A")) ++count;
    }
  }
  return count;
}

std::uint16_t FreePort() {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  socklen_t size = sizeof address;
  bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
  getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size);
  close(fd);
  return ntohs(address.sin_port);
}

// POST /key from another thread, as a phone would; the reply's body.
std::string PostKey(std::uint16_t port, const std::string& token, const std::string& key) {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  std::string reply;
  const std::string request = "POST /key HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(port) +
                              "\r\nOrigin: http://127.0.0.1:" + std::to_string(port) +
                              "\r\nAuthorization: Bearer " + token + "\r\nContent-Length: " +
                              std::to_string(key.size()) + "\r\n\r\n" + key;
  if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
      write(fd, request.data(), request.size()) == static_cast<ssize_t>(request.size())) {
    const auto deadline = Clock::now() + 20s;
    char buffer[1024];
    while (Clock::now() < deadline) {
      pollfd p{fd, POLLIN, 0};
      if (poll(&p, 1, 50) <= 0) continue;
      const ssize_t got = read(fd, buffer, sizeof buffer);
      if (got <= 0) break;
      reply.append(buffer, static_cast<std::size_t>(got));
    }
  }
  close(fd);
  return reply.substr(std::min(reply.size(), reply.find("\r\n\r\n") + 4));
}

class RemotePanelTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ProfileStore& profile = CurrentProfileStore();
    profile.DeleteSection(kSettingsSection);
    profile.DeleteSection(kRemoteSection);
    ASSERT_TRUE(profile.StoreProfileInt(kSettingsSection, "MIDI Channel", 1));
    ASSERT_TRUE(profile.StoreProfileInt(kSettingsSection, "TargetDeviceID", 99));
  }
  void TearDown() override {
    CurrentProfileStore().DeleteSection(kRemoteSection);
    theApp.UseMidiServices(nullptr, nullptr);
  }
  void SwitchPageOn() {
    RemoteSettings settings;
    settings.pageEnabled = true;
    settings.pagePort = port;
    settings.token = token;
    ASSERT_TRUE(WriteRemoteSettings(CurrentProfileStore(), settings));
  }
  // Runs the program; `act` runs inside the panel's loop, then the panel is quit.
  void RunProgram(const std::function<void()>& act) {
    theApp.UseMidiServices(&fake, &ui);
    QTimer::singleShot(0, [&] {
      act();
      theApp.OnExit();
    });
    theApp.InitInstance();
  }
  // Presses a key from the page while this thread plays the user-interface thread.
  std::string PressFromPage(const std::string& key) {
    std::string reply;
    std::atomic<bool> done{false};
    std::thread phone([&] {
      reply = PostKey(port, token, key);
      done = true;
    });
    const auto deadline = Clock::now() + 30s;
    while (!done && Clock::now() < deadline) {
      ui.Pump();
      QApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    phone.join();
    ui.Pump();
    return reply;
  }

  FakeMidiServices fake;
  ManualUiQueue ui;
  RecordingSeams seams;
  std::uint16_t port = FreePort();
  std::string token = "0123456789abcdef0123456789abcdef";
};

TEST_F(RemotePanelTest, DefaultSettingsListenOnNoPort) {
  int listening = -1;
  RunProgram([&] { listening = OwnListeningSockets(); });
  EXPECT_EQ(listening, 0);
  // The same look sees the page once it is switched on.
  SwitchPageOn();
  RunProgram([&] { listening = OwnListeningSockets(); });
  EXPECT_EQ(listening, 1);
  EXPECT_EQ(OwnListeningSockets(), 0) << "the port is closed with the panel";
}

TEST_F(RemotePanelTest, PageKeyGoesThroughThePanelsKeyRoutine) {
  SwitchPageOn();
  std::string reply;
  RunProgram([&] { reply = PressFromPage("ent"); });
  EXPECT_NE(reply.find("\"status\":\"sent\""), std::string::npos) << reply;
  ASSERT_EQ(fake.LongMessages().size(), 1u);
  EXPECT_EQ(fake.LongMessages().back(), DesignMessage(DesignKeyNamed("ent"), 99));
}

TEST_F(RemotePanelTest, DeviceErrorOfAPageKeyShowsOnThePageNotOnTheScreen) {
  SwitchPageOn();
  fake.openResult = 2;  // the system's "bad device ID"
  std::string reply;
  RunProgram([&] { reply = PressFromPage("prog"); });
  EXPECT_NE(reply.find("\"status\":\"error\""), std::string::npos) << reply;
  EXPECT_NE(reply.find("Error location: MidiXmit (45)"), std::string::npos) << reply;
  EXPECT_TRUE(seams.Boxes().empty());
  EXPECT_TRUE(seams.Beeps().empty());
  EXPECT_TRUE(fake.LongMessages().empty());
}

}  // namespace
