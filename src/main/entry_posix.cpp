#include <string>
#include <vector>

#include "main/orvalin_main.h"

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + (argc > 0 ? 1 : 0), argv + argc);
  return orvalin::orvalin_main(args);
}
