// The real Windows engines against the NVDA controller client test double
// (tools/nvdastub), which sits next to this program: the first place where
// the program looks for the client library.
#include <gtest/gtest.h>
#include <windows.h>
// windows.h first: sapi.h needs its types.
#include <objbase.h>
#include <sapi.h>

#include <chrono>
#include <condition_variable>
#include <fstream>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "base/os.h"
#include "base/winstr.h"
#include "speech/engines.h"
#include "speech/sapi_win.h"
#include "speech/speech.h"

namespace orvalin {
namespace {

using Lines = std::vector<std::string>;
namespace fs = std::filesystem;

fs::path program_folder() { return executable_path().value().parent_path(); }

class SpeechWinTest : public testing::Test {
 protected:
  void SetUp() override {
    stub_ = program_folder() / "nvdaControllerClient.dll";
    if (!path_exists(stub_)) {
      // The build copies it there; copy it ourselves when run from elsewhere.
      const auto built = get_env("ORVALIN_NVDASTUB");
      ASSERT_TRUE(built) << "no NVDA stub next to the test and no "
                            "ORVALIN_NVDASTUB";
      fs::copy_file(utf8_to_path(*built), stub_);
    }
    folder_ = temp_dir() /
              ("orvalin-speech-" + std::to_string(GetCurrentProcessId()) + "-" +
               testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(folder_);
    fs::create_directories(folder_);
    stub_log_ = folder_ / "nvda.log";
    stub_off_ = folder_ / "nvda-off";
    SetEnvironmentVariableW(L"ORVALIN_NVDA_STUB_LOG", stub_log_.c_str());
    SetEnvironmentVariableW(L"ORVALIN_NVDA_STUB_OFF", stub_off_.c_str());
  }
  void TearDown() override {
    SetEnvironmentVariableW(L"ORVALIN_NVDA_STUB_LOG", nullptr);
    SetEnvironmentVariableW(L"ORVALIN_NVDA_STUB_OFF", nullptr);
    std::error_code ignored;
    fs::remove_all(folder_, ignored);
  }

  Lines stub_lines() const {
    std::ifstream in(stub_log_, std::ios::binary);
    Lines lines;
    std::string line;
    while (std::getline(in, line)) lines.push_back(line);
    return lines;
  }

  // The stub's lines once there are at least `count` (the speech thread works
  // on its own time), or what there is after a generous wait.
  Lines wait_for_stub_lines(size_t count) const {
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::seconds(60);
    Lines lines = stub_lines();
    while (lines.size() < count &&
           std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
      lines = stub_lines();
    }
    return lines;
  }

  void set_nvda_running(bool running) {
    if (running) {
      fs::remove(stub_off_);
    } else {
      std::ofstream(stub_off_) << "off";
    }
  }

  fs::path stub_;
  fs::path folder_;
  fs::path stub_log_;
  fs::path stub_off_;
};

TEST_F(SpeechWinTest, SpeechThreadSpeaksThroughNvda) {
  Speech speech = start_speech();
  testing::internal::CaptureStdout();
  speech.say("Deck 1 playing");
  speech.say_queued("Loop 4 beats");
  speech.say("Tempo 128 BPM, \xc3\xa9t\xc3\xa9 \xe2\x99\xaa");
  speech.stop();
  const Lines lines = wait_for_stub_lines(6);
  testing::internal::GetCapturedStdout();
  speech.reset();
  EXPECT_EQ(lines, (Lines{
                       "cancel",
                       "speak Deck 1 playing",
                       "speak Loop 4 beats",
                       "cancel",
                       "speak Tempo 128 BPM, \xc3\xa9t\xc3\xa9 \xe2\x99\xaa",
                       "cancel",
                   }));
}

// Passes every call on to the real engines and lets the test see when the
// SAPI voice was used.
struct Seen {
  std::mutex mutex;  // guards everything below
  std::condition_variable changed;
  int nvda_not_running = 0;
  int voice_speaks = 0;
  std::string voice_error;
};

class SeenNvda : public NvdaClient {
 public:
  SeenNvda(NvdaClient& inner, Seen& seen) : inner_(inner), seen_(seen) {}
  bool is_running() override {
    const bool running = inner_.is_running();
    std::lock_guard lock(seen_.mutex);
    if (!running) ++seen_.nvda_not_running;
    return running;
  }
  void speak_text(std::string_view text) override { inner_.speak_text(text); }
  void cancel_speech() override { inner_.cancel_speech(); }

 private:
  NvdaClient& inner_;
  Seen& seen_;
};

class SeenVoice : public SapiVoice {
 public:
  SeenVoice(std::unique_ptr<SapiVoice> inner, Seen& seen)
      : inner_(std::move(inner)), seen_(seen) {}
  void speak(std::string_view text, bool purge) override {
    inner_->speak(text, purge);
    std::lock_guard lock(seen_.mutex);
    ++seen_.voice_speaks;
    seen_.changed.notify_all();
  }
  void purge() override { inner_->purge(); }

