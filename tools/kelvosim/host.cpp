#include "host.h"

#include <filesystem>

#include "base/os.h"
#include "base/plugin.h"
#include "base/utf.h"

namespace kelvosim {

bool plugin_would_load(const std::optional<std::string>& generic_plugins,
                       const std::optional<std::string>& plugin_path) {
  if (!generic_plugins || *generic_plugins != orvalin::kGenericPluginName) {
    return false;
  }
  if (!plugin_path) return false;
  const std::string first = plugin_path->substr(
      0, plugin_path->find(orvalin::plugin_path_separator()));
  if (first.empty()) return false;
  return orvalin::path_exists(
      orvalin::utf8_to_path(first) / orvalin::kPluginFolder /
      orvalin::utf8_to_path(orvalin::plugin_file_name()));
}

}  // namespace kelvosim
