#include <gtest/gtest.h>
#include <windows.h>

#include <thread>

#include "config/keys.h"
#include "hotkeys/hotkeys.h"

namespace orvalin {
namespace {

TEST(WinHotkeys, SecondRegistrationOfACombinationFails) {
  constexpr UINT kMods = MOD_CONTROL | MOD_ALT | MOD_SHIFT | MOD_NOREPEAT;
  ASSERT_TRUE(RegisterHotKey(nullptr, 901, kMods, VK_F9)) << GetLastError();
  EXPECT_FALSE(RegisterHotKey(nullptr, 902, kMods, VK_F9));
  EXPECT_EQ(GetLastError(), 1409u);  // ERROR_HOTKEY_ALREADY_REGISTERED
  EXPECT_TRUE(UnregisterHotKey(nullptr, 901));
}

TEST(WinHotkeys, LoopSendsHotkeyIdsAndEndsOnQuit) {
  // The loop's thread gets its queue from current_thread_id, so messages
  // posted before the loop starts are kept.
  auto [sender, receiver] = make_channel<KeyPress>();
  const uint32_t loop_thread = current_thread_id();
  ASSERT_TRUE(PostThreadMessageW(loop_thread, WM_HOTKEY, 7, 0));
  std::thread poster([loop_thread] {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    PostThreadMessageW(loop_thread, WM_HOTKEY, 2, 0);
    post_quit(loop_thread);
  });
  // Kelvo's process id 0 never matches: nothing is registered.
  run_hotkeys(
      {{"ctrl+alt+shift+f9", kModControl | kModAlt | kModShift, VK_F9, false}},
      0, std::move(sender));
  poster.join();
  EXPECT_EQ(receiver.try_recv().value_or(KeyPress{99}).index, 7u);
  EXPECT_EQ(receiver.try_recv().value_or(KeyPress{99}).index, 2u);
  EXPECT_TRUE(receiver.closed());
  EXPECT_FALSE(hotkey_registry().registered());
  // Nothing stayed registered.
  EXPECT_TRUE(
      RegisterHotKey(nullptr, 903, MOD_CONTROL | MOD_ALT | MOD_SHIFT, VK_F9));
  UnregisterHotKey(nullptr, 903);
}

}  // namespace
}  // namespace orvalin
