// Settings reload. While Kelvo runs, the thread "settings-watch" watches the
// settings file; once the file has been quiet for a while after a change it
// loads and checks it as start-up does, and a valid file's bindings are put
// in force on the main thread, between two key presses, and its speech
// settings are handed to the speech thread. A broken file changes nothing.
#pragma once

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>

#include "actions/actions.h"
#include "config/config.h"
#include "hotkeys/hotkeys.h"
#include "reload/filewatch.h"
#include "speech/speech.h"

namespace orvalin {

using SteadyClock = std::function<std::chrono::steady_clock::time_point()>;

// Waits on `watch` and calls `settled` once the file has had no change for
// `quiet` since the last one (editors save in several writes). Returns the
// watch's error when it can no longer watch.
std::string run_debounced(FileWatch& watch, const SteadyClock& clock,
                          std::chrono::milliseconds quiet,
                          const std::function<void()>& settled);

// What a reload works with. The swap runs on the main thread, which owns
// the hot keys; `on_main_thread` gets it there (post_to_loop).
struct ReloadContext {
  std::filesystem::path file;
  KelvoFinder find_kelvo;
  General running;  // the [general] settings Kelvo was started with
  Speech speech;
  std::shared_ptr<BindingsInForce> bindings;
  std::function<void(LoopTask)> on_main_thread;
};

// The sentence for a valid file: Kelvo's own settings apply only when
// Orvalin starts Kelvo, so a change there is said.
std::string reloaded_sentence(const General& running, const General& loaded);

// Loads the file once (watch thread): a valid file is put in force on the
// main thread (its speech settings through the speech queue) with "Settings
// reloaded"; an invalid one is refused aloud with
// start-up's error text; a missing one is only logged. Never writes the
// file.
void reload_settings(const ReloadContext& context);

// Body of the thread "settings-watch" with its watch already made: reloads
// `quiet` after the last change, until the watch fails (logged).
void run_settings_watch(std::unique_ptr<FileWatch> watch, ReloadContext context,
                        std::chrono::milliseconds quiet);

}  // namespace orvalin
