#include "bridge/tcpowner.h"

#include <algorithm>
#include <array>
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

// One address word as the kernel prints it: its 32 bits in this machine's
// byte order.
bool parse_word(std::string_view text, uint32_t& word) {
  if (!parse_hex(text, word)) return false;
  if constexpr (std::endian::native == std::endian::little) {
    word = std::byteswap(word);
  }
  return true;
}

// "0100007F:1F90" (IPv4) or "0000000000000000FFFF00000100007F:1F90" (IPv6,
// four words): the address, then the port. False for an IPv6 address that
// a row does not hold (see ipv6_address).
bool parse_endpoint(std::string_view text, uint32_t& ip, uint16_t& port) {
  const size_t colon = text.find(':');
  if ((colon != 8 && colon != 32) || !parse_hex(text.substr(colon + 1), port)) {
    return false;
  }
  if (colon == 8) return parse_word(text.substr(0, 8), ip);
  std::array<uint8_t, 16> bytes;
  for (size_t word = 0; word < 4; ++word) {
    uint32_t value = 0;
    if (!parse_word(text.substr(word * 8, 8), value)) return false;
    for (size_t i = 0; i < 4; ++i) {
      bytes[word * 4 + i] = static_cast<uint8_t>(value >> (24 - 8 * i));
    }
  }
  const std::optional<uint32_t> address = ipv6_address(bytes);
  if (!address) return false;
  ip = *address;
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

std::optional<uint32_t> ipv6_address(std::span<const uint8_t, 16> bytes) {
  const bool zero_head = std::all_of(bytes.begin(), bytes.begin() + 10,
                                     [](uint8_t b) { return b == 0; });
  const uint32_t tail = uint32_t{bytes[12]} << 24 | uint32_t{bytes[13]} << 16 |
                        uint32_t{bytes[14]} << 8 | bytes[15];
  if (!zero_head) return std::nullopt;
  if (bytes[10] == 0xFF && bytes[11] == 0xFF) return tail;
  if (bytes[10] == 0 && bytes[11] == 0 && tail == 0) return 0;
  return std::nullopt;
}

std::optional<uint64_t> far_end_owner(std::span<const TcpRow> table,
                                      uint16_t port, uint16_t local_port) {
  std::optional<uint64_t> accepted;
  // The listener that takes a connection to 127.0.0.1 is the most specific
  // one: 3 on 127.0.0.1, 2 on every IPv4 address, 1 on every address.
  int listener_rank = 0;
  uint64_t listener = 0;
  for (const TcpRow& row : table) {
    if (!row.listening && is_loopback_to(row.local_ip, row.local_port, port) &&
        is_loopback_to(row.remote_ip, row.remote_port, local_port)) {
      if (row.owner != 0) return row.owner;
      accepted = 0;
    }
    if (row.listening && row.local_port == port) {
      const int rank = row.local_ip == kLoopback ? 3
                       : row.local_ip != 0       ? 0
                       : row.ipv6                ? 1
                                                 : 2;
      if (rank > listener_rank) {
        listener_rank = rank;
        listener = row.owner;
      }
    }
  }
  if (listener_rank > 0) return listener;
  return accepted;
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
    row.ipv6 = fields[1].find(':') == 32;
    rows.push_back(row);
  }
  return rows;
}

}  // namespace orvalin
