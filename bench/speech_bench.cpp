// The cost of say() for the thread that speaks: a log line (standard output
// and the log file) and a message on the speech queue, while the speech
// thread drains the queue. Callers must never wait for speech.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "applog/applog.h"
#include "speech/speech.h"

namespace orvalin {
namespace {

// log() prints every message; while a benchmark runs standard output goes to
// /dev/null so that the terminal is not measured. The benchmark's report is
// printed between runs and still reaches the real standard output.
class QuietStdout {
 public:
  QuietStdout() {
    std::fflush(stdout);
    saved_ = ::dup(STDOUT_FILENO);
    const int null = ::open("/dev/null", O_WRONLY);
    ::dup2(null, STDOUT_FILENO);
    ::close(null);
  }
  ~QuietStdout() {
    std::fflush(stdout);
    ::dup2(saved_, STDOUT_FILENO);
    ::close(saved_);
  }
  QuietStdout(const QuietStdout&) = delete;
  QuietStdout& operator=(const QuietStdout&) = delete;

 private:
  int saved_ = -1;
};

// The log file lives in a folder of its own under the temporary folder; the
// speech thread lives for the whole run, as in the program.
const Speech& speech() {
  static const Speech instance = [] {
    const std::filesystem::path base =
        std::filesystem::temp_directory_path() /
        ("orvalin-speech-bench-" + std::to_string(::getpid()));
    std::filesystem::create_directories(base);
    ::setenv("LOCALAPPDATA", base.c_str(), 1);
    {
      QuietStdout quiet;
      open_log();
    }
    return start_speech(Timing{});
  }();
  return instance;
}

void BM_Say(benchmark::State& state) {
  const Speech& handle = speech();
  QuietStdout quiet;
  for (auto _ : state) handle.say("Deck 1 playing");
}
BENCHMARK(BM_Say)->Repetitions(9)->ReportAggregatesOnly(true);

void BM_SayQueuedTwoThreads(benchmark::State& state) {
  const Speech& handle = speech();
  // Only the first thread redirects; the others share the process's stdout.
  std::optional<QuietStdout> quiet;
  if (state.thread_index() == 0) quiet.emplace();
  for (auto _ : state) handle.say_queued("Loop 4 beats");
}
BENCHMARK(BM_SayQueuedTwoThreads)
    ->Threads(2)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);

// The log line alone, the larger part of say().
void BM_LogLine(benchmark::State& state) {
  speech();
  QuietStdout quiet;
  for (auto _ : state) log("say: Deck 1 playing");
}
BENCHMARK(BM_LogLine)->Repetitions(5)->ReportAggregatesOnly(true);

// The queue alone: stop() writes no log line.
void BM_Stop(benchmark::State& state) {
  const Speech& handle = speech();
  for (auto _ : state) handle.stop();
}
BENCHMARK(BM_Stop)->Repetitions(5)->ReportAggregatesOnly(true);

// Each call timed on its own: the median and the tail a caller sees.
void BM_SayLatency(benchmark::State& state) {
  const Speech& handle = speech();
  QuietStdout quiet;
  std::vector<double> nanoseconds;
  nanoseconds.reserve(1 << 20);
  for (auto _ : state) {
    const auto start = std::chrono::steady_clock::now();
    handle.say("Deck 1 playing");
    const auto end = std::chrono::steady_clock::now();
    if (nanoseconds.size() < nanoseconds.capacity()) {
      nanoseconds.push_back(
          std::chrono::duration<double, std::nano>(end - start).count());
    }
  }
  if (nanoseconds.empty()) return;
  std::sort(nanoseconds.begin(), nanoseconds.end());
  const auto at = [&](double q) {
    return nanoseconds[static_cast<size_t>(q * (nanoseconds.size() - 1))];
  };
  state.counters["p50_ns"] = at(0.50);
  state.counters["p99_ns"] = at(0.99);
  state.counters["p999_ns"] = at(0.999);
  state.counters["max_ns"] = nanoseconds.back();
}
BENCHMARK(BM_SayLatency)->Iterations(200000);

}  // namespace
}  // namespace orvalin

BENCHMARK_MAIN();
