// The real program, as a user runs it: quillmark on an X server of its own with a window
// manager (Num Lock on), a private JACK server with the dummy driver and a capture client.
// Keys are typed and a button is clicked with xdotool; each must arrive as its exact bytes
// (the design's, for the profile's device ID 5), and every key the program took (it
// writes its key-path counters at exit) must have become exactly one message.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QDir>
#include <QLayout>
#include <QPushButton>
#include <QSettings>
#include <QTemporaryDir>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <map>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "DesignKeys.h"
#include "JackTestKit.h"
#include "settings/PrefsDlg.h"
#include "midi/backends/MidiBackends.h"
#include "ui/qt/PanelDlg.h"

extern char** environ;

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// Bounds for steps that take well under a second on an idle machine.
constexpr auto kStartBound = 30s;
constexpr auto kArrivalBound = 20s;

std::vector<std::string> Environment(const std::vector<std::string>& overrides) {
  std::vector<std::string> result;
  for (char** entry = environ; *entry; ++entry) {
    const std::string text = *entry;
    const std::string name = text.substr(0, text.find('='));
    bool replaced = false;
    for (const std::string& o : overrides) replaced |= o.compare(0, name.size() + 1, name + "=") == 0;
    if (!replaced) result.push_back(text);
  }
  result.insert(result.end(), overrides.begin(), overrides.end());
  return result;
}

// Starts argv[0] from the PATH with the given environment and file actions; -1 on failure.
pid_t Spawn(const std::vector<std::string>& argv, const std::vector<std::string>& env,
            const posix_spawn_file_actions_t& actions) {
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  std::vector<char*> envp;
  for (const std::string& e : env) envp.push_back(const_cast<char*>(e.c_str()));
  envp.push_back(nullptr);
  pid_t pid = -1;
  return posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), envp.data()) == 0 ? pid : -1;
}

// A child process that is always ended: SIGTERM, then SIGKILL, each wait bounded.
class Child {
 public:
  Child() = default;
  Child(const Child&) = delete;
  Child& operator=(const Child&) = delete;
  ~Child() { Stop(); }

  bool Start(const std::vector<std::string>& argv, const std::vector<std::string>& env,
             const std::string& cwd = {}) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (!cwd.empty()) posix_spawn_file_actions_addchdir_np(&actions, cwd.c_str());
    const int devNull = open("/dev/null", O_WRONLY | O_CLOEXEC);
    posix_spawn_file_actions_adddup2(&actions, devNull, STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, devNull, STDERR_FILENO);
    m_pid = Spawn(argv, env, actions);
    posix_spawn_file_actions_destroy(&actions);
    close(devNull);
    return m_pid > 0;
  }

  // True when the process ended within the bound; its status in status.
  bool Wait(std::chrono::milliseconds bound, int& status) {
    const auto deadline = Clock::now() + bound;
    while (m_pid > 0) {
      const pid_t done = waitpid(m_pid, &status, WNOHANG);
      if (done == m_pid) {
        m_pid = -1;
        return true;
      }
      if (Clock::now() > deadline) return false;
      std::this_thread::sleep_for(20ms);
    }
    return false;
  }

  void Stop() {
    if (m_pid <= 0) return;
    int status = 0;
    kill(m_pid, SIGTERM);
    if (Wait(3s, status)) return;
    kill(m_pid, SIGKILL);
    Wait(3s, status);
  }

 private:
  pid_t m_pid = -1;
};

