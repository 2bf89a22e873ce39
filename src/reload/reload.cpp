#include "reload/reload.h"

#include <optional>
#include <utility>

#include "applog/applog.h"
#include "base/language.h"
#include "base/os.h"
#include "base/sentences.h"

namespace orvalin {

std::string run_debounced(FileWatch& watch, const SteadyClock& clock,
                          std::chrono::milliseconds quiet,
                          const std::function<void()>& settled) {
  using std::chrono::milliseconds;
  bool pending = false;  // a change waits for the file to be quiet
  std::chrono::steady_clock::time_point due{};
  for (;;) {
    std::optional<milliseconds> timeout;
    if (pending) {
      const auto left = due - clock();
      timeout = left > left.zero() ? std::chrono::ceil<milliseconds>(left)
                                   : milliseconds(0);
    }
    Result<bool> changed = watch.wait(timeout);
    if (!changed) return changed.error();
    if (*changed) {
      pending = true;
      due = clock() + quiet;
    } else if (pending && clock() >= due) {
      pending = false;
      settled();
    }
  }
}

std::string reloaded_sentence(const General& running, const General& loaded) {
  if (running.kelvo_path != loaded.kelvo_path ||
      running.kelvo_args != loaded.kelvo_args || running.port != loaded.port) {
    return std::string(kReloadedKelvoLater);
  }
  return std::string(kReloaded);
}

void reload_settings(const ReloadContext& context) {
  static constexpr const char* kRemoved =  // not spoken: logged
      "settings file removed; keeping the settings in force";
  // Checked first so that a removed file is never mistaken for a broken one
  // (and never replaced by the default file, as start-up would).
  if (!path_exists(context.file)) {
    log(kRemoved);
    return;
  }
  auto loaded = read_config_from(context.file, context.find_kelvo);
  Result<BindingTables> tables =
      loaded ? build_binding_tables(loaded->bindings, loaded->general.layer_key)
             : fail(loaded.error());
  if (!tables) {
    if (!path_exists(context.file)) {
      log(kRemoved);  // removed while it was being read
    } else {
      context.speech.say_queued(fill(kNotReloaded, {tables.error()}));
    }
    return;
  }
  auto in_force = std::make_shared<const BindingTables>(std::move(*tables));
  context.on_main_thread([in_force, running = context.running,
                          general = loaded->general, speech = context.speech,
                          speech_settings = loaded->speech,
                          bindings = context.bindings](HotkeyLoop& hotkeys) {
    // First, so that the keys' names and the sentences below are in the
    // new language.
    use_language(general.language);
    const std::string sentence = reloaded_sentence(running, general);
    const std::vector<std::string> taken = hotkeys.replace_entries(*in_force);
    bindings->replace(in_force);
    // Before the sentence, so that it is already heard (or not shown in
    // braille) as the new settings say.
    speech.use_settings(speech_settings);
    speech.say_queued(sentence);
    if (auto report = taken_hotkeys_sentence(taken)) {
      speech.say_queued(*report);
    }
  });
}

void run_settings_watch(std::unique_ptr<FileWatch> watch, ReloadContext context,
                        std::chrono::milliseconds quiet) {
  // A reload that throws is logged, and the watch goes on to the next save.
  run_guarded("settings-watch", [&] {
    const std::string error = run_debounced(
        *watch, [] { return std::chrono::steady_clock::now(); }, quiet,
        [&context] {
          run_guarded("settings-watch", [&] { reload_settings(context); });
        });
    log("settings file no longer watched: " + error);
  });
}

}  // namespace orvalin
