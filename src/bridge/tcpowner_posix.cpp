#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "base/process.h"
#include "bridge/tcpowner.h"

namespace orvalin {

namespace {

namespace fs = std::filesystem;

// Whether one of the process's descriptors is the socket `link`.
bool holds_socket(const fs::path& process_dir, const std::string& link) {
  std::error_code error;
  for (fs::directory_iterator it(process_dir / "fd", error), end;
       !error && it != end; it.increment(error)) {
    std::error_code unreadable;
    if (fs::read_symlink(it->path(), unreadable).native() == link) return true;
  }
  return false;
}

// The process holding the socket, among those whose descriptors we may read
// (another user's are hidden from us).
std::optional<uint64_t> socket_holder(const std::string& link) {
  std::error_code error;
  for (fs::directory_iterator it("/proc", error), end; !error && it != end;
       it.increment(error)) {
    const std::string name = it->path().filename().string();
    if (name.find_first_not_of("0123456789") != std::string::npos) continue;
    if (holds_socket(it->path(), link)) return std::stoull(name);
  }
  return std::nullopt;
}

}  // namespace

Result<PortHolder> loopback_port_holder(uint16_t port, uint16_t local_port,
                                        uint64_t expected) {
  std::vector<TcpRow> rows;
  bool read = false;
  // Without IPv6 in the kernel there is no tcp6 file, and nothing listens
  // there.
  for (const char* name : {"/proc/net/tcp", "/proc/net/tcp6"}) {
    std::ifstream in(name);
    if (!in) continue;
    read = true;
    std::stringstream text;
    text << in.rdbuf();
    std::vector<TcpRow> more = parse_proc_net_tcp(text.str());
    rows.insert(rows.end(), more.begin(), more.end());
  }
  if (!read) return fail("cannot read /proc/net/tcp");  // not spoken
  const std::optional<uint64_t> inode = far_end_owner(rows, port, local_port);
  if (!inode) return PortHolder{true, false, std::nullopt};
  if (*inode == 0) return PortHolder{false, false, std::nullopt};
  const std::string link = "socket:[" + std::to_string(*inode) + "]";
  if (holds_socket(fs::path("/proc") / std::to_string(expected), link)) {
    return PortHolder{true, true, expected};
  }
  // A launcher script that does not exec leaves the listener to its child.
  const std::optional<uint64_t> holder = socket_holder(link);
  const bool descendant =
      holder && is_same_or_descendant(static_cast<uint32_t>(*holder),
                                      static_cast<uint32_t>(expected));
  return PortHolder{true, descendant, holder};
}

}  // namespace orvalin
