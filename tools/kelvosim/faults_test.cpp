// The simulator as a separate process, through a raw client: start-up,
// trace, events and the fault options that Orvalin's tests use.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "base/plugin.h"
#include "test_client.h"
#include "testing/kelvosim.h"

namespace kelvosim {
namespace {

using nlohmann::json;
using orvalin::KelvoSim;

bool signalled(const std::string& token) {
  return orvalin::loaded_signal_exists(orvalin::loaded_signal_name(token));
}

std::string hello(const KelvoSim& sim, int id = 1) {
  return json({{"cmd", "hello"}, {"id", id}, {"token", sim.token()}}).dump();
}

// A get, or a set when `value` is given, of the control's value.
std::string get(int id, const std::string& group, const std::string& key,
                std::optional<double> value = std::nullopt) {
  json request = {{"cmd", value ? "set" : "get"},
                  {"id", id},
                  {"group", group},
                  {"key", key},
                  {"prop", "value"}};
  if (value) request["value"] = *value;
  return request.dump();
}

std::string set(int id, const std::string& group, const std::string& key,
                double value) {
  return get(id, group, key, value);
}

// The next line that parses as a JSON object (junk skipped).
json next_object(TestClient& client) {
  while (auto line = client.line()) {
    json value = json::parse(*line, nullptr, false);
    if (!value.is_discarded() && value.is_object()) return value;
  }
  return nullptr;
}

struct Connected {
  std::unique_ptr<KelvoSim> sim;
  std::unique_ptr<TestClient> client;
};

// A started simulator with a connected client that has said hello.
Connected open(std::vector<std::string> options = {}, bool greet = true) {
  Connected s;
  s.sim = KelvoSim::start(std::move(options));
  if (!s.sim) return s;
  s.client = TestClient::connect(s.sim->port());
  if (s.client && greet) {
    s.client->send(hello(*s.sim));
    EXPECT_EQ(next_object(*s.client), json::parse(R"({"id":1,"ok":true})"));
  }
  return s;
}

#define OPEN_OR_FAIL(s, ...)       \
  Connected s = open(__VA_ARGS__); \
  ASSERT_TRUE(s.sim&& s.client);

TEST(Kelvosim, SignalsTracesAndReportsWatchedChanges) {
  OPEN_OR_FAIL(s, {"--load", "1=2"});
  EXPECT_TRUE(signalled(s.sim->token()));
  auto& c = *s.client;
  c.send(R"({"cmd":"watch","group":"[Channel1]","id":2,"key":"play"})");
  EXPECT_EQ(next_object(c), json::parse(R"({"id":2,"ok":true})"));
  c.send(set(3, "[Channel1]", "pfl", 1));  // not watched: no event
  EXPECT_EQ(next_object(c), json::parse(R"({"id":3,"ok":true,"value":1.0})"));
  c.send(set(4, "[Channel1]", "play", 1));
  std::vector<json> got = {next_object(c), next_object(c)};
  EXPECT_NE(
      std::find(
          got.begin(), got.end(),
          json::parse(
              R"({"event":"changed","group":"[Channel1]","key":"play","value":1.0})")),
      got.end());
  EXPECT_NE(std::find(got.begin(), got.end(),
                      json::parse(R"({"id":4,"ok":true,"value":1.0})")),
            got.end());
  c.send(get(5, "[Channel1]", "time_elapsed"));
  EXPECT_EQ(next_object(c)["id"], 5);

  const auto trace = s.sim->trace();
  ASSERT_EQ(trace.size(), 5u);
  EXPECT_EQ(json::parse(trace[0]), json::parse(hello(*s.sim)));
  EXPECT_EQ(trace[1],
            R"({"cmd":"watch","group":"[Channel1]","id":2,"key":"play"})");
  EXPECT_EQ(json::parse(trace[4]),
            json::parse(get(5, "[Channel1]", "time_elapsed")));

  // A second connection after the first closed is served afresh.
  s.client.reset();
  auto again = TestClient::connect(s.sim->port());
  ASSERT_TRUE(again);
  again->send(get(1, "[Channel1]", "play"));
  EXPECT_EQ(next_object(*again)["error"], "say hello first");
}

// (A wrong token is refused by answer_request, see server_test.cpp.)
TEST(Kelvosim, RefusesEveryHelloWhenAsked) {
  OPEN_OR_FAIL(s, {"--refuse-hello"}, false);
  s.client->send(hello(*s.sim));
  EXPECT_EQ(next_object(*s.client),
            json::parse(R"({"id":1,"ok":false,"error":"hello refused"})"));
}

TEST(Kelvosim, DropsReplies) {
  OPEN_OR_FAIL(s, {"--drop-reply", "get"});
  auto& c = *s.client;
  c.send(get(2, "[Channel1]", "play"));
  c.send(set(3, "[Channel1]", "pfl", 1));
  // The get is never answered; the set after it is.
  EXPECT_EQ(next_object(c), json::parse(R"({"id":3,"ok":true,"value":1.0})"));
  EXPECT_EQ(s.sim->trace().size(), 3u);
}

TEST(Kelvosim, ClosesTheConnectionAfterSomeRequests) {
  OPEN_OR_FAIL(s, {"--close-after", "2"});
  auto& c = *s.client;
  c.send(get(2, "[Channel1]", "play"));
  EXPECT_EQ(next_object(c)["id"], 2);
  EXPECT_TRUE(c.closed());
  auto again = TestClient::connect(s.sim->port());
  ASSERT_TRUE(again);
  again->send(hello(*s.sim));
  EXPECT_EQ(next_object(*again)["ok"], true);
}

TEST(Kelvosim, ExitsAfterAWhileWithTheCodeAsked) {
  auto sim = KelvoSim::start({"--exit-after", "1", "--exit-code", "7"});
  ASSERT_TRUE(sim);
  EXPECT_EQ(sim->process()->wait(), 7u);
}

TEST(Kelvosim, NeverSignalsWhenAsked) {
  // It serves all the same; unasked, the signal is up before it serves.
  OPEN_OR_FAIL(s, {"--no-signal"});
  EXPECT_FALSE(signalled(s.sim->token()));
}

}  // namespace
}  // namespace kelvosim
