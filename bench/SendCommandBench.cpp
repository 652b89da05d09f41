// quillmark-send against the least a libjack program does (quillmark_plain_jack_sender),
// in the same run so the ratio holds on a noisy machine, on a private server of the kind
// the tests pick (jackd2, or PipeWire's JACK with QUILLMARK_JACK_SERVER=pipewire):
// - exec to bytes: from starting the program to the ent message at the capture port;
//   the programs take turns;
// - loss under load: both send the same number of keys while busy threads keep every
//   core loaded (xruns on a shared machine); the keys that never arrive are counted.
#include <benchmark/benchmark.h>
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
constexpr auto kArrivalBound = std::chrono::seconds(5);

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

int Reap(pid_t pid) {
  int status = 0;
  waitpid(pid, &status, 0);
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

void BM_ExecToBytes(benchmark::State& state) {
  Fixture fixture;
  if (!fixture.Start()) {
    state.SkipWithError(fixture.error.c_str());
    return;
  }
  const std::string port = fixture.capture.PortName();
  std::vector<double> ours, plain;
  long lostOurs = 0, lostPlain = 0;
  for (auto _ : state) {
    for (int turn = 0; turn < 2; ++turn) {
      fixture.capture.Collect();
      fixture.capture.ClearEvents();
      const auto started = Clock::now();
      const pid_t pid = Spawn(turn == 0 ? QuillmarkSend(port, 1) : PlainSender(port, 1));
      const bool arrived = fixture.capture.WaitForEvents(1, std::chrono::duration_cast<std::chrono::milliseconds>(kArrivalBound));
      Reap(pid);
      if (!arrived) {
        ++(turn == 0 ? lostOurs : lostPlain);
        continue;
      }
      const std::chrono::duration<double, std::milli> took = fixture.capture.Events().front().seen - started;
      (turn == 0 ? ours : plain).push_back(took.count());
    }
  }
  state.counters["quillmark_send_ms"] = Median(ours);
  state.counters["plain_sender_ms"] = Median(plain);
  state.counters["ratio"] = Median(plain) > 0 ? Median(ours) / Median(plain) : 0;
  state.counters["lost_quillmark_send"] = static_cast<double>(lostOurs);
  state.counters["lost_plain_sender"] = static_cast<double>(lostPlain);
  fixture.capture.Close();
  fixture.server.Stop();
}
BENCHMARK(BM_ExecToBytes)->Iterations(60)->Unit(benchmark::kMillisecond);

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
  long lostOurs = 0, lostPlain = 0;
  for (auto _ : state) {
    for (int turn = 0; turn < 2; ++turn) {
      fixture.capture.Collect();
      fixture.capture.ClearEvents();
      const pid_t pid = Spawn(turn == 0 ? QuillmarkSend(port, keys) : PlainSender(port, keys));
      Reap(pid);
      fixture.capture.WaitForEvents(static_cast<std::size_t>(keys), std::chrono::milliseconds(500));
      const long lost = keys - static_cast<long>(fixture.capture.Collect());
      (turn == 0 ? lostOurs : lostPlain) += lost;
    }
  }
  stop = true;
  load.clear();
  state.counters["keys_each"] = static_cast<double>(keys * state.iterations());
  state.counters["lost_quillmark_send"] = static_cast<double>(lostOurs);
  state.counters["lost_plain_sender"] = static_cast<double>(lostPlain);
  state.counters["capture_xruns"] = fixture.capture.Xruns();
  fixture.capture.Close();
  fixture.server.Stop();
}
BENCHMARK(BM_LossUnderLoad)->Arg(1000)->Iterations(3)->Unit(benchmark::kMillisecond);

}  // namespace
