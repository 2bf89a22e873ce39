#include <gtest/gtest.h>

#include <string>

#include "config/config.h"

namespace orvalin {
namespace {

// A Linux user's new file names the Linux places, leaves kelvo_path empty
// with the search order when Kelvo was not found, and says what [speech]
// does here.
TEST(ConfigPosixTest, NewFileIsWrittenForLinux) {
  const std::string text = new_settings_text(std::nullopt);
  for (const char* said :
       {"~/.config/orvalin/config.toml", "~/.local/state/orvalin/app.log",
        "\n# /usr/bin/kelvo, /usr/local/bin/kelvo, /opt/kelvo/bin/kelvo.\n",
        "\nkelvo_path = \"\"\n", "speech-dispatcher",
        "no screen-reader choice and no braille here"}) {
    EXPECT_NE(text.find(said), std::string::npos) << said;
  }
  for (const char* windows : {"%APPDATA%", "C:\\", "JAWS"}) {
    EXPECT_EQ(text.find(windows), std::string::npos) << windows;
  }
  EXPECT_TRUE(new_settings_text("/opt/kelvo/bin/kelvo")
                  .contains("\nkelvo_path = '/opt/kelvo/bin/kelvo'\n"));
}

}  // namespace
}  // namespace orvalin
