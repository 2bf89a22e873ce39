#include "registry/registry.h"

#include <array>

namespace orvalin {

namespace {

constexpr const char* kOwnKey = "Software\\Orvalin";
constexpr const char* kOwnValue = "KelvoPath";
constexpr std::array<const char*, 2> kUninstallLists = {
    "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall",
    "SOFTWARE\\WOW6432Node\\Microsoft\\Windows\\CurrentVersion\\Uninstall",
};
constexpr std::array<const char*, 3> kProgramFolders = {
    "ProgramW6432", "ProgramFiles", "ProgramFiles(x86)"};

// Windows path join: exactly one backslash between the parts.
std::string join(const std::string& dir, std::string_view name) {
  if (dir.empty() || dir.back() == '\\' || dir.back() == '/') {
    return dir + std::string(name);
  }
  return dir + "\\" + std::string(name);
}

std::optional<std::string> own_value(const KelvoSearch& search) {
  // HKEY_LOCAL_MACHINE is asked only when HKEY_CURRENT_USER has no value at
  // all; a user value naming a missing file does not fall back to it.
  auto value = search.registry->read_string(RegistryRoot::current_user, kOwnKey,
                                            kOwnValue);
  if (!value) {
    value = search.registry->read_string(RegistryRoot::local_machine, kOwnKey,
                                         kOwnValue);
  }
  if (value && !value->empty() && search.exists(*value)) return value;
  return std::nullopt;
}

std::optional<std::string> from_uninstall_lists(const KelvoSearch& search) {
  for (RegistryRoot root :
       {RegistryRoot::local_machine, RegistryRoot::current_user}) {
    for (const char* list : kUninstallLists) {
      const auto names = search.registry->subkeys(root, list);
      if (!names) continue;
      for (const std::string& name : *names) {
        const std::string entry = std::string(list) + "\\" + name;
        const auto display =
            search.registry->read_string(root, entry, "DisplayName");
        if (!display || *display != "Kelvo") continue;
        const auto location =
            search.registry->read_string(root, entry, "InstallLocation");
        if (!location) continue;
        std::string candidate = join(*location, "kelvo.exe");
        if (search.exists(candidate)) return candidate;
      }
    }
  }
  return std::nullopt;
}

std::optional<std::string> from_standard_folders(const KelvoSearch& search) {
  std::vector<std::string> candidates;
  for (const char* variable : kProgramFolders) {
    const auto dir = search.env(variable);
    if (dir && !dir->empty()) {
      candidates.push_back(join(join(*dir, "Kelvo"), "kelvo.exe"));
    }
  }
  if (const auto local = search.env("LOCALAPPDATA"); local && !local->empty()) {
    candidates.push_back(
        join(join(join(*local, "Programs"), "Kelvo"), "kelvo.exe"));
  }
  for (std::string& candidate : candidates) {
    if (search.exists(candidate)) return std::move(candidate);
  }
  return std::nullopt;
}

}  // namespace

std::optional<std::string> find_kelvo_with(const KelvoSearch& search) {
  if (search.registry != nullptr) {
    if (auto found = own_value(search)) return found;
    if (auto found = from_uninstall_lists(search)) return found;
  }
  return from_standard_folders(search);
}

std::optional<std::string> find_kelvo_on_path(
    std::string_view path_list,
    const std::function<bool(const std::string&)>& is_executable) {
  while (true) {
    const size_t colon = path_list.find(':');
    std::string dir(path_list.substr(0, colon));
    if (!dir.empty()) {
      std::string candidate =
          dir.back() == '/' ? dir + "kelvo" : dir + "/kelvo";
      if (is_executable(candidate)) return candidate;
    }
    if (colon == std::string_view::npos) return std::nullopt;
    path_list.remove_prefix(colon + 1);
  }
}

std::optional<std::string> find_kelvo_on_linux(
    std::string_view path_list,
    const std::function<bool(const std::string&)>& is_executable) {
  if (auto found = find_kelvo_on_path(path_list, is_executable)) return found;
  for (const char* place : kLinuxKelvoPlaces) {
    if (is_executable(place)) return place;
  }
  return std::nullopt;
}

}  // namespace orvalin
