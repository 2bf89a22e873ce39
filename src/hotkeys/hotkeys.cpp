#include "hotkeys/hotkeys.h"

#include <algorithm>
#include <chrono>
#include <deque>
#include <thread>

#include "applog/applog.h"
#include "base/os.h"
#include "base/sentences.h"
#include "config/keys.h"

namespace orvalin {

namespace {

// Work that other threads hand to the hot-key loop's thread.
std::mutex g_tasks_mutex;  // guards g_tasks
std::deque<LoopTask> g_tasks;

}  // namespace

void HotkeyRegistry::start(std::vector<HotkeyEntry> entries) {
  std::lock_guard lock(mutex_);
  entries_ = std::move(entries);
  registered_ = false;
  taken_.clear();
}

std::vector<std::string> HotkeyRegistry::set_active(bool active) {
  std::lock_guard lock(mutex_);
  std::vector<std::string> newly_taken;
  if (entries_ && registered_ != active) apply_locked(active, newly_taken);
  return newly_taken;
}

std::vector<std::string> HotkeyRegistry::replace(
    std::vector<HotkeyEntry> entries, std::set<size_t> left_to_typing) {
  std::lock_guard lock(mutex_);
  const bool active = registered_;
  std::vector<std::string> newly_taken;
  if (active) apply_locked(false, newly_taken);
  entries_ = std::move(entries);
  left_to_typing_ = std::move(left_to_typing);
  if (active) apply_locked(true, newly_taken);
  return newly_taken;
}

void HotkeyRegistry::set_left_to_typing(std::set<size_t> ids) {
  std::lock_guard lock(mutex_);
  if (ids == left_to_typing_) return;
  const bool active = entries_ && registered_;
  std::vector<std::string> newly_taken;
  if (active) apply_locked(false, newly_taken);
  left_to_typing_ = std::move(ids);
  if (active) apply_locked(true, newly_taken);
}

std::vector<HotkeyEntry> HotkeyRegistry::entries() const {
  std::lock_guard lock(mutex_);
  return entries_.value_or(std::vector<HotkeyEntry>{});
}

void HotkeyRegistry::apply_locked(bool active,
                                  std::vector<std::string>& newly_taken) {
  const std::vector<HotkeyEntry>& entries = *entries_;
  for (size_t i = 0; i < entries.size(); ++i) {
    const int id = static_cast<int>(i);
    if (!active) {
      // An id whose registration failed fails here too; that is expected.
      api_.unregister_hotkey(id);
      continue;
    }
    if (left_to_typing_.contains(i)) continue;
    const HotkeyEntry& entry = entries[i];
    const uint32_t modifiers =
        entry.modifiers | (entry.repeat ? 0 : kModNoRepeat);
    if (api_.register_hotkey(id, modifiers, entry.vk)) continue;
    if (std::find(taken_.begin(), taken_.end(), entry.key) != taken_.end()) {
      continue;
    }
    log("hotkey " + entry.key + " is taken by another program");
    taken_.push_back(entry.key);
    newly_taken.push_back(entry.key);
  }
  registered_ = active;
}

bool HotkeyRegistry::registered() const {
  std::lock_guard lock(mutex_);
  return registered_;
}

std::vector<std::string> HotkeyRegistry::taken() const {
  std::lock_guard lock(mutex_);
  return taken_;
}

void HotkeyLoop::foreground_changed(uint32_t pid) {
  kelvo_in_front_ = pid != 0 && pid == kelvo_pid_;
  if (kelvo_in_front_) check_layout();
  const bool registering = kelvo_in_front_ && !registry_.registered();
  const std::vector<std::string> taken = registry_.set_active(kelvo_in_front_);
  if (!registering || !report_taken_) return;
  report_taken_ = false;
  if (auto sentence = taken_hotkeys_sentence(taken)) {
    speech_.say_queued(*sentence);
  }
}

void HotkeyLoop::check_layout() {
  if (layout_ == nullptr) return;
  const uint64_t layout = layout_->current();
  if (checked_layout_ == layout) return;
  checked_layout_ = layout;
  left_ = left_to_typing(registry_.entries(), layout);
  registry_.set_left_to_typing(key_help_ ? std::set<size_t>{} : left_);
}

void HotkeyLoop::set_key_help(bool on) {
  key_help_ = on;
  registry_.set_left_to_typing(key_help_ ? std::set<size_t>{} : left_);
}

std::vector<std::string> HotkeyLoop::replace_entries(
    std::vector<HotkeyEntry> entries) {
  // Checked before the new keys are registered, so that none of them takes
  // a typed character even for a moment. Away from Kelvo the check waits for
  // Kelvo's next turn in front.
  left_.clear();
  checked_layout_.reset();
  // Registered at once, or at Kelvo's next turn in front.
  report_taken_ = !registry_.registered();
  if (layout_ != nullptr && kelvo_in_front_) {
    checked_layout_ = layout_->current();
    left_ = left_to_typing(entries, *checked_layout_);
  }
  return registry_.replace(std::move(entries),
                           key_help_ ? std::set<size_t>{} : left_);
}

std::set<size_t> HotkeyLoop::left_to_typing(
    const std::vector<HotkeyEntry>& entries, uint64_t layout) {
  std::set<size_t> left;
  bool logged = false;
  for (size_t i = 0; i < entries.size(); ++i) {
    const HotkeyEntry& entry = entries[i];
    if ((entry.modifiers & (kModControl | kModAlt)) !=
        (kModControl | kModAlt)) {
      continue;
    }
    const std::string typed = layout_->typed(layout, entry.modifiers, entry.vk);
    if (typed.empty()) continue;
    left.insert(i);
    // Logged once per layout, not at every switch; a key that a reload adds
    // is logged when it is first checked.
    if (logged_.emplace(layout, entry.key).second) {
      log(left_to_typing_line(entry.key, typed));
      logged = true;
    }
  }
  if (logged) speech_.say_queued(left_to_typing_sentence(left.size()));
  return left;
}

std::string left_to_typing_line(const std::string& key,
                                const std::string& typed) {
  return key + " types " + typed + " on this keyboard layout; left to typing";
}

std::string left_to_typing_sentence(size_t count) {
  return fill(count == 1 ? kLeftToTypingOne : kLeftToTypingMany,
              {std::to_string(count)});
}

void HotkeyLoop::hotkey_pressed(uint64_t id) {
  KeyPress press = bindings_->press(id);
  press.left_to_typing = left_.contains(static_cast<size_t>(id));
  actions_.send(std::move(press));
}

void HotkeyLoop::quit() {
  registry_.set_active(false);
  actions_.reset();
}

std::optional<std::string> taken_hotkeys_sentence(
    const std::vector<std::string>& taken) {
  if (taken.empty()) return std::nullopt;
  std::string keys;
  for (const std::string& key : taken) {
    if (!keys.empty()) keys += ", ";
    keys += key;
  }
  return fill(kHotkeysTaken, {std::to_string(taken.size()), keys});
}

std::string foreground_watch_failure(unsigned long error) {
  return "foreground watch failed: " +
         (error != 0 ? os_error_text(error) : std::string("no hook installed"));
}

void queue_loop_task(LoopTask task) {
  std::lock_guard lock(g_tasks_mutex);
  g_tasks.push_back(std::move(task));
}

void run_loop_tasks(HotkeyLoop& loop) {
  for (;;) {
    LoopTask task;
    {
      std::lock_guard lock(g_tasks_mutex);
      if (g_tasks.empty()) return;
      task = std::move(g_tasks.front());
      g_tasks.pop_front();
    }
    // One task that throws must not end the loop, nor keep the others.
    run_guarded("main", [&] { task(loop); });
  }
}

void set_hotkeys_active(bool active) { hotkey_registry().set_active(active); }

void report_taken_hotkeys(Speech speech, std::chrono::milliseconds delay) {
  std::this_thread::sleep_for(delay);
  if (auto sentence = taken_hotkeys_sentence(hotkey_registry().taken())) {
    speech.say_queued(*sentence);
  }
}

}  // namespace orvalin
