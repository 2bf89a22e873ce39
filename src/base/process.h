// Child processes: starting a program with extra environment variables and a
// working directory, and asking without waiting whether it has exited.
// Dropping a Process never stops the child.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
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
  // Non-waiting exit check.
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
};

// Starts the program; on failure the system's error text.
Result<std::shared_ptr<Process>> spawn_process(const SpawnOptions& options);

}  // namespace orvalin
