#include "bridge/tcpowner.h"

#include <algorithm>
#include <bit>
#include <charconv>

namespace orvalin {

namespace {

constexpr uint32_t kLoopback = 0x7F000001;

bool is_loopback_to(uint32_t ip, uint16_t port, uint16_t want) {
  return ip == kLoopback && port == want;
}

template <class T>
bool parse_hex(std::string_view text, T& value) {
  const auto [end, error] =
      std::from_chars(text.data(), text.data() + text.size(), value, 16);
  return error == std::errc() && end == text.data() + text.size();
}

// "0100007F:1F90": the address as the kernel's 32-bit word in this machine's
// byte order, then the port.
bool parse_endpoint(std::string_view text, uint32_t& ip, uint16_t& port) {
  const size_t colon = text.find(':');
  if (colon != 8 || !parse_hex(text.substr(0, 8), ip) ||
      !parse_hex(text.substr(9), port)) {
    return false;
  }
  if constexpr (std::endian::native == std::endian::little) {
    ip = std::byteswap(ip);
  }
  return true;
}

std::vector<std::string_view> fields_of(std::string_view line) {
  std::vector<std::string_view> fields;
  size_t at = 0;
  while (at < line.size()) {
    const size_t start = line.find_first_not_of(' ', at);
    if (start == std::string_view::npos) break;
    size_t end = line.find(' ', start);
    if (end == std::string_view::npos) end = line.size();
    fields.push_back(line.substr(start, end - start));
    at = end;
  }
  return fields;
}

}  // namespace

std::optional<uint64_t> far_end_owner(std::span<const TcpRow> table,
                                      uint16_t port, uint16_t local_port) {
  std::optional<uint64_t> found;
  for (const TcpRow& row : table) {
    if (!row.listening && is_loopback_to(row.local_ip, row.local_port, port) &&
        is_loopback_to(row.remote_ip, row.remote_port, local_port)) {
      if (row.owner != 0) return row.owner;
      if (!found) found = 0;
    }
    if (row.listening && row.local_port == port &&
        (row.local_ip == kLoopback || row.local_ip == 0) &&
        found.value_or(0) == 0) {
      found = row.owner;
    }
  }
  return found;
}

std::vector<TcpRow> parse_proc_net_tcp(std::string_view text) {
  // "sl local_address rem_address st tx:rx tr:when retrnsmt uid timeout inode"
  constexpr std::string_view kListen = "0A";
  std::vector<TcpRow> rows;
  while (!text.empty()) {
    size_t end = text.find('\n');
    if (end == std::string_view::npos) end = text.size();
    const std::vector<std::string_view> fields = fields_of(text.substr(0, end));
    text.remove_prefix(std::min(end + 1, text.size()));
    TcpRow row;
    if (fields.size() < 10 ||
        !parse_endpoint(fields[1], row.local_ip, row.local_port) ||
        !parse_endpoint(fields[2], row.remote_ip, row.remote_port)) {
      continue;
    }
    const auto [last, error] = std::from_chars(
        fields[9].data(), fields[9].data() + fields[9].size(), row.owner);
    if (error != std::errc()) continue;
    row.listening = fields[3] == kListen;
    rows.push_back(row);
  }
  return rows;
}

}  // namespace orvalin
