#include "model.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <map>
#include <mutex>
#include <set>
#include <thread>

#include "base/thread.h"

namespace kelvosim {

using orvalin::fail;
using orvalin::Result;

namespace {

// How a control's value maps onto its 0..1 parameter.
enum class Scale {
  identity,  // parameter = value
  linear,    // min..max onto 0..1
  knob,      // 0..1..max with 1 at the centre (gain and EQ knobs)
};

struct Control {
  double value = 0;
  Scale scale = Scale::identity;
  double min = 0;
  double max = 1;
  bool read_only = false;  // sets are ignored, as the host ignores them
};

constexpr double kRateRange = 0.08;        // the tempo slider's +-8 %
constexpr double kEndOfTrackSeconds = 30;  // "track ending" threshold
constexpr double kGridStep = 0.005;        // beats_translate_move, seconds
constexpr double kTick = 0.02;             // clock grain, seconds
constexpr int kHotcues = 8;

const char* const kMarkers[] = {"intro_start", "intro_end", "outro_start",
                                "outro_end"};

struct Effect {
  std::string id;
  std::string name;
};

const std::vector<Effect>& effect_catalogue() {
  static const std::vector<Effect> effects = {
      {"org.kelvo.effects.autopan", "Autopan"},
      {"org.kelvo.effects.bitcrusher", "Bitcrusher"},
      {"org.kelvo.effects.echo", "Echo"},
      {"org.kelvo.effects.filter", "Filter"},
      {"org.kelvo.effects.flanger", "Flanger"},
      {"org.kelvo.effects.metronome", "Metronome"},
      {"org.kelvo.effects.phaser", "Phaser"},
      {"org.kelvo.effects.reverb", "Reverb"},
      {"org.kelvo.effects.tremolo", "Tremolo"},
      {"org.kelvo.effects.whitenoise", "White Noise"},
  };
  return effects;
}

constexpr int64_t kMetronomeIndex = 6;

// Key number shifted by semitones, staying major or minor.
int shift_key(int key, int semitones) {
  if (key < 1 || key > 24) return key;
  const int base = key > 12 ? 13 : 1;
  const int tonic = key - base;
  return base + ((tonic + semitones) % 12 + 12) % 12;
}

// Shortens a label text to `limit` characters (code points) with "…".
std::string shorten(const std::string& text, size_t limit) {
  size_t count = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80) {
      if (count == limit) {
        std::string stem = text.substr(0, i);
        while (!stem.empty() && stem.back() == ' ') stem.pop_back();
        return stem + "\xE2\x80\xA6";
      }
      ++count;
    }
  }
  return text;
}

bool starts_with(std::string_view text, std::string_view prefix) {
  return text.substr(0, prefix.size()) == prefix;
}

// The number in "[Channel3]" after `prefix`, or 0.
int group_number(std::string_view group, std::string_view prefix) {
  if (!starts_with(group, prefix) || group.size() < prefix.size() + 2 ||
      group.back() != ']') {
    return 0;
  }
  const auto digits =
      group.substr(prefix.size(), group.size() - prefix.size() - 1);
  int number = 0;
  for (const char c : digits) {
    if (c < '0' || c > '9' || number > 1000) return 0;
    number = number * 10 + (c - '0');
  }
  return number;
}

}  // namespace

const std::vector<Track>& library() {
  static const std::vector<Track> tracks = {
      {"Night Drive", "Anon", "Late Hours", 130, 15, "Dm", 449, 44100},
      {"Harbour Lights", "Mira Sol", "Coastline", 124, 10, "A", 372, 44100},
      {"Tomorrow Never Comes (Extended Sunrise Mix)", "The Lanterns",
       "Sunrise Sessions", 128, 22, "Am", 415, 44100},
      {"Copper Sky", "Delta Nine", "Metals", 126, 8, "G", 338, 44100},
      {"Undertow", "Kessa", "Deep Water", 122, 17, "Em", 401, 48000},
      {"Glasshouse", "Novak & Reyes", "Glasshouse EP", 127.5, 1, "C", 356,
       44100},
      {"Paper Planes at Dawn", "Orla Fen", "Lightweight", 118, 20, "Gm", 287,
       44100},
      {"Static Bloom", "Haze Collective", "Bloom", 132, 14, "C#m", 430, 44100},
      {"Midnight Ferry", "Anon", "Late Hours", 125, 24, "Bm", 395, 44100},
      {"Saltwater", "Mira Sol", "Coastline", 120, 5, "E", 312, 44100},
      {"Velvet Circuit", "Io", "Circuitry", 128, 16, "D#m", 364, 44100},
      {"Last Light", "The Lanterns", "Sunrise Sessions", 110, 11, "Bb", 243,
       44100},
  };
  return tracks;
}

std::string format_clock(double seconds) {
  const long long whole = std::llround(std::max(seconds, 0.0));
  char text[32];
  std::snprintf(text, sizeof text, "%lld:%02lld", whole / 60, whole % 60);
  return text;
}

// A deck, sampler or preview deck. The control table holds everything the
// client sees; these fields are what the controls are computed from.
struct Player {
  std::string group;
  int row = 0;  // loaded library row, 0 when empty
  double position = 0;
  double file_bpm = 0;
  double grid_offset = 0;  // seconds of the first beat
  int file_key = 0;
  double duration = 0;
  double samplerate = 0;
  double labels_at = 0;  // the skin shows the track's labels from then on
  std::vector<std::pair<double, double>> grid_undo;  // (bpm, offset)
  std::vector<double> taps;                          // real times
  double clip_clock = 0;
  uint64_t play_generation = 0;
  int previewing_cue = 0;            // hot cue held down on a paused deck
  bool previewing_main_cue = false;  // the cue held down on a paused deck
};

struct Model::State {
  explicit State(const ModelOptions& o) : options(o) {}

  const ModelOptions options;
  mutable std::mutex mutex;  // guards everything below
  std::function<void(const Change&)> listener;
  std::map<std::string, std::map<std::string, Control>, std::less<>> groups;
  std::map<std::string, Player, std::less<>> players;
  int decks = 0;
  int selected_row = 1;
  std::vector<int> autodj_queue;
  double now = 0;  // real seconds since start, advanced by tick()
  // Controls that read 0 until the time given, whatever their value.
  std::map<std::pair<std::string, std::string>,
           std::chrono::steady_clock::time_point>
      unsettled;
  struct Timer {
    double at;
    std::function<void()> run;
  };
  std::vector<Timer> timers;
  uint64_t recording_generation = 0;
  uint64_t broadcast_generation = 0;
  double main_clip_clock = 0;

