// The plugin outside Windows: a shared library, and the loaded signal as a
// Unix socket bound to an abstract name, which exists exactly as long as
// the socket stays open.
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstring>

#include "base/os.h"
#include "base/plugin.h"
#include "base/sentences.h"

namespace orvalin {

namespace {

// A socket of `type` bound to the abstract `name`; -1 with errno set on
// failure ("address in use" while another socket holds the name).
int bind_abstract(const std::string& name, int type) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (name.size() + 1 > sizeof address.sun_path) {
    errno = ENAMETOOLONG;
    return -1;
  }
  const int fd = ::socket(AF_UNIX, type | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  // The leading NUL of sun_path selects the abstract namespace.
  std::memcpy(address.sun_path + 1, name.data(), name.size());
  const socklen_t length =
      static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + name.size());
  if (::bind(fd, reinterpret_cast<const sockaddr*>(&address), length) != 0) {
    const int saved = errno;
    ::close(fd);
    errno = saved;
    return -1;
  }
  return fd;
}

}  // namespace

std::string_view plugin_file_name() { return "liborvalin.so"; }

std::optional<std::filesystem::path> packaged_plugin_dir(
    const std::filesystem::path& program_dir) {
  return (program_dir / ".." / "lib" / "orvalin" / "plugins")
      .lexically_normal();
}

std::string_view plugin_path_separator() { return ":"; }

std::string_view loaded_signal_prefix() { return "OrvalinPluginLoaded-"; }

bool loaded_signal_exists(const std::string& name) {
  // Abstract names are separate per socket type, so every type is tried.
  for (int type : {SOCK_STREAM, SOCK_DGRAM, SOCK_SEQPACKET}) {
    const int fd = bind_abstract(name, type);
    if (fd >= 0) {
      ::close(fd);
    } else if (errno == EADDRINUSE) {
      return true;
    }
  }
  return false;
}

Status raise_loaded_signal(const std::string& name) {
  // Kept open (never closed) for the life of the process.
  if (bind_abstract(name, SOCK_STREAM) < 0) {
    return fail(fill(kNoLoadedSignal, {last_os_error_text()}));
  }
  return {};
}

}  // namespace orvalin
