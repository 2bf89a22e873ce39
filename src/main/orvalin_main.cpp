#include "main/orvalin_main.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>

#include "applog/applog.h"
#include "base/language.h"
#include "base/os.h"
#include "base/sentences.h"
#include "base/timing.h"
#include "config/config.h"
#include "config/keylist.h"
#include "main/launch.h"
#include "main/platform.h"
#include "main/run.h"
#include "registry/registry.h"
#include "speech/speech.h"
#include "version.h"

namespace orvalin {

namespace {

void print_line(std::FILE* stream, const std::string& text) {
  const std::string line = text + "\n";
  std::fwrite(line.data(), 1, line.size(), stream);
  std::fflush(stream);
}

// The language the settings file names, when there is one that reads, or
// else the session's.
void use_chosen_language() {
  std::string setting = "auto";
  auto loaded = read_config_from(config_dir() / "config.toml",
                                 [] { return std::optional<std::string>(); });
  if (loaded) setting = loaded->general.language;
  use_language(setting);
}

// The list is in the language named after the file ("de"), else in the
// one the user's Orvalin speaks. Any other further argument is ignored, as
// it always was.
int write_keys(const std::vector<std::string>& args) {
  if (args.size() < 2) {
    print_line(stderr, "usage: orvalin --write-keys <file>");
    return 1;
  }
  const auto named =
      args.size() > 2 ? choose_language(args[2], {}) : std::nullopt;
  if (named) {
    set_language(*named);
  } else {
    use_chosen_language();
  }
  if (auto written = write_key_list(args[1]); !written) {
    print_line(stderr, written.error());
    return 1;
  }
  return 0;
}

int open_settings() {
  open_log();
  auto loaded = load_config();
  if (loaded) {
    open_in_editor(loaded->path);
    return 0;
  }
  log("error: " + loaded.error());
  open_in_editor(config_dir() / "config.toml");
  return 1;
}

int find_kelvo_service() {
  if (auto path = find_kelvo()) {
    print_line(stdout, *path);
    return 0;
  }
  print_line(stderr, "Kelvo not found");
  return 1;
}

void sleep_after(const std::string& spoken, const Timing& timing) {
  std::this_thread::sleep_for(refusal_sleep(spoken, timing));
}

// The threads of a run are detached and may still be working (speaking,
// logging, waiting on a queue): the process ends here, without running the
// static destructors of what they use.
[[noreturn]] void end_process(int code) {
  std::fflush(nullptr);
  std::_Exit(code);
}

[[noreturn]] void normal_run() {
  const Timing timing = run_timing(get_env);
  // Until the settings file is read, the session's language: it may be
  // the only one that can be read.
  use_language("auto");
  Speech speech = start_speech(timing);
  if (!take_single_instance_lock()) {
    const std::string text(kAlreadyRunning);
    speech.say(text);
    std::this_thread::sleep_for(timing.already_running);
    speech.reset();
    end_process(1);
  }
  open_log();
  const RunOutcome outcome = run(speech, timing);
  int code = 0;
  switch (outcome.kind) {
    case RunOutcome::Kind::finished:
      break;
    case RunOutcome::Kind::stopped:
      log("stopped: " + outcome.text);
      speech.say(outcome.text);
      sleep_after(outcome.text, timing);
      code = 1;
      break;
    case RunOutcome::Kind::failed: {
      log("error: " + outcome.text);
      const std::string spoken = std::string(kErrorOpening) + outcome.text;
      speech.say(spoken);
      sleep_after(spoken, timing);
      code = 1;
      break;
    }
  }
  speech.reset();
  end_process(code);
}

}  // namespace

std::chrono::milliseconds refusal_sleep(const std::string& spoken,
                                        const Timing& timing) {
  const auto by_length =
      timing.refusal_per_14_bytes *
      static_cast<std::chrono::milliseconds::rep>(spoken.size() / 14);
  return std::max(by_length, timing.refusal_min);
}

int orvalin_main(const std::vector<std::string>& args) {
  if (!args.empty()) {
    const std::string& mode = args[0];
    const bool service = mode == "--version" || mode == "--write-keys" ||
                         mode == "--open-settings" || mode == "--find-kelvo";
    // The running instance's log is its own: a service beside it must not
    // empty it, nor write into it.
    if (service && another_instance_running()) log_to_stderr_only();
    if (mode == "--version") {
      print_line(stdout, kVersion);
      return 0;
    }
    if (mode == "--write-keys") return write_keys(args);
    if (mode == "--open-settings") return open_settings();
    if (mode == "--find-kelvo") return find_kelvo_service();
  }
  normal_run();
}

}  // namespace orvalin
