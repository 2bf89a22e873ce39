#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <system_error>

#include "base/os.h"
#include "registry/registry.h"

namespace orvalin {

namespace {

// There is no registry here: every read gives nothing.
class NoRegistry : public RegistryReader {
 public:
  std::optional<std::string> read_string(RegistryRoot, const std::string&,
                                         const std::string&) override {
    return std::nullopt;
  }
  std::optional<std::vector<std::string>> subkeys(RegistryRoot,
                                                  const std::string&) override {
    return std::nullopt;
  }
};

// What a shell would run: a regular file (after links) that we may execute.
bool is_executable_file(const std::string& path) {
  struct stat info;
  return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
         ::access(path.c_str(), X_OK) == 0;
}

}  // namespace

RegistryReader& system_registry() {
  static NoRegistry registry;
  return registry;
}

std::optional<std::string> find_kelvo() {
  const auto path_list = get_env("PATH");
  auto found = find_kelvo_on_linux(path_list.value_or(""), is_executable_file);
  if (!found) return std::nullopt;
  // A relative PATH entry would otherwise give a path that means nothing to
  // a caller in another working directory.
  std::error_code error;
  auto absolute = std::filesystem::absolute(*found, error);
  if (error) return found;
  return absolute.string();
}

}  // namespace orvalin
