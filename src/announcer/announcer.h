// Announcements of watched control changes (thread "announcer") and the
// one-minute warnings (thread "time-warnings").
#pragma once

#include <cstdint>
#include <memory>
#include <string_view>

#include "actions/appstate.h"
#include "base/channel.h"
#include "bridge/bridge.h"

namespace orvalin {

// Whether the announcer speaks changes of this control (a toggle of such a
// control leaves the sentence to the announcer).
bool is_watched_control(std::string_view group, std::string_view key);

// Watches every control of decks first..last into `last_values`.
void watch_decks(Bridge& bridge, uint8_t first, uint8_t last,
                 LastValues& last_values);

// Registers the watched controls at start-up and collects their values.
LastValues setup_watches(Bridge& bridge);

// The announcer loop: until Disconnected or the channel closes.
void run_announcer(std::shared_ptr<AppState> state,
                   Receiver<BridgeEvent> events, LastValues last_values);

// The time-warnings loop: one poll a second until num_decks fails.
void run_time_warnings(std::shared_ptr<AppState> state);

}  // namespace orvalin
