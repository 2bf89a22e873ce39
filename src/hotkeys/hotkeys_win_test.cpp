#include <gtest/gtest.h>
#include <windows.h>

#include <thread>

#include "config/keys.h"
#include "hotkeys/hotkeys.h"

namespace orvalin {
namespace {

TEST(WinHotkeys, LoopSendsPressesRunsTasksInTurnAndEndsOnQuit) {
  // The loop's thread gets its queue from current_thread_id, so messages
  // posted before the loop starts are kept.
  auto [sender, receiver] = make_channel<KeyPress>();
  const uint32_t loop_thread = current_thread_id();
  auto tables = std::make_shared<BindingTables>();
  tables->hotkeys = {
      {"ctrl+alt+shift+f9", kModControl | kModAlt | kModShift, VK_F9, false}};
  auto in_force = std::make_shared<BindingsInForce>(tables);
  auto reloaded = std::make_shared<BindingTables>();
  ASSERT_TRUE(PostThreadMessageW(loop_thread, WM_HOTKEY, 7, 0));
  // A press posted before the task keeps the bindings it was made with.
  post_to_loop(loop_thread, [in_force, reloaded](HotkeyLoop&) {
    in_force->replace(reloaded);
  });
  std::thread poster([loop_thread] {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    PostThreadMessageW(loop_thread, WM_HOTKEY, 2, 0);
    post_quit(loop_thread);
  });
  // Kelvo's process id 0 never matches: nothing is registered.
  run_hotkeys(in_force, 0, std::move(sender));
  poster.join();
  std::optional<KeyPress> first = receiver.try_recv();
  std::optional<KeyPress> second = receiver.try_recv();
  ASSERT_TRUE(first && second);
  EXPECT_EQ(first->index, 7u);
  EXPECT_EQ(first->bindings, tables);
  EXPECT_EQ(second->index, 2u);
  EXPECT_EQ(second->bindings, reloaded);
  EXPECT_TRUE(receiver.closed());
  EXPECT_FALSE(hotkey_registry().registered());
  // Nothing stayed registered: the combination registers, and only once.
  constexpr UINT kMods = MOD_CONTROL | MOD_ALT | MOD_SHIFT | MOD_NOREPEAT;
  ASSERT_TRUE(RegisterHotKey(nullptr, 903, kMods, VK_F9)) << GetLastError();
  EXPECT_FALSE(RegisterHotKey(nullptr, 904, kMods, VK_F9));
  EXPECT_EQ(GetLastError(), 1409u);  // ERROR_HOTKEY_ALREADY_REGISTERED
  EXPECT_TRUE(UnregisterHotKey(nullptr, 903));
}

}  // namespace
}  // namespace orvalin