  // ---- control table ----

  Control* find(std::string_view group, std::string_view key) {
    const auto g = groups.find(group);
    if (g == groups.end()) return nullptr;
    const auto k = g->second.find(std::string(key));
    return k == g->second.end() ? nullptr : &k->second;
  }

  void add(const std::string& group, const std::string& key, double value,
           Scale scale = Scale::identity, double min = 0, double max = 1,
           bool read_only = false) {
    Control control;
    control.value = value;
    control.scale = scale;
    control.min = min;
    control.max = max;
    control.read_only = read_only;
    groups[group][key] = control;
  }

  void add_read_only(const std::string& group, const std::string& key,
                     double value) {
    add(group, key, value, Scale::identity, 0, 1, true);
  }

  double read(std::string_view group, std::string_view key) {
    const Control* control = find(group, key);
    return control ? control->value : 0;
  }

  // Stores a value and reports it when it changed.
  void write(std::string_view group, std::string_view key, double value) {
    Control* control = find(group, key);
    if (!control) return;
    if (control->scale != Scale::identity) {
      value = std::clamp(value, control->min, control->max);
    }
    if (control->value == value) return;
    control->value = value;
    if (listener) listener(Change{std::string(group), std::string(key), value});
  }

  // A value change whose notification comes later (see notify()).
  void store_silently(std::string_view group, std::string_view key,
                      double value) {
    if (Control* control = find(group, key)) control->value = value;
  }

  void notify(std::string_view group, std::string_view key, double value) {
    if (listener) listener(Change{std::string(group), std::string(key), value});
  }

  void after(double seconds, std::function<void()> run) {
    timers.push_back(Timer{now + seconds, std::move(run)});
  }

  // ---- building ----

  void add_player(const std::string& group) {
    add_read_only(group, "track_loaded", 0);
    add_read_only(group, "duration", 0);
    add_read_only(group, "track_samplerate", 0);
    add_read_only(group, "time_elapsed", 0);
    add_read_only(group, "time_remaining", 0);
    add_read_only(group, "end_of_track", 0);
    add_read_only(group, "visual_bpm", 0);
    add_read_only(group, "visual_key", 0);
    add_read_only(group, "beat_distance", 0);
    add_read_only(group, "peak_indicator", 0);
    add_read_only(group, "beat_active", 0);
    add(group, "playposition", 0);
    for (const char* key : {"play",
                            "cue_default",
                            "cue_gotoandplay",
                            "cue_set",
                            "start",
                            "stop",
                            "start_play",
                            "start_stop",
                            "eject",
                            "LoadSelectedTrack",
                            "LoadSelectedTrackAndPlay",
                            "pfl",
                            "keylock",
                            "sync_enabled",
                            "quantize",
                            "repeat",
                            "beatjump_forward",
                            "beatjump_backward",
                            "rate_perm_up",
                            "rate_perm_down",
                            "rate_perm_up_small",
                            "rate_perm_down_small",
                            "rate_set_zero",
                            "pitch_up",
                            "pitch_down",
                            "reset_key",
                            "sync_key",
                            "beatloop_activate",
                            "loop_double",
                            "loop_halve",
                            "reloop_toggle",
                            "loop_enabled",
                            "loop_in",
                            "loop_out",
                            "beats_translate_move",
                            "beats_translate_curpos",
                            "beats_adjust_faster",
                            "beats_adjust_slower",
                            "beats_set_halve",
                            "beats_set_double",
                            "beats_undo_adjustment",
                            "bpmlock",
                            "bpm_tap"}) {
      add(group, key, 0);
    }
    add(group, "cue_point", 0);
    add(group, "beatjump_size", 4);
    add(group, "beatloop_size", 4);
    add(group, "loop_start_position", -1);
    add(group, "loop_end_position", -1);
    add(group, "volume", 1, Scale::linear, 0, 1);
    add(group, "pregain", 1, Scale::knob, 0, 4);
    add(group, "rate", 0, Scale::linear, -1, 1);
    add(group, "rateRange", kRateRange);
    add(group, "pitch", 0, Scale::linear, -6, 6);
    add(group, "bpm", 0);
    add(group, "file_bpm", 0);
    add(group, "key", 0);
    add_read_only(group, "file_key", 0);
    for (int n = 1; n <= kHotcues; ++n) {
      const std::string prefix = "hotcue_" + std::to_string(n) + "_";
      for (const char* key :
           {"activate", "clear", "set", "goto", "gotoandplay", "gotoandstop"}) {
        add(group, prefix + key, 0);
      }
      add_read_only(group, prefix + "status", 0);
      add(group, prefix + "position", -1);
    }
    for (const char* marker : kMarkers) {
      const std::string prefix = std::string(marker) + "_";
      add(group, prefix + "activate", 0);
      add(group, prefix + "clear", 0);
      add(group, prefix + "set", 0);
      add_read_only(group, prefix + "enabled", 0);
      add(group, prefix + "position", -1);
    }
    Player player;
    player.group = group;
    players[group] = player;
  }

  void add_deck(int n) {
    const std::string deck = "[Channel" + std::to_string(n) + "]";
    add_player(deck);
    const std::string eq = "[EqualizerRack1_" + deck + "_Effect1]";
    add(eq, "enabled", 1);
    for (int p = 1; p <= 3; ++p) {
      add(eq, "parameter" + std::to_string(p), 1, Scale::knob, 0, 4);
      add(eq, "button_parameter" + std::to_string(p), 0);
    }
    const std::string quick = "[QuickEffectRack1_" + deck + "]";
    add(quick, "enabled", 1);
    add(quick, "super1", 0.5, Scale::linear, 0, 1);
    for (int unit = 1; unit <= 4; ++unit) {
      add(unit_group(unit), "group_" + deck + "_enable", 0);
    }
    // The default layout puts decks 1 and 3 left, 2 and 4 right.
    add(deck, "orientation", n % 2 == 1 ? 0 : 2);
  }

  static std::string unit_group(int unit) {
    return "[EffectRack1_EffectUnit" + std::to_string(unit) + "]";
  }
  static std::string slot_group(int unit, int slot) {
    return "[EffectRack1_EffectUnit" + std::to_string(unit) + "_Effect" +
           std::to_string(slot) + "]";
  }
  static int slots_of(int unit) { return unit == 4 ? 4 : 3; }

