// UTF-8 checks and UTF-8 <-> UTF-16 conversion. Text is UTF-8 everywhere in
// the program; UTF-16 exists only at Windows calls (see winstr.h).
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace orvalin {

bool is_valid_utf8(std::string_view bytes);

// Invalid input sequences become U+FFFD.
std::u16string utf8_to_utf16(std::string_view text);
std::string utf16_to_utf8(std::u16string_view text);

// A path as UTF-8 text (invalid UTF-16 on Windows becomes U+FFFD), and back.
std::string path_to_utf8(const std::filesystem::path& path);
std::filesystem::path utf8_to_path(std::string_view text);

}  // namespace orvalin
