#include "base/plugin.h"

namespace orvalin {

std::string loaded_signal_name(std::string_view token) {
  return std::string(loaded_signal_prefix()) +
         std::string(token.substr(0, kSignalTokenBytes));
}

}  // namespace orvalin
