#include <winsock2.h>
// winsock2.h before windows.h; iphlpapi.h needs both.
#include <iphlpapi.h>
#include <windows.h>

#include <span>
#include <string>
#include <vector>

#include "base/os.h"
#include "base/winlib.h"
#include "bridge/tcpowner.h"

namespace orvalin {

namespace {

using GetExtendedTcpTableFn = DWORD(WINAPI*)(PVOID, PDWORD, BOOL, ULONG,
                                             TCP_TABLE_CLASS, ULONG);

// Addresses and ports are in network byte order; a port fills only the low
// 16 bits of its DWORD.
uint16_t port_of(DWORD port) { return ntohs(static_cast<u_short>(port)); }

void add_row(const MIB_TCPROW_OWNER_PID& entry, std::vector<TcpRow>& rows) {
  rows.push_back({ntohl(entry.dwLocalAddr), port_of(entry.dwLocalPort),
                  ntohl(entry.dwRemoteAddr), port_of(entry.dwRemotePort),
                  entry.dwState == MIB_TCP_STATE_LISTEN, entry.dwOwningPid});
}

void add_row(const MIB_TCP6ROW_OWNER_PID& entry, std::vector<TcpRow>& rows) {
  const auto local =
      ipv6_address(std::span<const uint8_t, 16>(entry.ucLocalAddr, 16));
  const auto remote =
      ipv6_address(std::span<const uint8_t, 16>(entry.ucRemoteAddr, 16));
  if (!local || !remote) return;
  rows.push_back(
      {*local, port_of(entry.dwLocalPort), *remote, port_of(entry.dwRemotePort),
       entry.dwState == MIB_TCP_STATE_LISTEN, entry.dwOwningPid, true});
}

// Appends the rows of the table of `family` (AF_INET: MIB_TCPTABLE_OWNER_PID,
// AF_INET6: MIB_TCP6TABLE_OWNER_PID).
template <class Table>
Status read_tcp_table(ULONG family, std::vector<TcpRow>& rows) {
  const auto get_table = system_function<GetExtendedTcpTableFn>(
      L"iphlpapi.dll", "GetExtendedTcpTable");
  if (get_table == nullptr) return fail(last_os_error_text());
  std::vector<unsigned char> buffer;
  DWORD size = 0;
  DWORD result = ERROR_INSUFFICIENT_BUFFER;
  // The table may grow between the size query and the read: ask again.
  for (int attempt = 0; attempt < 5 && result == ERROR_INSUFFICIENT_BUFFER;
       ++attempt) {
    buffer.resize(size);
    result = get_table(buffer.empty() ? nullptr : buffer.data(), &size, FALSE,
                       family, TCP_TABLE_OWNER_PID_ALL, 0);
  }
  if (result != NO_ERROR) return fail(os_error_text(result));
  const auto* table = reinterpret_cast<const Table*>(buffer.data());
  for (DWORD i = 0; i < table->dwNumEntries; ++i) {
    add_row(table->table[i], rows);
  }
  return {};
}

}  // namespace

Result<PortHolder> loopback_port_holder(uint16_t port, uint16_t local_port,
                                        uint64_t expected) {
  std::vector<TcpRow> rows;
  Status v4 = read_tcp_table<MIB_TCPTABLE_OWNER_PID>(AF_INET, rows);
  // A system without IPv6 has no IPv6 table, and nothing listens there.
  Status v6 = read_tcp_table<MIB_TCP6TABLE_OWNER_PID>(AF_INET6, rows);
  if (!v4 && !v6) return fail(std::move(v4.error()));
  const std::optional<uint64_t> owner = far_end_owner(rows, port, local_port);
  if (!owner) return PortHolder{true, false, std::nullopt};
  if (*owner == 0) return PortHolder{false, false, std::nullopt};
  return PortHolder{true, *owner == expected, *owner};
}

}  // namespace orvalin
