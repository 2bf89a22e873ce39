#include "hotkeys/hotkeys.h"

#include <algorithm>
#include <chrono>
#include <deque>

#include "applog/applog.h"
#include "base/os.h"
#include "base/process.h"
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
    if (api_.kept_by_system(entry.modifiers, entry.vk)) {
      // Not another program's: no one can have it. The layer reaches it.
      if (kept_.insert(entry.key).second) {
        log("hotkey " + entry.key +
            " is kept by the system; reachable through the layer key");
      }
      continue;
    }
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

void HotkeyRegistry::set_layer_keys(const std::vector<KeyCombination>& keys) {
  std::lock_guard lock(mutex_);
  for (size_t i = 0; i < layer_count_; ++i) {
    api_.unregister_hotkey(kLayerIdBase + static_cast<int>(i));
  }
  layer_count_ = keys.size();
  for (size_t i = 0; i < keys.size(); ++i) {
    const KeyCombination& key = keys[i];
    // A held key must not run a second binding once the layer has closed
    // and opened again.
    if (api_.register_hotkey(kLayerIdBase + static_cast<int>(i),
                             key.modifiers | kModNoRepeat, key.vk)) {
      continue;
    }
    if (layer_failed_.emplace(key.modifiers, key.vk).second) {
      log("layer key " + key_combination_text(key) +
          " is taken by another program");
    }
  }
}

bool HotkeyRegistry::registered() const {
  std::lock_guard lock(mutex_);
  return registered_;
}

std::vector<std::string> HotkeyRegistry::taken() const {
  std::lock_guard lock(mutex_);
  return taken_;
}

HotkeyLoop::HotkeyLoop(HotkeyRegistry& registry, uint32_t kelvo_pid,
                       std::shared_ptr<const BindingsInForce> bindings,
                       Sender<KeyPress> actions, KeyboardLayout* layout,
                       Speech speech, std::chrono::milliseconds layer_wait,
                       Clock now)
    : registry_(registry),
      kelvo_pid_(kelvo_pid),
      bindings_(std::move(bindings)),
      actions_(std::move(actions)),
      layout_(layout),
      speech_(std::move(speech)),
      layer_wait_(layer_wait),
      now_(std::move(now)) {
  use_layer_key(*bindings_->current());
}

void HotkeyLoop::use_layer_key(const BindingTables& tables) {
  layer_id_.reset();
  layer_key_spoken_.clear();
  if (tables.layer_key) {
    layer_id_ = tables.hotkeys.size();
    layer_key_spoken_ = key_spoken_name(tables.layer_key->key);
  }
}

void HotkeyLoop::foreground_changed(uint32_t pid) {
  // Kelvo may be a script whose child owns the window.
  kelvo_in_front_ = pid != 0 && is_same_or_descendant(pid, kelvo_pid_);
  // The layer's plain keys belong to whatever window is in front now.
  if (!kelvo_in_front_ && layer_deadline_) close_layer();
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
    const BindingTables& tables) {
  // The waiting layer's keys were made from the old bindings.
  if (layer_deadline_) close_layer();
  use_layer_key(tables);
  std::vector<HotkeyEntry> entries = registered_entries(tables);
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
  if (logged) {
    speech_.say_queued(left_to_typing_sentence(left.size(), layer_key_spoken_));
  }
  return left;
}

std::string left_to_typing_line(const std::string& key,
                                const std::string& typed) {
  // not spoken: logged
  return key + " types " + typed + " on this keyboard layout; left to typing";
}

std::string left_to_typing_sentence(size_t count, std::string_view layer_key) {
  if (!layer_key.empty()) {
    return fill(kTypedLayer.of(count), {std::to_string(count), layer_key});
  }
  return fill(kLeftToTyping.of(count), {std::to_string(count)});
}

void HotkeyLoop::hotkey_pressed(uint64_t id) {
  if (id >= static_cast<uint64_t>(kLayerIdBase)) {
    const size_t index = static_cast<size_t>(id) - kLayerIdBase;
    // A press queued before the layer closed is no longer the layer's.
    if (!layer_deadline_ || index >= layer_keys_.size()) return;
    const LayerKey key = layer_keys_[index];
    if (key.cancels) {
      close_layer(kLayerCancelled);
    } else if (!key.binding) {
      close_layer(kLayerUnbound);
    } else {
      close_layer();
      // Reached through the layer, the key is Orvalin's even where it types
      // a character.
      send_press(*key.binding, false);
    }
    return;
  }
  if (layer_id_ && id == *layer_id_) {
    if (layer_deadline_) {
      close_layer(kLayerCancelled);
    } else {
      open_layer();
    }
    return;
  }
  // A direct key is the one key the layer waited for.
  if (layer_deadline_) close_layer();
  send_press(static_cast<size_t>(id), left_.contains(static_cast<size_t>(id)));
}