  void build() {
    add_read_only("[App]", "num_decks", 0);
    add_read_only("[App]", "num_samplers", 0);
    add_read_only("[App]", "num_preview_decks", 1);
    add_read_only("[App]", "samplerate", 44100);

    add("[Master]", "crossfader", 0, Scale::linear, -1, 1);
    add("[Master]", "balance", 0, Scale::linear, -1, 1);
    add("[Master]", "headMix", 0, Scale::linear, -1, 1);
    add("[Master]", "gain", 1, Scale::knob, 0, 4);
    add("[Master]", "headGain", 1, Scale::knob, 0, 4);
    add_read_only("[Master]", "peak_indicator", 0);

    add("[Library]", "focused_widget", 0, Scale::linear, 0, 4);
    for (const char* key : {"AutoDjAddBottom", "AutoDjAddTop", "MoveUp",
                            "MoveDown", "MoveVertical"}) {
      add("[Library]", key, 0);
    }
    add_read_only("[Library]", "num_rows", 0);
    for (const char* key : {"enabled", "fade_now", "skip_next"}) {
      add("[AutoDJ]", key, 0);
    }
    add("[Recording]", "toggle_recording", 0);
    add_read_only("[Recording]", "status", 0);
    add("[Shoutcast]", "enabled", 0);
    add_read_only("[Shoutcast]", "status", 0);
    add("[Microphone]", "talkover", 0);
    add("[Microphone]", "volume", 1, Scale::linear, 0, 1);
    add("[Microphone]", "pregain", 1, Scale::knob, 0, 4);
    add_read_only("[Microphone]", "peak_indicator", 0);
    add_read_only("[Microphone]", "input_configured",
                  options.mic_input ? 1 : 0);

    for (int unit = 1; unit <= 4; ++unit) {
      const std::string group = unit_group(unit);
      add(group, "enabled", 1);
      add(group, "mix", 1, Scale::linear, 0, 1);
      add(group, "mix_mode", 0);
      add(group, "super1", 0, Scale::linear, 0, 1);
      add(group, "group_[Master]_enable", 0);
      add(group, "group_[Headphone]_enable", 0);
      add_read_only(group, "num_effectslots", slots_of(unit));
      for (int slot = 1; slot <= slots_of(unit); ++slot) {
        const std::string s = slot_group(unit, slot);
        add_read_only(s, "loaded", 0);
        add(s, "loaded_effect", 0);
        add(s, "enabled", 0);
        add(s, "clear", 0);
        add(s, "next_effect", 0);
        add(s, "prev_effect", 0);
        add(s, "meta", 0.5, Scale::linear, 0, 1);
        for (int p = 1; p <= 3; ++p) {
          add(s, "parameter" + std::to_string(p), 0.5, Scale::linear, 0, 1);
          add(s, "button_parameter" + std::to_string(p), 0);
        }
      }
    }

    add_player("[PreviewDeck1]");
    for (int n = 1; n <= options.samplers; ++n) {
      add_player("[Sampler" + std::to_string(n) + "]");
    }
    groups["[App]"]["num_samplers"].value = options.samplers;
    for (int n = 1; n <= options.decks; ++n) add_deck(n);
    decks = options.decks;
    groups["[App]"]["num_decks"].value = decks;
    groups["[Library]"]["num_rows"].value =
        static_cast<double>(library().size());
    selected_row =
        std::clamp(options.select, 1, static_cast<int>(library().size()));
    for (int i = 0; i < options.autodj_queue; ++i) {
      autodj_queue.push_back(i % static_cast<int>(library().size()) + 1);
    }
    for (const auto& effect : options.effects) {
      const std::string s = slot_group(effect.unit, effect.slot);
      const int64_t index = effect_index(effect.effect_id);
      if (find(s, "loaded") && index > 0) load_effect(s, index);
    }
    for (const auto& load : options.loads) {
      if (players.contains(load.player)) load_track(load.player, load.row);
    }
    for (const auto& initial : options.values) {
      const std::string group = canonical_group(initial.group);
      Control* control = find(group, initial.key);
      if (!control) continue;
      if (control->read_only) {
        control->value = initial.value;
      } else {
        apply(group, initial.key, initial.value);
      }
    }
    if (options.grow_decks_after_ms && decks < 4) {
      after(*options.grow_decks_after_ms / 1000.0, [this] { grow_decks(4); });
    }
  }

  void grow_decks(int count) {
    while (decks < count) add_deck(++decks);
    write("[App]", "num_decks", decks);
  }

  // ---- effects ----

  int64_t effect_index(std::string_view id) const {
    const auto& effects = effect_catalogue();
    for (size_t i = 0; i < effects.size(); ++i) {
      if (effects[i].id == id) {
        const auto index = static_cast<int64_t>(i + 1);
        if (index == kMetronomeIndex && !options.metronome) return 0;
        return index;
      }
    }
    return 0;
  }

  bool effect_available(int64_t index) const {
    return index >= 1 &&
           index <= static_cast<int64_t>(effect_catalogue().size()) &&
           (index != kMetronomeIndex || options.metronome);
  }

  void load_effect(const std::string& slot, int64_t index) {
    if (index == 0) {
      write(slot, "loaded", 0);
      write(slot, "loaded_effect", 0);
      write(slot, "enabled", 0);
      return;
    }
    write(slot, "loaded_effect", static_cast<double>(index));
    write(slot, "loaded", 1);
    // A newly loaded effect starts switched on.
    write(slot, "enabled", 1);
  }

  // ---- players ----

  Player* player_of(std::string_view group) {
    const auto found = players.find(group);
    return found == players.end() ? nullptr : &found->second;
  }

  bool playing(const Player& p) { return read(p.group, "play") != 0; }

  double samples(const Player& p, double seconds) {
    return seconds * p.samplerate * 2;
  }
  double seconds_of(const Player& p, double samples) {
    return p.samplerate > 0 ? samples / p.samplerate / 2 : 0;
  }
  double beat_seconds(const Player& p) {
    return p.file_bpm > 0 ? 60.0 / p.file_bpm : 0.5;
  }
  double tempo_ratio(const Player& p) {
    return 1 + read(p.group, "rate") * read(p.group, "rateRange");
  }

  void seek(Player& p, double seconds) {
    p.position = std::clamp(seconds, 0.0, p.duration);
    refresh(p);
  }

