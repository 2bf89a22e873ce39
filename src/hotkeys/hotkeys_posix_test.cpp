#include <gtest/gtest.h>

#include <thread>

#include "hotkeys/hotkeys.h"

namespace orvalin {
namespace {

TEST(RunHotkeys, EndsOnQuitPostedBeforeOrDuringTheLoop) {
  const uint32_t main_thread = current_thread_id();
  {
    // Posted before the loop starts: the loop ends at once.
    auto [sender, receiver] = make_channel<KeyPress>();
    post_quit(main_thread);
    run_hotkeys({{"ctrl+alt+p", 3, 'P', false}}, 1, std::move(sender));
    EXPECT_TRUE(receiver.closed());
  }
  {
    auto [sender, receiver] = make_channel<KeyPress>();
    std::thread watcher([main_thread] {
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
      post_quit(main_thread);
    });
    run_hotkeys({}, 1, std::move(sender));
    watcher.join();
    EXPECT_TRUE(receiver.closed());
  }
}

}  // namespace
}  // namespace orvalin
