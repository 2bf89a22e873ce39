// The X11 keysym of each key the key table names, so that a key name means
// the same key under X11 as on Windows. Pure; any thread.
#pragma once

#include <cstdint>

namespace orvalin {

// The keysym of a virtual-key code that parse_key_combination gives; 0 for
// a code the key table never gives.
uint32_t keysym_of(uint32_t vk);

}  // namespace orvalin
