// TCP over IPv4 loopback, the one operating-system seam of the bridge: a
// blocking client connection to 127.0.0.1 and, for tests and benchmarks, a
// listening socket on 127.0.0.1. Error texts come from the system.
//
// A Stream is one handle of a connected socket. One thread may send while
// another receives on the same handle; clone() gives a second, independently
// closable handle of the same connection, which is how the bridge's reader
// thread gets its own.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>

#include "base/result.h"

namespace orvalin {

class Stream {
 public:
  virtual ~Stream() = default;  // closes this handle

  // Writes some of `bytes` (at least one on success); interrupted calls are
  // retried. A broken connection is an error, never a signal.
  virtual Result<size_t> send(std::string_view bytes) = 0;

  // Reads up to `size` bytes into `buffer`; 0 means end of stream.
  virtual Result<size_t> recv(char* buffer, size_t size) = 0;

  // Switches on TCP_NODELAY (sends short lines at once).
  virtual Status set_no_delay() = 0;

  // The connection's port on this side, which names it in the system's TCP
  // table. Streams that are not sockets have none.
  virtual Result<uint16_t> local_port() const { return fail("not a socket"); }

  // A second handle of the same connection.
  virtual Result<std::unique_ptr<Stream>> clone() = 0;

  // Ends both directions of the connection for every handle: the peer sees
  // the end of stream. Where the system allows it, a recv blocked on another
  // handle returns too. The handle stays open until close().
  virtual void shutdown() = 0;

  // Closes this handle now (also done by the destructor). The connection
  // ends when its last handle is closed.
  virtual void close() = 0;
};

// Sends all of `bytes`, continuing partial writes.
Status send_all(Stream& stream, std::string_view bytes);

// A blocking connect to 127.0.0.1:port, without a time-out of its own.
Result<std::unique_ptr<Stream>> connect_loopback(uint16_t port);

// A listening socket on 127.0.0.1, for tests and benchmarks.
class Listener {
 public:
  virtual ~Listener() = default;
  // The port actually bound (useful when 0 was asked for).
  virtual uint16_t port() const = 0;
  // Waits for the next connection.
  virtual Result<std::unique_ptr<Stream>> accept() = 0;
};

// Listens on 127.0.0.1:port; port 0 picks a free port.
Result<std::unique_ptr<Listener>> listen_loopback(uint16_t port);

}  // namespace orvalin
