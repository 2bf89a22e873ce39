// Settings files damaged by hand in ways random damage seldom reaches (deep
// nesting, bad UTF-8, odd numbers): every outcome must be a loaded
// configuration or one of the loader's own error texts, never a crash, a hang
// or a different kind of message. Random damage is the settings fuzz target's
// work.
#include <gtest/gtest.h>

#include "config/builtin.h"
#include "config/config.h"
#include "config/keylist.h"

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
    "\xEF\xBB\xBF",
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
    "[general]\rkelvo_path = 'x'\r",
    "[general]\nkelvo_path = 'x'\n\x01\n",
    "[general]\nkelvo_path = \"\xF0\x9F\x8E\xB5\"\n",
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

}  // namespace
}  // namespace orvalin
