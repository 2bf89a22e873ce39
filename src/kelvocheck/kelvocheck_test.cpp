#include "kelvocheck/kelvocheck.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <set>

#include "kelvocheck/refusal_test.h"

namespace orvalin {
namespace {

// Windows joins with a backslash; the fake files use slashes.
std::string slashes(std::string path) {
  std::ranges::replace(path, '\\', '/');
  return path;
}

// Files with the version resources given.
struct FakeFiles {
  std::map<std::string, FileVersion> versions;
  std::set<std::string> present;
  std::vector<std::string> read;

  QtCheckInputs inputs() {
    return {[this](const std::string& given) -> std::optional<FileVersion> {
              const std::string path = slashes(given);
              read.push_back(path);
              auto it = versions.find(path);
              if (it == versions.end()) return std::nullopt;
              return it->second;
            },
            [this](const std::string& given) {
              const std::string path = slashes(given);
              return present.contains(path) || versions.contains(path);
            }};
  }
};

using testtext::refusal;

// A small version and none are in the refusals of QtVersions.
TEST(KelvoCheck, VersionLine) {
  FakeFiles files;
  files.versions["/big/kelvo.exe"] = {65535, 10, 123};
  EXPECT_EQ(kelvo_version_line_with("/big/kelvo.exe", files.inputs()),
            "Kelvo 65535.10.123");
}

TEST(KelvoCheck, QtVersions) {
  FakeFiles files;
  files.versions["/k/kelvo.exe"] = {2, 5, 0};
  const std::pair<FileVersion, std::optional<std::string>> cases[] = {
      {{6, 5, 0}, std::nullopt}, {{6, 5, 3}, std::nullopt},
      {{6, 6, 0}, std::nullopt}, {{6, 10, 1}, std::nullopt},
      {{6, 4, 3}, "Qt 6.4.3"},   {{7, 0, 0}, "Qt 7.0.0"},
      {{5, 15, 2}, "Qt 5.15.2"}};
  for (const auto& [qt, uses] : cases) {
    SCOPED_TRACE(testing::Message() << qt.major << "." << qt.minor);
    files.versions["/k/Qt6Core.dll"] = qt;
    files.read.clear();
    EXPECT_EQ(
        check_qt_with("/k/kelvo.exe", files.inputs()),
        uses ? std::optional(refusal("Kelvo 2.5.0", *uses)) : std::nullopt);
    // Kelvo's own version is read only for a refusal.
    EXPECT_EQ(files.read.size(), uses ? 2u : 1u);
  }

  // Present without a readable version, and missing altogether.
  files.versions.erase("/k/Qt6Core.dll");
  files.present.insert("/k/Qt6Core.dll");
  EXPECT_EQ(check_qt_with("/k/kelvo.exe", files.inputs()),
            refusal("Kelvo 2.5.0", "Qt unknown version"));
  files.present.clear();
  EXPECT_EQ(check_qt_with("/k/kelvo.exe", files.inputs()),
            refusal("Kelvo 2.5.0", "a different Qt version"));
  files.versions.clear();
  EXPECT_EQ(check_qt_with("/k/kelvo.exe", files.inputs()),
            refusal("Kelvo unknown version", "a different Qt version"));
}

TEST(KelvoCheck, PathWithoutDirectorySkipsTheCheck) {
  FakeFiles files;
  EXPECT_EQ(check_qt_with("kelvo.exe", files.inputs()), std::nullopt);
  EXPECT_TRUE(files.read.empty());
}

TEST(KelvoCheck, ReadsOnlyAPlainLibraryPathOfAScript) {
  const std::optional<std::string> inherited = "/in";
  struct Case {
    const char* script;
    std::optional<std::string> path;
  };
  for (const Case& c : {
           Case{"#!/bin/sh\nexport LD_LIBRARY_PATH=/opt/k/lib:/x\n",
                "/opt/k/lib:/x"},
           Case{"  LD_LIBRARY_PATH=\"/a:${LD_LIBRARY_PATH}\"; export X\n",
                "/a:/in"},
           Case{"LD_LIBRARY_PATH='/a b' exec kelvo\n", "/a b"},
           Case{"LD_LIBRARY_PATH=/a exec kelvo\nLD_LIBRARY_PATH=/b\n", "/a"},
           Case{"LD_LIBRARY_PATH=\"$HERE/lib\"\n", std::nullopt},
           Case{"LD_LIBRARY_PATH='$LD_LIBRARY_PATH'\n", std::nullopt},
           Case{"LD_LIBRARY_PATH=lib:/a\n", std::nullopt},
           Case{"LD_LIBRARY_PATH=`pwd`/lib\n", std::nullopt},
           Case{"LD_LIBRARY_PATH=\"/a\n", std::nullopt},
           Case{"# LD_LIBRARY_PATH=/a\nexec kelvo\n", std::nullopt},
       }) {
    EXPECT_EQ(script_library_path(c.script, inherited), c.path) << c.script;
  }
  EXPECT_EQ(
      script_library_path("LD_LIBRARY_PATH=/a:$LD_LIBRARY_PATH", std::nullopt),
      "/a:");
}

}  // namespace
}  // namespace orvalin
