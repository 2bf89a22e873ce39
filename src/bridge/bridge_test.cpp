// The bridge against a scripted plugin in this file: a loopback server that
// answers the hello and then either answers every request through a test's
// responder or leaves the test to write raw bytes.
#include "bridge/bridge.h"

#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <future>
#include <nlohmann/json.hpp>
#include <set>
#include <thread>

#include "base/os.h"
#include "base/thread.h"
#include "bridge/tcpowner.h"
#include "net/lines.h"
#include "net/socket.h"
#include "testing/kelvosim.h"

namespace orvalin {
namespace {

using nlohmann::json;
using namespace std::chrono_literals;

constexpr const char* kToken = "0123456789abcdef0123456789abcdef";
constexpr const char* kHelloOk = "{\"id\":1,\"ok\":true}\n";

// Short connect polls; a long reply wait where replies are expected (it is
// only ever waited out when one goes missing) and a short one where the
// test waits for a time-out.
constexpr BridgeTiming kTiming{10ms, 10s, {}};
constexpr BridgeTiming kTimeOut{10ms, 500ms, {}};

// Bytes to write back for one request line (empty: no answer).
using Responder = std::function<std::string(const json& request)>;

// A one-connection plugin. Its thread is detached and owns everything it
// touches, so a test never waits for it.
class FakePlugin {
 public:
  explicit FakePlugin(Responder responder = {},
                      std::string hello_reply = kHelloOk) {
    auto listener = listen_loopback(0);
    if (!listener) {
      ADD_FAILURE() << "listen: " << listener.error();
      return;
    }
    port_ = (*listener)->port();
    auto [lines, received] = make_channel<std::string>();
    received_ = std::move(received);
    std::shared_ptr<Listener> shared_listener = std::move(*listener);
    spawn_detached(
        "",
        [state = state_, shared_listener, lines, responder,
         hello_reply = std::move(hello_reply)] {
          serve(*state, *shared_listener, lines, responder, hello_reply);
        },
        "spawn test plugin");
  }

  ~FakePlugin() { end(); }

  uint16_t port() const { return port_; }

  // The next line the bridge sent (the hello first), without its LF.
  std::string next_line() {
    auto line = received_.recv_for(10s);
    EXPECT_TRUE(line.has_value()) << "no line from the bridge";
    return line.value_or("");
  }

  // True once the bridge has ended the connection (the plugin read the end
  // of the stream) and every line it sent has been taken.
  bool saw_end() {
    return !received_.recv_for(10s).has_value() && received_.closed();
  }

  void send(std::string_view bytes) {
    std::lock_guard lock(state_->mutex);
    if (state_->stream) {
      ASSERT_TRUE(send_all(*state_->stream, bytes));
    }
  }

  // Ends the connection from the plugin's side.
  void end() {
    std::lock_guard lock(state_->mutex);
    state_->ended = true;
    if (state_->stream) state_->stream->shutdown();
  }

 private:
  struct State {
    std::mutex mutex;  // guards stream (its pointer, send and shutdown)
    std::unique_ptr<Stream> stream;
    bool ended = false;
  };

  static void serve(State& state, Listener& listener,
                    const Sender<std::string>& lines,
                    const Responder& responder,
                    const std::string& hello_reply) {
    auto accepted = listener.accept();
    if (!accepted) return;
    Stream* stream = accepted->get();
    {
      std::lock_guard lock(state.mutex);
      state.stream = std::move(*accepted);
      if (state.ended) stream->shutdown();
    }
    LineReader reader(*stream);
    reader.keep_carriage_returns();
    while (auto line = reader.next()) {
      const json request = json::parse(*line, nullptr, false);
      std::string answer;
      if (request.is_object() && request.value("cmd", "") == "hello") {
        answer = hello_reply;
      } else if (responder) {
        answer = responder(request);
      }
      lines.send(std::string(*line));
      if (!answer.empty()) {
        std::lock_guard lock(state.mutex);
        (void)send_all(*stream, answer);
      }
    }
    // Closing the only handle also wakes the bridge's reader under Wine.
    std::lock_guard lock(state.mutex);
    state.stream->shutdown();
    state.stream.reset();
  }

