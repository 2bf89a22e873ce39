#include <poll.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "base/os.h"
#include "reload/filewatch.h"

namespace orvalin {

namespace {

constexpr uint32_t kMask = IN_MODIFY | IN_CLOSE_WRITE | IN_ATTRIB | IN_CREATE |
                           IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO;

class InotifyWatch final : public FileWatch {
 public:
  InotifyWatch(int fd, std::string name) : fd_(fd), name_(std::move(name)) {}
  ~InotifyWatch() override { close(fd_); }
  InotifyWatch(const InotifyWatch&) = delete;
  InotifyWatch& operator=(const InotifyWatch&) = delete;

  Result<bool> wait(std::optional<std::chrono::milliseconds> timeout) override {
    pollfd ready{fd_, POLLIN, 0};
    const int waited =
        poll(&ready, 1, timeout ? static_cast<int>(timeout->count()) : -1);
    if (waited == 0 || (waited < 0 && errno == EINTR)) return false;
    if (waited < 0) return fail(last_os_error_text());
    alignas(inotify_event) char buffer[16 * 1024];
    const ssize_t got = read(fd_, buffer, sizeof buffer);
    if (got < 0) {
      if (errno == EINTR || errno == EAGAIN) return false;
      return fail(last_os_error_text());
    }
    bool changed = false;
    for (ssize_t at = 0; at < got;) {
      inotify_event event;
      std::memcpy(&event, buffer + at, sizeof event);
      const char* name = buffer + at + sizeof event;
      at += static_cast<ssize_t>(sizeof event + event.len);
      // Events were lost: the file may be among them.
      if (event.mask & IN_Q_OVERFLOW) changed = true;
      // The folder itself is gone; nothing will be reported any more.
      if (event.mask & IN_IGNORED) return fail("the settings folder is gone");
      if (event.len != 0 && name_ == name) changed = true;
    }
    return changed;
  }

 private:
  const int fd_;
  const std::string name_;
};

}  // namespace

Result<std::unique_ptr<FileWatch>> watch_file(
    const std::filesystem::path& file) {
  const int fd = inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
  if (fd < 0) return fail(last_os_error_text());
  std::filesystem::path dir = file.parent_path();
  if (dir.empty()) dir = ".";
  if (inotify_add_watch(fd, dir.c_str(), kMask | IN_ONLYDIR) < 0) {
    std::string error = last_os_error_text();
    close(fd);
    return fail(std::move(error));
  }
  return std::unique_ptr<FileWatch>(
      new InotifyWatch(fd, file.filename().string()));
}

}  // namespace orvalin
