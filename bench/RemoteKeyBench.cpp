// A key from the remote page against a key typed on the panel, in one run, each from its
// start to its bytes at a JACK capture client (private server, dummy driver, 64-frame
// period). The page's key goes over TCP on the loopback to the page's server, through the
// hand-off to the user-interface thread and the same key routine; the panel's is a key
// event for the panel window, caught by its key pre-translation. Median and 99th
// percentile are reported as counters.
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QApplication>
#include <QtTest/QTest>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>

#include "JackTestKit.h"
#include "TestSettings.h"
#include "desktop/ManualUiQueue.h"
#include "midi/MidiXmit.h"
#include "midi/OutputStream.h"
#include "midi/backends/MidiBackends.h"
#include "remote/KeyTable.h"
#include "server/KeyDispatcher.h"
#include "server/RemoteServer.h"
#include "ui/qt/PanelDlg.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kArrivalBound = std::chrono::seconds(10);
constexpr char kToken[] = "0123456789abcdef0123456789abcdef";

double Percentile(std::vector<double> values, double fraction) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  return values[static_cast<std::size_t>(fraction * static_cast<double>(values.size() - 1) + 0.5)];
}

class SendKeyRoutine final : public KeyRoutine {
 public:
  KeyOutcome PressKey(const KeyRow& row) override {
    return PressWithErrorsCaught([](const KeyRow& key, void*) { return SendKey(key); }, row, nullptr);
  }
};

void PostKey(std::uint16_t port, const std::string& key) {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  const std::string request = "POST /key HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(port) +
                              "\r\nAuthorization: Bearer " + kToken + "\r\nContent-Length: " +
                              std::to_string(key.size()) + "\r\n\r\n" + key;
  if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
      write(fd, request.data(), request.size()) == static_cast<ssize_t>(request.size())) {
    char buffer[512];
    while (read(fd, buffer, sizeof buffer) > 0) {
    }
  }
  close(fd);
}

// state.range(0): 0 = a key from the page, 1 = a key typed on the panel.
void BM_KeyToCapture(benchmark::State& state) {
  const bool fromPage = state.range(0) == 0;
  JackTestServer server(64);
  JackCapture capture;
  std::string error;
  if (!server.Start(error) || !capture.Open(error)) {
    state.SkipWithError(error.c_str());
    return;
  }
  std::unique_ptr<MidiServices> services = CreateMidiServices();
  ManualUiQueue ui;
  TestSettings settings;
  StreamLibInit(services.get(), &ui);
  settings.midiOutDevice = capture.DeviceIn(*services);
  {
    CMidiXmit port;
    g_pMidiXmit = &port;
    CPanelDlg panel;
    SendKeyRoutine routine;
    KeyDispatcher dispatcher(ui, routine);
    RemoteServer remote(dispatcher);
    RemoteSettings remoteSettings;
    remoteSettings.pageEnabled = true;
    remoteSettings.pagePort = 0;
    remoteSettings.token = kToken;
    if (fromPage && !remote.Start(remoteSettings, error)) state.SkipWithError(error.c_str());
    // Each key waits after the last one arrived, as a user's next key would, and so the
    // page's key rate limit (20 a second) never refuses one.
    std::vector<double> microseconds;
    for (auto _ : state) {
      std::this_thread::sleep_for(std::chrono::milliseconds(60));
      ui.Pump();
      const std::size_t before = capture.Collect();
      const Clock::time_point pressed = Clock::now();
      std::atomic<bool> answered{!fromPage};
      std::thread phone;
      if (fromPage) {
        phone = std::thread([&] {
          PostKey(remote.PagePort(), "ent");
          answered = true;
        });
      } else {
        QTest::keyClick(&panel, Qt::Key_E);
      }
      const auto deadline = Clock::now() + kArrivalBound;
      while (capture.Collect() == before && Clock::now() < deadline) {
        ui.Pump();
        std::this_thread::yield();
      }
      if (phone.joinable()) {
        while (!answered) ui.Pump();
        phone.join();
      }
      if (capture.Events().size() == before) {
        state.SkipWithError("a key did not arrive");
        break;
      }
      const std::chrono::duration<double> latency = capture.Events().back().seen - pressed;
      state.SetIterationTime(latency.count());
      microseconds.push_back(latency.count() * 1e6);
      capture.ClearEvents();
    }
    state.counters["median_us"] = Percentile(microseconds, 0.5);
    state.counters["p99_us"] = Percentile(microseconds, 0.99);
    state.SetLabel(fromPage ? "page key" : "panel key");
    dispatcher.Close();
    remote.Stop();
    g_pMidiXmit = nullptr;
    port.ReleasePort();
  }
  StreamLibExit();
  capture.Close();
  server.Stop();
}
BENCHMARK(BM_KeyToCapture)->Arg(0)->Arg(1)->UseManualTime()->Iterations(150)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication application(argc, argv);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
