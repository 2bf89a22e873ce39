// The simulator's command-line options (see kelvosim --help).
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "base/result.h"

namespace kelvosim {

// An initial control value given with --set.
struct InitialValue {
  std::string group;
  std::string key;
  double value = 0;
};

// A library row loaded into a player at start (--load): `player` is a group
// such as "[Channel2]" or "[Sampler1]".
struct InitialLoad {
  std::string player;
  int row = 0;
};

// A preloaded effect slot (--effect UNIT,SLOT=EFFECT_ID).
struct InitialEffect {
  int unit = 0;
  int slot = 0;
  std::string effect_id;
};

// What the control model starts with and how its clock runs.
struct ModelOptions {
  int decks = 4;
  int samplers = 4;
  int select = 1;  // selected library row, 1-based
  double clock_speed = 1.0;
  int autodj_queue = 0;
  bool mic_input = true;
  bool metronome = true;
  bool autodj_flicker_at_once = false;
  bool recording_starting = true;  // status 1 before 2 when recording starts
  int labels_after_ms = 0;
  int hotcue_settle_ms = 0;
  std::optional<int> grow_decks_after_ms;
  std::vector<int> clip_decks;
  std::vector<InitialValue> values;
  std::vector<InitialLoad> loads;
  std::vector<InitialEffect> effects;
};

// Misbehaviour on request, for testing the client's defences.
struct FaultOptions {
  // Every reply waits reply_delay_ms, one request after another; with
  // reply_delay_max_ms, each reply waits its own random time in
  // reply_delay_ms..reply_delay_max_ms while the next requests are read,
  // so replies may overtake each other.
  int reply_delay_ms = 0;
  std::optional<int> reply_delay_max_ms;
  std::set<std::string> drop_reply;  // commands left unanswered
  std::set<std::string> no_value;    // keys whose get replies lack "value"
  std::set<std::string> ignore_set;  // keys whose sets change nothing
  // Sets of these keys take effect at once but are answered this many ms
  // late, while later requests are answered meanwhile.
  std::map<std::string, int> late_set;
  // The release (a set to 0) of these keys holds every later request this
  // many ms, as the stall fault does.
  std::map<std::string, int> stall_after;
  // A get of a control's parameter answers its value instead.
  bool wrong_scale = false;
  // Groups whose changes send no event.
  std::set<std::string> no_events;
  // Events of a watch named by the first group go out named by the second.
  std::map<std::string, std::string> events_as;
  // Positions answer the samples of one channel instead of both.
  bool one_channel_positions = false;
  // Watches fail ("not ready") for this many ms after the hello.
  int watch_fails_ms = 0;
  bool junk = false;
  std::optional<int> close_after;
  bool refuse_hello = false;
};

struct Options {
  std::optional<int> port;  // nullopt: ORVALIN_PORT, else 52764
  std::string port_file;
  std::optional<std::string> token;  // nullopt: ORVALIN_TOKEN
  bool force_plugin = false;
  std::string trace;
  std::optional<double> exit_after_seconds;
  bool no_signal = false;
  bool listen_when_free = false;
  bool help = false;
  ModelOptions model;
  FaultOptions faults;
};

orvalin::Result<Options> parse_options(const std::vector<std::string>& args);

// The --help text.
const char* usage_text();

}  // namespace kelvosim
