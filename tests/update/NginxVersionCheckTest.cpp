// The version check against a web server that none of our code wrote: Debian's nginx,
// started with a private configuration on 127.0.0.1 port 80, answering the one-line
// request with the bare version file.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <QAction>
#include <QApplication>
#include <QMenu>
#include <QMenuBar>
#include <QTimer>

#include "FakeMidiServices.h"
#include "desktop/ManualUiQueue.h"
#include "RecordingSeams.h"
#include "settings/ProfileStore.h"
#include "app/RemoteApp.h"
#include "ui/qt/PanelDlg.h"
#include "update/UniqueFd.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

constexpr const char* kNginx = "/usr/sbin/nginx";
constexpr const char* kVersionPath = "/~vorlik_/h3/ver_qmk.txt";

bool SomethingListensOnPort80() {
  UniqueFd probe(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(80);
  return ::connect(probe.Get(), reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
}

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// Foreground, one process, and every path it writes inside `dir`, so that it needs
// nothing of the system's own nginx set-up.
std::string NginxConfig(const std::string& dir) {
  std::string config = R"(daemon off;
master_process off;
worker_processes 1;
pid @/nginx.pid;
error_log @/logs/error.log;
events { worker_connections 16; }
http {
  access_log @/logs/access.log;
  client_body_temp_path @/temp/body;
  proxy_temp_path @/temp/proxy;
  fastcgi_temp_path @/temp/fastcgi;
  uwsgi_temp_path @/temp/uwsgi;
  scgi_temp_path @/temp/scgi;
  server {
    listen 127.0.0.1:80;
    root @/root;
  }
}
)";
  for (std::size_t at = config.find('@'); at != std::string::npos; at = config.find('@', at)) {
    config.replace(at, 1, dir);
    at += dir.size();
  }
  return config;
}

// One nginx in the foreground, single process, everything it writes inside a temporary
// folder. Stopped with a bounded wait, then killed; the folder is removed.
class NginxServer {
 public:
  NginxServer() {
    char pattern[] = "/tmp/quillmark-nginx-XXXXXX";
    if (::mkdtemp(pattern) == nullptr) {
      failure = "no temporary folder";
      return;
    }
    m_dir = pattern;
    fs::create_directories(m_dir / "logs");
    fs::create_directories(m_dir / "temp");
    fs::create_directories(Root());
    const std::string dir = m_dir.string();
    std::ofstream(m_dir / "nginx.conf") << NginxConfig(dir);

    const std::string prefix = dir + "/";
    const std::string conf = dir + "/nginx.conf";
    const std::string errorLog = dir + "/logs/error.log";
    std::vector<std::string> args = {kNginx, "-p", prefix, "-c", conf, "-e", errorLog};
    std::vector<char*> argv;
    for (std::string& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);
    const pid_t parent = ::getpid();
    m_pid = ::fork();
    if (m_pid == 0) {
      // A test that dies (a sanitizer's abort, a time-out) takes its nginx with it, so no
      // server is left holding port 80 for the next run.
      ::prctl(PR_SET_PDEATHSIG, SIGTERM);
      if (::getppid() != parent) ::_exit(127);
      ::execv(kNginx, argv.data());
      ::_exit(127);
    }
    if (m_pid < 0) {
      m_pid = -1;
      failure = "nginx could not be started";
      return;
    }
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    while (!SomethingListensOnPort80()) {
      int status = 0;
      if (::waitpid(m_pid, &status, WNOHANG) == m_pid) {
        m_pid = -1;
        failure = "nginx ended at start:\n" + ReadFile(m_dir / "logs/error.log");
        return;
      }
      if (std::chrono::steady_clock::now() > deadline) {
        failure = "nginx did not listen on 127.0.0.1:80 within 10 s";
        return;
      }
      std::this_thread::sleep_for(20ms);
    }
  }
  NginxServer(const NginxServer&) = delete;
  NginxServer& operator=(const NginxServer&) = delete;

  ~NginxServer() {
    if (m_pid > 0) {
      ::kill(m_pid, SIGTERM);
      const auto deadline = std::chrono::steady_clock::now() + 5s;
      int status = 0;
      while (::waitpid(m_pid, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > deadline) {
          ::kill(m_pid, SIGKILL);
          ::waitpid(m_pid, &status, 0);
          break;
        }
        std::this_thread::sleep_for(10ms);
      }
    }
    std::error_code ignored;
    if (!m_dir.empty()) fs::remove_all(m_dir, ignored);
  }

  bool Running() const { return failure.empty(); }
  void ServeVersionFile(const std::string& content) {
    fs::create_directories(VersionFile().parent_path());
    std::ofstream(VersionFile(), std::ios::binary | std::ios::trunc) << content;
  }
  void RemoveVersionFile() { fs::remove(VersionFile()); }
  // nginx logs a request after it has answered it, so the last line may come a little
  // after our box: waits up to 5 s for `lines` lines.
  std::string AccessLog(std::size_t lines) const {
    const auto deadline = std::chrono::steady_clock::now() + 5s;
    for (;;) {
      const std::string log = ReadFile(m_dir / "logs/access.log");
      if (static_cast<std::size_t>(std::count(log.begin(), log.end(), '\n')) >= lines ||
          std::chrono::steady_clock::now() > deadline) {
        return log;
      }
      std::this_thread::sleep_for(10ms);
    }
  }

  std::string failure;

 private:
  fs::path Root() const { return m_dir / "root"; }
  fs::path VersionFile() const { return Root() / std::string(kVersionPath).substr(1); }

  fs::path m_dir;
  pid_t m_pid = -1;
};

// Asked the way a user asks: Help, Check for updates in the running program, with
// "Hostname" set to 127.0.0.1 in the profile.
TEST(NginxVersionCheckTest, NginxAnswersTheOneLineRequestAndEachOutcomeShowsItsBox) {
  if (::geteuid() != 0) GTEST_SKIP() << "nginx must bind port 80, which needs root";
  ASSERT_TRUE(fs::exists(kNginx)) << "nginx-light is missing: run tools/setup.sh";
  ASSERT_FALSE(SomethingListensOnPort80()) << "port 80 of 127.0.0.1 is taken";
  NginxServer nginx;
  ASSERT_TRUE(nginx.Running()) << nginx.failure;

  ProfileStore& profile = CurrentProfileStore();
  ASSERT_TRUE(profile.StoreProfileInt(kSettingsSection, "MIDI Channel", 1));
  ASSERT_TRUE(profile.StoreProfileString(kSettingsSection, "Hostname", "127.0.0.1"));
  FakeMidiServices midi;
  ManualUiQueue engineQueue;
  RecordingSeams seams;
  theApp.UseMidiServices(&midi, &engineQueue);

  struct Case {
    const char* name;
    const char* file;  // null: no version file, so nginx sends its error page
    int answer;
    std::string text;
    unsigned style;
    std::vector<std::string> opened;
  };
  const Case cases[] = {
      {"same version", "1.0.0.0\n", QM_IDOK, "You have the lastest version of Quillmark (1.0.0.0).", 0x40, {}},
      {"newer release, download",
       "1.0.0.1\r\n",
       QM_IDYES,
       "A more recent version (1.0.0.1) of Quillmark is available.\n\nWould you like to "
       "download it now?",
       0x24,
       {"http://www.vellicor.example/quillmark/download.html"}},
      {"older release",
       "1.0\r\n",
       QM_IDOK,
       "You have a version of Quillmark that is newer than the general release (1.0).",
       0x30,
       {}},
      {"no version file",
       nullptr,
       QM_IDOK,
       "An error occurred retrieving the current version.\nThe server returned \"<html>\".",
       0x10,
       {}},
  };

  QTimer::singleShot(0, [&] {
    CPanelDlg* panel = theApp.m_pMainWnd;
    ASSERT_NE(panel, nullptr);
    QAction* command = nullptr;
    for (QAction* menu : panel->MenuBar()->actions()) {
      for (QAction* item : menu->menu()->actions()) {
        if (item->data().toUInt() == ID_HELP_CHECKFORUPDATES) command = item;
      }
    }
    ASSERT_NE(command, nullptr);
    std::size_t expected = 0;
    for (const Case& c : cases) {
      SCOPED_TRACE(c.name);
      seams.AnswerNext(c.answer);
      if (c.file != nullptr) {
        nginx.ServeVersionFile(c.file);
      } else {
        nginx.RemoveVersionFile();
      }
      const std::size_t opened = seams.Opened().size();
      command->trigger();
      // The box comes from the event loop once the worker is done with the network.
      const auto deadline = std::chrono::steady_clock::now() + 10s;
      while (seams.Boxes().size() <= expected && std::chrono::steady_clock::now() < deadline) {
        QApplication::processEvents(QEventLoop::AllEvents, 20);
      }
      const auto boxes = seams.Boxes();
      ASSERT_EQ(boxes.size(), ++expected);
      EXPECT_EQ(boxes.back().text, c.text);
      EXPECT_EQ(boxes.back().style, c.style);
      EXPECT_EQ(boxes.back().caption, "Quillmark");
      EXPECT_EQ(boxes.back().owner, static_cast<OwnerWindow>(panel));
      const auto shell = seams.Opened();
      EXPECT_EQ(std::vector<std::string>(shell.begin() + static_cast<std::ptrdiff_t>(opened), shell.end()), c.opened);
    }
    panel->OnCommand(1, 0);
  });
  theApp.InitInstance();
  theApp.UseMidiServices(nullptr, nullptr);

  // nginx logs a request without a protocol version when it took it as a simple request,
  // which it answers with the bare file.
  const std::string log = nginx.AccessLog(std::size(cases));
  EXPECT_NE(log.find("\"GET /~vorlik_/h3/ver_qmk.txt\" 200"), std::string::npos) << log;
  EXPECT_NE(log.find("\"GET /~vorlik_/h3/ver_qmk.txt\" 404"), std::string::npos) << log;
  EXPECT_EQ(log.find("HTTP/"), std::string::npos) << log;
}

}  // namespace
