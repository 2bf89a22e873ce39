// The built-in configuration text: the commented default config.toml and the
// base list of the 103 built-in bindings.
#pragma once

#include <string_view>

namespace orvalin {

std::string_view builtin_config_text();

}  // namespace orvalin
