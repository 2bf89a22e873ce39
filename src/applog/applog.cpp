#include "applog/applog.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <memory>
#include <mutex>
#include <string>

#include "applog/logfile.h"
#include "base/os.h"
#include "base/thread.h"
#include "version.h"

namespace orvalin {

namespace {

using Clock = std::chrono::steady_clock;

struct LogState {
  std::mutex mutex;  // guards file and zero
  std::unique_ptr<LogFile> file;
  Clock::time_point zero;
};

// Never destroyed: threads that are not joined may log while the process
// ends.
LogState& state() {
  static LogState* const instance = new LogState;
  return *instance;
}

void log_fatal(std::string_view message) { log(message); }

// Set once, before other threads log, by log_to_stderr_only.
std::atomic<bool> g_stderr_only{false};

void print_line(std::string_view message) {
  std::string printed(message);
  printed += '\n';
  std::FILE* out = g_stderr_only.load() ? stderr : stdout;
  std::fwrite(printed.data(), 1, printed.size(), out);
  std::fflush(out);
}

}  // namespace

std::filesystem::path log_dir() { return app_log_dir(); }

std::string format_log_line(double seconds, std::string_view message) {
  if (!(seconds >= 0)) seconds = 0;
  char stamp[64];
  std::snprintf(stamp, sizeof stamp, "[%8.3f] ", seconds);
  std::string line(stamp);
  line.append(message);
  line += '\n';
  return line;
}

void open_log() {
  const std::string banner = std::string("Orvalin ") + kVersion;
  const std::filesystem::path dir = log_dir();
  std::error_code ignored;
  if (g_stderr_only.load()) {
    log(banner);
    return;
  }
  std::filesystem::create_directories(dir, ignored);
  if (auto file = create_log_file(dir / "app.log")) {
    // The banner is the file's first line at time zero by definition. Going
    // through log() would read the clock again after printing and flushing
    // standard output, which on a loaded machine is already past 0.000.
    file->write(format_log_line(0, banner));
    LogState& s = state();
    std::lock_guard lock(s.mutex);
    s.file = std::move(file);
    s.zero = Clock::now();
  }
  set_fatal_hook(&log_fatal);
  print_line(banner);
}

void log_to_stderr_only() { g_stderr_only.store(true); }

void log(std::string_view message) {
  print_line(message);
  if (g_stderr_only.load()) return;

  LogState& s = state();
  std::lock_guard lock(s.mutex);
  if (!s.file) return;
  const auto elapsed = Clock::now() - s.zero;
  const double seconds =
      std::chrono::duration_cast<std::chrono::nanoseconds>(elapsed).count() /
      1e9;
  s.file->write(format_log_line(seconds, message));
}

}  // namespace orvalin
