#include "base/process.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>

#include "base/os.h"
#include "base/utf.h"
#include "testing/kelvosim.h"

namespace orvalin {
namespace {

// The child's part: when this test program is started by the tests below
// (with ORVALIN_PROCESS_TEST_OUT set), it writes its working directory, the
// variable ORVALIN_PROCESS_TEST_VALUE and its arguments to that file, one per
// line, and exits with the code in ORVALIN_PROCESS_TEST_EXIT. With
// ORVALIN_PROCESS_TEST_SLEEP it just sleeps a minute.
TEST(ProcessChild, Run) {
  if (get_env("ORVALIN_PROCESS_TEST_SLEEP")) {
    std::this_thread::sleep_for(std::chrono::seconds(60));
    std::_Exit(0);
  }
  const auto out = get_env("ORVALIN_PROCESS_TEST_OUT");
  if (!out) GTEST_SKIP() << "only run as a child";
  {
    std::ofstream file(utf8_to_path(*out), std::ios::binary);
    file << path_to_utf8(std::filesystem::current_path()) << '\n';
    file << get_env("ORVALIN_PROCESS_TEST_VALUE").value_or("<unset>") << '\n';
    const auto args = ::testing::internal::GetArgvs();
    // The saved arguments still hold the test filter that started us.
    for (size_t i = 1; i < args.size(); ++i) {
      if (!args[i].starts_with("--gtest_")) file << args[i] << '\n';
    }
  }
  std::_Exit(
      std::atoi(get_env("ORVALIN_PROCESS_TEST_EXIT").value_or("0").c_str()));
}

struct ChildRun {
  uint32_t exit_code = 0;
  std::vector<std::string> lines;  // cwd, value, then the arguments
};

ChildRun run_child(SpawnOptions options, const std::filesystem::path& out) {
  options.program = path_to_utf8(*executable_path());
  options.args.insert(options.args.begin(), "--gtest_filter=ProcessChild.Run");
  options.env["ORVALIN_PROCESS_TEST_OUT"] = path_to_utf8(out);
  auto process = spawn_process(options);
  EXPECT_TRUE(process.has_value()) << process.error();
  ChildRun run;
  if (!process) return run;
  EXPECT_NE((*process)->id(), 0u);
  const auto code = (*process)->wait();
  EXPECT_TRUE(code.has_value());
  run.exit_code = code.value_or(0);
  // poll() after the exit reports the same code.
  const ProcessState state = (*process)->poll();
  EXPECT_EQ(state.kind, ProcessState::Kind::exited);
  EXPECT_EQ(state.exit_code, run.exit_code);
  std::ifstream file(out, std::ios::binary);
  for (std::string line; std::getline(file, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    run.lines.push_back(line);
  }
  return run;
}

TEST(Process, ParentsAreReadAfterTheName) {
  const auto parents = parse_proc_stat("42 (a) b (c) S 7 9 9 0 -1 4194560\n");
  ASSERT_TRUE(parents.has_value());
  EXPECT_EQ(parents->parent, 7u);
  EXPECT_EQ(parents->group, 9u);
  for (const char* bad : {"", "42 (kelvo", "42 (kelvo) S", "42 (kelvo) S x 9",
                          "42 (kelvo) S 7"}) {
    EXPECT_FALSE(parse_proc_stat(bad).has_value()) << bad;
  }
  EXPECT_TRUE(is_same_or_descendant(7, 7));
}

TEST(Process, StartsChildAsAskedOrSaysWhyNot) {
  const auto dir = make_temp_dir("orvalin-process-test");
  SpawnOptions options;
  options.env = {{"ORVALIN_PROCESS_TEST_VALUE", "caf\xC3\xA9 = yes"},
                 {"ORVALIN_PROCESS_TEST_EXIT", "7"}};
  options.cwd = path_to_utf8(dir);
  // Arguments that need quoting on Windows survive unchanged.
  options.args = {"plain",      "two words",           "say \"hi\"",
                  "trailing\\", "back\\\\slash \\\"x", ""};
  const ChildRun run = run_child(options, dir / "out.txt");
  EXPECT_EQ(run.exit_code, 7u);
  ASSERT_EQ(run.lines.size(), 2u + options.args.size());
  EXPECT_TRUE(std::filesystem::equivalent(utf8_to_path(run.lines[0]), dir));
  EXPECT_EQ(run.lines[1], "caf\xC3\xA9 = yes");
  for (size_t i = 0; i < options.args.size(); ++i) {
    EXPECT_EQ(run.lines[2 + i], options.args[i]);
  }

  // By default the caller's directory and environment are kept.
  const ChildRun plain = run_child(SpawnOptions{}, dir / "plain.txt");
  EXPECT_EQ(plain.exit_code, 0u);
  ASSERT_GE(plain.lines.size(), 2u);
  EXPECT_TRUE(std::filesystem::equivalent(utf8_to_path(plain.lines[0]),
                                          std::filesystem::current_path()));
  EXPECT_EQ(plain.lines[1], "<unset>");

  // Why a child cannot start.
  SpawnOptions missing;
  missing.program = path_to_utf8(dir / "no-such-program.exe");
  auto started = spawn_process(missing);
  ASSERT_FALSE(started.has_value());
  EXPECT_EQ(started.error(), os_error_text(2));  // ENOENT, ERROR_FILE_NOT_FOUND

  SpawnOptions bad_dir;
  bad_dir.program = path_to_utf8(*executable_path());
  bad_dir.cwd = path_to_utf8(dir / "missing-folder");
  started = spawn_process(bad_dir);
  ASSERT_FALSE(started.has_value());
  EXPECT_FALSE(started.error().empty());
  std::filesystem::remove_all(dir);
}

TEST(Process, PollsRunningChildAndKillsIt) {
  SpawnOptions options;
  options.program = path_to_utf8(*executable_path());
  options.args = {"--gtest_filter=ProcessChild.Run"};
  options.env["ORVALIN_PROCESS_TEST_SLEEP"] = "1";
  auto process = spawn_process(options);
  ASSERT_TRUE(process.has_value()) << process.error();
  EXPECT_EQ((*process)->poll().kind, ProcessState::Kind::running);
  (*process)->kill();
  const auto code = (*process)->wait();
  ASSERT_TRUE(code.has_value());
  EXPECT_NE(*code, 0u);
  EXPECT_EQ((*process)->poll().kind, ProcessState::Kind::exited);
}

}  // namespace
}  // namespace orvalin
