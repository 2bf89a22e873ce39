// TCP over IPv4 loopback, the one operating-system seam of every link
// between Orvalin, the plugin and their stand-ins: a blocking client
// connection to 127.0.0.1 and a listening socket on 127.0.0.1 (the plugin's
// side: kelvosim, tests and benchmarks). Error texts come from the system.
//
// Both ends of every connection have TCP_NODELAY set: the links carry short
// request and reply lines, and Nagle's algorithm would hold each one back
// until the previous one is acknowledged.
//
// A Stream is one handle of a connected socket. One thread may send while
// another receives on the same handle, and any thread may call shutdown()
// to end a receive blocked on it; clone() gives a second, independently
// closable handle of the same connection, which is how the bridge's reader
// thread gets its own.
#pragma once

#include <chrono>
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

// A connect to 127.0.0.1:port that gives up after `limit`. A listener that
// never accepts drops new connections once its backlog is full, and a plain
// blocking connect would then wait for the system's SYN retries (minutes).
Result<std::unique_ptr<Stream>> connect_loopback(
    uint16_t port,
    std::chrono::milliseconds limit = std::chrono::milliseconds(5000));

// A listening socket on 127.0.0.1.
class Listener {
 public:
  virtual ~Listener() = default;
  // The port actually bound (useful when 0 was asked for).
  virtual uint16_t port() const = 0;
  // Waits for the next connection. A connection that the peer dropped
  // before it was taken, and an interrupted wait, are skipped.
  virtual Result<std::unique_ptr<Stream>> accept() = 0;
};

// Listens on 127.0.0.1:port; port 0 picks a free port. No other socket may
// listen on the same port while this one does (on Windows not even one that
// asks to share it), but a port that a closed connection still holds in
// TIME_WAIT can be taken again at once.
Result<std::unique_ptr<Listener>> listen_loopback(uint16_t port);

}  // namespace orvalin
