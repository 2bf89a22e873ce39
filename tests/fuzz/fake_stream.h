// A connected plugin stream without a socket, for the bridge targets. The
// bytes the "plugin" sends are handed out in chunks of given sizes; the
// lines the bridge sends are kept, and may be answered at once by a
// `reply` function. Both handles (the bridge's writer and the reader's
// clone) share one Wire.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "net/socket.h"

namespace orvalin::fuzz {

struct Wire {
  std::mutex mutex;  // guards every field below
  std::condition_variable changed;
  std::deque<std::string> incoming;  // chunks, one per recv at most
  bool incoming_ends = false;        // end of stream once `incoming` is empty
  bool shut = false;                 // shutdown() was called
  size_t release_after = 0;          // recv waits for this many sent lines
  std::string sent;                  // everything the bridge wrote
  size_t lines_sent = 0;
  // Called (under the mutex) with each complete line sent, LF included;
  // its text, when not empty, becomes the next incoming chunk.
  std::function<std::string(const std::string& line)> reply;
};

class FakeStream final : public Stream {
 public:
  explicit FakeStream(std::shared_ptr<Wire> wire) : wire_(std::move(wire)) {}

  Result<size_t> send(std::string_view bytes) override {
    std::lock_guard lock(wire_->mutex);
    if (wire_->shut) return fail("connection shut down");
    for (char c : bytes) {
      line_ += c;
      if (c != '\n') continue;
      wire_->sent += line_;
      ++wire_->lines_sent;
      if (wire_->reply) {
        if (std::string answer = wire_->reply(line_); !answer.empty()) {
          wire_->incoming.push_back(std::move(answer));
        }
      }
      line_.clear();
    }
    wire_->changed.notify_all();
    return bytes.size();
  }

  Result<size_t> recv(char* buffer, size_t size) override {
    std::unique_lock lock(wire_->mutex);
    wire_->changed.wait(lock, [&] {
      return wire_->shut ||
             (wire_->lines_sent >= wire_->release_after &&
              (!wire_->incoming.empty() || wire_->incoming_ends));
    });
    if (wire_->shut || wire_->incoming.empty()) return size_t{0};
    std::string& chunk = wire_->incoming.front();
    const size_t taken = std::min(size, chunk.size());
    chunk.copy(buffer, taken);
    chunk.erase(0, taken);
    if (chunk.empty()) wire_->incoming.pop_front();
    return taken;
  }

  Result<std::unique_ptr<Stream>> clone() override {
    return std::unique_ptr<Stream>(std::make_unique<FakeStream>(wire_));
  }

  void shutdown() override {
    std::lock_guard lock(wire_->mutex);
    wire_->shut = true;
    wire_->changed.notify_all();
  }

  void close() override {}

 private:
  std::shared_ptr<Wire> wire_;
  std::string line_;  // the part of a line sent so far through this handle
};

}  // namespace orvalin::fuzz
