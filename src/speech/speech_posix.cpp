// Speech outside Windows: speech-dispatcher, the speech service Orca itself
// speaks through. No screen reader takes Orvalin's text here: the fallback
// voice of the speech thread is one client connection named "orvalin".
#include <libspeechd.h>
#include <pthread.h>
#include <signal.h>

#include <chrono>
#include <cstdlib>
#include <ctime>
#include <string>

#include "applog/applog.h"
#include "base/os.h"
#include "base/timing.h"
#include "speech/engines.h"

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

// The connection of the speech thread, opened at the first message. While
// the daemon cannot be reached, the reason is logged once and a message
// tries again only when `retry` has passed since the last attempt; the
// messages in between are not spoken (their "say:" lines stay in the log).
class SpeechdVoice : public SapiVoice {
 public:
  explicit SpeechdVoice(std::chrono::milliseconds retry) : retry_(retry) {
    // libspeechd writes to its socket without MSG_NOSIGNAL: a daemon that
    // has gone must give this thread an error, not end the program.
    sigset_t pipe;
    sigemptyset(&pipe);
    sigaddset(&pipe, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipe, nullptr);
  }
  ~SpeechdVoice() override { close(); }

  void speak(std::string_view text, bool purge) override {
    if (!connect()) return;
    // Cancels this client's speech only; Orca's is left alone.
    if (purge) spd_cancel(connection_);
    if (spd_say(connection_, kPriority, std::string(text).c_str()) < 0) {
      lost();
    }
  }

  void purge() override {
    if (connection_ != nullptr && spd_cancel(connection_) < 0) lost();
  }

 private:
  bool connect() {
    if (connection_ != nullptr) return true;
    const auto now = std::chrono::steady_clock::now();
    if (last_attempt_ && now - *last_attempt_ < retry_) return false;
    last_attempt_ = now;
    char* error = nullptr;
    // The address comes from SPEECHD_ADDRESS or is the user's default
    // socket, where the daemon is started on demand as for Orca.
    connection_ = spd_open2("orvalin", "main", nullptr, SPD_MODE_SINGLE,
                            nullptr, 1, &error);
    std::string reason = error != nullptr ? error : "no connection";
    std::free(error);
    // libspeechd's texts may end in blanks or a line break.
    reason.erase(reason.find_last_not_of(" \n\r\t") + 1);
    if (reason.empty()) reason = "no connection";
    if (connection_ == nullptr) {
      unavailable(reason);
      return false;
    }
    reported_ = false;
    return true;
  }

  void lost() {
    close();
    // The failed write left a SIGPIPE pending on this thread; take it.
    sigset_t pipe;
    sigemptyset(&pipe);
    sigaddset(&pipe, SIGPIPE);
    const timespec none{0, 0};
    sigtimedwait(&pipe, nullptr, &none);
    last_attempt_ = std::chrono::steady_clock::now();
    unavailable("the connection was lost");
  }

  void unavailable(const std::string& reason) {
    if (reported_) return;
    reported_ = true;
    log("speech-dispatcher unavailable: " + reason);
  }

  void close() {
    if (connection_ != nullptr) spd_close(connection_);
    connection_ = nullptr;
  }

  const std::chrono::milliseconds retry_;
  SPDConnection* connection_ = nullptr;
  std::optional<std::chrono::steady_clock::time_point> last_attempt_;
  bool reported_ = false;  // the current outage has been logged
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
  explicit PosixSpeechEngines(bool silent) : silent_(silent) {}
  std::string_view voice_name() const override {
    return silent_ ? "silent voice" : "speech-dispatcher";
  }
  Result<std::unique_ptr<SapiVoice>> create_voice() override {
    if (silent_) return std::make_unique<SilentVoice>();
    return std::make_unique<SpeechdVoice>(Timing{}.speech_retry);
  }

 private:
  const bool silent_;
};

}  // namespace

std::unique_ptr<SpeechEngines> open_speech_engines() {
  return std::make_unique<PosixSpeechEngines>(test_run_without_daemon());
}

}  // namespace orvalin
