#include "testing/kelvosim.h"

#include <gtest/gtest.h>

#include <fstream>

namespace orvalin {
namespace {

TEST(KelvoSim, StartsListensAndIsKilledWithItsFolder) {
  std::shared_ptr<Process> process;
  {
    auto sim = KelvoSim::start({"--decks", "2"});
    ASSERT_TRUE(sim);
    EXPECT_NE(sim->port(), 0);
    EXPECT_TRUE(sim->trace().empty());
    process = sim->process();
    EXPECT_EQ(process->poll().kind, ProcessState::Kind::running);
  }
  EXPECT_EQ(process->poll().kind, ProcessState::Kind::exited);
}

TEST(KelvoSim, ReportsAStartThatFails) {
  // Refused options end the simulator before it listens.
  EXPECT_EQ(KelvoSim::start({"--no-such-option"}), nullptr);
  EXPECT_EQ(KelvoSim::start({"--load", "1=99"}), nullptr);
}

TEST(TempDir, IsFreshAndUnique) {
  const auto a = make_temp_dir("testing-test");
  const auto b = make_temp_dir("testing-test");
  EXPECT_NE(a, b);
  EXPECT_TRUE(std::filesystem::is_empty(a));
  EXPECT_EQ(read_file(a / "missing"), "");
  { std::ofstream(a / "file", std::ios::binary) << "two\r\nlines\n"; }
  EXPECT_EQ(read_file(a / "file"), "two\r\nlines\n");
  std::filesystem::remove_all(a);
  std::filesystem::remove_all(b);
}

}  // namespace
}  // namespace orvalin
