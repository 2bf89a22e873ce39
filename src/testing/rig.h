// Test rig (tests and benchmarks only, never the program): a kelvosim, a
// real bridge to it, an AppState on that bridge with the waits of
// quick_timing() and its speech captured, the built-in binding table, and
// a fresh action worker per batch of presses. One thread (the test's).
#pragma once

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "actions/actions.h"
#include "base/channel.h"
#include "base/timing.h"
#include "bridge/bridge.h"
#include "config/config.h"
#include "controls/appstate.h"
#include "speech/speech.h"
#include "testing/kelvosim.h"

namespace orvalin::testrig {

// The run's waits cut short. Read-backs still outlast the simulator's own
// delays (a refused switch or an empty deck's play drops back after 50 ms),
// and keep the order of the real ones where the product relies on it (the
// Auto DJ settle outlasts the toggle read-back). Quiet times that tests look
// at keep their real length.
inline Timing quick_timing() {
  using std::chrono::milliseconds;
  Timing t;
  t.pulse_hold = milliseconds(5);
  t.report_delay = milliseconds(60);
  t.marker_delay = milliseconds(60);
  t.toggle_delay = milliseconds(100);
  t.tap_quiet = milliseconds(700);
  t.settle = milliseconds(30);
  t.hotcue_settle = milliseconds(5);
  t.track_settle = milliseconds(10);
  t.autodj_settle = milliseconds(150);
  t.time_warning_poll = milliseconds(10);
  t.kelvo_exit_grace = milliseconds(50);
  t.connect_poll = milliseconds(10);
  t.reply_wait = milliseconds(1000);
  return t;
}

inline std::vector<KeyAction> builtin_actions() {
  auto tables = build_binding_tables(builtin_config().keys);
  return tables ? tables->actions : std::vector<KeyAction>{};
}

// What was sent to `speech` so far, without waiting: interrupting speech
// as the text, queued speech as "queued: " + text, a stop as "<stop>" and
// settings as "<settings: reader>" or "<settings: reader, braille>".
inline std::vector<std::string> spoken_texts(Receiver<SpeechCommand>& speech) {
  std::vector<std::string> texts;
  while (auto command = speech.try_recv()) {
    if (auto* speak = std::get_if<Speak>(&*command)) {
      texts.push_back(speak->interrupt ? speak->text
                                       : "queued: " + speak->text);
    } else if (auto* settings = std::get_if<SpeechSettings>(&*command)) {
      texts.push_back("<settings: " +
                      std::string(screen_reader_name(settings->screen_reader)) +
                      (settings->braille ? ", braille>" : ">"));
    } else {
      texts.push_back("<stop>");
    }
  }
  return texts;
}

class Rig {
 public:
  // nullptr when kelvosim or the bridge cannot start (why: `error`, and on
  // standard error, so that a failed start in a test says why). The
  // hand-shake gets the run's own reply wait whatever `timing` says.
  static std::unique_ptr<Rig> start(std::vector<std::string> options = {},
                                    Timing timing = quick_timing(),
                                    std::string* error = nullptr) {
    std::unique_ptr<Rig> rig(new Rig);
    auto failed = [&](std::string text) {
      std::fprintf(stderr, "rig: %s\n", text.c_str());
      if (error) *error = std::move(text);
      return nullptr;
    };
    rig->sim_ = KelvoSim::start(std::move(options));
    if (!rig->sim_) return failed("kelvosim did not start (ORVALIN_KELVOSIM?)");
    auto [events, events_rx] = make_channel<BridgeEvent>();
    rig->events_ = std::move(events_rx);
    BridgeTiming set_up = BridgeTiming::of(timing);
    set_up.hello_wait = Timing{}.reply_wait;
    auto bridge = Bridge::connect(
        rig->sim_->port(), rig->sim_->token(),
        std::chrono::steady_clock::now() + std::chrono::seconds(10),
        rig->sim_->process(), std::move(events), set_up);
    if (!bridge) return failed("bridge: " + bridge.error());
    auto [speech, speech_rx] = make_channel<SpeechCommand>();
    rig->speech_ = std::move(speech_rx);
    rig->state_ =
        std::make_shared<AppState>(Speech(std::move(speech)), *bridge, timing);
    rig->builtin_ = builtin_actions();
    return rig;
  }

