// Opens a file in the user's editor ($VISUAL, else $EDITOR, else the
// desktop's handler through xdg-open) without waiting for it.
#include <spawn.h>
#include <sys/types.h>

#include <optional>
#include <string>

#include "base/os.h"
#include "base/utf.h"
#include "main/platform.h"

extern char** environ;

namespace orvalin {

namespace {

std::optional<std::string> editor_command() {
  for (const char* name : {"VISUAL", "EDITOR"}) {
    if (auto value = get_env(name); value && !value->empty()) return value;
  }
  return std::nullopt;
}

}  // namespace

void open_in_editor(const std::filesystem::path& file) {
  std::string path = path_to_utf8(file);
  pid_t pid = 0;
  if (auto editor = editor_command()) {
    // Like other tools that honour these variables, the value is a shell
    // command ("code --wait" is common); the file goes in as "$1" so that
    // its name is never parsed by the shell.
    std::string shell = "/bin/sh";
    std::string dash_c = "-c";
    std::string script = *editor + " \"$1\"";
    std::string name = "sh";
    char* argv[] = {shell.data(), dash_c.data(), script.data(),
                    name.data(),  path.data(),   nullptr};
    posix_spawn(&pid, shell.c_str(), nullptr, nullptr, argv, environ);
    return;
  }
  std::string program = "xdg-open";
  char* argv[] = {program.data(), path.data(), nullptr};
  // Not waited for, and a failure to start is not reported: the program
  // ends right after this.
  posix_spawnp(&pid, program.c_str(), nullptr, nullptr, argv, environ);
}

}  // namespace orvalin
