#include <elf.h>
#include <gmock/gmock.h>
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
  // The system's folder holds an older Qt.
  const fs::path system = root / "system";
  fs::create_directories(system);
  std::ofstream(system / "libQt6Core.so.6.4.2") << "qt";
  fs::create_symlink("libQt6Core.so.6.4.2", system / "libQt6Core.so.6");
  const LoaderPaths paths{"/env:", {system.string()}};
  EXPECT_EQ(library_search_dirs(kelvo, paths),
            (std::vector<std::string>{"/env", (root / "lib").string(), "/none",
                                      system.string()}));
  EXPECT_EQ(library_search_dirs(kelvo, {std::nullopt, {"/s"}}),
            (std::vector<std::string>{(root / "lib").string(), "/none", "/s"}));
  EXPECT_THAT(loader_paths().system_dirs,
              testing::Contains("/usr/lib/x86_64-linux-gnu"));

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
    std::ofstream(lib / (*c.real_file ? c.real_file : "libQt6Core.so.6"))
        << "qt";
    if (*c.real_file) fs::create_symlink(c.real_file, lib / "libQt6Core.so.6");
    const std::string refused =
        testtext::refusal("Kelvo unknown version", c.uses.value_or(""));
    EXPECT_EQ(check_qt_in(kelvo, paths),
              c.uses ? std::optional(refused) : std::nullopt)
        << c.real_file;
  }
  // Not in its own folders: the system's Qt is the one it loads.
  fs::remove_all(lib);
  EXPECT_EQ(check_qt_in(kelvo, paths),
            testtext::refusal("Kelvo unknown version", "Qt 6.4.2"));
  EXPECT_EQ(check_qt_in(kelvo, {std::nullopt, {}}), std::nullopt);
  EXPECT_EQ(read_file_version("/bin/sh"), std::nullopt);

  // A launcher script: only the folders its LD_LIBRARY_PATH names count,
  // never the system's; without them the check is not done.
  const std::string script = (root / "kelvo.sh").string();
  const fs::path bundled = root / "bundled";
  fs::create_directories(bundled);
  std::ofstream(bundled / "libQt6Core.so.6.8.0") << "qt";
  fs::create_symlink("libQt6Core.so.6.8.0", bundled / "libQt6Core.so.6");
  for (const std::string& assignment :
       {"export LD_LIBRARY_PATH=\"" + bundled.string() + ":$LD_LIBRARY_PATH\"",
        std::string("cd \"$(dirname \"$0\")\""),
        std::string("LD_LIBRARY_PATH=/none")}) {
    std::ofstream(script) << "#!/bin/sh\n"
                          << assignment << "\nexec ./kelvo \"$@\"\n";
    testing::internal::CaptureStdout();
    EXPECT_EQ(check_qt_in(script, paths), std::nullopt) << assignment;
    const std::string logged = testing::internal::GetCapturedStdout();
    EXPECT_EQ(logged.contains(
                  "Kelvo is started through a script; Qt version not checked"),
              !assignment.contains("/bundled"))
        << assignment << logged;
  }
  testing::internal::CaptureStdout();
  EXPECT_EQ(check_qt_in((root / "missing").string(), paths), std::nullopt);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
  std::ofstream(script) << "#!/bin/sh\nLD_LIBRARY_PATH=" << system.string()
                        << " ./kelvo\n";
  EXPECT_EQ(check_qt_in(script, paths),
            testtext::refusal("Kelvo unknown version", "Qt 6.4.2"));
  fs::remove_all(root);
}

}  // namespace
}  // namespace orvalin
