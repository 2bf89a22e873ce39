#include <elf.h>
#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstring>
#include <filesystem>
#include <fstream>

#include "kelvocheck/kelvocheck.h"
#include "kelvocheck/refusal_test.h"

namespace orvalin {
namespace {

namespace fs = std::filesystem;

// The smallest ELF file the loader's search reads: a dynamic section with a
// RUNPATH and its string table.
std::string fake_elf(const std::string& runpath) {
  const std::string strings = std::string(1, '\0') + runpath + '\0';
  const Elf64_Dyn dynamic[2] = {{DT_RUNPATH, {1}}, {DT_NULL, {0}}};
  Elf64_Ehdr header{};
  std::memcpy(header.e_ident, ELFMAG, SELFMAG);
  header.e_ident[EI_CLASS] = ELFCLASS64;
  header.e_ident[EI_DATA] = ELFDATA2LSB;
  header.e_shentsize = sizeof(Elf64_Shdr);
  header.e_shnum = 3;
  header.e_shoff = sizeof header + strings.size() + sizeof dynamic;
  Elf64_Shdr sections[3]{};
  sections[1].sh_type = SHT_STRTAB;
  sections[1].sh_offset = sizeof header;
  sections[1].sh_size = strings.size();
  sections[2].sh_type = SHT_DYNAMIC;
  sections[2].sh_offset = sizeof header + strings.size();
  sections[2].sh_size = sizeof dynamic;
  sections[2].sh_link = 1;
  std::string file(reinterpret_cast<const char*>(&header), sizeof header);
  file += strings;
  file.append(reinterpret_cast<const char*>(dynamic), sizeof dynamic);
  file.append(reinterpret_cast<const char*>(sections), sizeof sections);
  return file;
}

// Kelvo's Qt is the libQt6Core.so.6 of its RUNPATH ($ORIGIN/lib here), and
// its version is in the name of the file that name links to.
TEST(KelvoCheckPosix, ReadsTheVersionOfTheQtKelvoLoads) {
  char pattern[] = "/tmp/orvalin-qt-XXXXXX";
  ASSERT_NE(mkdtemp(pattern), nullptr);
  const fs::path root = pattern;
  const std::string kelvo = (root / "kelvo").string();
  std::ofstream(kelvo, std::ios::binary) << fake_elf("$ORIGIN/lib:/none");
  const auto dirs = library_search_dirs(kelvo);
  ASSERT_GE(dirs.size(), 3u);
  EXPECT_EQ(dirs[0], (root / "lib").string());
  EXPECT_EQ(dirs[1], "/none");
  EXPECT_EQ(dirs[2], "/lib/x86_64-linux-gnu");
  EXPECT_EQ(library_search_dirs("/bin/sh")[0], "/lib/x86_64-linux-gnu");

  const fs::path lib = root / "lib";
  struct Case {
    const char* real_file;  // what libQt6Core.so.6 links to; "" none
    std::optional<std::string> uses;
  };
  for (const Case& c : {Case{"libQt6Core.so.6.5.2", std::nullopt},
                        Case{"libQt6Core.so.6.4.3", "Qt 6.4.3"},
                        Case{"libQt6Core.so.6.12", "Qt unknown version"},
                        Case{"", "Qt unknown version"}}) {
    fs::remove_all(lib);
    fs::create_directories(lib);
    if (*c.real_file) {
      std::ofstream(lib / c.real_file) << "qt";
      fs::create_symlink(c.real_file, lib / "libQt6Core.so.6");
    } else {
      std::ofstream(lib / "libQt6Core.so.6") << "qt";
    }
    const std::string refused =
        testtext::refusal("Kelvo unknown version", c.uses.value_or(""));
    EXPECT_EQ(check_qt(kelvo), c.uses ? std::optional(refused) : std::nullopt)
        << c.real_file;
  }
  // No Qt where the loader looks by itself: nothing to compare.
  fs::remove_all(lib);
  EXPECT_EQ(check_qt(kelvo), std::nullopt);
  EXPECT_EQ(read_file_version("/bin/sh"), std::nullopt);
  fs::remove_all(root);
}

}  // namespace
}  // namespace orvalin
