// Kelvo outside Windows: the process named "kelvo" and the random token
// key.
#include <dirent.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>

#include "base/os.h"
#include "base/sentences.h"
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
    // Another user's Kelvo is not ours to close, and that user's Orvalin
    // has a lock of its own.
    struct stat owner;
    if (::stat(dir.c_str(), &owner) != 0 || owner.st_uid != ::getuid()) {
      continue;
    }
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
      return fail(fill(kNoRandomNumbers, {last_os_error_text()}));
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

}  // namespace orvalin
