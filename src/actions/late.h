// What a key says from the answers it asked Kelvo for, however late they
// come: one rule for every key that speaks what it read. The answers are
// asked for together; when all come in time the key says its sentence at
// once, and when some time out the key fails with the time-out and the
// sentence is said once the late answers have come after all.
//
// Made by the action worker, which settles it; its late callbacks run on
// the bridge's reader thread. Thread-safe.
#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <tuple>
#include <utility>

#include "base/result.h"
#include "speech/speech.h"

namespace orvalin {

template <typename... Parts>
class LateSentence
    : public std::enable_shared_from_this<LateSentence<Parts...>> {
 public:
  // Makes the sentence from the answers. It may run on the bridge's reader
  // thread: it neither waits nor asks Kelvo anything.
  using Phrase = std::function<std::string(const Parts&...)>;
  template <size_t I>
  using Part = std::tuple_element_t<I, std::tuple<Parts...>>;

  static std::shared_ptr<LateSentence> make(Speech speech, Phrase phrase) {
    return std::shared_ptr<LateSentence>(
        new LateSentence(std::move(speech), std::move(phrase)));
  }

  // What the request of answer I is given for a reply after its time-out.
  // A late answer that is itself an error means nothing is said.
  template <size_t I>
  std::function<void(Result<Part<I>>)> late() {
    return [self = this->shared_from_this()](Result<Part<I>> answer) {
      std::lock_guard lock(self->mutex_);
      if (!answer) {
        self->failed_ = true;
        return;
      }
      std::get<I>(self->parts_) = std::move(*answer);
      if (!self->settled_ || self->failed_) return;
      if (auto sentence = self->sentence()) self->speech_.say(*sentence);
    };
  }

  // The answers as their requests gave them. The sentence when every
  // answer is known now (one that timed out may have come since); else the
  // first error, and the sentence is said once the answers that timed out
  // come, unless one of them fails or another answer failed outright.
  Result<std::string> settle(Result<Parts>... answers) {
    std::lock_guard lock(mutex_);
    std::optional<std::string> error;
    take(std::index_sequence_for<Parts...>{}, error, answers...);
    settled_ = true;
    if (auto known = sentence(); known && !failed_) return *known;
    return fail(error.value_or(std::string()));
  }

  // settle(), and the sentence said when it is known now.
  Status say(Result<Parts>... answers) {
    auto sentence = settle(std::move(answers)...);
    if (!sentence) return fail(std::move(sentence.error()));
    speech_.say(*sentence);
    return {};
  }

 private:
  LateSentence(Speech speech, Phrase phrase)
      : speech_(std::move(speech)), phrase_(std::move(phrase)) {}

  template <size_t... I>
  void take(std::index_sequence<I...>, std::optional<std::string>& error,
            Result<Parts>&... answers) {
    (take_one(std::get<I>(parts_), answers, error), ...);
  }

  template <typename T>
  static void take_one(std::optional<T>& slot, Result<T>& answer,
                       std::optional<std::string>& error) {
    if (answer) {
      slot = std::move(*answer);
    } else if (!slot && !error) {
      error = std::move(answer.error());
    }
  }

  // The sentence once every answer is in; mutex_ held.
  std::optional<std::string> sentence() const {
    return std::apply(
        [this](const std::optional<Parts>&... parts)
            -> std::optional<std::string> {
          if (!(parts.has_value() && ...)) return std::nullopt;
          return phrase_(*parts...);
        },
        parts_);
  }

  const Speech speech_;
  const Phrase phrase_;
  std::mutex mutex_;  // guards parts_, settled_ and failed_
  std::tuple<std::optional<Parts>...> parts_;
  bool settled_ = false;  // the key has had its answers
  bool failed_ = false;   // a late answer was an error
};

}  // namespace orvalin
