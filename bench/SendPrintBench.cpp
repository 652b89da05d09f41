// `quillmark-send --print ent` against a C program that prints the same line
// (quillmark_print_ent), from exec to exit, as a script running it once a key pays for
// it. The two take turns, so the ratio holds on a noisy machine; the counters are the
// medians over the pairs. Both run with the profile in a folder of the benchmark's own.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

#ifndef QUILLMARK_BIN_DIR
#define QUILLMARK_BIN_DIR "."
#endif

// Runs the program with its output on /dev/null; its time in microseconds, or a
// negative number when it could not start or failed.
double TimeRun(std::vector<std::string> args) {
  std::vector<char*> argv;
  for (std::string& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  const auto started = Clock::now();
  pid_t pid = -1;
  const int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) return -1;
  int status = 0;
  // Both print one line and end; nothing here can wait on anything but the exit.
  waitpid(pid, &status, 0);
  const std::chrono::duration<double, std::micro> took = Clock::now() - started;
  return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? took.count() : -1;
}

double Median(std::vector<double> values) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

void BM_PrintEnt(benchmark::State& state) {
  char folder[] = "/tmp/quillmark-print-bench-XXXXXX";
  if (!mkdtemp(folder)) {
    state.SkipWithError("no temporary folder");
    return;
  }
  setenv("XDG_CONFIG_HOME", folder, 1);
  const std::vector<std::string> ours = {QUILLMARK_BIN_DIR "/quillmark-send", "--print", "ent"};
  const std::vector<std::string> plain = {QUILLMARK_BIN_DIR "/quillmark_print_ent"};
  std::vector<double> times[2];
  long failed = 0;
  for (auto _ : state) {
    for (int turn = 0; turn < 2; ++turn) {
      const double took = TimeRun(turn == 0 ? ours : plain);
      if (took < 0) {
        ++failed;
      } else {
        times[turn].push_back(took);
      }
    }
  }
  const double oursMedian = Median(times[0]);
  const double plainMedian = Median(times[1]);
  state.counters["quillmark_send_us"] = oursMedian;
  state.counters["c_program_us"] = plainMedian;
  state.counters["ratio"] = plainMedian > 0 ? oursMedian / plainMedian : 0;
  state.counters["failed_runs"] = static_cast<double>(failed);
  std::filesystem::remove_all(folder);
}
// 150 pairs; the goal is a ratio within 1.5.
BENCHMARK(BM_PrintEnt)->Iterations(150)->Unit(benchmark::kMillisecond);

}  // namespace
