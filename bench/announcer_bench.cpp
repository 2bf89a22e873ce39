// The announcer's speed: change events decided per second with
// announcements off, and the time from a change made in kelvosim to its
// queued sentence with announcements on. Needs ORVALIN_KELVOSIM.
#include <benchmark/benchmark.h>

#include <chrono>
#include <thread>

#include "announcer/announcer.h"
#include "testing/rig.h"

namespace orvalin {
namespace {

// The real waits: the benchmark measures the product as it runs.
std::unique_ptr<testrig::Rig> start(benchmark::State& bench) {
  std::string error;
  auto rig = testrig::Rig::start({"--load", "1=10"}, Timing{}, &error);
  if (!rig) bench.SkipWithError(error.c_str());
  return rig;
}

void BM_DecideWithAnnouncementsOff(benchmark::State& bench) {
  auto rig = start(bench);
  if (!rig) return;
  Announcer announcer(rig->shared_state(), setup_watches(rig->bridge()));
  rig->state().announce.store(0);
  Changed change{"[Channel1]", "pfl", 0};
  for (auto _ : bench) {
    change.value = change.value == 0 ? 1 : 0;
    benchmark::DoNotOptimize(announcer.decide(change));
  }
  bench.SetItemsProcessed(bench.iterations());
}
BENCHMARK(BM_DecideWithAnnouncementsOff);

void BM_ChangeToQueuedSentence(benchmark::State& bench) {
  auto rig = start(bench);
  if (!rig) return;
  LastValues values = setup_watches(rig->bridge());
  std::thread announcer([state = rig->shared_state(),
                         events = std::move(rig->events()),
                         values = std::move(values)]() mutable {
    run_announcer(state, std::move(events), std::move(values));
  });
  double pfl = 0;
  for (auto _ : bench) {
    pfl = pfl == 0 ? 1 : 0;
    rig->bridge().set("[Channel1]", "pfl", "value", pfl);
    if (!rig->next_speak()) {
      bench.SkipWithError("no sentence");
      break;
    }
  }
  rig->stop_sim();  // Disconnected ends the announcer
  announcer.join();
}
BENCHMARK(BM_ChangeToQueuedSentence)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace orvalin

BENCHMARK_MAIN();
