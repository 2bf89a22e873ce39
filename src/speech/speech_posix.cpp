#include "speech/engines.h"

namespace orvalin {

namespace {

// There is no speech engine here yet: the text reaches the user only through
// the log line that say() writes. The voice swallows it so that the queue is
// still drained in order.
class SilentVoice : public SapiVoice {
 public:
  void speak(std::string_view, bool) override {}
  void purge() override {}
};

class PosixSpeechEngines : public SpeechEngines {
 public:
  std::string_view voice_name() const override { return "silent voice"; }
  Result<std::unique_ptr<SapiVoice>> create_voice() override {
    return std::make_unique<SilentVoice>();
  }
};

}  // namespace

std::unique_ptr<SpeechEngines> open_speech_engines() {
  return std::make_unique<PosixSpeechEngines>();
}

}  // namespace orvalin