  // Recomputes every control that follows from the player's fields.
  void refresh(Player& p) {
    const bool loaded = p.row != 0;
    const std::string& g = p.group;
    write(g, "time_elapsed", loaded ? p.position : 0);
    write(g, "time_remaining", loaded ? p.duration - p.position : 0);
    write(g, "playposition",
          loaded && p.duration > 0 ? p.position / p.duration : 0);
    write(g, "file_bpm", p.file_bpm);
    const double bpm = loaded ? p.file_bpm * tempo_ratio(p) : 0;
    write(g, "bpm", bpm);
    write(g, "visual_bpm", bpm);
    const int key =
        loaded ? shift_key(p.file_key,
                           static_cast<int>(std::lround(read(g, "pitch"))))
               : 0;
    write(g, "key", key);
    write(g, "visual_key", key);
    double distance = 0;
    if (loaded && p.file_bpm > 0) {
      const double beats = (p.position - p.grid_offset) / beat_seconds(p);
      distance = beats - std::floor(beats);
    }
    write(g, "beat_distance", distance);
    write(g, "beat_active", loaded && p.file_bpm > 0 && distance < 0.1 ? 1 : 0);
    const bool ending =
        loaded && playing(p) && p.duration - p.position <= kEndOfTrackSeconds;
    write(g, "end_of_track", ending ? 1 : 0);
  }

  void clear_cues(Player& p) {
    for (int n = 1; n <= kHotcues; ++n) {
      const std::string prefix = "hotcue_" + std::to_string(n) + "_";
      write(p.group, prefix + "status", 0);
      write(p.group, prefix + "position", -1);
    }
    for (const char* marker : kMarkers) {
      write(p.group, std::string(marker) + "_enabled", 0);
      write(p.group, std::string(marker) + "_position", -1);
    }
    write(p.group, "loop_enabled", 0);
    write(p.group, "loop_start_position", -1);
    write(p.group, "loop_end_position", -1);
    write(p.group, "cue_point", 0);
  }

  void unload(Player& p) {
    write(p.group, "play", 0);
    p.row = 0;
    p.position = 0;
    p.file_bpm = 0;
    p.file_key = 0;
    p.duration = 0;
    p.samplerate = 0;
    p.grid_undo.clear();
    clear_cues(p);
    write(p.group, "pitch", 0);
    write(p.group, "track_loaded", 0);
    write(p.group, "duration", 0);
    write(p.group, "track_samplerate", 0);
    write(p.group, "file_key", 0);
    write(p.group, "peak_indicator", 0);
    refresh(p);
  }

  void load_track(const std::string& group, int row) {
    Player* p = player_of(group);
    if (!p || row < 1 || row > static_cast<int>(library().size())) return;
    const Track& track = library()[row - 1];
    if (p->row != 0) unload(*p);
    p->row = row;
    p->position = 0;
    p->duration = track.duration;
    p->samplerate = track.samplerate;
    p->file_bpm = track.bpm;
    p->file_key = track.key;
    // Every track's first beat lies a little after its start.
    p->grid_offset = 0.012 * (row % 5);
    p->labels_at = now + options.labels_after_ms / 1000.0;
    write(group, "duration", track.duration);
    write(group, "track_samplerate", track.samplerate);
    write(group, "file_key", track.key);
    write(group, "track_loaded", 1);
    refresh(*p);
  }

  void start_playing(Player& p) {
    write(p.group, "play", 1);
    ++p.play_generation;
    if (p.row == 0) {
      // An empty player shows play for a moment and drops back, as the host
      // does.
      const uint64_t generation = p.play_generation;
      const std::string group = p.group;
      after(0.05, [this, group, generation] {
        Player* again = player_of(group);
        if (again && again->row == 0 && again->play_generation == generation) {
          write(group, "play", 0);
        }
      });
      return;
    }
    if (p.position >= p.duration) p.position = 0;
    refresh(p);
  }

  void stop_playing(Player& p) {
    write(p.group, "play", 0);
    refresh(p);
  }

  std::optional<int> other_deck(const Player& p) {
    // The first other loaded deck, preferring one that plays.
    std::optional<int> loaded;
    for (int n = 1; n <= decks; ++n) {
      Player* other = player_of("[Channel" + std::to_string(n) + "]");
      if (!other || other == &p || other->row == 0) continue;
      if (playing(*other)) return n;
      if (!loaded) loaded = n;
    }
    return loaded;
  }

  void set_rate_for_bpm(Player& p, double bpm) {
    if (p.file_bpm <= 0 || bpm <= 0) return;
    write(p.group, "rate", (bpm / p.file_bpm - 1) / read(p.group, "rateRange"));
  }

  void grid_change(Player& p, double bpm, double offset) {
    if (read(p.group, "bpmlock") != 0 || p.row == 0) return;
    p.grid_undo.emplace_back(p.file_bpm, p.grid_offset);
    p.file_bpm = bpm;
    p.grid_offset = offset;
    refresh(p);
  }

  void marker_activate(Player& p, const std::string& prefix,
                       const std::string& status_key) {
    if (p.row == 0) return;
    if (read(p.group, status_key) == 0) {
      write(p.group, prefix + "position", samples(p, p.position));
      write(p.group, status_key, 1);
    } else {
      seek(p, seconds_of(p, read(p.group, prefix + "position")));
    }
  }

  void marker_clear(Player& p, const std::string& prefix,
                    const std::string& status_key) {
    write(p.group, status_key, 0);
    write(p.group, prefix + "position", -1);
  }

