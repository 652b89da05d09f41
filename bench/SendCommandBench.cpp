// quillmark-send against the least a libjack program does (quillmark_plain_jack_sender),
// in the same run so the ratio holds on a noisy machine, on a private server of the kind
// the tests pick: jackd2, or PipeWire's JACK with
//   QUILLMARK_JACK_SERVER=pipewire LD_LIBRARY_PATH=/usr/lib/<arch>/pipewire-0.3/jack
// - exec to bytes: from starting the program to the ent message at the capture port; the
//   programs take turns, one key a run, as a script pressing keys one run at a time does;
// - loss under load: both send the same number of keys while busy threads keep every
//   core loaded (xruns on a shared machine).
// A key that does not arrive, or arrives more than once, is counted for its program: the
// wait for it ends a few cycles after the program has ended, never on a long timeout.
// Cycles the capture itself skipped are reported too: what was written in them is lost
// whoever wrote it.
#include <benchmark/benchmark.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "JackTestKit.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;
// Each program bounds its own run; this only keeps a hung one from stalling the benchmark.
constexpr auto kRunBound = std::chrono::seconds(20);
constexpr auto kCyclesBound = std::chrono::milliseconds(2000);

#ifndef QUILLMARK_BIN_DIR
#define QUILLMARK_BIN_DIR "."
#endif

pid_t Spawn(std::vector<std::string> args) {
  std::vector<char*> argv;
  for (std::string& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);
  pid_t pid = -1;
  if (posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0) return -1;
  return pid;
}

// Waits for the program to end (killing it past kRunBound); its exit status, -1 if none.
int Reap(pid_t pid) {
  const auto deadline = Clock::now() + kRunBound;
  int status = 0;
  while (waitpid(pid, &status, WNOHANG) == 0) {
    if (Clock::now() > deadline) {
      kill(pid, SIGKILL);
      waitpid(pid, &status, 0);
      return -1;
    }
    std::this_thread::sleep_for(std::chrono::microseconds(200));
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

double Median(std::vector<double> values) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

std::vector<std::string> QuillmarkSend(const std::string& port, long keys) {
  std::vector<std::string> args = {std::string(QUILLMARK_BIN_DIR) + "/quillmark-send", "--device", port};
  for (long i = 0; i < keys; ++i) args.emplace_back("ent");
  return args;
}

std::vector<std::string> PlainSender(const std::string& port, long keys) {
  return {std::string(QUILLMARK_BIN_DIR) + "/quillmark_plain_jack_sender", port, std::to_string(keys)};
}

struct Fixture {
  JackTestServer server{64};
  JackCapture capture;
  std::string error;
  bool Start() { return server.Start(error) && capture.Open(error); }
};

// What one program's runs came to.
struct Tally {
  std::vector<double> milliseconds;
  long lost = 0;
  long duplicated = 0;
  long failedRuns = 0;
};

void BM_ExecToBytes(benchmark::State& state) {
  Fixture fixture;
  if (!fixture.Start()) {
    state.SkipWithError(fixture.error.c_str());
    return;
  }
  const std::string port = fixture.capture.PortName();
  Tally tallies[2];
  for (auto _ : state) {
    for (int turn = 0; turn < 2; ++turn) {
      Tally& tally = tallies[turn];
      fixture.capture.Collect();
      fixture.capture.ClearEvents();
      const auto started = Clock::now();
      const pid_t pid = Spawn(turn == 0 ? QuillmarkSend(port, 1) : PlainSender(port, 1));
      if (Reap(pid) != 0) ++tally.failedRuns;
      fixture.capture.WaitForCycles(3, kCyclesBound);
      const auto& events = fixture.capture.Events();
      if (events.empty()) {
        ++tally.lost;
        continue;
      }
      tally.duplicated += static_cast<long>(events.size()) - 1;
      const std::chrono::duration<double, std::milli> took = events.front().seen - started;
      tally.milliseconds.push_back(took.count());
    }
  }
  const double ours = Median(tallies[0].milliseconds);
  const double plain = Median(tallies[1].milliseconds);
  state.counters["quillmark_send_ms"] = ours;
  state.counters["plain_sender_ms"] = plain;
  state.counters["ratio"] = plain > 0 ? ours / plain : 0;
  state.counters["lost_quillmark_send"] = static_cast<double>(tallies[0].lost);
  state.counters["lost_plain_sender"] = static_cast<double>(tallies[1].lost);
  state.counters["twice_quillmark_send"] = static_cast<double>(tallies[0].duplicated);
  state.counters["twice_plain_sender"] = static_cast<double>(tallies[1].duplicated);
  state.counters["failed_quillmark_send"] = static_cast<double>(tallies[0].failedRuns);
  state.counters["failed_plain_sender"] = static_cast<double>(tallies[1].failedRuns);
  state.counters["capture_skipped_cycles"] = static_cast<double>(fixture.capture.SkippedCycles());
  fixture.capture.Close();
  fixture.server.Stop();
}
// 200 runs of each: every one of quillmark-send's keys must arrive exactly once.
BENCHMARK(BM_ExecToBytes)->Iterations(200)->Unit(benchmark::kMillisecond);

void BM_LossUnderLoad(benchmark::State& state) {
  const long keys = state.range(0);
  Fixture fixture;
  if (!fixture.Start()) {
    state.SkipWithError(fixture.error.c_str());
    return;
  }
  const std::string port = fixture.capture.PortName();
  std::atomic<bool> stop{false};
  std::vector<std::jthread> load;
  for (unsigned i = 0; i < 2 * std::max(1u, std::thread::hardware_concurrency()); ++i) {
    load.emplace_back([&stop] {
      volatile unsigned long spin = 0;
      while (!stop.load(std::memory_order_relaxed)) spin = spin + 1;
    });
  }
  long lostOurs = 0, lostPlain = 0, extraOurs = 0, extraPlain = 0;
  for (auto _ : state) {
    for (int turn = 0; turn < 2; ++turn) {
      fixture.capture.Collect();
      fixture.capture.ClearEvents();
      Reap(Spawn(turn == 0 ? QuillmarkSend(port, keys) : PlainSender(port, keys)));
      fixture.capture.WaitForCycles(3, kCyclesBound);
      // The same message every time: a loss and a copy cancel out here, the single-key
      // runs above tell them apart.
      const long arrived = static_cast<long>(fixture.capture.Events().size());
      (turn == 0 ? lostOurs : lostPlain) += std::max(0L, keys - arrived);
      (turn == 0 ? extraOurs : extraPlain) += std::max(0L, arrived - keys);
    }
  }
  stop = true;
  load.clear();
  state.counters["keys_each"] = static_cast<double>(keys * state.iterations());
  state.counters["lost_quillmark_send"] = static_cast<double>(lostOurs);
  state.counters["lost_plain_sender"] = static_cast<double>(lostPlain);
  state.counters["extra_quillmark_send"] = static_cast<double>(extraOurs);
  state.counters["extra_plain_sender"] = static_cast<double>(extraPlain);
  state.counters["capture_xruns"] = fixture.capture.Xruns();
  state.counters["capture_skipped_cycles"] = static_cast<double>(fixture.capture.SkippedCycles());
  fixture.capture.Close();
  fixture.server.Stop();
}
BENCHMARK(BM_LossUnderLoad)->Arg(1000)->Iterations(3)->Unit(benchmark::kMillisecond);

}  // namespace
