#include <errno.h>
#include <signal.h>
#include <spawn.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <map>
#include <mutex>
#include <sstream>
#include <string>

#include "base/os.h"
#include "base/process.h"

extern char** environ;

namespace orvalin {

namespace {

// Exit code reported for a child ended by a signal, as shells report it.
uint32_t code_of(int status) {
  if (WIFEXITED(status)) return static_cast<uint32_t>(WEXITSTATUS(status));
  if (WIFSIGNALED(status))
    return 128u + static_cast<uint32_t>(WTERMSIG(status));
  return 1;
}

class PosixProcess : public Process {
 public:
  PosixProcess(pid_t pid, bool own_group) : pid_(pid), own_group_(own_group) {}

  uint32_t id() const override { return static_cast<uint32_t>(pid_); }

  ProcessState poll() override {
    std::lock_guard lock(mutex_);
    return poll_locked();
  }

  void kill() override {
    std::lock_guard lock(mutex_);
    // Never signal a reaped pid: the number may belong to another process.
    if (!exit_code_) ::kill(pid_, SIGKILL);
  }

  // Waits for this child only, not for its group.
  std::optional<uint32_t> wait() override {
    // Block without reaping, so that poll() on another thread never loses
    // the exit status; then reap under the lock.
    siginfo_t info{};
    for (;;) {
      {
        std::lock_guard lock(mutex_);
        if (exit_code_) return exit_code_;
      }
      if (waitid(P_PID, static_cast<id_t>(pid_), &info, WEXITED | WNOWAIT) ==
              0 ||
          errno != EINTR) {
        break;
      }
    }
    std::lock_guard lock(mutex_);
    if (!exit_code_) reap_locked();
    return exit_code_;
  }

 private:
  ProcessState poll_locked() {
    ProcessState state;
    if (!exit_code_) {
      state = reap_locked();
      if (state.kind != ProcessState::Kind::exited) return state;
    }
    // The group's number stays taken while any member lives, so signal 0
    // can only reach this child's own descendants. EPERM: one lives.
    if (own_group_ && (::kill(-pid_, 0) == 0 || errno == EPERM)) return {};
    state.kind = ProcessState::Kind::exited;
    state.exit_code = *exit_code_;
    return state;
  }

  ProcessState reap_locked() {
    ProcessState state;
    int status = 0;
    pid_t got;
    do {
      got = waitpid(pid_, &status, WNOHANG);
    } while (got < 0 && errno == EINTR);
    if (got == 0) return state;
    if (got < 0) {
      state.kind = ProcessState::Kind::failed;
      state.error = last_os_error_text();
      return state;
    }
    exit_code_ = code_of(status);
    state.kind = ProcessState::Kind::exited;
    state.exit_code = *exit_code_;
    return state;
  }

  const pid_t pid_;
  const bool own_group_;
  std::mutex mutex_;  // guards exit_code_ and every waitpid call
  std::optional<uint32_t> exit_code_;  // set once the child is reaped
};

// RAII holders for the posix_spawn attribute objects.
struct FileActions {
  posix_spawn_file_actions_t actions;
  FileActions() { posix_spawn_file_actions_init(&actions); }
  ~FileActions() { posix_spawn_file_actions_destroy(&actions); }
};
struct SpawnAttributes {
  posix_spawnattr_t attributes;
  SpawnAttributes() { posix_spawnattr_init(&attributes); }
  ~SpawnAttributes() { posix_spawnattr_destroy(&attributes); }
};

std::optional<StatParents> stat_parents(uint32_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
  std::stringstream text;
  text << in.rdbuf();
  return parse_proc_stat(text.str());
}

}  // namespace

bool is_same_or_descendant(uint32_t pid, uint32_t ancestor) {
  if (pid == ancestor) return true;
  // The first parent read also gives the group; a chain is rarely deeper
  // than a few processes, and a bound keeps a racing reuse of pids from
  // looping.
  const std::optional<StatParents> own = stat_parents(pid);
  if (!own) return false;
  if (own->group == ancestor) return true;
  uint32_t parent = own->parent;
  for (int depth = 0; depth < 64 && parent > 1; ++depth) {
    if (parent == ancestor) return true;
    const std::optional<StatParents> next = stat_parents(parent);
    if (!next) return false;
    parent = next->parent;
  }
  return false;
}

Result<std::shared_ptr<Process>> spawn_process(const SpawnOptions& options) {
  std::vector<std::string> argv_text;
  argv_text.push_back(options.program);
  argv_text.insert(argv_text.end(), options.args.begin(), options.args.end());
  std::vector<char*> argv;
  for (auto& arg : argv_text) argv.push_back(arg.data());
  argv.push_back(nullptr);

  // This environment with the overrides replacing variables of the same
  // name (names are case-sensitive here).
  std::vector<std::string> env_text;
  for (char** entry = environ; entry && *entry; ++entry) {
    const std::string_view item(*entry);
    const auto equals = item.find('=');
    const std::string name(item.substr(0, equals));
    if (options.env.contains(name)) continue;
    env_text.emplace_back(item);
  }
  for (const auto& [name, value] : options.env) {
    env_text.push_back(name + "=" + value);
  }
  std::vector<char*> envp;
  for (auto& item : env_text) envp.push_back(item.data());
  envp.push_back(nullptr);

  FileActions actions;
  if (options.cwd) {
    const int error = posix_spawn_file_actions_addchdir_np(
        &actions.actions, options.cwd->c_str());
    if (error != 0)
      return fail(os_error_text(static_cast<unsigned long>(error)));
  }
  SpawnAttributes attributes;
  if (options.own_group) {
    posix_spawnattr_setpgroup(&attributes.attributes, 0);
    posix_spawnattr_setflags(&attributes.attributes, POSIX_SPAWN_SETPGROUP);
  }
  pid_t pid = 0;
  const int error =
      posix_spawn(&pid, options.program.c_str(), &actions.actions,
                  &attributes.attributes, argv.data(), envp.data());
  if (error != 0) return fail(os_error_text(static_cast<unsigned long>(error)));
  return std::make_shared<PosixProcess>(pid, options.own_group);
}

}  // namespace orvalin
