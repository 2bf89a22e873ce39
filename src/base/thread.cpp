#include "base/thread.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <system_error>
#include <thread>

namespace orvalin {

namespace {
std::atomic<void (*)(std::string_view)> g_fatal_hook{nullptr};
}  // namespace

void spawn_detached(std::string name, std::function<void()> body,
                    std::string_view fatal_message) {
  try {
    std::thread([name = std::move(name), body = std::move(body)] {
      if (!name.empty()) set_thread_name(name);
      body();
    }).detach();
  } catch (const std::system_error&) {
    fatal_stop(fatal_message);
  }
}

void set_fatal_hook(void (*hook)(std::string_view message)) {
  g_fatal_hook.store(hook);
}

void fatal_stop(std::string_view message) {
  std::fprintf(stderr, "%.*s\n", static_cast<int>(message.size()),
               message.data());
  std::fflush(stderr);
  if (auto hook = g_fatal_hook.load()) hook(message);
  std::_Exit(1);
}

}  // namespace orvalin
