#include "base/layout.h"

// Compiled twice: with ORVALIN_DEV_PATHS=0 for the program built for users,
// and as it is here for everything else.
#ifndef ORVALIN_DEV_PATHS
#define ORVALIN_DEV_PATHS 1
#endif

namespace orvalin {

Layout build_layout() {
  return ORVALIN_DEV_PATHS ? Layout::development : Layout::installed;
}

}  // namespace orvalin
