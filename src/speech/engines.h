// The speech thread's engines behind one seam: the screen readers the
// platform knows, in their order of detection, and its fallback voice (the
// SAPI voice on Windows). Each platform provides them
// (open_speech_engines); tests provide fakes. Engines are opened, used and
// closed on the speech thread only.
#pragma once

#include <array>
#include <chrono>
#include <cstddef>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "base/channel.h"
#include "base/layout.h"
#include "base/result.h"
#include "base/timing.h"
#include "config/config.h"
#include "speech/speech.h"

namespace orvalin {

// The screen readers Windows knows, in their order of detection: with
// "auto", the first one running speaks.
inline constexpr std::array<ScreenReader, 4> kWindowsReaders = {
    ScreenReader::nvda, ScreenReader::jaws, ScreenReader::zdsr,
    ScreenReader::system_access};

// One screen reader's programming interface, found and loaded. Destroying it
// unloads the library or releases the object.
class Reader {
 public:
  virtual ~Reader() = default;
  // The reader's own answer to "are you running?" (true for a reader known
  // only by its window). Asked for every message, after its window, if any,
  // was found.
  virtual bool is_running() = 0;
  // Speaks `text`; with `interrupt` whatever the reader is saying is cut off
  // first, without it the text follows. Failures are ignored.
  virtual void speak(std::string_view text, bool interrupt) = 0;
  // Silences the reader's speech. Failures are ignored.
  virtual void stop() = 0;
  // Shows `text` on the braille display, when the interface can.
  virtual void braille(std::string_view text) = 0;
};

// A screen reader the platform knows (`kind` is never automatic or sapi),
// with its interface when it was found.
struct ReaderSlot {
  ScreenReader kind = ScreenReader::nvda;
  std::unique_ptr<Reader> reader;
};

// The fallback voice. Destroying it releases the voice.
class SapiVoice {
 public:
  virtual ~SapiVoice() = default;
  // Speaks without waiting; with `purge` whatever is being spoken or queued is
  // dropped first. Failures are ignored.
  virtual void speak(std::string_view text, bool purge) = 0;
  // Drops whatever is being spoken or queued. Failures are ignored.
  virtual void purge() = 0;
  // When the voice holds text it could not speak yet: how long until retry()
  // should be called. None when it holds nothing.
  virtual std::optional<std::chrono::milliseconds> retry_in() {
    return std::nullopt;
  }
  // Tries again to speak what is held, once retry_in() has come down to 0.
  virtual void retry() {}
};

// What the platform offers the speech thread. Any voice it created must be
// destroyed before the engines are.
class SpeechEngines {
 public:
  virtual ~SpeechEngines() = default;
  // The screen readers the platform knows, in order of detection, fixed when
  // the engines were opened. None unless the platform has some.
  virtual std::span<ReaderSlot> readers() { return {}; }
  // Whether a top-level window of class `class_name` exists, titled `title`
  // unless that is empty. Only readers with a window ask.
  virtual bool window_exists(std::string_view /*class_name*/,
                             std::string_view /*title*/) {
    return false;
  }
  // The fallback voice's name in the log ("speech: now SAPI").
  virtual std::string_view voice_name() const = 0;
  // A new voice (never null), or the reason why none can be made.
  virtual Result<std::unique_ptr<SapiVoice>> create_voice() = 0;
};

// The speech thread's state between messages (the settings in force, the
// voice once made, who spoke last) and its handling of each message. Speech
// thread only; destroy it before the engines.
class Speaker {
 public:
  explicit Speaker(SpeechEngines& engines) : engines_(engines) {}
  Speaker(const Speaker&) = delete;
  Speaker& operator=(const Speaker&) = delete;

  void handle(const SpeechCommand& command);
  // The voice's retry_in() and retry(): a voice that holds text is given its
  // turn between messages.
  std::optional<std::chrono::milliseconds> retry_in();
  void retry();

 private:
  // Who speaks: an index into the engines' readers, or one of these.
  static constexpr size_t kVoice = static_cast<size_t>(-1);
  static constexpr size_t kNobody = static_cast<size_t>(-2);

  size_t choose();
  void silence(size_t who);
  void speak_with_voice(const Speak& speak);

  SpeechEngines& engines_;
  SpeechSettings settings_;
  std::unique_ptr<SapiVoice> voice_;
  // When speech moves elsewhere, the one that spoke last may still talk.
  size_t last_ = kNobody;
  bool found_logged_ = false;
};

// The name of a reader in the log and the README: "NVDA", "JAWS", "ZDSR",
// "System Access".
std::string_view reader_name(ScreenReader kind);

// The JAWS script call that shows `text` in braille: BrailleString("…"),
// with each '"' turned into "'" and each '\' into a space, since a JAWS
// script string cannot escape them.
std::string jaws_braille_call(std::string_view text);

// The places where the NVDA client library is looked for, in order, for the
// program at `executable`: its own folder, then in the development layout
// "vendor\nvda" two folders above that folder when there is such an
// ancestor.
std::vector<std::filesystem::path> nvda_client_candidates(
    const std::filesystem::path& executable, Layout layout = build_layout());

// The platform's engines, opened on the calling thread (the speech thread),
// with every reader interface looked for beside the running program; the
// voice waits `timing.speech_retry` between attempts to reach its service.
std::unique_ptr<SpeechEngines> open_speech_engines(const Timing& timing);

// The speech thread's loop: speaks each command in arrival order until the
// queue closes, giving a voice that holds text its retries in between, then
// releases the voice and closes the engines.
void serve_speech(Receiver<SpeechCommand> commands,
                  std::unique_ptr<SpeechEngines> engines);

// start_speech(timing) with the engines that `open` makes on the new thread.
Speech start_speech_with(std::function<std::unique_ptr<SpeechEngines>()> open);

}  // namespace orvalin
