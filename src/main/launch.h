// Starting Kelvo with the in-host plugin: finding the plugin directory,
// refusing a Kelvo that already runs, the run's token, the launch with the
// plugin's environment and the wait for the plugin's loaded signal.
// Start-up calls these on the main thread; the helpers are pure and may be
// used anywhere.
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "base/layout.h"
#include "base/plugin.h"
#include "base/process.h"
#include "base/result.h"
#include "base/timing.h"

namespace orvalin {

// --- Plugin directory -------------------------------------------------------

// The plugin below a plugin directory: "generic" and the platform's file name
// ("orvalin.dll"; "liborvalin.so" elsewhere).
std::filesystem::path plugin_relative_path();

// The sentence of a failed plugin search.
std::string plugin_not_found_message();

// The places searched, in order, for a program in `program_dir`: the
// installed package's plugin folder (packaged_plugin_dir, Linux), its
// "plugins" folder, then in the development layout "plugin/build/plugins"
// three folders up (left out when the folder has fewer than three
// ancestors).
std::vector<std::filesystem::path> plugin_dir_candidates(
    const std::filesystem::path& program_dir, Layout layout = build_layout());

// The first candidate that holds the plugin; nothing without a program path.
std::optional<std::filesystem::path> find_plugin_dir_from(
    const std::optional<std::filesystem::path>& program,
    const std::function<bool(const std::filesystem::path&)>& exists,
    Layout layout = build_layout());

// The same for the running program and the real file system.
std::optional<std::filesystem::path> find_plugin_dir();

// --- Is Kelvo running -------------------------------------------------------

// Kelvo's executable name as the process list shows it ("kelvo.exe";
// "kelvo" elsewhere).
std::string_view kelvo_process_name();

// Equal to kelvo_process_name() after folding ASCII A-Z to a-z.
bool is_kelvo_process_name(std::string_view name);

// One entry of the system's process list.
struct ListedProcess {
  uint64_t pid = 0;
  std::string name;
};

// A process's session (Windows: from the session manager's list of
// processes, without opening any); nullopt when the list does not hold it.
using SessionOf = std::function<std::optional<uint32_t>(uint64_t pid)>;

// Whether a Kelvo process of the list runs in session `own`. Another user's
// session (fast user switching) does not count: that Kelvo is not ours to
// close, and the single-instance lock is per session too. A process the list
// does not hold (another user's, listed to administrators only) is not ours
// either.
bool kelvo_runs_in_session(std::span<const ListedProcess> processes,
                           uint32_t own, const SessionOf& session_of);

// Whether a process of that name runs in this program's session; "no" when
// the list cannot be read.
bool is_kelvo_running();

// --- Token ------------------------------------------------------------------

// SipHash with `c` compression and `d` finalisation rounds under the key
// (k0, k1): the key's 16 bytes read as two little-endian words.
uint64_t siphash(int c, int d, uint64_t k0, uint64_t k1,
                 std::span<const uint8_t> data);

inline uint64_t siphash13(uint64_t k0, uint64_t k1,
                          std::span<const uint8_t> data) {
  return siphash(1, 3, k0, k1, data);
}

struct TokenKey {
  uint64_t k0 = 0;
  uint64_t k1 = 0;
};

// 128 bits from the system's random generator.
Result<TokenKey> random_token_key();

// The generated token: the digests of `pid` under `key` and under `key` with
// k0 increased by one, as 32 lowercase hexadecimal digits.
std::string token_from(uint64_t pid, TokenKey key);

// A usable ORVALIN_TEST_TOKEN: at least 16 bytes, and its first 16 bytes
// (the part the loaded signal is named after) end on a whole character.
bool is_usable_test_token(std::string_view token);

// ORVALIN_TEST_TOKEN when usable, else a fresh token for this process.
Result<std::string> make_token();

// The waits of this run: the defaults, with ORVALIN_TEST_TIMING's
// "name=milliseconds" items applied when a test hook (ORVALIN_TEST_TOKEN or
// ORVALIN_TEST_ACTIONS) is set too, so that an end-to-end test need not sleep
// through the real waits. A user's run always has the defaults; a bad
// ORVALIN_TEST_TIMING leaves them too. `env` reads a variable.
Timing run_timing(
    const std::function<std::optional<std::string>(std::string_view)>& env);

// --- Launch -----------------------------------------------------------------

// Kelvo's Qt platform. In a Wayland session (WAYLAND_DISPLAY set, or
// XDG_SESSION_TYPE=wayland) Orvalin sees and takes keys of X11 windows only
// (XWayland's), while Qt prefers a native Wayland window there: Kelvo is
// asked for "xcb" unless the user's environment sets QT_QPA_PLATFORM itself.
struct KelvoPlatform {
  bool add_xcb = false;
  // A Wayland session whose QT_QPA_PLATFORM puts something other than xcb
  // first: the user's value, left as it is.
  std::optional<std::string> not_x11;
};
KelvoPlatform kelvo_platform(
    const std::function<std::optional<std::string>(std::string_view)>& env);

// The variables Kelvo gets on top of this program's environment.
// `old_plugin_path` is this program's own QT_PLUGIN_PATH, if set; with
// `add_xcb`, QT_QPA_PLATFORM is "xcb".
std::map<std::string, std::string> kelvo_environment(
    const std::filesystem::path& plugin_dir,
    const std::optional<std::string>& old_plugin_path, uint16_t port,
    const std::string& token, bool add_xcb = false);

// Program, arguments (as configured, nothing added), environment and working
// directory (the folder holding `kelvo_path`, if it names one); Kelvo leads
// a process group of its own, and runs until its descendants have ended.
SpawnOptions kelvo_command(const std::string& kelvo_path,
                           const std::vector<std::string>& kelvo_args,
                           std::map<std::string, std::string> env);

// Starts Kelvo; on failure the system's error text.
Result<std::shared_ptr<Process>> launch_kelvo(
    const std::string& kelvo_path, const std::vector<std::string>& kelvo_args,
    uint16_t port, const std::string& token,
    const std::filesystem::path& plugin_dir, bool add_xcb);

// "running", "exited with code N" or "unknown (reason)".
std::string describe_process_state(const ProcessState& state);

// --- Plugin wait ------------------------------------------------------------

// The loaded signal's name and check: see base/plugin.h.

enum class PluginWait { loaded, exited, timed_out };

struct PluginWaitTiming {
  std::chrono::milliseconds limit{30000};
  std::chrono::milliseconds poll{250};
};

// Polls: signal first, then Kelvo's exit, then the deadline, then a sleep.
PluginWait wait_for_plugin_with(const std::function<bool()>& signalled,
                                Process& kelvo, PluginWaitTiming timing);

// The wait for this token's loaded signal.
PluginWait wait_for_plugin(const std::string& token, Process& kelvo,
                           PluginWaitTiming timing);

}  // namespace orvalin
