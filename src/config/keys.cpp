#include "config/keys.h"

#include <algorithm>
#include <array>
#include <vector>

#include "base/sentences.h"
#include "config/text.h"

namespace orvalin {

namespace {

// A word of the settings file's key names and its key; the name that the
// key list shows and sentences speak ("Page Up"); and the word as key help
// and the taken-keys sentence say it in the language in use (English says
// the settings file's own word).
struct Named {
  std::string_view name;
  uint32_t value;
  Text shown;
  Text heard;
};

// Key names as the user's screen reader says them ("shown") and as key help
// names them ("heard"); letters, digits and function keys are not here.
constexpr std::array<Named, 5> kModifierWords = {{
    {"alt", kModAlt, msg_c("key", "Alt"), msg_c("key help", "alt")},
    {"ctrl", kModControl, msg_c("key", "Ctrl"), msg_c("key help", "ctrl")},
    {"control", kModControl, msg_c("key", "Ctrl"),
     msg_c("key help", "control")},
    {"shift", kModShift, msg_c("key", "Shift"), msg_c("key help", "shift")},
    {"win", kModWin, msg_c("key", "Windows"), msg_c("key help", "win")},
}};

constexpr std::array<Named, 18> kKeyNames = {{
    {"up", 0x26, msg_c("key", "Up"), msg_c("key help", "up")},
    {"down", 0x28, msg_c("key", "Down"), msg_c("key help", "down")},
    {"left", 0x25, msg_c("key", "Left"), msg_c("key help", "left")},
    {"right", 0x27, msg_c("key", "Right"), msg_c("key help", "right")},
    {"space", 0x20, msg_c("key", "Space"), msg_c("key help", "space")},
    {"enter", 0x0D, msg_c("key", "Enter"), msg_c("key help", "enter")},
    {"tab", 0x09, msg_c("key", "Tab"), msg_c("key help", "tab")},
    {"home", 0x24, msg_c("key", "Home"), msg_c("key help", "home")},
    {"end", 0x23, msg_c("key", "End"), msg_c("key help", "end")},
    {"pageup", 0x21, msg_c("key", "Page Up"), msg_c("key help", "pageup")},
    {"pagedown", 0x22, msg_c("key", "Page Down"),
     msg_c("key help", "pagedown")},
    {"insert", 0x2D, msg_c("key", "Insert"), msg_c("key help", "insert")},
    {"delete", 0x2E, msg_c("key", "Delete"), msg_c("key help", "delete")},
    {"escape", 0x1B, msg_c("key", "Escape"), msg_c("key help", "escape")},
    {"comma", 0xBC, msg_c("key", "Comma"), msg_c("key help", "comma")},
    {"period", 0xBE, msg_c("key", "Period"), msg_c("key help", "period")},
    {"minus", 0xBD, msg_c("key", "Minus"), msg_c("key help", "minus")},
    {"plus", 0xBB, msg_c("key", "Plus"), msg_c("key help", "plus")},
}};

// The words of a key as written ("Ctrl + Alt+P": "Ctrl", "Alt", "P").
std::vector<std::string_view> written_parts(std::string_view text) {
  std::vector<std::string_view> parts;
  size_t start = 0;
  for (;;) {
    const size_t plus = text.find('+', start);
    parts.push_back(cfgtext::trim(text.substr(
        start, plus == std::string_view::npos ? std::string_view::npos
                                              : plus - start)));
    if (plus == std::string_view::npos) break;
    start = plus + 1;
  }
  return parts;
}

// The same in lower case, as they are looked up.
std::vector<std::string> key_parts(std::string_view text) {
  std::vector<std::string> parts;
  for (std::string_view part : written_parts(text)) {
    parts.push_back(cfgtext::ascii_lower(part));
  }
  return parts;
}

// The entry of `table` a lower-case word names, or null.
template <size_t N>
const Named* find_in(const std::array<Named, N>& table, std::string_view part) {
  const auto* found = std::ranges::find(table, part, &Named::name);
  return found != table.end() ? found : nullptr;
}

// The modifier or named key a lower-case word names; null for letters,
// digits and function keys.
const Named* find_named(std::string_view part) {
  const Named* modifier = find_in(kModifierWords, part);
  return modifier != nullptr ? modifier : find_in(kKeyNames, part);
}

// An unsigned decimal number as the function-key suffix allows it: an
// optional "+", then digits only (leading zeros allowed).
bool parse_unsigned(std::string_view text, uint32_t* number) {
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  if (text.empty()) return false;
  uint64_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + static_cast<uint64_t>(c - '0');
    if (value > 0xFFFFFFFFu) return false;
  }
  *number = static_cast<uint32_t>(value);
  return true;
}

bool lookup_key(std::string_view part, uint32_t* vk) {
  if (part.empty()) return false;
  if (part.size() == 1) {
    const char c = part[0];
    if (c >= 'a' && c <= 'z') {
      *vk = static_cast<uint32_t>(c - 'a' + 'A');
      return true;
    }
    if (c >= '0' && c <= '9') {
      *vk = static_cast<uint32_t>(c);
      return true;
    }
    return false;
  }
  uint32_t number = 0;
  if (part.front() == 'f' && parse_unsigned(part.substr(1), &number) &&
      number >= 1 && number <= 24) {
    *vk = 0x6F + number;
    return true;
  }
  const Named* key = find_in(kKeyNames, part);
  if (key != nullptr) *vk = key->value;
  return key != nullptr;
}

// Appends the UTF-8 form of a code point.
void append_utf8(std::string* out, char32_t c) {
  if (c < 0x80) {
    *out += static_cast<char>(c);
  } else if (c < 0x800) {
    *out += static_cast<char>(0xC0 | (c >> 6));
    *out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    *out += static_cast<char>(0xE0 | (c >> 12));
    *out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    *out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    *out += static_cast<char>(0xF0 | (c >> 18));
    *out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    *out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    *out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

// Upper case of one code point for the scripts a key name could plausibly
// be written in (Latin, Greek, Cyrillic). Key names are ASCII in practice;
// anything outside these ranges stays as it is. Written out rather than
// taken from the C library so that every platform gives the same text.
std::string upper_case(char32_t c) {
  std::string out;
  if (c >= 'a' && c <= 'z') {
    c -= 0x20;
  } else if (c == 0xDF) {
    return "SS";
  } else if ((c >= 0xE0 && c <= 0xFE && c != 0xF7)) {
    c -= 0x20;
  } else if (c == 0xFF) {
    c = 0x178;
  } else if (c == 0x131) {
    c = 'I';
  } else if (c == 0x17F) {
    c = 'S';
  } else if (((c >= 0x100 && c <= 0x137) || (c >= 0x14A && c <= 0x177)) &&
             (c & 1) == 1) {
    c -= 1;
  } else if (((c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E)) &&
             (c & 1) == 0) {
    c -= 1;
  } else if (c == 0x3C2) {
    c = 0x3A3;
  } else if (c >= 0x3B1 && c <= 0x3CB) {
    c -= 0x20;
  } else if (c >= 0x430 && c <= 0x44F) {
    c -= 0x20;
  } else if (c >= 0x450 && c <= 0x45F) {
    c -= 0x50;
  }
  append_utf8(&out, c);
  return out;
}

std::string capitalise(std::string_view part) {
  if (part.empty()) return {};
  const auto lead = static_cast<uint8_t>(part[0]);
  size_t length = 1;
  if ((lead & 0xE0) == 0xC0) {
    length = 2;
  } else if ((lead & 0xF0) == 0xE0) {
    length = 3;
  } else if ((lead & 0xF8) == 0xF0) {
    length = 4;
  }
  if (length > part.size()) length = 1;
  char32_t c = length == 1 ? lead : lead & (0x7F >> length);
  for (size_t i = 1; i < length; ++i) {
    const auto next = static_cast<uint8_t>(part[i]);
    if ((next & 0xC0) != 0x80) return std::string(part);
    c = (c << 6) | (next & 0x3F);
  }
  if (length == 1 && lead >= 0x80) return std::string(part);
  return upper_case(c) + std::string(part.substr(length));
}

// Spoken, Control is said in full: "Ctrl" would be spelt out by some
// synthesisers.
// TRANSLATORS: the Control key as the user's screen reader says it.
constexpr Text kControlSpoken = msg_c("key", "Control");

// Letters, digits and function keys are shown as they are, capitalised.
std::string display_part(std::string_view part) {
  if (const Named* named = find_named(part)) {
    return std::string(std::string_view(named->shown));
  }
  return capitalise(part);
}

}  // namespace

Result<KeyCombination> parse_key_combination(std::string_view text) {
  KeyCombination combination;
  bool have_key = false;
  for (const std::string& part : key_parts(text)) {
    if (const Named* modifier = find_in(kModifierWords, part)) {
      combination.modifiers |= modifier->value;
      continue;
    }
    if (have_key) return fail(fill(kKeyMistake, {text, kMoreThanOneKey}));
    if (!lookup_key(part, &combination.vk)) {
      return fail(fill(kKeyMistake, {text, fill(kUnknownKey, {part})}));
    }
    have_key = true;
  }
  if (!have_key) return fail(fill(kKeyMistake, {text, kNoKeyGiven}));
  return combination;
}

std::string key_display_name(std::string_view text) {
  std::string shown;
  bool first = true;
  for (const std::string& part : key_parts(text)) {
    if (!first) shown += '+';
    first = false;
    shown += display_part(part);
  }
  return shown;
}

std::string key_spoken_name(std::string_view text) {
  std::string spoken;
  for (const std::string& part : key_parts(text)) {
    if (!spoken.empty()) spoken += ' ';
    spoken += part == "ctrl" || part == "control"
                  ? std::string(std::string_view(kControlSpoken))
                  : display_part(part);
  }
  return spoken;
}

std::string key_heard_name(std::string_view text, char joint) {
  // English says the words as the settings file has them, in the user's
  // own case; a translation names them, and letters and function keys in
  // capitals, as that language's screen readers do.
  const bool english = current_language() == kEnglish;
  std::string heard;
  for (std::string_view written : written_parts(text)) {
    if (!heard.empty()) heard += joint;
    if (english) {
      heard += written;
      continue;
    }
    const std::string part = cfgtext::ascii_lower(written);
    const Named* named = find_named(part);
    heard += named != nullptr ? std::string(std::string_view(named->heard))
                              : capitalise(part);
  }
  return heard;
}

std::vector<uint32_t> named_key_codes() {
  std::vector<uint32_t> codes;
  for (uint32_t c = 'A'; c <= 'Z'; ++c) codes.push_back(c);
  for (uint32_t c = '0'; c <= '9'; ++c) codes.push_back(c);
  for (uint32_t n = 1; n <= 24; ++n) codes.push_back(0x6F + n);
  for (const Named& key : kKeyNames) codes.push_back(key.value);
  return codes;
}

std::string key_combination_text(const KeyCombination& combination) {
  std::string text;
  if (combination.modifiers & kModControl) text += "ctrl+";
  if (combination.modifiers & kModAlt) text += "alt+";
  if (combination.modifiers & kModShift) text += "shift+";
  if (combination.modifiers & kModWin) text += "win+";
  const uint32_t vk = combination.vk;
  if (vk >= 'A' && vk <= 'Z') return text + static_cast<char>(vk - 'A' + 'a');
  if (vk >= '0' && vk <= '9') return text + static_cast<char>(vk);
  if (vk >= 0x70 && vk <= 0x87) return text + "f" + std::to_string(vk - 0x6F);
  for (const Named& key : kKeyNames) {
    if (key.value == vk) return text + std::string(key.name);
  }
  return {};
}

}  // namespace orvalin
