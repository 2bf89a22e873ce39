// Test rig for the action worker: a kelvosim, a real bridge to it, an
// AppState whose speech goes to a channel the test reads, and the built-in
// binding table. Included by the actions tests only.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "actions/actions.h"
#include "controls/appstate.h"
#include "base/channel.h"
#include "bridge/bridge.h"
#include "config/builtin.h"
#include "config/config.h"
#include "speech/speech.h"
#include "testing/kelvosim.h"

namespace orvalin::testrig {

inline std::vector<KeyAction> builtin_actions() {
  auto config = parse_config(builtin_config_text(), "built-in");
  EXPECT_TRUE(config.has_value()) << config.error();
  if (!config) return {};
  auto tables = build_binding_tables(config->keys);
  EXPECT_TRUE(tables.has_value()) << tables.error();
  if (!tables) return {};
  return tables->actions;
}

class Rig {
 public:
  // nullptr (with a test failure) when kelvosim or the bridge cannot start.
  static std::unique_ptr<Rig> start(std::vector<std::string> options = {}) {
    std::unique_ptr<Rig> rig(new Rig);
    rig->sim_ = KelvoSim::start(std::move(options));
    if (!rig->sim_) {
      ADD_FAILURE() << "kelvosim did not start";
      return nullptr;
    }
    auto [events, events_rx] = make_channel<BridgeEvent>();
    rig->events_ = std::move(events_rx);
    auto bridge = Bridge::connect(
        rig->sim_->port(), rig->sim_->token(),
        std::chrono::steady_clock::now() + std::chrono::seconds(10),
        rig->sim_->process(), std::move(events));
    if (!bridge) {
      ADD_FAILURE() << "bridge: " << bridge.error();
      return nullptr;
    }
    auto [speech, speech_rx] = make_channel<SpeechCommand>();
    rig->speech_ = std::move(speech_rx);
    rig->state_ =
        std::make_shared<AppState>(Speech(std::move(speech)), *bridge);
    rig->builtin_ = builtin_actions();
    return rig;
  }

  AppState& state() { return *state_; }
  std::shared_ptr<AppState> shared_state() { return state_; }
  KelvoSim& sim() { return *sim_; }
  const std::vector<KeyAction>& builtin() const { return builtin_; }

  // The index of a built-in key ("ctrl+alt+p").
  uint64_t index_of(std::string_view key) const {
    for (size_t i = 0; i < builtin_.size(); ++i) {
      if (builtin_[i].key == key) return i;
    }
    ADD_FAILURE() << "no built-in key " << key;
    return builtin_.size();
  }

  // Runs the indexes through a fresh worker over `table`, waits until it has
  // handled all of them and returns what it spoke. Interrupting speech reads
  // as the text, queued speech as "queued: " + text, a stop as "<stop>".
  std::vector<std::string> run_indexes(const std::vector<KeyAction>& table,
                                       const std::vector<uint64_t>& indexes) {
    std::vector<KeyPress> presses;
    for (uint64_t index : indexes) presses.push_back({index, Clock::now()});
    return run_presses(table, std::move(presses));
  }

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
    std::vector<uint64_t> indexes;
    for (std::string_view key : keys) indexes.push_back(index_of(key));
    return run_indexes(builtin_, indexes);
  }

  // Runs one action as the only binding of a table, under key `key`.
  std::vector<std::string> run(Action action, std::string key = "ctrl+alt+x") {
    return run_indexes({KeyAction{std::move(key), std::move(action)}}, {0});
  }

  std::vector<std::string> spoken() {
    std::vector<std::string> texts;
    while (auto command = speech_.try_recv()) {
      if (auto* speak = std::get_if<Speak>(&*command)) {
        texts.push_back(speak->interrupt ? speak->text
                                         : "queued: " + speak->text);
      } else {
        texts.push_back("<stop>");
      }
    }
    return texts;
  }

  // Waits up to `timeout` for one more spoken text (speech that a detached
  // thread, such as a tempo tap's, sends later).
  std::optional<std::string> wait_spoken(std::chrono::milliseconds timeout) {
    auto command = speech_.recv_for(timeout);
    if (!command) return std::nullopt;
    if (auto* speak = std::get_if<Speak>(&*command)) return speak->text;
    return "<stop>";
  }

  // A control's value as Kelvo (the simulator) now has it.
  double value(const std::string& group, const std::string& key,
               const std::string& prop = "value") {
    auto read = state_->bridge->get(group, key, prop);
    EXPECT_TRUE(read.has_value()) << read.error();
    return read.value_or(-12345);
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
      std::string cmd = request.value("cmd", "");
      if (cmd == "get" || cmd == "set") {
        std::string text = cmd;
        if (request.value("prop", "value") == "parameter") text += "!";
        text +=
            " " + request.value("group", "") + "," + request.value("key", "");
        if (cmd == "set") text += "=" + request["value"].dump();
        out.push_back(text);
      } else {
        out.push_back(cmd);
      }
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
