// Feeds the loader damaged settings files: every outcome must be a loaded
// configuration or one of the loader's own error texts, never a crash, a
// hang or a different kind of message.
#include <gtest/gtest.h>

#include <fstream>
#include <random>

#include "base/utf.h"
#include "config/builtin.h"
#include "config/config.h"
#include "config/keylist.h"
#include "testing/kelvosim.h"

namespace orvalin {
namespace {

constexpr std::string_view kFile = "C:\\Users\\dj\\config.toml";

// Loaded configurations go on through merge, validation and description.
void check_outcome(std::string_view bytes) {
  auto parsed = parse_config(bytes, kFile);
  if (!parsed) {
    const std::string& error = parsed.error();
    ASSERT_TRUE(error.starts_with("error in " + std::string(kFile) + ": ") ||
                error.starts_with("cannot read " + std::string(kFile) + ": "))
        << error;
    return;
  }
  const std::vector<Binding> merged =
      merge_bindings(builtin_config().keys, parsed->keys);
  for (const Binding& binding : merged) {
    if (auto action = validate_binding(binding)) describe_action(*action);
    (void)hotkey_entry(binding);
  }
  (void)build_binding_tables(merged);
}

const char* const kHandWritten[] = {
    "",
    "\xEF\xBB\xBF",
    "\xEF\xBB",
    "[general",
    "[general]\nkelvo_path = 'x",
    "[general]\nkelvo_path = \"x\\q\"",
    "[general]\nkelvo_path = '''\n",
    "[general]\nkelvo_path = 'x'\nport = 0x10000\n",
    "[general]\nkelvo_path = 'x'\nport = 1e3\n",
    "[general]\nkelvo_path = 'x'\nport = 9223372036854775808\n",
    "[general]\nkelvo_path = 'x'\n[[keys]]\nkey = 'a'\naction = 'adjust'\n"
    "step = nan\ncontrol = 'c'\n",
    "[general]\nkelvo_path = 'x'\n[[keys]]\nkey = 'a'\naction = 'set'\n"
    "value = inf\ncontrol = 'c'\n",
    "[general]\nkelvo_path = 'x'\n[[keys]]\nkey = 'a'\naction = "
    "'beatgrid_move'\nstep = -inf\n",
    "[general]\nkelvo_path = 'x'\n[[keys]]\nkey = '\\u0000'\naction = 'x'\n",
    "[general]\nkelvo_path = 'x'\nkeys = [[[[[[[[[[[[[[[[[[[[[[[[[[[[[[1]]]]]]"
    "]]]]]]]]]]]]]]]]]]]]]]]]\n",
    "a = ",
    "[general]\nkelvo_path = 'x'\n[keys]\n",
    // A table header that does not start with a key.
    "[general]\nkelvo_path = 'x'\n[#x]\n",
    "[general]\nkelvo_path = 'x'\n[[ \x01keys]]\n",
    "[general]\nkelvo_path = 'x'\n[[keys]]\n[[keys.x]]\n",
    "[general]\nkelvo_path = 'x'\n[[general]]\n",
    "[general]\nkelvo_path = 'x'\ngeneral.port = 1\n",
    "[general.sub]\nx = 1\n",
    "general = { kelvo_path = 'x', port = -5 }\n",
    "[general]\nkelvo_path = 2024-01-01T00:00:00Z\n",
    "[general]\r\nkelvo_path = 'x'\r\n",
    "[general]\rkelvo_path = 'x'\r",
    "[general]\nkelvo_path = 'x'\n\x01\n",
    "[general]\nkelvo_path = \"\xF0\x9F\x8E\xB5\"\n",
    "[general]\nkelvo_path = '\xED\xA0\x80'\n",
    "[general]\nkelvo_path = '\xC0\xAF'\n",
};

TEST(ConfigFuzzTest, HandWrittenBadFiles) {
  for (const char* text : kHandWritten) {
    SCOPED_TRACE(text);
    check_outcome(text);
  }
  // A file of NUL bytes (valid UTF-8, not TOML).
  check_outcome(std::string(64, '\0'));
  // Deep nesting must be refused, not recursed into without end.
  check_outcome("[general]\nkelvo_path = 'x'\nx = " + std::string(100000, '[') +
                std::string(100000, ']') + "\n");
  std::string tables = "[general]\nkelvo_path = 'x'\nx = ";
  for (int i = 0; i < 50000; ++i) tables += "{a = ";
  check_outcome(tables + "1\n");
}

TEST(ConfigFuzzTest, TruncatedBuiltInText) {
  const std::string_view text = builtin_config_text();
  // Every cut in the header and the start of the documentation; then every
  // 23rd byte.
  for (size_t length = 0; length <= text.size();
       length += length < 800 ? 1 : 23) {
    SCOPED_TRACE(length);
    check_outcome(text.substr(0, length));
  }
}

TEST(ConfigFuzzTest, MutatedBuiltInText) {
  const std::string base(builtin_config_text());
  std::mt19937 random(20261206);
  const char interesting[] = {
      '[', ']', '=', '"',  '\'', '\n',   '\\',   '#',    '{', '}', ',',
      '.', '+', '-', '\0', '\r', '\x80', '\xFF', '\xC3', ' ', '0', 'a'};
  for (int round = 0; round < 1000; ++round) {
    std::string text = base;
    const int edits = 1 + static_cast<int>(random() % 4);
    for (int e = 0; e < edits && !text.empty(); ++e) {
      const size_t at = random() % text.size();
      const char c = interesting[random() % sizeof interesting];
      switch (random() % 5) {
        case 0:
          text[at] = c;
          break;
        case 1:
          text.insert(text.begin() + static_cast<std::ptrdiff_t>(at), c);
          break;
        case 2:
          text.erase(at, 1 + random() % 8);
          break;
        case 3: {
          // Repeat a line somewhere else: duplicate keys and tables.
          const size_t start = text.rfind('\n', at);
          const size_t line_start = start == std::string::npos ? 0 : start + 1;
          const size_t end = text.find('\n', at);
          const std::string line = text.substr(
              line_start, end == std::string::npos ? std::string::npos
                                                   : end - line_start + 1);
          text.insert(random() % text.size(), line);
          break;
        }
        default:
          text[at] = static_cast<char>(text[at] ^ (1 << (random() % 8)));
          break;
      }
    }
    SCOPED_TRACE(round);
    check_outcome(text);
  }
}

TEST(ConfigFuzzTest, DamagedFilesThroughTheLoader) {
  const auto dir = make_temp_dir("orvalin-fuzz-test-");
  const auto file = dir / "config.toml";
  const std::string name = path_to_utf8(file);
  const std::string base(builtin_config_text());
  std::mt19937 random(7);
  for (int round = 0; round < 150; ++round) {
    std::string text = base.substr(0, random() % (base.size() + 1));
    if (round % 3 == 0 && !text.empty()) {
      text[random() % text.size()] = static_cast<char>(random() % 256);
    }
    {
      std::ofstream out(file, std::ios::binary | std::ios::trunc);
      out.write(text.data(), static_cast<std::streamsize>(text.size()));
    }
    auto loaded = load_config_from(file, [] { return std::nullopt; });
    if (!loaded) {
      EXPECT_TRUE(loaded.error().starts_with("error in " + name + ": ") ||
                  loaded.error().starts_with("cannot read " + name + ": "))
          << loaded.error();
    } else {
      EXPECT_FALSE(loaded->created);
    }
  }
  std::error_code ignored;
  std::filesystem::remove_all(dir, ignored);
}

}  // namespace
}  // namespace orvalin
