#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

#include "base/os.h"
#include "net/socket.h"

namespace orvalin {

namespace {

std::string errno_text() { return last_os_error_text(); }

sockaddr_in loopback_address(uint16_t port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return address;
}

class PosixStream : public Stream {
 public:
  explicit PosixStream(int fd) : fd_(fd) {}
  ~PosixStream() override { close(); }

  Result<size_t> send(std::string_view bytes) override {
    if (bytes.empty()) return 0;
    for (;;) {
      // MSG_NOSIGNAL: a peer that has gone is an error text, not SIGPIPE.
      const ssize_t sent =
          ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
      if (sent > 0) return static_cast<size_t>(sent);
      if (sent < 0 && errno == EINTR) continue;
      if (sent == 0) return fail(os_error_text(EPIPE));
      return fail(errno_text());
    }
  }

  Result<size_t> recv(char* buffer, size_t size) override {
    for (;;) {
      const ssize_t got = ::recv(fd_, buffer, size, 0);
      if (got >= 0) return static_cast<size_t>(got);
      if (errno == EINTR) continue;
      return fail(errno_text());
    }
  }

  Result<uint16_t> local_port() const override {
    sockaddr_in address{};
    socklen_t length = sizeof address;
    if (getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
      return fail(errno_text());
    }
    return ntohs(address.sin_port);
  }

  Result<std::unique_ptr<Stream>> clone() override {
    const int copy = fcntl(fd_, F_DUPFD_CLOEXEC, 0);
    if (copy < 0) return fail(errno_text());
    return std::make_unique<PosixStream>(copy);
  }

  void shutdown() override {
    if (fd_ >= 0) ::shutdown(fd_, SHUT_RDWR);
  }

  void close() override {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }

 private:
  int fd_;
};

// A stream of a new connection, with TCP_NODELAY (best effort: a loopback
// socket always takes it).
std::unique_ptr<Stream> connected_stream(int fd) {
  const int on = 1;
  (void)setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
  return std::make_unique<PosixStream>(fd);
}

class PosixListener : public Listener {
 public:
  PosixListener(int fd, uint16_t port) : fd_(fd), port_(port) {}
  ~PosixListener() override { ::close(fd_); }

  uint16_t port() const override { return port_; }

  Result<std::unique_ptr<Stream>> accept() override {
    for (;;) {
      const int fd = ::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
      if (fd >= 0) return connected_stream(fd);
      // ECONNABORTED: the peer reset the connection before it was taken;
      // the next one may be fine.
      if (errno == EINTR || errno == ECONNABORTED) continue;
      return fail(errno_text());
    }
  }

 private:
  int fd_;
  uint16_t port_;
};

}  // namespace

Result<std::unique_ptr<Stream>> connect_loopback(
    uint16_t port, std::chrono::milliseconds limit) {
  const int fd =
      ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd < 0) return fail(errno_text());
  const sockaddr_in address = loopback_address(port);
  int error = 0;
  if (::connect(fd, reinterpret_cast<const sockaddr*>(&address),
                sizeof address) != 0) {
    error = errno;
    if (error == EINPROGRESS) {
      pollfd pending{fd, POLLOUT, 0};
      int ready;
      do {
        ready = ::poll(&pending, 1, static_cast<int>(limit.count()));
      } while (ready < 0 && errno == EINTR);
      socklen_t size = sizeof error;
      if (ready == 0) {
        error = ETIMEDOUT;
      } else if (ready < 0 ||
                 ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size) != 0) {
        error = errno;
      }
    }
  }
  if (error == 0 &&
      ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK) != 0) {
    error = errno;
  }
  if (error != 0) {
    ::close(fd);
    errno = error;
    return fail(errno_text());
  }
  return connected_stream(fd);
}

Result<std::unique_ptr<Listener>> listen_loopback(uint16_t port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return fail(errno_text());
  // On POSIX systems SO_REUSEADDR only lets a listener bind over
  // connections left in TIME_WAIT; a second listener on the port is still
  // refused.
  const int on = 1;
  (void)setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  sockaddr_in address = loopback_address(port);
  socklen_t length = sizeof address;
  if (::bind(fd, reinterpret_cast<const sockaddr*>(&address), length) != 0 ||
      ::listen(fd, 16) != 0 ||
      getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    std::string error = errno_text();
    ::close(fd);
    return fail(std::move(error));
  }
  return std::make_unique<PosixListener>(fd, ntohs(address.sin_port));
}

}  // namespace orvalin
