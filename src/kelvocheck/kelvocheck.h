// Kelvo's version line and the check that Kelvo's Qt fits the plugin.
// Stateless; any thread.
#pragma once

#include <cstdint>
#include <functional>
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
// Systems without version resources have nothing to check: always nullopt.
std::optional<std::string> check_qt(const std::string& kelvo_path);

// The check's inputs, given (tests, and check_qt on Windows).
struct QtCheckInputs {
  std::function<std::optional<FileVersion>(const std::string&)> read_version;
  // "Exists": the file system can report metadata for the path.
  std::function<bool(const std::string&)> exists;
};
std::string kelvo_version_line_with(const std::string& kelvo_path,
                                    const QtCheckInputs& inputs);
std::optional<std::string> check_qt_with(const std::string& kelvo_path,
                                         const QtCheckInputs& inputs);

}  // namespace orvalin
