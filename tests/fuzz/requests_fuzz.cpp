// Arbitrary group, key, property and number values through the bridge's
// get and set requests. Each request goes out as exactly one line of valid
// UTF-8 JSON without a raw LF, and the reader, given that line back as the
// reply, decodes the same values (a get, whose line has no value, fails).
#include <fuzzer/FuzzedDataProvider.h>

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <variant>

#include "base/utf.h"
#include "bridge/bridge.h"
#include "check.h"
#include "fake_stream.h"

using namespace orvalin;
using fuzz::require;
using nlohmann::json;

namespace {

struct Link {
  std::shared_ptr<fuzz::Wire> wire = std::make_shared<fuzz::Wire>();
  std::shared_ptr<Bridge> bridge;
  Receiver<BridgeEvent> events;
};

// One bridge for the whole run. The plugin sends each line back twice: as a
// "changed" event, which the reader decodes into group, key and value, and
// marked ok as the reply.
Link& link() {
  static Link* const instance = [] {
    auto* made = new Link;
    made->wire->reply = [](const std::string& line) {
      if (!line.starts_with("{") || line.size() < 3) return std::string();
      const std::string rest = line.substr(1);
      return "{\"event\":\"changed\"," + rest + "{\"ok\":true," + rest;
    };
    auto [sender, receiver] = make_channel<BridgeEvent>();
    made->events = std::move(receiver);
    auto bridge = Bridge::attach(std::make_unique<fuzz::FakeStream>(made->wire),
                                 std::move(sender));
    require(bridge.has_value(), "the bridge attaches to a connected stream");
    made->bridge = std::move(*bridge);
    return made;
  }();
  return *instance;
}

// A text field of the line as sent: UTF-8, and itself when it was UTF-8.
void check_text(const json& reply, const char* field, const std::string& sent) {
  auto it = reply.find(field);
  require(it != reply.end() && it->is_string(), "the reply has the field",
          field);
  const std::string& got = it->get_ref<const std::string&>();
  require(is_valid_utf8(got), "a decoded text is UTF-8", got);
  if (is_valid_utf8(sent)) require(got == sent, "the same text back", got);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider input(data, size);
  const bool is_set = input.ConsumeBool();
  double value = 0;
  if (input.remaining_bytes() >= sizeof value) {
    const auto raw = input.ConsumeBytes<uint8_t>(sizeof value);
    std::memcpy(&value, raw.data(), sizeof value);
  }
  const std::string group = input.ConsumeRandomLengthString(64);
  const std::string key = input.ConsumeRandomLengthString(64);
  const std::string prop = input.ConsumeRemainingBytesAsString();

  Link& l = link();
  {
    // Watched like every control the program follows: the watch, and the
    // value read after it, go out and come back before the request itself.
    LastValues values;
    l.bridge->watch(group, key, values);
    while (l.events.try_recv()) {
    }
    std::lock_guard lock(l.wire->mutex);
    l.wire->sent.clear();
  }
  Result<double> result = is_set ? l.bridge->set(group, key, prop, value)
                                 : l.bridge->get(group, key, prop);
  std::string line;
  {
    std::lock_guard lock(l.wire->mutex);
    line.swap(l.wire->sent);
  }
  require(line.ends_with('\n') && line.find('\n') == line.size() - 1,
          "a request is exactly one line", line);
  require(is_valid_utf8(line), "a request is UTF-8", line);
  const json sent = json::parse(line, nullptr, false);
  require(sent.is_object(), "a request is a JSON object", line);
  if (is_set) {
    require(result.has_value(), "an answered set succeeds",
            result ? "" : result.error());
  } else {
    // The reply is the request itself, which carries no value: the get
    // fails instead of reading 0.
    require(!result && result.error().ends_with("Kelvo sent no value"),
            "a get answered without a value fails", line);
  }

  check_text(sent, "group", group);
  check_text(sent, "key", key);
  check_text(sent, "prop", prop);
  // Only a watched control's change passes the reader; invalid UTF-8 is
  // sent repaired, so its change names another control.
  if (!is_valid_utf8(group) || !is_valid_utf8(key)) {
    while (l.events.try_recv()) {
    }
    return 0;
  }
  const std::optional<BridgeEvent> event = l.events.try_recv();
  require(event && std::holds_alternative<Changed>(*event),
          "the line read back is an event", line);
  const auto& changed = std::get<Changed>(*event);
  require(changed.group == group && changed.key == key,
          "the same group and key back", line);
  if (is_set) {
    const json& number = sent["value"];
    if (std::isfinite(value)) {
      require(number.is_number() && changed.value == value && *result == value,
              "a finite value arrives unchanged", line);
    } else {
      require(number.is_null() && changed.value == 0,
              "NaN and infinities are sent as null", line);
      // The reply carries no value either: the set gives the one passed.
      require(std::isnan(value) ? std::isnan(*result) : *result == value,
              "a set answered without a value gives the value passed", line);
    }
  }
  return 0;
}
