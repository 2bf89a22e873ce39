#include "applog/applog.h"

#include <gtest/gtest.h>

namespace orvalin {
namespace {

TEST(ApplogTest, StampIsRightAlignedWithThreeDecimals) {
  EXPECT_EQ(format_log_line(0, "Orvalin"), "[   0.000] Orvalin\n");
  EXPECT_EQ(format_log_line(1.2346, "x"), "[   1.235] x\n");
  EXPECT_EQ(format_log_line(9999.9994, "x"), "[9999.999] x\n");
  // From 10000 s on the stamp is wider than 8 characters and kept whole.
  EXPECT_EQ(format_log_line(10000, "x"), "[10000.000] x\n");
  // A clock that went backwards counts as zero.
  EXPECT_EQ(format_log_line(-3, "x"), "[   0.000] x\n");
  // Messages are written unchanged, line breaks included.
  EXPECT_EQ(format_log_line(2, "a\nb \xC3\xA9"), "[   2.000] a\nb \xC3\xA9\n");
}

}  // namespace
}  // namespace orvalin
