// A raw protocol client for the simulator's tests: sends lines and collects
// every line received (replies, events and junk alike, a CR before the LF
// kept) on a reader thread.
#pragma once

#include <chrono>
#include <memory>
#include <optional>
#include <string>

#include "base/channel.h"
#include "base/thread.h"
#include "net/lines.h"
#include "net/socket.h"

namespace kelvosim {

class TestClient {
 public:
  // nullptr when the connection fails.
  static std::unique_ptr<TestClient> connect(uint16_t port) {
    auto stream = orvalin::connect_loopback(port);
    if (!stream) return nullptr;
    std::shared_ptr<orvalin::Stream> shared(std::move(*stream));
    auto [sender, receiver] = orvalin::make_channel<std::string>();
    // Detached: under Wine a blocked receive only ends when the peer closes,
    // so the thread keeps the socket alive until then.
    orvalin::spawn_detached(
        "test-reader",
        [shared, sender = std::move(sender)] {
          orvalin::LineReader reader(*shared);
          reader.keep_carriage_returns();
          while (auto line = reader.next()) sender.send(std::string(*line));
        },
        "failed to spawn thread");
    return std::unique_ptr<TestClient>(
        new TestClient(std::move(shared), std::move(receiver)));
  }

  ~TestClient() { stream_->shutdown(); }

  bool send(const std::string& line) {
    return orvalin::send_all(*stream_, line + "\n").has_value();
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
  TestClient(std::shared_ptr<orvalin::Stream> stream,
             orvalin::Receiver<std::string> lines)
      : stream_(std::move(stream)), lines_(std::move(lines)) {}

  std::shared_ptr<orvalin::Stream> stream_;
  orvalin::Receiver<std::string> lines_;
};

}  // namespace kelvosim
