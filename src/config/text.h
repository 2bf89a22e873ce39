// Small text helpers shared by the configuration sources. Pure; any thread.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace orvalin::cfgtext {

// Removes Unicode white space from both ends.
std::string_view trim(std::string_view text);

// A–Z to a–z; every other byte unchanged.
std::string ascii_lower(std::string_view text);

// Equal length and equal ignoring ASCII letter case.
bool equal_ignoring_ascii_case(std::string_view a, std::string_view b);

// The lines of a text: split at line feeds, a carriage return before a line
// feed dropped, and no empty last line after a final line feed.
std::vector<std::string_view> split_lines(std::string_view text);

// Replaces every occurrence of `from` (not empty) by `to`.
std::string replace_all(std::string_view text, std::string_view from,
                        std::string_view to);

}  // namespace orvalin::cfgtext
