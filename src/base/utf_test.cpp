#include "base/utf.h"

#include <gtest/gtest.h>

namespace orvalin {
namespace {

TEST(UtfTest, ValidatesUtf8) {
  EXPECT_TRUE(is_valid_utf8(""));
  EXPECT_TRUE(is_valid_utf8("plain ascii"));
  EXPECT_TRUE(is_valid_utf8("Caf\xC3\xA9 \xE2\x80\xA6 \xF0\x9F\x8E\xB5"));
  EXPECT_TRUE(is_valid_utf8("\xEF\xBF\xBD"));  // U+FFFD itself
  EXPECT_FALSE(is_valid_utf8("\xFF"));
  EXPECT_FALSE(is_valid_utf8("\xC3"));              // truncated
  EXPECT_FALSE(is_valid_utf8("\xC0\xAF"));          // overlong
  EXPECT_FALSE(is_valid_utf8("\xED\xA0\x80"));      // surrogate
  EXPECT_FALSE(is_valid_utf8("\xF4\x90\x80\x80"));  // beyond U+10FFFF
  EXPECT_FALSE(is_valid_utf8("ok\x80"));
}

TEST(UtfTest, RoundTripsAndReplacesInvalid) {
  const std::string text = "Kelvo \xE2\x80\xA6 \xF0\x9F\x8E\xB5";
  EXPECT_EQ(utf16_to_utf8(utf8_to_utf16(text)), text);
  EXPECT_EQ(utf8_to_utf16("\xF0\x9F\x8E\xB5").size(), 2u);
  EXPECT_EQ(utf8_to_utf16(std::string("a\xFF") + 'b'), u"a\uFFFDb");
  const char16_t lone[] = {u'x', 0xD800, u'y', 0};
  EXPECT_EQ(utf16_to_utf8(lone), "x\xEF\xBF\xBDy");
}

TEST(UtfTest, PathsAreUtf8) {
  const std::string name = "Ma\xC3\xAFs/kelvo";
  EXPECT_EQ(path_to_utf8(utf8_to_path(name)), name);
}

}  // namespace
}  // namespace orvalin
