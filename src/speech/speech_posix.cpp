// Speech outside Windows: speech-dispatcher, the speech service Orca itself
// speaks through. No screen reader takes Orvalin's text here: the fallback
// voice of the speech thread is one client connection named "orvalin".
#include <libspeechd.h>
#include <pthread.h>
#include <signal.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <ctime>
#include <string>

#include "base/language.h"
#include "base/os.h"
#include "base/timing.h"
#include "speech/engines.h"
#include "speech/reconnect.h"

namespace orvalin {

namespace {

// Every message goes out at speech-dispatcher's "message" priority, the one
// Orca speaks at: an answer is spoken at once when nothing of that level is
// being said, and otherwise right after Orca's current utterance; neither
// client's speech cuts off the other's. "important" would cut Orca off
// mid-word, and "text" would be dropped whenever Orca speaks, losing
// warnings such as "one minute left".
constexpr SPDPriority kPriority = SPD_MESSAGE;

// A test run speaks through the machine's speech-dispatcher only when given
// a daemon of its own: the machine's daemon belongs to no test.
bool test_run_without_daemon() {
  const bool test_run =
      get_env("ORVALIN_TEST_TOKEN") || get_env("ORVALIN_TEST_ACTIONS");
  return test_run && !get_env("SPEECHD_ADDRESS");
}

// The speech thread's connection to speech-dispatcher. The address comes
// from SPEECHD_ADDRESS or is the user's default socket, where the daemon is
// started on demand as for Orca.
class SpeechdLink : public SpeechLink {
 public:
  SpeechdLink() {
    // libspeechd writes to its socket without MSG_NOSIGNAL: a daemon that
    // has gone must give this thread an error, not end the program.
    sigset_t pipe;
    sigemptyset(&pipe);
    sigaddset(&pipe, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipe, nullptr);
  }
  ~SpeechdLink() override { close(); }

  Status open() override {
    close();
    char* error = nullptr;
    connection_ = spd_open2("orvalin", "main", nullptr, SPD_MODE_SINGLE,
                            nullptr, 1, &error);
    std::string reason = error != nullptr ? error : "no connection";
    std::free(error);
    if (connection_ != nullptr) return {};
    // libspeechd's texts may end in blanks or a line break.
    reason.erase(reason.find_last_not_of(" \n\r\t") + 1);
    if (reason.empty()) reason = "no connection";
    return std::unexpected(reason);
  }

  bool say(std::string_view text) override {
    if (connection_ == nullptr) return ok(false);
    // The voice speaks the language of the text: a German sentence read by
    // an English voice is mangled, and "130,1" read as a date. English
    // leaves the user's own default voice alone, as it always has.
    const std::string_view language = current_language();
    if (language != voice_language_) {
      // speech-dispatcher's codes: "pt-BR"; Mandarin is "zh" to its
      // modules.
      std::string code(language == "zh_CN" ? "zh" : language);
      std::ranges::replace(code, '_', '-');
      if (spd_set_language(connection_, code.c_str()) < 0) return ok(false);
      voice_language_ = language;
    }
    return ok(spd_say(connection_, kPriority, std::string(text).c_str()) >= 0);
  }

  // Cancels this client's speech only; Orca's is left alone.
  bool cancel() override {
    return ok(connection_ != nullptr && spd_cancel(connection_) >= 0);
  }

  void close() override {
    if (connection_ != nullptr) spd_close(connection_);
    connection_ = nullptr;
    voice_language_ = kEnglish;
  }

 private:
  bool ok(bool done) {
    if (done) return true;
    // A failed write leaves a SIGPIPE pending on this thread; take it.
    sigset_t pipe;
    sigemptyset(&pipe);
    sigaddset(&pipe, SIGPIPE);
    const timespec none{0, 0};
    sigtimedwait(&pipe, nullptr, &none);
    return false;
  }

  SPDConnection* connection_ = nullptr;
  // The language this connection's voice was set to; English is the
  // daemon's default as the user configured it.
  std::string_view voice_language_ = kEnglish;
};

// A test run's voice without a daemon: the text reaches the test through the
// log line that say() writes.
class SilentVoice : public SapiVoice {
 public:
  void speak(std::string_view, bool) override {}
  void purge() override {}
};

// No screen reader here takes Orvalin's speech: Orca itself speaks through
// speech-dispatcher, which is the fallback voice.
class PosixSpeechEngines : public SpeechEngines {
 public:
  PosixSpeechEngines(bool silent, std::chrono::milliseconds retry)
      : silent_(silent), retry_(retry) {}
  std::string_view voice_name() const override {
    return silent_ ? "silent voice" : "speech-dispatcher";
  }
  Result<std::unique_ptr<SapiVoice>> create_voice() override {
    if (silent_) return std::make_unique<SilentVoice>();
    return std::make_unique<ReconnectingVoice>(std::make_unique<SpeechdLink>(),
                                               "speech-dispatcher", retry_);
  }

 private:
  const bool silent_;
  const std::chrono::milliseconds retry_;
};

}  // namespace

std::unique_ptr<SpeechEngines> open_speech_engines(const Timing& timing) {
  return std::make_unique<PosixSpeechEngines>(test_run_without_daemon(),
                                              timing.speech_retry);
}

}  // namespace orvalin
