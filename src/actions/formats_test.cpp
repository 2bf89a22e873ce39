#include "controls/formats.h"

#include <gtest/gtest.h>

#include <limits>
#include <tuple>

#include "base/language.h"

namespace orvalin {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

// Percent rounds half away from zero and does not clamp; time rounds before
// splitting and never wraps into hours; BPM keeps one decimal even for large
// tempos; numbers round to thousandths. None of them says "-0". Time
// saturates at the largest unsigned 64-bit number of seconds.
TEST(FormatsTest, EachFormatRoundsItsOwnWay) {
  using Case = std::pair<double, const char*>;
  const auto check = [](ValueFormat format, const auto& cases) {
    for (const auto& [value, text] : cases) {
      EXPECT_EQ(format_value(format, value), text)
          << value_format_name(format) << " " << value;
    }
  };
  const Case percent[] = {
      {1.0, "100%"},  {0.5, "50%"},   {0.005, "1%"}, {-0.005, "-1%"},
      {0.0049, "0%"}, {-0.004, "0%"}, {1.5, "150%"}, {kNaN, "nan%"},
  };
  const Case onoff[] = {
      {0.0, "off"}, {-0.0, "off"}, {0.5, "on"}, {-1.0, "on"}, {kNaN, "on"},
  };
  const Case time[] = {
      {125.4, "2:05"},   {59.6, "1:00"},      {59.5, "1:00"}, {59.49, "0:59"},
      {0.0, "0:00"},     {-5.0, "0:00"},      {-0.6, "0:00"}, {kNaN, "0:00"},
      {3600.0, "60:00"}, {36125.0, "602:05"},
  };
  const Case bpm[] = {
      {128.0, "128 BPM"},  {127.96, "128 BPM"}, {127.94, "127.9 BPM"},
      {127.95, "128 BPM"}, {87.25, "87.3 BPM"}, {0.0, "0 BPM"},
      {-0.01, "0 BPM"},
  };
  const Case bpm_precise[] = {
      {128.0, "128.00 BPM"},   {127.5, "127.50 BPM"}, {127.456, "127.46 BPM"},
      {127.999, "128.00 BPM"}, {-0.001, "0.00 BPM"},
  };
  const Case number[] = {
      {0.0005, "0.001"},  {2.9996, "3"},  {-2.9996, "-3"},
      {4.0, "4"},         {-2.0, "-2"},   {0.125, "0.125"},
      {1.0 / 3, "0.333"}, {1.5, "1.5"},   {-1.0 / 3, "-0.333"},
      {0.1 + 0.2, "0.3"}, {-0.0004, "0"}, {0.0004, "0"},
      {kNaN, "nan"},      {kInf, "inf"},  {-kInf, "-inf"},
  };
  // Large values: no wrap into hours, no exponent, no extra decimal.
  const std::tuple<ValueFormat, double, const char*> large[] = {
      {ValueFormat::time, kInf, "307445734561825860:15"},
      {ValueFormat::time, 1e30, "307445734561825860:15"},
      {ValueFormat::bpm, -40117008466309.516, "-40117008466309.5 BPM"},
      {ValueFormat::bpm, 4399054716927.901, "4399054716927.9 BPM"},
      {ValueFormat::number, 9007199254740993.0, "9007199254740992"},
      {ValueFormat::number, 40117008466309.5, "40117008466309.5"},
      {ValueFormat::number, 1e20, "100000000000000000000"},
      {ValueFormat::number, -1e20, "-100000000000000000000"},
      {ValueFormat::number, 1e22, "10000000000000000000000"},
  };
  for (const auto& [format, value, text] : large) {
    EXPECT_EQ(format_value(format, value), text) << value;
  }
  check(ValueFormat::percent, percent);
  check(ValueFormat::onoff, onoff);
  check(ValueFormat::time, time);
  check(ValueFormat::bpm, bpm);
  check(ValueFormat::bpm_precise, bpm_precise);
  check(ValueFormat::number, number);
}

TEST(FormatsTest, OffsetAndBalanceAroundTheCentre) {
  struct Case {
    double value;
    const char* offset;
    const char* balance;
  };
  const Case cases[] = {
      {0.5, "center", "center"},    {0.498, "center", "center"},
      {0.502, "center", "center"},  {0.497, "-1%", "left 1%"},
      {0.503, "+1%", "right 1%"},   {0.75, "+50%", "right 50%"},
      {0.25, "-50%", "left 50%"},   {0.0, "-100%", "left 100%"},
      {1.0, "+100%", "right 100%"}, {1.5, "+200%", "right 200%"},
      {0.3, "-40%", "left 40%"},    {0.7, "+40%", "right 40%"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(format_value(ValueFormat::offset, c.value), c.offset) << c.value;
    EXPECT_EQ(format_value(ValueFormat::balance, c.value), c.balance)
        << c.value;
  }
}

TEST(FormatsTest, EveryKeyAndWhatIsNoKey) {
  const char* const names[] = {
      "C major, 8B",        "D flat major, 3B",   "D major, 10B",
      "E flat major, 5B",   "E major, 12B",       "F major, 7B",
      "F sharp major, 2B",  "G major, 9B",        "A flat major, 4B",
      "A major, 11B",       "B flat major, 6B",   "B major, 1B",
      "C minor, 5A",        "C sharp minor, 12A", "D minor, 7A",
      "E flat minor, 2A",   "E minor, 9A",        "F minor, 4A",
      "F sharp minor, 11A", "G minor, 6A",        "G sharp minor, 1A",
      "A minor, 8A",        "B flat minor, 3A",   "B minor, 10A",
  };
  for (int n = 1; n <= 24; ++n) {
    EXPECT_EQ(format_value(ValueFormat::key, n), names[n - 1]) << n;
  }
  EXPECT_EQ(format_value(ValueFormat::key, 12.4), "B major, 1B");
  EXPECT_EQ(format_value(ValueFormat::key, 0.5), "C major, 8B");
  EXPECT_EQ(format_value(ValueFormat::key, 24.4), "B minor, 10A");
  for (double none :
       {0.0, 0.4, 24.6, 25.0, -1.0, -12.0, kNaN, kInf, -kInf, 1e300}) {
    EXPECT_EQ(format_value(ValueFormat::key, none), "no key") << none;
  }
}

TEST(FormatsTest, PlainDecimalIsShortestRoundTripWithoutExponent) {
  EXPECT_EQ(plain_decimal(50.0), "50");
  EXPECT_EQ(plain_decimal(0.125), "0.125");
  EXPECT_EQ(plain_decimal(-2.5), "-2.5");
  EXPECT_EQ(plain_decimal(-0.0), "0");
  EXPECT_EQ(plain_decimal(1e-7), "0.0000001");
  EXPECT_EQ(plain_decimal(1e21), "1000000000000000000000");
  EXPECT_EQ(plain_decimal(0.1 + 0.2), "0.30000000000000004");
  EXPECT_EQ(plain_decimal(127.9), "127.9");
  EXPECT_EQ(plain_decimal(std::numeric_limits<double>::denorm_min()),
            "0." + std::string(323, '0') + "5");
  EXPECT_EQ(plain_decimal(-std::numeric_limits<double>::max()).size(), 310u);
}

TEST(FormatsTest, SaturatingConversionsTruncate) {
  EXPECT_EQ(saturating_int64(2.9), 2);
  EXPECT_EQ(saturating_int64(-2.9), -2);
  EXPECT_EQ(saturating_int64(kNaN), 0);
  EXPECT_EQ(saturating_int64(1e19), std::numeric_limits<int64_t>::max());
  EXPECT_EQ(saturating_int64(kInf), std::numeric_limits<int64_t>::max());
  EXPECT_EQ(saturating_int64(-1e19), std::numeric_limits<int64_t>::min());
  EXPECT_EQ(saturating_int64(-9223372036854775808.0),
            std::numeric_limits<int64_t>::min());
  EXPECT_EQ(saturating_int64(9223372036854774784.0), 9223372036854774784);

  EXPECT_EQ(saturating_uint64(2.9), 2u);
  EXPECT_EQ(saturating_uint64(-0.5), 0u);
  EXPECT_EQ(saturating_uint64(-kInf), 0u);
  EXPECT_EQ(saturating_uint64(kNaN), 0u);
  EXPECT_EQ(saturating_uint64(1e20), std::numeric_limits<uint64_t>::max());
  EXPECT_EQ(saturating_uint64(18446744073709549568.0), 18446744073709549568u);
}

// In German a decimal comma; musical keys keep their letters and Camelot
// codes and translate the words; times stay m:ss. Chinese keeps the point.
TEST(FormatsTest, ValuesInTheLanguageInUse) {
  struct English {
    ~English() { set_language(kEnglish); }
  } english;
  set_language("de");
  EXPECT_EQ(format_value(ValueFormat::bpm, 130.14), "130,1 BPM");
  EXPECT_EQ(format_value(ValueFormat::bpm_precise, 128), "128,00 BPM");
  EXPECT_EQ(format_value(ValueFormat::number, 0.25), "0,25");
  EXPECT_EQ(format_value(ValueFormat::key, 15), "D-Moll, 7A");
  EXPECT_EQ(format_value(ValueFormat::time, 75), "1:15");
  set_language("zh_CN");
  EXPECT_EQ(format_value(ValueFormat::bpm, 130.14), "130.1 BPM");
  EXPECT_EQ(format_value(ValueFormat::time, 75), "1:15");
}

}  // namespace
}  // namespace orvalin
