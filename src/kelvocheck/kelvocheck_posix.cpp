#include <elf.h>

#include <filesystem>
#include <fstream>

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

// The RUNPATH of a 64-bit ELF file, else its RPATH (the loader ignores the
// RPATH of a file that has a RUNPATH); empty when it has neither or is no
// such file.
std::string elf_search_path(const std::string& path) {
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
  return runpath.empty() ? rpath : runpath;
}

void replace_all(std::string& text, std::string_view from,
                 const std::string& to) {
  for (size_t at = text.find(from); at != std::string::npos;
       at = text.find(from, at + to.size())) {
    text.replace(at, from.size(), to);
  }
}

}  // namespace

std::vector<std::string> library_search_dirs(const std::string& program) {
  std::vector<std::string> dirs;
  std::string paths = elf_search_path(program);
  if (!paths.empty()) {
    // $ORIGIN is the folder of the program's real file.
    std::error_code error;
    const auto real = std::filesystem::canonical(utf8_to_path(program), error);
    const std::string origin =
        path_to_utf8((error ? utf8_to_path(program) : real).parent_path());
    replace_all(paths, "${ORIGIN}", origin);
    replace_all(paths, "$ORIGIN", origin);
    size_t start = 0;
    while (start <= paths.size()) {
      const size_t colon = std::min(paths.find(':', start), paths.size());
      if (colon > start) dirs.push_back(paths.substr(start, colon - start));
      start = colon + 1;
    }
  }
  dirs.insert(dirs.end(), std::begin(kSystemLibraryDirs),
              std::end(kSystemLibraryDirs));
  return dirs;
}

// Files here carry no version resources.
std::optional<FileVersion> read_file_version(const std::string&) {
  return std::nullopt;
}

std::optional<std::string> check_qt(const std::string& kelvo_path) {
  for (const std::string& dir : library_search_dirs(kelvo_path)) {
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
  // Not found where the loader looks by itself: Kelvo may be a script that
  // sets LD_LIBRARY_PATH, or use the loader's configured folders. Nothing to
  // compare; Kelvo's own packaging is trusted to bring a Qt that fits.
  return std::nullopt;
}

}  // namespace orvalin
