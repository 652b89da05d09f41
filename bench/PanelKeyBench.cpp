// A key press on the panel program to its bytes at a JACK capture client, against a plain
// X program that writes each key's message in the next cycle (quillmark_plain_key_sender).
// Both are real programs on an X server of our own with a window manager; the press is an
// XTest key event for the active window, timed from just before the request, and the
// arrival is the capture's process callback (private server, dummy driver, 64-frame
// period; jackd2, or PipeWire with QUILLMARK_JACK_SERVER=pipewire). E and X alternate, so
// a late message is never taken for the next one. A key whose message has not arrived
// within kLossBound counts as lost and the run goes on. Counters: median and 99th
// percentile, keys lost, and for the panel its median's ratio to the plain sender's (run
// first) and the plain sender's losses.
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>
#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <random>
#include <string>
#include <thread>

#include "DesignKeys.h"
#include "JackTestKit.h"
#include "PanelDesktop.h"
#include "midi/backends/MidiBackends.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
// Far beyond any arrival on a working path (a few cycles), far below a stall.
constexpr auto kLossBound = 250ms;
constexpr auto kStartBound = 30s;

double Percentile(std::vector<double> values, double fraction) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  return values[static_cast<std::size_t>(fraction * static_cast<double>(values.size() - 1) + 0.5)];
}

struct Baseline {
  double medianMicroseconds = 0;
  std::int64_t lost = -1;  // -1: not run
};
Baseline g_baseline;

class ProfileFolder {
 public:
  ProfileFolder() {
    std::string pattern = "/tmp/quillmark-bench-XXXXXX";
    if (mkdtemp(pattern.data())) m_path = pattern;
  }
  ~ProfileFolder() {
    if (m_path.empty()) return;
    std::remove((m_path + "/Vellicor/Quillmark.conf").c_str());
    rmdir((m_path + "/Vellicor").c_str());
    rmdir(m_path.c_str());
  }
  ProfileFolder(const ProfileFolder&) = delete;
  ProfileFolder& operator=(const ProfileFolder&) = delete;
  // Past its first run, device ID 5, the given output.
  bool Write(std::int32_t device) const {
    if (m_path.empty() || mkdir((m_path + "/Vellicor").c_str(), 0700) != 0) return false;
    std::ofstream file(m_path + "/Vellicor/Quillmark.conf");
    file << "[Settings]\nMIDI Channel=1\nTargetDeviceID=5\nDisengageOnMinimize=0\nMIDI Output Device=" << device
         << "\n";
    return static_cast<bool>(file.flush());
  }
  const std::string& Path() const { return m_path; }

 private:
  std::string m_path;
};

// Finds the window by its exact name and makes it the active one; false if it never is.
bool Activate(const Desktop& desktop, const std::string& name) {
  const std::string found =
      Capture({"xdotool", "search", "--sync", "--onlyvisible", "--name", "^" + name + "$"}, desktop.Env());
  const std::string window = found.substr(0, found.find('\n'));
  if (window.empty()) return false;
  Capture({"xdotool", "windowactivate", "--sync", window}, desktop.Env());
  const auto deadline = Clock::now() + kStartBound;
  while (Capture({"xdotool", "getactivewindow"}, desktop.Env()) != window + "\n") {
    if (Clock::now() > deadline) return false;
    std::this_thread::sleep_for(20ms);
  }
  return true;
}

// Waits (at most kLossBound from pressed) for a message with these bytes; its arrival time.
bool Arrival(JackCapture& capture, const std::vector<std::uint8_t>& bytes, Clock::time_point pressed,
             Clock::time_point& seen) {
  while (Clock::now() - pressed < kLossBound) {
    capture.Collect();
    for (const auto& event : capture.Events()) {
      if (event.bytes == bytes) {
        seen = event.seen;
        return true;
      }
    }
    std::this_thread::sleep_for(20us);
  }
  return false;
}

