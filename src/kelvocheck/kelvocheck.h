// Kelvo's version line and the check that Kelvo's Qt fits the plugin.
// Stateless; any thread.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace orvalin {

struct FileVersion {
  uint16_t major = 0;
  uint16_t minor = 0;
  uint16_t build = 0;
};

// The fixed file information of a file's version resource; nullopt when the
// file has none (always on systems without version resources).
std::optional<FileVersion> read_file_version(const std::string& path);

// "Kelvo 2.5.0" or "Kelvo unknown version".
std::string kelvo_version_line(const std::string& kelvo_path);

// nullopt when Kelvo's Qt6Core.dll fits; otherwise the refusal sentence.
// Systems without version resources have nothing to check: always nullopt.
std::optional<std::string> check_qt(const std::string& kelvo_path);

// The refusal sentence for a Kelvo (its version line) whose Qt is
// `version`; nothing when that version fits.
std::optional<std::string> qt_refusal(
    const std::string& version_line, const std::optional<FileVersion>& version);

// Linux: where the dynamic loader looks besides a program's own paths:
// LD_LIBRARY_PATH (this program's own, which Kelvo inherits) and the system's
// folders (/etc/ld.so.conf's, then the usual ones).
struct LoaderPaths {
  std::optional<std::string> ld_library_path;
  std::vector<std::string> system_dirs;
};
LoaderPaths loader_paths();

// Linux: the folders where the dynamic loader looks for the libraries of the
// ELF program `program`, in order: its RPATH (when it has no RUNPATH), the
// LD_LIBRARY_PATH, its RUNPATH, with $ORIGIN put in, then the system's.
// Only the last two when the file is no 64-bit ELF program.
std::vector<std::string> library_search_dirs(const std::string& program,
                                             const LoaderPaths& paths);

// The LD_LIBRARY_PATH a launcher script sets for the program it starts: the
// value of its first assignment (exported or not) when it is plain, absolute
// folders, with $LD_LIBRARY_PATH standing for `inherited`; nothing when
// there is none or it needs the shell to work it out.
std::optional<std::string> script_library_path(
    std::string_view script, const std::optional<std::string>& inherited);

// check_qt with the loader's paths given. An ELF Kelvo's Qt is looked for
// where the loader looks; a script's only in the folders of its
// LD_LIBRARY_PATH: without one it can read, or without a Qt there, the
// check is logged as not done and passes.
std::optional<std::string> check_qt_in(const std::string& kelvo_path,
                                       const LoaderPaths& paths);

// The version in a Qt library's file name ("libQt6Core.so.6.5.2" is 6.5.2);
// nothing when the name holds none.
std::optional<FileVersion> version_from_library_name(std::string_view name);

// The check's inputs, given (tests, and check_qt on Windows).
struct QtCheckInputs {
  std::function<std::optional<FileVersion>(const std::string&)> read_version;
  // "Exists": the file system can report metadata for the path.
  std::function<bool(const std::string&)> exists;
};
std::string kelvo_version_line_with(const std::string& kelvo_path,
                                    const QtCheckInputs& inputs);
std::optional<std::string> check_qt_with(const std::string& kelvo_path,
                                         const QtCheckInputs& inputs);

}  // namespace orvalin
