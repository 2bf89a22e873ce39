// Kelvo's plugin outside Windows: a shared library, the process named
// "kelvo", and the loaded signal as a Unix socket bound to an abstract name.
#include <dirent.h>
#include <sys/random.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstring>
#include <fstream>

#include "base/os.h"
#include "main/launch.h"

namespace orvalin {

namespace {

bool all_digits(const char* text) {
  if (*text == '\0') return false;
  for (; *text != '\0'; ++text) {
    if (*text < '0' || *text > '9') return false;
  }
  return true;
}

// Binding the name fails with "address in use" while the plugin holds it.
// Abstract names are separate per socket type, so every type is tried.
bool abstract_name_taken(const std::string& name, int type) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (name.size() + 1 > sizeof address.sun_path) return false;
  std::memcpy(address.sun_path + 1, name.data(), name.size());
  const int fd = ::socket(AF_UNIX, type | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  const socklen_t length =
      static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + name.size());
  const bool taken =
      ::bind(fd, reinterpret_cast<const sockaddr*>(&address), length) != 0 &&
      errno == EADDRINUSE;
  ::close(fd);
  return taken;
}

// An exited process that its parent has not reaped yet still has a /proc
// entry; it does not run any more.
bool is_zombie(const std::string& dir) {
  std::ifstream stat(dir + "/stat");
  std::string line;
  if (!std::getline(stat, line)) return false;
  // The state follows the command name, which is in parentheses and may
  // itself contain ") ".
  const size_t close = line.rfind(')');
  if (close == std::string::npos || close + 2 >= line.size()) return false;
  const char state = line[close + 2];
  return state == 'Z' || state == 'X';
}

}  // namespace

std::filesystem::path plugin_relative_path() {
  return std::filesystem::path("generic") / "liborvalin.so";
}

std::string plugin_not_found_message() {
  return "The Kelvo plugin (plugins/generic/liborvalin.so) was not found.";
}

std::string_view kelvo_process_name() { return "kelvo"; }

bool is_kelvo_running() {
  DIR* proc = ::opendir("/proc");
  if (proc == nullptr) return false;
  bool found = false;
  while (!found) {
    const dirent* entry = ::readdir(proc);
    if (entry == nullptr) break;
    if (!all_digits(entry->d_name)) continue;
    const std::string dir = std::string("/proc/") + entry->d_name;
    std::ifstream comm(dir + "/comm");
    std::string name;
    // A process that has gone meanwhile simply has no readable name.
    if (std::getline(comm, name) && is_kelvo_process_name(name)) {
      found = !is_zombie(dir);
    }
  }
  ::closedir(proc);
  return found;
}

Result<TokenKey> random_token_key() {
  uint8_t bytes[16];
  size_t have = 0;
  while (have < sizeof bytes) {
    const ssize_t got = ::getrandom(bytes + have, sizeof bytes - have, 0);
    if (got < 0) {
      if (errno == EINTR) continue;
      return fail("cannot draw random numbers: " + last_os_error_text());
    }
    have += static_cast<size_t>(got);
  }
  TokenKey key;
  for (int i = 7; i >= 0; --i) {
    key.k0 = (key.k0 << 8) | bytes[i];
    key.k1 = (key.k1 << 8) | bytes[8 + i];
  }
  return key;
}

std::string_view plugin_path_separator() { return ":"; }

std::string_view loaded_signal_prefix() { return "OrvalinPluginLoaded-"; }

bool loaded_signal_exists(const std::string& name) {
  for (int type : {SOCK_STREAM, SOCK_DGRAM, SOCK_SEQPACKET}) {
    if (abstract_name_taken(name, type)) return true;
  }
  return false;
}

}  // namespace orvalin