// state.range(0): 0 = the plain sender, 1 = the panel program.
void BM_KeyEventToCapture(benchmark::State& state) {
  const bool panel = state.range(0) == 1;
  JackTestServer server(64);
  JackCapture capture;
  Desktop desktop;
  ProfileFolder profile;
  std::string error;
  if (!server.Start(error) || !capture.Open(error) || !desktop.Start(error)) {
    state.SkipWithError(error.c_str());
    return;
  }
  const std::string bin = QUILLMARK_BIN_DIR;
  Child sender;
  if (panel) {
    const auto services = CreateMidiServices();
    if (!profile.Write(capture.DeviceIn(*services))) {
      state.SkipWithError("could not write the profile");
      return;
    }
    sender.Start({bin + "/quillmark"},
                 desktop.Env({"XDG_CONFIG_HOME=" + profile.Path(), "QT_QPA_PLATFORM=xcb"}), bin);
  } else {
    sender.Start({bin + "/quillmark_plain_key_sender", capture.PortName()}, desktop.Env());
  }
  Display* display = XOpenDisplay(desktop.Display().c_str());
  if (!display || !Activate(desktop, panel ? "Quillmark" : "plain-key-sender")) {
    if (display) XCloseDisplay(display);
    state.SkipWithError("the sender's window never became active");
    return;
  }
  const struct {
    unsigned keycode;
    std::vector<std::uint8_t> bytes;
  } keys[] = {{XKeysymToKeycode(display, XK_e), DesignMessage(DesignKeyNamed("ent"), 5)},
              {XKeysymToKeycode(display, XK_x), DesignMessage(DesignKeyNamed("cxl"), 5)}};
  const auto press = [&](unsigned keycode) {
    XTestFakeKeyEvent(display, keycode, True, CurrentTime);
    XTestFakeKeyEvent(display, keycode, False, CurrentTime);
    XFlush(display);
  };

  // Until the sender has its output open and the window takes keys.
  Clock::time_point seen;
  bool ready = false;
  for (int attempt = 0; attempt < 100 && !ready; ++attempt) {
    capture.ClearEvents();
    press(keys[0].keycode);
    ready = Arrival(capture, keys[0].bytes, Clock::now(), seen);
  }
  if (!ready) state.SkipWithError("no key of the warm-up arrived");
  std::this_thread::sleep_for(100ms);

  // A user's pace, spread over the JACK cycle.
  std::minstd_rand random(12345);
  std::uniform_int_distribution<int> pause(20'000, 60'000);
  std::vector<double> microseconds;
  std::int64_t lost = 0;
  std::size_t next = 0;
  for (auto _ : state) {
    std::this_thread::sleep_for(std::chrono::microseconds(pause(random)));
    capture.Collect();
    capture.ClearEvents();
    const auto& key = keys[next++ % 2];
    const Clock::time_point pressed = Clock::now();
    press(key.keycode);
    if (!Arrival(capture, key.bytes, pressed, seen)) {
      ++lost;
      state.SetIterationTime(std::chrono::duration<double>(kLossBound).count());
      continue;
    }
    const std::chrono::duration<double> latency = seen - pressed;
    state.SetIterationTime(latency.count());
    microseconds.push_back(latency.count() * 1e6);
  }
  const double median = Percentile(microseconds, 0.5);
  state.counters["median_us"] = median;
  state.counters["p99_us"] = Percentile(microseconds, 0.99);
  state.counters["lost"] = static_cast<double>(lost);
  if (!panel) {
    g_baseline = {median, lost};
  } else if (g_baseline.lost >= 0 && g_baseline.medianMicroseconds > 0) {
    state.counters["ratio_to_plain"] = median / g_baseline.medianMicroseconds;
    state.counters["plain_lost"] = static_cast<double>(g_baseline.lost);
  }
  state.SetLabel(panel ? "panel program" : "plain sender");

  sender.Stop();
  XCloseDisplay(display);
  capture.Close();
  server.Stop();
}
BENCHMARK(BM_KeyEventToCapture)->Arg(0)->Arg(1)->UseManualTime()->Iterations(300)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
