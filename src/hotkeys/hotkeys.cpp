#include "hotkeys/hotkeys.h"

#include <algorithm>
#include <chrono>
#include <thread>

#include "applog/applog.h"
#include "config/keys.h"

namespace orvalin {

void HotkeyRegistry::start(std::vector<HotkeyEntry> entries) {
  std::lock_guard lock(mutex_);
  entries_ = std::move(entries);
  registered_ = false;
  taken_.clear();
}

void HotkeyRegistry::set_active(bool active) {
  std::lock_guard lock(mutex_);
  if (!entries_ || registered_ == active) return;
  const std::vector<HotkeyEntry>& entries = *entries_;
  for (size_t i = 0; i < entries.size(); ++i) {
    const int id = static_cast<int>(i);
    if (!active) {
      // An id whose registration failed fails here too; that is expected.
      api_.unregister_hotkey(id);
      continue;
    }
    const HotkeyEntry& entry = entries[i];
    const uint32_t modifiers =
        entry.modifiers | (entry.repeat ? 0 : kModNoRepeat);
    if (api_.register_hotkey(id, modifiers, entry.vk)) continue;
    if (std::find(taken_.begin(), taken_.end(), entry.key) != taken_.end()) {
      continue;
    }
    log("hotkey " + entry.key + " is taken by another program");
    taken_.push_back(entry.key);
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
  registry_.set_active(pid != 0 && pid == kelvo_pid_);
}

void HotkeyLoop::hotkey_pressed(uint64_t id) {
  actions_.send(KeyPress{id, std::chrono::steady_clock::now()});
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
  return std::to_string(taken.size()) +
         " hotkeys are used by another program: " + keys;
}

void set_hotkeys_active(bool active) { hotkey_registry().set_active(active); }

void report_taken_hotkeys(Speech speech) {
  std::this_thread::sleep_for(std::chrono::seconds(5));
  if (auto sentence = taken_hotkeys_sentence(hotkey_registry().taken())) {
    speech.say_queued(*sentence);
  }
}

}  // namespace orvalin
