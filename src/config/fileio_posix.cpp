#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>

#include "base/os.h"
#include "config/fileio.h"

namespace orvalin::cfgfile {

namespace {

Status write_all(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t put = ::write(fd, bytes.data(), bytes.size());
    if (put < 0) {
      if (errno == EINTR) continue;
      return fail(last_os_error_text());
    }
    bytes.remove_prefix(static_cast<size_t>(put));
  }
  return {};
}

Result<std::string> read_all(int fd) {
  std::string bytes;
  char buffer[65536];
  for (;;) {
    const ssize_t got = ::read(fd, buffer, sizeof buffer);
    if (got < 0) {
      if (errno == EINTR) continue;
      return fail(last_os_error_text());
    }
    if (got == 0) break;
    bytes.append(buffer, static_cast<size_t>(got));
  }
  return bytes;
}

}  // namespace

Result<std::optional<std::string>> read_file_if_exists(
    const std::filesystem::path& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    // ENOTDIR: a part of the folder path is a file, so the file cannot exist.
    if (errno == ENOENT || errno == ENOTDIR) return std::nullopt;
    return fail(last_os_error_text());
  }
  auto bytes = read_all(fd);
  ::close(fd);
  if (!bytes) return fail(std::move(bytes.error()));
  return std::move(*bytes);
}

Result<bool> create_new_file(const std::filesystem::path& path,
                             std::string_view bytes) {
  static std::atomic<unsigned> counter{0};
  std::filesystem::path temp;
  int fd = -1;
  while (fd < 0) {
    temp = path;
    temp +=
        ".new-" + std::to_string(::getpid()) + "-" + std::to_string(counter++);
    fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0 && errno != EEXIST) return fail(last_os_error_text());
  }
  Status written = write_all(fd, bytes);
  if (::close(fd) != 0 && written) written = fail(last_os_error_text());
  if (!written) {
    ::unlink(temp.c_str());
    return fail(std::move(written.error()));
  }
  // link() never replaces an existing name: the exclusive step.
  const int linked = ::link(temp.c_str(), path.c_str());
  const int error = errno;
  ::unlink(temp.c_str());
  if (linked == 0) return true;
  if (error == EEXIST) return false;
  return fail(os_error_text(static_cast<unsigned long>(error)));
}

Status write_file(const std::filesystem::path& path, std::string_view bytes) {
  const int fd =
      ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0) return fail(last_os_error_text());
  Status written = write_all(fd, bytes);
  if (::close(fd) != 0 && written) return fail(last_os_error_text());
  return written;
}

}  // namespace orvalin::cfgfile
