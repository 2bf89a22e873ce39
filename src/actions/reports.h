// The spoken reports of the say action. Run on the action worker.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "base/result.h"
#include "config/config.h"
#include "controls/appstate.h"
#include "controls/names.h"

namespace orvalin {

Status say_report(AppState& state, SayWhat what, uint8_t deck);

// Says the deck's track as `phrase` words it, from whether a track is
// loaded and the deck's description; both are asked for together, so that
// late answers still give the sentence (see actions/late.h).
using DeckTrackPhrase =
    std::function<std::string(bool loaded, const std::string& description)>;
Status say_deck_track(AppState& state, uint8_t deck, DeckTrackPhrase phrase);

}  // namespace orvalin
