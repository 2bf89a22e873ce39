// Key combinations such as "ctrl+alt+p": parsing into RegisterHotKey's
// modifier flags and virtual-key code, and the display form of the key list.
// Pure functions; any thread.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "base/result.h"

namespace orvalin {

inline constexpr uint32_t kModAlt = 0x0001;
inline constexpr uint32_t kModControl = 0x0002;
inline constexpr uint32_t kModShift = 0x0004;
inline constexpr uint32_t kModWin = 0x0008;
inline constexpr uint32_t kModNoRepeat = 0x4000;

struct KeyCombination {
  uint32_t modifiers = 0;
  uint32_t vk = 0;
  friend bool operator==(const KeyCombination&,
                         const KeyCombination&) = default;
};

Result<KeyCombination> parse_key_combination(std::string_view text);

// The text of a combination in lower case, modifiers first, as
// parse_key_combination reads it back; empty for a key that has no name.
std::string key_combination_text(const KeyCombination& combination);

// "ctrl+alt+pageup" -> "Ctrl+Alt+Page Up".
std::string key_display_name(std::string_view text);

// The key as a sentence names it: "ctrl+alt+f12" -> "Control Alt F12".
std::string key_spoken_name(std::string_view text);

// The key as key help (`joint` ' ') and the taken-keys sentence ('+') name
// it: its words as the settings file has them ("ctrl alt f12"), each in the
// language in use ("Strg Alt F12").
std::string key_heard_name(std::string_view text, char joint);

// Every key code parse_key_combination can give, in a fixed order.
std::vector<uint32_t> named_key_codes();

}  // namespace orvalin