// Runs a command to its end (bounded) and returns its standard output; empty on failure.
std::string Capture(const std::vector<std::string>& argv, const std::vector<std::string>& env) {
  int pipeFds[2];
  if (pipe2(pipeFds, O_CLOEXEC) != 0) return {};
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDOUT_FILENO);
  const pid_t pid = Spawn(argv, env, actions);
  const int rc = pid > 0 ? 0 : -1;
  posix_spawn_file_actions_destroy(&actions);
  close(pipeFds[1]);
  std::string out;
  const auto deadline = Clock::now() + 10s;
  while (rc == 0 && Clock::now() < deadline) {
    pollfd fd{pipeFds[0], POLLIN, 0};
    if (poll(&fd, 1, 100) <= 0) continue;
    char buffer[256];
    const ssize_t got = read(pipeFds[0], buffer, sizeof buffer);
    if (got <= 0) break;
    out.append(buffer, static_cast<std::size_t>(got));
  }
  close(pipeFds[0]);
  if (rc == 0) {
    if (Clock::now() >= deadline) kill(pid, SIGKILL);
    int status = 0;
    waitpid(pid, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return {};
  }
  return out;
}

// An X server of our own (the first free display) with a window manager, so that windows
// get the keyboard focus.
class Desktop {
 public:
  bool Start(std::string& error) {
    int pipeFds[2];
    if (pipe(pipeFds) != 0) return Fail(error, "no pipe");
    const bool started = m_xvfb.Start({"Xvfb", "-displayfd", std::to_string(pipeFds[1]), "-screen", "0",
                                       "1024x768x24", "-dpi", "96", "-nolisten", "tcp"},
                                      Environment({}));  // inherits the pipe's write end
    close(pipeFds[1]);
    std::string number;
    const auto deadline = Clock::now() + kStartBound;
    while (started && Clock::now() < deadline && number.find('\n') == std::string::npos) {
      pollfd fd{pipeFds[0], POLLIN, 0};
      if (poll(&fd, 1, 100) <= 0) continue;
      char c = 0;
      if (read(pipeFds[0], &c, 1) != 1) break;
      number += c;
    }
    close(pipeFds[0]);
    if (number.find('\n') == std::string::npos) return Fail(error, "Xvfb did not start");
    m_display = ":" + number.substr(0, number.find('\n'));
    if (!m_openbox.Start({"openbox"}, Env())) return Fail(error, "openbox did not start");
    // The window manager is up once it has claimed the root window.
    while (Clock::now() < deadline) {
      if (Capture({"xprop", "-root", "_NET_SUPPORTING_WM_CHECK"}, Env()).find("window id") != std::string::npos) {
        // Xvfb starts with Num Lock off; the keypad's digits need it on.
        Capture({"xdotool", "key", "Num_Lock"}, Env());
        return true;
      }
      std::this_thread::sleep_for(50ms);
    }
    return Fail(error, "openbox did not take the display");
  }
  std::vector<std::string> Env(std::vector<std::string> more = {}) const {
    more.push_back("DISPLAY=" + m_display);
    return Environment(more);
  }

 private:
  static bool Fail(std::string& error, const char* why) {
    error = why;
    return false;
  }
  Child m_xvfb;
  Child m_openbox;
  std::string m_display;
};

// A key to type with xdotool and the panel key it must send.
struct TypedKey {
  const char* xdotoolKey;
  const char* panelKey;
};

class PanelEndToEndTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string error;
    ASSERT_TRUE(server.Start(error)) << error;
    ASSERT_TRUE(capture.Open(error)) << error;
    ASSERT_TRUE(desktop.Start(error)) << error;
    ASSERT_TRUE(profileHome.isValid());
    // A profile that is past its first run and names the capture port as the output.
    const auto services = CreateMidiServices();
    const std::int32_t device = capture.DeviceIn(*services);
    ASSERT_GE(device, 0) << "capture port not listed";
    QSettings profile(profileHome.filePath("Vellicor/Quillmark.conf"), QSettings::IniFormat);
    profile.setValue("Settings/MIDI Channel", 1);
    profile.setValue("Settings/TargetDeviceID", 5);
    profile.setValue("Settings/DisengageOnMinimize", 0);
    profile.setValue("Settings/MIDI Output Device", device);
    profile.sync();
    ASSERT_EQ(profile.status(), QSettings::NoError);
  }
  void TearDown() override {
    program.Stop();
    capture.Close();
    server.Stop();
  }

  std::string CountsPath() const { return profileHome.filePath("key-path-counts").toStdString(); }

  // Starts the program and waits until its window is the active one; the window's ID.
  std::string StartPanel() {
    std::remove(CountsPath().c_str());
    const std::string bin = QUILLMARK_BIN_DIR;
    if (!program.Start({bin + "/quillmark"},
                       desktop.Env({"XDG_CONFIG_HOME=" + profileHome.path().toStdString(), "QT_QPA_PLATFORM=xcb",
                                    "QUILLMARK_KEY_PATH_COUNTS=" + CountsPath()}),
                       bin)) {
      return {};
    }
    const std::string found =
        Capture({"xdotool", "search", "--sync", "--onlyvisible", "--name", "^Quillmark$"}, desktop.Env());
    const std::string window = found.substr(0, found.find('\n'));
    if (window.empty()) return {};
    Capture({"xdotool", "windowactivate", "--sync", window}, desktop.Env());
    const auto deadline = Clock::now() + kStartBound;
    while (Capture({"xdotool", "getactivewindow"}, desktop.Env()) != window + "\n") {
      if (Clock::now() > deadline) return {};
      std::this_thread::sleep_for(20ms);
    }
    return window;
  }

  // Types x until the window has taken one: a cxl message arrived. More of them may come
  // after; each is a key the program took and so counts, before the first key that does.
  bool WarmUp() {
    const std::size_t before = capture.Collect();
    for (int attempt = 0; attempt < 50; ++attempt) {
      Capture({"xdotool", "key", "x"}, desktop.Env());
      if (capture.WaitForEvents(before + 1, 100ms)) return true;
    }
    return false;
  }

  // Types the keys one every 50 to 70 ms, as a quick typist does.
  void Type(const std::vector<TypedKey>& keys, std::minstd_rand& random) {
    std::uniform_int_distribution<int> gap(50, 70);
    for (const TypedKey& key : keys) {
      const auto next = Clock::now() + std::chrono::milliseconds(gap(random));
      Capture({"xdotool", "key", key.xdotoolKey}, desktop.Env());
      std::this_thread::sleep_until(next);
    }
  }

  // Escape ends the program by itself, which then writes its counters.
  std::map<std::string, std::uint64_t> EndPanel() {
    Capture({"xdotool", "key", "Escape"}, desktop.Env());
    int status = -1;
    EXPECT_TRUE(program.Wait(kStartBound, status)) << "Escape did not end the program";
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    std::map<std::string, std::uint64_t> counts;
    std::ifstream file(CountsPath());
    std::string name;
    std::uint64_t value = 0;
    while (file >> name >> value) counts[name] = value;
    EXPECT_FALSE(counts.empty()) << "the program wrote no counters";
    return counts;
  }

  // What arrived since `from` must be a few cxl messages of the warm-up, then exactly the
  // expected keys' messages in order; and every key the program took must have become
  // exactly one message, none refused or reported.
  void CheckRun(std::size_t from, const std::vector<const char*>& expectedKeys,
                std::map<std::string, std::uint64_t> counts) {
    capture.WaitForCycles(8, kArrivalBound);
    const auto& events = capture.Events();
    const std::vector<std::uint8_t> cxl = DesignMessage(DesignKeyNamed("cxl"), 5);
    std::size_t first = from;
    while (first < events.size() && events[first].bytes == cxl) ++first;
    EXPECT_GT(first, from) << "the warm-up's key did not arrive first";
    std::vector<std::string> missing;
    std::size_t at = first;
    for (const char* key : expectedKeys) {
      if (at < events.size() && events[at].bytes == DesignMessage(DesignKeyNamed(key), 5)) {
        ++at;
      } else {
        missing.emplace_back(key);
      }
    }
    EXPECT_TRUE(missing.empty()) << "missing or wrong: " << ::testing::PrintToString(missing);
    EXPECT_EQ(events.size(), at) << "more arrived than was typed";
    const std::uint64_t taken = counts["keyboardKeys"] + counts["commandKeys"];
    EXPECT_EQ(events.size() - from, taken) << "keys the program took against messages that arrived";
    EXPECT_EQ(counts["sendsAccepted"], taken);
    EXPECT_EQ(counts["sendsReported"], 0u) << "a device error box was shown";
  }

  JackTestServer server;
  JackCapture capture;
  Desktop desktop;
  QTemporaryDir profileHome;
  Child program;
};

