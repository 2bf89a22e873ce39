// Who holds the far end of a loopback connection, from the system's TCP
// table: GetExtendedTcpTable with owner process ids on Windows; /proc/net/tcp
// and the socket inodes under /proc/<pid>/fd on Linux. The bridge uses it to
// send the token only to the Kelvo it started. Any thread.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "base/result.h"

namespace orvalin {

// One IPv4 row of a TCP table; addresses in host byte order.
struct TcpRow {
  uint32_t local_ip = 0;
  uint16_t local_port = 0;
  uint32_t remote_ip = 0;
  uint16_t remote_port = 0;
  bool listening = false;
  // Windows: the owner's process id. Linux: the socket's inode. 0: unknown
  // (Linux lists a connection that is not yet accepted without an inode).
  uint64_t owner = 0;
};

// The owner of the far end of our connection from 127.0.0.1:local_port to
// 127.0.0.1:port: the accepted end when the table names its owner, else the
// socket listening at the port (on 127.0.0.1 or on every address), which may
// be 0 (unknown). Nothing when the table lists neither.
std::optional<uint64_t> far_end_owner(std::span<const TcpRow> table,
                                      uint16_t port, uint16_t local_port);

// The rows of Linux's /proc/net/tcp text; lines that do not parse are
// skipped.
std::vector<TcpRow> parse_proc_net_tcp(std::string_view text);

// Who holds the far end of our connection to 127.0.0.1:port.
struct PortHolder {
  // False when the table lists the far end but names no owner (Wine's
  // table names none); the other fields then say nothing.
  bool known = true;
  bool is_expected = false;         // it is the process we asked about
  std::optional<uint64_t> process;  // its process id, when it can be told
};

// Looks up the far end of the connection from local_port to 127.0.0.1:port
// and whether process `expected` holds it. An error when the table cannot be
// read or does not list the far end.
Result<PortHolder> loopback_port_holder(uint16_t port, uint16_t local_port,
                                        uint64_t expected);

}  // namespace orvalin
