// Key texts from the settings file through the key parser: the result is a
// valid combination or one of the parser's three error texts, and a parsed
// combination written back and parsed again is the same combination.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "base/utf.h"
#include "check.h"
#include "config/keys.h"

using namespace orvalin;
using fuzz::require;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const std::string display = key_display_name(text);
  if (is_valid_utf8(text)) {
    require(is_valid_utf8(display), "a display name of UTF-8 is UTF-8",
            display);
  }

  auto parsed = parse_key_combination(text);
  if (!parsed) {
    const std::string& error = parsed.error();
    const std::string quoted = "'" + std::string(text) + "': ";
    require(error == quoted + "more than one key" ||
                error == quoted + "no key given" ||
                (error.starts_with(quoted + "unknown key '") &&
                 error.ends_with("'")),
            "a key error is one of the parser's texts", error);
    return 0;
  }
  constexpr uint32_t kAll = kModAlt | kModControl | kModShift | kModWin;
  require((parsed->modifiers & ~kAll) == 0, "only the four modifiers");
  const std::string again = key_combination_text(*parsed);
  require(!again.empty(), "the key is one of the documented keys", text);
  auto reparsed = parse_key_combination(again);
  require(reparsed && *reparsed == *parsed,
          "written back and parsed again, the same combination", again);
  return 0;
}
