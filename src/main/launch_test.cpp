#include "main/launch.h"

#include <gtest/gtest.h>

#include <map>
#include <set>
#include <vector>

#include "base/utf.h"
#include "testing/kelvosim.h"

namespace orvalin {
namespace {

namespace fs = std::filesystem;
using Env = std::map<std::string, std::string>;

std::vector<uint8_t> counting_bytes(size_t n) {
  std::vector<uint8_t> bytes;
  for (size_t i = 0; i < n; ++i) bytes.push_back(static_cast<uint8_t>(i));
  return bytes;
}

// Key 00..0f, message 00..n-1: the published SipHash-2-4 outputs, and
// SipHash-1-3 outputs of a byte-at-a-time implementation written from the
// algorithm's description, across the block boundaries.
TEST(SipHash, MatchesTheReferenceVectors) {
  struct Vector {
    int c, d;
    size_t n;
    uint64_t hash;
  };
  const Vector vectors[] = {
      {2, 4, 0, 0x726fdb47dd0e0e31ull},  {2, 4, 1, 0x74f839c593dc67fdull},
      {2, 4, 7, 0xab0200f58b01d137ull},  {2, 4, 8, 0x93f5f5799a932462ull},
      {2, 4, 15, 0xa129ca6149be45e5ull}, {1, 3, 0, 0xabac0158050fc4dcull},
      {1, 3, 1, 0xc9f49bf37d57ca93ull},  {1, 3, 7, 0xd3927d989bb11140ull},
      {1, 3, 8, 0x369095118d299a8eull},  {1, 3, 9, 0x25a48eb36c063de4ull},
      {1, 3, 15, 0xd320d86d2a519956ull}, {1, 3, 16, 0xcc4fdd1a7d908b66ull},
      {1, 3, 63, 0x9d199062b7bbb3a8ull},
  };
  const uint64_t k0 = 0x0706050403020100ull;
  const uint64_t k1 = 0x0f0e0d0c0b0a0908ull;
  for (const Vector& v : vectors) {
    EXPECT_EQ(siphash(v.c, v.d, k0, k1, counting_bytes(v.n)), v.hash) << v.n;
  }
  EXPECT_EQ(siphash13(k0, k1, counting_bytes(17)), 0x9cf2689063dbd80cull);
}

// SipHash-1-3 of the pid's eight little-endian bytes under the key, then
// under the key whose first word is one more; worked out apart from this
// code.
TEST(Token, IsTwoDigestsOfThePidInLowercaseHex) {
  const TokenKey key{0x0706050403020100ull, 0x0f0e0d0c0b0a0908ull};
  const uint64_t pid = 0x12345;
  EXPECT_EQ(token_from(pid, key), "9a3f055cbceff288ea0aaf86a56b8ba0");
  // The first word's increment wraps rather than overflowing.
  const TokenKey top{~0ull, 5};
  EXPECT_EQ(token_from(pid, top).substr(16),
            token_from(pid, TokenKey{0, 5}).substr(0, 16));
}

TEST(Token, FreshKeysDiffer) {
  std::set<std::string> tokens;
  for (int i = 0; i < 4; ++i) {
    auto key = random_token_key();
    ASSERT_TRUE(key.has_value()) << key.error();
    tokens.insert(token_from(1, *key));
  }
  EXPECT_EQ(tokens.size(), 4u);
}

TEST(Token, TestTokenNeedsSixteenBytesEndingOnACharacter) {
  EXPECT_TRUE(is_usable_test_token("0123456789abcdef"));
  EXPECT_FALSE(is_usable_test_token("0123456789abcde"));
  EXPECT_TRUE(is_usable_test_token("0123456789abcdef-and-more"));
  // "é" is two bytes; here they are bytes 16 and 17.
  EXPECT_FALSE(is_usable_test_token("0123456789abcde\xc3\xa9xyz"));
  EXPECT_TRUE(is_usable_test_token("0123456789abcd\xc3\xa9xyz"));
  EXPECT_FALSE(is_usable_test_token("0123456789abcdef\xff"));
}

TEST(LoadedSignal, IsNamedAfterTheFirstSixteenTokenBytes) {
  const std::string prefix(loaded_signal_prefix());
  EXPECT_TRUE(prefix == "Local\\OrvalinPluginLoaded-" ||
              prefix == "OrvalinPluginLoaded-");
  EXPECT_EQ(loaded_signal_name("0123456789abcdef0123456789abcdef"),
            prefix + "0123456789abcdef");
  EXPECT_EQ(loaded_signal_name("short"), prefix + "short");
}

TEST(PluginDir, SearchesBesideTheProgramThenThreeFoldersUp) {
  const fs::path root = fs::path("/").root_path();
  const fs::path program = root / "A" / "B" / "C" / "D" / "app" / "orvalin";
  const fs::path beside = root / "A" / "B" / "C" / "D" / "app" / "plugins";
  const fs::path up = root / "A" / "B" / "plugin" / "build" / "plugins";
  const fs::path plugin = plugin_relative_path();

  const Layout dev = Layout::development;
  std::set<fs::path> present;
  auto exists = [&](const fs::path& path) { return present.count(path) > 0; };
  EXPECT_FALSE(find_plugin_dir_from(program, exists, dev));
  present.insert(up / plugin);
  EXPECT_EQ(find_plugin_dir_from(program, exists, dev), up);
  // Builds for users never look above their own folder.
  EXPECT_FALSE(find_plugin_dir_from(program, exists, Layout::installed));
  present.insert(beside / plugin);
  EXPECT_EQ(find_plugin_dir_from(program, exists, dev), beside);
  EXPECT_EQ(find_plugin_dir_from(program, exists, Layout::installed), beside);
  EXPECT_FALSE(find_plugin_dir_from(std::nullopt, exists, dev));
  // The installed package's folder (Linux: ../lib/orvalin/plugins) first.
  const auto packaged = packaged_plugin_dir(program.parent_path());
  if (packaged) {
    EXPECT_EQ(*packaged,
              root / "A" / "B" / "C" / "D" / "lib" / "orvalin" / "plugins");
    present.insert(*packaged / plugin);
    EXPECT_EQ(find_plugin_dir_from(program, exists, dev), *packaged);
  }

  // A folder with fewer than three ancestors has no development candidate.
  const size_t first = packaged ? 1 : 0;
  EXPECT_EQ(plugin_dir_candidates(root / "x" / "y", dev).size(), first + 1);
  const auto candidates = plugin_dir_candidates(root / "x" / "y" / "z", dev);
  EXPECT_EQ(std::vector<fs::path>(candidates.begin() + first, candidates.end()),
            (std::vector<fs::path>{root / "x" / "y" / "z" / "plugins",
                                   root / "plugin" / "build" / "plugins"}));
}

TEST(KelvoName, FoldsAsciiLettersOnlyAndCountsOurSessionOnly) {
  const std::string name(kelvo_process_name());
  std::string upper = name;
  for (char& c : upper) c = static_cast<char>(std::toupper(c));
  EXPECT_TRUE(is_kelvo_process_name(name));
  EXPECT_TRUE(is_kelvo_process_name(upper));
  EXPECT_FALSE(is_kelvo_process_name(name + "x"));
  EXPECT_FALSE(is_kelvo_process_name(name.substr(1)));
  EXPECT_FALSE(is_kelvo_process_name(""));

  // Only Kelvo in our own session counts. pid -> session; 40 belongs to
  // another user and is not listed.
  const std::map<uint64_t, uint32_t> sessions{{10, 1}, {20, 2}, {30, 2}};
  const SessionOf session_of = lookup_in(sessions);
  const std::vector<ListedProcess> processes{
      {10, name}, {20, "notepad"}, {40, name}};
  EXPECT_TRUE(kelvo_runs_in_session(processes, 1, session_of));
  EXPECT_FALSE(kelvo_runs_in_session(processes, 2, session_of));
  EXPECT_FALSE(kelvo_runs_in_session(processes, 3, session_of));
  const std::vector<ListedProcess> other_user{{30, name}};
  EXPECT_TRUE(kelvo_runs_in_session(other_user, 2, session_of));
  EXPECT_FALSE(kelvo_runs_in_session(other_user, 1, session_of));
}

TEST(KelvoLaunch, EnvironmentCommandAndDirectory) {
  const fs::path dir = fs::path("/").root_path() / "p" / "plugins";
  const std::string sep(plugin_path_separator());
  auto env = kelvo_environment(dir, std::nullopt, 52764, "tok");
  EXPECT_EQ(env, (Env{{"QT_PLUGIN_PATH", path_to_utf8(dir)},
                      {"QT_QPA_GENERIC_PLUGINS", "orvalin"},
                      {"ORVALIN_TOKEN", "tok"},
                      {"ORVALIN_PORT", "52764"}}));
  EXPECT_EQ(kelvo_environment(dir, "V", 7, "t")["QT_PLUGIN_PATH"],
            path_to_utf8(dir) + sep + "V");
  EXPECT_EQ(kelvo_environment(dir, "", 7, "t")["QT_PLUGIN_PATH"],
            path_to_utf8(dir) + sep);

  const fs::path kelvo = fs::path("/").root_path() / "k" / "kelvo";
  SpawnOptions command =
      kelvo_command(path_to_utf8(kelvo), {"--a", "b c"}, env);
  EXPECT_EQ(command.program, path_to_utf8(kelvo));
  EXPECT_EQ(command.args, (std::vector<std::string>{"--a", "b c"}));
  EXPECT_EQ(command.env, env);
  EXPECT_EQ(command.cwd, path_to_utf8(kelvo.parent_path()));
  EXPECT_EQ(kelvo_command("kelvo", {}, {}).cwd, std::nullopt);
  EXPECT_TRUE(command.own_group);
}

TEST(KelvoLaunch, AskedForAnX11WindowInAWaylandSession) {
  struct Case {
    bool add_xcb;
    std::optional<std::string> not_x11;
    Env env;
  };
  const Case cases[] = {
      {false, {}, {}},
      {false, {}, {{"WAYLAND_DISPLAY", ""}, {"XDG_SESSION_TYPE", "x11"}}},
      {true, {}, {{"WAYLAND_DISPLAY", "wayland-0"}}},
      {true, {}, {{"XDG_SESSION_TYPE", "wayland"}, {"QT_QPA_PLATFORM", ""}}},
      {false,
       {},
       {{"WAYLAND_DISPLAY", "wayland-0"}, {"QT_QPA_PLATFORM", "xcb;wayland"}}},
      {false,
       "wayland;xcb",
       {{"WAYLAND_DISPLAY", "wayland-0"}, {"QT_QPA_PLATFORM", "wayland;xcb"}}},
  };
  for (const Case& c : cases) {
    const KelvoPlatform platform = kelvo_platform(lookup_in(c.env));
    EXPECT_EQ(platform.add_xcb, c.add_xcb);
    EXPECT_EQ(platform.not_x11, c.not_x11);
  }
  EXPECT_EQ(kelvo_environment("plugins", std::nullopt, 7, "t",
                              true)["QT_QPA_PLATFORM"],
            "xcb");
}

TEST(KelvoLaunch, DescribesTheProcessState) {
  EXPECT_EQ(describe_process_state({ProcessState::Kind::running, 0, ""}),
            "running");
  EXPECT_EQ(describe_process_state({ProcessState::Kind::exited, 3, ""}),
            "exited with code 3");
  EXPECT_EQ(describe_process_state({ProcessState::Kind::failed, 0, "denied"}),
            "unknown (denied)");
}

TEST(PluginWait, ChecksTheSignalThenKelvoThenTheDeadline) {
  using std::chrono::milliseconds;
  // Kelvo exits after `running` polls (-1: never); the signal is seen at
  // probe `signal_at` (0: never).
  struct Case {
    int running, signal_at, wait_ms;
    PluginWait outcome;
    int polls, probes;
  };
  const Case cases[] = {
      // The signal counts even when the time is already up.
      {-1, 1, 0, PluginWait::loaded, 0, 1},
      // Kelvo's exit is noticed before the deadline, within one poll.
      {2, 0, 60000, PluginWait::exited, 3, 3},
      // A signal that comes on the third probe.
      {-1, 3, 60000, PluginWait::loaded, 2, 3},
      {-1, 0, 0, PluginWait::timed_out, 1, 1},
  };
  for (const Case& c : cases) {
    FakeProcess kelvo(c.running);
    int probes = 0;
    EXPECT_EQ(
        wait_for_plugin_with([&] { return ++probes == c.signal_at; }, kelvo,
                             {milliseconds(c.wait_ms), milliseconds(1)}),
        c.outcome);
    EXPECT_EQ(kelvo.polls(), c.polls);
    EXPECT_EQ(probes, c.probes);
  }
}

// The test hook changes the waits only beside another test hook, and only
// when every item is good; the defaults are otherwise untouched.
TEST(RunTiming, TestHookOnlyBesideATestRunAndAllOrNothing) {
  using std::chrono::milliseconds;
  struct Case {
    Env env;
    milliseconds toggle, driver_key;
  };
  const Timing real;
  const Case cases[] = {
      {{{"ORVALIN_TEST_TIMING", "toggle_delay=5"}},
       real.toggle_delay,
       real.driver_key},
      {{{"ORVALIN_TEST_TOKEN", "t"},
        {"ORVALIN_TEST_TIMING", "toggle_delay=5,driver_key=0"}},
       milliseconds(5),
       milliseconds(0)},
      {{{"ORVALIN_TEST_ACTIONS", ""},
        {"ORVALIN_TEST_TIMING", "toggle_delay=7"}},
       milliseconds(7),
       real.driver_key},
  };
  for (const Case& c : cases) {
    const Timing timing = run_timing(lookup_in(c.env));
    EXPECT_EQ(timing.toggle_delay, c.toggle);
    EXPECT_EQ(timing.driver_key, c.driver_key);
    EXPECT_EQ(timing.tap_quiet, real.tap_quiet);
  }
  for (const char* bad : {"toggle_delay=5,nowait=1", "toggle_delay=-1",
                          "toggle_delay", "toggle_delay=5x", "toggle_delay="}) {
    Timing timing;
    EXPECT_FALSE(apply_timing_overrides(bad, timing)) << bad;
    EXPECT_EQ(timing.toggle_delay, real.toggle_delay) << bad;
  }
}

}  // namespace
}  // namespace orvalin
