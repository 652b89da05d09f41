// Key routine to arrival over a real transport (the panel's whole path, from a real key
// event, is PanelKeyBench.cpp): the ent key from SendKey through the engine and the JACK
// backend to a capture client on a private server with the dummy driver and
// a 64-frame period. Each iteration's time is that latency; median, 99th percentile and
// the keys lost are reported as counters.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <random>
#include <thread>

#include "JackTestKit.h"
#include "desktop/ManualUiQueue.h"
#include "TestSettings.h"
#include "midi/MidiXmit.h"
#include "midi/OutputStream.h"
#include "midi/backends/MidiBackends.h"
#include "remote/KeyTable.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kArrivalBound = std::chrono::seconds(10);
// A key not at the capture by then is lost: far beyond a few cycles, far below a stall.
constexpr auto kLossBound = std::chrono::milliseconds(250);

double Percentile(std::vector<double> values, double fraction) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  const auto index = static_cast<std::size_t>(fraction * static_cast<double>(values.size() - 1) + 0.5);
  return values[index];
}

void BM_JackKeyPressToCapture(benchmark::State& state) {
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
  CMidiXmit port;
  g_pMidiXmit = &port;
  const KeyRow& ent = *FindKeyByName("ent");

  // Each press comes right after the previous arrival, that is just after a cycle; a
  // random pause of up to two periods spreads the presses over the cycle as a user's would.
  std::minstd_rand random(12345);
  std::uniform_int_distribution<int> pause(0, 2 * 64 * 1'000'000 / 48'000);
  std::vector<double> microseconds;
  std::int64_t lost = 0;
  for (auto _ : state) {
    std::this_thread::sleep_for(std::chrono::microseconds(pause(random)));
    const std::size_t before = capture.Collect();
    Clock::time_point pressed;
    // A refusal means earlier buffers are still on their way back; the press that counts
    // is the accepted one.
    do {
      pressed = Clock::now();
      if (SendKey(ent) == 1) break;
      ui.Pump();
      std::this_thread::yield();
    } while (Clock::now() - pressed < kArrivalBound);
    ui.Pump();
    const auto deadline = Clock::now() + kLossBound;
    while (capture.Collect() == before && Clock::now() < deadline) std::this_thread::yield();
    if (capture.Events().size() == before) {
      // Counted and passed over (PipeWire loses a message now and then); a late arrival
      // is cleared with the next press.
      ++lost;
      state.SetIterationTime(std::chrono::duration<double>(kLossBound).count());
      capture.ClearEvents();
      continue;
    }
    const std::chrono::duration<double> latency = capture.Events().back().seen - pressed;
    state.SetIterationTime(latency.count());
    microseconds.push_back(latency.count() * 1e6);
    capture.ClearEvents();
  }
  state.counters["median_us"] = Percentile(microseconds, 0.5);
  state.counters["p99_us"] = Percentile(microseconds, 0.99);
  state.counters["lost"] = static_cast<double>(lost);

  g_pMidiXmit = nullptr;
  port.ReleasePort();
  StreamLibExit();
  capture.Close();
  server.Stop();
}
BENCHMARK(BM_JackKeyPressToCapture)->UseManualTime()->Iterations(2000)->Unit(benchmark::kMicrosecond);

}  // namespace