  std::shared_ptr<State> state_ = std::make_shared<State>();
  Receiver<std::string> received_;
  uint16_t port_ = 0;
};

// A plugin, the bridge connected to it, and the event queue. The bridge is
// declared last so that it goes first.
struct Link {
  std::unique_ptr<FakePlugin> plugin;
  Receiver<BridgeEvent> events;
  std::shared_ptr<Bridge> bridge;
};

Link open_link(Responder responder = {}, BridgeTiming timing = kTiming) {
  timing.hello_wait = kTiming.reply_wait;
  Link link;
  link.plugin = std::make_unique<FakePlugin>(std::move(responder));
  auto [events, received] = make_channel<BridgeEvent>();
  link.events = std::move(received);
  auto bridge = Bridge::connect(link.plugin->port(), kToken,
                                std::chrono::steady_clock::now() + 10s, nullptr,
                                events, timing);
  EXPECT_TRUE(bridge.has_value()) << bridge.error();
  if (bridge) link.bridge = *bridge;
  EXPECT_EQ(
      link.plugin->next_line(),
      std::string("{\"cmd\":\"hello\",\"id\":1,\"token\":\"") + kToken + "\"}");
  return link;
}

// A link on which `controls` are watched: events of other controls never
// reach the event queue. The plugin answers the watches by itself.
Link watching_link(
    const std::vector<std::pair<std::string, std::string>>& controls) {
  auto watching = std::make_shared<std::atomic<bool>>(true);
  Link link = open_link([watching](const json& request) -> std::string {
    if (!watching->load()) return "";
    return "{\"id\":" + request["id"].dump() + ",\"ok\":true,\"value\":0}\n";
  });
  if (!link.bridge) return link;
  LastValues values;
  for (const auto& [group, key] : controls) {
    link.bridge->watch(group, key, values);
    link.plugin->next_line();  // the watch
    link.plugin->next_line();  // the read of its value
  }
  watching->store(false);
  return link;
}

// The next event is a change of group,key to value.
void expect_changed(Link& link, const std::string& group,
                    const std::string& key, double value) {
  auto event = link.events.recv_for(10s);
  ASSERT_TRUE(event.has_value());
  const Changed* changed = std::get_if<Changed>(&*event);
  ASSERT_NE(changed, nullptr) << "not a Changed event";
  EXPECT_EQ(std::tuple(changed->group, changed->key, changed->value),
            std::tuple(group, key, value));
}

void expect_disconnected_last(Link& link) {
  auto event = link.events.recv_for(10s);
  ASSERT_TRUE(event.has_value());
  EXPECT_TRUE(std::holds_alternative<Disconnected>(*event));
  EXPECT_FALSE(link.events.recv_for(10s).has_value());
  EXPECT_TRUE(link.events.closed());
}

// A port nothing listens on (free a moment ago).
uint16_t closed_port() {
  auto listener = listen_loopback(0);
  EXPECT_TRUE(listener.has_value());
  return listener ? (*listener)->port() : 1;
}

TEST(BridgeWire, RequestLinesAreCompactSortedAndNumberedFromOne) {
  Link link = open_link([](const json& request) {
    return "{\"id\":" + request["id"].dump() + ",\"ok\":true,\"value\":0}\n";
  });
  ASSERT_TRUE(link.bridge);
  Bridge& bridge = *link.bridge;
  // The line that a request the bridge took went out as.
  auto sent = [&](const auto& result) {
    EXPECT_TRUE(result.has_value());
    return link.plugin->next_line();
  };

  EXPECT_EQ(
      sent(bridge.get("[Channel1]", "play")),
      R"({"cmd":"get","group":"[Channel1]","id":2,"key":"play","prop":"value"})");
  EXPECT_EQ(
      sent(bridge.set("[Channel1]", "play", "value", 1.0)),
      R"({"cmd":"set","group":"[Channel1]","id":3,"key":"play","prop":"value","value":1.0})");
  EXPECT_EQ(
      sent(bridge.set("[Master]", "crossfader", "parameter", 0.25)),
      R"({"cmd":"set","group":"[Master]","id":4,"key":"crossfader","prop":"parameter","value":0.25})");

  // "id" is always the bridge's own; other fields pass as given, non-ASCII
  // as raw UTF-8 and invalid UTF-8 as U+FFFD instead of an exception.
  json custom = {{"cmd", "custom"}, {"id", 99}, {"text", "Café \"x\""}};
  EXPECT_EQ(sent(bridge.request(custom)),
            "{\"cmd\":\"custom\",\"id\":5,\"text\":\"Caf\xC3\xA9 \\\"x\\\"\"}");
  EXPECT_EQ(sent(bridge.get("[Bad\xFF]", "play")),
            "{\"cmd\":\"get\",\"group\":\"[Bad\xEF\xBF\xBD]\",\"id\":6,"
            "\"key\":\"play\",\"prop\":\"value\"}");
  EXPECT_EQ(bridge.request(json::array({1, 2})).error(),
            "request is not a JSON object");

  EXPECT_EQ(sent(bridge.deck_info(2)), R"({"cmd":"deckinfo","deck":2,"id":7})");
  EXPECT_EQ(sent(bridge.effect_name(-1)),
            R"({"cmd":"effectname","id":8,"index":-1})");
  EXPECT_EQ(
      sent(bridge.effect_index("org.kelvo.effects.metronome")),
      R"({"cmd":"effectindex","effect":"org.kelvo.effects.metronome","id":9})");
  EXPECT_EQ(sent(bridge.dump_widgets()), R"({"cmd":"dumpwidgets","id":10})");
  EXPECT_EQ(sent(bridge.selected_track()),
            R"({"cmd":"selectedtrack","id":11})");
  LastValues last;
  bridge.watch("[Channel2]", "rate", last);
  EXPECT_EQ(link.plugin->next_line(),
            R"({"cmd":"watch","group":"[Channel2]","id":12,"key":"rate"})");
  EXPECT_EQ(
      link.plugin->next_line(),
      R"({"cmd":"get","group":"[Channel2]","id":13,"key":"rate","prop":"value"})");

  // Numbers take their shortest form.
  const json numbers = {{"cmd", "n"},     {"a", 1e20},
                        {"b", 5e-5},      {"c", -2.5e100},
                        {"d", 1.5e-300},  {"f", false},
                        {"i", -7},        {"s", "x\"e+05 e-07\\"},
                        {"t", true},      {"u", 123456789012345678ULL},
                        {"w", 0.1 + 0.2}, {"z", 0.0}};
  EXPECT_EQ(sent(bridge.request(numbers)),
            R"({"a":1e20,"b":5e-5,"c":-2.5e100,"cmd":"n","d":1.5e-300,)"
            R"("f":false,"i":-7,"id":14,"s":"x\"e+05 e-07\\","t":true,)"
            R"("u":123456789012345678,"w":0.30000000000000004,"z":0.0})");
}

TEST(BridgeRequests, ReplyOutcomes) {
  // The plugin's reply to a request for each key, its id added, and what a
  // get of [Channel1] makes of it: the value, or the error after the name.
  const std::vector<std::array<std::string, 3>> gets = {
      {"int", R"("ok":true,"value":3)", "3.0"},
      {"neg", R"("ok":true,"value":-2)", "-2.0"},
      {"bool", R"("ok":true,"value":true)", "Kelvo sent no value"},
      {"none", R"("ok":true)", "Kelvo sent no value"},
      {"text-ok", R"("ok":"true","value":1)", "request failed"},
      {"one-ok", R"("ok":1,"value":1)", "request failed"},
      {"no-ok", R"("value":1)", "request failed"},
      {"error", R"("error":"no such control","ok":false)", "no such control"}};
  std::map<std::string, std::string> replies = {
      {"error-no-ok", R"("error":"bad group")"},
      {"error-number", R"("error":7,"ok":false)"},
      {"play", R"("ok":true,"value":2)"},
      {"hotcue_12_position", R"("ok":true,"value":-1.5)"},
      {"group_[Channel3]_enable", R"("ok":true,"value":1.5)"},
      {"crossfader", R"("ok":true,"value":-1)"},
      {"beats_translate_move", R"("ok":true,"value":-4)"}};
  for (const auto& [key, reply, outcome] : gets) replies[key] = reply;
  Link link = open_link([&replies](const json& request) -> std::string {
    auto it = replies.find(request.value("key", ""));
    if (it == replies.end()) return "";
    return "{\"id\":" + request["id"].dump() + "," + it->second + "}\n";
  });
  ASSERT_TRUE(link.bridge);
  Bridge& bridge = *link.bridge;
  for (const auto& [key, reply, outcome] : gets) {
    auto got = bridge.get("[Channel1]", key);
    EXPECT_EQ(got ? json(*got).dump() : got.error(),
              got ? outcome : "[Channel1]," + key + ": " + outcome)
        << key;
  }
  EXPECT_EQ(bridge.set("[Channel1]", "error-no-ok", "value", 1).error(),
            "[Channel1],error-no-ok: bad group");
  EXPECT_EQ(bridge.request({{"cmd", "get"}, {"key", "error-number"}}).error(),
            "request failed");
  // The reply is handed over whole.
  auto whole = bridge.request({{"cmd", "get"}, {"key", "int"}});
  ASSERT_TRUE(whole);
  EXPECT_EQ(whole->dump(), R"({"id":12,"ok":true,"value":3})");

  // A value outside the control's range is an error; a parameter is always
  // 0..1, and a control the contract does not name may be anything.
  EXPECT_EQ(bridge.get("[Channel2]", "play").error(),
            "Kelvo sent 2 for [Channel2],play, outside 0..1");
  EXPECT_EQ(bridge.get("[Channel1]", "hotcue_12_position").error(),
            "Kelvo sent -1.5 for [Channel1],hotcue_12_position, outside -1..");
  EXPECT_EQ(bridge.get("[EffectRack1_EffectUnit4]", "group_[Channel3]_enable")
                .error(),
            "Kelvo sent 1.5 for [EffectRack1_EffectUnit4],group_[Channel3]_"
            "enable, outside 0..1");
  EXPECT_EQ(bridge.get("[Master]", "crossfader").value(), -1);
  EXPECT_EQ(bridge.set("[Master]", "crossfader", "parameter", 0.5).error(),
            "Kelvo sent -1 for [Master],crossfader, outside 0..1");
  EXPECT_EQ(
      bridge.set("[Channel1]", "beats_translate_move", "value", -4).value(),
      -4);
  EXPECT_EQ(bridge.get("[Other]", "int").value(), 3);
  // A set gives the value Kelvo reports, else the one passed.
  EXPECT_EQ(bridge.set("[Other]", "int", "value", 0.9).value(), 3);
  EXPECT_EQ(bridge.set("[Channel1]", "none", "value", 0.9).value(), 0.9);
}

TEST(BridgeRequests, TimeOutAndLateReply) {
  // Request 2 gets no answer in time; its late reply comes just before the
  // reply to request 3, which must not take it.
  Link link = open_link(
      [](const json& request) -> std::string {
        if (request["id"] != 3) return "";
        return "{\"id\":2,\"ok\":true,\"value\":0.5}\n"
               "{\"id\":3,\"ok\":true,\"value\":1}\n";
      },
      kTimeOut);
  ASSERT_TRUE(link.bridge);
  Bridge& bridge = *link.bridge;
  // The late reply goes to the one who asked for it, as the get reads it.
  auto [late, late_rx] = make_channel<Result<double>>();
  EXPECT_EQ(bridge
                .get("[Master]", "crossfader", "value",
                     [late](Result<double> value) { late.send(value); })
                .error(),
            "[Master],crossfader: Kelvo did not answer in time");
  EXPECT_TRUE(bridge.busy());  // until a later request is answered in time
  EXPECT_EQ(bridge.get("[Channel1]", "play").value(), 1.0);
  EXPECT_FALSE(bridge.busy());
  EXPECT_EQ(late_rx.recv_for(10s), Result<double>(0.5));
  // A command passes the time-out on as it is.
  EXPECT_EQ(bridge.effect_index("x").error(), "Kelvo did not answer in time");
}

// A connection that takes at most 512 bytes a send and lets other threads
// run first, as one with a full send buffer does: requests sent side by side
// are whole lines only if the bridge keeps them apart.
class Trickle final : public Stream {
 public:
  explicit Trickle(std::unique_ptr<Stream> inner) : inner_(std::move(inner)) {}
  Result<size_t> send(std::string_view bytes) override {
    std::this_thread::yield();
    return inner_->send(bytes.substr(0, 512));
  }
  Result<size_t> recv(char* buffer, size_t size) override {
    return inner_->recv(buffer, size);
  }
  Result<std::unique_ptr<Stream>> clone() override { return inner_->clone(); }
  void shutdown() override { inner_->shutdown(); }
  void close() override { inner_->close(); }