  AppState& state() { return *state_; }
  std::shared_ptr<AppState> shared_state() { return state_; }
  Bridge& bridge() { return *state_->bridge; }
  KelvoSim& sim() const { return *sim_; }
  // Kelvo goes away: the bridge sees Disconnected, requests fail.
  void stop_sim() { sim_.reset(); }
  Receiver<BridgeEvent>& events() { return events_; }
  const std::vector<KeyAction>& builtin() const { return builtin_; }

  // The index of a built-in key ("ctrl+alt+p"); past the end when unknown.
  uint64_t index_of(std::string_view key) const {
    return std::ranges::find(builtin_, key, &KeyAction::key) - builtin_.begin();
  }

  // Runs the presses through a fresh worker over `table`, waits until it has
  // handled all of them and returns what it spoke (see spoken()).
  std::vector<std::string> run_presses(const std::vector<KeyAction>& table,
                                       std::vector<KeyPress> presses) {
    auto [queue, queue_rx] = make_channel<KeyPress>();
    std::thread worker([&, queue_rx = std::move(queue_rx)]() mutable {
      run_action_worker(state_, table, std::move(queue_rx));
    });
    for (KeyPress& press : presses) queue.send(std::move(press));
    queue.reset();
    worker.join();
    return spoken();
  }

  // Presses built-in keys in order.
  std::vector<std::string> press(std::vector<std::string_view> keys) {
    std::vector<KeyPress> presses;
    for (std::string_view key : keys) {
      presses.push_back({index_of(key), Clock::now()});
    }
    return run_presses(builtin_, std::move(presses));
  }

  // Runs one action as the only binding of a table, under key `key`.
  std::vector<std::string> run(Action action, std::string key = "ctrl+alt+x") {
    return run_presses({KeyAction{std::move(key), std::move(action)}},
                       {{0, Clock::now()}});
  }

  // What was spoken so far, without waiting (see spoken_texts()).
  std::vector<std::string> spoken() { return spoken_texts(speech_); }

  // The next sentence spoken within `wait` (speech that another thread,
  // such as a tempo tap's or the announcer's, sends later).
  std::optional<Speak> next_speak(
      std::chrono::milliseconds wait = std::chrono::seconds(5)) {
    while (auto command = speech_.recv_for(wait)) {
      if (auto* speak = std::get_if<Speak>(&*command)) return *speak;
    }
    return std::nullopt;
  }

  // A control's value as Kelvo (the simulator) now has it; -12345 when it
  // cannot be read.
  double value(const std::string& group, const std::string& key,
               const std::string& prop = "value") {
    return bridge().get(group, key, prop).value_or(-12345);
  }
  bool set(const std::string& group, const std::string& key, double value) {
    return bridge().set(group, key, "value", value).has_value();
  }

  // How many requests the simulator has seen, to mark a point in its trace.
  size_t mark() const { return sim_->trace().size(); }

  // The requests after `mark`, each as "get [G],key", "set [G],key=V" (prop
  // "parameter" shown as "set! ..."/"get! ...") or the bare command name.
  std::vector<std::string> requests_since(size_t mark) const {
    std::vector<std::string> lines = sim_->trace();
    std::vector<std::string> out;
    for (size_t i = mark; i < lines.size(); ++i) {
      auto request = nlohmann::json::parse(lines[i], nullptr, false);
      if (request.is_discarded() || !request.is_object()) {
        out.push_back("?" + lines[i]);
        continue;
      }
      const std::string cmd = request.value("cmd", "");
      std::string text = cmd;
      if (cmd == "get" || cmd == "set") {
        if (request.value("prop", "value") == "parameter") text += "!";
        text +=
            " " + request.value("group", "") + "," + request.value("key", "");
        if (cmd == "set") text += "=" + request["value"].dump();
      }
      out.push_back(text);
    }
    return out;
  }

 private:
  Rig() = default;

  std::unique_ptr<KelvoSim> sim_;
  Receiver<BridgeEvent> events_;
  Receiver<SpeechCommand> speech_;
  std::shared_ptr<AppState> state_;
  std::vector<KeyAction> builtin_;
};

}  // namespace orvalin::testrig
