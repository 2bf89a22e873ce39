#include <gtest/gtest.h>

#include <thread>

#include "hotkeys/hotkeys.h"

namespace orvalin {
namespace {

std::shared_ptr<BindingsInForce> in_force(std::vector<HotkeyEntry> hotkeys) {
  auto tables = std::make_shared<BindingTables>();
  tables->hotkeys = std::move(hotkeys);
  return std::make_shared<BindingsInForce>(std::move(tables));
}

TEST(RunHotkeys, RunsPostedTasksAndEndsOnQuitPostedBeforeOrDuringTheLoop) {
  const uint32_t main_thread = current_thread_id();
  {
    // Posted before the loop starts: the loop ends at once.
    auto [sender, receiver] = make_channel<KeyPress>();
    post_quit(main_thread);
    run_hotkeys(in_force({{"ctrl+alt+p", 3, 'P', false}}), 1,
                std::move(sender));
    EXPECT_TRUE(receiver.closed());
  }
  {
    auto [sender, receiver] = make_channel<KeyPress>();
    std::thread::id ran_on;
    std::thread watcher([main_thread, &ran_on] {
      post_to_loop(main_thread, [main_thread, &ran_on](HotkeyLoop&) {
        ran_on = std::this_thread::get_id();
        post_quit(main_thread);
      });
    });
    run_hotkeys(in_force({}), 1, std::move(sender));
    watcher.join();
    EXPECT_EQ(ran_on, std::this_thread::get_id());
    EXPECT_TRUE(receiver.closed());
  }
}

}  // namespace
}  // namespace orvalin