 private:
  std::unique_ptr<Stream> inner_;
};

TEST(BridgeRequests, ConcurrentRequestsKeepLinesWholeAndIdsUnique) {
  FakePlugin plugin([](const json& request) -> std::string {
    if (!request.is_object()) return "";  // a mixed line: no answer
    json reply = {{"id", request["id"]}, {"ok", true}};
    const std::string key = request["key"];
    reply["value"] = std::stod(key.substr(key.rfind('-') + 1));
    return reply.dump() + "\n";
  });
  auto stream = connect_loopback(plugin.port());
  ASSERT_TRUE(stream) << stream.error();
  auto [events, received] = make_channel<BridgeEvent>();
  auto bridge = Bridge::attach(std::make_unique<Trickle>(std::move(*stream)),
                               events, {}, {10ms, 2s, {}});
  ASSERT_TRUE(bridge) << bridge.error();
  constexpr int kThreads = 6;
  constexpr int kEach = 40;
  std::vector<std::thread> threads;
  std::atomic<int> wrong{0};
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      const std::string padding(3000 + t * 1000, 'a' + t);
      for (int i = 0; i < kEach; ++i) {
        const int tag = t * 1000 + i;
        auto value =
            (*bridge)->get("[Channel1]", padding + "-" + std::to_string(tag));
        if (!value || *value != tag) ++wrong;
      }
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(wrong.load(), 0);

  std::set<uint64_t> ids;
  for (int i = 0; i < kThreads * kEach; ++i) {
    const json request = json::parse(plugin.next_line(), nullptr, false);
    ASSERT_TRUE(request.is_object()) << "a mixed line";
    ids.insert(request["id"].get<uint64_t>());
  }
  EXPECT_EQ(ids.size(), size_t{kThreads * kEach});
  EXPECT_EQ(*ids.begin(), 1u);
  EXPECT_EQ(*ids.rbegin(), uint64_t{kThreads * kEach});
}

TEST(BridgeEvents, LastUnterminatedLineThenDisconnectedOnce) {
  Link link = watching_link({{"[A]", "b"}});
  ASSERT_TRUE(link.bridge);
  link.plugin->send(
      "{\"event\":\"changed\",\"group\":\"[A]\",\"key\":\"b\",\"value\":2}");
  link.plugin->end();
  expect_changed(link, "[A]", "b", 2.0);
  expect_disconnected_last(link);
  // No reader is left: later requests fail at once, and Kelvo is not taken
  // for busy.
  EXPECT_EQ(link.bridge->get("[Channel1]", "play").error(),
            "[Channel1],play: Not connected to Kelvo");
  EXPECT_TRUE(link.bridge->ended().has_value());
  EXPECT_FALSE(link.bridge->busy());
}

TEST(BridgeEvents, InvalidUtf8EndsTheReaderAndFailsWaitingRequests) {
  Link link = watching_link({{"[A]", "b"}, {"[A]", "c"}});
  ASSERT_TRUE(link.bridge);
  auto pending = link.bridge->send_get("[Channel1]", "play");
  EXPECT_EQ(json::parse(link.plugin->next_line())["id"], 6);
  link.plugin->send(
      "{\"event\":\"changed\",\"group\":\"[A]\",\"key\":\"b\",\"value\":1}\n"
      "{\"event\":\"changed\",\"group\":\"[\xC3\x28]\",\"key\":\"b\"}\n"
      "{\"event\":\"changed\",\"group\":\"[A]\",\"key\":\"c\",\"value\":1}\n"
      "{\"id\":6,\"ok\":true,\"value\":1}\n");
  expect_changed(link, "[A]", "b", 1.0);
  expect_disconnected_last(link);
  EXPECT_EQ(pending.wait().error(), "[Channel1],play: Not connected to Kelvo");
  // The plugin sees the end at once, while the Bridge still exists.
  EXPECT_TRUE(link.plugin->saw_end());
}

// A line of up to 1 MiB before its LF is read; a longer one is skipped to
// its LF, logged once, and the connection goes on.
TEST(BridgeEvents, LinesLongerThanOneMebibyteAreDiscarded) {
  Link link = watching_link({{"[A]", "b"}});
  ASSERT_TRUE(link.bridge);
  auto padded = [](int value, size_t length) {
    std::string line =
        "{\"event\":\"changed\",\"group\":\"[A]\",\"key\":\"b\","
        "\"value\":" +
        std::to_string(value) + "}";
    line.resize(length, ' ');
    return line + "\n";
  };
  testing::internal::CaptureStdout();
  link.plugin->send(padded(1, 1048576));
  link.plugin->send(padded(2, 1048577));
  link.plugin->send(padded(3, 3 * 1048576));
  std::string last = padded(4, 1048575);  // with its CR, 1 MiB before the LF
  last.insert(last.size() - 1, "\r");
  link.plugin->send(last);
  expect_changed(link, "[A]", "b", 1.0);
  expect_changed(link, "[A]", "b", 4.0);
  const std::string out = testing::internal::GetCapturedStdout();
  const std::string line =
      "bridge: discarded a line longer than 1048576 bytes\n";
  EXPECT_EQ(out, line + line);
}

TEST(BridgeEvents, ReadingGoesOnWhenTheConsumerHasGone) {
  Link link = open_link();
  ASSERT_TRUE(link.bridge);
  link.events = Receiver<BridgeEvent>();
  auto pending = link.bridge->send_get("[Channel1]", "time_elapsed");
  EXPECT_EQ(json::parse(link.plugin->next_line())["id"], 2);
  link.plugin->send(
      "{\"event\":\"changed\",\"group\":\"[A]\",\"key\":\"b\",\"value\":1}\n"
      "{\"id\":2,\"ok\":true,\"value\":6}\n");
  EXPECT_EQ(pending.wait().value(), 6.0);
}

TEST(BridgeCommands, WatchFillsTheTableOrLogsTheFailure) {
  Link link = open_link([](const json& request) -> std::string {
    const std::string id = request["id"].dump();
    const std::string key = request["key"];
    if (request["cmd"] == "watch" && key == "refused")
      return "{\"error\":\"unknown control\",\"id\":" + id + ",\"ok\":false}\n";
    if (request["cmd"] == "get" && key == "unreadable")
      return "{\"error\":\"cannot read\",\"id\":" + id + ",\"ok\":false}\n";
    const std::string ok = "{\"id\":" + id + ",\"ok\":true,\"value\":0.5}\n";
    // A change may come between a watch and its reply.
    if (request["cmd"] == "watch" && key == "play") {
      return "{\"event\":\"changed\",\"group\":\"[Channel1]\",\"key\":"
             "\"play\",\"value\":1}\n" +
             ok;
    }
    return ok;
  });
  ASSERT_TRUE(link.bridge);
  LastValues last{{{"[Channel1]", "old"}, 1.0}};

  testing::internal::CaptureStdout();
  link.bridge->watch("[Channel1]", "refused", last);
  link.bridge->watch("[Channel1]", "unreadable", last);
  const std::string out = testing::internal::GetCapturedStdout();
  EXPECT_NE(out.find("watch failed: [Channel1],refused: unknown control"),
            std::string::npos)
      << out;
  EXPECT_EQ(out.find("unreadable"), std::string::npos) << out;
  EXPECT_EQ(last, (LastValues{{{"[Channel1]", "old"}, 1.0}}));

  link.bridge->watch("[Channel1]", "play", last);
  EXPECT_EQ(last, (LastValues{{{"[Channel1]", "old"}, 1.0},
                              {{"[Channel1]", "play"}, 0.5}}));
  expect_changed(link, "[Channel1]", "play", 1);
}

TEST(BridgeCommands, ResultFieldsAndDefaults) {
  json answer;
  std::mutex mutex;  // guards answer
  Link link = open_link([&](const json& request) {
    std::lock_guard lock(mutex);
    json reply = answer;
    reply["id"] = request["id"];
    return reply.dump() + "\n";
  });
  ASSERT_TRUE(link.bridge);
  Bridge& bridge = *link.bridge;
  auto answer_with = [&](json reply) {
    std::lock_guard lock(mutex);
    answer = std::move(reply);
  };

  answer_with({{"ok", true},
               {"labels",
                {5,
                 {{"label", "artist"}},
                 {{"label", "title"}, {"text", 3}},
                 {{"label", "title"}, {"text", "Song"}},
                 {{"label", "bpm"}, {"text", "120"}}}}});
  auto labels = bridge.deck_info(1);
  ASSERT_TRUE(labels);
  ASSERT_EQ(labels->size(), 2u);
  EXPECT_EQ((*labels)[0].label, "title");
  EXPECT_EQ((*labels)[0].text, "Song");
  EXPECT_EQ((*labels)[1].label, "bpm");
  answer_with({{"ok", true}, {"labels", "none"}});
  EXPECT_EQ(bridge.deck_info(1).value().size(), 0u);
  answer_with({{"ok", false}, {"error", "no deck"}});
  EXPECT_FALSE(bridge.deck_info(9).has_value());

  answer_with({{"ok", true}, {"name", "Echo"}});
  EXPECT_EQ(bridge.effect_name(3).value(), "Echo");
  answer_with({{"ok", true}, {"name", 5}});
  EXPECT_EQ(bridge.effect_name(3).value(), "unknown effect");
  answer_with({{"ok", true}});
  EXPECT_EQ(bridge.effect_name(3).value(), "unknown effect");
  answer_with({{"ok", false}, {"error", "no effect 3"}});
  EXPECT_EQ(bridge.effect_name(3).error(), "no effect 3");

  constexpr uint64_t kTop = 9223372036854775807ULL;  // the largest int64_t
  const std::vector<std::pair<json, int64_t>> indexes = {
      {-1, -1}, {7, 7},       {2.5, 0},     {3.0, 0},
      {"4", 0}, {nullptr, 0}, {kTop, kTop}, {kTop + 1, 0}};
  for (const auto& [index, expected] : indexes) {
    answer_with({{"ok", true}, {"index", index}});
    EXPECT_EQ(bridge.effect_index("org.kelvo.effects.metronome").value(),
              expected)
        << index.dump();
  }
  answer_with({{"ok", false}});
  EXPECT_EQ(bridge.effect_index("x").error(), "request failed");

  answer_with({{"ok", true}, {"count", 12}});
  EXPECT_EQ(bridge.dump_widgets().value(), 12u);
  answer_with({{"ok", true}});
  EXPECT_EQ(bridge.dump_widgets().value(), 0u);
  answer_with({{"ok", true}, {"count", -3}});
  EXPECT_EQ(bridge.dump_widgets().value(), 0u);
  answer_with({{"ok", false}, {"error", "no window"}});
  EXPECT_EQ(bridge.dump_widgets().error(), "no window");

  answer_with({{"ok", true},
               {"fields", {{"title", "Tune"}, {"bpm", 120}, {"artist", ""}}},
               {"row", -3},
               {"rows", 40}});
  auto track = bridge.selected_track();
  ASSERT_TRUE(track);
  EXPECT_EQ(track->fields, (std::map<std::string, std::string>{
                               {"artist", ""}, {"title", "Tune"}}));
  EXPECT_EQ(track->row, 0u);
  EXPECT_EQ(track->rows, 40u);
  answer_with({{"ok", true}, {"fields", {1, 2}}, {"row", 2.0}, {"rows", 5}});
  track = bridge.selected_track();
  ASSERT_TRUE(track);
  EXPECT_TRUE(track->fields.empty());
  EXPECT_EQ(track->row, 0u);
  EXPECT_EQ(track->rows, 5u);
  answer_with({{"ok", false}, {"error", "library hidden"}});
  EXPECT_EQ(bridge.selected_track().error(),
            "no track selected in the library");
}

TEST(BridgeConnect, HelloFailures) {
  // The plugin's answer to the hello, and the error it makes.
  const std::pair<std::string, std::string> cases[] = {
      {"{\"error\":\"wrong token\",\"id\":1,\"ok\":false}\n", "wrong token"},
      {"{\"id\":1}\n", "request failed"},
      {"", "Kelvo did not answer in time"},
  };
  for (const auto& [hello_reply, error] : cases) {
    FakePlugin plugin({}, hello_reply);
    auto [events, received] = make_channel<BridgeEvent>();
    auto bridge = Bridge::connect(plugin.port(), kToken,
                                  std::chrono::steady_clock::now() + 10s,
                                  nullptr, events, kTimeOut);
    events.reset();
    ASSERT_FALSE(bridge.has_value());
    EXPECT_EQ(bridge.error(), error);
    // The dropped bridge ends the connection and its reader.
    auto last = received.recv_for(10s);
    ASSERT_TRUE(last.has_value());
    EXPECT_TRUE(std::holds_alternative<Disconnected>(*last));
  }
}

TEST(BridgeConnect, RefusedUntilTheDeadlineOrKelvoExits) {
  const uint16_t port = closed_port();
  auto refused = connect_loopback(port);
  ASSERT_FALSE(refused.has_value());
  EXPECT_FALSE(refused.error().empty());  // the user hears why
  const std::string expected =
      "cannot connect to the Kelvo plugin: " + refused.error();

  auto [events, received] = make_channel<BridgeEvent>();
  auto late = Bridge::connect(port, kToken, std::chrono::steady_clock::now(),
                              nullptr, events, kTiming);
  EXPECT_EQ(late.error(), expected);

  // Kelvo exits, or its state cannot be read, after some polls.
  for (const auto [running_polls, then] :
       {std::pair{3, ProcessState::Kind::exited},
        std::pair{0, ProcessState::Kind::failed}}) {
    auto kelvo = std::make_shared<FakeProcess>(running_polls, then);
    EXPECT_EQ(
        Bridge::connect(port, kToken, std::chrono::steady_clock::now() + 600s,
                        kelvo, events, kTiming)
            .error(),
        expected);
    EXPECT_EQ(kelvo->polls(), running_polls + 1);
  }
}

TEST(BridgeConnect, AListenerOfAnotherProcessNeverGetsTheToken) {
  auto listener = listen_loopback(0);
  ASSERT_TRUE(listener) << listener.error();
  {
    auto probe = connect_loopback((*listener)->port());
    ASSERT_TRUE(probe) << probe.error();
    auto held = loopback_port_holder((*listener)->port(),
                                     (*probe)->local_port().value_or(0), 1);
    ASSERT_TRUE(held) << held.error();
    if (!held->known) GTEST_SKIP() << "this system's TCP table names no owners";
    ASSERT_TRUE((*listener)->accept());
  }
  const std::string port = std::to_string((*listener)->port());
  const std::string refusal =
      "port " + port + " is held by another program (process " +
      std::to_string(current_process_id()) + "); not sending the token";
  // Kelvo is some other process; the listener is this test's. Not our id
  // plus one: that is often one of our own threads, and /proc/<thread id>
  // shows our descriptors too.
  // It "exits" at its third poll: three attempts, however long each takes
  // on a loaded machine (the listener never accepts, and a connect beyond
  // its backlog would time out instead of being refused).
  auto kelvo =
      std::make_shared<FakeProcess>(2, ProcessState::Kind::exited, 0x7fffffffu);
  auto [events, received] = make_channel<BridgeEvent>();
  testing::internal::CaptureStdout();
  auto bridge = Bridge::connect((*listener)->port(), kToken,
                                std::chrono::steady_clock::now() + 60s, kelvo,
                                events, BridgeTiming{10ms, 10s, {}});
  const std::string logged = testing::internal::GetCapturedStdout();
  ASSERT_FALSE(bridge.has_value());
  EXPECT_EQ(bridge.error(), "cannot connect to the Kelvo plugin: " + refusal);
  EXPECT_EQ(kelvo->polls(), 3);       // it kept trying until Kelvo ended
  EXPECT_EQ(logged, refusal + "\n");  // once, not once per attempt
  // Every connection it made was closed without a byte.
  auto accepted = (*listener)->accept();
  ASSERT_TRUE(accepted) << accepted.error();
  char c;
  EXPECT_EQ((*accepted)->recv(&c, 1).value_or(1), 0u);
}

TEST(BridgeConnect, RetriesUntilThePluginListens) {
  // Find a port, free it, and start listening there only after the first
  // attempts have been refused.
  const uint16_t port = closed_port();
  auto [events, received] = make_channel<BridgeEvent>();
  auto kelvo = std::make_shared<FakeProcess>(1000, ProcessState::Kind::exited);
  auto connecting = std::async(std::launch::async, [&, events = events] {
    return Bridge::connect(port, kToken, std::chrono::steady_clock::now() + 60s,
                           kelvo, events, kTiming);
  });
  while (kelvo->polls() < 2) std::this_thread::sleep_for(10ms);
  auto listener = listen_loopback(port);
  ASSERT_TRUE(listener) << listener.error();
  auto accepted = (*listener)->accept();
  ASSERT_TRUE(accepted);
  // The reader lives to the end of the statement, and so does its line.
  EXPECT_EQ(json::parse(LineReader(**accepted).next().value_or(""))["token"],
            kToken);
  ASSERT_TRUE(send_all(**accepted, "{\"id\":1,\"ok\":true}\n"));
  auto bridge = connecting.get();
  ASSERT_TRUE(bridge) << bridge.error();
  bridge->reset();
  (*accepted)->shutdown();
}

}  // namespace
}  // namespace orvalin
