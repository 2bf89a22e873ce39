// The scripted test driver: a script from ORVALIN_TEST_ACTIONS of key
// presses, waits, control settings and read-outs, run on a thread of its own
// against the running Kelvo, writing what it did to the log.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "actions/actions.h"
#include "base/channel.h"
#include "base/result.h"
#include "base/timing.h"

namespace orvalin {

class Bridge;

namespace step {
struct Sleep {
  uint64_t milliseconds = 0;
};
struct Set {
  std::string group;
  std::string key;
  double value = 0;
};
struct BadStep {};  // a malformed set step
struct LogItem {
  std::string group;
  std::string key;
};
struct Log {
  std::vector<LogItem> items;
};
// Several keys pressed at once, "|" between them, with one pause after the
// last: presses that pile up faster than the worker takes them.
struct Keys {
  std::vector<std::string> keys;
};
struct Key {};  // anything else: a key text to look up
}  // namespace step

using TestStep = std::variant<step::Sleep, step::Set, step::BadStep, step::Log,
                              step::Keys, step::Key>;

// The script's steps: split at ";", trimmed, empty ones left out.
std::vector<std::string> split_test_script(std::string_view script);

// The form of one trimmed step.
TestStep parse_test_step(std::string_view text);

// The index of the key text equal to `text` ignoring ASCII letter case.
std::optional<uint64_t> find_test_key(const std::vector<std::string>& keys,
                                      std::string_view text);

// One log step's item: "group,key=" and the value in the number format, or
// "=?" when the read failed.
std::string format_test_log_item(const step::LogItem& item,
                                 const Result<double>& value);

// What the runner needs of the world; the real one is the bridge and the
// clock, tests give a fake.
class TestEnvironment {
 public:
  virtual ~TestEnvironment() = default;
  virtual Result<double> get(const std::string& group,
                             const std::string& key) = 0;
  virtual void set(const std::string& group, const std::string& key,
                   double value) = 0;
  virtual void sleep(std::chrono::milliseconds duration) = 0;
  // The moment a key step's press is made.
  virtual std::chrono::steady_clock::time_point now() {
    return std::chrono::steady_clock::now();
  }
};

// Runs the whole script: a start pause (`driver_start`), the steps (a pause
// of `driver_key` after each key step), "test: done". Each key step is
// looked up in the bindings in force when it runs.
void run_test_script_with(std::string_view script,
                          const BindingsInForce& bindings,
                          const Sender<KeyPress>& actions,
                          TestEnvironment& environment,
                          const Timing& timing = {});

// Body of the driver's thread.
void run_test_script(std::string script,
                     std::shared_ptr<const BindingsInForce> bindings,
                     Sender<KeyPress> actions, std::shared_ptr<Bridge> bridge,
                     const Timing& timing);

}  // namespace orvalin
