// The host's plugin check, which the start-up tests rely on to refuse a
// plugin path the program set up wrongly.
#include "host.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "base/plugin.h"
#include "base/utf.h"
#include "testing/kelvosim.h"

namespace kelvosim {
namespace {

TEST(Host, LoadsThePluginOnlyFromTheFirstPluginPathEntry) {
  const auto dir = orvalin::make_temp_dir("kelvosim-plugin");
  std::filesystem::create_directories(dir / "generic");
  std::ofstream(dir / "generic" /
                orvalin::utf8_to_path(orvalin::plugin_file_name()));
  const std::string with = orvalin::path_to_utf8(dir);
  const std::string without = orvalin::path_to_utf8(dir / "generic");
  const std::string separator(orvalin::plugin_path_separator());
  EXPECT_TRUE(plugin_would_load("orvalin", with));
  EXPECT_TRUE(plugin_would_load("orvalin", with + separator + without));
  EXPECT_FALSE(plugin_would_load("orvalin", without + separator + with));
  EXPECT_FALSE(plugin_would_load("other", with));
  EXPECT_FALSE(plugin_would_load(std::nullopt, with));
  EXPECT_FALSE(plugin_would_load("orvalin", std::nullopt));
  EXPECT_FALSE(plugin_would_load("orvalin", ""));
  std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace kelvosim
