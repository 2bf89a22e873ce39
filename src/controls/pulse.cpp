#include "controls/pulse.h"

#include <exception>
#include <thread>

namespace orvalin {

namespace {

// Sends the release once, whatever happens to the press: a press that timed
// out may still reach Kelvo after the stall, and one that failed may have
// been half carried out. A control left at 1 stays held (a held cue plays on
// air; a grid move or a tempo tap taken as held goes on acting).
class Release {
 public:
  Release(Bridge& bridge, const std::string& group, const std::string& key)
      : bridge_(bridge), group_(group), key_(key) {}
  Release(const Release&) = delete;
  Release& operator=(const Release&) = delete;
  ~Release() {
    if (sent_) return;
    try {
      (void)send();
    } catch (const std::exception&) {
      // Leaving by an exception already; its log line says what failed.
    }
  }

  Result<double> send() {
    sent_ = true;
    return bridge_.set(group_, key_, "value", 0.0);
  }

 private:
  Bridge& bridge_;
  const std::string& group_;
  const std::string& key_;
  bool sent_ = false;
};

}  // namespace

Status pulse(Bridge& bridge, const std::string& group, const std::string& key,
             double on, std::chrono::milliseconds hold) {
  Release release(bridge, group, key);
  auto pressed = bridge.set(group, key, "value", on);
  if (pressed) std::this_thread::sleep_for(hold);
  auto released = release.send();
  if (!pressed) return fail(std::move(pressed.error()));
  if (!released) return fail(std::move(released.error()));
  return {};
}

}  // namespace orvalin
