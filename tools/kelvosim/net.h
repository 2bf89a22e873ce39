// Minimal blocking TCP over IPv4 loopback for the simulator and its tests.
// A Socket is used by one thread at a time, except shutdown(), which any
// thread may call to end a blocked receive.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>

#include "base/result.h"

namespace kelvosim {

using orvalin::Result;
using orvalin::Status;

class Socket {
 public:
  virtual ~Socket() = default;
  // Received bytes; 0 when the peer closed the connection.
  virtual Result<size_t> receive(char* buffer, size_t size) = 0;
  // Sends all of `bytes`.
  virtual Status send_all(std::string_view bytes) = 0;
  // Ends both directions; a blocked receive returns.
  virtual void shutdown() = 0;
};

class Listener {
 public:
  virtual ~Listener() = default;
  virtual uint16_t port() const = 0;
  virtual Result<std::unique_ptr<Socket>> accept() = 0;
};

// Listens on 127.0.0.1 at `port` (0: a port chosen by the system).
Result<std::unique_ptr<Listener>> listen_loopback(uint16_t port);

// Connects to 127.0.0.1 at `port` (used by tests as the client).
Result<std::unique_ptr<Socket>> connect_loopback(uint16_t port);

}  // namespace kelvosim
