// Cold start to the first paint on screen: the panel program against a minimal Qt dialog
// with the same 27 buttons, each started afresh per iteration, both in the same run on
// an X server of our own. The clock runs from the spawn to the first drawing into the
// new top-level window after it was mapped (the X DAMAGE extension reports it).
#include <X11/Xlib.h>
#include <X11/extensions/Xdamage.h>
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;
constexpr auto kBound = 20s;

pid_t Spawn(std::vector<std::string> argv, const std::vector<std::string>& env) {
  std::vector<char*> args;
  for (std::string& arg : argv) args.push_back(arg.data());
  args.push_back(nullptr);
  std::vector<std::string> envCopy = env;
  std::vector<char*> envp;
  for (std::string& entry : envCopy) envp.push_back(entry.data());
  envp.push_back(nullptr);
  pid_t pid = -1;
  if (posix_spawnp(&pid, args[0], nullptr, nullptr, args.data(), envp.data()) != 0) return -1;
  return pid;
}

void KillAndReap(pid_t pid) {
  if (pid <= 0) return;
  kill(pid, SIGKILL);
  int status = 0;
  waitpid(pid, &status, 0);
}

// Xvfb on the first free display, and our connection to it watching the root window for
// new top-level windows.
class XServer {
 public:
  XServer() {
    int fds[2];
    if (pipe(fds) != 0) return;
    m_pid = Spawn({"Xvfb", "-displayfd", std::to_string(fds[1]), "-screen", "0", "1024x768x24", "-dpi", "96",
                   "-nolisten", "tcp"},
                  InheritedEnvironment());
    close(fds[1]);
    std::string number;
    const auto deadline = Clock::now() + kBound;
    while (m_pid > 0 && Clock::now() < deadline && number.find('\n') == std::string::npos) {
      pollfd fd{fds[0], POLLIN, 0};
      if (poll(&fd, 1, 100) <= 0) continue;
      char c = 0;
      if (read(fds[0], &c, 1) != 1) break;
      number += c;
    }
    close(fds[0]);
    if (number.find('\n') == std::string::npos) return;
    m_name = ":" + number.substr(0, number.find('\n'));
    m_display = XOpenDisplay(m_name.c_str());
    int error = 0;
    if (!m_display || !XDamageQueryExtension(m_display, &m_damageEvent, &error)) return;
    XSelectInput(m_display, DefaultRootWindow(m_display), SubstructureNotifyMask);
    XSync(m_display, False);
  }
  ~XServer() {
    if (m_display) XCloseDisplay(m_display);
    KillAndReap(m_pid);
  }
  XServer(const XServer&) = delete;
  XServer& operator=(const XServer&) = delete;

  bool Ready() const { return m_display != nullptr && m_damageEvent != 0; }
  const std::string& Name() const { return m_name; }

  // Starts the program and returns the seconds to its first paint, or a negative number
  // when none came within the bound.
  double StartToFirstPaint(const std::vector<std::string>& argv, const std::vector<std::string>& env) {
    const auto start = Clock::now();
    const pid_t pid = Spawn(argv, env);
    std::map<Window, Damage> damages;
    Window mapped = 0;
    double seconds = -1;
    const auto deadline = start + kBound;
    while (pid > 0 && seconds < 0 && Clock::now() < deadline) {
      if (!XPending(m_display)) {
        pollfd fd{ConnectionNumber(m_display), POLLIN, 0};
        poll(&fd, 1, 100);
        continue;
      }
      XEvent event;
      XNextEvent(m_display, &event);
      if (event.type == CreateNotify && event.xcreatewindow.parent == DefaultRootWindow(m_display)) {
        // Watched from its creation: the first paint follows the map by a round trip.
        damages[event.xcreatewindow.window] =
            XDamageCreate(m_display, event.xcreatewindow.window, XDamageReportNonEmpty);
        XFlush(m_display);
      } else if (event.type == MapNotify && damages.count(event.xmap.window) && !mapped &&
                 !event.xmap.override_redirect) {
        mapped = event.xmap.window;
      } else if (event.type == m_damageEvent + XDamageNotify) {
        const auto& notify = reinterpret_cast<const XDamageNotifyEvent&>(event);
        if (notify.drawable == mapped) seconds = std::chrono::duration<double>(Clock::now() - start).count();
      }
    }
    KillAndReap(pid);
    // The damage objects went with the windows; drain what the ended program left.
    XSync(m_display, True);
    return seconds;
  }

  static std::vector<std::string> InheritedEnvironment() {
    std::vector<std::string> env;
    for (char** entry = environ; *entry; ++entry) env.emplace_back(*entry);
    return env;
  }

 private:
  pid_t m_pid = -1;
  std::string m_name;
  Display* m_display = nullptr;
  int m_damageEvent = 0;
};

// A private settings folder past the first run, so that the panel comes up alone.
std::string MakeProfile() {
  char folder[] = "/tmp/quillmark-startup-XXXXXX";
  if (!mkdtemp(folder)) return {};
  std::filesystem::create_directories(std::filesystem::path(folder) / "Vellicor");
  std::ofstream(std::filesystem::path(folder) / "Vellicor" / "Quillmark.conf") << "[Settings]\nMIDI%20Channel=1\n";
  return folder;
}

void BM_ColdStartToFirstPaint(benchmark::State& state) {
  XServer x;
  if (!x.Ready()) {
    state.SkipWithError("no Xvfb with the DAMAGE extension");
    return;
  }
  const std::string profile = MakeProfile();
  std::vector<std::string> env = XServer::InheritedEnvironment();
  env.push_back("DISPLAY=" + x.Name());
  env.push_back("QT_QPA_PLATFORM=xcb");
  env.push_back("XDG_CONFIG_HOME=" + profile);
  const std::string bin = QUILLMARK_BIN_DIR;
  double panel = 0;
  double dialog = 0;
  for (auto _ : state) {
    // Alternating, so that both see the same machine.
    const double d = x.StartToFirstPaint({bin + "/quillmark_minimal_dialog"}, env);
    const double p = x.StartToFirstPaint({bin + "/quillmark"}, env);
    if (d < 0 || p < 0) {
      state.SkipWithError("a window did not paint within the bound");
      break;
    }
    state.SetIterationTime(p);
    panel += p;
    dialog += d;
  }
  std::filesystem::remove_all(profile);
  const double n = static_cast<double>(state.iterations());
  state.counters["panel_ms"] = 1000 * panel / n;
  state.counters["dialog_ms"] = 1000 * dialog / n;
  state.counters["ratio"] = dialog > 0 ? panel / dialog : 0;
}
BENCHMARK(BM_ColdStartToFirstPaint)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(30);

}  // namespace

BENCHMARK_MAIN();
