// The speech thread's engines behind one seam: the NVDA controller client and
// the SAPI voice. Each platform provides them (open_speech_engines); tests
// provide fakes. Engines are opened, used and closed on the speech thread
// only.
#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "base/channel.h"
#include "base/layout.h"
#include "base/result.h"
#include "speech/speech.h"

namespace orvalin {

// The loaded NVDA controller client library. Destroying it unloads the
// library.
class NvdaClient {
 public:
  virtual ~NvdaClient() = default;
  // nvdaController_testIfRunning answered 0.
  virtual bool is_running() = 0;
  // nvdaController_speakText; does not cut off what NVDA is saying.
  virtual void speak_text(std::string_view text) = 0;
  // nvdaController_cancelSpeech.
  virtual void cancel_speech() = 0;
};

// One SAPI voice. Destroying it releases the voice.
class SapiVoice {
 public:
  virtual ~SapiVoice() = default;
  // Speaks without waiting; with `purge` whatever is being spoken or queued is
  // dropped first. Failures are ignored.
  virtual void speak(std::string_view text, bool purge) = 0;
  // Drops whatever is being spoken or queued. Failures are ignored.
  virtual void purge() = 0;
};

// What the platform offers the speech thread. Any voice it created must be
// destroyed before the engines are.
class SpeechEngines {
 public:
  virtual ~SpeechEngines() = default;
  // The NVDA client, fixed when the engines were opened; null when no client
  // library was found.
  virtual NvdaClient* nvda() = 0;
  // A new voice (never null), or the reason why none can be made.
  virtual Result<std::unique_ptr<SapiVoice>> create_voice() = 0;
};

// The places where the NVDA client library is looked for, in order, for the
// program at `executable`: its own folder, then in the development layout
// "vendor\nvda" two folders above that folder when there is such an
// ancestor.
std::vector<std::filesystem::path> nvda_client_candidates(
    const std::filesystem::path& executable, Layout layout = build_layout());

// The platform's engines, opened on the calling thread (the speech thread):
// the first candidate that exists and loads becomes the NVDA client, when it
// has all three entry points. The first form uses nvda_client_candidates()
// of the running program.
std::unique_ptr<SpeechEngines> open_speech_engines();
std::unique_ptr<SpeechEngines> open_speech_engines(
    const std::vector<std::filesystem::path>& nvda_candidates);

// The speech thread's loop: speaks each command in arrival order until the
// queue closes, then releases the voice and closes the engines.
void serve_speech(Receiver<SpeechCommand> commands,
                  std::unique_ptr<SpeechEngines> engines);

// start_speech() with the engines that `open` makes on the new thread.
Speech start_speech_with(std::function<std::unique_ptr<SpeechEngines>()> open);

}  // namespace orvalin
