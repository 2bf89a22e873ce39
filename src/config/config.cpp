#include "config/config.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <limits>
#include <system_error>
#include <type_traits>
#include <utility>

// The TOML library stays inside this file. Its error-code form keeps parse
// failures ordinary values instead of exceptions.
//
// Its internal checks are switched off in every build: one of them (the
// first character of a key, in parse_key) is false for a table header such
// as "[#x", which the parser otherwise reports as an ordinary error. With
// NDEBUG the library would hand that check to the optimiser as an
// assumption (on compilers that have one), and without it the check would
// abort; both are wrong for a file the user typed.
#pragma push_macro("NDEBUG")
#undef NDEBUG
#define TOML_ASSERT(expr) static_assert(true)
#define TOML_EXCEPTIONS 0
#include <toml++/toml.h>
#pragma pop_macro("NDEBUG")

#include "applog/applog.h"
#include "base/os.h"
#include "base/sentences.h"
#include "base/utf.h"
#include "config/builtin.h"
#include "config/fileio.h"
#include "config/keys.h"
#include "config/text.h"
#include "registry/registry.h"

namespace orvalin {

namespace {

constexpr std::array<std::pair<ValueFormat, std::string_view>, 9> kFormats = {{
    {ValueFormat::percent, "percent"},
    {ValueFormat::offset, "offset"},
    {ValueFormat::balance, "balance"},
    {ValueFormat::onoff, "onoff"},
    {ValueFormat::time, "time"},
    {ValueFormat::bpm, "bpm"},
    {ValueFormat::bpm_precise, "bpm_precise"},
    {ValueFormat::key, "key"},
    {ValueFormat::number, "number"},
}};

constexpr std::array<std::string_view, 8> kSayNames = {
    "status",      "track",          "time",    "tempo",
    "grid_offset", "selected_track", "hotcues", "effects"};

// ---------------------------------------------------------------------------
// Reading the TOML document into records.

// The settings reader's words for what it expected and found.
constexpr Text kTable = msg("a table");
constexpr Text kString = msg("a string");
constexpr Text kNumber = msg("a number");
constexpr Text kBoolean = msg("a boolean");
constexpr Text kTables = msg("an array of tables");
constexpr Text kStrings = msg("an array of strings");
// "{}" the highest number allowed.
constexpr Text kIntegerUpTo = msg("an integer from 0 to {}");
// "{}" a problem, then where it is in the settings file.
constexpr Text kAtLine = msg("{}, at line {}, column {}");
// "{}" a field, as the settings file names it in quotes ("'port'").
constexpr Text kWrongType = msg("wrong type for {}: expected {}, found {}");
constexpr Text kMissingField = msg("missing field '{}'");
// "{}" a field, then the table it belongs in ("[general]").
constexpr Text kMissingFieldIn = msg("missing field '{}' in {}");
constexpr Text kOutOfRange = msg("'{}' is out of range: expected {}, found {}");
// An item of an array in the settings file: the array, its number.
constexpr Text kItem = msg("'{}' item {}");
// "{}" what the file says, then the names it may say.
constexpr Text kUnknownScreenReader =
    msg("unknown screen_reader '{}': expected one of {}");
constexpr Text kUnknownLanguage =
    msg("unknown language '{}': expected auto or one of {}");

Text type_name(toml::node_type type) {
  switch (type) {
    case toml::node_type::table:
      return kTable;
    case toml::node_type::array:
      return msg("an array");
    case toml::node_type::string:
      return kString;
    case toml::node_type::integer:
      return msg("an integer");
    case toml::node_type::floating_point:
      return msg("a float");
    case toml::node_type::boolean:
      return kBoolean;
    case toml::node_type::date:
      return msg("a date");
    case toml::node_type::time:
      return msg("a time");
    case toml::node_type::date_time:
      return msg("a date-time");
    default:
      return msg("nothing");
  }
}

// The text of line `number` (1-based) made fit for one log line: control
// characters become spaces and a very long line is cut.
std::string shown_line(std::string_view text, uint32_t number) {
  const std::vector<std::string_view> lines = cfgtext::split_lines(text);
  if (number == 0 || number > lines.size()) return {};
  std::string_view line = lines[number - 1];
  constexpr size_t kLongest = 120;
  bool cut = false;
  if (line.size() > kLongest) {
    size_t end = kLongest;
    while (end > 0 && (static_cast<uint8_t>(line[end]) & 0xC0) == 0x80) --end;
    line = line.substr(0, end);
    cut = true;
  }
  std::string shown;
  for (char c : line) {
    const auto byte = static_cast<uint8_t>(c);
    shown += byte < 0x20 || byte == 0x7F ? ' ' : c;
  }
  while (!shown.empty() && shown.back() == ' ') shown.pop_back();
  if (cut) shown += "...";
  return shown;
}

// "{what}, at line {L}, column {C}: {the line}", the form every description
// of a settings problem takes, whether the TOML library or this file found
// it.
std::string located(std::string_view text, const toml::source_position& at,
                    std::string_view what) {
  // The TOML library quotes what it saw, which may hold a line break
  // ("saw 'fa\n'"): written as an escape, the message stays one log line.
  std::string out;
  for (char c : what) {
    const auto byte = static_cast<uint8_t>(c);
    if (c == '\n') {
      out += "\\n";
    } else if (c == '\r') {
      out += "\\r";
    } else if (byte < 0x20 || byte == 0x7F) {
      out += ' ';
    } else {
      out += c;
    }
  }
  if (at.line == 0) return out;
  out =
      fill(kAtLine, {out, std::to_string(at.line), std::to_string(at.column)});
  const std::string line = shown_line(text, at.line);
  if (!line.empty()) out += ": " + line;
  return out;
}

// toml++ 3.3 asks, wherever white space may stand (and for every character
// of a key), whether a non-ASCII character is Unicode white space. For the
// characters of four ranges (accented Latin letters, Greek and Cyrillic
// among them) that question ends in __builtin_unreachable(): undefined
// behaviour, answered however the optimiser saw fit. None of them is white
// space, so the parser gets each of them swapped for a stand-in from a
// private-use plane, which the check answers correctly, and every text read
// back is swapped again.
struct CodeRange {
  char32_t first;
  char32_t last;
};
constexpr std::array<CodeRange, 4> kUnreachableRanges = {
    {{0xA1, 0x499}, {0x2C5E, 0x2FFF}, {0x3001, 0x3057}, {0xFB26, 0xFEFE}}};
constexpr char32_t kStandIns = 0xF0000;
constexpr char32_t kStandInCount = 3019;  // the ranges' size

// The stand-in of a character of the ranges and back; others unchanged.
char32_t swapped(char32_t c) {
  char32_t index = 0;
  for (const CodeRange& range : kUnreachableRanges) {
    if (c >= range.first && c <= range.last) {
      return kStandIns + index + (c - range.first);
    }
    index += range.last - range.first + 1;
  }
  if (c < kStandIns || c >= kStandIns + kStandInCount) return c;
  char32_t rest = c - kStandIns;
  for (const CodeRange& range : kUnreachableRanges) {
    const char32_t size = range.last - range.first + 1;
    if (rest < size) return range.first + rest;
    rest -= size;
  }
  return c;
}

bool is_stand_in(char32_t c) {
  return c >= kStandIns && c < kStandIns + kStandInCount;
}

// `text` (valid UTF-8) with every character swapped as above.
std::string swap_unreachable(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size();) {
    const auto lead = static_cast<uint8_t>(text[i]);
    const size_t length = lead < 0x80   ? 1
                          : lead < 0xE0 ? 2
                          : lead < 0xF0 ? 3
                                        : 4;
    if (length == 1 || i + length > text.size()) {
      out += text[i++];
      continue;
    }
    char32_t c = lead & (0x7F >> length);
    for (size_t k = 1; k < length; ++k) {
      c = (c << 6) | (static_cast<uint8_t>(text[i + k]) & 0x3F);
    }
    const char32_t to = swapped(c);
    if (to == c) {
      out.append(text.substr(i, length));
    } else if (to < 0x800) {
      out += static_cast<char>(0xC0 | (to >> 6));
      out += static_cast<char>(0x80 | (to & 0x3F));
    } else if (to < 0x10000) {
      out += static_cast<char>(0xE0 | (to >> 12));
      out += static_cast<char>(0x80 | ((to >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (to & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (to >> 18));
      out += static_cast<char>(0x80 | ((to >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((to >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (to & 0x3F));
    }
    i += length;
  }
  return out;
}

// Where the file itself holds a stand-in (nothing could tell it from a
// swapped character), or nothing.
std::optional<toml::source_position> first_stand_in(std::string_view text) {
  toml::source_position at{1, 1};
  for (size_t i = 0; i < text.size(); ++i) {
    const auto byte = static_cast<uint8_t>(text[i]);
    if (byte == 0xF3 && i + 3 < text.size()) {
      const char32_t c = ((byte & 0x07u) << 18) |
                         ((static_cast<uint8_t>(text[i + 1]) & 0x3Fu) << 12) |
                         ((static_cast<uint8_t>(text[i + 2]) & 0x3Fu) << 6) |
                         (static_cast<uint8_t>(text[i + 3]) & 0x3Fu);
      if (is_stand_in(c)) return at;
    }
    if (byte == '\n') {
      ++at.line;
      at.column = 1;
    } else if ((byte & 0xC0) != 0x80) {
      ++at.column;
    }
  }
  return std::nullopt;
}

// In the order of ScreenReader.
constexpr std::array<std::string_view, 6> kScreenReaderNames = {
    "auto", "nvda", "jaws", "zdsr", "system_access", "sapi"};

std::string quoted(std::string_view field) {
  return "'" + std::string(field) + "'";
}

// Turns the parsed document into records; the first problem is kept.
class RecordReader {
 public:
  explicit RecordReader(std::string_view text) : text_(text) {}

  Result<Config> read_config(const toml::table& root) {
    Config config;
    const toml::node* general = root.get("general");
    if (general == nullptr) {
      // not spoken: the names are the settings file's own
      return fail(located(text_, {1, 1}, fill(kMissingField, {"general"})));
    }
    const toml::table* general_table = general->as_table();
    if (general_table == nullptr) {
      return fail(wrong_type("'general'", *general, kTable));
    }
    if (auto read = read_general(*general_table)) {
      config.general = std::move(*read);
    } else {
      return fail(std::move(read.error()));
    }
    if (const toml::node* speech = root.get("speech")) {
      const toml::table* speech_table = speech->as_table();
      if (speech_table == nullptr) {
        return fail(wrong_type("'speech'", *speech, kTable));
      }
      auto read = read_speech(*speech_table);
      if (!read) return fail(std::move(read.error()));
      config.speech = *read;
    }
    if (const toml::node* keys = root.get("keys")) {
      const toml::array* list = keys->as_array();
      if (list == nullptr) {
        return fail(wrong_type("'keys'", *keys, kTables));
      }
      size_t item = 0;
      for (const toml::node& entry : *list) {
        ++item;
        const toml::table* table = entry.as_table();
        if (table == nullptr) {
          // not spoken: the names are the settings file's own
          return fail(wrong_type(fill(kItem, {"keys", std::to_string(item)}),
                                 entry, kTable));
        }
        auto binding = read_binding(*table);
        if (!binding) return fail(std::move(binding.error()));
        config.keys.push_back(std::move(*binding));
      }
    }
    return config;
  }

 private:
  // `subject` names the field: "'port'", "'keys' item 2".
  std::string wrong_type(std::string_view subject, const toml::node& node,
                         std::string_view expected) const {
    return located(
        text_, node.source().begin,
        fill(kWrongType, {subject, expected, type_name(node.type())}));
  }

  std::string missing(std::string_view field, std::string_view table_name,
                      const toml::table& table) const {
    return located(text_, table.source().begin,
                   fill(kMissingFieldIn, {field, table_name}));
  }

  Status read_string(const toml::table& table, std::string_view field,
                     std::optional<std::string>* out) const {
    const toml::node* node = table.get(field);
    if (node == nullptr) return {};
    const auto* value = node->as_string();
    if (value == nullptr)
      return fail(wrong_type(quoted(field), *node, kString));
    *out = swap_unreachable(value->get());
    return {};
  }

  Status read_number(const toml::table& table, std::string_view field,
                     std::optional<double>* out) const {
    const toml::node* node = table.get(field);
    if (node == nullptr) return {};
    if (const auto* value = node->as_floating_point()) {
      *out = value->get();
    } else if (const auto* whole = node->as_integer()) {
      *out = static_cast<double>(whole->get());
    } else {
      return fail(wrong_type(quoted(field), *node, kNumber));
    }
    return {};
  }

  // An integer within [0, highest].
  Status read_unsigned(const toml::table& table, std::string_view field,
                       int64_t highest, std::optional<int64_t>* out) const {
    const toml::node* node = table.get(field);
    if (node == nullptr) return {};
    const std::string expected = fill(kIntegerUpTo, {std::to_string(highest)});
    const auto* value = node->as_integer();
    if (value == nullptr)
      return fail(wrong_type(quoted(field), *node, expected));
    const int64_t number = value->get();
    if (number < 0 || number > highest) {
      return fail(located(
          text_, node->source().begin,
          fill(kOutOfRange, {field, expected, std::to_string(number)})));
    }
    *out = number;
    return {};
  }

  Result<General> read_general(const toml::table& table) const {
    General general;
    std::optional<std::string> path;
    if (auto read = read_string(table, "kelvo_path", &path); !read) {
      return fail(std::move(read.error()));
    }
    if (!path) return fail(missing("kelvo_path", "[general]", table));
    general.kelvo_path = std::move(*path);
    if (const toml::node* args = table.get("kelvo_args")) {
      const toml::array* list = args->as_array();
      if (list == nullptr) {
        return fail(wrong_type("'kelvo_args'", *args, kStrings));
      }
      size_t item = 0;
      for (const toml::node& entry : *list) {
        ++item;
        const auto* value = entry.as_string();
        if (value == nullptr) {
          // not spoken: the names are the settings file's own
          return fail(
              wrong_type(fill(kItem, {"kelvo_args", std::to_string(item)}),
                         entry, kString));
        }
        general.kelvo_args.push_back(swap_unreachable(value->get()));
      }
    }
    std::optional<int64_t> port;
    if (auto read = read_unsigned(table, "port", 65535, &port); !read) {
      return fail(std::move(read.error()));
    }
    if (port) general.port = static_cast<uint16_t>(*port);
    std::optional<std::string> layer_key;
    if (auto read = read_string(table, "layer_key", &layer_key); !read) {
      return fail(std::move(read.error()));
    }
    if (layer_key) {
      if (!layer_key->empty()) {
        if (auto parsed = parse_key_combination(*layer_key); !parsed) {
          return fail(located(text_, table.get("layer_key")->source().begin,
                              fill(kLayerKeyMistake, {parsed.error()})));
        }
      }
      general.layer_key = std::move(*layer_key);
    }
    std::optional<std::string> language;
    if (auto read = read_string(table, "language", &language); !read) {
      return fail(std::move(read.error()));
    }
    if (language) {
      if (!choose_language(*language, {})) {
        return fail(
            located(text_, table.get("language")->source().begin,
                    fill(kUnknownLanguage, {*language, shipped_languages()})));
      }
      general.language = std::move(*language);
    }
    return general;
  }

  Result<SpeechSettings> read_speech(const toml::table& table) const {
    SpeechSettings speech;
    std::optional<std::string> reader;
    if (auto read = read_string(table, "screen_reader", &reader); !read) {
      return fail(std::move(read.error()));
    }
    if (reader) {
      const std::optional<ScreenReader> known = parse_screen_reader(*reader);
      if (!known) {
        std::string allowed;
        for (const std::string_view name : kScreenReaderNames) {
          allowed += allowed.empty() ? "" : ", ";
          allowed += name;
        }
        return fail(located(text_, table.get("screen_reader")->source().begin,
                            fill(kUnknownScreenReader, {*reader, allowed})));
      }
      speech.screen_reader = *known;
    }
    if (const toml::node* node = table.get("braille")) {
      const auto* value = node->as_boolean();
      if (value == nullptr) {
        return fail(wrong_type("'braille'", *node, kBoolean));
      }
      speech.braille = value->get();
    }
    return speech;
  }

  Result<Binding> read_binding(const toml::table& table) const {
    Binding binding;
    std::optional<std::string> key;
    std::optional<std::string> action;
    std::optional<int64_t> deck;
    Status read = read_string(table, "key", &key);
    if (read) read = read_string(table, "action", &action);
    if (read) read = read_unsigned(table, "deck", 255, &deck);
    if (read) read = read_string(table, "group", &binding.group);
    if (read) read = read_string(table, "control", &binding.control);
    if (read) read = read_number(table, "step", &binding.step);
    if (read) read = read_number(table, "value", &binding.value);
    if (read) read = read_string(table, "what", &binding.what);
    if (read) read = read_string(table, "label", &binding.label);
    if (read) read = read_string(table, "format", &binding.format);
    if (read) read = read_string(table, "report", &binding.report);
    if (read) read = read_string(table, "report_label", &binding.report_label);
    if (read) {
      read = read_string(table, "report_format", &binding.report_format);
    }
    if (read) read = read_string(table, "confirm", &binding.confirm);
    if (read) {
      if (const toml::node* node = table.get("repeat")) {
        if (const auto* value = node->as_boolean()) {
          binding.repeat = value->get();
        } else {
          read = fail(wrong_type("'repeat'", *node, kBoolean));
        }
      }
    }
    if (!read) return fail(std::move(read.error()));
    if (!key) return fail(missing("key", "[[keys]]", table));
    if (!action) return fail(missing("action", "[[keys]]", table));
    binding.key = std::move(*key);
    binding.action = std::move(*action);
    if (deck) binding.deck = static_cast<uint8_t>(*deck);
    return binding;
  }

  std::string_view text_;
};

// ---------------------------------------------------------------------------
// Loading.

// A binding's key as the merge compares it: the parsed combination, or the
// text itself when it does not parse.
struct MergeKey {
  std::optional<KeyCombination> combination;
  std::string text;

  explicit MergeKey(const std::string& key) : text(key) {
    if (auto parsed = parse_key_combination(key)) combination = *parsed;
  }

  bool same_as(const MergeKey& other) const {
    if (combination && other.combination) {
      return *combination == *other.combination;
    }
    return cfgtext::equal_ignoring_ascii_case(text, other.text);
  }
};

// A TOML string holding `text`: a literal string when that can hold it,
// else a basic string with escapes. Control characters force the basic
// form, so that no found path can break the file or add lines to it.
std::string toml_string(std::string_view text) {
  const bool literal = std::none_of(text.begin(), text.end(), [](char c) {
    const auto byte = static_cast<uint8_t>(c);
    return c == '\'' || (byte < 0x20 && c != '\t') || byte == 0x7F;
  });
  if (literal) return "'" + std::string(text) + "'";
  std::string quoted = "\"";
  for (char c : text) {
    const auto byte = static_cast<uint8_t>(c);
    if (c == '\\' || c == '"') {
      quoted += '\\';
      quoted += c;
    } else if ((byte < 0x20 && c != '\t') || byte == 0x7F) {
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\u%04X", byte);
      quoted += escape;
    } else {
      quoted += c;
    }
  }
  quoted += '"';
  return quoted;
}

std::string control_or_empty(const Binding& binding) {
  return binding.control.value_or(std::string());
}

// The `what` value in the notation of an optional text: None, or
// Some("text") with quotes, backslashes and control characters escaped.
std::string optional_text_notation(const std::optional<std::string>& text) {
  if (!text) return "None";
  std::string out = "Some(\"";
  for (char c : *text) {
    const auto byte = static_cast<uint8_t>(c);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (c == '\n') {
      out += "\\n";
    } else if (c == '\r') {
      out += "\\r";
    } else if (c == '\t') {
      out += "\\t";
    } else if (byte < 0x20 || byte == 0x7F) {
      char escape[12];
      std::snprintf(escape, sizeof escape, "\\u{%x}", byte);
      out += escape;
    } else {
      out += c;
    }
  }
  out += "\")";
  return out;
}

// `mistake` in the key's binding.
std::unexpected<std::string> key_mistake(const Binding& binding,
                                         std::string_view mistake) {
  return fail(fill(kKeyMistake, {binding.key, mistake}));
}

Result<ControlTarget> target_of(const Binding& binding) {
  if (!binding.control) {
    return key_mistake(binding, fill(kActionNeeds, {binding.action}));
  }
  return ControlTarget{binding.group.value_or("[Channel{deck}]"),
                       *binding.control};
}

Result<ValueFormat> format_of(const Binding& binding,
                              const std::optional<std::string>& field,
                              ValueFormat fallback) {
  if (!field) return fallback;
  if (auto format = parse_value_format(*field)) return *format;
  return key_mistake(binding, fill(kUnknownFormat, {*field}));
}

int32_t rounded_steps(double step) {
  if (std::isnan(step)) return 0;
  const double rounded = std::round(step);
  if (rounded <= static_cast<double>(std::numeric_limits<int32_t>::min())) {
    return std::numeric_limits<int32_t>::min();
  }
  if (rounded >= static_cast<double>(std::numeric_limits<int32_t>::max())) {
    return std::numeric_limits<int32_t>::max();
  }
  return static_cast<int32_t>(rounded);
}

}  // namespace

std::string_view value_format_name(ValueFormat format) {
  for (const auto& [known, name] : kFormats) {
    if (known == format) return name;
  }
  return "number";
}

std::optional<ValueFormat> parse_value_format(std::string_view name) {
  for (const auto& [format, known] : kFormats) {
    if (known == name) return format;
  }
  return std::nullopt;
}

std::string_view screen_reader_name(ScreenReader reader) {
  const auto index = static_cast<size_t>(reader);
  return index < kScreenReaderNames.size() ? kScreenReaderNames[index] : "auto";
}

std::optional<ScreenReader> parse_screen_reader(std::string_view name) {
  for (size_t i = 0; i < kScreenReaderNames.size(); ++i) {
    if (kScreenReaderNames[i] == name) return static_cast<ScreenReader>(i);
  }
  return std::nullopt;
}

std::string_view say_what_name(SayWhat what) {
  const auto index = static_cast<size_t>(what);
  return index < kSayNames.size() ? kSayNames[index] : "status";
}

std::optional<SayWhat> parse_say_what(std::string_view name) {
  for (size_t i = 0; i < kSayNames.size(); ++i) {
    if (kSayNames[i] == name) return static_cast<SayWhat>(i);
  }
  return std::nullopt;
}

std::filesystem::path config_dir() { return app_settings_dir(); }

Result<Config> parse_config(std::string_view text, std::string_view file) {
  if (!is_valid_utf8(text)) {
    return fail(fill(kCannotReadSettings, {file, kNotUtf8}));
  }
  if (text.starts_with("\xEF\xBB\xBF")) text.remove_prefix(3);
  const auto mistake = [file](const std::string& what) {
    return fail(fill(kSettingsMistake, {file, what}));
  };
  if (const auto at = first_stand_in(text)) {
    return mistake(located(text, *at, "unsupported character"));
  }
  try {
    const std::string swapped_text = swap_unreachable(text);
    toml::parse_result parsed =
        toml::parse(swapped_text, std::string_view(file));
    if (!parsed) {
      const toml::parse_error& error = parsed.error();
      return mistake(located(text, error.source().begin,
                             swap_unreachable(error.description())));
    }
    auto config = RecordReader(text).read_config(parsed.table());
    if (!config) return mistake(config.error());
    return config;
  } catch (const std::exception& error) {
    return mistake(error.what());
  }
}

const Config& builtin_config() {
  // The built-in text is fixed and parses; should it ever not, the base list
  // is empty and the file's own bindings still work.
  static const Config* const config = [] {
    auto parsed = parse_config(builtin_config_text(), "built-in settings");
    return new Config(parsed ? std::move(*parsed) : Config{});
  }();
  return *config;
}

std::string new_settings_text(const std::optional<std::string>& kelvo_path,
                              const PlatformSettingsText& platform) {
  std::string text;
  // Where the walk is: the header before [general], the [speech] table up
  // to its blank line.
  bool in_header = true;
  bool in_speech = false;
  for (std::string_view line : cfgtext::split_lines(builtin_config_text())) {
    const std::string_view name = cfgtext::trim(line.substr(0, line.find('=')));
    const bool comment = line.starts_with('#');
    if (line.starts_with('[')) {
      if (in_header && platform.header) text += *platform.header + "\n";
      in_header = false;
      in_speech = line == "[speech]";
    }
    if (cfgtext::trim(line).empty()) in_speech = false;
    if (in_header && platform.header) continue;
    if (in_speech && comment && platform.speech_comment) continue;
    if (name == "kelvo_path" && kelvo_path) {
      text += "kelvo_path = " + toml_string(*kelvo_path);
    } else if (name == "kelvo_path" && platform.kelvo_not_found) {
      text += *platform.kelvo_not_found;
    } else {
      text += line;
    }
    text += '\n';
    if (line == "[speech]" && platform.speech_comment) {
      text += *platform.speech_comment;
    }
  }
  return text;
}

std::vector<Binding> merge_bindings(std::vector<Binding> base,
                                    const std::vector<Binding>& file) {
  // Each key is parsed once, not once per comparison.
  std::vector<MergeKey> keys;
  keys.reserve(base.size() + file.size());
  for (const Binding& binding : base) keys.emplace_back(binding.key);
  for (const Binding& binding : file) {
    const MergeKey key(binding.key);
    const auto same =
        std::find_if(keys.begin(), keys.end(),
                     [&](const MergeKey& other) { return other.same_as(key); });
    if (same != keys.end()) {
      base[static_cast<size_t>(same - keys.begin())] = binding;
    } else {
      base.push_back(binding);
      keys.push_back(key);
    }
  }
  std::erase_if(
      base, [](const Binding& binding) { return binding.action == "none"; });
  return base;
}

namespace {

// Parses `text`, merges it with the built-in keys and resolves a kelvo_path
// that no longer exists.
Result<LoadedConfig> settle_config(const std::filesystem::path& file,
                                   const std::string& text,
                                   const KelvoFinder& find) {
  LoadedConfig loaded;
  loaded.path = file;
  auto config = parse_config(text, path_to_utf8(file));
  if (!config) return fail(std::move(config.error()));
  loaded.general = std::move(config->general);
  loaded.speech = config->speech;
  loaded.bindings = merge_bindings(builtin_config().keys, config->keys);
  // An empty path is a file written where Kelvo was not found: Kelvo is
  // looked for as on the first run.
  const std::string& path = loaded.general.kelvo_path;
  if (path.empty() || !path_exists(utf8_to_path(path))) {
    if (const std::optional<std::string> found = find()) {
      log(path.empty()
              ? "kelvo_path is empty, using " + *found
              : "kelvo_path " + path + " does not exist, using " + *found);
      loaded.general.kelvo_path = *found;
    }
  }
  return loaded;
}

}  // namespace

Result<LoadedConfig> read_config_from(const std::filesystem::path& file,
                                      const KelvoFinder& find) {
  const std::string file_text = path_to_utf8(file);
  auto bytes = cfgfile::read_file_if_exists(file);
  if (!bytes)
    return fail(fill(kCannotReadSettings, {file_text, bytes.error()}));
  if (!*bytes) return fail(fill(kCannotReadSettings, {file_text, kNoSuchFile}));
  return settle_config(file, **bytes, find);
}

SettingsFiles real_settings_files() {
  return {&cfgfile::read_file_if_exists, &cfgfile::create_new_file};
}

Result<LoadedConfig> load_config_from(const std::filesystem::path& file,
                                      const KelvoFinder& find,
                                      const SettingsFiles& files) {
  const std::string file_text = path_to_utf8(file);
  // Only a file that is truly absent is written with the defaults; a file we
  // may not read (access denied, locked) is the user's and stays as it is.
  auto bytes = files.read(file);
  if (!bytes)
    return fail(fill(kCannotReadSettings, {file_text, bytes.error()}));
  bool created = false;
  if (!*bytes) {
    const std::optional<std::string> found = find();
    const std::filesystem::path dir = file.parent_path();
    if (!dir.empty()) {
      std::error_code error;
      std::filesystem::create_directories(dir, error);
      if (error) {
        return fail(fill(kCannotCreateFolder,
                         {path_to_utf8(dir), error_code_text(error)}));
      }
    }
    std::string text = new_settings_text(found);
    auto made = files.create(file, text);
    if (!made) {
      return fail(fill(kCannotWriteSettings, {file_text, made.error()}));
    }
    if (*made) {
      created = true;
      *bytes = std::move(text);
    } else {
      // Another instance (or the user) put a file there meanwhile: use it.
      bytes = files.read(file);
      if (!bytes) {
        return fail(fill(kCannotReadSettings, {file_text, bytes.error()}));
      }
      if (!*bytes) {
        return fail(fill(kCannotReadSettings, {file_text, kNoSuchFile}));
      }
    }
  }
  auto loaded = settle_config(file, **bytes, find);
  if (loaded) loaded->created = created;
  return loaded;
}

Result<LoadedConfig> load_config() {
  return load_config_from(config_dir() / "config.toml",
                          [] { return find_kelvo(); });
}

namespace act {

Result<SelectDeck> SelectDeck::parse(const Binding& binding) {
  if (!binding.deck) return key_mistake(binding, kSelectDeckNeedsDeck);
  return SelectDeck{*binding.deck};
}

Result<Toggle> Toggle::parse(const Binding& binding) {
  auto target = target_of(binding);
  if (!target) return fail(std::move(target.error()));
  return Toggle{std::move(*target), binding.label};
}

Result<Press> Press::parse(const Binding& binding) {
  std::optional<Report> report;
  if (binding.report) {
    auto format =
        format_of(binding, binding.report_format, ValueFormat::number);
    if (!format) return fail(std::move(format.error()));
    report = Report{ControlTarget{binding.group.value_or("[Channel{deck}]"),
                                  *binding.report},
                    binding.report_label.value_or(*binding.report), *format};
  }
  auto target = target_of(binding);
  if (!target) return fail(std::move(target.error()));
  return Press{std::move(*target), std::move(report), binding.confirm,
               binding.label};
}

Result<Set> Set::parse(const Binding& binding) {
  if (!binding.value) return key_mistake(binding, kSetNeedsValue);
  auto target = target_of(binding);
  if (!target) return fail(std::move(target.error()));
  return Set{std::move(*target), *binding.value, binding.label};
}

Result<Adjust> Adjust::parse(const Binding& binding) {
  if (!binding.step) return key_mistake(binding, kAdjustNeedsStep);
  auto target = target_of(binding);
  if (!target) return fail(std::move(target.error()));
  auto format = format_of(binding, binding.format, ValueFormat::percent);
  if (!format) return fail(std::move(format.error()));
  return Adjust{std::move(*target), *binding.step,
                binding.label.value_or(control_or_empty(binding)), *format};
}

Result<Say> Say::parse(const Binding& binding) {
  const auto what = binding.what ? parse_say_what(*binding.what) : std::nullopt;
  if (!what) {
    return key_mistake(
        binding, fill(kUnknownSay, {optional_text_notation(binding.what)}));
  }
  return Say{*what};
}

Result<SayControl> SayControl::parse(const Binding& binding) {
  auto target = target_of(binding);
  if (!target) return fail(std::move(target.error()));
  auto format = format_of(binding, binding.format, ValueFormat::number);
  if (!format) return fail(std::move(format.error()));
  return SayControl{std::move(*target),
                    binding.label.value_or(control_or_empty(binding)), *format};
}

Result<BeatgridMove> BeatgridMove::parse(const Binding& binding) {
  if (!binding.step) {
    return key_mistake(binding, kMoveNeedsStep);
  }
  return BeatgridMove{rounded_steps(*binding.step)};
}

Result<Marker> Marker::parse(const Binding& binding) {
  if (!binding.control) return key_mistake(binding, kMarkerNeedsControl);
  if (!binding.report) return key_mistake(binding, kMarkerNeedsReport);
  if (!binding.label) return key_mistake(binding, kMarkerNeedsLabel);
  return Marker{*binding.control, *binding.report, *binding.label};
}

}  // namespace act

namespace {

// The kind named `name` (its index in Action), if any.
template <size_t I = 0>
std::optional<size_t> kind_index(std::string_view name) {
  if constexpr (I == std::variant_size_v<Action>) {
    return std::nullopt;
  } else {
    if (std::variant_alternative_t<I, Action>::kName == name) return I;
    return kind_index<I + 1>(name);
  }
}

// The binding parsed as kind I.
template <size_t I>
Result<Action> parse_kind(const Binding& binding) {
  using Kind = std::variant_alternative_t<I, Action>;
  if constexpr (std::is_empty_v<Kind>) {
    return Action(std::in_place_index<I>);
  } else {
    auto action = Kind::parse(binding);
    if (!action) return fail(std::move(action.error()));
    return Action(std::in_place_index<I>, std::move(*action));
  }
}

template <size_t... I>
Result<Action> parse_kind_at(size_t index, const Binding& binding,
                             std::index_sequence<I...>) {
  using Parser = Result<Action> (*)(const Binding&);
  static constexpr Parser kParsers[] = {&parse_kind<I>...};
  return kParsers[index](binding);
}

template <size_t... I>
bool repeats_at(size_t index, std::index_sequence<I...>) {
  static constexpr bool kRepeats[] = {
      repeats_by_default<std::variant_alternative_t<I, Action>>()...};
  return kRepeats[index];
}

constexpr auto kKinds = std::make_index_sequence<std::variant_size_v<Action>>();

}  // namespace

Result<Action> validate_binding(const Binding& binding) {
  const std::optional<size_t> kind = kind_index(binding.action);
  if (!kind) {
    return key_mistake(binding, fill(kUnknownAction, {binding.action}));
  }
  return parse_kind_at(*kind, binding, kKinds);
}

Result<HotkeyEntry> hotkey_entry(const Binding& binding) {
  auto combination = parse_key_combination(binding.key);
  if (!combination) return fail(std::move(combination.error()));
  const std::optional<size_t> kind = kind_index(binding.action);
  const bool repeats = kind && repeats_at(*kind, kKinds);
  return HotkeyEntry{binding.key, combination->modifiers, combination->vk,
                     binding.repeat.value_or(repeats)};
}

Result<BindingTables> build_binding_tables(const std::vector<Binding>& bindings,
                                           std::string_view layer_key) {
  BindingTables tables;
  tables.hotkeys.reserve(bindings.size());
  tables.actions.reserve(bindings.size());
  for (const Binding& binding : bindings) {
    auto entry = hotkey_entry(binding);
    if (!entry) return fail(std::move(entry.error()));
    auto action = validate_binding(binding);
    if (!action) return fail(std::move(action.error()));
    tables.hotkeys.push_back(std::move(*entry));
    tables.actions.push_back(KeyAction{binding.key, std::move(*action)});
  }
  if (layer_key.empty()) return tables;
  auto combination = parse_key_combination(layer_key);
  if (!combination) {
    return fail(fill(kLayerKeyMistake, {combination.error()}));
  }
  for (const HotkeyEntry& entry : tables.hotkeys) {
    // The same key cannot open the layer and run an action.
    if (entry.modifiers == combination->modifiers &&
        entry.vk == combination->vk) {
      return fail(fill(kLayerKeyTaken, {layer_key, entry.key}));
    }
  }
  tables.layer_key = HotkeyEntry{std::string(layer_key), combination->modifiers,
                                 combination->vk, false};
  return tables;
}

}  // namespace orvalin
