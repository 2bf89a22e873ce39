// The speech queue. Speech is the cheap, copyable sending handle that any
// thread uses; the thread "speech" alone speaks, through the first screen
// reader that runs and otherwise through the SAPI voice, and alone holds the
// speech settings in force. Sending never blocks.
#pragma once

#include <string>
#include <string_view>
#include <variant>

#include "base/channel.h"
#include "base/timing.h"
#include "config/config.h"

namespace orvalin {

struct Speak {
  std::string text;
  bool interrupt = false;
};
struct StopSpeaking {};
using SpeechCommand = std::variant<Speak, StopSpeaking, SpeechSettings>;

class Speech {
 public:
  Speech() = default;
  explicit Speech(Sender<SpeechCommand> sender) : sender_(std::move(sender)) {}

  // Logs "say: " + text, then queues it to interrupt what is being said.
  void say(std::string_view text) const;
  // Logs "say: " + text, then queues it after what is being said.
  void say_queued(std::string_view text) const;
  // Silences current and queued speech; no log line.
  void stop() const;
  // Puts `settings` in force from the next message on; no log line.
  void use_settings(const SpeechSettings& settings) const;

  // Drops this handle (the queue closes with the last one).
  void reset() { sender_.reset(); }

 private:
  Sender<SpeechCommand> sender_;
};

// Creates the queue and starts the thread "speech" serving it with the
// platform's engines, which take their waits from `timing`. A thread that
// cannot start stops the program with "spawn speech thread".
Speech start_speech(const Timing& timing);

}  // namespace orvalin
