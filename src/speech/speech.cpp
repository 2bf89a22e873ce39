#include "speech/speech.h"

#include <exception>
#include <optional>
#include <span>
#include <string>
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

// How a reader is told apart from the others that answer its interface:
// NVDA's controller client also answers for readers that imitate NVDA, so
// NVDA's own window must be there too; JAWS is known by its window alone.
struct ReaderWindow {
  std::string_view class_name;  // empty: the reader has no window to find
  std::string_view title;       // empty: any title
};

ReaderWindow reader_window(ScreenReader kind) {
  switch (kind) {
    case ScreenReader::nvda:
      return {"wxWindowClassNR", "NVDA"};
    case ScreenReader::jaws:
      return {"JFWUI2", ""};
    default:
      return {};
  }
}

void log_found(SpeechEngines& engines) {
  std::string found;
  std::string missing;
  for (const ReaderSlot& slot : engines.readers()) {
    std::string& list = slot.reader ? found : missing;
    if (!list.empty()) list += ", ";
    list += reader_name(slot.kind);
  }
  // A platform that knows no reader has nothing to report.
  if (found.empty() && missing.empty()) return;
  std::string line = "speech: found " + (found.empty() ? "none" : found);
  if (!missing.empty()) line += "; not found: " + missing;
  log(line);
}

bool runs(const ReaderSlot& slot, SpeechEngines& engines) {
  if (!slot.reader) return false;
  const ReaderWindow window = reader_window(slot.kind);
  // The window first: looking it up is cheaper than asking the reader.
  if (!window.class_name.empty() &&
      !engines.window_exists(window.class_name, window.title)) {
    return false;
  }
  return slot.reader->is_running();
}

}  // namespace

// Asked anew for every message, so that starting or quitting a reader moves
// speech over from the next message on.
size_t Speaker::choose() {
  const std::span<ReaderSlot> readers = engines_.readers();
  for (size_t i = 0; i < readers.size(); ++i) {
    const bool allowed = settings_.screen_reader == ScreenReader::automatic ||
                         settings_.screen_reader == readers[i].kind;
    if (allowed && runs(readers[i], engines_)) return i;
  }
  return kVoice;
}

void Speaker::silence(size_t who) {
  if (who == kVoice) {
    if (voice_) voice_->purge();
  } else {
    engines_.readers()[who].reader->stop();
  }
}

void Speaker::speak_with_voice(const Speak& speak) {
  if (!voice_) {
    // Not kept on failure: the next message tries again.
    Result<std::unique_ptr<SapiVoice>> created = engines_.create_voice();
    if (!created || *created == nullptr) {
      log("SAPI unavailable: " +
          (created ? std::string("no voice object") : created.error()));
      return;
    }
    voice_ = std::move(*created);
  }
  voice_->speak(speak.text, speak.interrupt);
}

void Speaker::handle(const SpeechCommand& command) {
  if (!found_logged_) {
    found_logged_ = true;
    log_found(engines_);
  }
  if (const auto* settings = std::get_if<SpeechSettings>(&command)) {
    settings_ = *settings;
    return;
  }
  const size_t who = choose();
  if (who != last_) {
    // On a switch the one that spoke before is stopped first, or both talk
    // at once.
    if (last_ != kNobody) silence(last_);
    last_ = who;
    // Where the platform knows no reader, the voice is all there is.
    if (!engines_.readers().empty()) {
      log("speech: now " +
          std::string(who == kVoice
                          ? engines_.voice_name()
                          : reader_name(engines_.readers()[who].kind)));
    }
  }
  const Speak* speak = std::get_if<Speak>(&command);
  if (speak == nullptr) {
    silence(who);
  } else if (who == kVoice) {
    speak_with_voice(*speak);
  } else {
    Reader& reader = *engines_.readers()[who].reader;
    reader.speak(speak->text, speak->interrupt);
    if (settings_.braille) reader.braille(speak->text);
  }
}

std::optional<std::chrono::milliseconds> Speaker::retry_in() {
  return voice_ ? voice_->retry_in() : std::nullopt;
}

void Speaker::retry() {
  if (voice_) voice_->retry();
}

void Speech::say(std::string_view text) const {
  log_said(text);
  sender_.send(Speak{std::string(text), true});
}

void Speech::say_queued(std::string_view text) const {
  log_said(text);
  sender_.send(Speak{std::string(text), false});
}

void Speech::stop() const { sender_.send(StopSpeaking{}); }

void Speech::use_settings(const SpeechSettings& settings) const {
  sender_.send(settings);
}

std::string_view reader_name(ScreenReader kind) {
  switch (kind) {
    case ScreenReader::nvda:
      return "NVDA";
    case ScreenReader::jaws:
      return "JAWS";
    case ScreenReader::zdsr:
      return "ZDSR";
    case ScreenReader::system_access:
      return "System Access";
    default:
      return "SAPI";
  }
}

std::string jaws_braille_call(std::string_view text) {
  std::string call = "BrailleString(\"";
  call.reserve(call.size() + text.size() + 2);
  for (const char c : text) {
    call += c == '"' ? '\'' : c == '\\' ? ' ' : c;
  }
  call += "\")";
  return call;
}

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
  {
    Speaker speaker(*engines);
    for (;;) {
      const std::optional<std::chrono::milliseconds> wait = speaker.retry_in();
      std::optional<SpeechCommand> command =
          wait ? commands.recv_for(*wait) : commands.recv();
      if (!command) {
        if (!wait || commands.closed()) break;
        run_guarded("speech", [&] { speaker.retry(); });
        continue;
      }
      // Out of memory while converting a text, say: that message is lost,
      // the thread (and with it all later speech) is not.
      run_guarded("speech", [&] { speaker.handle(*command); });
    }
    // The voice belongs to the engines' COM set-up: released first, with
    // the speaker.
  }
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

Speech start_speech(const Timing& timing) {
  return start_speech_with([timing] { return open_speech_engines(timing); });
}

}  // namespace orvalin
