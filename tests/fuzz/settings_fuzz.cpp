// Settings files as a DJ might have edited them, through everything start-up
// does with one: parse, merge onto the built-in keys, validate and describe
// every binding, build the two binding tables and the key list lines. The
// outcome is a configuration or one of the loader's own error texts.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "base/utf.h"
#include "check.h"
#include "config/config.h"
#include "config/keylist.h"
#include "config/keys.h"

using namespace orvalin;
using fuzz::require;

namespace {

constexpr std::string_view kFile = "C:\\Users\\dj\\config.toml";

bool names_the_key(const std::string& error, const Binding& binding) {
  return error.starts_with("'" + binding.key + "': ");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  auto parsed = parse_config(text, kFile);
  if (!parsed) {
    const std::string& error = parsed.error();
    const std::string file(kFile);
    require(error == "cannot read " + file +
                         ": stream did not contain valid UTF-8" ||
                error.starts_with("error in " + file + ": "),
            "a settings error is one of the loader's texts", error);
    // It ends up in the log and in speech: one line.
    require(error.find_first_of("\r\n") == std::string::npos,
            "a settings error is one line", error);
    return 0;
  }

  const std::vector<Binding> merged =
      merge_bindings(builtin_config().keys, parsed->keys);
  // The tables fail with the first binding's error: its key, then its action.
  std::optional<std::string> first_error;
  for (const Binding& binding : merged) {
    require(binding.action != "none", "\"none\" bindings are removed");
    auto action = validate_binding(binding);
    if (action) {
      require(is_valid_utf8(describe_action(*action)), "a description is UTF-8",
              binding.key);
    } else {
      require(names_the_key(action.error(), binding),
              "a binding error names the key", action.error());
    }
    auto entry = hotkey_entry(binding);
    if (!entry) {
      require(names_the_key(entry.error(), binding),
              "a key error names the key", entry.error());
    }
    if (!first_error && !entry) first_error = entry.error();
    if (!first_error && !action) first_error = action.error();
  }

  auto tables = build_binding_tables(merged);
  if (!tables) {
    require(first_error == tables.error(),
            "the tables fail with the first binding's error", tables.error());
    return 0;
  }
  require(!first_error, "the tables refuse a bad binding", *first_error);
  require(tables->hotkeys.size() == merged.size() &&
              tables->actions.size() == merged.size(),
          "one table entry per binding");
  for (size_t i = 0; i < merged.size(); ++i) {
    const KeyAction& entry = tables->actions[i];
    require(
        tables->hotkeys[i].key == merged[i].key && entry.key == merged[i].key,
        "the tables keep the bindings' order");
    auto combination = parse_key_combination(entry.key);
    require(combination && combination->vk == tables->hotkeys[i].vk &&
                combination->modifiers == tables->hotkeys[i].modifiers,
            "a hot key is its binding's parsed key", entry.key);
    // The key list line of this binding.
    const std::string line =
        key_display_name(entry.key) + ": " + describe_action(entry.action);
    require(is_valid_utf8(line), "a key list line is UTF-8", line);
  }
  return 0;
}
