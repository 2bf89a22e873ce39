#include "config/text.h"

#include <cstdint>

namespace orvalin::cfgtext {

namespace {

bool is_white_space(char32_t c) {
  return (c >= 0x09 && c <= 0x0D) || c == 0x20 || c == 0x85 || c == 0xA0 ||
         c == 0x1680 || (c >= 0x2000 && c <= 0x200A) || c == 0x2028 ||
         c == 0x2029 || c == 0x202F || c == 0x205F || c == 0x3000;
}

// Decodes the well-formed sequence starting at `at`; any malformed sequence
// counts as one byte that is not white space.
char32_t decode_at(std::string_view text, size_t at, size_t* length) {
  const auto byte = [&](size_t i) { return static_cast<uint8_t>(text[i]); };
  const uint8_t lead = byte(at);
  *length = 1;
  if (lead < 0x80) return lead;
  size_t extra = 0;
  char32_t c = 0;
  if ((lead & 0xE0) == 0xC0) {
    extra = 1;
    c = lead & 0x1F;
  } else if ((lead & 0xF0) == 0xE0) {
    extra = 2;
    c = lead & 0x0F;
  } else if ((lead & 0xF8) == 0xF0) {
    extra = 3;
    c = lead & 0x07;
  } else {
    return 0xFFFD;
  }
  if (at + extra >= text.size()) return 0xFFFD;
  for (size_t i = 1; i <= extra; ++i) {
    if ((byte(at + i) & 0xC0) != 0x80) return 0xFFFD;
    c = (c << 6) | (byte(at + i) & 0x3F);
  }
  *length = extra + 1;
  return c;
}

// The start of the code point that ends at `end` (exclusive).
size_t previous_start(std::string_view text, size_t end) {
  size_t start = end - 1;
  while (start > 0 && end - start < 4 &&
         (static_cast<uint8_t>(text[start]) & 0xC0) == 0x80) {
    --start;
  }
  return start;
}

}  // namespace

std::string_view trim(std::string_view text) {
  size_t begin = 0;
  while (begin < text.size()) {
    size_t length = 0;
    if (!is_white_space(decode_at(text, begin, &length))) break;
    begin += length;
  }
  size_t end = text.size();
  while (end > begin) {
    const size_t start = previous_start(text, end);
    size_t length = 0;
    const char32_t c = decode_at(text, start, &length);
    if (start + length != end || !is_white_space(c)) break;
    end = start;
  }
  return text.substr(begin, end - begin);
}

std::string ascii_lower(std::string_view text) {
  std::string lower(text);
  for (char& c : lower) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return lower;
}

bool equal_ignoring_ascii_case(std::string_view a, std::string_view b) {
  return a.size() == b.size() && ascii_lower(a) == ascii_lower(b);
}

std::vector<std::string_view> split_lines(std::string_view text) {
  std::vector<std::string_view> lines;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    const size_t next = end == std::string_view::npos ? text.size() : end + 1;
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(start, end - start);
    if (next != end && !line.empty() && line.back() == '\r') {
      line.remove_suffix(1);
    }
    lines.push_back(line);
    start = next;
  }
  return lines;
}

std::string replace_all(std::string_view text, std::string_view from,
                        std::string_view to) {
  std::string out;
  size_t start = 0;
  for (;;) {
    const size_t found = text.find(from, start);
    if (found == std::string_view::npos) break;
    out.append(text.substr(start, found - start));
    out.append(to);
    start = found + from.size();
  }
  out.append(text.substr(start));
  return out;
}

}  // namespace orvalin::cfgtext