  // A player control was set to `value`; true when it was handled here.
  bool player_set(Player& p, const std::string& key, double value) {
    const std::string& g = p.group;
    const bool press = value != 0;
    if (key == "play") {
      p.previewing_cue = 0;
      p.previewing_main_cue = false;
      if (press && !playing(p)) {
        start_playing(p);
      } else if (!press) {
        stop_playing(p);
      }
      return true;
    }
    if (key == "LoadSelectedTrack" || key == "LoadSelectedTrackAndPlay") {
      write(g, key, value);
      if (press) {
        // The host refuses to replace a playing track.
        if (playing(p)) return true;
        load_track(g, selected_row);
        if (key == "LoadSelectedTrackAndPlay") start_playing(p);
      }
      return true;
    }
    if (key == "eject") {
      write(g, key, value);
      if (press && !playing(p) && p.row != 0) unload(p);
      return true;
    }
    if (key == "playposition") {
      if (p.row != 0) seek(p, value * p.duration);
      return true;
    }
    // Every other player control below is a button acting on a press, or
    // a plain value.
    write(g, key, value);
    if (key == "rate" || key == "rateRange" || key == "pitch" ||
        key == "keylock") {
      refresh(p);
      return true;
    }
    if (key == "bpm") {
      set_rate_for_bpm(p, value);
      refresh(p);
      return true;
    }
    if (key == "file_bpm") {
      grid_change(p, value, p.grid_offset);
      refresh(p);
      return true;
    }
    if (key == "loop_start_position" || key == "loop_end_position") {
      return true;
    }
    if (key == "sync_enabled") {
      if (press) {
        if (auto other = other_deck(p)) {
          set_rate_for_bpm(
              p, read("[Channel" + std::to_string(*other) + "]", "bpm"));
          refresh(p);
        }
      }
      return true;
    }
    if (key == "beatloop_size") {
      resize_loop(p);
      return true;
    }
    if (key == "loop_enabled") {
      if (press && (read(g, "loop_start_position") < 0 ||
                    read(g, "loop_end_position") < 0)) {
        write(g, "loop_enabled", 0);
      }
      return true;
    }
    if (!press) {
      if (p.previewing_main_cue && key == "cue_default") {
        // Releasing the cue stops and returns to the cue point.
        p.previewing_main_cue = false;
        stop_playing(p);
        seek(p, seconds_of(p, read(g, "cue_point")));
      }
      if (p.previewing_cue != 0 &&
          key == "hotcue_" + std::to_string(p.previewing_cue) + "_activate") {
        // Releasing a previewed hot cue stops and returns to it.
        const std::string prefix =
            "hotcue_" + std::to_string(p.previewing_cue) + "_";
        p.previewing_cue = 0;
        stop_playing(p);
        seek(p, seconds_of(p, read(g, prefix + "position")));
      }
      return true;
    }
    if (key == "cue_default") {
      if (playing(p)) {
        stop_playing(p);
        seek(p, seconds_of(p, read(g, "cue_point")));
      } else if (p.row != 0) {
        // On a paused deck the cue marks where the deck stands and plays
        // from there while it is held.
        write(g, "cue_point", samples(p, p.position));
        start_playing(p);
        p.previewing_main_cue = true;
      }
    } else if (key == "cue_set") {
      if (p.row != 0) write(g, "cue_point", samples(p, p.position));
    } else if (key == "cue_gotoandplay") {
      if (p.row != 0) seek(p, seconds_of(p, read(g, "cue_point")));
      start_playing(p);
    } else if (key == "start") {
      seek(p, 0);
    } else if (key == "stop") {
      stop_playing(p);
      seek(p, 0);
    } else if (key == "start_play") {
      seek(p, 0);
      start_playing(p);
    } else if (key == "start_stop") {
      stop_playing(p);
      seek(p, 0);
    } else if (key == "beatjump_forward" || key == "beatjump_backward") {
      if (p.row != 0) {
        const double jump = read(g, "beatjump_size") * beat_seconds(p);
        seek(p, p.position + (key == "beatjump_forward" ? jump : -jump));
      }
    } else if (key == "rate_perm_up" || key == "rate_perm_down" ||
               key == "rate_perm_up_small" || key == "rate_perm_down_small") {
      // 1 % and 0.1 % of the tempo.
      const double percent = key.ends_with("small") ? 0.001 : 0.01;
      const double sign = key.starts_with("rate_perm_up") ? 1 : -1;
      write(g, "rate", read(g, "rate") + sign * percent / read(g, "rateRange"));
      refresh(p);
    } else if (key == "rate_set_zero") {
      write(g, "rate", 0);
      refresh(p);
    } else if (key == "pitch_up" || key == "pitch_down") {
      write(g, "pitch", read(g, "pitch") + (key == "pitch_up" ? 1 : -1));
      refresh(p);
    } else if (key == "reset_key") {
      write(g, "pitch", 0);
      refresh(p);
    } else if (key == "sync_key") {
      sync_key(p);
    } else if (key == "beatloop_activate") {
      if (p.row != 0) {
        const double start = p.position;
        const double end = start + read(g, "beatloop_size") * beat_seconds(p);
        write(g, "loop_start_position", samples(p, start));
        write(g, "loop_end_position", samples(p, std::min(end, p.duration)));
        write(g, "loop_enabled", 1);
      }
    } else if (key == "loop_double" || key == "loop_halve") {
      const double size = read(g, "beatloop_size");
      write(g, "beatloop_size",
            std::clamp(key == "loop_double" ? size * 2 : size / 2, 1.0 / 32,
                       512.0));
      resize_loop(p);
    } else if (key == "reloop_toggle") {
      if (read(g, "loop_enabled") != 0) {
        write(g, "loop_enabled", 0);
      } else if (read(g, "loop_start_position") >= 0 &&
                 read(g, "loop_end_position") >= 0) {
        write(g, "loop_enabled", 1);
        const double start = seconds_of(p, read(g, "loop_start_position"));
        const double end = seconds_of(p, read(g, "loop_end_position"));
        if (p.position < start || p.position > end) seek(p, start);
      }
    } else if (key == "loop_in") {
      if (p.row != 0) {
        write(g, "loop_enabled", 0);
        write(g, "loop_start_position", samples(p, p.position));
        if (read(g, "loop_end_position") <= read(g, "loop_start_position")) {
          write(g, "loop_end_position", -1);
        }
      }
    } else if (key == "loop_out") {
      const double start = read(g, "loop_start_position");
      const double here = samples(p, p.position);
      if (p.row != 0 && start >= 0 && here > start) {
        write(g, "loop_end_position", here);
        write(g, "loop_enabled", 1);
      }
    } else if (key == "beats_translate_move") {
      grid_change(p, p.file_bpm, p.grid_offset + value * kGridStep);
    } else if (key == "beats_translate_curpos") {
      grid_change(p, p.file_bpm, p.position);
    } else if (key == "beats_adjust_faster") {
      grid_change(p, p.file_bpm + 0.01, p.grid_offset);
    } else if (key == "beats_adjust_slower") {
      grid_change(p, std::max(p.file_bpm - 0.01, 1.0), p.grid_offset);
    } else if (key == "beats_set_halve") {
      grid_change(p, p.file_bpm / 2, p.grid_offset);
    } else if (key == "beats_set_double") {
      grid_change(p, p.file_bpm * 2, p.grid_offset);
    } else if (key == "beats_undo_adjustment") {
      if (read(g, "bpmlock") == 0 && !p.grid_undo.empty()) {
        std::tie(p.file_bpm, p.grid_offset) = p.grid_undo.back();
        p.grid_undo.pop_back();
        refresh(p);
      }
    } else if (key == "bpm_tap") {
      tap(p);
    } else {
      hotcue_or_marker(p, key);
    }
    return true;
  }

  void resize_loop(Player& p) {
    const std::string& g = p.group;
    const double start = read(g, "loop_start_position");
    if (read(g, "loop_enabled") == 0 || start < 0) return;
    const double end =
        seconds_of(p, start) + read(g, "beatloop_size") * beat_seconds(p);
    write(g, "loop_end_position", samples(p, std::min(end, p.duration)));
  }

