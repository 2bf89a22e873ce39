#include "config/config.h"

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <limits>

#include "base/utf.h"
#include "config/builtin.h"
#include "config/fileio.h"
#include "config/keys.h"
#include "testing/kelvosim.h"

namespace orvalin {
namespace {

void write_bytes(const std::filesystem::path& path, std::string_view bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

// A finder that counts its calls and answers with `found`.
struct FakeFinder {
  std::optional<std::string> found;
  int calls = 0;
  KelvoFinder function() {
    return [this] {
      ++calls;
      return found;
    };
  }
};

// A settings file's place in a fresh folder, removed at the end, and a
// finder that finds nothing.
class ConfigFileTest : public ::testing::Test {
 protected:
  ~ConfigFileTest() override {
    std::error_code ignored;
    std::filesystem::remove_all(dir, ignored);
  }
  const std::filesystem::path dir = make_temp_dir("orvalin-config-test-");
  const std::filesystem::path file = dir / "config.toml";
  const std::string name = path_to_utf8(file);
  FakeFinder finder;

  // The file's kelvo_path as loaded with `with`, and what the load printed.
  std::pair<std::string, std::string> kelvo_path(FakeFinder& with) {
    testing::internal::CaptureStdout();
    auto loaded = load_config_from(file, with.function());
    std::string printed = testing::internal::GetCapturedStdout();
    EXPECT_TRUE(loaded.has_value()) << loaded.error();
    return {loaded ? loaded->general.kelvo_path : "", printed};
  }
};

constexpr std::string_view kMinimal =
    "[general]\nkelvo_path = 'C:\\Kelvo\\kelvo.exe'\n";

std::string parse_error(std::string_view text) {
  auto parsed = parse_config(text, "C:\\x\\config.toml");
  EXPECT_FALSE(parsed.has_value()) << text;
  return parsed ? std::string() : parsed.error();
}

Config parsed_ok(std::string_view text) {
  auto parsed = parse_config(text, "config.toml");
  EXPECT_TRUE(parsed.has_value()) << text << "\n" << parsed.error();
  return parsed.value_or(Config{});
}

std::vector<std::string> keys_of(const std::vector<Binding>& bindings) {
  std::vector<std::string> keys;
  for (const Binding& binding : bindings) keys.push_back(binding.key);
  return keys;
}

TEST(ConfigTest, NewFileQuotesThePathSoThatItReadsBack) {
  const auto line_of = [](const std::string& path) {
    const std::string text = new_settings_text(path, {});
    const size_t start = text.find("\nkelvo_path") + 1;
    return text.substr(start, text.find('\n', start) - start);
  };
  EXPECT_EQ(line_of("C:\\O'Brien\\Kelvo \"2\"\\kelvo.exe"),
            "kelvo_path = \"C:\\\\O'Brien\\\\Kelvo \\\"2\\\"\\\\kelvo.exe\"");
  // A control character cannot stand in a TOML string of either kind; it is
  // escaped rather than allowed to break the line.
  EXPECT_EQ(line_of("C:\\a\nb\\kelvo.exe"),
            "kelvo_path = \"C:\\\\a\\u000Ab\\\\kelvo.exe\"");
  for (const std::string path :
       {"C:\\Program Files\\Kelvo\\kelvo.exe", "C:\\O'Brien\\kelvo.exe",
        "/opt/it's \"here\"\\x", "C:\\a\nb\r\x01\x7F\\k.exe",
        "C:\\Gr\xC3\xBC\xC3\x9F\\\tk.exe"}) {
    const std::string text = new_settings_text(path, {});
    EXPECT_EQ(std::ranges::count(text, '\n'),
              std::ranges::count(builtin_config_text(), '\n'));
    const Config parsed = parsed_ok(text);
    EXPECT_EQ(parsed.general.kelvo_path, path);
    EXPECT_EQ(parsed.keys.size(), 103u);
  }
}

// A platform's parts replace the header, the [speech] table's comments and,
// when Kelvo was not found, the kelvo_path line; the file still reads back.
TEST(ConfigTest, NewFileTakesThePlatformsParts) {
  const PlatformSettingsText platform{"# Head\n", "# None\nkelvo_path = ''",
                                      "# Speech here\n"};
  for (const std::optional<std::string>& found :
       {std::optional<std::string>(), std::optional<std::string>("/k")}) {
    const std::string text = new_settings_text(found, platform);
    EXPECT_TRUE(
        text.starts_with("# Head\n\n[general]\n# Where Kelvo is "
                         "installed.\n"))
        << text;
    EXPECT_TRUE(text.contains(found ? "\nkelvo_path = '/k'\n"
                                    : "\n# None\nkelvo_path = ''\n"));
    EXPECT_TRUE(
        text.contains("[speech]\n# Speech here\nscreen_reader = "
                      "\"auto\"\nbraille = true\n\n# ----"))
        << text;
    const Config parsed = parsed_ok(text);
    EXPECT_EQ(parsed.general.kelvo_path, found.value_or(""));
    EXPECT_EQ(parsed.keys.size(), 103u);
  }
  // This platform's file reads back with an empty path too.
  parsed_ok(new_settings_text(std::nullopt));
}

TEST_F(ConfigFileTest, MinimalFileGivesTheBuiltInBindingsAndDefaults) {
  write_bytes(file, kMinimal);
  auto loaded = load_config_from(file, finder.function());
  ASSERT_TRUE(loaded.has_value()) << loaded.error();
  EXPECT_FALSE(loaded->created);
  EXPECT_TRUE(loaded->general.kelvo_args.empty());
  EXPECT_EQ(loaded->general.port, 52764);
  EXPECT_EQ(keys_of(loaded->bindings), keys_of(builtin_config().keys));

  // With a byte-order mark the file loads the same.
  write_bytes(file, "\xEF\xBB\xBF" + std::string(kMinimal));
  auto with_mark = load_config_from(file, finder.function());
  ASSERT_TRUE(with_mark.has_value()) << with_mark.error();
  EXPECT_EQ(with_mark->bindings.size(), 103u);
}

TEST(ConfigTest, GeneralValues) {
  const Config config = parsed_ok(
      "[general]\nkelvo_path = \"K\"\nkelvo_args = ['-a', \"b c\"]\n"
      "port = 65535\ncolour = 'blue'\n[other]\nx = 1\n");
  EXPECT_EQ(config.general.kelvo_path, "K");
  EXPECT_EQ(config.general.kelvo_args, (std::vector<std::string>{"-a", "b c"}));
  EXPECT_EQ(config.general.port, 65535);
  EXPECT_EQ(config.speech, SpeechSettings{});
  EXPECT_EQ(config.general.layer_key, "ctrl+alt+shift+home");
  const auto with = [](const std::string& more) {
    return parsed_ok("[general]\nkelvo_path = ''\n" + more);
  };
  EXPECT_EQ(with("port = 0\n").general.port, 0);
  EXPECT_EQ(with("layer_key = ''\n").general.layer_key, "");
  EXPECT_EQ(with("layer_key = 'Win+F9'\n").general.layer_key, "Win+F9");
  EXPECT_EQ(with("[speech]\nbraille = false\nscreen_reader = 'system_access'\n")
                .speech,
            (SpeechSettings{ScreenReader::system_access, false}));
}

TEST_F(ConfigFileTest, KelvoPathFallback) {
  const std::string missing = path_to_utf8(dir / "nope" / "kelvo.exe");
  write_bytes(file, "[general]\nkelvo_path = '" + missing + "'\n");

  using Loaded = std::pair<std::string, std::string>;
  const std::string found_path = "C:\\Found\\kelvo.exe";
  FakeFinder found{found_path};
  EXPECT_EQ(
      kelvo_path(found),
      Loaded(found_path, "kelvo_path " + missing + " does not exist, using " +
                             found_path + "\n"));
  // The file itself is left as it was.
  EXPECT_EQ(read_file(file), "[general]\nkelvo_path = '" + missing + "'\n");
  EXPECT_EQ(kelvo_path(finder), Loaded(missing, ""));
  EXPECT_EQ(finder.calls, 1);

  // An empty path is searched for as on the first run.
  write_bytes(file, "[general]\nkelvo_path = ''\n");
  EXPECT_EQ(
      kelvo_path(found),
      Loaded(found_path, "kelvo_path is empty, using " + found_path + "\n"));

  // An existing path is used without a search.
  write_bytes(file, "[general]\nkelvo_path = '" + name + "'\n");
  FakeFinder unused{"C:\\Other\\kelvo.exe"};
  EXPECT_EQ(kelvo_path(unused), Loaded(name, ""));
  EXPECT_EQ(unused.calls, 0);
}

TEST(ConfigTest, MergeReplacesAppendsAndRemoves) {
  const Config file = parsed_ok(
      "keys = [{key = 'alt+ctrl+P', action = 'press', control = 'cue_default'},"
      " {key = 'ctrl+alt+shift+y', action = 'toggle', control = 'quantize'},"
      " {key = 'ctrl+alt+e', action = 'none'},"
      " {key = 'ctrl+shift+y+alt', action = 'toggle', control = "
      "'slip_enabled'},"
      " {key = 'win+f9', action = 'none'},"
      " {key = 'ctrl+alt+BAD', action = 'toggle', control = 'a'},"
      " {key = 'Ctrl+Alt+bad', action = 'toggle', control = 'b'},"
      " {key = 'ctrl+alt+bad ', action = 'toggle', control = 'c'}]\n" +
      std::string(kMinimal));
  const std::vector<Binding>& base = builtin_config().keys;
  const std::vector<Binding> merged = merge_bindings(base, file.keys);
  ASSERT_EQ(merged.size(), 103u - 1 + 3);
  // Replaced in the built-in position (the fifth binding).
  EXPECT_EQ(merged[4].key, "alt+ctrl+P");
  EXPECT_EQ(merged[4].control, "cue_default");
  for (const Binding& binding : merged) EXPECT_NE(binding.key, "ctrl+alt+e");
  // The second binding of a new key replaced the first, at its position;
  // unparsable keys compare as text ignoring case, with equal length.
  EXPECT_EQ(merged[102].key, "ctrl+shift+y+alt");
  EXPECT_EQ(merged[102].control, "slip_enabled");
  EXPECT_EQ(merged[103].key, "Ctrl+Alt+bad");
  EXPECT_EQ(merged[103].control, "b");
  EXPECT_EQ(merged[104].key, "ctrl+alt+bad ");
  // A "none" binding is dropped even when nothing else had its key, and
  // "None" is not "none".
  EXPECT_TRUE(merge_bindings({}, {{.key = "x", .action = "none"}}).empty());
  EXPECT_EQ(
      merge_bindings(base, {{.key = "ctrl+alt+p", .action = "None"}}).size(),
      103u);
}

// The built-in bindings use every field, and each of their keys is checked
// against the simulator (BuiltinBindings.EveryKeyAgainstTheSimulator); here
// the values at the edges, repeat (which only the hot key registration
// sees), and a binding without any optional field.
TEST(ConfigTest, BindingFields) {
  const Config config = parsed_ok(std::string(kMinimal) + R"(
[[keys]]
key = "ctrl+alt+y"
action = "press"
deck = 255
value = -0.5
repeat = false

[[keys]]
key = "k"
action = "a"
)");
  ASSERT_EQ(config.keys.size(), 2u);
  const Binding& b = config.keys[0];
  EXPECT_EQ(b.key, "ctrl+alt+y");
  EXPECT_EQ(b.action, "press");
  EXPECT_EQ(b.deck, 255);
  EXPECT_EQ(b.value, -0.5);
  EXPECT_EQ(b.repeat, false);
  const Binding& bare = config.keys[1];
  EXPECT_FALSE(bare.deck || bare.group || bare.control || bare.step ||
               bare.value || bare.what || bare.label || bare.format ||
               bare.report || bare.report_label || bare.report_format ||
               bare.confirm || bare.repeat);
}

TEST_F(ConfigFileTest, DefaultsWrittenOnlyWhereNoFileExistsAndFileErrors) {
  const std::string users = std::string(kMinimal) + "# mine\n";

  // A file that exists but cannot be read is an error, never replaced.
  int creates = 0;
  SettingsFiles denied{[](const auto&) -> Result<std::optional<std::string>> {
                         return fail("Access is denied.");
                       },
                       [&](const auto&, std::string_view) -> Result<bool> {
                         ++creates;
                         return true;
                       }};
  EXPECT_EQ(error_text(load_config_from(file, finder.function(), denied)),
            "cannot read " + name + ": Access is denied.");
  EXPECT_EQ(creates, 0);

  // Another instance creates the file between our read and our create: its
  // file is read, ours is dropped.
  int reads = 0;
  SettingsFiles raced{
      [&](const auto&) -> Result<std::optional<std::string>> {
        if (reads++ == 0) return std::nullopt;
        return users;
      },
      [](const auto&, std::string_view) -> Result<bool> { return false; }};
  auto other = load_config_from(file, finder.function(), raced);
  ASSERT_TRUE(other.has_value()) << other.error();
  EXPECT_FALSE(other->created);
  EXPECT_EQ(other->general.kelvo_path, "C:\\Kelvo\\kelvo.exe");

  // The real creation: exclusive, and no temporary file is left behind.
  write_bytes(file, users);
  auto again = cfgfile::create_new_file(file, "defaults");
  ASSERT_TRUE(again.has_value()) << again.error();
  EXPECT_FALSE(*again);
  EXPECT_EQ(read_file(file), users);
  const auto fresh = dir / "fresh.toml";
  auto made = cfgfile::create_new_file(fresh, "defaults");
  ASSERT_TRUE(made.has_value()) << made.error();
  EXPECT_TRUE(*made);
  EXPECT_EQ(read_file(fresh), "defaults");
  EXPECT_EQ(std::ranges::distance(std::filesystem::directory_iterator(dir)), 2);

  // A folder where the file should be cannot be read.
  const auto folder = dir / "folder.toml";
  std::filesystem::create_directories(folder);
  const std::string unreadable =
      error_text(load_config_from(folder, finder.function()));
  EXPECT_TRUE(
      unreadable.starts_with("cannot read " + path_to_utf8(folder) + ": "))
      << unreadable;

  // A file where the settings folder should be cannot be made a folder.
  const auto blocker = dir / "blocker";
  write_bytes(blocker, "x");
  const std::string uncreatable = error_text(
      load_config_from(blocker / "Orvalin" / "config.toml", finder.function()));
  const std::string why = "cannot create " + path_to_utf8(blocker / "Orvalin");
  EXPECT_TRUE(uncreatable.starts_with(why + ": ")) << uncreatable;
  EXPECT_GT(uncreatable.size(), why.size() + 2);  // a reason follows
}

TEST(ConfigTest, DocumentErrorsNameTheFieldLineAndColumn) {
  // Surrogates, overlong forms and cut sequences are not UTF-8, even after a
  // byte-order mark or inside a string or comment.
  for (const std::string bad :
       {"kelvo_path = '\xED\xA0\x80'", "# \xC0\xAF", "# \xE2\x82",
        "\xEF\xBB\xBF# \xFF", "\xEF\xBB", "# \xF4\x90\x80\x80"}) {
    EXPECT_EQ(parse_error("[general]\n" + bad + "\n"),
              "cannot read C:\\x\\config.toml: stream did not contain valid "
              "UTF-8");
  }
  const std::string m(kMinimal);
  const std::string key = m + "[[keys]]\nkey = 'x'\naction = 'y'\n";
  const std::pair<std::string, std::string> cases[] = {
      // What the library quotes stays on one line.
      {m + "x = fa\n",
       "Error while parsing boolean: expected 'false', saw "
       "'fa\\n', at line 3, column 7: x = fa"},
      {"# settings\n[[keys]]\nkey='a'\naction='b'\n",
       "missing field 'general', at line 1, column 1: # settings"},
      {"", "missing field 'general', at line 1, column 1"},
      {"\n[general]\nport = 1\n",
       "missing field 'kelvo_path' in [general], "
       "at line 2, column 1: [general]"},
      {m + "[[keys]]\naction = 'x'\n",
       "missing field 'key' in [[keys]], at line 3, column 1: [[keys]]"},
      {m + "[[keys]]\nkey = 'x'\n",
       "missing field 'action' in [[keys]], at line 3, column 1: [[keys]]"},
      {key + "deck = 300\n",
       "'deck' is out of range: expected an integer from 0 to 255, found "
       "300, at line 6, column 8: deck = 300"},
      {key + "deck = -1\n",
       "'deck' is out of range: expected an integer from 0 to 255, found -1, "
       "at line 6, column 8: deck = -1"},
      {key + "deck = '1'\n",
       "wrong type for 'deck': expected an integer from 0 to 255, found a "
       "string, at line 6, column 8: deck = '1'"},
      {m + "port = 70000\n",
       "'port' is out of range: expected an integer from 0 to 65535, found "
       "70000, at line 3, column 8: port = 70000"},
      {m + "port = 52764.0\n",
       "wrong type for 'port': expected an integer from 0 to 65535, found a "
       "float, at line 3, column 8: port = 52764.0"},
      {"[general]\nkelvo_path = 1\n",
       "wrong type for 'kelvo_path': expected a string, found an integer, at "
       "line 2, column 14: kelvo_path = 1"},
      {m + "kelvo_args = '-x'\n",
       "wrong type for 'kelvo_args': expected an array of strings, found a "
       "string, at line 3, column 14: kelvo_args = '-x'"},
      {m + "kelvo_args = ['-x', 2]\n",
       "wrong type for 'kelvo_args' item 2: expected a string, found an "
       "integer, at line 3, column 21: kelvo_args = ['-x', 2]"},
      {"general = 'x'\n",
       "wrong type for 'general': expected a table, found "
       "a string, at line 1, column 11: general = 'x'"},
      {"keys = 1\n" + m,
       "wrong type for 'keys': expected an array of tables, found an "
       "integer, at line 1, column 8: keys = 1"},
      {"keys = [1]\n" + m,
       "wrong type for 'keys' item 1: expected a table, found an integer, at "
       "line 1, column 9: keys = [1]"},
      {key + "step = '0.05'\n",
       "wrong type for 'step': expected a number, found a string, at line 6, "
       "column 8: step = '0.05'"},
      {key + "repeat = 1\n",
       "wrong type for 'repeat': expected a boolean, found an integer, at "
       "line 6, column 10: repeat = 1"},
      {m + "[[keys]]\nkey = ['x']\naction = 'y'\n",
       "wrong type for 'key': expected a string, found an array, at line 4, "
       "column 7: key = ['x']"},
      {m + "layer_key = 'ctrl+alt+hom'\n",
       "layer_key: 'ctrl+alt+hom': unknown key 'hom', at line 3, column 13: "
       "layer_key = "
       "'ctrl+alt+hom'"},
      {m + "layer_key = false\n",
       "wrong type for 'layer_key': expected a string, found a boolean, at "
       "line 3, column 13: layer_key = false"},
      {m + "[speech]\nscreen_reader = 'narrator'\n",
       "unknown screen_reader 'narrator': expected one of auto, nvda, jaws, "
       "zdsr, system_access, sapi, at line 4, column 17: screen_reader = "
       "'narrator'"},
      {m + "[speech]\nbraille = 'yes'\n",
       "wrong type for 'braille': expected a boolean, found a string, at line "
       "4, column 11: braille = 'yes'"},
      {"speech = 1\n" + m,
       "wrong type for 'speech': expected a table, found an integer, at line "
       "1, column 10: speech = 1"},
      // The TOML library's own descriptions, in the same form.
      {m + "port = 1\nport = 2\n",
       "Error while parsing key-value pair: cannot redefine existing integer "
       "'port', at line 4, column 8: port = 2"},
      {m + "[general]\n",
       "Error while parsing table header: cannot redefine existing table "
       "'general', at line 3, column 1: [general]"},
  };
  for (const auto& [text, error] : cases) {
    EXPECT_EQ(parse_error(text), "error in C:\\x\\config.toml: " + error);
  }
  // A very long offending line is cut.
  const std::string long_line = "x = '" + std::string(300, 'a');
  const std::string cut = parse_error(long_line);
  EXPECT_TRUE(cut.ends_with(long_line.substr(0, 120) + "...")) << cut;
}

TEST(ConfigTest, ValidationMessages) {
  const std::pair<Binding, std::string_view> cases[] = {
      {{.action = "select_deck"}, "select_deck needs 'deck'"},
      {{.action = "toggle"}, "action 'toggle' needs 'control'"},
      {{.action = "press"}, "action 'press' needs 'control'"},
      {{.action = "press", .report = "r", .report_format = "Bpm"},
       "unknown format 'Bpm'"},
      {{.action = "set", .control = "c"}, "set needs 'value'"},
      {{.action = "set", .value = 1}, "action 'set' needs 'control'"},
      {{.action = "adjust", .control = "c"}, "adjust needs 'step'"},
      {{.action = "adjust", .step = 0.1}, "action 'adjust' needs 'control'"},
      {{.action = "adjust",
        .control = "c",
        .step = 0.1,
        .format = "percentage"},
       "unknown format 'percentage'"},
      {{.action = "say"}, "unknown say 'what': None"},
      {{.action = "say", .what = "a\"b\\c\nd"},
       "unknown say 'what': Some(\"a\\\"b\\\\c\\nd\")"},
      {{.action = "say_control"}, "action 'say_control' needs 'control'"},
      {{.action = "say_control", .control = "c", .format = ""},
       "unknown format ''"},
      {{.action = "beatgrid_move"}, "beatgrid_move needs 'step'"},
      {{.action = "marker"}, "marker needs 'control'"},
      {{.action = "marker", .control = "c"}, "marker needs 'report'"},
      {{.action = "marker", .control = "c", .report = "r"},
       "marker needs 'label'"},
      {{.action = "none"}, "unknown action 'none'"},
      {{.action = ""}, "unknown action ''"},
  };
  for (auto [binding, error] : cases) {
    binding.key = "ctrl+alt+p";
    EXPECT_EQ(error_text(validate_binding(binding)),
              "'ctrl+alt+p': " + std::string(error));
  }
  EXPECT_EQ(error_text(validate_binding(
                {.key = "Alt+Ctrl+P", .action = "Toggle", .control = "c"})),
            "'Alt+Ctrl+P': unknown action 'Toggle'");
}

// What the built-in bindings give explicitly (groups, labels, report labels
// and formats, confirmations, markers) is checked by
// BuiltinBindings.EveryKeyAgainstTheSimulator; here the defaults they never
// rely on.
TEST(ConfigTest, ValidatedActions) {
  const auto valid = [](const Binding& binding) {
    auto action = validate_binding(binding);
    EXPECT_TRUE(action.has_value()) << action.error();
    return action.value_or(act::StopSpeech{});
  };
  const Action deck = valid({.action = "select_deck", .deck = 0});
  EXPECT_EQ(std::get<act::SelectDeck>(deck).deck, 0);

  const Action press = valid({.action = "press",
                              .control = "loop_double",
                              .format = "nonsense",
                              .report = "beatloop_size"});
  const auto& p = std::get<act::Press>(press);
  ASSERT_TRUE(p.report.has_value());
  EXPECT_EQ(p.report->target.group, "[Channel{deck}]");
  EXPECT_EQ(p.report->label, "beatloop_size");
  EXPECT_EQ(p.report->format, ValueFormat::number);
  // A report reads from the group of its press.
  const Action press_in_group = valid({.action = "press",
                                       .group = "[Sampler{deck}]",
                                       .control = "x",
                                       .report = "y"});
  EXPECT_EQ(std::get<act::Press>(press_in_group).report->target.group,
            "[Sampler{deck}]");
  // Without a report the report format is not looked at.
  EXPECT_FALSE(
      std::get<act::Press>(
          valid({.action = "press", .control = "x", .report_format = "bad"}))
          .report.has_value());

  const auto adjust = std::get<act::Adjust>(
      valid({.action = "adjust", .control = "volume", .step = -0.05}));
  EXPECT_EQ(adjust.label, "volume");
  EXPECT_EQ(adjust.format, ValueFormat::percent);
  EXPECT_EQ(adjust.step, -0.05);
  const auto say_control = std::get<act::SayControl>(
      valid({.action = "say_control", .control = "x"}));
  EXPECT_EQ(say_control.label, "x");
  EXPECT_EQ(say_control.format, ValueFormat::number);
  // Toggle and set ignore a format.
  valid({.action = "toggle", .control = "c", .format = "bad"});
  valid({.action = "set", .control = "c", .value = 1, .format = "bad"});

  const auto steps = [&](double step) {
    return std::get<act::BeatgridMove>(
               valid({.action = "beatgrid_move", .step = step}))
        .step;
  };
  EXPECT_EQ(steps(1.5), 2);
  EXPECT_EQ(steps(-1.5), -2);
  EXPECT_EQ(steps(0.49), 0);
  EXPECT_EQ(steps(std::nan("")), 0);
  EXPECT_EQ(steps(1e12), std::numeric_limits<int32_t>::max());
  EXPECT_EQ(steps(std::numeric_limits<double>::infinity()),
            std::numeric_limits<int32_t>::max());
}

TEST(ConfigTest, HotkeyEntriesAndTables) {
  const auto entry = [](const Binding& binding) {
    auto result = hotkey_entry(binding);
    EXPECT_TRUE(result.has_value()) << result.error();
    return result.value_or(HotkeyEntry{});
  };
  const HotkeyEntry adjust =
      entry({.key = "Alt+Ctrl+PageUp", .action = "adjust"});
  EXPECT_EQ(adjust.key, "Alt+Ctrl+PageUp");
  EXPECT_EQ(adjust.modifiers, kModAlt | kModControl);
  EXPECT_EQ(adjust.vk, 0x21u);
  EXPECT_TRUE(adjust.repeat);
  EXPECT_TRUE(entry({.key = "a", .action = "beatgrid_move"}).repeat);
  EXPECT_FALSE(entry({.key = "a", .action = "press"}).repeat);
  EXPECT_FALSE(entry({.key = "a", .action = "say"}).repeat);
  EXPECT_TRUE(entry({.key = "a", .action = "press", .repeat = true}).repeat);
  EXPECT_FALSE(entry({.key = "a", .action = "adjust", .repeat = false}).repeat);

  // The key is checked before the action; the first bad binding wins.
  EXPECT_EQ(error_text(build_binding_tables(
                {{.key = "ctrl+alt+p", .action = "toggle", .control = "play"},
                 {.key = "ctrl+alt+?x", .action = "Bad"},
                 {.key = "ctrl+alt+q", .action = "Bad"}})),
            "'ctrl+alt+?x': unknown key '?x'");
  EXPECT_EQ(error_text(build_binding_tables(
                {{.key = "ctrl+alt+q", .action = "Bad"},
                 {.key = "ctrl+alt+?x", .action = "toggle"}})),
            "'ctrl+alt+q': unknown action 'Bad'");
}

TEST(ConfigTest, FormatAndSayNames) {
  // Each name reads back as the value at its position, and is its name.
  const auto check = [](const auto& names, auto parse, auto name_of) {
    for (size_t i = 0; i < std::size(names); ++i) {
      auto value = parse(names[i]);
      ASSERT_TRUE(value.has_value()) << names[i];
      EXPECT_EQ(static_cast<size_t>(*value), i);
      EXPECT_EQ(name_of(*value), names[i]);
    }
  };
  const char* formats[] = {"percent", "offset",      "balance", "onoff", "time",
                           "bpm",     "bpm_precise", "key",     "number"};
  check(formats, parse_value_format, value_format_name);
  const char* whats[] = {"status",      "track",          "time",    "tempo",
                         "grid_offset", "selected_track", "hotcues", "effects"};
  check(whats, parse_say_what, say_what_name);
  EXPECT_FALSE(parse_say_what("Status"));
}

// Letters the TOML library cannot classify without undefined behaviour
// (found by fuzzing: U+FBFF before a table header) reach the parser as
// stand-ins and come back unchanged; a stand-in in the file is refused.
TEST(ConfigTest, LettersOfEveryScriptReadBack) {
  const std::string letters =
      "Lautst\xC3\xA4rke \xD0\x96 \xE3\x80\x81 \xEF\xAC\xA6 \xEF\xBB\xBE";
  const Config config = parsed_ok(
      std::string(kMinimal) + "kelvo_args = ['" + letters + "']\n\"" + letters +
      "\" = 1\n[[keys]]\nkey = 'f5'\naction = 'x'\nlabel = \"" + letters +
      "\"\n");
  EXPECT_EQ(config.general.kelvo_args, std::vector<std::string>{letters});
  ASSERT_EQ(config.keys.size(), 1u);
  EXPECT_EQ(config.keys[0].label, letters);
  EXPECT_EQ(parse_error("\xEF\xAF\xBF[general]\n"),
            "error in C:\\x\\config.toml: Error while parsing root table: "
            "expected keys, tables, whitespace or comments, saw "
            "'\xEF\xAF\xBF', at line 1, column 1: \xEF\xAF\xBF[general]");
  EXPECT_EQ(parse_error(std::string(kMinimal) + "x = '\xF3\xB0\x80\x80'\n"),
            "error in C:\\x\\config.toml: unsupported character, at line 3, "
            "column 6: x = '\xF3\xB0\x80\x80'");
}

}  // namespace
}  // namespace orvalin
