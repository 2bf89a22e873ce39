#include <elf.h>
#include <glob.h>

#include <filesystem>
#include <fstream>

#include "applog/applog.h"
#include "base/os.h"
#include "base/utf.h"
#include "kelvocheck/kelvocheck.h"

namespace orvalin {

namespace {

// Where Debian's dynamic loader looks after a program's own paths.
constexpr const char* kSystemLibraryDirs[] = {"/lib/x86_64-linux-gnu",
                                              "/usr/lib/x86_64-linux-gnu",
                                              "/lib64",
                                              "/usr/lib64",
                                              "/lib",
                                              "/usr/lib"};

constexpr char kQtCore[] = "libQt6Core.so.6";

template <typename T>
bool read_at(std::ifstream& file, uint64_t offset, T* value) {
  file.seekg(static_cast<std::streamoff>(offset));
  return static_cast<bool>(
      file.read(reinterpret_cast<char*>(value), sizeof(T)));
}

bool is_elf(const std::string& path) {
  std::ifstream file(utf8_to_path(path), std::ios::binary);
  char magic[SELFMAG] = {};
  return file.read(magic, SELFMAG) &&
         std::string_view(magic, SELFMAG) == std::string_view(ELFMAG, SELFMAG);
}

// A 64-bit ELF file's own search paths; both empty when it has none or is
// no such file.
struct ElfPaths {
  std::string rpath;
  std::string runpath;
};

ElfPaths elf_search_paths(const std::string& path) {
  std::ifstream file(utf8_to_path(path), std::ios::binary);
  Elf64_Ehdr header;
  if (!read_at(file, 0, &header) ||
      std::string_view(reinterpret_cast<const char*>(header.e_ident), 4) !=
          ELFMAG ||
      header.e_ident[EI_CLASS] != ELFCLASS64 ||
      header.e_shentsize != sizeof(Elf64_Shdr)) {
    return {};
  }
  std::string runpath;
  std::string rpath;
  for (unsigned i = 0; i < header.e_shnum; ++i) {
    Elf64_Shdr dynamic;
    if (!read_at(file, header.e_shoff + i * sizeof(Elf64_Shdr), &dynamic)) {
      return {};
    }
    if (dynamic.sh_type != SHT_DYNAMIC) continue;
    Elf64_Shdr strings;
    if (!read_at(file, header.e_shoff + dynamic.sh_link * sizeof(Elf64_Shdr),
                 &strings)) {
      return {};
    }
    for (uint64_t at = 0; at + sizeof(Elf64_Dyn) <= dynamic.sh_size;
         at += sizeof(Elf64_Dyn)) {
      Elf64_Dyn entry;
      if (!read_at(file, dynamic.sh_offset + at, &entry)) return {};
      if (entry.d_tag == DT_NULL) break;
      if (entry.d_tag != DT_RUNPATH && entry.d_tag != DT_RPATH) continue;
      if (entry.d_un.d_val >= strings.sh_size) continue;
      file.seekg(
          static_cast<std::streamoff>(strings.sh_offset + entry.d_un.d_val));
      std::string text;
      std::getline(file, text, '\0');
      (entry.d_tag == DT_RUNPATH ? runpath : rpath) = text;
    }
    break;
  }
  // The loader ignores the RPATH of a file that has a RUNPATH.
  if (!runpath.empty()) rpath.clear();
  return {rpath, runpath};
}

void replace_all(std::string& text, std::string_view from,
                 const std::string& to) {
  for (size_t at = text.find(from); at != std::string::npos;
       at = text.find(from, at + to.size())) {
    text.replace(at, from.size(), to);
  }
}

void append_list(std::vector<std::string>& dirs, std::string_view list) {
  size_t start = 0;
  while (start <= list.size()) {
    const size_t colon = std::min(list.find(':', start), list.size());
    if (colon > start) dirs.emplace_back(list.substr(start, colon - start));
    start = colon + 1;
  }
}

// The folders of an ld.so.conf file and of the files it includes.
void read_ld_so_conf(const std::filesystem::path& file,
                     std::vector<std::string>& dirs, int depth) {
  std::ifstream in(file);
  for (std::string line; depth < 8 && std::getline(in, line);) {
    line = line.substr(0, line.find('#'));
    const size_t start = line.find_first_not_of(" \t");
    if (start == std::string::npos) continue;
    line = line.substr(start, line.find_last_not_of(" \t\r") + 1 - start);
    if (!line.starts_with("include ")) {
      if (line.starts_with('/')) dirs.push_back(line);
      continue;
    }
    std::string pattern = line.substr(8);
    pattern = pattern.substr(pattern.find_first_not_of(" \t"));
    if (!pattern.starts_with('/')) {
      pattern = path_to_utf8(file.parent_path() / pattern);
    }
    glob_t found{};
    if (glob(pattern.c_str(), 0, nullptr, &found) == 0) {
      for (size_t i = 0; i < found.gl_pathc; ++i) {
        read_ld_so_conf(found.gl_pathv[i], dirs, depth + 1);
      }
    }
    globfree(&found);
  }
}

const char kNotChecked[] =
    "Kelvo is started through a script; Qt version not checked";

}  // namespace

LoaderPaths loader_paths() {
  LoaderPaths paths;
  paths.ld_library_path = get_env("LD_LIBRARY_PATH");
  read_ld_so_conf("/etc/ld.so.conf", paths.system_dirs, 0);
  paths.system_dirs.insert(paths.system_dirs.end(),
                           std::begin(kSystemLibraryDirs),
                           std::end(kSystemLibraryDirs));
  return paths;
}

std::vector<std::string> library_search_dirs(const std::string& program,
                                             const LoaderPaths& paths) {
  std::vector<std::string> dirs;
  ElfPaths own = elf_search_paths(program);
  // $ORIGIN is the folder of the program's real file.
  std::error_code error;
  const auto real = std::filesystem::canonical(utf8_to_path(program), error);
  const std::string origin =
      path_to_utf8((error ? utf8_to_path(program) : real).parent_path());
  for (std::string* list : {&own.rpath, &own.runpath}) {
    replace_all(*list, "${ORIGIN}", origin);
    replace_all(*list, "$ORIGIN", origin);
  }
  append_list(dirs, own.rpath);
  if (paths.ld_library_path) append_list(dirs, *paths.ld_library_path);
  append_list(dirs, own.runpath);
  dirs.insert(dirs.end(), paths.system_dirs.begin(), paths.system_dirs.end());
  return dirs;
}

// Files here carry no version resources.
std::optional<FileVersion> read_file_version(const std::string&) {
  return std::nullopt;
}

std::optional<std::string> check_qt(const std::string& kelvo_path) {
  return check_qt_in(kelvo_path, loader_paths());
}

std::optional<std::string> check_qt_in(const std::string& kelvo_path,
                                       const LoaderPaths& paths) {
  // A Kelvo that cannot be read cannot be started either: the launch says
  // why.
  if (!std::ifstream(utf8_to_path(kelvo_path))) return std::nullopt;
  const bool script = !is_elf(kelvo_path);
  std::vector<std::string> dirs;
  if (script) {
    // A launcher script's own folders are all that can be known of where
    // its program finds Qt; the first 64 KiB hold its assignments.
    std::ifstream in(utf8_to_path(kelvo_path), std::ios::binary);
    std::string text(64 * 1024, '\0');
    in.read(text.data(), static_cast<std::streamsize>(text.size()));
    text.resize(static_cast<size_t>(in.gcount()));
    const auto own = script_library_path(text, paths.ld_library_path);
    if (own) append_list(dirs, *own);
  } else {
    dirs = library_search_dirs(kelvo_path, paths);
  }
  for (const std::string& dir : dirs) {
    const std::filesystem::path library = utf8_to_path(dir) / kQtCore;
    if (!path_exists(library)) continue;
    // The soname is a link to the real file, whose name has the version.
    std::error_code error;
    const auto real = std::filesystem::canonical(library, error);
    const auto version =
        error ? std::nullopt
              : version_from_library_name(path_to_utf8(real.filename()));
    return qt_refusal(kelvo_version_line(kelvo_path), version);
  }
  // Nothing to compare: Kelvo's own packaging is trusted to bring a Qt that
  // fits (a script's program may have its own search path).
  if (script) log(kNotChecked);
  return std::nullopt;
}

}  // namespace orvalin
