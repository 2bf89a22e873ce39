#include "kelvocheck/kelvocheck.h"

namespace orvalin {

// Files here carry no version resources.
std::optional<FileVersion> read_file_version(const std::string&) {
  return std::nullopt;
}

// Without version resources there is nothing to compare: Kelvo's own
// packaging is trusted to bring a Qt that fits.
std::optional<std::string> check_qt(const std::string&) { return std::nullopt; }

}  // namespace orvalin
