#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "base/process.h"
#include "base/utf.h"
#include "testing/kelvosim.h"

namespace orvalin {
namespace {

// The pid a script wrote to `file`, once it has.
uint32_t pid_written(const std::filesystem::path& file) {
  for (int i = 0; i < 3000; ++i) {
    std::ifstream in(file);
    uint32_t pid = 0;
    if (in >> pid) return pid;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return 0;
}

// A script that does not exec, as a program's launcher may be: its child
// counts as its descendant while it waits, and, when started in a group of
// its own, after it has exited too; it is running until the child has
// ended.
TEST(ProcessPosix, AStartedScriptIsFollowedWithItsDescendants) {
  EXPECT_TRUE(is_same_or_descendant(static_cast<uint32_t>(getpid()),
                                    static_cast<uint32_t>(getppid())));
  EXPECT_FALSE(is_same_or_descendant(static_cast<uint32_t>(getppid()),
                                     static_cast<uint32_t>(getpid())));
  const auto dir = make_temp_dir("orvalin-process-posix");
  for (const bool own_group : {false, true}) {
    const auto file = dir / (own_group ? "group" : "parent");
    SpawnOptions options;
    options.program = "/bin/sh";
    // With its own group the script leaves its child behind at once.
    options.args = {"-c", "sleep 60 & echo $! > '" + path_to_utf8(file) +
                              "'; " + (own_group ? "exit 3" : "wait")};
    options.own_group = own_group;
    auto script = spawn_process(options);
    ASSERT_TRUE(script.has_value()) << script.error();
    const uint32_t child = pid_written(file);
    ASSERT_NE(child, 0u);
    const uint32_t launched = (*script)->id();
    // The script's own exit does not end the group.
    if (own_group) {
      EXPECT_EQ((*script)->wait(), 3u);
    }
    EXPECT_TRUE(is_same_or_descendant(child, launched)) << own_group;
    EXPECT_FALSE(
        is_same_or_descendant(static_cast<uint32_t>(getpid()), launched));
    EXPECT_EQ((*script)->poll().kind, ProcessState::Kind::running);
    ::kill(static_cast<pid_t>(child), SIGKILL);
    ProcessState state;
    for (int i = 0; i < 3000; ++i) {
      state = (*script)->poll();
      if (state.kind != ProcessState::Kind::running) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_EQ(state.kind, ProcessState::Kind::exited) << own_group;
    EXPECT_EQ(state.exit_code, own_group ? 3u : 0u);
  }
  std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace orvalin
