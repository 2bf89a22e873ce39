#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "kelvocheck/kelvocheck.h"
#include "kelvocheck/refusal_test.h"

namespace orvalin {
namespace {

// Folders of Qt6Core.dll test libraries with real version resources, built
// by tests/CMakeLists.txt: "fits" (6.5.0, beside a "kelvo.exe" of version
// 2.5.0.123), "old" (6.4.3), "plain" (no version resource), "empty" (none).
#ifdef ORVALIN_QT_TEST_DLLS
const std::string kDlls = ORVALIN_QT_TEST_DLLS;
#else
const std::string kDlls;
#endif

using testtext::refusal;

TEST(KelvoCheckWindows, ReadsRealVersionResources) {
  if (kDlls.empty()) GTEST_SKIP() << "test libraries not built";
  const auto qt = read_file_version(kDlls + "/fits/Qt6Core.dll");
  ASSERT_TRUE(qt.has_value());
  EXPECT_EQ(qt->major, 6);
  EXPECT_EQ(qt->minor, 5);
  EXPECT_EQ(qt->build, 0);
  EXPECT_EQ(read_file_version(kDlls + "/plain/Qt6Core.dll"), std::nullopt);
  EXPECT_EQ(read_file_version(kDlls + "/empty/Qt6Core.dll"), std::nullopt);
  // The fourth number is dropped.
  EXPECT_EQ(kelvo_version_line(kDlls + "/fits/kelvo.exe"), "Kelvo 2.5.0");
}

TEST(KelvoCheckWindows, ChecksQtBesideKelvo) {
  if (kDlls.empty()) GTEST_SKIP() << "test libraries not built";
  EXPECT_EQ(check_qt(kDlls + "/fits/kelvo.exe"), std::nullopt);
  EXPECT_EQ(check_qt(kDlls + "/old/kelvo.exe"),
            refusal("Kelvo unknown version", "Qt 6.4.3"));
  EXPECT_EQ(check_qt(kDlls + "/plain/kelvo.exe"),
            refusal("Kelvo unknown version", "Qt unknown version"));
  EXPECT_EQ(check_qt(kDlls + "/empty/kelvo.exe"),
            refusal("Kelvo unknown version", "a different Qt version"));
  // Backslashes as a user would write them.
  std::string windows_path = kDlls + "/old/kelvo.exe";
  std::ranges::replace(windows_path, '/', '\\');
  EXPECT_EQ(check_qt(windows_path),
            refusal("Kelvo unknown version", "Qt 6.4.3"));
  EXPECT_EQ(check_qt("kelvo.exe"), std::nullopt);
}

}  // namespace
}  // namespace orvalin
