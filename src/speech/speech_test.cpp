#include "speech/speech.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>
#include <new>
#include <optional>
#include <set>
#include <sstream>
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
  // Whether the platform knows any reader at all.
  bool platform_has_readers = true;
  // The readers whose interface was found, and those that say they run.
  std::set<ScreenReader> found = {ScreenReader::nvda};
  std::set<ScreenReader> running = {ScreenReader::nvda};
  // The windows there are, as "class|title".
  std::set<std::string> windows = {"wxWindowClassNR|NVDA", "JFWUI2|JAWS"};
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

class FakeReader : public Reader {
 public:
  FakeReader(Script& script, ScreenReader kind)
      : script_(script), kind_(kind), name_(reader_name(kind)) {}
  bool is_running() override {
    std::lock_guard lock(script_.mutex);
    return script_.running.contains(kind_);
  }
  void speak(std::string_view text, bool interrupt) override {
    script_.record(name_ + (interrupt ? " speak! " : " speak ") +
                   std::string(text));
    if (text == script_.throw_on) throw std::bad_alloc();
  }
  void stop() override { script_.record(name_ + " stop"); }
  void braille(std::string_view text) override {
    script_.record(name_ + " braille " + std::string(text));
  }

 private:
  Script& script_;
  ScreenReader kind_;
  std::string name_;
};

class FakeVoice : public SapiVoice {
 public:
  explicit FakeVoice(Script& script) : script_(script) {}
  ~FakeVoice() override { script_.record("SAPI release"); }
  void speak(std::string_view text, bool purge) override {
    script_.record((purge ? "SAPI speak! " : "SAPI speak ") +
                   std::string(text));
  }
  void purge() override { script_.record("SAPI purge"); }

 private:
  Script& script_;
};

class FakeEngines : public SpeechEngines {
 public:
  explicit FakeEngines(Script& script) : script_(script) {
    if (!script.platform_has_readers) return;
    // The platform's order of detection is what the cases expect.
    for (ScreenReader kind : kWindowsReaders) {
      slots_.push_back({kind, script.found.contains(kind)
                                  ? std::make_unique<FakeReader>(script, kind)
                                  : nullptr});
    }
  }
  ~FakeEngines() override {
    std::lock_guard lock(script_.mutex);
    script_.calls.push_back("engines closed");
    script_.closed = true;
    script_.closed_signal.notify_all();
  }
  std::span<ReaderSlot> readers() override { return slots_; }
  bool window_exists(std::string_view class_name,
                     std::string_view title) override {
    std::lock_guard lock(script_.mutex);
    for (const std::string& window : script_.windows) {
      const size_t bar = window.find('|');
      if (window.substr(0, bar) == class_name &&
          (title.empty() || window.substr(bar + 1) == title)) {
        return true;
      }
    }
    return false;
  }
  std::string_view voice_name() const override { return "SAPI"; }
  Result<std::unique_ptr<SapiVoice>> create_voice() override {
    std::lock_guard lock(script_.mutex);
    if (script_.voice_failures > 0) {
      --script_.voice_failures;
      script_.calls.push_back("SAPI create failed");
      return fail("Class not registered");
    }
    script_.calls.push_back("SAPI create");
    return std::make_unique<FakeVoice>(script_);
  }

 private:
  Script& script_;
  std::vector<ReaderSlot> slots_;
};

// Runs the steps through a Speaker on this thread, between them changing
// what runs. Steps: "say T", "queue T", "stop", "use R" (screen_reader R),
// "braille off", "+R"/"-R" (reader R says it runs or not), "+window C|T"/
// "-window C|T". Returns the engines' calls, each step's log lines after
// its calls.
Calls run_steps(Script& script, const std::vector<std::string>& steps) {
  Calls calls;
  auto engines = std::make_unique<FakeEngines>(script);
  Speaker speaker(*engines);
  SpeechSettings settings;
  for (const std::string& step : steps) {
    std::istringstream words(step);
    std::string verb, rest;
    std::getline(words >> verb >> std::ws, rest);
    testing::internal::CaptureStdout();
    if (verb == "say" || verb == "queue") {
      speaker.handle(Speak{rest, verb == "say"});
    } else if (verb == "stop") {
      speaker.handle(StopSpeaking{});
    } else if (verb == "use" || verb == "braille") {
      if (verb == "use")
        settings.screen_reader = parse_screen_reader(rest).value();
      if (verb == "braille") settings.braille = rest == "on";
      speaker.handle(settings);
    } else if (verb == "+window") {
      script.windows.insert(rest);
    } else if (verb == "-window") {
      script.windows.erase(rest);
    } else if (verb[0] == '+') {
      script.running.insert(parse_screen_reader(verb.substr(1)).value());
    } else if (verb[0] == '-') {
      script.running.erase(parse_screen_reader(verb.substr(1)).value());
    } else {
      ADD_FAILURE() << "unknown step " << step;
    }
    std::istringstream logged(testing::internal::GetCapturedStdout());
    for (const std::string& call : script.taken()) calls.push_back(call);
    for (std::string line; std::getline(logged, line);) {
      calls.push_back("log " + line);
    }
  }
  return calls;
}

