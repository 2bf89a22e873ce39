// An unbounded multi-producer, single-consumer channel.
//
// make_channel<T>() returns a Sender and a Receiver. Senders are cheap to copy
// and may be used from any thread; sending never blocks. The channel closes
// when the last Sender is gone: the Receiver then gets the messages still
// queued and after them std::nullopt, which ends its consumer. When the
// Receiver is gone, send() drops the message and returns false.
#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <utility>

namespace orvalin {

namespace channel_detail {

template <class T>
struct State {
  std::mutex mutex;  // guards everything below
  std::condition_variable ready;
  std::deque<T> queue;
  int senders = 0;
  bool receiver_alive = true;
};

}  // namespace channel_detail

template <class T>
class Sender;
template <class T>
class Receiver;
template <class T>
std::pair<Sender<T>, Receiver<T>> make_channel();

template <class T>
class Sender {
 public:
  Sender() = default;
  Sender(const Sender& other) : state_(other.state_) { add_ref(); }
  Sender(Sender&& other) noexcept : state_(std::move(other.state_)) {}
  Sender& operator=(Sender other) noexcept {
    std::swap(state_, other.state_);
    return *this;
  }
  ~Sender() { reset(); }

  // Queues a message; false when the receiver is gone (or no channel).
  bool send(T value) const {
    if (!state_) return false;
    {
      std::lock_guard lock(state_->mutex);
      if (!state_->receiver_alive) return false;
      state_->queue.push_back(std::move(value));
    }
    state_->ready.notify_one();
    return true;
  }

  // Drops this sender now; the channel closes if it was the last one.
  void reset() {
    if (!state_) return;
    bool closed = false;
    {
      std::lock_guard lock(state_->mutex);
      closed = --state_->senders == 0;
    }
    if (closed) state_->ready.notify_all();
    state_.reset();
  }

  explicit operator bool() const { return state_ != nullptr; }

 private:
  friend std::pair<Sender<T>, Receiver<T>> make_channel<T>();
  explicit Sender(std::shared_ptr<channel_detail::State<T>> state)
      : state_(std::move(state)) {
    add_ref();
  }
  void add_ref() {
    if (!state_) return;
    std::lock_guard lock(state_->mutex);
    ++state_->senders;
  }

  std::shared_ptr<channel_detail::State<T>> state_;
};

template <class T>
class Receiver {
 public:
  Receiver() = default;
  Receiver(Receiver&&) noexcept = default;
  Receiver& operator=(Receiver&& other) noexcept {
    close();
    state_ = std::move(other.state_);
    return *this;
  }
  Receiver(const Receiver&) = delete;
  Receiver& operator=(const Receiver&) = delete;
  ~Receiver() { close(); }

  // Blocks until a message arrives; nullopt once the channel is closed and
  // empty.
  std::optional<T> recv() {
    if (!state_) return std::nullopt;
    std::unique_lock lock(state_->mutex);
    state_->ready.wait(
        lock, [&] { return !state_->queue.empty() || state_->senders == 0; });
    return pop_locked();
  }

  // Like recv(), but gives up after `timeout` (nullopt).
  template <class Rep, class Period>
  std::optional<T> recv_for(std::chrono::duration<Rep, Period> timeout) {
    if (!state_) return std::nullopt;
    std::unique_lock lock(state_->mutex);
    state_->ready.wait_for(lock, timeout, [&] {
      return !state_->queue.empty() || state_->senders == 0;
    });
    return pop_locked();
  }

  // Takes a queued message without waiting.
  std::optional<T> try_recv() {
    if (!state_) return std::nullopt;
    std::lock_guard lock(state_->mutex);
    return pop_locked();
  }

  // True when every sender is gone and nothing is queued.
  bool closed() const {
    if (!state_) return true;
    std::lock_guard lock(state_->mutex);
    return state_->senders == 0 && state_->queue.empty();
  }

 private:
  friend std::pair<Sender<T>, Receiver<T>> make_channel<T>();
  explicit Receiver(std::shared_ptr<channel_detail::State<T>> state)
      : state_(std::move(state)) {}

  std::optional<T> pop_locked() {
    if (state_->queue.empty()) return std::nullopt;
    std::optional<T> value(std::move(state_->queue.front()));
    state_->queue.pop_front();
    return value;
  }

  void close() {
    if (!state_) return;
    std::lock_guard lock(state_->mutex);
    state_->receiver_alive = false;
    state_->queue.clear();
  }

  std::shared_ptr<channel_detail::State<T>> state_;
};

template <class T>
std::pair<Sender<T>, Receiver<T>> make_channel() {
  auto state = std::make_shared<channel_detail::State<T>>();
  return {Sender<T>(state), Receiver<T>(state)};
}

}  // namespace orvalin
