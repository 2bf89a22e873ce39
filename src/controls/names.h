// Kelvo's control names as this program builds and reads them, and the
// controls the announcer watches. Pure functions and constant tables; any
// thread.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace orvalin {

// The group of deck N: "[Channel" N "]".
std::string deck_group(uint8_t deck);

// The number N of a name prefix + N + suffix ("[Channel" N "]",
// "hotcue_" N "_status"): digits only, leading zeros and a leading "+"
// allowed, value 0..255.
std::optional<unsigned> numbered_name(std::string_view text,
                                      std::string_view prefix,
                                      std::string_view suffix);

// A deck or sampler count as Kelvo reports it, rounded into 0..255.
uint8_t rounded_count(double value);

// The counts start-up reads to know what to watch: the decks (also watched,
// see the announcer) and the samplers.
inline constexpr std::array<std::pair<std::string_view, std::string_view>, 2>
    kStartupCounts = {{{"[App]", "num_decks"}, {"[App]", "num_samplers"}}};

// The watched controls. Every deck's: these keys and the status of each of
// its hot cues ("hotcue_" N "_status", N 1..kWatchedHotcues); every
// sampler's "play"; and the fixed controls below. Watched in this order.
inline constexpr std::array<std::string_view, 8> kWatchedDeckKeys = {
    "play",         "sync_enabled", "pfl",          "keylock",
    "loop_enabled", "end_of_track", "track_loaded", "peak_indicator"};
inline constexpr int kWatchedHotcues = 8;
inline constexpr std::string_view kWatchedSamplerKey = "play";
inline constexpr std::array<std::pair<std::string_view, std::string_view>, 6>
    kWatchedFixed = {{
        {"[AutoDJ]", "enabled"},
        {"[Recording]", "status"},
        {"[Shoutcast]", "enabled"},
        {"[Shoutcast]", "status"},
        {"[Microphone]", "talkover"},
        {"[Main]", "peak_indicator"},
    }};

// Whether the announcer speaks changes of this control (a toggle of such a
// control leaves the sentence to the announcer).
bool is_watched_control(std::string_view group, std::string_view key);

}  // namespace orvalin
