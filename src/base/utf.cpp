#include "base/utf.h"

#include <cstdint>

namespace orvalin {

namespace {

constexpr char32_t kReplacement = 0xFFFD;

// Decodes one code point at `i`; on an invalid sequence returns U+FFFD and
// advances by the maximal invalid prefix (at least one byte), as WHATWG and
// Unicode's "substitution of maximal subparts" recommend.
char32_t decode_utf8(std::string_view s, size_t& i, bool& valid) {
  valid = false;
  const auto byte = [&](size_t k) { return static_cast<uint8_t>(s[k]); };
  const uint8_t b0 = byte(i);
  if (b0 < 0x80) {
    ++i;
    valid = true;
    return b0;
  }
  int len = 0;
  char32_t cp = 0;
  uint8_t lo = 0x80, hi = 0xBF;
  if (b0 >= 0xC2 && b0 <= 0xDF) {
    len = 2;
    cp = b0 & 0x1F;
  } else if (b0 >= 0xE0 && b0 <= 0xEF) {
    len = 3;
    cp = b0 & 0x0F;
    if (b0 == 0xE0) lo = 0xA0;
    if (b0 == 0xED) hi = 0x9F;
  } else if (b0 >= 0xF0 && b0 <= 0xF4) {
    len = 4;
    cp = b0 & 0x07;
    if (b0 == 0xF0) lo = 0x90;
    if (b0 == 0xF4) hi = 0x8F;
  } else {
    ++i;
    return kReplacement;
  }
  size_t k = i + 1;
  for (int n = 1; n < len; ++n, ++k) {
    if (k >= s.size()) {
      i = k;
      return kReplacement;
    }
    const uint8_t b = byte(k);
    if (b < lo || b > hi) {
      i = k;
      return kReplacement;
    }
    lo = 0x80;
    hi = 0xBF;
    cp = (cp << 6) | (b & 0x3F);
  }
  i = k;
  valid = true;
  return cp;
}

void append_utf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

}  // namespace

bool is_valid_utf8(std::string_view bytes) {
  bool valid = true;
  for (size_t i = 0; i < bytes.size() && valid;) {
    if (static_cast<uint8_t>(bytes[i]) < 0x80) {
      ++i;
    } else {
      decode_utf8(bytes, i, valid);
    }
  }
  return valid;
}

std::u16string utf8_to_utf16(std::string_view text) {
  std::u16string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size();) {
    bool valid;
    const char32_t cp = decode_utf8(text, i, valid);
    if (cp >= 0x10000) {
      const char32_t v = cp - 0x10000;
      out += static_cast<char16_t>(0xD800 | (v >> 10));
      out += static_cast<char16_t>(0xDC00 | (v & 0x3FF));
    } else {
      out += static_cast<char16_t>(cp);
    }
  }
  return out;
}

std::string utf16_to_utf8(std::u16string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    const char16_t u = text[i];
    if (u >= 0xD800 && u <= 0xDBFF && i + 1 < text.size() &&
        text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
      append_utf8(out, 0x10000 + ((char32_t(u) - 0xD800) << 10) +
                           (char32_t(text[i + 1]) - 0xDC00));
      ++i;
    } else if (u >= 0xD800 && u <= 0xDFFF) {
      append_utf8(out, kReplacement);
    } else {
      append_utf8(out, u);
    }
  }
  return out;
}

std::string path_to_utf8(const std::filesystem::path& path) {
  const auto& native = path.native();
  if constexpr (sizeof(native[0]) == 2) {
    return utf16_to_utf8(std::u16string_view(
        reinterpret_cast<const char16_t*>(native.data()), native.size()));
  } else {
    return std::string(native.begin(), native.end());
  }
}

std::filesystem::path utf8_to_path(std::string_view text) {
  using Native = std::filesystem::path::string_type;
  if constexpr (sizeof(Native::value_type) == 2) {
    const std::u16string wide = utf8_to_utf16(text);
    return std::filesystem::path(Native(wide.begin(), wide.end()));
  } else {
    return std::filesystem::path(Native(text.begin(), text.end()));
  }
}

}  // namespace orvalin
