#include <gtest/gtest.h>
#include <pthread.h>
#include <sys/resource.h>

#include <chrono>
#include <fstream>
#include <future>
#include <string>

#include "speech/engines.h"
#include "speech/speech.h"

namespace orvalin {
namespace {

#if defined(__SANITIZE_THREAD__) || defined(__SANITIZE_ADDRESS__)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif

// Leaves room for the heap to grow a little but none for a thread's stack.
void limit_address_space() {
  std::ifstream statm("/proc/self/statm");
  unsigned long pages = 0;
  statm >> pages;
  const rlim_t limit = static_cast<rlim_t>(pages) * 4096 + (2 << 20);
  const rlimit rl{limit, limit};
  setrlimit(RLIMIT_AS, &rl);
}

TEST(SpeechPosixDeathTest, ThreadThatCannotStartStopsTheProgram) {
  // The sanitizers' own bookkeeping cannot live with a tight address space.
  if (kSanitized) GTEST_SKIP();
  EXPECT_EXIT(
      {
        limit_address_space();
        start_speech(Timing{});
      },
      testing::ExitedWithCode(1), "spawn speech thread");
}

TEST(SpeechPosixTest, EnginesAreOpenedOnTheThreadNamedSpeech) {
  std::promise<std::string> name;
  std::future<std::string> named = name.get_future();
  Speech speech = start_speech_with([&name] {
    char buffer[16] = {};
    pthread_getname_np(pthread_self(), buffer, sizeof buffer);
    name.set_value(buffer);
    return open_speech_engines(Timing{});
  });
  ASSERT_EQ(named.wait_for(std::chrono::seconds(60)),
            std::future_status::ready);
  EXPECT_EQ(named.get(), "speech");
}

}  // namespace
}  // namespace orvalin
