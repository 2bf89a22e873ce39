// Whole-file reads and writes for the settings file and the key list, with
// the operating system's own error text on failure. Any thread.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "base/result.h"

namespace orvalin::cfgfile {

// The file's bytes, or nullopt when there is no such file (nor folder). Any
// other failure (access denied, a sharing violation, ...) is an error with
// the system's text: it never means "absent".
Result<std::optional<std::string>> read_file_if_exists(
    const std::filesystem::path& path);

// Puts a new file with `bytes` at `path` only if nothing is there: the bytes
// go to a temporary file in the same folder first, which is then renamed into
// place without replacing anything, so no reader sees a half-written file and
// a file that appeared meanwhile is never overwritten. False (and nothing
// changed) when a file was already there.
Result<bool> create_new_file(const std::filesystem::path& path,
                             std::string_view bytes);

// Creates or replaces the file with `bytes`; the error is the system's text.
Status write_file(const std::filesystem::path& path, std::string_view bytes);

}  // namespace orvalin::cfgfile
