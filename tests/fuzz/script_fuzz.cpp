// Test-driver scripts (ORVALIN_TEST_ACTIONS) through the step parser and the
// runner, against a world that only counts. Every step is one of the known
// forms, a key, or reported as a bad step; the runner does exactly what the
// parsed steps say.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "actions/actions.h"
#include "base/channel.h"
#include "check.h"
#include "main/testdriver.h"

using namespace orvalin;
using fuzz::require;

namespace {

class CountingWorld final : public TestEnvironment {
 public:
  Result<double> get(const std::string& group,
                     const std::string& key) override {
    ++gets;
    if (group.empty() || key.empty()) return fail("no such control");
    return static_cast<double>(group.size()) - static_cast<double>(key.size());
  }
  void set(const std::string&, const std::string&, double) override { ++sets; }
  void sleep(std::chrono::milliseconds) override { ++sleeps; }

  size_t gets = 0;
  size_t sets = 0;
  size_t sleeps = 0;
};

const std::vector<std::string> kKeys = {"ctrl+alt+p", "ctrl+alt+1",
                                        "Ctrl+Alt+Space", "f5"};

const BindingsInForce& bindings() {
  static const BindingsInForce in_force([] {
    auto tables = std::make_shared<BindingTables>();
    for (const std::string& key : kKeys) tables->hotkeys.push_back({key});
    return tables;
  }());
  return in_force;
}

// What a step is trimmed of.
constexpr std::string_view kSpace = " \t\n\r\f\v";

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // The runner logs every step to standard output; nobody reads it here.
  (void)std::freopen("/dev/null", "w", stdout);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view script(reinterpret_cast<const char*>(data), size);
  size_t sets = 0;
  size_t items = 0;
  size_t waits = 1;  // the start pause
  size_t presses = 0;
  for (const std::string& text : split_test_script(script)) {
    require(!text.empty() && text.find(';') == std::string::npos &&
                !kSpace.contains(text.front()) && !kSpace.contains(text.back()),
            "a step is trimmed, not empty and has no ';'", text);
    const TestStep parsed = parse_test_step(text);
    if (std::holds_alternative<step::Sleep>(parsed)) {
      require(text.starts_with("sleep:"), "a sleep step", text);
      ++waits;
    } else if (const auto* set = std::get_if<step::Set>(&parsed)) {
      require(text.starts_with("set:" + set->group + "," + set->key + "="),
              "a set step keeps its group and key", text);
      require(set->group.find('=') == std::string::npos &&
                  set->group.find(',') == std::string::npos,
              "a set step's group ends at the first ','", text);
      ++sets;
    } else if (std::holds_alternative<step::BadStep>(parsed)) {
      require(text.starts_with("set:"), "only a set step can be bad", text);
    } else if (const auto* log = std::get_if<step::Log>(&parsed)) {
      require(text.starts_with("log:"), "a log step", text);
      for (const step::LogItem& item : log->items) {
        require(item.group.find_first_of(",|") == std::string::npos &&
                    item.key.find('|') == std::string::npos,
                "a log item is one group,key pair", text);
      }
      items += log->items.size();
    } else if (const auto* several = std::get_if<step::Keys>(&parsed)) {
      require(text.starts_with("keys:"), "a several-key step", text);
      ++waits;
      for (const std::string& key : several->keys) {
        if (find_test_key(kKeys, key)) ++presses;
      }
    } else {
      require(!text.starts_with("sleep:") && !text.starts_with("set:") &&
                  !text.starts_with("log:") && !text.starts_with("keys:"),
              "a key step is none of the other forms", text);
      ++waits;
      if (find_test_key(kKeys, text)) ++presses;
    }
  }

  auto [actions, pressed] = make_channel<KeyPress>();
  CountingWorld world;
  run_test_script_with(script, bindings(), actions, world);
  size_t sent = 0;
  while (auto press = pressed.try_recv()) {
    require(press->index < kKeys.size(), "a pressed key is a known key");
    ++sent;
  }
  require(world.sets == sets && world.gets == items && world.sleeps == waits &&
              sent == presses,
          "the runner does what the steps say");
  return 0;
}
