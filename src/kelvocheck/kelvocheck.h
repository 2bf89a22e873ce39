// Kelvo's version line and the check that Kelvo's Qt fits the plugin.
// Stateless; any thread.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace orvalin {

struct FileVersion {
  uint16_t major = 0;
  uint16_t minor = 0;
  uint16_t build = 0;
};

// The fixed file information of a file's version resource; nullopt when the
// file has none (always on systems without version resources).
std::optional<FileVersion> read_file_version(const std::string& path);

// "Kelvo 2.5.0" or "Kelvo unknown version".
std::string kelvo_version_line(const std::string& kelvo_path);

// nullopt when Kelvo's Qt6Core.dll fits; otherwise the refusal sentence.
std::optional<std::string> check_qt(const std::string& kelvo_path);

}  // namespace orvalin
