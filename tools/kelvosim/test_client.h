// A raw protocol client for the simulator's tests: sends lines and collects
// every line received (replies, events and junk alike) on a reader thread.
#pragma once

#include <chrono>
#include <memory>
#include <optional>
#include <string>

#include "base/channel.h"
#include "base/thread.h"
#include "net.h"

namespace kelvosim {

class TestClient {
 public:
  // nullptr when the connection fails.
  static std::unique_ptr<TestClient> connect(uint16_t port) {
    auto socket = connect_loopback(port);
    if (!socket) return nullptr;
    std::shared_ptr<Socket> shared(std::move(*socket));
    auto [sender, receiver] = orvalin::make_channel<std::string>();
    // Detached: under Wine a blocked receive only ends when the peer closes,
    // so the thread keeps the socket alive until then.
    orvalin::spawn_detached(
        "test-reader",
        [shared, sender = std::move(sender)] {
          std::string pending;
          char buffer[4096];
          for (;;) {
            auto got = shared->receive(buffer, sizeof buffer);
            if (!got || *got == 0) break;
            pending.append(buffer, *got);
            for (size_t end; (end = pending.find('\n')) != std::string::npos;) {
              sender.send(pending.substr(0, end));  // CR kept, if any
              pending.erase(0, end + 1);
            }
          }
          if (!pending.empty()) sender.send(pending);
        },
        "failed to spawn thread");
    return std::unique_ptr<TestClient>(
        new TestClient(std::move(shared), std::move(receiver)));
  }

  ~TestClient() { socket_->shutdown(); }

  bool send(const std::string& line) {
    return socket_->send_all(line + "\n").has_value();
  }

  // The next line, or nullopt after `timeout` or at the end of the stream.
  std::optional<std::string> line(
      std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
    return lines_.recv_for(timeout);
  }

  // True once the server has closed the connection (waits up to `timeout`).
  bool closed(std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (std::chrono::steady_clock::now() < deadline) {
      if (lines_.closed()) return true;
      lines_.recv_for(std::chrono::milliseconds(20));
    }
    return lines_.closed();
  }

 private:
  TestClient(std::shared_ptr<Socket> socket,
             orvalin::Receiver<std::string> lines)
      : socket_(std::move(socket)), lines_(std::move(lines)) {}

  std::shared_ptr<Socket> socket_;
  orvalin::Receiver<std::string> lines_;
};

}  // namespace kelvosim