TEST(SpeechTest, ReaderSelection) {
  const std::set<ScreenReader> all(kWindowsReaders.begin(),
                                   kWindowsReaders.end());
  struct Case {
    const char* name;
    std::optional<std::set<ScreenReader>> found;  // none: no reader known
    std::vector<std::string> steps;
    Calls calls;
  };
  const Case cases[] = {
      {"each reader in order; the last one silenced on every switch",
       all,
       {"+jaws", "+zdsr", "+system_access", "say a", "-nvda", "queue b",
        "-window JFWUI2|JAWS", "say c", "-zdsr", "queue d", "-system_access",
        "stop", "queue e", "+nvda", "stop"},
       {"NVDA speak! a",
        "NVDA braille a",
        "log speech: found NVDA, JAWS, ZDSR, System Access",
        "log speech: now NVDA",
        "NVDA stop",
        "JAWS speak b",
        "JAWS braille b",
        "log speech: now JAWS",
        "JAWS stop",
        "ZDSR speak! c",
        "ZDSR braille c",
        "log speech: now ZDSR",
        "ZDSR stop",
        "System Access speak d",
        "System Access braille d",
        "log speech: now System Access",
        "System Access stop",
        "log speech: now SAPI",
        "SAPI create",
        "SAPI speak e",
        "SAPI purge",
        "NVDA stop",
        "log speech: now NVDA"}},
      {"NVDA needs its window as well as its client's answer",
       std::set{ScreenReader::nvda},
       {"-window wxWindowClassNR|NVDA", "+window wxWindowClassNR|other",
        "say a", "+window wxWindowClassNR|NVDA", "say b"},
       {"SAPI create", "SAPI speak! a",
        "log speech: found NVDA; not found: JAWS, ZDSR, System Access",
        "log speech: now SAPI", "SAPI purge", "NVDA speak! b", "NVDA braille b",
        "log speech: now NVDA"}},
      {"a forced reader or SAPI alone, SAPI while the reader does not run",
       all,
       {"+jaws", "+zdsr", "use zdsr", "queue a", "-zdsr", "queue b", "use sapi",
        "+zdsr", "queue c", "use auto", "queue d"},
       {"log speech: found NVDA, JAWS, ZDSR, System Access", "ZDSR speak a",
        "ZDSR braille a", "log speech: now ZDSR", "ZDSR stop", "SAPI create",
        "SAPI speak b", "log speech: now SAPI", "SAPI speak c", "SAPI purge",
        "NVDA speak d", "NVDA braille d", "log speech: now NVDA"}},
      {"braille follows the setting",
       std::set{ScreenReader::jaws},
       {"+jaws", "say a", "braille off", "say b", "braille on", "queue c"},
       {"JAWS speak! a", "JAWS braille a",
        "log speech: found JAWS; not found: NVDA, ZDSR, System Access",
        "log speech: now JAWS", "JAWS speak! b", "JAWS speak c",
        "JAWS braille c"}},
      {"no reader found",
       std::set<ScreenReader>{},
       {"stop", "queue a"},
       {"log speech: found none; not found: NVDA, JAWS, ZDSR, System Access",
        "log speech: now SAPI", "SAPI create", "SAPI speak a"}},
      {"a platform that knows no reader logs none",
       std::nullopt,
       {"queue a"},
       {"SAPI create", "SAPI speak a"}},
  };
  for (const Case& c : cases) {
    Script script;
    script.platform_has_readers = c.found.has_value();
    script.found = c.found.value_or(std::set<ScreenReader>{});
    EXPECT_EQ(run_steps(script, c.steps), c.calls) << c.name;
  }
}

TEST(SpeechTest, JawsBrailleCallHasNoQuoteOrBackslashInItsString) {
  EXPECT_EQ(jaws_braille_call("Deck 1 \"Intro\" C:\\x \xc3\xa9"),
            "BrailleString(\"Deck 1 'Intro' C: x \xc3\xa9\")");
}

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

TEST(SpeechTest, UnavailableSapiIsLoggedPerMessageAndRetried) {
  Script script;
  script.running.clear();
  script.voice_failures = 2;
  const std::string logged = serve(script, [](const Speech& speech) {
    speech.say("first");
    speech.stop();
    speech.say_queued("second");
    speech.say_queued("third");
  });
  EXPECT_EQ(logged,
            "say: first\nsay: second\nsay: third\n"
            "speech: found NVDA; not found: JAWS, ZDSR, System Access\n"
            "speech: now SAPI\n"
            "SAPI unavailable: Class not registered\n"
            "SAPI unavailable: Class not registered\n");
  EXPECT_EQ(script.taken(),
            (Calls{"SAPI create failed", "SAPI create failed", "SAPI create",
                   "SAPI speak third", "SAPI release", "engines closed"}));
}

TEST(SpeechTest, AFailingMessageIsLostButNotTheThread) {
  Script script;
  script.throw_on = "too long";
  const std::string logged = serve(script, [](const Speech& speech) {
    speech.say_queued("too long");
    speech.say_queued("next");
  });
  EXPECT_NE(logged.find("speech: std::bad_alloc\n"), std::string::npos);
  EXPECT_EQ(script.taken(), (Calls{"NVDA speak too long", "NVDA speak next",
                                   "NVDA braille next", "engines closed"}));
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
  testing::internal::GetCapturedStdout();
  speech.reset();

  {
    std::unique_lock lock(script.mutex);
    ASSERT_TRUE(script.closed_signal.wait_for(lock, std::chrono::seconds(60),
                                              [&] { return script.closed; }));
  }
  const Calls calls = script.taken();
  std::vector<int> next(3, 0);
  for (const std::string& call : calls) {
    if (!call.starts_with("NVDA speak ")) continue;
    const int t = call[11] - '0';
    ASSERT_EQ(call.substr(11),
              std::to_string(t) + ":" + std::to_string(next[t]));
    ++next[t];
  }
  EXPECT_EQ(next, std::vector<int>(3, kPerThread));
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
