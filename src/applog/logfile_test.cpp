#include "applog/logfile.h"

#include <gtest/gtest.h>

#include <fstream>

#include "base/os.h"
#include "testing/kelvosim.h"

namespace orvalin {
namespace {

TEST(LogFileTest, WritesContinueAtTheEndAfterAnotherProgramEmptiedTheFile) {
  const auto path = temp_dir() / ("orvalin-logfile-test-" +
                                  std::to_string(std::rand()) + ".log");
  std::ofstream(path, std::ios::binary) << "from an earlier run\n";
  {
    auto file = create_log_file(path);
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(read_file(path), "");  // emptied when opened
    file->write("first line\n");
    // What a user's "clear log" or a rotation tool does while we run.
    std::ofstream(path, std::ios::binary | std::ios::trunc) << "cut\n";
    file->write("second line\n");
  }
  EXPECT_EQ(read_file(path), "cut\nsecond line\n");
  std::filesystem::remove(path);
}

}  // namespace
}  // namespace orvalin
