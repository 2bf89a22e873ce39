#include "main/launch.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstdio>
#include <thread>

#include "base/os.h"
#include "base/sentences.h"
#include "base/utf.h"

namespace orvalin {

std::filesystem::path plugin_relative_path() {
  return std::filesystem::path(kPluginFolder) /
         utf8_to_path(plugin_file_name());
}

std::string plugin_not_found_message() {
  return fill(kPluginNotFound, {path_to_utf8(std::filesystem::path("plugins") /
                                             plugin_relative_path())});
}

namespace {

uint64_t read_le64(const uint8_t* bytes) {
  uint64_t value = 0;
  for (int i = 7; i >= 0; --i) value = (value << 8) | bytes[i];
  return value;
}

struct SipState {
  uint64_t v0, v1, v2, v3;

  void round() {
    v0 += v1;
    v1 = std::rotl(v1, 13);
    v1 ^= v0;
    v0 = std::rotl(v0, 32);
    v2 += v3;
    v3 = std::rotl(v3, 16);
    v3 ^= v2;
    v0 += v3;
    v3 = std::rotl(v3, 21);
    v3 ^= v0;
    v2 += v1;
    v1 = std::rotl(v1, 17);
    v1 ^= v2;
    v2 = std::rotl(v2, 32);
  }

