// Bridge speed: a get round trip against kelvosim and against a minimal
// plugin, beside a bare TCP ping-pong of lines of the same sizes on loopback
// that waits for its reply as the bridge does (the ratios are printed at the
// end; the minimal plugin's, from round trips measured side by side, must
// stay at most 1.38), requests per second from 4 threads,
// change events per second from plugin to consumer, and the time from a
// Ctrl+Alt+T press to its speech call against the minimal plugin beside as
// many bare round trips as it makes requests (p50 and p99 of each, printed
// at the end).
//
// kelvosim is found through ORVALIN_KELVOSIM, else beside this program's
// build folder (../tools/kelvosim/kelvosim).
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <map>
#include <mutex>
#include <nlohmann/json.hpp>

#include "base/os.h"
#include "base/thread.h"
#include "bridge/bridge.h"
#include "net/lines.h"
#include "net/socket.h"
#include "testing/kelvosim.h"
#include "testing/rig.h"

namespace orvalin {
namespace {

using namespace std::chrono_literals;

const std::string kRequestLine =
    R"({"cmd":"get","group":"[Channel1]","id":1000,"key":"play","prop":"value"})"
    "\n";
const std::string kReplyLine = R"({"id":1000,"ok":true,"value":0.0})"
                               "\n";

// A one-connection loopback server on its own thread that answers every
// line with what `answer` returns (nothing when empty).
class LineServer {
 public:
  using Answer = std::function<std::string(const std::string& line)>;

  explicit LineServer(Answer answer) {
    auto listener = listen_loopback(0);
    if (!listener) {
      std::fprintf(stderr, "listen: %s\n", listener.error().c_str());
      std::exit(1);
    }
    port_ = (*listener)->port();
    std::shared_ptr<Listener> shared = std::move(*listener);
    auto stream = stream_;
    spawn_detached(
        "",
        [shared, stream, answer] {
          auto accepted = shared->accept();
          if (!accepted) return;
          stream->set(std::move(*accepted));
          LineReader lines(stream->get());
          while (auto line = lines.next()) {
            const std::string reply = answer(std::string(*line));
            if (!reply.empty()) stream->send(reply);
          }
        },
        "spawn bench server");
  }

  uint16_t port() const { return port_; }
  // Writes raw bytes to the client (once it has connected).
  void send(std::string_view bytes) { stream_->send(bytes); }

