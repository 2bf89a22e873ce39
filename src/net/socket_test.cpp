#include "net/socket.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "net/lines.h"

namespace orvalin {
namespace {

// The next line from `stream`, or "" at its end.
std::string next_line(Stream& stream) {
  return std::string(LineReader(stream).next().value_or(""));
}

struct Pair {
  std::unique_ptr<Stream> client;
  std::unique_ptr<Stream> server;
};

Pair connected_pair() {
  Pair pair;
  auto listener = listen_loopback(0);
  EXPECT_TRUE(listener) << listener.error();
  if (!listener) return pair;
  auto client = connect_loopback((*listener)->port());
  EXPECT_TRUE(client) << client.error();
  auto server = (*listener)->accept();
  EXPECT_TRUE(server) << server.error();
  if (client && server) {
    pair.client = std::move(*client);
    pair.server = std::move(*server);
  }
  return pair;
}

TEST(Socket, ConnectGivesUpAtItsLimitWhenTheBacklogIsFull) {
  // The listener never accepts: past its backlog the system drops the
  // connection requests, and only the limit ends an attempt.
  auto listener = listen_loopback(0);
  ASSERT_TRUE(listener);
  std::vector<std::unique_ptr<Stream>> held;
  for (int i = 0; i < 24; ++i) {
    const auto start = std::chrono::steady_clock::now();
    auto attempt =
        connect_loopback((*listener)->port(), std::chrono::milliseconds(100));
    EXPECT_LT(std::chrono::steady_clock::now() - start,
              std::chrono::seconds(3));
    if (attempt) held.push_back(std::move(*attempt));
  }
}

TEST(Socket, ACloneOutlivesTheOriginalHandle) {
  Pair pair = connected_pair();
  ASSERT_TRUE(pair.client && pair.server);
  auto clone = pair.client->clone();
  ASSERT_TRUE(clone) << clone.error();
  pair.client->close();

  ASSERT_TRUE(send_all(*pair.server, "ping\n"));
  EXPECT_EQ(next_line(**clone), "ping");
  ASSERT_TRUE(send_all(**clone, "pong\n"));
  EXPECT_EQ(next_line(*pair.server), "pong");

  // The connection ends with its last handle.
  (*clone)->close();
  char byte;
  EXPECT_EQ(pair.server->recv(&byte, 1).value_or(0), 0u);
}

TEST(Socket, SendingToAClosedPeerFailsWithAText) {
  Pair pair = connected_pair();
  ASSERT_TRUE(pair.client && pair.server);
  pair.server->close();
  // The first writes may still be taken by the system; a broken connection
  // must then show as an error text, never as a signal.
  const std::string chunk(64 * 1024, 'x');
  Status sent;
  for (int i = 0; i < 200 && sent; ++i) sent = send_all(*pair.client, chunk);
  ASSERT_FALSE(sent);
  EXPECT_FALSE(sent.error().empty());
}

}  // namespace
}  // namespace orvalin
