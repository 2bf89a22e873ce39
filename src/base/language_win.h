// The name Windows gives a UI language. Included only by *_win.cpp files;
// any thread.
#pragma once

#include <string>

namespace orvalin {

// The locale name of the Windows language `language` (a LANGID: "de-DE"
// for 0x0407); empty when Windows knows none.
std::string ui_language_name(unsigned short language);

}  // namespace orvalin
