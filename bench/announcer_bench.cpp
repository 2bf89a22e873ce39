// The announcer's speed: change events decided per second with
// announcements off, and the time from a change made in kelvosim to its
// queued sentence with announcements on. Needs ORVALIN_KELVOSIM.
#include <benchmark/benchmark.h>

#include <chrono>
#include <thread>

#include "announcer/announcer.h"
#include "testing/kelvosim.h"

namespace orvalin {
namespace {

struct Rig {
  std::unique_ptr<KelvoSim> sim;
  Receiver<BridgeEvent> events;
  Receiver<SpeechCommand> speech;
  std::shared_ptr<AppState> state;
};

std::optional<Rig> start(benchmark::State& bench) {
  Rig rig;
  rig.sim = KelvoSim::start({"--load", "1=10"});
  if (!rig.sim) {
    bench.SkipWithError("kelvosim did not start (ORVALIN_KELVOSIM?)");
    return std::nullopt;
  }
  auto [event_sender, events] = make_channel<BridgeEvent>();
  auto bridge = Bridge::connect(
      rig.sim->port(), rig.sim->token(),
      std::chrono::steady_clock::now() + std::chrono::seconds(10),
      rig.sim->process(), std::move(event_sender));
  if (!bridge) {
    bench.SkipWithError(bridge.error().c_str());
    return std::nullopt;
  }
  auto [speech_sender, speech] = make_channel<SpeechCommand>();
  rig.events = std::move(events);
  rig.speech = std::move(speech);
  rig.state = std::make_shared<AppState>(Speech(std::move(speech_sender)),
                                         std::move(*bridge));
  return rig;
}

void BM_DecideWithAnnouncementsOff(benchmark::State& bench) {
  auto rig = start(bench);
  if (!rig) return;
  Announcer announcer(rig->state, setup_watches(*rig->state->bridge));
  rig->state->announce.store(0);
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
  LastValues values = setup_watches(*rig->state->bridge);
  std::thread announcer(
      [state = rig->state, events = std::move(rig->events),
       values = std::move(values)]() mutable {
        run_announcer(state, std::move(events), std::move(values));
      });
  double pfl = 0;
  for (auto _ : bench) {
    pfl = pfl == 0 ? 1 : 0;
    rig->state->bridge->set("[Channel1]", "pfl", "value", pfl);
    if (!rig->speech.recv_for(std::chrono::seconds(5))) {
      bench.SkipWithError("no sentence");
      break;
    }
  }
  rig->sim.reset();  // Disconnected ends the announcer
  announcer.join();
}
BENCHMARK(BM_ChangeToQueuedSentence)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace orvalin

BENCHMARK_MAIN();
