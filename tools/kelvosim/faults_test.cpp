// The simulator as a separate process, through a raw client: start-up,
// trace, events and every fault option.
#include <gtest/gtest.h>

#include <fstream>
#include <nlohmann/json.hpp>
#include <thread>

#include "base/os.h"
#include "base/plugin.h"
#include "base/utf.h"
#include "host.h"
#include "test_client.h"
#include "testing/kelvosim.h"

namespace kelvosim {
namespace {

using namespace std::chrono_literals;
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

struct Session {
  std::unique_ptr<KelvoSim> sim;
  std::unique_ptr<TestClient> client;
};

// A started simulator with a connected client that has said hello.
Session open(std::vector<std::string> options = {}, bool greet = true) {
  Session s;
  s.sim = KelvoSim::start(std::move(options));
  if (!s.sim) return s;
  s.client = TestClient::connect(s.sim->port());
  if (s.client && greet) {
    s.client->send(hello(*s.sim));
    EXPECT_EQ(next_object(*s.client), json::parse(R"({"id":1,"ok":true})"));
  }
  return s;
}

#define OPEN_OR_FAIL(s, ...)     \
  Session s = open(__VA_ARGS__); \
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

TEST(Kelvosim, DelaysAndDropsReplies) {
  OPEN_OR_FAIL(s, {"--drop-reply", "get", "--reply-delay-ms", "1500"}, false);
  auto& c = *s.client;
  c.send(hello(*s.sim));
  EXPECT_FALSE(c.line(300ms).has_value());  // still held back
  EXPECT_EQ(next_object(c), json::parse(R"({"id":1,"ok":true})"));
  c.send(get(2, "[Channel1]", "play"));
  c.send(set(3, "[Channel1]", "pfl", 1));
  // The get is never answered; the set after it is.
  EXPECT_EQ(next_object(c), json::parse(R"({"id":3,"ok":true,"value":1.0})"));
  EXPECT_EQ(s.sim->trace().size(), 3u);
}

TEST(Kelvosim, SendsJunkBetweenReplies) {
  OPEN_OR_FAIL(s, {"--junk"}, false);
  auto& c = *s.client;
  std::vector<std::string> lines;
  for (int id = 1; id <= 5; ++id) {
    c.send(id == 1 ? hello(*s.sim) : get(id, "[Channel1]", "play"));
    for (;;) {
      auto line = c.line();
      ASSERT_TRUE(line.has_value());
      lines.push_back(*line);
      const json value = json::parse(*line, nullptr, false);
      if (value.is_object() && value.value("id", 0) == id) break;
    }
  }
  const std::vector<std::string> expected = {
      "this is not JSON",
      R"({"id":1,"ok":true})",
      "[1,2,3]",
      R"({"id":2,"ok":true,"value":0.0})",
      R"({"id":0,"ok":true} and then some text)",
      R"({"id":3,"ok":true,"value":0.0})",
      "",
      R"({"id":4,"ok":true,"value":0.0})",
      R"({"id":5,"ok":true,"value":0.0})"
      "\r",
  };
  EXPECT_EQ(lines, expected);
}

TEST(Kelvosim, SendsInvalidUtf8AfterSomeReplies) {
  OPEN_OR_FAIL(s, {"--invalid-utf8-after", "2"});
  auto& c = *s.client;
  c.send(get(2, "[Channel1]", "play"));
  EXPECT_EQ(next_object(c)["id"], 2);
  auto line = c.line();
  ASSERT_TRUE(line.has_value());
  EXPECT_FALSE(orvalin::is_valid_utf8(*line));
  c.send(get(3, "[Channel1]", "play"));
  EXPECT_EQ(next_object(c)["id"], 3);  // and it goes on serving
}

TEST(Kelvosim, AnswersOutOfOrder) {
  OPEN_OR_FAIL(s, {"--out-of-order"});
  auto& c = *s.client;
  c.send(get(2, "[Channel1]", "play"));
  c.send(get(3, "[Channel2]", "play"));
  EXPECT_EQ(next_object(c)["id"], 3);
  EXPECT_EQ(next_object(c)["id"], 2);
  // A lone reply still comes, a little later.
  c.send(get(4, "[Channel1]", "play"));
  EXPECT_EQ(next_object(c)["id"], 4);
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

TEST(Kelvosim, SignalsLateOrNever) {
  {
    auto sim = KelvoSim::start({"--no-signal"});
    ASSERT_TRUE(sim);
    auto client = TestClient::connect(sim->port());
    ASSERT_TRUE(client);  // it listens all the same
    std::this_thread::sleep_for(500ms);
    EXPECT_FALSE(signalled(sim->token()));
  }
  {
    auto sim = KelvoSim::start({"--signal-delay-ms", "4000"});
    ASSERT_TRUE(sim);
    EXPECT_FALSE(signalled(sim->token()));
    const auto deadline = std::chrono::steady_clock::now() + 30s;
    while (!signalled(sim->token()) &&
           std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(100ms);
    }
    EXPECT_TRUE(signalled(sim->token()));
  }
}

TEST(Kelvosim, LoadsThePluginFromTheQtVariables) {
  const auto program = orvalin::get_env("ORVALIN_KELVOSIM");
  ASSERT_TRUE(program.has_value());
  const auto dir = orvalin::make_temp_dir("kelvosim-qt");
  std::filesystem::create_directories(dir / "plugins" / "generic");
  {
    std::ofstream(dir / "plugins" / "generic" /
                  orvalin::utf8_to_path(orvalin::plugin_file_name()));
  }
  const std::string token = orvalin::make_test_token();
  orvalin::SpawnOptions spawn;
  spawn.program = *program;
  spawn.args = {"--port",       "0",
                "--port-file",  orvalin::path_to_utf8(dir / "port"),
                "--exit-after", "60"};
  spawn.env = {
      {orvalin::kQtGenericPluginsVariable, "orvalin"},
      {orvalin::kQtPluginPathVariable,
       orvalin::path_to_utf8(dir / "plugins") +
           std::string(orvalin::plugin_path_separator()) + "elsewhere"},
      {orvalin::kTokenVariable, token}};
  auto process = orvalin::spawn_process(spawn);
  ASSERT_TRUE(process.has_value()) << process.error();
  const auto deadline = std::chrono::steady_clock::now() + 20s;
  while (!signalled(token) && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(50ms);
  }
  EXPECT_TRUE(signalled(token));
  const std::string port = orvalin::read_file(dir / "port");
  ASSERT_FALSE(port.empty());
  auto client = TestClient::connect(static_cast<uint16_t>(std::stoi(port)));
  ASSERT_TRUE(client);
  client->send(json({{"cmd", "hello"}, {"id", 1}, {"token", token}}).dump());
  EXPECT_EQ(next_object(*client)["ok"], true);
  client.reset();
  (*process)->kill();
  (*process)->wait();
  std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace kelvosim
