// Presses of Kelvo's button-like controls: set, held a moment, set back to
// 0. Every pulse of the program goes through here, so that none is ever
// left unreleased. Any thread that may use the bridge.
#pragma once

#include <chrono>
#include <string>

#include "base/result.h"
#include "bridge/bridge.h"

namespace orvalin {

// Sets `group` `key` ("value") to `on` (1 for a button, a step count for a
// grid move), waits `hold` when that was answered, and sets it back to 0.
// The release is sent whatever happened to the press, also when leaving by
// an exception. The press's error, else the release's.
Status pulse(Bridge& bridge, const std::string& group, const std::string& key,
             double on, std::chrono::milliseconds hold);

}  // namespace orvalin
