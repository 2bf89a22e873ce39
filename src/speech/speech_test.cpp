#include "speech/speech.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <deque>
#include <mutex>
#include <new>
#include <string>
#include <thread>
#include <vector>

#include "speech/engines.h"

namespace orvalin {
namespace {

using Calls = std::vector<std::string>;

// What the fake engines were asked, in order, and how they answer. Shared
// with the speech thread in the threaded tests.
struct Script {
  std::mutex mutex;  // guards everything below
  std::condition_variable closed_signal;
  Calls calls;
  bool has_nvda = true;
  // Answers of nvdaController_testIfRunning, one per question; when used up,
  // `nvda_running`.
  std::deque<bool> nvda_answers;
  bool nvda_running = true;
  // How many voice creations fail before one succeeds.
  int voice_failures = 0;
  // A text whose speaking throws, as an allocation failure would.
  std::string throw_on = "(nothing)";
  bool closed = false;

  void record(std::string call) {
    std::lock_guard lock(mutex);
    calls.push_back(std::move(call));
  }
  Calls taken() {
    std::lock_guard lock(mutex);
    return std::exchange(calls, {});
  }
};

class FakeNvda : public NvdaClient {
 public:
  explicit FakeNvda(Script& script) : script_(script) {}
  ~FakeNvda() override { script_.record("nvda unload"); }
  bool is_running() override {
    std::lock_guard lock(script_.mutex);
    bool running = script_.nvda_running;
    if (!script_.nvda_answers.empty()) {
      running = script_.nvda_answers.front();
      script_.nvda_answers.pop_front();
    }
    script_.calls.push_back(running ? "nvda running?yes" : "nvda running?no");
    return running;
  }
  void speak_text(std::string_view text) override {
    script_.record("nvda speak " + std::string(text));
    if (text == script_.throw_on) throw std::bad_alloc();
  }
  void cancel_speech() override { script_.record("nvda cancel"); }

 private:
  Script& script_;
};

class FakeVoice : public SapiVoice {
 public:
  explicit FakeVoice(Script& script) : script_(script) {}
  ~FakeVoice() override { script_.record("sapi release"); }
  void speak(std::string_view text, bool purge) override {
    script_.record(std::string(purge ? "sapi speak purge " : "sapi speak ") +
                   std::string(text));
  }
  void purge() override { script_.record("sapi purge"); }

 private:
  Script& script_;
};

class FakeEngines : public SpeechEngines {
 public:
  explicit FakeEngines(Script& script) : script_(script) {
    if (script.has_nvda) nvda_ = std::make_unique<FakeNvda>(script);
  }
  ~FakeEngines() override {
    nvda_.reset();
    std::lock_guard lock(script_.mutex);
    script_.calls.push_back("engines closed");
    script_.closed = true;
    script_.closed_signal.notify_all();
  }
  NvdaClient* nvda() override { return nvda_.get(); }
  Result<std::unique_ptr<SapiVoice>> create_voice() override {
    std::lock_guard lock(script_.mutex);
    if (script_.voice_failures > 0) {
      --script_.voice_failures;
      script_.calls.push_back("sapi create failed");
      return fail("Class not registered");
    }
    script_.calls.push_back("sapi create");
    return std::make_unique<FakeVoice>(script_);
  }

