// A voice that speaks through a connection to a speech service which may go
// away and come back (a restarted speech-dispatcher). A failed sentence is
// tried once more on a new connection at once; only when that connection
// cannot be made does the voice wait `retry` before the next attempt, and
// the newest sentences of that wait are held and spoken once it connects
// again. Speech thread only, like every voice.
#pragma once

#include <chrono>
#include <cstddef>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "base/result.h"
#include "speech/engines.h"

namespace orvalin {

// One connection to the speech service, opened and closed by its voice.
class SpeechLink {
 public:
  virtual ~SpeechLink() = default;
  // Opens a connection, or says why there is none.
  virtual Status open() = 0;
  // Queues `text` after this client's speech; false when the connection is
  // lost.
  virtual bool say(std::string_view text) = 0;
  // Cancels this client's speech; false when the connection is lost.
  virtual bool cancel() = 0;
  // Closes the connection, if open.
  virtual void close() = 0;
};

class ReconnectingVoice : public SapiVoice {
 public:
  using Clock = std::function<std::chrono::steady_clock::time_point()>;
  // Sentences held while the service cannot be reached; older ones give way.
  static constexpr size_t kHeldLimit = 8;

  // `service` names the service in the log ("speech-dispatcher
  // unavailable: …", once per outage).
  ReconnectingVoice(std::unique_ptr<SpeechLink> link, std::string service,
                    std::chrono::milliseconds retry,
                    Clock clock = std::chrono::steady_clock::now);
  ~ReconnectingVoice() override;

  void speak(std::string_view text, bool purge) override;
  void purge() override;
  std::optional<std::chrono::milliseconds> retry_in() override;
  void retry() override;

 private:
  void hold(std::string_view text);
  void connect_and_flush();
  void drop_connection();
  void unavailable(const std::string& reason);

  std::unique_ptr<SpeechLink> link_;
  const std::string service_;
  const std::chrono::milliseconds retry_;
  const Clock clock_;
  bool connected_ = false;  // when true, nothing is held
  std::deque<std::string> held_;
  std::optional<std::chrono::steady_clock::time_point> last_attempt_;
  bool reported_ = false;  // the current outage has been logged
};

}  // namespace orvalin
