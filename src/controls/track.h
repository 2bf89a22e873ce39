// The deck's track description that selecting a deck and the announcer's
// load sentence share. Any thread that may use the bridge.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "controls/appstate.h"

namespace orvalin {

// The labels of the deck joined with ". ", or nothing when deckinfo fails.
std::optional<std::string> deck_track_description(AppState& state,
                                                  uint8_t deck);

}  // namespace orvalin
