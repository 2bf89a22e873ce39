#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstring>

#include "base/os.h"
#include "host.h"

namespace kelvosim {

namespace {

// Binds a Unix socket in the abstract namespace: the name exists exactly as
// long as the socket stays open. -1 with errno set on failure.
int bind_abstract(const std::string& name) {
  const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  // The leading NUL of sun_path selects the abstract namespace.
  const size_t length = std::min(name.size(), sizeof address.sun_path - 1);
  std::memcpy(address.sun_path + 1, name.data(), length);
  const auto size =
      static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + length);
  if (bind(fd, reinterpret_cast<sockaddr*>(&address), size) != 0) {
    const int saved = errno;
    close(fd);
    errno = saved;
    return -1;
  }
  return fd;
}

}  // namespace

std::string loaded_signal_name(std::string_view token) {
  return "OrvalinPluginLoaded-" + std::string(token.substr(0, 16));
}

orvalin::Status raise_loaded_signal(std::string_view token) {
  // Kept open (never closed) for the life of the process.
  if (bind_abstract(loaded_signal_name(token)) < 0) {
    return orvalin::fail("cannot create the loaded signal: " +
                         orvalin::last_os_error_text());
  }
  return {};
}

bool loaded_signal_exists(std::string_view token) {
  const int fd = bind_abstract(loaded_signal_name(token));
  if (fd >= 0) {
    close(fd);
    return false;
  }
  return errno == EADDRINUSE;
}

std::string_view plugin_file_name() { return "liborvalin.so"; }

char plugin_path_separator() { return ':'; }

std::vector<std::string> program_args(int argc, char** argv) {
  return std::vector<std::string>(argv + 1, argv + argc);
}

void show_main_window() {}

}  // namespace kelvosim
