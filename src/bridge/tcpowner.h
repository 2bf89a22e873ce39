// Who holds the far end of a loopback connection, from the system's IPv4 and
// IPv6 TCP tables: GetExtendedTcpTable with owner process ids on Windows;
// /proc/net/tcp, /proc/net/tcp6 and the socket inodes under /proc/<pid>/fd
// on Linux. A program listening on [::] accepts IPv4 connections too; its
// side of them is listed in the IPv6 table only. The bridge uses it to send
// the token only to the Kelvo it started. Any thread.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "base/result.h"

namespace orvalin {

// One row of a TCP table; IPv4 addresses in host byte order. A row of the
// IPv6 table has its IPv4-mapped addresses (::ffff:a.b.c.d) as the IPv4
// address and the any address (::) as 0 (see ipv6_address).
struct TcpRow {
  uint32_t local_ip = 0;
  uint16_t local_port = 0;
  uint32_t remote_ip = 0;
  uint16_t remote_port = 0;
  bool listening = false;
  // Windows: the owner's process id. Linux: the socket's inode. 0: unknown
  // (Linux lists a connection that is not yet accepted without an inode).
  uint64_t owner = 0;
  bool ipv6 = false;  // from the IPv6 table
};

// An IPv6 address as a row holds it: an IPv4-mapped one as its IPv4
// address, :: as 0. Nothing for any other address, which a connection to
// 127.0.0.1 never has.
std::optional<uint32_t> ipv6_address(std::span<const uint8_t, 16> bytes);

// The owner of the far end of our connection from 127.0.0.1:local_port to
// 127.0.0.1:port: the accepted end when the table names its owner, else the
// socket listening at the port that takes the connection (on 127.0.0.1
// before every IPv4 address before every IPv6 address), which may be 0
// (unknown). Nothing when the table lists neither.
std::optional<uint64_t> far_end_owner(std::span<const TcpRow> table,
                                      uint16_t port, uint16_t local_port);

// The rows of Linux's /proc/net/tcp or /proc/net/tcp6 text; lines that do
// not parse, and IPv6 rows of other addresses, are skipped.
std::vector<TcpRow> parse_proc_net_tcp(std::string_view text);

// Who holds the far end of our connection to 127.0.0.1:port.
struct PortHolder {
  // False when the table lists the far end but names no owner (Wine's
  // table names none); the other fields then say nothing. A far end found
  // in neither table is known, and not the expected process.
  bool known = true;
  bool is_expected = false;  // the process we asked about or a descendant
  std::optional<uint64_t> process;  // its process id, when it can be told
};

// Looks up the far end of the connection from local_port to 127.0.0.1:port
// in both tables and whether process `expected`, or one of its descendants,
// holds it. An error when
// neither table can be read.
Result<PortHolder> loopback_port_holder(uint16_t port, uint16_t local_port,
                                        uint64_t expected);

}  // namespace orvalin
