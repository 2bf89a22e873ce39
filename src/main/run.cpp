#include "main/run.h"

#include <chrono>
#include <memory>
#include <thread>
#include <utility>

#include "actions/actions.h"
#include "announcer/announcer.h"
#include "applog/applog.h"
#include "base/channel.h"
#include "base/language.h"
#include "base/os.h"
#include "base/sentences.h"
#include "base/thread.h"
#include "base/utf.h"
#include "beatgrid/beatgrid.h"
#include "bridge/bridge.h"
#include "config/config.h"
#include "controls/appstate.h"
#include "hotkeys/hotkeys.h"
#include "kelvocheck/kelvocheck.h"
#include "main/launch.h"
#include "main/testdriver.h"
#include "registry/registry.h"
#include "reload/reload.h"

namespace orvalin {

namespace {

constexpr std::chrono::seconds kConnectLimit{600};

RunOutcome failed(std::string text) {
  return {RunOutcome::Kind::failed, std::move(text)};
}

RunOutcome stopped(std::string text) {
  return {RunOutcome::Kind::stopped, std::move(text)};
}

// Thread "kelvo-watch": ends the message loop once Kelvo has gone (or its
// state can no longer be read).
void watch_kelvo(const std::shared_ptr<Process>& kelvo, uint32_t main_thread,
                 std::chrono::milliseconds interval) {
  bool running = true;
  while (running) {
    std::this_thread::sleep_for(interval);
    run_guarded("kelvo-watch", [&] {
      running = kelvo->poll().kind == ProcessState::Kind::running;
    });
  }
  post_quit(main_thread);
}

}  // namespace

RunOutcome run(Speech speech, const Timing& timing) {
  // A session that cannot give global keys cannot serve a DJ at all.
  if (auto missing = hotkeys_unavailable()) return stopped(*missing);

  // Configuring.
  auto loaded = load_config();
  if (!loaded) return failed(loaded.error());
  const General& general = loaded->general;
  // Before anything is said: the settings file may name a language other
  // than the session's, which start-up spoke until here.
  use_language(general.language);
  log("Configuration: " + path_to_utf8(loaded->path));
  // English runs log as they always have.
  if (current_language() != kEnglish) {
    log("Language: " + std::string(current_language()));
  }
  log("Kelvo: " + general.kelvo_path);
  speech.use_settings(loaded->speech);
  if (loaded->created) {
    speech.say_queued(kWelcome);
  }
  auto tables = build_binding_tables(loaded->bindings, general.layer_key);
  if (!tables) return failed(tables.error());
  if (auto missing = hotkey_missing_on_keyboard(registered_entries(*tables))) {
    return failed(*missing);
  }

  // Checking.
  const auto plugin_dir = find_plugin_dir();
  if (!plugin_dir) return failed(plugin_not_found_message());
  if (is_kelvo_running()) {
    return stopped(std::string(kKelvoRunning));
  }
  const std::string version_line = kelvo_version_line(general.kelvo_path);
  log(version_line);
  if (auto refusal = check_qt(general.kelvo_path)) return stopped(*refusal);

  // Launching.
  auto token = make_token();
  if (!token) return failed(token.error());
  speech.say_queued(kStartingKelvo);
  const KelvoPlatform platform = kelvo_platform(get_env);
  if (platform.add_xcb) log("Wayland session: Kelvo gets QT_QPA_PLATFORM=xcb");
  if (platform.not_x11) {
    log(fill(kKelvoNotX11.text.english, {*platform.not_x11}));
    speech.say_queued(fill(kKelvoNotX11, {*platform.not_x11}));
  }
  auto launched =
      launch_kelvo(general.kelvo_path, general.kelvo_args, general.port, *token,
                   *plugin_dir, platform.add_xcb);
  if (!launched) {
    return failed(
        fill(kCannotStartKelvo, {general.kelvo_path, launched.error()}));
  }
  const std::shared_ptr<Process> kelvo = std::move(*launched);
  const uint32_t kelvo_pid = kelvo->id();
  switch (wait_for_plugin(*token, *kelvo,
                          {timing.plugin_limit, timing.plugin_poll})) {
    case PluginWait::loaded:
      break;
    case PluginWait::exited:
      return failed(std::string(kClosedWhileStarting));
    case PluginWait::timed_out:
      return stopped(fill(kPluginNotLoaded, {version_line}));
  }
  log("plugin loaded");

  // Connecting.
  auto [event_sender, event_receiver] = make_channel<BridgeEvent>();
  auto connected = Bridge::connect(
      general.port, *token, std::chrono::steady_clock::now() + kConnectLimit,
      kelvo, std::move(event_sender), BridgeTiming::of(timing));
  if (!connected) {
    log("connect failed; Kelvo process status: " +
        describe_process_state(kelvo->poll()));
    return failed(connected.error());
  }
  const std::shared_ptr<Bridge> bridge = std::move(*connected);

  // Starting the workers. std::function needs copyable bodies, so the
  // move-only receivers travel in shared_ptrs.
  auto state = std::make_shared<AppState>(speech, bridge, timing);
  const uint32_t main_thread = current_thread_id();
  state->key_help_changed = [main_thread](bool on) {
    post_to_loop(main_thread,
                 [on](HotkeyLoop& loop) { loop.set_key_help(on); });
  };
  state->kelvo_running = [kelvo] {
    return kelvo->poll().kind == ProcessState::Kind::running;
  };
  // The clean-up's reads go out while the watches' replies are on their way,
  // so that start-up waits for the slowest reply rather than for each.
  StartupWatches watches = send_startup_watches(*bridge);
  state->deck_count.store(watches.decks);
  clear_left_on_clicks(*bridge);
  WatchesDone watched = finish_watches(*bridge, std::move(watches.sent));
  LastValues last_values = std::move(watched.last_values);
  // Known before the keys work: a step from a parameter read on a wrong
  // scale throws a control to an end.
  if (auto wrong = parameters_on_wrong_scale(*bridge); !wrong) {
    log("scale check: " + wrong.error());
  } else if (*wrong) {
    log("the plugin reads parameters on a wrong scale");
    state->scale_wrong.store(1);
  }
  auto events =
      std::make_shared<Receiver<BridgeEvent>>(std::move(event_receiver));
  spawn_detached(
      "announcer",
      [state, events, last_values = std::move(last_values)] {
        run_announcer(state, std::move(*events), last_values);
      },
      "spawn announcer");
  spawn_detached(
      "time-warnings", [state] { run_time_warnings(state); },
      "spawn time warnings");
  auto [action_sender, action_receiver] = make_channel<KeyPress>();
  auto queue = std::make_shared<Receiver<KeyPress>>(std::move(action_receiver));
  spawn_detached(
      "actions",
      [state, actions = tables->actions, queue] {
        run_action_worker(state, actions, std::move(*queue));
      },
      "spawn action worker");
  // The tables in force from now on; a settings reload replaces them.
  auto bindings = std::make_shared<BindingsInForce>(
      std::make_shared<const BindingTables>(std::move(*tables)));
  spawn_detached(
      "kelvo-watch",
      [kelvo, main_thread, interval = timing.kelvo_watch] {
        watch_kelvo(kelvo, main_thread, interval);
      },
      "spawn watcher");

  // Watching starts just before the ready sentence, so that a save made as
  // soon as it is heard is seen; reloads reach the hot keys only once the
  // message loop runs. Started here, the thread does not delay the loop.
  if (auto settings_watch = watch_file(loaded->path); !settings_watch) {
    log("cannot watch the settings file: " + settings_watch.error());
  } else {
    ReloadContext context{loaded->path,
                          [] { return find_kelvo(); },
                          general,
                          speech,
                          bindings,
                          [main_thread](LoopTask task) {
                            post_to_loop(main_thread, std::move(task));
                          }};
    auto watch = std::make_shared<std::unique_ptr<FileWatch>>(
        std::move(*settings_watch));
    spawn_detached(
        "settings-watch",
        // Editors save in several writes: reload once the file has been
        // quiet a while.
        [watch, context = std::move(context), quiet = timing.reload_quiet] {
          run_settings_watch(std::move(*watch), context, quiet);
        },
        "spawn settings watch");
  }
  // A connection lost during start-up leaves nothing ready: start-up ends
  // with the lost-connection sentence instead (nothing when Kelvo closed).
  if (auto ended = bridge->ended()) {
    log("bridge: connection ended during start-up");
    tell_lost_connection(*state, *ended);
  } else {
    speech.say(
        ready_sentence(*bindings->current(),
                       keys_kept_by_system(bindings->current()->hotkeys)));
    if (state->scale_wrong.load() != 0) {
      speech.say_queued(kWrongScale);
    }
    // No change of a control whose watch failed would ever be announced.
    if (!watched.missing.empty()) {
      spawn_detached(
          "watch-retry",
          [state, missing = std::move(watched.missing),
           ready = std::chrono::steady_clock::now()]() mutable {
            run_guarded("watch-retry", [&] {
              keep_watching(state, std::move(missing), ready);
            });
          },
          "failed to spawn thread");
    }
  }
  if (auto script = get_env("ORVALIN_TEST_ACTIONS")) {
    spawn_detached(
        "",
        [script = std::move(*script), bindings, actions = action_sender, bridge,
         timing] {
          run_test_script(script, bindings, actions, bridge, timing);
        },
        "failed to spawn thread");
  }

  // Running, until "kelvo-watch" posts the quit.
  run_hotkeys(bindings, kelvo_pid, std::move(action_sender), speech, timing);
  log("Kelvo closed, Orvalin exiting.");
  return {RunOutcome::Kind::finished, {}};
}

}  // namespace orvalin
