#include "reload/filewatch.h"

#include <gtest/gtest.h>

#include <fstream>

#include "testing/kelvosim.h"

namespace orvalin {
namespace {

using namespace std::chrono_literals;

// True once the watch reports the file changed; false when 10 s pass (a
// loaded machine may be slow to deliver) or the watch fails.
bool sees_change(FileWatch& watch, std::chrono::milliseconds within = 10s) {
  const auto deadline = std::chrono::steady_clock::now() + within;
  while (std::chrono::steady_clock::now() < deadline) {
    Result<bool> changed = watch.wait(100ms);
    if (!changed) {
      ADD_FAILURE() << changed.error();
      return false;
    }
    if (*changed) return true;
  }
  return false;
}

TEST(FileWatch, ReportsEveryKindOfSaveOfTheFileAloneInItsFolder) {
  const std::filesystem::path dir = make_temp_dir("orvalin-watch-test-");
  const std::filesystem::path file = dir / "config.toml";
  EXPECT_FALSE(watch_file(dir / "missing" / "config.toml"));
  auto watch = watch_file(file);
  ASSERT_TRUE(watch) << watch.error();
  FileWatch& w = **watch;

  // One save may be reported in several parts: each step starts once the
  // watch has gone quiet.
  auto saved = [&w] {
    const bool seen = sees_change(w);
    while (sees_change(w, 300ms)) {
    }
    return seen;
  };
  std::ofstream(dir / "other.toml") << "x";
  EXPECT_FALSE(sees_change(w, 1s));
  std::ofstream(file) << "created";
  EXPECT_TRUE(saved());
  std::ofstream(file, std::ios::app) << " and written";
  EXPECT_TRUE(saved());
  std::filesystem::rename(file, dir / "renamed.toml");
  EXPECT_TRUE(saved());
  std::filesystem::rename(dir / "other.toml", file);  // saved by rename
  EXPECT_TRUE(saved());
  std::filesystem::remove(file);
  EXPECT_TRUE(saved());

  watch->reset();
  std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace orvalin
