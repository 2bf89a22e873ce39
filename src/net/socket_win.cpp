#include <winsock2.h>
#include <ws2tcpip.h>
// windows.h after winsock2.h, or it pulls in the old winsock.h.
#include <windows.h>
// After winsock2.h: needs its types.
#include <mstcpip.h>

#include <algorithm>
#include <climits>

#include "base/os.h"
#include "net/socket.h"
#include "net/socket_win.h"

namespace orvalin {

namespace {

std::string wsa_error_text() { return os_error_text(WSAGetLastError()); }

// Winsock is started once per process and never cleaned up: sockets live
// until the process ends.
Status start_winsock() {
  static const int result = [] {
    WSADATA data;
    return WSAStartup(MAKEWORD(2, 2), &data);
  }();
  if (result != 0)
    return fail(os_error_text(static_cast<unsigned long>(result)));
  return {};
}

sockaddr_in loopback_address(uint16_t port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return address;
}

// Sockets are not inherited by child processes (Kelvo is one).
constexpr DWORD kSocketFlags = WSA_FLAG_OVERLAPPED | WSA_FLAG_NO_HANDLE_INHERIT;

Result<SOCKET> new_tcp_socket() {
  if (auto started = start_winsock(); !started) return fail(started.error());
  const SOCKET s =
      WSASocketW(AF_INET, SOCK_STREAM, IPPROTO_TCP, nullptr, 0, kSocketFlags);
  if (s == INVALID_SOCKET) return fail(wsa_error_text());
  return s;
}

int clamp_size(size_t size) {
  return static_cast<int>(std::min<size_t>(size, INT_MAX));
}

class WinStream : public Stream {
 public:
  explicit WinStream(SOCKET s) : socket_(s) {}
  ~WinStream() override { close(); }

  Result<size_t> send(std::string_view bytes) override {
    if (bytes.empty()) return 0;
    for (;;) {
      const int sent =
          ::send(socket_, bytes.data(), clamp_size(bytes.size()), 0);
      if (sent > 0) return static_cast<size_t>(sent);
      if (sent == SOCKET_ERROR && WSAGetLastError() == WSAEINTR) continue;
      if (sent == 0) return fail(os_error_text(WSAECONNRESET));
      return fail(wsa_error_text());
    }
  }

  Result<size_t> recv(char* buffer, size_t size) override {
    for (;;) {
      const int got = ::recv(socket_, buffer, clamp_size(size), 0);
      if (got >= 0) return static_cast<size_t>(got);
      if (WSAGetLastError() == WSAEINTR) continue;
      return fail(wsa_error_text());
    }
  }

  Result<uint16_t> local_port() const override {
    sockaddr_in address{};
    int length = sizeof address;
    if (getsockname(socket_, reinterpret_cast<sockaddr*>(&address), &length) !=
        0) {
      return fail(wsa_error_text());
    }
    return ntohs(address.sin_port);
  }

  Result<std::unique_ptr<Stream>> clone() override {
    WSAPROTOCOL_INFOW info{};
    if (WSADuplicateSocketW(socket_, GetCurrentProcessId(), &info) != 0) {
      return fail(wsa_error_text());
    }
    const SOCKET copy = WSASocketW(FROM_PROTOCOL_INFO, FROM_PROTOCOL_INFO,
                                   FROM_PROTOCOL_INFO, &info, 0, kSocketFlags);
    if (copy == INVALID_SOCKET) return fail(wsa_error_text());
    return std::make_unique<WinStream>(copy);
  }

  void shutdown() override {
    if (socket_ != INVALID_SOCKET) ::shutdown(socket_, SD_BOTH);
  }

  void close() override {
    if (socket_ != INVALID_SOCKET) closesocket(socket_);
    socket_ = INVALID_SOCKET;
  }

 private:
  SOCKET socket_;
};

// A stream of a new connection, with TCP_NODELAY (best effort: a loopback
// socket always takes it).
std::unique_ptr<Stream> connected_stream(SOCKET s) {
  const BOOL on = TRUE;
  (void)setsockopt(s, IPPROTO_TCP, TCP_NODELAY,
                   reinterpret_cast<const char*>(&on), sizeof on);
  return std::make_unique<WinStream>(s);
}

class WinListener : public Listener {
 public:
  WinListener(SOCKET s, uint16_t port) : socket_(s), port_(port) {}
  ~WinListener() override { closesocket(socket_); }

  uint16_t port() const override { return port_; }

