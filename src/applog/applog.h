// The application log: one file per run, "app.log" in the log folder, that
// every thread may append to; every line is also printed to standard output.
#pragma once

#include <exception>
#include <filesystem>
#include <string>
#include <string_view>

namespace orvalin {

// The log folder: app_log_dir().
std::filesystem::path log_dir();

// Opens (or re-opens) the log file, emptying it, and writes the banner.
// Failures are silent: the program then logs to standard output only.
void open_log();

// From now on log lines go to standard error only: no file is opened and
// nothing is printed to standard output. For a service option run while
// another instance owns the log file. Main thread, before any logging.
void log_to_stderr_only();

// Prints the message and appends one time-stamped line. Any thread, any time.
void log(std::string_view message);

// Runs one unit of a thread's work (one line, one event, one press, one
// poll). A std::exception it throws, std::bad_alloc included, is logged as
// "<thread>: " + what() instead of ending the thread. False when one was
// caught.
template <class Work>
bool run_guarded(std::string_view thread, Work&& work) {
  try {
    work();
    return true;
  } catch (const std::exception& e) {
    try {
      log(std::string(thread) + ": " + e.what());
    } catch (const std::exception&) {
      // Out of memory even for the log line: going on is all that is left.
    }
    return false;
  }
}

// The file line for a message logged `seconds` after the log was opened.
std::string format_log_line(double seconds, std::string_view message);

}  // namespace orvalin