 private:
  Script& script_;
  std::unique_ptr<NvdaClient> nvda_;
};

// Sends the commands through a Speech handle, then serves them on this
// thread until the queue closes. Returns what the handle logged.
template <class Send>
std::string serve(Script& script, Send send) {
  auto [sender, receiver] = make_channel<SpeechCommand>();
  testing::internal::CaptureStdout();
  {
    Speech speech(std::move(sender));
    send(speech);
  }
  serve_speech(std::move(receiver), std::make_unique<FakeEngines>(script));
  return testing::internal::GetCapturedStdout();
}

TEST(SpeechTest, NvdaInterruptsOnlyForSayAndStopOnlyCancels) {
  Script script;
  const std::string logged = serve(script, [](const Speech& speech) {
    speech.say("Deck 1 playing");
    speech.say_queued("Loop 4 beats");
    speech.say_queued("Deck 2 loaded");
    speech.stop();
    speech.say("");
  });
  EXPECT_EQ(logged,
            "say: Deck 1 playing\nsay: Loop 4 beats\nsay: Deck 2 loaded\n"
            "say: \n");
  EXPECT_EQ(script.taken(), (Calls{
                                "nvda running?yes",
                                "nvda cancel",
                                "nvda speak Deck 1 playing",
                                "nvda running?yes",
                                "nvda speak Loop 4 beats",
                                "nvda running?yes",
                                "nvda speak Deck 2 loaded",
                                "nvda running?yes",
                                "nvda cancel",
                                "nvda running?yes",
                                "nvda cancel",
                                "nvda speak ",
                                "nvda unload",
                                "engines closed",
                            }));
}

TEST(SpeechTest, EngineIsChosenAnewForEveryMessage) {
  Script script;
  script.nvda_answers = {false, false, true, false};
  serve(script, [](const Speech& speech) {
    speech.say("one");
    speech.say_queued("two");
    speech.say("three");
    speech.stop();
  });
  // The voice made for the first message is kept while NVDA takes over and
  // serves again when NVDA stops. Each switch first silences the engine
  // that spoke before.
  EXPECT_EQ(script.taken(), (Calls{
                                "nvda running?no",
                                "sapi create",
                                "sapi speak purge one",
                                "nvda running?no",
                                "sapi speak two",
                                "nvda running?yes",
                                "sapi purge",
                                "nvda cancel",
                                "nvda speak three",
                                "nvda running?no",
                                "nvda cancel",
                                "sapi purge",
                                "sapi release",
                                "nvda unload",
                                "engines closed",
                            }));
}

TEST(SpeechTest, WithoutNvdaClientSapiSpeaksAndStopNeedsAVoice) {
  Script script;
  script.has_nvda = false;
  serve(script, [](const Speech& speech) {
    speech.stop();  // no voice yet: nothing happens, none is made
    speech.say_queued("Starting Kelvo");
    speech.say_queued("Deck 1 loaded");
    speech.say("Deck 1 playing");
    speech.stop();
  });
  EXPECT_EQ(script.taken(), (Calls{
                                "sapi create",
                                "sapi speak Starting Kelvo",
                                "sapi speak Deck 1 loaded",
                                "sapi speak purge Deck 1 playing",
                                "sapi purge",
                                "sapi release",
                                "engines closed",
                            }));
}

TEST(SpeechTest, UnavailableSapiIsLoggedPerMessageAndRetried) {
  Script script;
  script.nvda_running = false;
  script.voice_failures = 2;
  const std::string logged = serve(script, [](const Speech& speech) {
    speech.say("first");
    speech.stop();
    speech.say_queued("second");
    speech.say_queued("third");
  });
  EXPECT_EQ(logged,
            "say: first\nsay: second\nsay: third\n"
            "SAPI unavailable: Class not registered\n"
            "SAPI unavailable: Class not registered\n");
  EXPECT_EQ(script.taken(), (Calls{
                                "nvda running?no",
                                "sapi create failed",
                                "nvda running?no",
                                "nvda running?no",
                                "sapi create failed",
                                "nvda running?no",
                                "sapi create",
                                "sapi speak third",
                                "sapi release",
                                "nvda unload",
                                "engines closed",
                            }));
}

TEST(SpeechTest, AFailingMessageIsLostButNotTheThread) {
  Script script;
  script.throw_on = "too long";
  const std::string logged = serve(script, [](const Speech& speech) {
    speech.say_queued("too long");
    speech.say_queued("next");
  });
  EXPECT_NE(logged.find("speech: std::bad_alloc\n"), std::string::npos);
  EXPECT_EQ(script.taken(), (Calls{
                                "nvda running?yes",
                                "nvda speak too long",
                                "nvda running?yes",
                                "nvda speak next",
                                "nvda unload",
                                "engines closed",
                            }));
}

TEST(SpeechTest, HandleLogsEvenWithoutQueueAndDropsAfterThreadEnds) {
  testing::internal::CaptureStdout();
  Speech unconnected;
  unconnected.say("nobody listens");
  unconnected.stop();

  auto [sender, receiver] = make_channel<SpeechCommand>();
  Speech speech(std::move(sender));
  { Receiver<SpeechCommand> gone = std::move(receiver); }
  speech.say_queued("too late");
  speech.stop();
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "say: nobody listens\nsay: too late\n");
}

TEST(SpeechTest, ThreadSpeaksEveryonesMessagesInQueueOrderAndClosesLast) {
  Script script;
  Speech speech = start_speech_with(
      [&script] { return std::make_unique<FakeEngines>(script); });

  // Each sender's own messages keep their order whatever the interleaving.
  constexpr int kPerThread = 50;
  testing::internal::CaptureStdout();
  std::vector<std::thread> senders;
  for (int t = 0; t < 3; ++t) {
    senders.emplace_back([speech, t] {
      for (int i = 0; i < kPerThread; ++i) {
        speech.say_queued(std::to_string(t) + ":" + std::to_string(i));
      }
    });
  }
  for (std::thread& sender : senders) sender.join();
  senders.clear();
  testing::internal::GetCapturedStdout();
  speech.reset();

  {
    std::unique_lock lock(script.mutex);
    ASSERT_TRUE(script.closed_signal.wait_for(lock, std::chrono::seconds(60),
                                              [&] { return script.closed; }));
  }
  const Calls calls = script.taken();
  std::vector<int> next(3, 0);
  int spoken = 0;
  for (const std::string& call : calls) {
    if (!call.starts_with("nvda speak ")) continue;
    const int t = call[11] - '0';
    ASSERT_EQ(call.substr(11),
              std::to_string(t) + ":" + std::to_string(next[t]));
    ++next[t];
    ++spoken;
  }
  EXPECT_EQ(spoken, 3 * kPerThread);
  ASSERT_GE(calls.size(), 2u);
  EXPECT_EQ(calls[calls.size() - 2], "nvda unload");
  EXPECT_EQ(calls.back(), "engines closed");
}

TEST(SpeechTest, NvdaClientCandidates) {
  using Paths = std::vector<std::filesystem::path>;
  const Layout dev = Layout::development;
  EXPECT_EQ(nvda_client_candidates("/opt/orvalin/bin/orvalin.exe", dev),
            (Paths{"/opt/orvalin/bin/nvdaControllerClient.dll",
                   "/opt/vendor/nvda/nvdaControllerClient.dll"}));
  // Builds for users look only beside the program.
  EXPECT_EQ(
      nvda_client_candidates("/opt/orvalin/bin/orvalin.exe", Layout::installed),
      (Paths{"/opt/orvalin/bin/nvdaControllerClient.dll"}));
  // Two folders above /bin is not there: only the program's own folder.
  EXPECT_EQ(nvda_client_candidates("/bin/orvalin.exe", dev),
            (Paths{"/bin/nvdaControllerClient.dll"}));
  EXPECT_EQ(nvda_client_candidates("/x/bin/orvalin.exe", dev),
            (Paths{"/x/bin/nvdaControllerClient.dll",
                   "/vendor/nvda/nvdaControllerClient.dll"}));
  EXPECT_EQ(nvda_client_candidates("/orvalin.exe", dev),
            (Paths{"/nvdaControllerClient.dll"}));
}

}  // namespace
}  // namespace orvalin