  void sync_key(Player& p) {
    const auto other = other_deck(p);
    if (!other || p.file_key == 0) return;
    const int target = static_cast<int>(
        read("[Channel" + std::to_string(*other) + "]", "key"));
    if (target == 0) return;
    // Match the tonic of the target (or of its relative key across modes)
    // with the smallest pitch change.
    int tonic = (target - 1) % 12;
    const bool target_minor = target > 12;
    const bool own_minor = p.file_key > 12;
    if (target_minor && !own_minor) tonic = (tonic + 3) % 12;
    if (!target_minor && own_minor) tonic = (tonic + 9) % 12;
    int shift = (tonic - (p.file_key - 1) % 12 + 12) % 12;
    if (shift > 6) shift -= 12;
    write(p.group, "pitch", shift);
    refresh(p);
  }

  void tap(Player& p) {
    if (p.row == 0) return;
    if (!p.taps.empty() && now - p.taps.back() > 2.0) p.taps.clear();
    p.taps.push_back(now);
    if (p.taps.size() > 8) p.taps.erase(p.taps.begin());
    if (p.taps.size() < 2) return;
    const double average = (p.taps.back() - p.taps.front()) /
                           static_cast<double>(p.taps.size() - 1);
    if (average <= 0) return;
    grid_change(p, std::round(6000.0 / average) / 100.0, p.grid_offset);
  }

  void hotcue_or_marker(Player& p, const std::string& key) {
    for (int n = 1; n <= kHotcues; ++n) {
      const std::string prefix = "hotcue_" + std::to_string(n) + "_";
      if (!key.starts_with(prefix)) continue;
      const std::string action = key.substr(prefix.size());
      const std::string status = prefix + "status";
      if (action == "activate" && p.row != 0 && read(p.group, status) != 0 &&
          !playing(p)) {
        // On a paused deck an existing hot cue plays while it is held.
        seek(p, seconds_of(p, read(p.group, prefix + "position")));
        start_playing(p);
        p.previewing_cue = n;
      } else if (action == "activate") {
        marker_activate(p, prefix, status);
      } else if (action == "clear") {
        marker_clear(p, prefix, status);
      } else if (action == "set" && p.row != 0) {
        if (options.hotcue_settle_ms > 0 && read(p.group, status) == 0) {
          // The host's status flickers while the cue is being set: read
          // too soon, it is still off.
          unsettled[{p.group, status}] =
              std::chrono::steady_clock::now() +
              std::chrono::milliseconds(options.hotcue_settle_ms);
        }
        write(p.group, prefix + "position", samples(p, p.position));
        write(p.group, status, 1);
      } else if (action.starts_with("goto") && read(p.group, status) != 0) {
        seek(p, seconds_of(p, read(p.group, prefix + "position")));
        if (action == "gotoandplay") start_playing(p);
        if (action == "gotoandstop") stop_playing(p);
      }
      return;
    }
    for (const char* marker : kMarkers) {
      const std::string prefix = std::string(marker) + "_";
      if (!key.starts_with(prefix)) continue;
      const std::string action = key.substr(prefix.size());
      const std::string status = prefix + "enabled";
      if (action == "activate") {
        marker_activate(p, prefix, status);
      } else if (action == "clear") {
        marker_clear(p, prefix, status);
      } else if (action == "set" && p.row != 0) {
        if (options.hotcue_settle_ms > 0 && read(p.group, status) == 0) {
          // The host's status flickers while the cue is being set: read
          // too soon, it is still off.
          unsettled[{p.group, status}] =
              std::chrono::steady_clock::now() +
              std::chrono::milliseconds(options.hotcue_settle_ms);
        }
        write(p.group, prefix + "position", samples(p, p.position));
        write(p.group, status, 1);
      }
      return;
    }
  }

  // ---- the rest of the host ----

  bool autodj_set(const std::string& key, double value) {
    if (key != "enabled" || value == 0 || !autodj_queue.empty()) {
      write("[AutoDJ]", key, value);
    }
    if (key == "enabled") {
      if (value == 0) return true;
      if (autodj_queue.empty() && options.autodj_flicker_at_once) {
        // Refused, reported as it happens: on, and off again at once.
        write("[AutoDJ]", "enabled", 1);
        after(0.05, [this] { write("[AutoDJ]", "enabled", 0); });
        return true;
      }
      if (autodj_queue.empty()) {
        // Refused: the switch flips back at once, but the host's refusal
        // message holds up its change notifications, which arrive only
        // after that (both of them, in order).
        store_silently("[AutoDJ]", "enabled", 1);
        after(0.05, [this] { store_silently("[AutoDJ]", "enabled", 0); });
        after(0.3, [this] {
          notify("[AutoDJ]", "enabled", 1);
          notify("[AutoDJ]", "enabled", 0);
        });
        return true;
      }
      Player* one = player_of("[Channel1]");
      Player* two = player_of("[Channel2]");
      if (one && two && !playing(*one) && !playing(*two)) {
        if (one->row == 0) load_next("[Channel1]");
        start_playing(*one);
        if (two->row == 0) load_next("[Channel2]");
      }
      return true;
    }
    if (value == 0 || read("[AutoDJ]", "enabled") == 0) return true;
    if (key == "fade_now") {
      autodj_switch();
    } else if (key == "skip_next" && !autodj_queue.empty()) {
      autodj_queue.erase(autodj_queue.begin());
    }
    return true;
  }

  void load_next(const std::string& group) {
    if (autodj_queue.empty()) return;
    load_track(group, autodj_queue.front());
    autodj_queue.erase(autodj_queue.begin());
  }

  // Auto DJ moves from the playing one of decks 1 and 2 to the other.
  void autodj_switch() {
    Player* one = player_of("[Channel1]");
    Player* two = player_of("[Channel2]");
    if (!one || !two) return;
    Player& from = playing(*one) ? *one : *two;
    Player& to = &from == one ? *two : *one;
    if (to.row == 0) load_next(to.group);
    if (to.row != 0) start_playing(to);
    stop_playing(from);
    load_next(from.group);
  }

  bool library_set(const std::string& key, double value) {
    write("[Library]", key, value);
    const int rows = static_cast<int>(library().size());
    if (key == "MoveVertical" && value != 0) {
      selected_row =
          std::clamp(selected_row + static_cast<int>(value), 1, rows);
    } else if (value == 0) {
      return true;
    } else if (key == "MoveUp") {
      selected_row = std::max(selected_row - 1, 1);
    } else if (key == "MoveDown") {
      selected_row = std::min(selected_row + 1, rows);
    } else if (key == "AutoDjAddBottom") {
      autodj_queue.push_back(selected_row);
    } else if (key == "AutoDjAddTop") {
      autodj_queue.insert(autodj_queue.begin(), selected_row);
    }
    return true;
  }