void HotkeyLoop::send_press(size_t index, bool left_to_typing) {
  KeyPress press = bindings_->press(index);
  press.left_to_typing = left_to_typing;
  actions_.send(std::move(press));
}

void HotkeyLoop::open_layer() {
  layer_keys_ = layer_keys(bindings_->current()->hotkeys);
  std::vector<KeyCombination> keys;
  keys.reserve(layer_keys_.size());
  for (const LayerKey& key : layer_keys_) keys.push_back(key.combination);
  registry_.set_layer_keys(keys);
  layer_deadline_ = now_() + layer_wait_;
  // Said once the keys are Orvalin's (a few milliseconds): a key pressed as
  // soon as "Orvalin" is heard must not reach Kelvo.
  speech_.say(kLayerOpen);
}

void HotkeyLoop::close_layer(std::string_view said) {
  registry_.set_layer_keys({});
  layer_keys_.clear();
  layer_deadline_.reset();
  if (!said.empty()) speech_.say(said);
}

std::optional<std::chrono::steady_clock::time_point>
HotkeyLoop::layer_deadline() const {
  return layer_deadline_;
}

void HotkeyLoop::tick() {
  if (layer_deadline_ && now_() >= *layer_deadline_) close_layer();
}

void HotkeyLoop::quit() {
  if (layer_deadline_) close_layer();
  registry_.set_active(false);
  actions_.reset();
}

namespace {

// The key of a Ctrl+Alt entry without Ctrl+Alt, as the layer takes it;
// nothing for an entry without both.
std::optional<KeyCombination> in_layer(const HotkeyEntry& entry) {
  constexpr uint32_t kCtrlAlt = kModControl | kModAlt;
  if ((entry.modifiers & kCtrlAlt) != kCtrlAlt) return std::nullopt;
  return KeyCombination{entry.modifiers & ~kCtrlAlt, entry.vk};
}

}  // namespace

std::vector<LayerKey> layer_keys(const std::vector<HotkeyEntry>& entries) {
  constexpr uint32_t kEscape = 0x1B;
  std::vector<LayerKey> keys;
  std::set<std::pair<uint32_t, uint32_t>> listed;
  const auto add = [&](LayerKey key) {
    if (listed.emplace(key.combination.modifiers, key.combination.vk).second) {
      keys.push_back(key);
    }
  };
  add({{0, kEscape}, std::nullopt, true});
  for (size_t i = 0; i < entries.size(); ++i) {
    if (auto key = in_layer(entries[i])) add({*key, i, false});
  }
  for (const uint32_t modifiers : {0u, kModShift}) {
    for (const uint32_t vk : named_key_codes()) {
      add({{modifiers, vk}, std::nullopt, false});
    }
  }
  return keys;
}

std::vector<HotkeyEntry> registered_entries(const BindingTables& tables) {
  std::vector<HotkeyEntry> entries = tables.hotkeys;
  if (tables.layer_key) entries.push_back(*tables.layer_key);
  return entries;
}

std::string ready_sentence(const BindingTables& tables,
                           const std::set<std::string>& kept) {
  std::optional<KeyCombination> through_layer;
  for (size_t i = 0; i < tables.actions.size(); ++i) {
    if (!std::holds_alternative<act::KeyHelp>(tables.actions[i].action)) {
      continue;
    }
    const HotkeyEntry& entry = tables.hotkeys[i];
    if (!kept.contains(entry.key)) {
      return fill(kReadyKeyHelp, {key_spoken_name(entry.key)});
    }
    if (tables.layer_key && !through_layer) through_layer = in_layer(entry);
  }
  if (through_layer) {
    return fill(kReadyLayerKeyHelp,
                {key_spoken_name(tables.layer_key->key),
                 key_spoken_name(key_combination_text(*through_layer))});
  }
  return std::string(kReady);
}

std::optional<std::string> taken_hotkeys_sentence(
    const std::vector<std::string>& taken) {
  if (taken.empty()) return std::nullopt;
  std::string keys;
  for (const std::string& key : taken) {
    if (!keys.empty()) keys += kListSeparator;
    keys += key_heard_name(key, '+');
  }
  return fill(kHotkeysTaken.of(taken.size()),
              {std::to_string(taken.size()), keys});
}

std::string foreground_watch_failure(unsigned long error) {
  // not spoken: logged
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

}  // namespace orvalin
