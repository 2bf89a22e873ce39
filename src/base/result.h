// Result type of operations that can fail: the value, or an error text that
// the caller speaks or logs.
#pragma once

#include <expected>
#include <string>

namespace orvalin {

template <class T>
using Result = std::expected<T, std::string>;

// Result of an operation that gives nothing back on success.
using Status = std::expected<void, std::string>;

inline std::unexpected<std::string> fail(std::string text) {
  return std::unexpected<std::string>(std::move(text));
}

}  // namespace orvalin
