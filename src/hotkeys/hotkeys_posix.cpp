// There are no global hot keys here yet: the loop only runs the tasks posted
// to it and waits for the quit signal, which post_quit gives from any
// thread.
#include <atomic>
#include <condition_variable>
#include <mutex>

#include "hotkeys/hotkeys.h"

namespace orvalin {

namespace {

class NoHotkeys final : public HotkeyApi {
 public:
  bool register_hotkey(int, uint32_t, uint32_t) override { return true; }
  void unregister_hotkey(int) override {}
};

std::mutex g_quit_mutex;  // guards g_quit_posted and g_task_posted
std::condition_variable g_quit_posted_cv;
// Stays set until a loop has seen it, so a quit that comes before the loop
// starts still ends it.
bool g_quit_posted = false;
bool g_task_posted = false;

}  // namespace

HotkeyRegistry& hotkey_registry() {
  static NoHotkeys api;
  static HotkeyRegistry registry(api);
  return registry;
}

void run_hotkeys(std::shared_ptr<const BindingsInForce> bindings,
                 uint32_t kelvo_pid, Sender<KeyPress> actions, Speech,
                 std::chrono::milliseconds) {
  HotkeyRegistry& registry = hotkey_registry();
  registry.start(bindings->current()->hotkeys);
  HotkeyLoop loop(registry, kelvo_pid, std::move(bindings), std::move(actions));
  for (;;) {
    {
      std::unique_lock lock(g_quit_mutex);
      g_quit_posted_cv.wait(lock,
                            [] { return g_quit_posted || g_task_posted; });
      if (g_quit_posted) {
        g_quit_posted = false;
        break;
      }
      g_task_posted = false;
    }
    run_loop_tasks(loop);
  }
  loop.quit();
}

void post_to_loop(uint32_t, LoopTask task) {
  queue_loop_task(std::move(task));
  {
    std::lock_guard lock(g_quit_mutex);
    g_task_posted = true;
  }
  g_quit_posted_cv.notify_all();
}

void post_quit(uint32_t) {
  {
    std::lock_guard lock(g_quit_mutex);
    g_quit_posted = true;
  }
  g_quit_posted_cv.notify_all();
}

uint32_t current_thread_id() {
  static std::atomic<uint32_t> next{1};
  thread_local const uint32_t id = next.fetch_add(1);
  return id;
}

}  // namespace orvalin
