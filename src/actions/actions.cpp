// The action worker: one binding at a time, against Kelvo's controls, with
// the outcome spoken. Presses are handled strictly in order on this one
// thread, so a slow action delays the next key rather than overlapping it.

#include "actions/actions.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <deque>
#include <exception>
#include <string>
#include <string_view>
#include <thread>
#include <utility>

#include "actions/late.h"
#include "actions/reports.h"
#include "applog/applog.h"
#include "base/sentences.h"
#include "base/thread.h"
#include "beatgrid/beatgrid.h"
#include "config/keylist.h"
#include "config/keys.h"
#include "controls/formats.h"
#include "controls/names.h"
#include "controls/pulse.h"

namespace orvalin {

namespace {

ControlTarget resolve(const ControlTarget& target, uint8_t deck) {
  return {resolve_deck(target.group, deck), resolve_deck(target.control, deck)};
}

// A key's press of a button: held as long as the run's pulses are.
Status press_button(const AppState& state, const std::string& group,
                    const std::string& control) {
  return pulse(*state.bridge, group, control, 1.0, state.timing.pulse_hold);
}

// A key's sentence of one value: `label`, then the value as `format` says
// it; said however late the value comes.
std::shared_ptr<LateSentence<double>> labelled(const AppState& state,
                                               std::string label,
                                               ValueFormat format) {
  return LateSentence<double>::make(
      state.speech, [label = label_text(label), format](const double& value) {
        return fill(kControlValue, {label, format_value(format, value)});
      });
}

// Reads a control the way its format wants and speaks label + phrase.
Status speak_control(AppState& state, const std::string& group,
                     const std::string& control, const std::string& label,
                     ValueFormat format) {
  const bool parameter = format_reads_parameter(format);
  // A parameter on a wrong scale reads as a wrong number ("left 80%" for a
  // centred crossfader): saying it would be as misleading as stepping it.
  if (parameter && state.scale_wrong.load() != 0) {
    state.speech.say(std::string(kWrongScale));
    return {};
  }
  const char* prop = parameter ? "parameter" : "value";
  auto said = labelled(state, label, format);
  return said->say(state.bridge->get(group, control, prop, said->late<0>()));
}

// Why a control cannot be switched on, when that is known in advance.
std::optional<std::string> switch_on_hint(AppState& state,
                                          const ControlTarget& target) {
  if (!target.group.starts_with("[Microphone") ||
      target.control != "talkover") {
    return std::nullopt;
  }
  auto configured = state.bridge->get(target.group, "input_configured");
  if (configured && *configured == 0) {
    return std::string(kNoMicrophone);
  }
  return std::nullopt;
}

Status run_select_deck(AppState& state, const act::SelectDeck& action) {
  // A deck Kelvo does not have stays unchosen: every deck key would fail on
  // it with an unknown control.
  const uint8_t decks = state.deck_count.load();
  if (decks != 0 && action.deck > decks) {
    state.speech.say(fill(kOnlyDecks.of(decks), {std::to_string(decks)}));
    return {};
  }
  state.current_deck.store(action.deck);
  return say_deck_track(
      state, action.deck,
      [deck = action.deck](bool loaded, const std::string& description) {
        return fill(
            kDeckSelected,
            {std::to_string(deck), loaded ? description : std::string(kEmpty)});
      });
}

Status run_toggle(AppState& state, const act::Toggle& action, uint8_t deck) {
  ControlTarget target = resolve(action.target, deck);
  std::string label = action.label ? label_text(*action.label)
                                   : control_description(target.control);
  Bridge& bridge = *state.bridge;

  auto old_value = bridge.get(target.group, target.control);
  if (!old_value) return fail(old_value.error());
  bool switching_on = *old_value == 0;
  if (switching_on) {
    if (std::optional<std::string> hint = switch_on_hint(state, target)) {
      state.speech.say(fill(kNotSwitchedOn, {label, *hint}));
      return {};
    }
  }
  // The announcer speaks a watched control's change, however late.
  const bool announced = is_watched_control(target.group, target.control) &&
                         state.announce.load() != 0;
  auto said = labelled(state, label, ValueFormat::onoff);
  if (auto sent = bridge.set(
          target.group, target.control, "value", switching_on ? 1.0 : 0.0,
          announced ? LateValue{} : LateValue{said->late<0>()});
      !sent) {
    return said->say(std::move(sent));
  }
  std::this_thread::sleep_for(state.timing.toggle_delay);
  auto new_value = bridge.get(target.group, target.control);
  if (!new_value) return fail(new_value.error());

  bool took_effect = switching_on ? *new_value != 0 : *new_value == 0;
  if (took_effect) {
    if (is_watched_control(target.group, target.control) &&
        state.announce.load() != 0) {
      return {};  // the announcer speaks the change
    }
    state.speech.say(fill(kControlValue, {label, on_off(*new_value)}));
    return {};
  }

  {
    std::lock_guard lock(state.pending_mutex);
    state.pending_toggle =
        PendingToggle{target.group, target.control,
                      Clock::now() + state.timing.pending_toggle_quiet};
  }
  const bool auto_dj =
      target.group == "[AutoDJ]" && target.control == "enabled";
  state.speech.say(fill(!switching_on ? kCouldNotSwitchOff
                        : auto_dj     ? kAutoDjNotSwitchedOn
                                      : kCouldNotSwitchOn,
                        {label}));
  return {};
}

Status run_press(AppState& state, const act::Press& action, uint8_t deck) {
  ControlTarget target = resolve(action.target, deck);
  Bridge& bridge = *state.bridge;

  constexpr std::string_view kSampler = "[Sampler";
  if (target.group.size() > kSampler.size() &&
      target.group.starts_with(kSampler) && target.group.ends_with("]")) {
    auto loaded = bridge.get(target.group, "track_loaded");
    if (!loaded) return fail(loaded.error());
    if (*loaded == 0) {
      std::string number = target.group.substr(
          kSampler.size(), target.group.size() - kSampler.size() - 1);
      state.speech.say(fill(kSamplerEmpty, {number}));
      return {};
    }
  }

  std::optional<unsigned> hotcue =
      numbered_name(target.control, "hotcue_", "_activate");
  bool hotcue_existed = false;
  if (hotcue) {
    auto status = bridge.get(target.group,
                             "hotcue_" + std::to_string(*hotcue) + "_status");
    if (!status) return fail(status.error());
    hotcue_existed = *status != 0;
    std::lock_guard lock(state.hotcue_mutex);
    state.hotcue_quiet_until = Clock::now() + state.timing.hotcue_quiet;
  }

  const Status pressed = press_button(state, target.group, target.control);
  if (hotcue) {
    // The release's own change came in before its answer; on a slow Kelvo
    // that may be well after the window opened.
    std::lock_guard lock(state.hotcue_mutex);
    state.hotcue_quiet_until = Clock::now() + state.timing.hotcue_quiet;
  }
  if (!pressed) return pressed;

  // Kelvo ignores the grid buttons of a locked grid; their report or
  // confirmation ("beat set here") would tell of a change that never came.
  const std::optional<unsigned> grid_deck =
      target.control.starts_with("beats_")
          ? numbered_name(target.group, "[Channel", "]")
          : std::nullopt;
  if (grid_deck && *grid_deck <= 255) {
    auto ignored = grid_change_ignored(state, static_cast<uint8_t>(*grid_deck));
    if (!ignored) return fail(ignored.error());
    if (*ignored) return {};
  }

  if (hotcue_existed) {
    std::this_thread::sleep_for(state.timing.report_delay);
    auto elapsed = bridge.get(target.group, "time_elapsed");
    if (!elapsed) return fail(elapsed.error());
    state.speech.say(
        fill(kHotcueAt, {std::to_string(*hotcue), format_time(*elapsed)}));
  }

  if (action.report) {
    std::this_thread::sleep_for(state.timing.report_delay);
    return speak_control(state, target.group,
                         resolve_deck(action.report->target.control, deck),
                         action.report->label, action.report->format);
  }
  if (action.confirm) state.speech.say(label_text(*action.confirm));
  return {};
}

Status run_set(AppState& state, const act::Set& action, uint8_t deck) {
  ControlTarget target = resolve(action.target, deck);
  auto sent =
      state.bridge->set(target.group, target.control, "value", action.value);
  if (!sent) return fail(sent.error());
  return {};
}

Status run_adjust(AppState& state, const act::Adjust& action, uint8_t deck) {
  // A step from a parameter read on the control's own scale would throw
  // the control to an end (the crossfader's centre reads as full left).
  if (state.scale_wrong.load() != 0) {
    state.speech.say(kWrongScale);
    return {};
  }
  ControlTarget target = resolve(action.target, deck);
  auto current = state.bridge->get(target.group, target.control, "parameter");
  if (!current) return fail(current.error());
  // A NaN reading ends up at 0 rather than being sent on.
  double wanted = std::min(1.0, std::max(0.0, *current + action.step));
  auto said = labelled(state, action.label, action.format);
  return said->say(state.bridge->set(target.group, target.control, "parameter",
                                     wanted, said->late<0>()));
}

Status run_preview(AppState& state) {
  constexpr const char* kGroup = "[PreviewDeck1]";
  Bridge& bridge = *state.bridge;
  auto playing = bridge.get(kGroup, "play");
  if (!playing) return fail(playing.error());
  if (*playing != 0) {
    if (auto stopped = bridge.set(kGroup, "play", "value", 0.0); !stopped) {
      return fail(stopped.error());
    }
    state.speech.say(kPreviewStopped);
    return {};
  }
  auto track = bridge.selected_track();
  if (!track) return fail(track.error());
  if (auto started = press_button(state, kGroup, "LoadSelectedTrackAndPlay");
      !started) {
    return started;
  }
  auto title = track->fields.find("title");
  state.speech.say(
      fill(kPreview, {title == track->fields.end() ? "" : title->second}));
  return {};
}

Status run_marker(AppState& state, const act::Marker& action, uint8_t deck) {
  std::string group = deck_group(deck);
  Bridge& bridge = *state.bridge;
  auto loaded = bridge.get(group, "track_loaded");
  if (!loaded) return fail(loaded.error());
  if (*loaded == 0) return fail(std::string(kNoTrackLoaded));
  auto rate = bridge.get(group, "track_samplerate");
  if (!rate) return fail(rate.error());
  auto before = bridge.get(group, action.report);
  if (!before) return fail(before.error());
  if (auto pressed = press_button(state, group, action.control); !pressed) {
    return pressed;
  }
  std::this_thread::sleep_for(state.timing.marker_delay);

  // Kelvo reports -1 for a marker that does not exist; positions count the
  // samples of both stereo channels.
  const bool was_set = *rate > 0 && *before != -1;
  const bool activation =
      action.control.size() >= 9 &&
      std::string_view(action.control).ends_with("_activate");
  auto said = LateSentence<double>::make(
      state.speech, [label = label_text(action.label), rate = *rate, was_set,
                     activation](const double& after) {
        if (!(rate > 0) || after == -1) return fill(kMarkerNotSet, {label});
        const std::string time = format_time(std::max(0.0, after / rate * 0.5));
        if (!activation) return fill(kMarkerAt, {label, time});
        if (was_set) return fill(kMarkerJumped, {label, time});
        return fill(kMarkerSet, {label, time});
      });
  return said->say(bridge.get(group, action.report, "value", said->late<0>()));
}

Status run_stop_samplers(AppState& state) {
  Bridge& bridge = *state.bridge;
  auto count = bridge.get("[App]", "num_samplers");
  if (!count) return fail(count.error());
  auto samplers = static_cast<uint64_t>(round_clamped(*count, 0, 4294967295.0));
  for (uint64_t i = 1; i <= samplers; ++i) {
    std::string group = "[Sampler" + std::to_string(i) + "]";
    auto playing = bridge.get(group, "play");
    if (!playing || *playing == 0) continue;
    if (auto stopped = press_button(state, group, "stop"); !stopped) {
      return stopped;
    }
  }
  state.speech.say(kSamplersStopped);
  return {};
}

Status run_dump_widgets(AppState& state) {
  auto count = state.bridge->dump_widgets();
  if (!count) return fail(count.error());
  state.speech.say(fill(kWidgetsWritten.of(*count), {std::to_string(*count)}));
  return {};
}

// "ctrl+alt+p" is spoken "ctrl alt p".
std::string spoken_key(std::string_view key) {
  return key_heard_name(key, ' ');
}

}  // namespace

Result<bool> parameters_on_wrong_scale(Bridge& bridge) {
  // The crossfader's value runs from -1 to 1 and its parameter from 0 to 1;
  // only at the right end do the two read the same.
  const std::string group = "[Master]";
  const std::string key = "crossfader";
  auto value_sent = bridge.send_get(group, key, "value");
  auto parameter_sent = bridge.send_get(group, key, "parameter");
  const Result<double> value = value_sent.wait();
  const Result<double> parameter = parameter_sent.wait();
  if (!value) return fail(value.error());
  if (!parameter) return fail(parameter.error());
  constexpr double kTolerance = 0.01;
  return std::abs(*parameter - (*value + 1) / 2) > kTolerance;
}

std::string resolve_deck(std::string_view text, uint8_t deck) {
  constexpr std::string_view kPlaceholder = "{deck}";
  std::string number = std::to_string(deck);
  std::string result;
  size_t pos = 0;
  while (true) {
    size_t found = text.find(kPlaceholder, pos);
    if (found == std::string_view::npos) break;
    result.append(text, pos, found - pos);
    result += number;
    pos = found + kPlaceholder.size();
  }
  result.append(text, pos);
  return result;
}

namespace {

// What every runner gets: the state and the deck current at the press.
struct Run {
  const std::shared_ptr<AppState>& state;
  AppState& s;
  uint8_t deck;
};

// One runner per action kind; run_action picks it by overload, so a kind
// without one here fails to compile.
Status run_kind(const Run& r, const act::SelectDeck& a) {
  return run_select_deck(r.s, a);
}
Status run_kind(const Run& r, const act::Toggle& a) {
  return run_toggle(r.s, a, r.deck);
}
Status run_kind(const Run& r, const act::Press& a) {
  return run_press(r.s, a, r.deck);
}
Status run_kind(const Run& r, const act::Set& a) {
  return run_set(r.s, a, r.deck);
}
Status run_kind(const Run& r, const act::Adjust& a) {
  return run_adjust(r.s, a, r.deck);
}
Status run_kind(const Run& r, const act::Say& a) {
  return say_report(r.s, a.what, r.deck);
}
Status run_kind(const Run& r, const act::SayControl& a) {
  ControlTarget target = resolve(a.target, r.deck);
  return speak_control(r.s, target.group, target.control, a.label, a.format);
}
Status run_kind(const Run& r, const act::StopSpeech&) {
  r.s.speech.stop();
  return {};
}
Status run_kind(const Run& r, const act::ToggleAnnounce&) {
  bool was_on = r.s.announce.fetch_xor(1) != 0;
  r.s.speech.say(was_on ? kAnnouncementsOff : kAnnouncementsOn);
  return {};
}
Status run_kind(const Run& r, const act::DumpWidgets&) {
  return run_dump_widgets(r.s);
}
Status run_kind(const Run& r, const act::KeyHelp&) {
  bool was_on = r.s.key_help.fetch_xor(1) != 0;
  r.s.speech.say(was_on ? kKeyHelpOff : kKeyHelpOn);
  if (r.s.key_help_changed) r.s.key_help_changed(!was_on);
  return {};
}
Status run_kind(const Run& r, const act::BeatgridClicks&) {
  return toggle_grid_clicks(r.state, r.deck);
}
Status run_kind(const Run& r, const act::BeatgridMove& a) {
  return move_grid(r.state, r.deck, a.step);
}
Status run_kind(const Run& r, const act::BeatgridTap&) {
  return tap_tempo(r.state, r.deck);
}
Status run_kind(const Run& r, const act::Preview&) { return run_preview(r.s); }
Status run_kind(const Run& r, const act::Marker& a) {
  return run_marker(r.s, a, r.deck);
}
Status run_kind(const Run& r, const act::StopSamplers&) {
  return run_stop_samplers(r.s);
}

}  // namespace

Status run_action(const std::shared_ptr<AppState>& state,
                  const Action& action) {
  const Run run{state, *state, state->current_deck.load()};
  return std::visit([&](const auto& kind) { return run_kind(run, kind); },
                    action);
}

std::string skipped_presses_sentence(size_t count) {
  return fill(kBusy.of(count), {std::to_string(count)});
}

namespace {

// Whether the press reaches Kelvo. Key help only describes keys, its own
// key only flips the mode, and stop speech and the announcements switch
// stay within Orvalin: none of them can be late or wait for a busy Kelvo.
bool talks_to_kelvo(const AppState& state, const KeyPress& press,
                    const KeyAction& binding) {
  if (press.left_to_typing || state.key_help.load() != 0) return false;
  return !std::holds_alternative<act::KeyHelp>(binding.action) &&
         !std::holds_alternative<act::StopSpeech>(binding.action) &&
         !std::holds_alternative<act::ToggleAnnounce>(binding.action);
}

// Asks Kelvo something harmless until an ask is answered in time, or until
// the connection ends. The deck count: reading it changes nothing, however
// late the answer comes.
void ask_until_answered(Bridge& bridge) {
  while (bridge.busy() && !bridge.ended()) {
    (void)bridge.get("[App]", "num_decks");
  }
}

// How often the worker looks whether Kelvo has answered while it handles
// the presses that stay within Orvalin.
constexpr auto kAskPoll = std::chrono::milliseconds(20);

// After the connection has ended, a key that needs Kelvo is told so at
// once, and so is one whose request the end cut off: its own error would
// only name a control. Said while Kelvo closes, it would be the last thing
// the DJ hears: it is spoken only when Kelvo still runs a moment after the
// end. False while the connection is up.
bool told_not_connected(const AppState& state, const std::string& error) {
  if (!state.bridge) return false;
  const auto ended = state.bridge->ended();
  if (!ended) return false;
  if (!error.empty()) log(fill(kActionFailed.english, {error}));
  std::this_thread::sleep_until(*ended + state.timing.kelvo_exit_grace);
  if (state.kelvo_still_running()) {
    state.speech.say(kNotConnected);
  }
  return true;
}

void report_error(const AppState& state, const std::string& error) {
  if (told_not_connected(state, error)) return;
  state.speech.say(fill(kActionFailed, {error}));
}

void handle_press(const std::shared_ptr<AppState>& state,
                  const KeyAction& binding, bool left_to_typing) {
  if (left_to_typing) {
    // Key help went off after the press: the key belongs to typing.
    if (state->key_help.load() != 0) {
      state->speech.say(fill(kKeyLeftToTyping, {spoken_key(binding.key)}));
    }
    return;
  }
  if (state->key_help.load() != 0 &&
      !std::holds_alternative<act::KeyHelp>(binding.action)) {
    state->speech.say(fill(
        kKeyDoes, {spoken_key(binding.key), describe_action(binding.action)}));
    return;
  }
  if (Status done = run_action(state, binding.action); !done) {
    report_error(*state, done.error());
  }
}

}  // namespace

void run_action_worker(std::shared_ptr<AppState> state,
                       std::vector<KeyAction> actions, Receiver<KeyPress> queue,
                       std::function<Clock::time_point()> now) {
  // Presses taken off the queue but not yet handled, in arrival order.
  std::deque<KeyPress> backlog;
  // A press means the binding of the tables it was made with.
  auto binding_of = [&](const KeyPress& press) -> const KeyAction* {
    const std::vector<KeyAction>& table =
        press.bindings ? press.bindings->actions : actions;
    return press.index < table.size() ? &table[press.index] : nullptr;
  };
  auto reaches_kelvo = [&](const KeyPress& press) {
    const KeyAction* binding = binding_of(press);
    return binding != nullptr && talks_to_kelvo(*state, press, *binding);
  };
  // Skips the press being handled and every waiting one that reaches Kelvo
  // and that `skipped` picks, and says how many went.
  auto skip = [&](const std::function<bool(const KeyPress&)>& skipped) {
    while (std::optional<KeyPress> queued = queue.try_recv()) {
      backlog.push_back(*queued);
    }
    const size_t before = backlog.size();
    std::erase_if(backlog, [&](const KeyPress& other) {
      return reaches_kelvo(other) && skipped(other);
    });
    const size_t count = 1 + before - backlog.size();
    // The log stays English; the sentence is logged again as spoken.
    log(fill(kBusy.english(count), {std::to_string(count)}));
    state->speech.say_queued(skipped_presses_sentence(count));
  };
  // When a request has timed out, Kelvo is busy, and a press sent now would
  // queue inside it and be carried out after the stall. Kelvo is asked on a
  // thread of its own until it answers in time, while the presses that stay
  // within Orvalin are handled at once and the others wait. The moment it
  // answered; nothing when it was not busy or the connection has ended (a
  // press then fails as any request does).
  auto wait_until_answering = [&]() -> std::optional<Clock::time_point> {
    const std::shared_ptr<Bridge> bridge = state->bridge;
    if (!bridge || !bridge->busy()) return std::nullopt;
    auto [asking, asked] = make_channel<int>();
    spawn_detached(
        "kelvo-ask",
        [bridge, asking]() mutable {
          run_guarded("kelvo-ask", [&] { ask_until_answered(*bridge); });
          asking.reset();
        },
        "spawn kelvo-ask");
    asking.reset();
    while (!asked.closed()) {
      std::optional<KeyPress> next = queue.recv_for(kAskPoll);
      if (!next) {
        if (queue.closed()) (void)asked.recv();
        continue;
      }
      const KeyAction* other = binding_of(*next);
      if (other == nullptr) continue;
      if (reaches_kelvo(*next)) {
        backlog.push_back(*next);
      } else {
        run_guarded("actions",
                    [&] { handle_press(state, *other, next->left_to_typing); });
      }
    }
    if (bridge->ended()) return std::nullopt;
    return now();
  };
  for (;;) {
    if (backlog.empty()) {
      std::optional<KeyPress> next = queue.recv();
      if (!next) break;
      backlog.push_back(*next);
    }
    const KeyPress press = backlog.front();
    backlog.pop_front();
    const KeyAction* binding = binding_of(press);
    if (binding == nullptr) continue;
    run_guarded("actions", [&] {
      if (reaches_kelvo(press)) {
        // Nothing made while Kelvo did not answer reaches it afterwards.
        if (auto answered = wait_until_answering()) {
          skip([&](const KeyPress& other) { return other.made < *answered; });
          return;
        }
        if (told_not_connected(*state, {})) return;
        // Behind slow but answering work, a press is carried out only while
        // it is fresh; everything else that waited as long goes too, so a
        // key held against a slow Kelvo stops soon after its release.
        const Clock::time_point at = now();
        const auto too_old = [&](const KeyPress& other) {
          return at - other.made > state->timing.press_max_age;
        };
        if (too_old(press)) {
          skip(too_old);
          return;
        }
      }
      handle_press(state, *binding, press.left_to_typing);
    });
  }
}

}  // namespace orvalin
