// Where a build looks for the files that ship beside the program. Builds made
// in the source tree for development and tests also look in the source
// tree's layout ("vendor\nvda", "plugin\build"); the programs built for users
// (CMake option ORVALIN_DEV_PATHS off) look only beside their executable, as
// the folders above an installation (C:\vendor\nvda for C:\Program
// Files\Orvalin) may be created by any user. Any thread.
#pragma once

#ifndef ORVALIN_DEV_PATHS
#define ORVALIN_DEV_PATHS 1
#endif

namespace orvalin {

enum class Layout { installed, development };

inline constexpr Layout kBuildLayout =
    ORVALIN_DEV_PATHS ? Layout::development : Layout::installed;

}  // namespace orvalin
