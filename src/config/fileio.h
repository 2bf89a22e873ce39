// Whole-file reads and writes for the settings file and the key list, with
// the operating system's own error text on failure. Any thread.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

#include "base/result.h"

namespace orvalin::cfgfile {

// The file's bytes; the error is the system's text alone.
Result<std::string> read_file(const std::filesystem::path& path);

// Creates or replaces the file with `bytes`; the error is the system's text.
Status write_file(const std::filesystem::path& path, std::string_view bytes);

}  // namespace orvalin::cfgfile
