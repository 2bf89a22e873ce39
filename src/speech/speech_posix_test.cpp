#include <gtest/gtest.h>
#include <sys/resource.h>

#include <cstdio>
#include <fstream>

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
        start_speech();
      },
      testing::ExitedWithCode(1), "spawn speech thread");
}

}  // namespace
}  // namespace orvalin
