// Host discovery: where an installed Kelvo's executable is. Reads the
// registry, the environment and the file system; writes and logs nothing.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace orvalin {

// The registry roots the search reads.
enum class RegistryRoot { current_user, local_machine };

// The registry as the search sees it: a seam so that the search order can be
// tested with a fake. The real one is the Windows registry; elsewhere there
// is none (every read gives nothing).
class RegistryReader {
 public:
  virtual ~RegistryReader() = default;
  // A REG_SZ value, cut at its first NUL; nullopt on any failure.
  virtual std::optional<std::string> read_string(RegistryRoot root,
                                                 const std::string& subkey,
                                                 const std::string& value) = 0;
  // Subkey names in enumeration order; nullopt when the key cannot be opened.
  virtual std::optional<std::vector<std::string>> subkeys(
      RegistryRoot root, const std::string& key) = 0;
};

// The platform's registry (empty on systems without one).
RegistryReader& system_registry();

// The search with every input given (tests).
struct KelvoSearch {
  RegistryReader* registry = nullptr;  // none: only the folders are searched
  // Environment lookup (ProgramW6432, ProgramFiles, ProgramFiles(x86),
  // LOCALAPPDATA).
  std::function<std::optional<std::string>(const std::string&)> env;
  // "Exists": the file system can report metadata for the path.
  std::function<bool(const std::string&)> exists;
};

// The Windows search: the program's own registry value, the uninstall lists,
// then the standard folders. Paths are joined with backslashes.
std::optional<std::string> find_kelvo_with(const KelvoSearch& search);

// The search on systems without a registry: the first directory of the
// colon-separated `path_list` (the value of PATH) that holds "kelvo" for
// which `is_executable` holds. Empty entries are skipped rather than taken
// as the working directory.
std::optional<std::string> find_kelvo_on_path(
    std::string_view path_list,
    const std::function<bool(const std::string&)>& is_executable);

// The Linux search: find_kelvo_on_path, then the fixed places of an
// installed Kelvo (kLinuxKelvoPlaces) for which `is_executable` holds.
inline constexpr const char* kLinuxKelvoPlaces[] = {
    "/usr/bin/kelvo", "/usr/local/bin/kelvo", "/opt/kelvo/bin/kelvo"};
std::optional<std::string> find_kelvo_on_linux(
    std::string_view path_list,
    const std::function<bool(const std::string&)>& is_executable);

// The installed Kelvo's executable, or nothing.
std::optional<std::string> find_kelvo();

}  // namespace orvalin
