#include "main/testdriver.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <optional>
#include <thread>

#include "controls/formats.h"
#include "applog/applog.h"
#include "bridge/bridge.h"

namespace orvalin {

namespace {

bool is_space(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' ||
         c == '\v';
}

std::string_view trim(std::string_view text) {
  while (!text.empty() && is_space(text.front())) text.remove_prefix(1);
  while (!text.empty() && is_space(text.back())) text.remove_suffix(1);
  return text;
}

char fold(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

// An unsigned decimal with an optional "+"; anything else is 0.
uint64_t parse_milliseconds(std::string_view text) {
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  if (text.empty()) return 0;
  uint64_t value = 0;
  const auto [end, error] =
      std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size()) return 0;
  return value;
}

// Decimal or exponent notation, "inf", "infinity" and "nan" in any letter
// case, each with an optional sign. strtod reads the number (not every
// standard library has a floating-point from_chars); what it would take
// beyond that notation is refused first: white space, a second sign,
// hexadecimal ("0x10") and "nan(...)".
std::optional<double> parse_number(std::string_view text) {
  bool negative = false;
  if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
    negative = text.front() == '-';
    text.remove_prefix(1);
  }
  if (text.empty() || text.front() == '+' || text.front() == '-') {
    return std::nullopt;
  }
  for (const char c : text) {
    const char lower = fold(c);
    const bool allowed = (c >= '0' && c <= '9') || c == '.' || c == '+' ||
                         c == '-' || (lower >= 'a' && lower <= 'z');
    if (!allowed || lower == 'x') return std::nullopt;
  }
  // Out of range, strtod gives infinity or (nearly) zero, rounded as usual.
  const std::string copy(text);
  char* end = nullptr;
  const double value = std::strtod(copy.c_str(), &end);
  if (end != copy.c_str() + copy.size()) return std::nullopt;
  return negative ? -value : value;
}

std::string format_set_value(double value) {
  if (std::isnan(value)) return "NaN";
  if (std::isinf(value)) return value < 0 ? "-inf" : "inf";
  return plain_decimal(value);
}

class BridgeEnvironment final : public TestEnvironment {
 public:
  explicit BridgeEnvironment(std::shared_ptr<Bridge> bridge)
      : bridge_(std::move(bridge)) {}

  Result<double> get(const std::string& group,
                     const std::string& key) override {
    return bridge_->get(group, key, "value");
  }
  void set(const std::string& group, const std::string& key,
           double value) override {
    (void)bridge_->set(group, key, "value", value);
  }
  void sleep(std::chrono::milliseconds duration) override {
    std::this_thread::sleep_for(duration);
  }

 private:
  std::shared_ptr<Bridge> bridge_;
};

}  // namespace

std::vector<std::string> split_test_script(std::string_view script) {
  std::vector<std::string> steps;
  for (;;) {
    const size_t end = script.find(';');
    const std::string_view piece = trim(script.substr(0, end));
    if (!piece.empty()) steps.emplace_back(piece);
    if (end == std::string_view::npos) break;
    script.remove_prefix(end + 1);
  }
  return steps;
}

TestStep parse_test_step(std::string_view text) {
  if (text.size() >= 6 && text.starts_with("sleep:")) {
    return step::Sleep{parse_milliseconds(text.substr(6))};
  }
  if (text.size() >= 4 && text.starts_with("set:")) {
    const std::string_view rest = text.substr(4);
    const size_t equals = rest.find('=');
    if (equals == std::string_view::npos) return step::BadStep{};
    const std::string_view target = rest.substr(0, equals);
    const size_t comma = target.find(',');
    if (comma == std::string_view::npos) return step::BadStep{};
    const auto value = parse_number(trim(rest.substr(equals + 1)));
    if (!value) return step::BadStep{};
    return step::Set{std::string(target.substr(0, comma)),
                     std::string(target.substr(comma + 1)), *value};
  }
  if (text.starts_with("keys:")) {
    step::Keys keys;
    std::string_view rest = text.substr(5);
    for (size_t bar = 0; bar != std::string_view::npos;) {
      bar = rest.find('|');
      keys.keys.emplace_back(trim(rest.substr(0, bar)));
      rest.remove_prefix(bar == std::string_view::npos ? rest.size() : bar + 1);
    }
    return keys;
  }
  if (text.starts_with("log:")) {
    step::Log log_step;
    std::string_view rest = text.substr(4);
    for (;;) {
      const size_t bar = rest.find('|');
      const std::string_view item = rest.substr(0, bar);
      if (const size_t comma = item.find(',');
          comma != std::string_view::npos) {
        log_step.items.push_back({std::string(item.substr(0, comma)),
                                  std::string(item.substr(comma + 1))});
      }
      if (bar == std::string_view::npos) break;
      rest.remove_prefix(bar + 1);
    }
    return log_step;
  }
  return step::Key{};
}

