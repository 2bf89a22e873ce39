#include "speech/reconnect.h"

#include <utility>

#include "applog/applog.h"

namespace orvalin {

ReconnectingVoice::ReconnectingVoice(std::unique_ptr<SpeechLink> link,
                                     std::string service,
                                     std::chrono::milliseconds retry,
                                     Clock clock)
    : link_(std::move(link)),
      service_(std::move(service)),
      retry_(retry),
      clock_(std::move(clock)) {}

ReconnectingVoice::~ReconnectingVoice() { link_->close(); }

void ReconnectingVoice::speak(std::string_view text, bool purge) {
  if (!connected_) {
    hold(text);
    retry();
    return;
  }
  // A failed cancel means the connection is gone: the new one has nothing
  // to cancel.
  if (purge && !link_->cancel()) drop_connection();
  if (connected_ && link_->say(text)) return;
  drop_connection();
  // The service may have been restarted a moment ago: one more attempt at
  // once, so that this sentence is not held back by a wait.
  hold(text);
  connect_and_flush();
}

void ReconnectingVoice::purge() {
  // Silence asked for: what is held would break it later.
  held_.clear();
  if (connected_ && !link_->cancel()) drop_connection();
}

std::optional<std::chrono::milliseconds> ReconnectingVoice::retry_in() {
  if (connected_ || held_.empty()) return std::nullopt;
  if (!last_attempt_) return std::chrono::milliseconds(0);
  const auto passed = std::chrono::duration_cast<std::chrono::milliseconds>(
      clock_() - *last_attempt_);
  return passed >= retry_ ? std::chrono::milliseconds(0) : retry_ - passed;
}

void ReconnectingVoice::retry() {
  const auto wait = retry_in();
  if (wait && wait->count() == 0) connect_and_flush();
}

void ReconnectingVoice::hold(std::string_view text) {
  if (held_.size() == kHeldLimit) held_.pop_front();
  held_.emplace_back(text);
}

void ReconnectingVoice::connect_and_flush() {
  last_attempt_ = clock_();
  if (Status opened = link_->open(); !opened) {
    unavailable(opened.error());
    return;
  }
  connected_ = true;
  reported_ = false;
  while (!held_.empty()) {
    if (!link_->say(held_.front())) {
      // Lost again straight away: the next attempt waits, the sentence
      // stays held.
      drop_connection();
      unavailable("the connection was lost");
      return;
    }
    held_.pop_front();
  }
}

void ReconnectingVoice::drop_connection() {
  link_->close();
  connected_ = false;
}

void ReconnectingVoice::unavailable(const std::string& reason) {
  if (reported_) return;
  reported_ = true;
  log(service_ + " unavailable: " + reason);
}

}  // namespace orvalin
