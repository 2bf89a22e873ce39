#include "speech/speech.h"

#include <exception>
#include <optional>
#include <utility>

#include "applog/applog.h"
#include "base/thread.h"
#include "speech/engines.h"

namespace orvalin {

namespace {

void log_said(std::string_view text) {
  std::string line;
  line.reserve(5 + text.size());
  line.append("say: ").append(text);
  log(line);
}

std::optional<std::filesystem::path> parent_folder(
    const std::filesystem::path& folder) {
  // A root ("/", "C:\") has no parent; parent_path() would return itself.
  if (!folder.has_relative_path()) return std::nullopt;
  return folder.parent_path();
}

enum class Engine { none, nvda, sapi };

// The speech thread's own state between messages.
struct Speaker {
  std::unique_ptr<SapiVoice> voice;
  // The engine that spoke (or was silenced) last: when speech moves to the
  // other engine, this one may still be talking.
  Engine last = Engine::none;
};

void silence(Engine engine, SpeechEngines& engines, Speaker& speaker) {
  if (engine == Engine::nvda && engines.nvda() != nullptr) {
    engines.nvda()->cancel_speech();
  } else if (engine == Engine::sapi && speaker.voice) {
    speaker.voice->purge();
  }
}

void speak_one(const SpeechCommand& command, SpeechEngines& engines,
               Speaker& speaker) {
  // Whether NVDA runs is asked for every message, so that starting or
  // quitting NVDA moves speech over from the next message on.
  NvdaClient* const nvda = engines.nvda();
  const bool use_nvda = nvda != nullptr && nvda->is_running();
  const Engine engine = use_nvda ? Engine::nvda : Engine::sapi;
  // On a switch the other engine is stopped first, or both talk at once.
  if (speaker.last != Engine::none && speaker.last != engine) {
    silence(speaker.last, engines, speaker);
  }
  speaker.last = engine;

  const Speak* speak = std::get_if<Speak>(&command);
  if (speak == nullptr) {
    silence(engine, engines, speaker);
    return;
  }
  if (use_nvda) {
    // NVDA's speakText queues; cutting off is our job.
    if (speak->interrupt) nvda->cancel_speech();
    nvda->speak_text(speak->text);
    return;
  }
  if (!speaker.voice) {
    // Not kept on failure: the next message tries again.
    Result<std::unique_ptr<SapiVoice>> created = engines.create_voice();
    if (!created || *created == nullptr) {
      log("SAPI unavailable: " +
          (created ? std::string("no voice object") : created.error()));
      return;
    }
    speaker.voice = std::move(*created);
  }
  speaker.voice->speak(speak->text, speak->interrupt);
}

}  // namespace

void Speech::say(std::string_view text) const {
  log_said(text);
  sender_.send(Speak{std::string(text), true});
}

void Speech::say_queued(std::string_view text) const {
  log_said(text);
  sender_.send(Speak{std::string(text), false});
}

void Speech::stop() const { sender_.send(StopSpeaking{}); }

std::vector<std::filesystem::path> nvda_client_candidates(
    const std::filesystem::path& executable, Layout layout) {
  std::vector<std::filesystem::path> candidates;
  const std::filesystem::path folder = executable.parent_path();
  if (folder.empty()) return candidates;
  candidates.push_back(folder / "nvdaControllerClient.dll");
  if (layout != Layout::development) return candidates;
  if (auto up = parent_folder(folder)) {
    if (auto up2 = parent_folder(*up)) {
      candidates.push_back(*up2 / "vendor" / "nvda" /
                           "nvdaControllerClient.dll");
    }
  }
  return candidates;
}

void serve_speech(Receiver<SpeechCommand> commands,
                  std::unique_ptr<SpeechEngines> engines) {
  Speaker speaker;
  while (std::optional<SpeechCommand> command = commands.recv()) {
    // Out of memory while converting a text, say: that message is lost,
    // the thread (and with it all later speech) is not.
    run_guarded("speech", [&] { speak_one(*command, *engines, speaker); });
  }
  // The voice belongs to the engines' COM set-up: release it first.
  speaker.voice.reset();
  engines.reset();
}

Speech start_speech_with(std::function<std::unique_ptr<SpeechEngines>()> open) {
  auto [sender, receiver] = make_channel<SpeechCommand>();
  // std::function needs a copyable body; the receiver itself is move-only.
  auto shared = std::make_shared<Receiver<SpeechCommand>>(std::move(receiver));
  spawn_detached(
      "speech",
      [shared, open = std::move(open)] {
        serve_speech(std::move(*shared), open());
      },
      "spawn speech thread");
  return Speech(std::move(sender));
}

Speech start_speech() {
  return start_speech_with([] { return open_speech_engines(); });
}

}  // namespace orvalin
