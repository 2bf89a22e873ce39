#include <winsock2.h>
#include <ws2tcpip.h>

#include <mutex>

#include "base/os.h"
#include "net.h"

namespace kelvosim {

namespace {

using orvalin::fail;
using orvalin::os_error_text;

std::string socket_error_text() {
  const int code = WSAGetLastError();
  return os_error_text(static_cast<unsigned long>(code));
}

bool start_winsock() {
  static const bool started = [] {
    WSADATA data;
    return WSAStartup(MAKEWORD(2, 2), &data) == 0;
  }();
  return started;
}

sockaddr_in loopback(uint16_t port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return address;
}

class WinSocket : public Socket {
 public:
  explicit WinSocket(SOCKET handle) : handle_(handle) {
    const BOOL on = TRUE;
    setsockopt(handle_, IPPROTO_TCP, TCP_NODELAY,
               reinterpret_cast<const char*>(&on), sizeof on);
  }
  ~WinSocket() override { closesocket(handle_); }

  Result<size_t> receive(char* buffer, size_t size) override {
    const int chunk = static_cast<int>(size > 65536 ? 65536 : size);
    const int got = recv(handle_, buffer, chunk, 0);
    if (got == SOCKET_ERROR) return fail(socket_error_text());
    return static_cast<size_t>(got);
  }

  Status send_all(std::string_view bytes) override {
    while (!bytes.empty()) {
      const int chunk =
          static_cast<int>(bytes.size() > 65536 ? 65536 : bytes.size());
      const int sent = send(handle_, bytes.data(), chunk, 0);
      if (sent == SOCKET_ERROR) return fail(socket_error_text());
      bytes.remove_prefix(static_cast<size_t>(sent));
    }
    return {};
  }

  void shutdown() override { ::shutdown(handle_, SD_BOTH); }

 private:
  const SOCKET handle_;
};

class WinListener : public Listener {
 public:
  WinListener(SOCKET handle, uint16_t port) : handle_(handle), port_(port) {}
  ~WinListener() override { closesocket(handle_); }

  uint16_t port() const override { return port_; }

  Result<std::unique_ptr<Socket>> accept() override {
    const SOCKET handle = ::accept(handle_, nullptr, nullptr);
    if (handle == INVALID_SOCKET) return fail(socket_error_text());
    return std::make_unique<WinSocket>(handle);
  }

 private:
  const SOCKET handle_;
  const uint16_t port_;
};

}  // namespace

Result<std::unique_ptr<Listener>> listen_loopback(uint16_t port) {
  if (!start_winsock()) return fail("cannot start Winsock");
  const SOCKET handle = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (handle == INVALID_SOCKET) return fail("socket: " + socket_error_text());
  // Refuse a second listener on the same port, as the plugin would.
  const BOOL on = TRUE;
  setsockopt(handle, SOL_SOCKET, SO_EXCLUSIVEADDRUSE,
             reinterpret_cast<const char*>(&on), sizeof on);
  sockaddr_in address = loopback(port);
  if (bind(handle, reinterpret_cast<sockaddr*>(&address), sizeof address) !=
          0 ||
      listen(handle, 4) != 0) {
    const std::string text = socket_error_text();
    closesocket(handle);
    return fail("cannot listen on 127.0.0.1:" + std::to_string(port) + ": " +
                text);
  }
  int length = sizeof address;
  getsockname(handle, reinterpret_cast<sockaddr*>(&address), &length);
  return std::make_unique<WinListener>(handle, ntohs(address.sin_port));
}

Result<std::unique_ptr<Socket>> connect_loopback(uint16_t port) {
  if (!start_winsock()) return fail("cannot start Winsock");
  const SOCKET handle = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (handle == INVALID_SOCKET) return fail("socket: " + socket_error_text());
  sockaddr_in address = loopback(port);
  if (connect(handle, reinterpret_cast<sockaddr*>(&address), sizeof address) !=
      0) {
    const std::string text = socket_error_text();
    closesocket(handle);
    return fail("connect: " + text);
  }
  return std::make_unique<WinSocket>(handle);
}

}  // namespace kelvosim
