// Key texts from the settings file through the key parser: the result is a
// valid combination or one of the parser's three error texts, and a parsed
// combination written back and parsed again is the same combination.
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "base/utf.h"
#include "check.h"
#include "config/keys.h"

using namespace orvalin;
using fuzz::require;

namespace {

// The documented names of the keys that are not a letter, a digit or F1-F24.
struct Named {
  std::string_view name;
  uint32_t vk;
};
constexpr std::array<Named, 18> kNamedKeys = {{
    {"up", 0x26},
    {"down", 0x28},
    {"left", 0x25},
    {"right", 0x27},
    {"space", 0x20},
    {"enter", 0x0D},
    {"tab", 0x09},
    {"home", 0x24},
    {"end", 0x23},
    {"pageup", 0x21},
    {"pagedown", 0x22},
    {"insert", 0x2D},
    {"delete", 0x2E},
    {"escape", 0x1B},
    {"comma", 0xBC},
    {"period", 0xBE},
    {"minus", 0xBD},
    {"plus", 0xBB},
}};

// The text of a valid combination, modifiers first; empty when `vk` is no
// key the documentation names.
std::string written_back(const KeyCombination& combination) {
  std::string text;
  if (combination.modifiers & kModControl) text += "ctrl+";
  if (combination.modifiers & kModAlt) text += "alt+";
  if (combination.modifiers & kModShift) text += "shift+";
  if (combination.modifiers & kModWin) text += "win+";
  const uint32_t vk = combination.vk;
  if ((vk >= 'A' && vk <= 'Z') || (vk >= '0' && vk <= '9')) {
    return text + static_cast<char>(vk);
  }
  if (vk >= 0x70 && vk <= 0x87) return text + "F" + std::to_string(vk - 0x6F);
  for (const Named& key : kNamedKeys) {
    if (key.vk == vk) return text + std::string(key.name);
  }
  return {};
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const std::string display = key_display_name(text);
  if (is_valid_utf8(text)) {
    require(is_valid_utf8(display), "a display name of UTF-8 is UTF-8",
            display);
  }

  auto parsed = parse_key_combination(text);
  if (!parsed) {
    const std::string& error = parsed.error();
    const std::string quoted = "'" + std::string(text) + "': ";
    require(error == quoted + "more than one key" ||
                error == quoted + "no key given" ||
                (error.starts_with(quoted + "unknown key '") &&
                 error.ends_with("'")),
            "a key error is one of the parser's texts", error);
    return 0;
  }
  constexpr uint32_t kAll = kModAlt | kModControl | kModShift | kModWin;
  require((parsed->modifiers & ~kAll) == 0, "only the four modifiers");
  const std::string again = written_back(*parsed);
  require(!again.empty(), "the key is one of the documented keys", text);
  auto reparsed = parse_key_combination(again);
  require(reparsed && *reparsed == *parsed,
          "written back and parsed again, the same combination", again);
  return 0;
}
