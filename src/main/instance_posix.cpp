// The single-instance lock outside Windows: a Unix socket bound to the
// abstract name "OrvalinRunning-<uid>". The kernel frees the name when the
// process ends, however it ends, so a crashed run never blocks the next one.
// The abstract namespace is shared by every user of the machine: the user id
// in the name lets each user run one Orvalin.
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstddef>
#include <cstring>
#include <string>

#include "main/platform.h"

namespace orvalin {

namespace {

// A socket bound to the lock's name; -1 when another process holds it (or no
// socket could be made).
int bind_lock() {
  const std::string name = "OrvalinRunning-" + std::to_string(::getuid());
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::memcpy(address.sun_path + 1, name.data(), name.size());
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  const socklen_t length =
      static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + name.size());
  if (::bind(fd, reinterpret_cast<const sockaddr*>(&address), length) != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

}  // namespace

bool take_single_instance_lock() {
  // The descriptor is kept open for the life of the process on purpose.
  return bind_lock() >= 0;
}

bool another_instance_running() {
  const int fd = bind_lock();
  if (fd < 0) return true;
  ::close(fd);
  return false;
}

}  // namespace orvalin
