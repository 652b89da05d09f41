// The real program, as a user runs it: quillmark on an X server of its own with a window
// manager (Num Lock on), a private JACK server with the dummy driver and a capture client.
// Keys are typed and a button is clicked with xdotool; each must arrive as its exact bytes
// (those of DesignKeys.h, for the profile's device ID 5), and every key the program took (it
// writes its key-path counters at exit) must have become exactly one message.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <QDir>
#include <QLayout>
#include <QPushButton>
#include <QSettings>
#include <QTemporaryDir>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "DesignKeys.h"
#include "JackTestKit.h"
#include "PanelDesktop.h"
#include "settings/PrefsDlg.h"
#include "midi/backends/MidiBackends.h"
#include "ui/qt/PanelDlg.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// Bounds for steps that take well under a second on an idle machine.
constexpr auto kStartBound = 30s;
constexpr auto kArrivalBound = 20s;

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

// The keys of a quick typist, 20 times over (QUILLMARK_PANEL_RUNS: the sanitizer builds run
// fewer), each time on a freshly started program: every one arrives, as its own bytes, in
// order. (Keys that found every buffer still away used to vanish without a word.)
TEST_F(PanelEndToEndTest, QuicklyTypedKeysLoseNoneRunAfterRun) {
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
  const char* runsWanted = std::getenv("QUILLMARK_PANEL_RUNS");
  const int runs = runsWanted ? std::max(1, std::atoi(runsWanted)) : 20;
  for (int run = 1; run <= runs; ++run) {
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
