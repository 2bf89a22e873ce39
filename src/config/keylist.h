// Spoken descriptions of bindings (key help) and the key list file.
// Pure functions apart from write_key_list; any thread.
#pragma once

#include <string>
#include <string_view>

#include "base/result.h"
#include "config/config.h"

namespace orvalin {

// "pfl" -> "headphones"; unknown names with "_" spoken as spaces.
std::string control_description(std::string_view control);

// A binding's label as spoken: a built-in binding's label in the language in
// use (the catalogue holds every label of the built-in settings, context
// "label"), a label of the user's own as written.
std::string label_text(std::string_view label);

// "play on or off on the current deck".
std::string describe_action(const Action& action);

// The key list text of the built-in bindings, with CR LF line ends.
Result<std::string> key_list_text();

// Writes key_list_text() to `path` (UTF-8, as given on the command line);
// "cannot write {}: {}" with the path as passed on failure.
Status write_key_list(std::string_view path);

}  // namespace orvalin
