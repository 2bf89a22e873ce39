#include "base/os.h"

#include <system_error>

namespace orvalin {

bool path_exists(const std::filesystem::path& path) {
  std::error_code error;
  const auto status = std::filesystem::status(path, error);
  return !error && status.type() != std::filesystem::file_type::not_found;
}

std::string error_code_text(const std::error_code& error) {
  if (error.category() == std::system_category()) {
    return os_error_text(static_cast<unsigned long>(error.value()));
  }
  std::string text = error.message();
  if (text.empty()) text = "error " + std::to_string(error.value());
  return text;
}

}  // namespace orvalin
