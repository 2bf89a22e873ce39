#include "base/process.h"

#include <algorithm>
#include <charconv>

namespace orvalin {

std::optional<StatParents> parse_proc_stat(std::string_view text) {
  // "pid (name) state ppid pgrp ...": the name may hold spaces and
  // parentheses, so the fields are counted from its last ')'.
  const size_t close = text.rfind(')');
  if (close == std::string_view::npos) return std::nullopt;
  std::string_view rest = text.substr(close + 1);
  uint32_t fields[3] = {};  // state (unread), ppid, pgrp
  for (int i = 0; i < 3; ++i) {
    const size_t start = rest.find_first_not_of(' ');
    if (start == std::string_view::npos) return std::nullopt;
    rest.remove_prefix(start);
    const size_t end = std::min(rest.find(' '), rest.size());
    if (i > 0) {
      const auto [ptr, error] =
          std::from_chars(rest.data(), rest.data() + end, fields[i]);
      if (error != std::errc() || ptr != rest.data() + end) return std::nullopt;
    }
    rest.remove_prefix(end);
  }
  return StatParents{fields[1], fields[2]};
}

}  // namespace orvalin
