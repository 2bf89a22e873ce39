#include <gtest/gtest.h>
#include <windows.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "base/process.h"
#include "base/winstr.h"
#include "main/launch.h"
#include "main/platform.h"
#include "testing/kelvosim.h"

namespace orvalin {
namespace {

TEST(LoadedSignalWin, SeenWhileTheEventExists) {
  const std::string name = loaded_signal_name(make_test_token());
  EXPECT_FALSE(loaded_signal_exists(name));
  HANDLE event = CreateEventW(nullptr, TRUE, FALSE, to_wide(name).c_str());
  ASSERT_NE(event, nullptr);
  EXPECT_TRUE(loaded_signal_exists(name));
  CloseHandle(event);
  EXPECT_FALSE(loaded_signal_exists(name));
}

TEST(KelvoRunningWin, SeesKelvoExeInAnyLetterCase) {
  const char* sim = std::getenv("ORVALIN_KELVOSIM");
  ASSERT_NE(sim, nullptr);
  const auto dir = make_temp_dir("orvalin-running-");
  const auto copy = dir / "KELVO.EXE";
  std::filesystem::copy_file(utf8_to_path(sim), copy);
  SpawnOptions options;
  options.program = path_to_utf8(copy);
  options.args = {"--port", "0", "--exit-after", "60"};
  auto child = spawn_process(options);
  ASSERT_TRUE(child.has_value()) << child.error();
  bool seen = false;
  for (int i = 0; i < 100 && !seen; ++i) {
    seen = is_kelvo_running();
    if (!seen) std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  EXPECT_TRUE(seen);
  (*child)->kill();
  (*child)->wait();
  std::error_code ignored;
  std::filesystem::remove_all(dir, ignored);
}

TEST(SingleInstanceWin, SecondLockIsRefused) {
  (void)take_single_instance_lock();
  EXPECT_FALSE(take_single_instance_lock());
}

}  // namespace
}  // namespace orvalin
