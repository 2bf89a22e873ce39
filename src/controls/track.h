// The deck's track description that selecting a deck and the announcer's
// load sentence share. Any thread that may use the bridge.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "controls/appstate.h"

namespace orvalin {

// The labels of the deck joined with ". ", or nothing when deckinfo fails.
std::optional<std::string> deck_track_description(AppState& state,
                                                  uint8_t deck);

// The same from labels already read. A label the skin shortened ("Long
// Tit…") is completed from `track`, the library's selected track, when
// that has the whole text; without `track` it stays as shown.
std::string describe_labels(const std::vector<DeckLabel>& labels,
                            const SelectedTrack* track);

// Whether the skin shortened one of `labels`, so that describe_labels
// wants the selected track.
bool any_shortened(const std::vector<DeckLabel>& labels);

}  // namespace orvalin