  void recording_set(double value) {
    write("[Recording]", "toggle_recording", value);
    if (value == 0) return;
    const uint64_t generation = ++recording_generation;
    if (read("[Recording]", "status") != 0) {
      write("[Recording]", "status", 0);
      return;
    }
    // Starting takes a moment: 1 (initialising), then 2 (recording).
    if (!options.recording_starting) {
      write("[Recording]", "status", 2);
      return;
    }
    write("[Recording]", "status", 1);
    after(0.3, [this, generation] {
      if (recording_generation == generation) write("[Recording]", "status", 2);
    });
  }

  void broadcast_set(double value) {
    const bool was = read("[Shoutcast]", "enabled") != 0;
    write("[Shoutcast]", "enabled", value != 0 ? 1 : 0);
    if ((value != 0) == was) return;
    const uint64_t generation = ++broadcast_generation;
    if (value == 0) {
      write("[Shoutcast]", "status", 0);
      return;
    }
    // 1 while connecting, then 2 (connected). A failed broadcast (3) is
    // not modelled: the announcer's tests give that value directly.
    write("[Shoutcast]", "status", 1);
    after(0.4, [this, generation] {
      if (broadcast_generation != generation) return;
      write("[Shoutcast]", "status", 2);
    });
  }

  bool effect_slot_set(const std::string& group, const std::string& key,
                       double value) {
    if (key == "loaded_effect") {
      const auto index = static_cast<int64_t>(std::llround(value));
      if (index != 0 && !effect_available(index)) return false;
      load_effect(group, index);
      return true;
    }
    write(group, key, value);
    if (value == 0) return true;
    const int64_t current =
        static_cast<int64_t>(std::llround(read(group, "loaded_effect")));
    const int64_t count = static_cast<int64_t>(effect_catalogue().size());
    if (key == "clear") {
      load_effect(group, 0);
    } else if (key == "next_effect" || key == "prev_effect") {
      int64_t next = current;
      do {
        next = key == "next_effect" ? next % count + 1
                                    : (next <= 1 ? count : next - 1);
      } while (!effect_available(next));
      load_effect(group, next);
    }
    return true;
  }

  // A client set; false when the value is refused as invalid.
  bool apply(const std::string& group, const std::string& key, double value) {
    if (Player* p = player_of(group)) return player_set(*p, key, value);
    if (group == "[AutoDJ]") return autodj_set(key, value);
    if (group == "[Library]") return library_set(key, value);
    if (group == "[Recording]" && key == "toggle_recording") {
      recording_set(value);
      return true;
    }
    if (group == "[Shoutcast]" && key == "enabled") {
      broadcast_set(value);
      return true;
    }
    if (group == "[Microphone]" && key == "talkover" && value != 0 &&
        read(group, "input_configured") == 0) {
      return true;  // no input: talkover stays off
    }
    constexpr std::string_view unit_prefix = "[EffectRack1_EffectUnit";
    if (group.starts_with(unit_prefix) &&
        group.find("_Effect", unit_prefix.size()) != std::string::npos) {
      return effect_slot_set(group, key, value);
    }
    write(group, key, value);
    return true;
  }

  // ---- clock ----

  bool clips(const Player& p, int deck) {
    if (p.row == 0 || read(p.group, "play") == 0 ||
        read(p.group, "volume") == 0) {
      return false;
    }
    const auto& forced = options.clip_decks;
    return std::find(forced.begin(), forced.end(), deck) != forced.end() ||
           read(p.group, "pregain") > 2.5;
  }

  void tick(double seconds) {
    now += seconds;
    // Timers may add timers; run the due ones in order of their time.
    std::stable_sort(
        timers.begin(), timers.end(),
        [](const Timer& a, const Timer& b) { return a.at < b.at; });
    while (!timers.empty() && timers.front().at <= now) {
      auto run = std::move(timers.front().run);
      timers.erase(timers.begin());
      run();
    }
    const double scaled = seconds * options.clock_speed;
    bool main_clips = false;
    for (auto& [group, p] : players) {
      if (p.row == 0 || !playing(p)) continue;
      p.position += scaled * tempo_ratio(p);
      if (read(group, "loop_enabled") != 0) {
        const double start = seconds_of(p, read(group, "loop_start_position"));
        const double end = seconds_of(p, read(group, "loop_end_position"));
        if (end > start && p.position >= end) {
          p.position = start + std::fmod(p.position - end, end - start);
        }
      }
      if (p.position >= p.duration) {
        p.position = p.duration;
        write(group, "play", 0);
        refresh(p);
        if (read("[AutoDJ]", "enabled") != 0 &&
            (group == "[Channel1]" || group == "[Channel2]")) {
          autodj_switch();
        }
        continue;
      }
      refresh(p);
      const int deck = group_number(group, "[Channel");
      if (deck > 0 && clips(p, deck)) {
        main_clips = true;
        // Peaks light for 0.4 s of every 1.5 s while the deck is too loud.
        p.clip_clock += seconds;
        write(group, "peak_indicator",
              std::fmod(p.clip_clock, 1.5) < 0.4 ? 1 : 0);
      } else {
        write(group, "peak_indicator", 0);
      }
    }
    if (main_clips) {
      main_clip_clock += seconds;
      write("[Master]", "peak_indicator",
            std::fmod(main_clip_clock, 1.5) < 0.4 ? 1 : 0);
    } else {
      main_clip_clock = 0;
      write("[Master]", "peak_indicator", 0);
    }
    for (auto& [group, p] : players) {
      if (p.row == 0 || !playing(p)) {
        p.clip_clock = 0;
        write(group, "peak_indicator", 0);
      }
    }
  }

  // ---- read-outs ----

  double to_parameter(const Control& c) const {
    switch (c.scale) {
      case Scale::identity:
        return c.value;
      case Scale::linear:
        return (c.value - c.min) / (c.max - c.min);
      case Scale::knob:
        return c.value <= 1 ? c.value / 2
                            : 0.5 + (c.value - 1) / (c.max - 1) / 2;
    }
    return c.value;
  }

  double from_parameter(const Control& c, double parameter) const {
    switch (c.scale) {
      case Scale::identity:
        return parameter;
      case Scale::linear:
        return c.min + std::clamp(parameter, 0.0, 1.0) * (c.max - c.min);
      case Scale::knob: {
        const double p = std::clamp(parameter, 0.0, 1.0);
        return p <= 0.5 ? p * 2 : 1 + (p - 0.5) * 2 * (c.max - 1);
      }
    }
    return parameter;
  }
};

