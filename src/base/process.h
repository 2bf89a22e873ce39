// Child processes: starting a program with extra environment variables and a
// working directory, and asking without waiting whether it has exited.
// Dropping a Process never stops the child. A program may be a script that
// starts the real one as its child, so a started process can be followed
// with its descendants (own_group, is_same_or_descendant).
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/result.h"

namespace orvalin {

// What a non-waiting exit check found.
struct ProcessState {
  enum class Kind { running, exited, failed };
  Kind kind = Kind::running;
  uint32_t exit_code = 0;  // when exited
  std::string error;       // when failed: why the question could not be asked
};

// One started child process. Implementations are thread-safe: the handle is
// guarded by a mutex that is held only for one non-waiting check.
class Process {
 public:
  virtual ~Process() = default;
  virtual uint32_t id() const = 0;
  // Non-waiting exit check. A child started with own_group counts as running
  // until its descendants have exited too; the exit code is its own.
  virtual ProcessState poll() = 0;

  // For tests and tools only (Orvalin never stops Kelvo): end the child at
  // once, and wait for its exit code.
  virtual void kill() = 0;
  virtual std::optional<uint32_t> wait() = 0;
};

struct SpawnOptions {
  std::string program;            // full path, UTF-8
  std::vector<std::string> args;  // without the program itself
  // Variables set (or replaced) in the child's copy of this environment.
  std::map<std::string, std::string> env;
  // Working directory; the caller's own when absent.
  std::optional<std::string> cwd;
  // The child leads a process group of its own (not on Windows), so that
  // its descendants are still known as such once it has exited.
  bool own_group = false;
};

// Starts the program; on failure the system's error text.
Result<std::shared_ptr<Process>> spawn_process(const SpawnOptions& options);

// Whether process `pid` is `ancestor` or descends from it: its chain of
// parents reaches `ancestor`, or it belongs to the process group `ancestor`
// leads (descendants whose parent has exited). Windows, where a started
// program's windows and sockets are its own, compares the two. False when
// `pid` cannot be read.
bool is_same_or_descendant(uint32_t pid, uint32_t ancestor);

// The parent and the process group in the text of /proc/<pid>/stat; nothing
// when it does not parse (the name, in parentheses, may hold anything).
struct StatParents {
  uint32_t parent = 0;
  uint32_t group = 0;
};
std::optional<StatParents> parse_proc_stat(std::string_view text);

}  // namespace orvalin