std::optional<uint64_t> find_test_key(const std::vector<std::string>& keys,
                                      std::string_view text) {
  for (size_t i = 0; i < keys.size(); ++i) {
    const std::string& key = keys[i];
    if (key.size() != text.size()) continue;
    bool equal = true;
    for (size_t j = 0; j < key.size() && equal; ++j) {
      equal = fold(key[j]) == fold(text[j]);
    }
    if (equal) return i;
  }
  return std::nullopt;
}

std::string format_test_log_item(const step::LogItem& item,
                                 const Result<double>& value) {
  std::string text = item.group + "," + item.key + "=";
  text += value ? format_value(ValueFormat::number, *value) : "?";
  return text;
}

void run_test_script_with(std::string_view script,
                          const BindingsInForce& bindings,
                          const Sender<KeyPress>& actions,
                          TestEnvironment& environment, const Timing& timing) {
  using std::chrono::milliseconds;
  environment.sleep(timing.driver_start);
  // Sends one key press, looked up in the bindings in force now: a reload
  // may have changed the keys since the last step.
  auto press = [&](std::string_view key) {
    const std::shared_ptr<const BindingTables> tables = bindings.current();
    std::vector<std::string> keys;
    keys.reserve(tables->hotkeys.size());
    for (const HotkeyEntry& entry : tables->hotkeys) keys.push_back(entry.key);
    if (const auto index = find_test_key(keys, key)) {
      log("test key: " + std::string(key));
      (void)actions.send(KeyPress{*index, environment.now(), tables});
      return;
    }
    log("test: unknown key " + std::string(key));
  };
  for (const std::string& text : split_test_script(script)) {
    run_guarded("test-driver", [&] {
      const TestStep parsed = parse_test_step(text);
      if (const auto* sleep = std::get_if<step::Sleep>(&parsed)) {
        // Durations beyond the clock's range are capped rather than wrapped.
        const uint64_t cap = static_cast<uint64_t>(milliseconds::max().count());
        environment.sleep(milliseconds(static_cast<milliseconds::rep>(
            std::min(sleep->milliseconds, cap))));
      } else if (const auto* set = std::get_if<step::Set>(&parsed)) {
        environment.set(set->group, set->key, set->value);
        log("test: set " + set->group + "," + set->key + "=" +
            format_set_value(set->value));
      } else if (std::holds_alternative<step::BadStep>(parsed)) {
        log("test: bad step " + text);
      } else if (const auto* log_step = std::get_if<step::Log>(&parsed)) {
        std::string line = "test: ";
        bool first = true;
        for (const step::LogItem& item : log_step->items) {
          if (!first) line += "  ";
          first = false;
          line +=
              format_test_log_item(item, environment.get(item.group, item.key));
        }
        log(line);
      } else if (const auto* several = std::get_if<step::Keys>(&parsed)) {
        for (const std::string& key : several->keys) press(key);
        environment.sleep(timing.driver_key);
      } else {
        press(text);
        environment.sleep(timing.driver_key);
      }
    });
  }
  log("test: done");
}

void run_test_script(std::string script,
                     std::shared_ptr<const BindingsInForce> bindings,
                     Sender<KeyPress> actions, std::shared_ptr<Bridge> bridge,
                     const Timing& timing) {
  BridgeEnvironment environment(std::move(bridge));
  run_test_script_with(script, *bindings, actions, environment, timing);
}

}  // namespace orvalin
