#include <gtest/gtest.h>
#include <stdlib.h>

#include <atomic>
#include <fstream>
#include <regex>
#include <sstream>
#include <thread>
#include <vector>

#include "applog/applog.h"
#include "testing/kelvosim.h"
#include "version.h"

namespace orvalin {
namespace {

class ApplogFileTest : public testing::Test {
 protected:
  ApplogFileTest() { setenv("XDG_STATE_HOME", dir_.c_str(), 1); }
  ~ApplogFileTest() override {
    unsetenv("XDG_STATE_HOME");
    std::filesystem::remove_all(dir_);
  }
  const std::filesystem::path dir_ = make_temp_dir("orvalin-applog");
};

TEST_F(ApplogFileTest, EachOpeningStartsAFreshFileWithTheBanner) {
  const auto file = dir_ / "orvalin" / "app.log";
  open_log();
  log("first run");
  open_log();
  log("second run");
  const std::string text = read_file(file);
  EXPECT_EQ(text.find("first run"), std::string::npos);
  EXPECT_TRUE(
      text.starts_with("[   0.000] Orvalin " + std::string(kVersion) + "\n"))
      << text;
  EXPECT_NE(text.find("] second run\n"), std::string::npos);
}

// Threads already log while the log is opened (the speech thread starts
// first): the file in force changes under none of them. (Without the log's
// lock ThreadSanitizer reports the race; AddressSanitizer may catch a
// write through a closed file.)
TEST_F(ApplogFileTest, ThreadsLogWhileTheLogIsOpened) {
  open_log();
  std::atomic<bool> logging{true};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([t, &logging] {
      for (int i = 0; logging.load(); ++i) {
        log("thread " + std::to_string(t) + " line " + std::to_string(i) +
            std::string(100, 'x'));
      }
    });
  }
  testing::internal::CaptureStdout();
  for (int i = 0; i < 100; ++i) open_log();
  logging.store(false);
  for (auto& thread : threads) thread.join();
  testing::internal::GetCapturedStdout();
  std::istringstream lines(read_file(dir_ / "orvalin" / "app.log"));
  const std::regex shape(
      R"(\[ *\d+\.\d{3}\] (Orvalin [0-9.]+|thread \d line \d+x{100}))");
  int count = 0;
  for (std::string line; std::getline(lines, line); ++count) {
    EXPECT_TRUE(std::regex_match(line, shape)) << line;
  }
  EXPECT_GT(count, 0);
}

TEST_F(ApplogFileTest, UnwritableFolderLeavesOnlyStandardOutput) {
  // A file where the log folder should be: the folder cannot be created.
  std::ofstream(dir_ / "orvalin") << "in the way";
  open_log();
  log("still running");
  EXPECT_TRUE(std::filesystem::is_regular_file(dir_ / "orvalin"));
}

}  // namespace
}  // namespace orvalin
