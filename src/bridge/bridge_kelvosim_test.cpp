// The bridge against the Kelvo simulator over real loopback TCP: every
// command, the reply faults together, and a real Kelvo process that exits.
// (Each other fault is checked once against the scripted plugin of
// bridge_test.cpp and once against the simulator in its own tests.)
#include <gtest/gtest.h>

#include <cmath>
#include <future>
#include <nlohmann/json.hpp>
#include <thread>

#include "base/os.h"
#include "bridge/bridge.h"
#include "net/socket.h"
#include "testing/kelvosim.h"

namespace orvalin {
namespace {

using nlohmann::json;
using namespace std::chrono_literals;

// The simulator, the bridge connected to it and the event queue; the bridge
// goes first.
struct SimLink {
  std::unique_ptr<KelvoSim> sim;
  Receiver<BridgeEvent> events;
  Result<std::shared_ptr<Bridge>> bridge = fail("not connected");
};

// Starts the simulator with `options` and connects; `token` replaces the
// simulator's own when given.
SimLink open_sim(std::vector<std::string> options,
                 std::optional<std::string> token = std::nullopt,
                 BridgeTiming timing = {10ms, 10s}) {
  SimLink link;
  link.sim = KelvoSim::start(std::move(options));
  if (!link.sim) {
    ADD_FAILURE() << "kelvosim did not start";
    return link;
  }
  auto [events, received] = make_channel<BridgeEvent>();
  link.events = std::move(received);
  link.bridge =
      Bridge::connect(link.sim->port(), token.value_or(link.sim->token()),
                      std::chrono::steady_clock::now() + 30s,
                      link.sim->process(), events, timing);
  return link;
}

bool have_kelvosim() { return get_env("ORVALIN_KELVOSIM").has_value(); }

#define REQUIRE_KELVOSIM() \
  if (!have_kelvosim()) GTEST_SKIP() << "ORVALIN_KELVOSIM is not set"

void expect_disconnected(SimLink& link) {
  for (;;) {
    auto event = link.events.recv_for(20s);
    ASSERT_TRUE(event.has_value()) << "no Disconnected";
    if (std::holds_alternative<Disconnected>(*event)) break;
  }
  EXPECT_FALSE(link.events.recv_for(10s).has_value());
}

TEST(BridgeKelvoSim, EveryCommand) {
  REQUIRE_KELVOSIM();
  SimLink link =
      open_sim({"--set", "[Channel1],rate=0.25", "--set",
                "[Channel3],volume=0.5", "--load", "2=5", "--select", "3"});
  ASSERT_TRUE(link.bridge) << link.bridge.error();
  Bridge& bridge = **link.bridge;

  EXPECT_EQ(bridge.get("[Channel1]", "rate").value(), 0.25);
  EXPECT_EQ(bridge.get("[Channel1]", "nonesuch").error(),
            "[Channel1],nonesuch: unknown control");
  EXPECT_EQ(bridge.set("[Channel1]", "volume", "value", 0.75).value(), 0.75);
  EXPECT_EQ(bridge.get("[Channel1]", "volume").value(), 0.75);
  EXPECT_EQ(bridge.set("[Channel1]", "volume", "value", NAN).error(),
            "[Channel1],volume: value is not a number");

  LastValues last;
  testing::internal::CaptureStdout();
  bridge.watch("[Channel1]", "nonesuch", last);
  const std::string out = testing::internal::GetCapturedStdout();
  EXPECT_NE(out.find("watch failed: [Channel1],nonesuch: unknown control"),
            std::string::npos)
      << out;
  bridge.watch("[Channel3]", "volume", last);
  EXPECT_EQ(last, (LastValues{{{"[Channel3]", "volume"}, 0.5}}));
  ASSERT_TRUE(bridge.set("[Channel3]", "volume", "value", 0.125));
  for (;;) {
    auto event = link.events.recv_for(10s);
    ASSERT_TRUE(event.has_value());
    const Changed* changed = std::get_if<Changed>(&*event);
    ASSERT_NE(changed, nullptr);
    if (changed->group == "[Channel3]" && changed->key == "volume") {
      EXPECT_EQ(changed->value, 0.125);
      break;
    }
  }

  auto empty_deck = bridge.deck_info(1);
  ASSERT_TRUE(empty_deck);
  ASSERT_FALSE(empty_deck->empty());
  EXPECT_EQ(empty_deck->front().label, "title");
  EXPECT_EQ(empty_deck->front().text, "");
  auto loaded_deck = bridge.deck_info(2);
  ASSERT_TRUE(loaded_deck);
  ASSERT_FALSE(loaded_deck->empty());
  EXPECT_NE(loaded_deck->front().text, "");
  EXPECT_FALSE(bridge.deck_info(9).has_value());

  auto metronome = bridge.effect_index("org.kelvo.effects.metronome");
  ASSERT_TRUE(metronome);
  EXPECT_GT(*metronome, 0);
  EXPECT_EQ(bridge.effect_index("org.example.none").value(), 0);
  auto name = bridge.effect_name(*metronome);
  ASSERT_TRUE(name) << name.error();
  EXPECT_NE(*name, "");
  EXPECT_EQ(bridge.effect_name(0).error(), "no effect with index 0");

  auto widgets = bridge.dump_widgets();
  ASSERT_TRUE(widgets);
  EXPECT_GT(*widgets, 0u);

  auto track = bridge.selected_track();
  ASSERT_TRUE(track) << track.error();
  EXPECT_EQ(track->row, 3u);
  EXPECT_EQ(static_cast<double>(track->rows),
            bridge.get("[Library]", "num_rows").value());
  EXPECT_TRUE(track->fields.contains("title"));
  EXPECT_TRUE(track->fields.contains("artist"));

  // What went over the wire: the hello first, ids rising by one, and the
  // non-finite value as null.
  const auto trace = link.sim->trace();
  ASSERT_FALSE(trace.empty());
  EXPECT_EQ(trace[0], "{\"cmd\":\"hello\",\"id\":1,\"token\":\"" +
                          link.sim->token() + "\"}");
  for (size_t i = 0; i < trace.size(); ++i) {
    EXPECT_EQ(json::parse(trace[i])["id"], i + 1) << trace[i];
  }
  EXPECT_EQ(
      trace[5],
      R"({"cmd":"set","group":"[Channel1]","id":6,"key":"volume","prop":"value","value":null})");
}

TEST(BridgeKelvoSim, JunkOutOfOrderAndSlowRepliesStillMatch) {
  REQUIRE_KELVOSIM();
  SimLink link = open_sim(
      {"--junk", "--out-of-order", "--reply-delay-ms", "20", "--set",
       "[Channel1],volume=0.1", "--set", "[Channel2],volume=0.2", "--set",
       "[Channel3],volume=0.3", "--set", "[Channel4],volume=0.4"});
  ASSERT_TRUE(link.bridge) << link.bridge.error();
  std::vector<std::future<int>> wrong;
  for (int deck = 1; deck <= 4; ++deck) {
    wrong.push_back(std::async(std::launch::async, [&, deck] {
      int mismatches = 0;
      const std::string group = "[Channel" + std::to_string(deck) + "]";
      for (int i = 0; i < 15; ++i) {
        auto value = (*link.bridge)->get(group, "volume");
        if (!value || *value != deck / 10.0) ++mismatches;
      }
      return mismatches;
    }));
  }
  for (auto& count : wrong) EXPECT_EQ(count.get(), 0);
}

TEST(BridgeKelvoSim, ConnectGivesUpWhenKelvoExits) {
  REQUIRE_KELVOSIM();
  auto sim = KelvoSim::start({"--exit-after", "0.3", "--exit-code", "3"});
  ASSERT_TRUE(sim);
  // A port nobody listens on, while the simulator is the Kelvo to watch.
  uint16_t port = 0;
  {
    auto listener = listen_loopback(0);
    ASSERT_TRUE(listener);
    port = (*listener)->port();
  }
  const std::string refused = connect_loopback(port).error();
  auto [events, received] = make_channel<BridgeEvent>();
  auto bridge = Bridge::connect(port, sim->token(),
                                std::chrono::steady_clock::now() + 600s,
                                sim->process(), events, {10ms, 10s});
  ASSERT_FALSE(bridge);
  EXPECT_EQ(bridge.error(), "cannot connect to the Kelvo plugin: " + refused);
  EXPECT_EQ(sim->process()->poll().kind, ProcessState::Kind::exited);
}

}  // namespace
}  // namespace orvalin
