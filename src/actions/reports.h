// The spoken reports of the say action, and the deck's track description.
// Run on the action worker (the description also on the announcer).
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "actions/appstate.h"
#include "base/result.h"
#include "config/config.h"

namespace orvalin {

Status say_report(AppState& state, SayWhat what, uint8_t deck);

// The labels of the deck joined with ". ", or nothing when deckinfo fails.
std::optional<std::string> deck_track_description(AppState& state,
                                                  uint8_t deck);

}  // namespace orvalin
