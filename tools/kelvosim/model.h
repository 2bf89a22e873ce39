// The simulated host's state: Kelvo's named controls with their behaviour
// (players, loops, hot cues, beat grid, mixer, effects, library, Auto DJ,
// recording, broadcast, microphone) and a clock that moves playing decks.
//
// Thread-safe: one mutex guards the whole model. The change listener is
// called with that mutex held, in the order the changes happen, and must not
// call back into the model.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/result.h"
#include "options.h"

namespace kelvosim {

enum class Prop { value, parameter };

// One control changed its value.
struct Change {
  std::string group;
  std::string key;
  double value = 0;
};

// A row of the library.
struct Track {
  std::string title;
  std::string artist;
  std::string album;
  double bpm = 0;
  int key = 0;           // Kelvo's key number, 1..24
  std::string key_text;  // as the library shows it ("Am")
  double duration = 0;   // seconds
  double samplerate = 44100;
};

struct DeckLabel {
  std::string label;
  std::string text;
};

struct SelectedTrack {
  std::map<std::string, std::string> fields;
  uint64_t row = 0;
  uint64_t rows = 0;
};

// The twelve tracks of the simulated library (row n is element n - 1).
const std::vector<Track>& library();

// "m:ss" for whole seconds, as the skin and the library show times.
std::string format_clock(double seconds);

// Checks the start-up state options against the library, the players and
// the effect catalogue; the first problem as text.
orvalin::Status check_model_options(const ModelOptions& options);

class Model {
 public:
  explicit Model(const ModelOptions& options);
  ~Model();
  Model(const Model&) = delete;
  Model& operator=(const Model&) = delete;

  // Called for every change of a control's value (see the class comment).
  void set_listener(std::function<void(const Change&)> listener);

  // The storage name of a group: "[Main]" and "[Master]" are one group.
  static std::string canonical_group(std::string_view group);

  orvalin::Result<double> get(std::string_view group, std::string_view key,
                              Prop prop);
  // Sets the control as a script or the user would and returns its value
  // afterwards (a refused change leaves it as it was).
  orvalin::Result<double> set(std::string_view group, std::string_view key,
                              Prop prop, double value);
  bool exists(std::string_view group, std::string_view key);

  orvalin::Result<std::vector<DeckLabel>> deck_info(int64_t deck);
  orvalin::Result<std::string> effect_name(int64_t index);
  // 0 when no effect has that id.
  int64_t effect_index(std::string_view id);
  uint64_t dump_widgets();
  orvalin::Result<SelectedTrack> selected_track();

  // Advances real time by `seconds`: due timers run and playing players move
  // by `seconds` times the clock speed.
  void tick(double seconds);

  // Starts the "clock" thread, which calls tick() every 20 ms of real time
  // for the rest of the process.
  void start_clock();

  struct State;

 private:
  std::unique_ptr<State> state_;
};

}  // namespace kelvosim
