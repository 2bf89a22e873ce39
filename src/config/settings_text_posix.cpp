#include "config/config.h"
#include "registry/registry.h"

namespace orvalin {

PlatformSettingsText platform_settings_text() {
  PlatformSettingsText text;
  text.header =
      "# Orvalin configuration.\n"
      "# This file is created on first run in ~/.config/orvalin/config.toml\n"
      "# ($XDG_CONFIG_HOME/orvalin/config.toml); the log is\n"
      "# ~/.local/state/orvalin/app.log ($XDG_STATE_HOME/orvalin/app.log).\n"
      "# Saved changes apply at once. Where Kelvo is, its arguments and the "
      "port\n"
      "# (the [general] settings below) apply at the next start of Orvalin.\n";
  std::string places;
  for (const char* place : kLinuxKelvoPlaces) {
    places += places.empty() ? "" : ", ";
    places += place;
  }
  text.kelvo_not_found =
      "# Kelvo was not found when this file was created. Left empty, Orvalin\n"
      "# looks for it at every start: \"kelvo\" on your PATH, then\n# " +
      places +
      ".\n"
      "# kelvo_path = \"/opt/kelvo/bin/kelvo\"\n"
      "kelvo_path = \"\"";
  text.speech_comment =
      "# On Linux Orvalin speaks through speech-dispatcher, the speech "
      "service\n"
      "# Orca uses; the voice, rate and volume are speech-dispatcher's\n"
      "# (spd-conf). There is no screen-reader choice and no braille here:\n"
      "# screen_reader and braille apply on Windows only.\n";
  return text;
}

}  // namespace orvalin