 private:
  struct Shared {
    std::mutex mutex;  // guards sends
    std::unique_ptr<Stream> stream;
    std::condition_variable ready;
    void set(std::unique_ptr<Stream> s) {
      std::lock_guard lock(mutex);
      stream = std::move(s);
      ready.notify_all();
    }
    Stream& get() {
      std::unique_lock lock(mutex);
      ready.wait(lock, [&] { return stream != nullptr; });
      return *stream;
    }
    void send(std::string_view bytes) {
      Stream& s = get();
      std::lock_guard lock(mutex);
      (void)send_all(s, bytes);
    }
  };
  std::shared_ptr<Shared> stream_ = std::make_shared<Shared>();
  uint16_t port_ = 0;
};

// Answers the hello and every request with ok and value 0.0, taking the id
// from the line without a full parse.
std::string minimal_answer(const std::string& line) {
  const size_t at = line.find("\"id\":");
  if (at == std::string::npos) return {};
  const size_t start = at + 5;
  const size_t end = line.find_first_not_of("0123456789", start);
  const std::string id = line.substr(start, end - start);
  if (line.find("\"cmd\":\"hello\"") != std::string::npos) {
    return "{\"id\":" + id + ",\"ok\":true}\n";
  }
  return "{\"id\":" + id + ",\"ok\":true,\"value\":0.0}\n";
}

std::shared_ptr<Bridge> connect_or_die(uint16_t port, const std::string& token,
                                       std::shared_ptr<Process> process,
                                       Sender<BridgeEvent> events) {
  auto bridge =
      Bridge::connect(port, token, std::chrono::steady_clock::now() + 30s,
                      std::move(process), std::move(events));
  if (!bridge) {
    std::fprintf(stderr, "connect: %s\n", bridge.error().c_str());
    std::exit(1);
  }
  return *bridge;
}

// One kelvosim and one bridge to it for the whole run.
struct SimBridge {
  std::unique_ptr<KelvoSim> sim;
  Receiver<BridgeEvent> events;
  std::shared_ptr<Bridge> bridge;
};

// Made on first use, ended by main() so that the simulator is stopped.
std::unique_ptr<SimBridge> g_sim_bridge;
std::once_flag g_sim_bridge_once;

SimBridge& sim_bridge() {
  std::call_once(g_sim_bridge_once, [] {
    if (!get_env("ORVALIN_KELVOSIM")) {
      if (auto self = executable_path()) {
        const auto guess =
            self->parent_path().parent_path() / "tools/kelvosim/kelvosim";
        setenv("ORVALIN_KELVOSIM", guess.c_str(), 1);
      }
    }
    auto made = std::make_unique<SimBridge>();
    made->sim = KelvoSim::start({});
    if (!made->sim) std::exit(1);
    auto [events, received] = make_channel<BridgeEvent>();
    made->events = std::move(received);
    made->bridge = connect_or_die(made->sim->port(), made->sim->token(),
                                  made->sim->process(), events);
    g_sim_bridge = std::move(made);
  });
  return *g_sim_bridge;
}

void BM_BridgeGetKelvoSim(benchmark::State& state) {
  Bridge& bridge = *sim_bridge().bridge;
  for (auto _ : state) {
    auto value = bridge.get("[Channel1]", "play");
    if (!value) state.SkipWithError(value.error().c_str());
  }
}
BENCHMARK(BM_BridgeGetKelvoSim)->UseRealTime();

// A bare ping-pong of the bridge's line sizes that waits as the bridge's
// requester does: a reader thread blocked in recv hands each reply over,
// and the requester spins for up to 100 us before it sleeps on the hand-over
// (the bridge's wait for a request alone on the link). Only the bridge's own
// work is left out.
class BarePingPong {
 public:
  BarePingPong() : server_([](const std::string&) { return kReplyLine; }) {
    auto stream = connect_loopback(server_.port());
    if (!stream) std::exit(1);
    client_ = std::move(*stream);
    auto reader = client_->clone();
    if (!reader) std::exit(1);
    std::shared_ptr<Stream> shared_reader = std::move(*reader);
    spawn_detached(
        "",
        [handover = handover_, shared_reader] {
          LineReader lines(*shared_reader);
          while (lines.next()) handover->fill();
        },
        "spawn bench reader");
  }

  bool round_trip() {
    if (!send_all(*client_, kRequestLine)) return false;
    return handover_->wait(++sent_);
  }

