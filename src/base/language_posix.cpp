#include "base/language.h"
#include "base/os.h"

namespace orvalin {

// The order in which the C library picks the locale of messages; LANGUAGE
// is left out because a session sets it only to list fallbacks.
std::string session_locale() {
  for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
    if (auto value = get_env(name); value && !value->empty()) return *value;
  }
  return {};
}

}  // namespace orvalin
