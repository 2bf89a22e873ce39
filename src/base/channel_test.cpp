#include "base/channel.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

namespace orvalin {
namespace {

TEST(ChannelTest, DeliversInOrderAndClosesWithLastSender) {
  auto [tx, rx] = make_channel<int>();
  Sender<int> copy = tx;
  EXPECT_TRUE(tx.send(1));
  EXPECT_TRUE(copy.send(2));
  tx.reset();
  EXPECT_EQ(rx.recv(), 1);
  EXPECT_FALSE(rx.closed());
  copy.reset();
  // Queued messages survive the close; then the receiver sees the end.
  EXPECT_EQ(rx.recv(), 2);
  EXPECT_EQ(rx.recv(), std::nullopt);
  EXPECT_TRUE(rx.closed());
}

TEST(ChannelTest, SendFailsOnceReceiverIsGone) {
  auto [tx, rx] = make_channel<std::string>();
  { Receiver<std::string> gone = std::move(rx); }
  EXPECT_FALSE(tx.send("lost"));
  Sender<std::string> empty;
  EXPECT_FALSE(empty.send("nowhere"));
}

TEST(ChannelTest, RecvForTimesOutAndWakesOnClose) {
  auto [tx, rx] = make_channel<int>();
  EXPECT_EQ(rx.recv_for(std::chrono::milliseconds(10)), std::nullopt);
  std::thread closer([tx = std::move(tx)]() mutable { tx.reset(); });
  // Either the close arrives first or the wait ends at its limit: no value.
  EXPECT_EQ(rx.recv_for(std::chrono::seconds(10)), std::nullopt);
  closer.join();
  EXPECT_TRUE(rx.closed());
}

TEST(ChannelTest, ManyProducersLoseNothing) {
  auto [tx, rx] = make_channel<int>();
  std::vector<std::thread> producers;
  for (int t = 0; t < 4; ++t) {
    producers.emplace_back([tx, t] {
      for (int i = 0; i < 1000; ++i) tx.send(t * 1000 + i);
    });
  }
  tx.reset();
  std::vector<int> last(4, -1);
  while (auto v = rx.recv()) {
    const int t = *v / 1000;
    EXPECT_EQ(*v % 1000, last[t] + 1) << "per-producer order kept";
    last[t] = *v % 1000;
  }
  for (auto& p : producers) p.join();
  EXPECT_EQ(last, std::vector<int>(4, 999));
}

}  // namespace
}  // namespace orvalin
