// The refusal sentence the kelvocheck tests expect, written out in full
// rather than built by the code under test.
#pragma once

#include <string>

namespace orvalin::testtext {

inline std::string refusal(const std::string& kelvo, const std::string& uses) {
  return kelvo + " is not supported by this version of Orvalin. It uses " +
         uses +
         ", Orvalin needs Qt 6.5 or newer within Qt 6. Please check for an "
         "Orvalin update.";
}

}  // namespace orvalin::testtext
