#include "speech/reconnect.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace orvalin {
namespace {

using Calls = std::vector<std::string>;
using std::chrono::milliseconds;

// The speech service as the link sees it. Shared with the speech thread in
// the threaded case.
struct Service {
  std::mutex mutex;  // guards everything below
  bool up = true;
  // The connection the link holds was made before the service last went
  // down: saying anything on it fails.
  bool broken = false;
  Calls calls;
};

class FakeLink : public SpeechLink {
 public:
  explicit FakeLink(Service& service) : service_(service) {}
  Status open() override {
    std::lock_guard lock(service_.mutex);
    service_.calls.push_back(service_.up ? "open" : "open failed");
    if (!service_.up) return std::unexpected("refused");
    open_ = true;
    service_.broken = false;
    return {};
  }
  bool say(std::string_view text) override {
    std::lock_guard lock(service_.mutex);
    const bool ok = open_ && service_.up && !service_.broken;
    service_.calls.push_back((ok ? "say " : "say failed ") + std::string(text));
    return ok;
  }
  bool cancel() override {
    std::lock_guard lock(service_.mutex);
    const bool ok = open_ && service_.up && !service_.broken;
    service_.calls.push_back(ok ? "cancel" : "cancel failed");
    return ok;
  }
  void close() override { open_ = false; }

 private:
  Service& service_;
  bool open_ = false;
};

// Steps: "say T", "queue T", "stop", "down", "up" (the service is restarted:
// the old connection is broken), "wait N" (the clock moves N ms on),
// "retry". Returns the link's calls and the log lines, each step's lines
// after its calls.
Calls run_steps(const std::vector<std::string>& steps) {
  Service service;
  auto now = std::chrono::steady_clock::time_point{};
  ReconnectingVoice voice(std::make_unique<FakeLink>(service), "daemon",
                          milliseconds(5000), [&now] { return now; });
  Calls calls;
  for (const std::string& step : steps) {
    std::istringstream words(step);
    std::string verb, rest;
    std::getline(words >> verb >> std::ws, rest);
    testing::internal::CaptureStdout();
    if (verb == "say" || verb == "queue") {
      voice.speak(rest, verb == "say");
    } else if (verb == "stop") {
      voice.purge();
    } else if (verb == "down" || verb == "up") {
      service.up = verb == "up";
      service.broken = true;
    } else if (verb == "wait") {
      now += milliseconds(std::stoi(rest));
    } else if (verb == "retry") {
      const auto wait = voice.retry_in();
      calls.push_back(wait ? "retry in " + std::to_string(wait->count())
                           : "nothing held");
      voice.retry();
    } else {
      ADD_FAILURE() << "unknown step " << step;
    }
    std::istringstream logged(testing::internal::GetCapturedStdout());
    for (const std::string& call : std::exchange(service.calls, {})) {
      calls.push_back(call);
    }
    for (std::string line; std::getline(logged, line);) {
      calls.push_back("log " + line.substr(line.find("daemon")));
    }
  }
  return calls;
}

TEST(ReconnectingVoiceTest, NoSentenceIsLostWhenTheServiceRestarts) {
  // Restarted between two sentences: the next one fails on the old
  // connection and is spoken at once on a new one, without a log line.
  EXPECT_EQ(
      run_steps({"say one", "down", "up", "queue two", "say three", "retry"}),
      (Calls{"open", "say one", "say failed two", "open", "say two", "cancel",
             "say three", "nothing held"}));
  // A purge on the old connection fails the same way.
  EXPECT_EQ(run_steps({"say one", "down", "up", "say two"}),
            (Calls{"open", "say one", "cancel failed", "open", "say two"}));

  // Down for a while: one log line for the outage, the wait starts only
  // after the immediate attempt failed, and the held sentences are spoken
  // in order once it connects again, by a retry or by the next sentence.
  EXPECT_EQ(
      run_steps({"say one", "down", "queue two", "queue three", "wait 4999",
                 "retry", "say four", "up", "wait 1", "retry", "down",
                 "say five", "wait 5000", "up", "say six"}),
      (Calls{"open", "say one", "say failed two", "open failed",
             "log daemon unavailable: refused", "retry in 1", "retry in 0",
             "open", "say two", "say three", "say four", "cancel failed",
             "open failed", "log daemon unavailable: refused", "open",
             "say five", "say six"}));

  // Held sentences are bounded (the newest are kept) and a stop drops them.
  std::vector<std::string> steps = {"down"};
  for (int i = 1; i <= 10; ++i) steps.push_back("queue " + std::to_string(i));
  steps.insert(steps.end(), {"wait 5000", "up", "retry"});
  Calls calls = run_steps(steps);
  const Calls spoken(calls.end() - 8, calls.end());
  EXPECT_EQ(spoken, (Calls{"say 3", "say 4", "say 5", "say 6", "say 7", "say 8",
                           "say 9", "say 10"}));
  EXPECT_EQ(run_steps({"down", "queue one", "stop", "wait 5000", "up", "retry",
                       "queue two"}),
            (Calls{"open failed", "log daemon unavailable: refused",
                   "nothing held", "open", "say two"}));
}

TEST(ReconnectingVoiceTest, TheSpeechThreadRetriesWithoutANewMessage) {
  Service service;
  service.up = false;
  class Engines : public SpeechEngines {
   public:
    explicit Engines(Service& service) : service_(service) {}
    std::string_view voice_name() const override { return "daemon"; }
    Result<std::unique_ptr<SapiVoice>> create_voice() override {
      return std::make_unique<ReconnectingVoice>(
          std::make_unique<FakeLink>(service_), "daemon", milliseconds(1));
    }

   private:
    Service& service_;
  };
  auto [sender, receiver] = make_channel<SpeechCommand>();
  std::thread thread(serve_speech, std::move(receiver),
                     std::make_unique<Engines>(service));
  const auto called = [&service](const std::string& call) {
    for (int i = 0; i < 6000; ++i) {
      {
        std::lock_guard lock(service.mutex);
        if (std::ranges::find(service.calls, call) != service.calls.end()) {
          return true;
        }
      }
      std::this_thread::sleep_for(milliseconds(5));
    }
    return false;
  };
  // Held once the first attempt has failed; spoken by a retry alone.
  sender.send(Speak{"held", true});
  EXPECT_TRUE(called("open failed"));
  {
    std::lock_guard lock(service.mutex);
    service.up = true;
  }
  EXPECT_TRUE(called("say held"));
  sender.reset();
  thread.join();
}

}  // namespace
}  // namespace orvalin