 private:
  std::unique_ptr<SapiVoice> inner_;
  Seen& seen_;
};

class SeenEngines : public SpeechEngines {
 public:
  SeenEngines(std::unique_ptr<SpeechEngines> inner, Seen& seen)
      : inner_(std::move(inner)), seen_(seen) {
    if (inner_->nvda())
      nvda_ = std::make_unique<SeenNvda>(*inner_->nvda(), seen);
  }
  ~SeenEngines() override { nvda_.reset(); }
  NvdaClient* nvda() override { return nvda_.get(); }
  Result<std::unique_ptr<SapiVoice>> create_voice() override {
    Result<std::unique_ptr<SapiVoice>> voice = inner_->create_voice();
    if (!voice) {
      std::lock_guard lock(seen_.mutex);
      seen_.voice_error = voice.error();
      seen_.changed.notify_all();
      return voice;
    }
    return std::make_unique<SeenVoice>(std::move(*voice), seen_);
  }

 private:
  std::unique_ptr<SpeechEngines> inner_;
  Seen& seen_;
  std::unique_ptr<NvdaClient> nvda_;
};

TEST_F(SpeechWinTest, NvdaNotRunningFallsBackToSapi) {
  // Wine's voice is created but answers Speak with "not implemented"; that
  // answer is ignored like any Speak failure.
  set_nvda_running(false);
  auto seen = std::make_shared<Seen>();
  Speech speech = start_speech_with([seen] {
    return std::make_unique<SeenEngines>(open_speech_engines(), *seen);
  });
  testing::internal::CaptureStdout();
  speech.say_queued("Deck 2 loaded");
  {
    std::unique_lock lock(seen->mutex);
    ASSERT_TRUE(seen->changed.wait_for(lock, std::chrono::seconds(60), [&] {
      return seen->voice_speaks > 0 || !seen->voice_error.empty();
    }));
    EXPECT_EQ(seen->voice_error, "");
    EXPECT_EQ(seen->nvda_not_running, 1);
  }
  // NVDA starts: the next message goes to it.
  set_nvda_running(true);
  speech.say("Deck 2 playing");
  speech.stop();
  const Lines lines = wait_for_stub_lines(3);
  const std::string logged = testing::internal::GetCapturedStdout();
  speech.reset();
  EXPECT_EQ(lines, (Lines{"cancel", "speak Deck 2 playing", "cancel"}));
  EXPECT_NE(logged.find("say: Deck 2 loaded\n"), std::string::npos) << logged;
  EXPECT_EQ(logged.find("SAPI unavailable"), std::string::npos) << logged;
}

TEST(SapiFlagsTest, TextIsNeverReadAsMarkup) {
  // Wine's voice does not speak, so the flags themselves are checked.
  EXPECT_EQ(sapi_speak_flags(false), unsigned(SPF_ASYNC | SPF_IS_NOT_XML));
  EXPECT_EQ(sapi_speak_flags(true),
            unsigned(SPF_ASYNC | SPF_IS_NOT_XML | SPF_PURGEBEFORESPEAK));
}

TEST_F(SpeechWinTest, ClientCandidatesAreTriedInOrder) {
  // Not a library, then missing: both skipped.
  const fs::path junk = folder_ / "junk" / "nvdaControllerClient.dll";
  fs::create_directories(junk.parent_path());
  std::ofstream(junk) << "not a library";
  const fs::path missing = folder_ / "missing" / "nvdaControllerClient.dll";
  {
    auto engines = open_speech_engines({junk, missing, stub_});
    ASSERT_NE(engines->nvda(), nullptr);
    EXPECT_TRUE(engines->nvda()->is_running());
    engines->nvda()->speak_text("direct");
    engines->nvda()->cancel_speech();
    auto voice = engines->create_voice();
    ASSERT_TRUE(voice) << voice.error();
    (*voice)->speak("to the voice", true);
    (*voice)->purge();
  }
  EXPECT_EQ(stub_lines(), (Lines{"speak direct", "cancel"}));

  // A library without the client's functions ends the search.
  wchar_t system[MAX_PATH];
  const UINT length = GetSystemDirectoryW(system, MAX_PATH);
  ASSERT_GT(length, 0u);
  const fs::path kernel32 =
      fs::path(std::wstring(system, length)) / "kernel32.dll";
  EXPECT_EQ(open_speech_engines({kernel32, stub_})->nvda(), nullptr);
  EXPECT_EQ(open_speech_engines({})->nvda(), nullptr);
}

}  // namespace
}  // namespace orvalin
