// Whatever the plugin might send, cut into reads at arbitrary points,
// through the bridge's reader while a few requests wait for replies. Every
// waiting request ends, with the first reply that carries its id or with an
// error, and every event comes from one complete, valid "changed" line.
//
// Input: one byte with the number of waiting requests (low two bits), one
// byte choosing the read sizes (0: as much as fits), then the plugin's bytes.
#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "base/utf.h"
#include "bridge/bridge.h"
#include "check.h"
#include "fake_stream.h"

using namespace orvalin;
using fuzz::require;
using nlohmann::json;

namespace {

// The controls the bridge counts as watched: those the dictionary names, and
// those of the corpus input changed_events_and_their_defaults (a group or
// key that is missing or not a text reads as empty).
const std::set<std::pair<std::string, std::string>> kWatched = {
    {"[Channel1]", "play"}, {"[Master]", "crossfader"}, {"g", "k"},
    {"[Channel2]", "rate"}, {"[Master]", "balance"},    {"", "volume"},
    {"[Sampler1]", ""},     {"[Channel1]", "t\u00e9"}};

// What a careful reading of the bytes expects: the events, and the outcome
// of the request with each id.
struct Expected {
  std::vector<Changed> events;
  std::map<uint64_t, std::string> outcomes;  // "ok <json>" or "error <text>"
};

std::optional<uint64_t> id_of(const json& message) {
  auto it = message.find("id");
  if (it == message.end() || !it->is_number_integer()) return std::nullopt;
  if (!it->is_number_unsigned() && it->get<int64_t>() < 0) return std::nullopt;
  return it->get<uint64_t>();
}

std::string outcome_of(const json& reply) {
  auto ok = reply.find("ok");
  if (ok != reply.end() && ok->is_boolean() && ok->get<bool>()) {
    return "ok " + reply.dump();
  }
  auto error = reply.find("error");
  if (error != reply.end() && error->is_string()) {
    return "error " + error->get<std::string>();
  }
  return "error request failed";
}

// Lines end at LF (a CR before it dropped; a last line without LF counts);
// a line that is not UTF-8 ends the connection, one that is not a JSON
// object is skipped.
Expected read_expected(std::string_view bytes, uint64_t requests) {
  Expected expected;
  while (!bytes.empty()) {
    const size_t end = bytes.find('\n');
    std::string_view line = bytes.substr(0, end);
    bytes.remove_prefix(end == std::string_view::npos ? bytes.size() : end + 1);
    if (end != std::string_view::npos && line.ends_with('\r')) {
      line.remove_suffix(1);
    }
    if (!is_valid_utf8(line)) break;
    const json message = json::parse(line, nullptr, false);
    if (message.is_discarded() || !message.is_object()) continue;
    auto event = message.find("event");
    if (event != message.end() && *event == "changed") {
      Changed changed;
      auto group = message.find("group");
      if (group != message.end() && group->is_string()) changed.group = *group;
      auto key = message.find("key");
      if (key != message.end() && key->is_string()) changed.key = *key;
      auto value = message.find("value");
      if (value != message.end() && value->is_number()) changed.value = *value;
      // Changes of controls nobody watches never leave the reader.
      if (kWatched.contains({changed.group, changed.key})) {
        expected.events.push_back(std::move(changed));
      }
      continue;
    }
    const auto id = id_of(message);
    if (id && *id >= 1 && *id <= requests && !expected.outcomes.contains(*id)) {
      expected.outcomes[*id] = outcome_of(message);
    }
  }
  for (uint64_t id = 1; id <= requests; ++id) {
    expected.outcomes.try_emplace(id, "error Not connected to Kelvo");
  }
  return expected;
}

// Read sizes from a small generator: the same input, the same cuts.
std::vector<std::string> cut(std::string_view bytes, uint8_t choice) {
  std::vector<std::string> chunks;
  uint32_t state = 0x9E3779B9u ^ choice;
  while (!bytes.empty()) {
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    const size_t size =
        choice == 0 ? bytes.size() : 1 + state % (choice % 64 + 1);
    const size_t taken = std::min(size, bytes.size());
    chunks.emplace_back(bytes.substr(0, taken));
    bytes.remove_prefix(taken);
  }
  return chunks;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  const uint64_t requests = data[0] & 3;
  const std::string_view bytes(reinterpret_cast<const char*>(data) + 2,
                               size - 2);
  const Expected expected = read_expected(bytes, requests);

  auto wire = std::make_shared<fuzz::Wire>();
  for (std::string& chunk : cut(bytes, data[1])) {
    wire->incoming.push_back(std::move(chunk));
  }
  wire->incoming_ends = true;
  // The plugin speaks only once every request is on its way, so that each
  // has its reply slot before any reply can arrive.
  wire->release_after = requests;

  // The reader runs on a thread this input joins: an input ends with
  // everything it allocated freed, so the leak check never meets a reader
  // still letting go of its reply table.
  std::thread reader;
  auto [events, received] = make_channel<BridgeEvent>();
  auto bridge = Bridge::attach(std::make_unique<fuzz::FakeStream>(wire),
                               std::move(events), kWatched, {},
                               [&reader](std::function<void()> body) {
                                 reader = std::thread(std::move(body));
                               });
  require(bridge.has_value(), "the bridge attaches to a connected stream");

  // Sent without waiting (request() is send().wait()), so that they all
  // wait for their replies at once while the reader runs.
  std::vector<Bridge::Sent> sent;
  for (uint64_t i = 0; i < requests; ++i) {
    sent.push_back((*bridge)->send(json{{"cmd", "get"}, {"group", "g"}}));
  }
  std::vector<std::string> outcomes;
  for (Bridge::Sent& request : sent) {
    auto reply = request.wait();
    outcomes.push_back(reply ? "ok " + reply->dump()
                             : "error " + reply.error());
  }

  std::vector<Changed> got;
  for (;;) {
    auto event = received.recv_for(std::chrono::seconds(30));
    require(event.has_value(), "the reader ends when the stream ends");
    if (std::holds_alternative<Disconnected>(*event)) break;
    got.push_back(std::get<Changed>(std::move(*event)));
  }
  bridge->reset();
  reader.join();

  require(got.size() == expected.events.size(),
          "one event per complete \"changed\" line");
  for (size_t i = 0; i < got.size(); ++i) {
    require(got[i].group == expected.events[i].group &&
                got[i].key == expected.events[i].key &&
                got[i].value == expected.events[i].value,
            "an event is its line's group, key and value", got[i].group);
  }
  // The requests were sent, and so numbered, in order.
  std::vector<std::string> wanted;
  for (const auto& [id, outcome] : expected.outcomes) wanted.push_back(outcome);
  require(outcomes == wanted, "each request ends with its own reply",
          outcomes.empty() ? "" : outcomes.front());
  return 0;
}
