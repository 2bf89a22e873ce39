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
  std::string editor = "xdg-open";
  for (const char* name : {"VISUAL", "EDITOR"}) {
    if (auto value = get_env(name); value && !value->empty()) {
      editor = *value;
      break;
    }
  }
  // The variables may hold arguments too ("emacs -nw"): the shell splits
  // them, and the file goes in as a parameter, never as shell text.
  std::string shell = "/bin/sh";
  std::string flag = "-c";
  std::string command = editor + " \"$1\"";
  std::string name = "orvalin";
  std::string argument = path_to_utf8(file);
  char* argv[] = {shell.data(), flag.data(),     command.data(),
                  name.data(),  argument.data(), nullptr};
  pid_t pid = 0;
  // The child is not waited for; the program ends right after this.
  posix_spawn(&pid, shell.c_str(), nullptr, nullptr, argv, environ);
}

}  // namespace orvalin
