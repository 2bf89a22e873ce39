#include <winsock2.h>
// winsock2.h before windows.h; iphlpapi.h needs both.
#include <iphlpapi.h>
#include <windows.h>

#include <string>
#include <vector>

#include "base/os.h"
#include "base/winlib.h"
#include "bridge/tcpowner.h"

namespace orvalin {

namespace {

using GetExtendedTcpTableFn = DWORD(WINAPI*)(PVOID, PDWORD, BOOL, ULONG,
                                             TCP_TABLE_CLASS, ULONG);

Result<std::vector<TcpRow>> read_tcp_table() {
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
                       AF_INET, TCP_TABLE_OWNER_PID_ALL, 0);
  }
  if (result != NO_ERROR) return fail(os_error_text(result));
  const auto* table =
      reinterpret_cast<const MIB_TCPTABLE_OWNER_PID*>(buffer.data());
  std::vector<TcpRow> rows;
  rows.reserve(table->dwNumEntries);
  for (DWORD i = 0; i < table->dwNumEntries; ++i) {
    const MIB_TCPROW_OWNER_PID& entry = table->table[i];
    TcpRow row;
    // Addresses and ports are in network byte order; a port fills only the
    // low 16 bits of its DWORD.
    row.local_ip = ntohl(entry.dwLocalAddr);
    row.local_port = ntohs(static_cast<u_short>(entry.dwLocalPort));
    row.remote_ip = ntohl(entry.dwRemoteAddr);
    row.remote_port = ntohs(static_cast<u_short>(entry.dwRemotePort));
    row.listening = entry.dwState == MIB_TCP_STATE_LISTEN;
    row.owner = entry.dwOwningPid;
    rows.push_back(row);
  }
  return rows;
}

}  // namespace

Result<PortHolder> loopback_port_holder(uint16_t port, uint16_t local_port,
                                        uint64_t expected) {
  auto rows = read_tcp_table();
  if (!rows) return fail(std::move(rows.error()));
  const std::optional<uint64_t> owner = far_end_owner(*rows, port, local_port);
  if (!owner) {
    return fail("port " + std::to_string(port) + " is not in the TCP table");
  }
  if (*owner == 0) return PortHolder{false, false, std::nullopt};
  return PortHolder{true, *owner == expected, *owner};
}

}  // namespace orvalin
