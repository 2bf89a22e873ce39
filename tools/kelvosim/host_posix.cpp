#include "host.h"

namespace kelvosim {

std::vector<std::string> program_args(int argc, char** argv) {
  return std::vector<std::string>(argv + 1, argv + argc);
}

void show_main_window() {}

}  // namespace kelvosim