 private:
  struct Handover {
    std::mutex mutex;  // guards nothing but the wake-up; replies is atomic
    std::condition_variable ready;
    std::atomic<uint64_t> replies{0};
    void fill() {
      {
        std::lock_guard lock(mutex);
        replies.fetch_add(1, std::memory_order_release);
      }
      ready.notify_one();
    }
    bool wait(uint64_t want) {
      const auto got = [&] {
        return replies.load(std::memory_order_acquire) >= want;
      };
      const auto start = std::chrono::steady_clock::now();
      while (!got() && std::chrono::steady_clock::now() - start < 100us) {
        std::this_thread::yield();
      }
      std::unique_lock lock(mutex);
      return ready.wait_until(lock, start + 3s, got);
    }
  };
  LineServer server_;
  std::unique_ptr<Stream> client_;
  std::shared_ptr<Handover> handover_ = std::make_shared<Handover>();
  uint64_t sent_ = 0;
};

BarePingPong& bare_ping_pong() {
  static BarePingPong ping_pong;
  return ping_pong;
}

void BM_TcpPingPong(benchmark::State& state) {
  BarePingPong& ping_pong = bare_ping_pong();
  for (auto _ : state) {
    if (!ping_pong.round_trip()) state.SkipWithError("ping-pong broke");
  }
}
BENCHMARK(BM_TcpPingPong)->UseRealTime();

double percentile(std::vector<double> values, double share) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  const auto at =
      static_cast<size_t>(share * static_cast<double>(values.size()));
  return values[std::min(at, values.size() - 1)];
}

// A get through the bridge to the minimal plugin, each followed by a bare
// round trip: on a shared machine the load drifts between benchmarks, so
// the ratio is taken from the medians of the two measured side by side.
void BM_BridgeGetMinimalPlugin(benchmark::State& state) {
  static LineServer server(minimal_answer);
  static auto events = make_channel<BridgeEvent>();
  static std::shared_ptr<Bridge> bridge =
      connect_or_die(server.port(), "token", nullptr, events.first);
  BarePingPong& ping_pong = bare_ping_pong();
  std::vector<double> gets, bare;
  for (auto _ : state) {
    const auto start = std::chrono::steady_clock::now();
    auto value = bridge->get("[Channel1]", "play");
    const auto got = std::chrono::steady_clock::now();
    const bool bare_ok = ping_pong.round_trip();
    const auto done = std::chrono::steady_clock::now();
    if (!value || !bare_ok) {
      state.SkipWithError(value ? "ping-pong broke" : value.error().c_str());
      break;
    }
    gets.push_back(
        std::chrono::duration<double, std::micro>(got - start).count());
    bare.push_back(
        std::chrono::duration<double, std::micro>(done - got).count());
  }
  state.counters["get_p50_us"] = percentile(gets, 0.50);
  state.counters["bare_p50_us"] = percentile(bare, 0.50);
}
BENCHMARK(BM_BridgeGetMinimalPlugin)->UseRealTime();

// Ctrl+Alt+T ("say time": three gets, the deck's track_loaded and its two
// times, and no fixed wait) from the press to the speech call, through the
// action worker and a bridge to the minimal plugin with a track on every
// deck; each press is followed by as many bare round trips, so that both
// figures come from the same moments of the machine.
void BM_KeyToSpeech(benchmark::State& state) {
  static LineServer server([](const std::string& line) {
    std::string reply = minimal_answer(line);
    if (line.find("\"track_loaded\"") != std::string::npos) {
      reply.replace(reply.find("0.0"), 3, "1.0");
    }
    return reply;
  });
  static auto events = make_channel<BridgeEvent>();
  static std::shared_ptr<Bridge> bridge =
      connect_or_die(server.port(), "token", nullptr, events.first);
  BarePingPong& ping_pong = bare_ping_pong();
  const std::vector<KeyAction> actions = testrig::builtin_actions();
  const auto key =
      std::find_if(actions.begin(), actions.end(),
                   [](const KeyAction& a) { return a.key == "ctrl+alt+t"; });
  if (key == actions.end()) {
    state.SkipWithError("no ctrl+alt+t among the built-in keys");
    return;
  }
  const uint64_t index = static_cast<uint64_t>(key - actions.begin());
  auto [speech, spoken] = make_channel<SpeechCommand>();
  auto app = std::make_shared<AppState>(Speech(std::move(speech)), bridge);
  auto [presses, queue] = make_channel<KeyPress>();
  std::thread worker([app, actions, queue = std::move(queue)]() mutable {
    run_action_worker(app, actions, std::move(queue));
  });
  std::vector<double> to_speech, bare;
  for (auto _ : state) {
    const auto made = std::chrono::steady_clock::now();
    presses.send(KeyPress{index, made});
    auto said = spoken.recv_for(10s);
    const auto heard = std::chrono::steady_clock::now();
    if (!said || !std::holds_alternative<Speak>(*said)) {
      state.SkipWithError("nothing was said");
      break;
    }
    const auto paused = std::chrono::steady_clock::now();
    const bool bare_ok = ping_pong.round_trip() && ping_pong.round_trip() &&
                         ping_pong.round_trip();
    const auto done = std::chrono::steady_clock::now();
    if (!bare_ok) {
      state.SkipWithError("ping-pong broke");
      break;
    }
    to_speech.push_back(
        std::chrono::duration<double, std::micro>(heard - made).count());
    bare.push_back(
        std::chrono::duration<double, std::micro>(done - paused).count());
  }
  presses.reset();
  worker.join();
  state.counters["p50_us"] = percentile(to_speech, 0.50);
  state.counters["p99_us"] = percentile(to_speech, 0.99);
  state.counters["bare3_p50_us"] = percentile(bare, 0.50);
  state.counters["bare3_p99_us"] = percentile(bare, 0.99);
}
// A fixed count: every press logs its sentence, as the program does.
BENCHMARK(BM_KeyToSpeech)->UseRealTime()->Iterations(5000);

void BM_BridgeGetKelvoSimThreads(benchmark::State& state) {
  Bridge& bridge = *sim_bridge().bridge;
  const std::string group =
      "[Channel" + std::to_string(state.thread_index() % 4 + 1) + "]";
  for (auto _ : state) {
    auto value = bridge.get(group, "volume");
    if (!value) state.SkipWithError(value.error().c_str());
  }
  state.counters["requests/s"] = benchmark::Counter(
      static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_BridgeGetKelvoSimThreads)->Threads(4)->UseRealTime();

// Change events from a plugin that writes them as fast as the socket takes
// them, counted when the consumer has received them.
void BM_ChangeEvents(benchmark::State& state) {
  static LineServer server(minimal_answer);
  static auto events = make_channel<BridgeEvent>();
  static std::shared_ptr<Bridge> bridge =
      connect_or_die(server.port(), "token", nullptr, events.first);
  // The reader passes on changes of watched controls only.
  static const bool watched = [] {
    LastValues last;
    bridge->watch("[Channel1]", "playposition", last);
    return true;
  }();
  (void)watched;
  constexpr int kBatch = 1000;
  std::string batch;
  for (int i = 0; i < kBatch; ++i) {
    batch +=
        R"({"event":"changed","group":"[Channel1]","key":"playposition","value":0.)" +
        std::to_string(100000 + i) + "}\n";
  }
  Receiver<BridgeEvent>& consumer = events.second;
  for (auto _ : state) {
    server.send(batch);
    for (int i = 0; i < kBatch; ++i) {
      auto event = consumer.recv_for(10s);
      if (!event || !std::holds_alternative<Changed>(*event)) {
        state.SkipWithError("event lost");
        break;
      }
    }
  }
  state.counters["events/s"] =
      benchmark::Counter(static_cast<double>(state.iterations() * kBatch),
                         benchmark::Counter::kIsRate);
}
BENCHMARK(BM_ChangeEvents)->UseRealTime();

// The console report plus the round-trip ratios.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs) {
      times_[run.benchmark_name()] = run.GetAdjustedRealTime();
      for (const auto& [name, counter] : run.counters) {
        counters_[run.run_name.function_name + "." + name] = counter.value;
      }
    }
  }
  void Finalize() override {
    ConsoleReporter::Finalize();
    auto ratio = [&](const std::string& name) {
      auto it = times_.find(name);
      auto base = times_.find("BM_TcpPingPong/real_time");
      if (it == times_.end() || base == times_.end() || base->second <= 0) {
        return;
      }
      std::printf("%s / bare TCP ping-pong: %.2f (at most 1.38)\n",
                  name.c_str(), it->second / base->second);
    };
    ratio("BM_BridgeGetKelvoSim/real_time");
    auto counter = [&](const std::string& name) { return counters_[name]; };
    if (counters_.contains("BM_BridgeGetMinimalPlugin.bare_p50_us")) {
      const double get = counter("BM_BridgeGetMinimalPlugin.get_p50_us");
      const double bare = counter("BM_BridgeGetMinimalPlugin.bare_p50_us");
      std::printf(
          "BM_BridgeGetMinimalPlugin / bare round trip beside it (medians): "
          "%.2f (at most 1.38); %.1f us / %.1f us\n",
          bare > 0 ? get / bare : 0.0, get, bare);
    }
    if (counters_.contains("BM_KeyToSpeech.p50_us")) {
      std::printf(
          "Ctrl+Alt+T to speech call (minimal plugin): p50 %.1f us, p99 %.1f "
          "us; three bare round trips: p50 %.1f us, p99 %.1f us\n",
          counter("BM_KeyToSpeech.p50_us"), counter("BM_KeyToSpeech.p99_us"),
          counter("BM_KeyToSpeech.bare3_p50_us"),
          counter("BM_KeyToSpeech.bare3_p99_us"));
    }
  }

 private:
  std::map<std::string, double> times_;
  // "<benchmark function>.<counter>" of the last run of each
  std::map<std::string, double> counters_;
};

}  // namespace
}  // namespace orvalin

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  orvalin::RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  orvalin::g_sim_bridge.reset();
  return 0;
}
