#include <gtest/gtest.h>

#include "kelvocheck/kelvocheck.h"

namespace orvalin {
namespace {

// Files here carry no version resources: the version is unknown and the Qt
// check, having nothing to compare, lets Kelvo start.
TEST(KelvoCheckPosix, NoVersionResources) {
  EXPECT_EQ(read_file_version("/bin/sh"), std::nullopt);
  EXPECT_EQ(kelvo_version_line("/bin/sh"), "Kelvo unknown version");
  EXPECT_EQ(check_qt("/nowhere/kelvo"), std::nullopt);
}

}  // namespace
}  // namespace orvalin