TEST_F(PanelEndToEndTest, TypedKeysAndAClickArriveAsTheirExactBytes) {
  const std::string window = StartPanel();
  ASSERT_FALSE(window.empty()) << "no active panel window";
  const std::size_t from = capture.Collect();
  ASSERT_TRUE(WarmUp()) << "the window never took a key";

  // Enter and E are ent and do not quit; shift and the keypad's Enter change nothing.
  const std::vector<TypedKey> keys = {
      {"p", "prog"},       {"KP_1", "1"}, {"KP_Decimal", "point"}, {"Return", "ent"},
      {"KP_Enter", "ent"}, {"e", "ent"},  {"Up", "up"},            {"Down", "down"},
      {"F4", "F4"},        {"r", "reset"}, {"shift+p", "prog"},    {"KP_Subtract", "minus"}};
  std::minstd_rand random(1);
  Type(keys, random);
  std::vector<const char*> expected;
  for (const TypedKey& key : keys) expected.push_back(key.panelKey);

  // Where the byp button sits, from the same template and fonts (both at 96 dpi).
  CPanelDlg layout;
  layout.layout()->activate();  // the client moves below the menu bar
  QWidget* byp = layout.Control(66);
  const QPoint centre = byp->mapTo(&layout, byp->rect().center());
  Capture({"xdotool", "mousemove", "--window", window, std::to_string(centre.x()), std::to_string(centre.y()),
           "click", "1"},
          desktop.Env());
  expected.push_back("byp");
  ASSERT_TRUE(capture.WaitForEvents(from + expected.size() + 1, kArrivalBound)) << "click on byp";

  CheckRun(from, expected, EndPanel());
}

// The keys of a quick typist, 20 times over, each time on a freshly started program: every
// one arrives, as its own bytes, in order. (Keys that found every buffer still away used
// to vanish without a word.)
TEST_F(PanelEndToEndTest, TwentyRunsOfQuicklyTypedKeysLoseNone) {
  const std::vector<TypedKey> keys = {
      {"p", "prog"},     {"f", "func"},        {"a", "para"},      {"KP_1", "1"},     {"KP_2", "2"},
      {"KP_3", "3"},     {"KP_4", "4"},        {"KP_5", "5"},      {"KP_6", "6"},     {"KP_7", "7"},
      {"KP_8", "8"},     {"KP_9", "9"},        {"KP_Decimal", "point"}, {"KP_0", "0"}, {"KP_Subtract", "minus"},
      {"Up", "up"},      {"Down", "down"},     {"x", "cxl"},       {"Return", "ent"}, {"r", "reset"},
      {"b", "byp"},      {"l", "level"},       {"F1", "F1"},       {"F2", "F2"},      {"F3", "F3"},
      {"F4", "F4"},      {"e", "ent"},         {"1", "1"}};  // the main keyboard's 1: the button's mnemonic
  std::vector<const char*> expected;
  for (const TypedKey& key : keys) expected.push_back(key.panelKey);
  std::minstd_rand random(23);
  for (int run = 1; run <= 20; ++run) {
    SCOPED_TRACE("run " + std::to_string(run));
    ASSERT_FALSE(StartPanel().empty()) << "no active panel window";
    const std::size_t from = capture.Collect();
    ASSERT_TRUE(WarmUp()) << "the window never took a key";
    Type(keys, random);
    CheckRun(from, expected, EndPanel());
    if (HasFailure()) break;
  }
}

}  // namespace
