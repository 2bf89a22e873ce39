#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "base/os.h"
#include "config/fileio.h"

namespace orvalin::cfgfile {

Result<std::string> read_file(const std::filesystem::path& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return fail(last_os_error_text());
  std::string bytes;
  char buffer[65536];
  for (;;) {
    const ssize_t got = ::read(fd, buffer, sizeof buffer);
    if (got < 0) {
      if (errno == EINTR) continue;
      const std::string error = last_os_error_text();
      ::close(fd);
      return fail(error);
    }
    if (got == 0) break;
    bytes.append(buffer, static_cast<size_t>(got));
  }
  ::close(fd);
  return bytes;
}

Status write_file(const std::filesystem::path& path, std::string_view bytes) {
  const int fd =
      ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0) return fail(last_os_error_text());
  while (!bytes.empty()) {
    const ssize_t put = ::write(fd, bytes.data(), bytes.size());
    if (put < 0) {
      if (errno == EINTR) continue;
      const std::string error = last_os_error_text();
      ::close(fd);
      return fail(error);
    }
    bytes.remove_prefix(static_cast<size_t>(put));
  }
  if (::close(fd) != 0) return fail(last_os_error_text());
  return {};
}

}  // namespace orvalin::cfgfile
