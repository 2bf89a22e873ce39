#include <arpa/inet.h>
#include <errno.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include "base/os.h"
#include "net.h"

namespace kelvosim {

namespace {

using orvalin::fail;
using orvalin::last_os_error_text;

sockaddr_in loopback(uint16_t port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return address;
}

class PosixSocket : public Socket {
 public:
  explicit PosixSocket(int fd) : fd_(fd) {
    const int on = 1;
    setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
  }
  ~PosixSocket() override { close(fd_); }

  Result<size_t> receive(char* buffer, size_t size) override {
    for (;;) {
      const ssize_t got = recv(fd_, buffer, size, 0);
      if (got >= 0) return static_cast<size_t>(got);
      if (errno != EINTR) return fail(last_os_error_text());
    }
  }

  Status send_all(std::string_view bytes) override {
    while (!bytes.empty()) {
      const ssize_t sent = send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
      if (sent < 0) {
        if (errno == EINTR) continue;
        return fail(last_os_error_text());
      }
      bytes.remove_prefix(static_cast<size_t>(sent));
    }
    return {};
  }

  void shutdown() override { ::shutdown(fd_, SHUT_RDWR); }

 private:
  const int fd_;
};

class PosixListener : public Listener {
 public:
  PosixListener(int fd, uint16_t port) : fd_(fd), port_(port) {}
  ~PosixListener() override { close(fd_); }

  uint16_t port() const override { return port_; }

  Result<std::unique_ptr<Socket>> accept() override {
    for (;;) {
      const int fd = ::accept(fd_, nullptr, nullptr);
      if (fd >= 0) return std::make_unique<PosixSocket>(fd);
      if (errno != EINTR && errno != ECONNABORTED) {
        return fail(last_os_error_text());
      }
    }
  }

 private:
  const int fd_;
  const uint16_t port_;
};

}  // namespace

Result<std::unique_ptr<Listener>> listen_loopback(uint16_t port) {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return fail("socket: " + last_os_error_text());
  const int on = 1;
  setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  sockaddr_in address = loopback(port);
  if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      listen(fd, 4) != 0) {
    const std::string text = last_os_error_text();
    close(fd);
    return fail("cannot listen on 127.0.0.1:" + std::to_string(port) + ": " +
                text);
  }
  socklen_t length = sizeof address;
  getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
  return std::make_unique<PosixListener>(fd, ntohs(address.sin_port));
}

Result<std::unique_ptr<Socket>> connect_loopback(uint16_t port) {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return fail("socket: " + last_os_error_text());
  sockaddr_in address = loopback(port);
  if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    const std::string text = last_os_error_text();
    close(fd);
    return fail("connect: " + text);
  }
  return std::make_unique<PosixSocket>(fd);
}

}  // namespace kelvosim
