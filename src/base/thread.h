// Named, detached threads, and the fatal stop used when one cannot start.
#pragma once

#include <functional>
#include <string>
#include <string_view>

namespace orvalin {

// Names the calling thread for debuggers and crash dumps (best effort).
void set_thread_name(std::string_view name);

// Starts `body` on a detached thread. An empty `name` leaves the thread
// unnamed. If the thread cannot be started the program stops with
// `fatal_message` (see fatal_stop).
void spawn_detached(std::string name, std::function<void()> body,
                    std::string_view fatal_message);

// Called with the message before a fatal stop; the application log installs
// one so that the reason reaches the log file. Set once at start-up.
void set_fatal_hook(void (*hook)(std::string_view message));

// Writes `message` to standard error, hands it to the fatal hook and ends the
// process at once with exit code 1, without running destructors.
[[noreturn]] void fatal_stop(std::string_view message);

}  // namespace orvalin
