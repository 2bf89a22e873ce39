// The fuzz targets' assertion: an invariant that does not hold is a crash,
// with the reason and the input's own words on standard error.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <string_view>

namespace orvalin::fuzz {

inline void require(bool holds, std::string_view what,
                    std::string_view detail = {}) {
  if (holds) return;
  std::fprintf(stderr, "invariant broken: %.*s\n  %.*s\n",
               static_cast<int>(what.size()), what.data(),
               static_cast<int>(detail.size()), detail.data());
  std::abort();
}

}  // namespace orvalin::fuzz
