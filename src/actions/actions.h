// The action worker: runs one binding at a time against Kelvo's controls
// and speaks the outcome.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "base/channel.h"
#include "base/result.h"
#include "config/config.h"
#include "controls/appstate.h"
#include "controls/names.h"

namespace orvalin {

// One key press on its way to the action worker: the binding's index, the
// moment the press was made (WM_HOTKEY's arrival, or the test driver's
// sending of its key), and the binding tables that were in force then, so a
// settings reload between the press and its turn does not change what the
// press does.
struct KeyPress {
  uint64_t index = 0;
  std::chrono::steady_clock::time_point made{};
  // The tables `index` refers to; none: the worker's own table.
  std::shared_ptr<const BindingTables> bindings{};
  // The key was left to typing on Kelvo's keyboard layout and reaches us
  // only because key help is on: it is described, never run.
  bool left_to_typing = false;
};

// The binding tables in force. A settings reload replaces them on the main
// thread, between two key presses; the hot-key loop and the test driver
// read them to make each press. Any thread.
class BindingsInForce {
 public:
  explicit BindingsInForce(std::shared_ptr<const BindingTables> tables)
      : tables_(std::move(tables)) {}

  std::shared_ptr<const BindingTables> current() const {
    std::lock_guard lock(mutex_);
    return tables_;
  }
  void replace(std::shared_ptr<const BindingTables> tables) {
    std::lock_guard lock(mutex_);
    tables_ = std::move(tables);
  }
  // A press of binding `index` of the tables in force, made now.
  KeyPress press(uint64_t index) const {
    return {index, std::chrono::steady_clock::now(), current()};
  }

 private:
  mutable std::mutex mutex_;  // guards tables_
  std::shared_ptr<const BindingTables> tables_;
};

// "Kelvo was busy. N key presses skipped." ("1 key press").
std::string skipped_presses_sentence(size_t count);

// Whether the plugin reads parameters on a wrong scale, by the one control
// whose value and parameter differ: the crossfader, read both ways. An
// error when it cannot be read. Start-up asks it once.
Result<bool> parameters_on_wrong_scale(Bridge& bridge);

// Replaces every "{deck}" with the deck number.
std::string resolve_deck(std::string_view text, uint8_t deck);

// Runs one action with the current deck; the error text is spoken by the
// worker as "Error: " + text.
Status run_action(const std::shared_ptr<AppState>& state, const Action& action);

// The worker loop (thread "actions"): takes key presses until the queue
// closes; handles key-help mode and speaks errors. A press that reaches
// Kelvo is skipped when it is older than the run's `press_max_age`, or when
// Kelvo was busy (a request timed out) and it was made before Kelvo
// answered again. A press is looked up in the tables it carries, else in
// `actions`. `now` is the clock the presses' age is measured with.
void run_action_worker(std::shared_ptr<AppState> state,
                       std::vector<KeyAction> actions, Receiver<KeyPress> queue,
                       std::function<std::chrono::steady_clock::time_point()>
                           now = std::chrono::steady_clock::now);

}  // namespace orvalin
