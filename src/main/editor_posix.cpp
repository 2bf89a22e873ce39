// Opens a file in the user's editor ($VISUAL, else $EDITOR, else the
// desktop's handler, xdg-open) without waiting for it.
#include <spawn.h>
#include <sys/types.h>

#include <string>

#include "base/os.h"
#include "base/utf.h"
#include "main/platform.h"

extern char** environ;

namespace orvalin {

void open_in_editor(const std::filesystem::path& file) {
  std::string program = "xdg-open";
  for (const char* name : {"VISUAL", "EDITOR"}) {
    if (auto value = get_env(name); value && !value->empty()) {
      program = *value;
      break;
    }
  }
  std::string argument = path_to_utf8(file);
  char* argv[] = {program.data(), argument.data(), nullptr};
  pid_t pid = 0;
  // The child is not waited for; the program ends right after this.
  posix_spawnp(&pid, program.c_str(), nullptr, nullptr, argv, environ);
}

}  // namespace orvalin
