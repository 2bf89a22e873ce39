// Test-only: a kelvosim with a real bridge connected to it, an AppState on
// that bridge and the speech queue captured. Used by the announcer and
// beat-grid tests.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "controls/appstate.h"
#include "bridge/bridge.h"
#include "speech/speech.h"
#include "testing/kelvosim.h"

namespace orvalin {

struct SimRig {
  std::unique_ptr<KelvoSim> sim;
  Receiver<BridgeEvent> events;
  Receiver<SpeechCommand> speech;
  std::shared_ptr<AppState> state;

  Bridge& bridge() { return *state->bridge; }

  // The next sentence queued within `wait`, with how it was queued.
  std::optional<Speak> next_speak(
      std::chrono::milliseconds wait = std::chrono::seconds(5)) {
    while (auto command = speech.recv_for(wait)) {
      if (auto* speak = std::get_if<Speak>(&*command)) return *speak;
    }
    return std::nullopt;
  }

  // Every sentence queued so far, without waiting.
  std::vector<std::string> spoken_now() {
    std::vector<std::string> texts;
    while (auto command = speech.try_recv()) {
      if (auto* speak = std::get_if<Speak>(&*command)) {
        texts.push_back(speak->text);
      }
    }
    return texts;
  }

  double get(const std::string& group, const std::string& key) {
    auto value = bridge().get(group, key);
    EXPECT_TRUE(value.has_value())
        << group << "," << key << ": " << value.error();
    return value.value_or(-12345);
  }

  void set(const std::string& group, const std::string& key, double value) {
    auto result = bridge().set(group, key, "value", value);
    EXPECT_TRUE(result.has_value())
        << group << "," << key << ": " << result.error();
  }
};

// Starts kelvosim with `options` and connects; nullopt (with a test failure)
// when either fails.
inline std::optional<SimRig> start_rig(std::vector<std::string> options) {
  SimRig rig;
  rig.sim = KelvoSim::start(std::move(options));
  if (!rig.sim) {
    ADD_FAILURE() << "kelvosim did not start";
    return std::nullopt;
  }
  auto [event_sender, event_receiver] = make_channel<BridgeEvent>();
  auto bridge = Bridge::connect(
      rig.sim->port(), rig.sim->token(),
      std::chrono::steady_clock::now() + std::chrono::seconds(10),
      rig.sim->process(), std::move(event_sender));
  if (!bridge) {
    ADD_FAILURE() << "connect: " << bridge.error();
    return std::nullopt;
  }
  auto [speech_sender, speech_receiver] = make_channel<SpeechCommand>();
  rig.events = std::move(event_receiver);
  rig.speech = std::move(speech_receiver);
  rig.state = std::make_shared<AppState>(Speech(std::move(speech_sender)),
                                         std::move(*bridge));
  return rig;
}

}  // namespace orvalin