  Result<std::unique_ptr<Stream>> accept() override {
    for (;;) {
      const SOCKET s = ::accept(socket_, nullptr, nullptr);
      if (s != INVALID_SOCKET) return connected_stream(s);
      // WSAECONNRESET: the peer reset the connection before it was taken;
      // the next one may be fine.
      const int error = WSAGetLastError();
      if (error == WSAEINTR || error == WSAECONNRESET) continue;
      return fail(wsa_error_text());
    }
  }

 private:
  SOCKET socket_;
  uint16_t port_;
};

}  // namespace

TCP_INITIAL_RTO_PARAMETERS no_syn_retransmissions() {
  TCP_INITIAL_RTO_PARAMETERS parameters{};
  parameters.Rtt = TCP_INITIAL_RTO_UNSPECIFIED_RTT;
  parameters.MaxSynRetransmissions = TCP_INITIAL_RTO_NO_SYN_RETRANSMISSIONS;
  return parameters;
}

Result<std::unique_ptr<Stream>> connect_loopback(
    uint16_t port, std::chrono::milliseconds limit) {
  auto s = new_tcp_socket();
  if (!s) return fail(std::move(s.error()));
  // Windows answers a loopback connect to a closed port with a reset, then
  // sends the SYN again twice: a refusal takes about 2 s instead of at once,
  // and the bridge's 250 ms connect poll would become 2.25 s. Best effort:
  // systems without this control (Wine) refuse at once anyway.
  TCP_INITIAL_RTO_PARAMETERS rto = no_syn_retransmissions();
  DWORD returned = 0;
  (void)WSAIoctl(*s, SIO_TCP_INITIAL_RTO, &rto, sizeof rto, nullptr, 0,
                 &returned, nullptr, nullptr);
  // Non-blocking while connecting, so that `limit` holds; a failed connect
  // is reported through the exception set.
  u_long non_blocking = 1;
  int error =
      ioctlsocket(*s, FIONBIO, &non_blocking) == 0 ? 0 : WSAGetLastError();
  const sockaddr_in address = loopback_address(port);
  if (error == 0 && ::connect(*s, reinterpret_cast<const sockaddr*>(&address),
                              sizeof address) != 0) {
    error = WSAGetLastError();
    if (error == WSAEWOULDBLOCK) {
      fd_set writable, failed;
      FD_ZERO(&writable);
      FD_ZERO(&failed);
      FD_SET(*s, &writable);
      FD_SET(*s, &failed);
      const long ms = static_cast<long>(limit.count());
      timeval wait{ms / 1000, (ms % 1000) * 1000};
      const int ready = ::select(0, nullptr, &writable, &failed, &wait);
      if (ready == 0) {
        error = WSAETIMEDOUT;
      } else if (ready == SOCKET_ERROR) {
        error = WSAGetLastError();
      } else if (FD_ISSET(*s, &failed)) {
        int reason = 0;
        int size = sizeof reason;
        (void)getsockopt(*s, SOL_SOCKET, SO_ERROR,
                         reinterpret_cast<char*>(&reason), &size);
        error = reason != 0 ? reason : WSAECONNREFUSED;
      } else {
        error = 0;
      }
    }
  }
  u_long blocking = 0;
  if (error == 0 && ioctlsocket(*s, FIONBIO, &blocking) != 0) {
    error = WSAGetLastError();
  }
  if (error != 0) {
    closesocket(*s);
    WSASetLastError(error);
    return fail(wsa_error_text());
  }
  return connected_stream(*s);
}

Result<std::unique_ptr<Listener>> listen_loopback(uint16_t port) {
  auto s = new_tcp_socket();
  if (!s) return fail(std::move(s.error()));
  // Without it another process could bind the same port and take the
  // plugin's connections (Windows lets a socket that sets SO_REUSEADDR bind
  // over a listener that did not ask for exclusive use); with it a second
  // listener is refused. SO_REUSEADDR is never set: on Windows it means
  // exactly that sharing.
  const BOOL on = TRUE;
  if (setsockopt(*s, SOL_SOCKET, SO_EXCLUSIVEADDRUSE,
                 reinterpret_cast<const char*>(&on), sizeof on) != 0) {
    std::string error = wsa_error_text();
    closesocket(*s);
    return fail(std::move(error));
  }
  sockaddr_in address = loopback_address(port);
  int length = sizeof address;
  if (::bind(*s, reinterpret_cast<const sockaddr*>(&address), length) != 0 ||
      ::listen(*s, 16) != 0 ||
      getsockname(*s, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    std::string error = wsa_error_text();
    closesocket(*s);
    return fail(std::move(error));
  }
  return std::make_unique<WinListener>(*s, ntohs(address.sin_port));
}

}  // namespace orvalin