orvalin::Status check_model_options(const ModelOptions& options) {
  const int rows = static_cast<int>(library().size());
  const auto row_text = [rows](int row) {
    return "row " + std::to_string(row) + " is not in the library (1.." +
           std::to_string(rows) + ")";
  };
  if (options.select < 1 || options.select > rows) {
    return fail("--select: " + row_text(options.select));
  }
  for (const auto& load : options.loads) {
    if (load.row < 1 || load.row > rows)
      return fail("--load: " + row_text(load.row));
    const int deck = group_number(load.player, "[Channel");
    const int sampler = group_number(load.player, "[Sampler");
    const bool known = (deck >= 1 && deck <= options.decks) ||
                       (sampler >= 1 && sampler <= options.samplers) ||
                       load.player == "[PreviewDeck1]";
    if (!known) return fail("--load: no player " + load.player);
  }
  for (const auto& effect : options.effects) {
    const auto& effects = effect_catalogue();
    const bool found =
        std::any_of(effects.begin(), effects.end(),
                    [&](const Effect& e) { return e.id == effect.effect_id; });
    if (!found) return fail("--effect: unknown effect " + effect.effect_id);
    if (effect.slot > (effect.unit == 4 ? 4 : 3)) {
      return fail("--effect: effect unit " + std::to_string(effect.unit) +
                  " has no slot " + std::to_string(effect.slot));
    }
  }
  for (const int deck : options.clip_decks) {
    if (deck > options.decks && !options.grow_decks_after_ms) {
      return fail("--clip-deck: no deck " + std::to_string(deck));
    }
  }
  return {};
}

Model::Model(const ModelOptions& options)
    : state_(std::make_unique<State>(options)) {
  std::lock_guard lock(state_->mutex);
  state_->build();
}

Model::~Model() = default;

void Model::set_listener(std::function<void(const Change&)> listener) {
  std::lock_guard lock(state_->mutex);
  state_->listener = std::move(listener);
}

std::string Model::canonical_group(std::string_view group) {
  if (group == "[Main]") return "[Master]";
  return std::string(group);
}

namespace {

std::string unknown_control() { return "unknown control"; }

}  // namespace

Result<double> Model::get(std::string_view group, std::string_view key,
                          Prop prop) {
  std::lock_guard lock(state_->mutex);
  const Control* control = state_->find(canonical_group(group), key);
  if (!control) return fail(unknown_control());
  const auto flicker =
      state_->unsettled.find({canonical_group(group), std::string(key)});
  if (flicker != state_->unsettled.end() &&
      std::chrono::steady_clock::now() < flicker->second) {
    return 0.0;
  }
  return prop == Prop::value ? control->value : state_->to_parameter(*control);
}

Result<double> Model::set(std::string_view group, std::string_view key,
                          Prop prop, double value) {
  std::lock_guard lock(state_->mutex);
  const std::string g = canonical_group(group);
  const Control* control = state_->find(g, key);
  if (!control) return fail(unknown_control());
  if (!std::isfinite(value)) return fail("value is not a number");
  // The reply carries the property that was set, as the host reports it:
  // a parameter set answers with the parameter in force.
  const auto in_force = [&](const Control& c) {
    return prop == Prop::parameter ? state_->to_parameter(c) : c.value;
  };
  if (control->read_only) return in_force(*control);
  if (prop == Prop::parameter) value = state_->from_parameter(*control, value);
  if (!state_->apply(g, std::string(key), value)) {
    return fail("invalid value for this control");
  }
  return in_force(*state_->find(g, key));
}

bool Model::exists(std::string_view group, std::string_view key) {
  std::lock_guard lock(state_->mutex);
  return state_->find(canonical_group(group), key) != nullptr;
}

Result<std::vector<DeckLabel>> Model::deck_info(int64_t deck) {
  std::lock_guard lock(state_->mutex);
  if (deck < 1 || deck > state_->decks) {
    return fail("no deck " + std::to_string(deck));
  }
  Player* p = state_->player_of("[Channel" + std::to_string(deck) + "]");
  std::vector<DeckLabel> labels;
  if (p->row == 0 || state_->now < p->labels_at) {
    labels = {{"title", ""},
              {"artist", ""},
              {"time", "0:00"},
              {"time_remaining", "0:00"},
              {"bpm", "0.0"}};
    return labels;
  }
  const Track& track = library()[p->row - 1];
  char bpm[32];
  std::snprintf(bpm, sizeof bpm, "%.1f", state_->read(p->group, "visual_bpm"));
  labels = {{"title", shorten(track.title, 24)},
            {"artist", shorten(track.artist, 24)},
            {"time", format_clock(p->position)},
            {"time_remaining", format_clock(p->duration - p->position)},
            {"bpm", bpm}};
  return labels;
}

Result<std::string> Model::effect_name(int64_t index) {
  std::lock_guard lock(state_->mutex);
  if (!state_->effect_available(index)) {
    return fail("no effect with index " + std::to_string(index));
  }
  return effect_catalogue()[static_cast<size_t>(index - 1)].name;
}

int64_t Model::effect_index(std::string_view id) {
  std::lock_guard lock(state_->mutex);
  return state_->effect_index(id);
}

uint64_t Model::dump_widgets() {
  std::lock_guard lock(state_->mutex);
  // The main window, the library and mixer, and each deck's widgets.
  return 214 + 61 * static_cast<uint64_t>(state_->decks) +
         12 * static_cast<uint64_t>(state_->options.samplers);
}

Result<SelectedTrack> Model::selected_track() {
  std::lock_guard lock(state_->mutex);
  const Track& track = library()[state_->selected_row - 1];
  SelectedTrack selected;
  char bpm[32];
  std::snprintf(bpm, sizeof bpm, "%g", track.bpm);
  selected.fields = {
      {"title", track.title},  {"artist", track.artist},
      {"album", track.album},  {"bpm", bpm},
      {"key", track.key_text}, {"duration", format_clock(track.duration)}};
  selected.row = static_cast<uint64_t>(state_->selected_row);
  selected.rows = library().size();
  return selected;
}

void Model::tick(double seconds) {
  std::lock_guard lock(state_->mutex);
  state_->tick(seconds);
}

void Model::start_clock() {
  orvalin::spawn_detached(
      "clock",
      [this] {
        using clock = std::chrono::steady_clock;
        auto last = clock::now();
        for (;;) {
          std::this_thread::sleep_for(std::chrono::duration<double>(kTick));
          const auto now = clock::now();
          tick(std::chrono::duration<double>(now - last).count());
          last = now;
        }
      },
      "failed to spawn thread");
}

}  // namespace kelvosim
