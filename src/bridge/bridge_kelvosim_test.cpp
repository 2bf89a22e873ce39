// The bridge against the Kelvo simulator over real loopback TCP: every
// command with the simulator's own replies. (Wire format, reply faults and
// connecting are checked against the scripted plugin of bridge_test.cpp.)
#include <gtest/gtest.h>

#include <cmath>

#include "base/os.h"
#include "bridge/bridge.h"
#include "testing/kelvosim.h"

namespace orvalin {
namespace {

using namespace std::chrono_literals;

TEST(BridgeKelvoSim, EveryCommand) {
  if (!get_env("ORVALIN_KELVOSIM")) GTEST_SKIP() << "ORVALIN_KELVOSIM is unset";
  auto sim = KelvoSim::start({"--set", "[Channel1],rate=0.25", "--set",
                              "[Channel3],volume=0.5", "--load", "2=5",
                              "--select", "3"});
  ASSERT_TRUE(sim);
  auto [sender, events] = make_channel<BridgeEvent>();
  auto connected = Bridge::connect(sim->port(), sim->token(),
                                   std::chrono::steady_clock::now() + 30s,
                                   sim->process(), sender, {10ms, 10s});
  ASSERT_TRUE(connected) << connected.error();
  Bridge& bridge = **connected;

  EXPECT_EQ(bridge.get("[Channel1]", "rate").value(), 0.25);
  EXPECT_EQ(bridge.get("[Channel1]", "nonesuch").error(),
            "[Channel1],nonesuch: unknown control");
  EXPECT_EQ(bridge.set("[Channel1]", "volume", "value", 0.75).value(), 0.75);
  EXPECT_EQ(bridge.get("[Channel1]", "volume").value(), 0.75);
  EXPECT_EQ(bridge.set("[Channel1]", "volume", "value", NAN).error(),
            "[Channel1],volume: value is not a number");

  LastValues last;
  bridge.watch("[Channel3]", "volume", last);
  EXPECT_EQ(last, (LastValues{{{"[Channel3]", "volume"}, 0.5}}));
  ASSERT_TRUE(bridge.set("[Channel3]", "volume", "value", 0.125));
  for (;;) {
    auto event = events.recv_for(10s);
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
}

}  // namespace
}  // namespace orvalin
