#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <thread>

#include "announcer/announcer.h"
#include "testing/rig.h"

namespace orvalin {
namespace {

using testrig::Rig;

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using namespace std::chrono_literals;

constexpr double kDuration = 312;  // library row 10

// Seeks deck `deck` (holding row 10) so that `remaining` seconds are left.
void seek_remaining(Rig& rig, int deck, double remaining) {
  rig.set("[Channel" + std::to_string(deck) + "]", "playposition",
          (kDuration - remaining) / kDuration);
}

// A warning comes once, queued, for a crossing of the one-minute mark seen
// while the deck plays; a real run's crossing is in the end-to-end runs.
TEST(TimeWarnings, WarnsOnceForACrossingSeenWhilePlaying) {
  // A clock this slow keeps the positions where the test puts them.
  auto rig = Rig::start({"--load", "1=10", "--load", "2=10", "--load", "3=10",
                         "--load", "4=10", "--clock-speed", "0.0001"});
  ASSERT_TRUE(rig);
  TimeWarnings warnings(rig->shared_state());
  for (int deck = 1; deck <= 4; ++deck) {
    rig->set("[Channel" + std::to_string(deck) + "]", "play", 1);
  }
  seek_remaining(*rig, 1, 60.0);  // 60 then 59: was not above 60
  seek_remaining(*rig, 2, 61.0);  // 61 then 0: the track ended
  seek_remaining(*rig, 3, 70.0);  // paused at 70, resumed at 58
  seek_remaining(*rig, 4, 61.0);  // announcements off at the crossing
  ASSERT_TRUE(warnings.poll());

  seek_remaining(*rig, 1, 59.0);
  rig->set("[Channel2]", "playposition", 1.0);
  rig->set("[Channel3]", "play", 0);
  rig->state().announce.store(0);
  seek_remaining(*rig, 4, 60.0);
  ASSERT_TRUE(warnings.poll());

  seek_remaining(*rig, 3, 58.0);
  rig->set("[Channel3]", "play", 1);
  rig->state().announce.store(1);
  seek_remaining(*rig, 4, 50.0);
  ASSERT_TRUE(warnings.poll());
  ASSERT_TRUE(warnings.poll());
  EXPECT_THAT(rig->spoken(), IsEmpty());

  // Deck 4 read above the mark again (a jump back) warns again.
  seek_remaining(*rig, 4, 60.4);
  ASSERT_TRUE(warnings.poll());
  seek_remaining(*rig, 4, 59.4);
  ASSERT_TRUE(warnings.poll());
  EXPECT_THAT(rig->spoken(), ElementsAre("queued: Deck 4, one minute left"));
  ASSERT_TRUE(warnings.poll());
  EXPECT_THAT(rig->spoken(), IsEmpty());
}

// Far more failed polls than ever ended the warnings: they go on until the
// connection ends.
TEST(TimeWarnings, LoopPollsThroughFailuresUntilTheConnectionEnds) {
  Timing timing = testrig::quick_timing();
  timing.reply_wait = 20ms;
  auto rig = Rig::start({"--decks", "1", "--drop-reply", "get"}, timing);
  ASSERT_TRUE(rig);
  EXPECT_FALSE(TimeWarnings(rig->shared_state()).poll());

  auto [done_sender, done] = make_channel<int>();
  std::thread loop([state = rig->shared_state(), done_sender]() mutable {
    run_time_warnings(std::move(state));
    done_sender.send(1);
  });
  done_sender.reset();
  auto polls = [&] {
    return std::ranges::count_if(rig->sim().trace(), [](const auto& line) {
      return line.find("num_decks") != std::string::npos;
    });
  };
  const auto deadline = Clock::now() + 20s;
  while (polls() < 25 && Clock::now() < deadline) {
    std::this_thread::sleep_for(10ms);
  }
  EXPECT_GE(polls(), 25);
  EXPECT_FALSE(done.recv_for(0ms).has_value());
  rig->stop_sim();  // the connection ends
  EXPECT_EQ(done.recv_for(10s), 1);
  loop.join();
}

}  // namespace
}  // namespace orvalin