  void compress(int rounds, uint64_t word) {
    v3 ^= word;
    for (int i = 0; i < rounds; ++i) round();
    v0 ^= word;
  }
};

std::string hex64(uint64_t value) {
  char text[17];
  std::snprintf(text, sizeof text, "%016llx",
                static_cast<unsigned long long>(value));
  return text;
}

}  // namespace

std::vector<std::filesystem::path> plugin_dir_candidates(
    const std::filesystem::path& program_dir, Layout layout) {
  std::vector<std::filesystem::path> candidates;
  if (auto packaged = packaged_plugin_dir(program_dir)) {
    candidates.push_back(*packaged);
  }
  candidates.push_back(program_dir / "plugins");
  if (layout != Layout::development) return candidates;
  // Three ancestors above the folder: parent, grandparent, great-grandparent.
  std::filesystem::path up = program_dir;
  int ancestors = 0;
  while (ancestors < 3 && up.has_relative_path() && up.has_parent_path() &&
         up.parent_path() != up) {
    up = up.parent_path();
    ++ancestors;
  }
  if (ancestors == 3) candidates.push_back(up / "plugin" / "build" / "plugins");
  return candidates;
}

std::optional<std::filesystem::path> find_plugin_dir_from(
    const std::optional<std::filesystem::path>& program,
    const std::function<bool(const std::filesystem::path&)>& exists,
    Layout layout) {
  if (!program || !program->has_parent_path()) return std::nullopt;
  const std::filesystem::path folder = program->parent_path();
  if (folder.empty()) return std::nullopt;
  for (const auto& candidate : plugin_dir_candidates(folder, layout)) {
    if (exists(candidate / plugin_relative_path())) return candidate;
  }
  return std::nullopt;
}

std::optional<std::filesystem::path> find_plugin_dir() {
  return find_plugin_dir_from(
      executable_path(), [](const auto& path) { return path_exists(path); });
}

bool is_kelvo_process_name(std::string_view name) {
  const std::string_view want = kelvo_process_name();
  if (name.size() != want.size()) return false;
  for (size_t i = 0; i < name.size(); ++i) {
    char c = name[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != want[i]) return false;
  }
  return true;
}

bool kelvo_runs_in_session(std::span<const ListedProcess> processes,
                           uint32_t own, const SessionOf& session_of) {
  return std::ranges::any_of(processes, [&](const ListedProcess& process) {
    return is_kelvo_process_name(process.name) &&
           session_of(process.pid) == own;
  });
}

uint64_t siphash(int c, int d, uint64_t k0, uint64_t k1,
                 std::span<const uint8_t> data) {
  SipState s{k0 ^ 0x736f6d6570736575ull, k1 ^ 0x646f72616e646f6dull,
             k0 ^ 0x6c7967656e657261ull, k1 ^ 0x7465646279746573ull};
  const size_t whole = data.size() / 8 * 8;
  for (size_t i = 0; i < whole; i += 8) s.compress(c, read_le64(&data[i]));
  // The last word: the remaining bytes, then the length's low byte on top.
  uint64_t last = static_cast<uint64_t>(data.size() & 0xff) << 56;
  for (size_t i = whole; i < data.size(); ++i) {
    last |= static_cast<uint64_t>(data[i]) << (8 * (i - whole));
  }
  s.compress(c, last);
  s.v2 ^= 0xff;
  for (int i = 0; i < d; ++i) s.round();
  return s.v0 ^ s.v1 ^ s.v2 ^ s.v3;
}

std::string token_from(uint64_t pid, TokenKey key) {
  std::array<uint8_t, 8> bytes{};
  for (size_t i = 0; i < bytes.size(); ++i) {
    bytes[i] = static_cast<uint8_t>(pid >> (8 * i));
  }
  return hex64(siphash13(key.k0, key.k1, bytes)) +
         hex64(siphash13(key.k0 + 1, key.k1, bytes));
}

bool is_usable_test_token(std::string_view token) {
  if (token.size() < kSignalTokenBytes || !is_valid_utf8(token)) return false;
  // The signal is named after the first 16 bytes: they must not end inside a
  // character (a continuation byte right after them means they do).
  return (static_cast<uint8_t>(token[kSignalTokenBytes]) & 0xc0) != 0x80 ||
         token.size() == kSignalTokenBytes;
}

Result<std::string> make_token() {
  if (auto test = get_env("ORVALIN_TEST_TOKEN");
      test && is_usable_test_token(*test)) {
    return *test;
  }
  auto key = random_token_key();
  if (!key) return fail(key.error());
  return token_from(current_process_id(), *key);
}

Timing run_timing(
    const std::function<std::optional<std::string>(std::string_view)>& env) {
  Timing timing;
  if (!env("ORVALIN_TEST_TOKEN") && !env("ORVALIN_TEST_ACTIONS")) {
    return timing;
  }
  if (auto text = env("ORVALIN_TEST_TIMING")) {
    (void)apply_timing_overrides(*text, timing);
  }
  return timing;
}

KelvoPlatform kelvo_platform(
    const std::function<std::optional<std::string>(std::string_view)>& env) {
  const auto display = env("WAYLAND_DISPLAY");
  const bool wayland =
      (display && !display->empty()) || env("XDG_SESSION_TYPE") == "wayland";
  KelvoPlatform choice;
  if (!wayland) return choice;
  const auto platform = env("QT_QPA_PLATFORM");
  if (!platform || platform->empty()) {
    choice.add_xcb = true;
  } else if (platform->substr(0, platform->find(';')) != "xcb") {
    // Qt takes the first of a ";"-separated list that it can open.
    choice.not_x11 = *platform;
  }
  return choice;
}

std::map<std::string, std::string> kelvo_environment(
    const std::filesystem::path& plugin_dir,
    const std::optional<std::string>& old_plugin_path, uint16_t port,
    const std::string& token, bool add_xcb) {
  std::string plugin_path = path_to_utf8(plugin_dir);
  if (old_plugin_path) {
    plugin_path += plugin_path_separator();
    plugin_path += *old_plugin_path;
  }
  std::map<std::string, std::string> env = {
      {kQtPluginPathVariable, plugin_path},
      {kQtGenericPluginsVariable, kGenericPluginName},
      {kTokenVariable, token},
      {kPortVariable, std::to_string(port)},
  };
  if (add_xcb) env["QT_QPA_PLATFORM"] = "xcb";
  return env;
}

SpawnOptions kelvo_command(const std::string& kelvo_path,
                           const std::vector<std::string>& kelvo_args,
                           std::map<std::string, std::string> env) {
  SpawnOptions options;
  options.program = kelvo_path;
  options.args = kelvo_args;
  options.env = std::move(env);
  const std::filesystem::path folder = utf8_to_path(kelvo_path).parent_path();
  if (!folder.empty()) options.cwd = path_to_utf8(folder);
  // Kelvo may be a script that starts the real program as its child.
  options.own_group = true;
  return options;
}

Result<std::shared_ptr<Process>> launch_kelvo(
    const std::string& kelvo_path, const std::vector<std::string>& kelvo_args,
    uint16_t port, const std::string& token,
    const std::filesystem::path& plugin_dir, bool add_xcb) {
  auto env = kelvo_environment(plugin_dir, get_env(kQtPluginPathVariable), port,
                               token, add_xcb);
  return spawn_process(kelvo_command(kelvo_path, kelvo_args, std::move(env)));
}

std::string describe_process_state(const ProcessState& state) {
  switch (state.kind) {
    case ProcessState::Kind::running:
      return "running";
    case ProcessState::Kind::exited:
      // not spoken: logged
      return "exited with code " + std::to_string(state.exit_code);
    case ProcessState::Kind::failed:
      break;
  }
  return "unknown (" + state.error + ")";
}

PluginWait wait_for_plugin_with(const std::function<bool()>& signalled,
                                Process& kelvo, PluginWaitTiming timing) {
  const auto deadline = std::chrono::steady_clock::now() + timing.limit;
  for (;;) {
    if (signalled()) return PluginWait::loaded;
    if (kelvo.poll().kind != ProcessState::Kind::running) {
      return PluginWait::exited;
    }
    if (std::chrono::steady_clock::now() >= deadline) {
      return PluginWait::timed_out;
    }
    std::this_thread::sleep_for(timing.poll);
  }
}

PluginWait wait_for_plugin(const std::string& token, Process& kelvo,
                           PluginWaitTiming timing) {
  const std::string name = loaded_signal_name(token);
  return wait_for_plugin_with([&] { return loaded_signal_exists(name); }, kelvo,
                              timing);
}

}  // namespace orvalin
