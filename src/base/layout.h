// Where a build looks for the files that ship beside the program. Programs
// built in the source tree for development and tests also look in the source
// tree's layout ("vendor\nvda", "plugin\build"); the program built for users
// (make dist) looks only beside its executable, as the folders above an
// installation (C:\vendor\nvda for C:\Program Files\Orvalin) may be created
// by any user. Any thread.
#pragma once

namespace orvalin {

enum class Layout { installed, development };

// The layout this program was linked for. Only base/layout.cpp knows it, so
// that both programs are linked from the same other objects.
Layout build_layout();

}  // namespace orvalin
