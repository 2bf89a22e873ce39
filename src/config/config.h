// The settings file config.toml and the validated forms of its bindings.
// Loading happens once at start-up on the main thread; the records are plain
// values that may then be copied to any thread.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "base/result.h"
#include "base/sentences.h"

namespace orvalin {

// One [[keys]] table, fields as written in the file.
struct Binding {
  std::string key{};
  std::string action{};
  std::optional<uint8_t> deck{};
  std::optional<std::string> group{};
  std::optional<std::string> control{};
  std::optional<double> step{};
  std::optional<double> value{};
  std::optional<std::string> what{};
  std::optional<std::string> label{};
  std::optional<std::string> format{};
  std::optional<std::string> report{};
  std::optional<std::string> report_label{};
  std::optional<std::string> report_format{};
  std::optional<std::string> confirm{};
  std::optional<bool> repeat{};
};

// The layer key when the settings file names none: Ctrl+Alt+Shift+Home
// types nothing on any layout, is on laptop keyboards, and no screen reader,
// desktop or display server gives it a meaning.
inline constexpr std::string_view kDefaultLayerKey = "ctrl+alt+shift+home";

// The [general] table.
struct General {
  std::string kelvo_path;
  std::vector<std::string> kelvo_args;
  uint16_t port = 52764;
  // The key that makes the next key press Orvalin's (the key layer); empty
  // when the layer is off. Checked by build_binding_tables.
  std::string layer_key = std::string(kDefaultLayerKey);
  // "auto" or the code of a shipped language (base/language.h); checked
  // when read.
  std::string language = "auto";
};

// Which screen reader speaks: automatic takes the first that runs, in the
// order nvda, jaws, zdsr, system_access; a reader named alone speaks while it
// runs, the SAPI voice otherwise; sapi is the SAPI voice alone.
enum class ScreenReader { automatic, nvda, jaws, zdsr, system_access, sapi };

// The name as written in the settings file ("auto", "nvda", ...), and back
// (nullopt: unknown).
std::string_view screen_reader_name(ScreenReader reader);
std::optional<ScreenReader> parse_screen_reader(std::string_view name);

// The [speech] table.
struct SpeechSettings {
  ScreenReader screen_reader = ScreenReader::automatic;
  // Every spoken message goes to the braille display too, through the same
  // reader.
  bool braille = true;
  bool operator==(const SpeechSettings&) const = default;
};

// A whole settings document.
struct Config {
  General general;
  SpeechSettings speech;
  std::vector<Binding> keys;
};

// The result of load_config.
struct LoadedConfig {
  General general;                // from the file; kelvo_path resolved
  SpeechSettings speech;          // from the file
  std::vector<Binding> bindings;  // built-in merged with the file's
  std::filesystem::path path;     // the settings file
  bool created = false;           // this load wrote the file
};

enum class ValueFormat {
  percent,
  offset,
  balance,
  onoff,
  time,
  bpm,
  bpm_precise,
  key,
  number
};

enum class SayWhat {
  status,
  track,
  time,
  tempo,
  grid_offset,
  selected_track,
  hotcues,
  effects
};

// The name as written in the settings file, and back (nullopt: unknown).
std::string_view value_format_name(ValueFormat format);
std::optional<ValueFormat> parse_value_format(std::string_view name);
std::string_view say_what_name(SayWhat what);
std::optional<SayWhat> parse_say_what(std::string_view name);

// A control address; either text may hold the placeholder "{deck}".
struct ControlTarget {
  std::string group;
  std::string control;
};

// The control read back after a press.
struct Report {
  ControlTarget target;
  std::string label;
  ValueFormat format = ValueFormat::number;
};

// The seventeen action kinds, in their fixed order: the one table of kinds.
// Each kind has its name in the settings file (kName) and, where a held key
// repeats it by default, kRepeats. A kind without fields has its key-help
// description in kDescription; a kind with fields is made from its binding
// by parse (checking it; in config.cpp) and described by describe() (in
// keylist.cpp). The action worker runs each kind (actions.cpp): a kind
// without a runner there does not compile.
namespace act {
struct SelectDeck {
  static constexpr std::string_view kName = "select_deck";
  static Result<SelectDeck> parse(const Binding& binding);
  std::string describe() const;
  uint8_t deck = 0;
};
struct Toggle {
  static constexpr std::string_view kName = "toggle";
  static Result<Toggle> parse(const Binding& binding);
  std::string describe() const;
  ControlTarget target;
  std::optional<std::string> label;
};
struct Press {
  static constexpr std::string_view kName = "press";
  static Result<Press> parse(const Binding& binding);
  std::string describe() const;
  ControlTarget target;
  std::optional<Report> report;
  std::optional<std::string> confirm;
  std::optional<std::string> label;
};
struct Set {
  static constexpr std::string_view kName = "set";
  static Result<Set> parse(const Binding& binding);
  std::string describe() const;
  ControlTarget target;
  double value = 0;
  std::optional<std::string> label;
};
struct Adjust {
  static constexpr std::string_view kName = "adjust";
  static constexpr bool kRepeats = true;
  static Result<Adjust> parse(const Binding& binding);
  std::string describe() const;
  ControlTarget target;
  double step = 0;
  std::string label;
  ValueFormat format = ValueFormat::percent;
};
struct Say {
  static constexpr std::string_view kName = "say";
  static Result<Say> parse(const Binding& binding);
  std::string describe() const;
  SayWhat what = SayWhat::status;
};
struct SayControl {
  static constexpr std::string_view kName = "say_control";
  static Result<SayControl> parse(const Binding& binding);
  std::string describe() const;
  ControlTarget target;
  std::string label;
  ValueFormat format = ValueFormat::number;
};
struct StopSpeech {
  static constexpr std::string_view kName = "stop_speech";
  static constexpr Text kDescription = msg("stop speech");
};
struct ToggleAnnounce {
  static constexpr std::string_view kName = "toggle_announce";
  static constexpr Text kDescription = msg("announcements on or off");
};
struct DumpWidgets {
  static constexpr std::string_view kName = "dump_widgets";
  static constexpr Text kDescription =
      msg("write the Kelvo widget list to the plugin log");
};
struct KeyHelp {
  static constexpr std::string_view kName = "key_help";
  static constexpr Text kDescription = msg("key help on or off");
};
struct BeatgridClicks {
  static constexpr std::string_view kName = "beatgrid_clicks";
  static constexpr Text kDescription =
      msg("beat grid clicks on or off for the current deck");
};
struct BeatgridMove {
  static constexpr std::string_view kName = "beatgrid_move";
  static constexpr bool kRepeats = true;
  static Result<BeatgridMove> parse(const Binding& binding);
  std::string describe() const;
  int32_t step = 0;
};
struct BeatgridTap {
  static constexpr std::string_view kName = "beatgrid_tap";
  static constexpr Text kDescription = msg("tap the tempo of the current deck");
};
struct Preview {
  static constexpr std::string_view kName = "preview";
  static constexpr Text kDescription =
      msg("preview the selected library track, or stop the preview");
};
struct Marker {
  static constexpr std::string_view kName = "marker";
  static Result<Marker> parse(const Binding& binding);
  std::string describe() const;
  std::string control;
  std::string report;
  std::string label;
};
struct StopSamplers {
  static constexpr std::string_view kName = "stop_samplers";
  static constexpr Text kDescription = msg("stop all samplers");
};
}  // namespace act

using Action =
    std::variant<act::SelectDeck, act::Toggle, act::Press, act::Set,
                 act::Adjust, act::Say, act::SayControl, act::StopSpeech,
                 act::ToggleAnnounce, act::DumpWidgets, act::KeyHelp,
                 act::BeatgridClicks, act::BeatgridMove, act::BeatgridTap,
                 act::Preview, act::Marker, act::StopSamplers>;

// Whether a held key repeats a kind when its binding does not say.
template <typename Kind>
constexpr bool repeats_by_default() {
  if constexpr (requires { Kind::kRepeats; }) {
    return Kind::kRepeats;
  } else {
    return false;
  }
}

// One hot-key registration; its position in the table is the hot-key id.
struct HotkeyEntry {
  std::string key;  // as written in the binding
  uint32_t modifiers = 0;
  uint32_t vk = 0;
  bool repeat = false;
};

// A binding's (key text, action) pair, as the action worker gets it.
struct KeyAction {
  std::string key;
  Action action;
};

// The two parallel tables start-up builds from the merged bindings.
struct BindingTables {
  std::vector<HotkeyEntry> hotkeys;
  std::vector<KeyAction> actions;
  // The key layer's entry key; none when the layer is off.
  std::optional<HotkeyEntry> layer_key;
};

// The settings folder: app_settings_dir().
std::filesystem::path config_dir();

// Creates the file when missing, reads it, merges it onto the built-in
// bindings and resolves the Kelvo path (Kelvo search: find_kelvo), which is
// searched for when it is empty or does not exist.
Result<LoadedConfig> load_config();

// How the settings file is read and first created (cfgfile's functions;
// tests put in fakes).
struct SettingsFiles {
  std::function<Result<std::optional<std::string>>(
      const std::filesystem::path&)>
      read;
  std::function<Result<bool>(const std::filesystem::path&, std::string_view)>
      create;
};
SettingsFiles real_settings_files();

// The same with the file, the Kelvo search and the file operations given
// (tests).
using KelvoFinder = std::function<std::optional<std::string>()>;
Result<LoadedConfig> load_config_from(
    const std::filesystem::path& file, const KelvoFinder& find,
    const SettingsFiles& files = real_settings_files());

// Reads, merges and resolves an existing file as load_config_from does, but
// never creates it: a missing file is a "cannot read" error.
Result<LoadedConfig> read_config_from(const std::filesystem::path& file,
                                      const KelvoFinder& find);

// Parses the bytes of a settings file; `file` names it in error messages.
// Checks the encoding ("cannot read {file}: stream did not contain valid
// UTF-8") and skips a leading byte-order mark; a TOML problem gives
// "error in {file}: " and a description with line, column and the line.
Result<Config> parse_config(std::string_view text, std::string_view file);

// The built-in configuration text, parsed once.
const Config& builtin_config();

// What a new settings file says differently on this platform; each part,
// when given, replaces its part of the built-in text. Windows has none.
struct PlatformSettingsText {
  // The comment lines before [general] (where the file and the log are).
  std::optional<std::string> header;
  // The kelvo_path line, with comment lines before it, when Kelvo was not
  // found.
  std::optional<std::string> kelvo_not_found;
  // The comment lines of the [speech] table (what applies here).
  std::optional<std::string> speech_comment;
};
PlatformSettingsText platform_settings_text();

// The text written as a new settings file: the built-in text with the
// platform's parts and its kelvo_path line naming `kelvo_path` when one was
// found.
std::string new_settings_text(
    const std::optional<std::string>& kelvo_path,
    const PlatformSettingsText& platform = platform_settings_text());

// The file's bindings applied onto the base list: same key replaces in
// place, a new key is appended, and "none" bindings are then removed.
std::vector<Binding> merge_bindings(std::vector<Binding> base,
                                    const std::vector<Binding>& file);

// The per-action checks that turn a binding into an Action.
Result<Action> validate_binding(const Binding& binding);

// The hot-key entry of a valid binding (parse_key_combination must succeed).
Result<HotkeyEntry> hotkey_entry(const Binding& binding);

// Parses and validates every binding in order, then the layer key (empty:
// none), which must not be a binding's key too; the first error wins.
Result<BindingTables> build_binding_tables(const std::vector<Binding>& bindings,
                                           std::string_view layer_key = {});

}  // namespace orvalin
