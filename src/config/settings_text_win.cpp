#include "config/config.h"

namespace orvalin {

// The built-in text is written for Windows.
PlatformSettingsText platform_settings_text() { return {}; }

}  // namespace orvalin
