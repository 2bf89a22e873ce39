#include "controls/formats.h"

#include <array>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <string>
#include <string_view>

#include "base/sentences.h"

namespace orvalin {

namespace {

// 2^63 and 2^64, exactly representable.
constexpr double kTwoTo63 = 9223372036854775808.0;
constexpr double kTwoTo64 = 18446744073709551616.0;

// Fits the fixed form of every double: up to 309 integer digits, or "0." and
// 323 zeros before the last digit of the smallest subnormal, plus the sign.
constexpr size_t kFixedBuffer = 400;

std::string fixed(double value, int precision) {
  char buffer[kFixedBuffer];
  const auto [end, error] = std::to_chars(buffer, buffer + sizeof buffer, value,
                                          std::chars_format::fixed, precision);
  if (error != std::errc()) return "nan";  // cannot happen, see kFixedBuffer
  return std::string(buffer, end);
}

// `value` rounded to `digits` decimals, half away from zero, as the number
// reads: the digits of its shortest round-trip form are rounded, and the
// result read back. Rounding the scaled binary value instead goes wrong in
// both directions: the scaled product is itself rounded, so at large values
// it can land on a half the number does not have (4399054716927.9 in
// thousandths became ...927.901, said with three decimals as a tempo) or,
// divided back, on a neighbour with more digits (4.01170084663095e13 came
// back as ...309.5078125, "309.51").
double round_to(double value, size_t digits) {
  if (!std::isfinite(value)) return value;
  char buffer[kFixedBuffer];
  const auto [end, error] = std::to_chars(buffer, buffer + sizeof buffer, value,
                                          std::chars_format::fixed);
  if (error != std::errc()) return value;  // cannot happen, see kFixedBuffer
  std::string text(buffer, end);
  const size_t dot = text.find('.');
  if (dot == std::string::npos || text.size() - dot - 1 <= digits) return value;
  const bool away = text[dot + 1 + digits] >= '5';
  text.resize(digits == 0 ? dot : dot + 1 + digits);
  if (away) {
    size_t at = text.size();
    bool carry = true;
    while (carry && at > 0) {
      char& c = text[--at];
      if (c == '.') continue;
      if (c < '0' || c > '9') {
        ++at;  // the sign: a new leading digit goes after it
        break;
      }
      carry = c == '9';
      c = carry ? '0' : static_cast<char>(c + 1);
    }
    if (carry) text.insert(at, 1, '1');
  }
  return std::strtod(text.c_str(), nullptr);
}

// The "number" format.
std::string format_number(double value) {
  const double y = round_to(value, 3);
  // Inf - inf is NaN: infinities count as having a fraction and are written
  // as plain decimals, like NaN.
  if (y - std::trunc(y) == 0) {
    // Whole numbers beyond 64 bits are written in full rather than cut to
    // the integer limit: speaking a different number would be wrong.
    if (std::fabs(y) >= kTwoTo63) return plain_decimal(y);
    return std::to_string(saturating_int64(y));
  }
  return plain_decimal(y);
}

// The "offset" and "balance" step: the distance from the centre in percent
// of either half.
double from_centre(double value) { return std::round((value - 0.5) * 200); }

// The Camelot wheel numbers of Kelvo's key numbers 1..12 (major) and
// 13..24 (minor); their names are kKeyNotes.
constexpr std::array<int, 24> kWheel = {8, 3,  10, 5, 12, 7,  2, 9,
                                        4, 11, 6,  1, 5,  12, 7, 2,
                                        9, 4,  11, 6, 1,  8,  3, 10};

std::string format_key(double value) {
  const int64_t n = saturating_int64(std::round(value));
  if (n < 1 || n > 24) return std::string(kNoKey);
  const auto index = static_cast<size_t>(n - 1);
  return fill(n <= 12 ? kMajorKey : kMinorKey,
              {kKeyNotes[index], std::to_string(kWheel[index])});
}

}  // namespace

std::string plain_decimal(double value) {
  if (std::isnan(value)) return "nan";
  if (value == 0) value = 0;  // "-0" would be spoken as "minus zero"
  char buffer[kFixedBuffer];
  const auto [end, error] = std::to_chars(buffer, buffer + sizeof buffer, value,
                                          std::chars_format::fixed);
  if (error != std::errc()) return "nan";  // cannot happen, see kFixedBuffer
  return std::string(buffer, end);
}

std::string on_off(double value) {
  return std::string(value != 0 ? kOn : kOff);
}

double round_clamped(double value, double lo, double hi) {
  if (std::isnan(value)) return lo;
  const double r = std::round(value);
  return r < lo ? lo : (r > hi ? hi : r);
}

int64_t saturating_int64(double value) {
  if (std::isnan(value)) return 0;
  if (value >= kTwoTo63) return std::numeric_limits<int64_t>::max();
  if (value < -kTwoTo63) return std::numeric_limits<int64_t>::min();
  return static_cast<int64_t>(value);
}

uint64_t saturating_uint64(double value) {
  if (!(value > 0)) return 0;  // also NaN
  if (value >= kTwoTo64) return std::numeric_limits<uint64_t>::max();
  return static_cast<uint64_t>(value);
}

std::string format_time(double seconds) {
  const uint64_t n = saturating_uint64(std::round(seconds > 0 ? seconds : 0));
  const uint64_t rest = n % 60;
  std::string text = std::to_string(n / 60);
  text += ':';
  text += static_cast<char>('0' + rest / 10);
  text += static_cast<char>('0' + rest % 10);
  return text;
}

bool format_reads_parameter(ValueFormat format) {
  return format == ValueFormat::percent || format == ValueFormat::offset ||
         format == ValueFormat::balance;
}

std::string format_value(ValueFormat format, double value) {
  switch (format) {
    case ValueFormat::percent:
      return fill(kPercent, {plain_decimal(std::round(value * 100))});
    case ValueFormat::offset: {
      const double r = from_centre(value);
      if (r == 0) return std::string(kCenter);
      return fill(kPercent, {(r > 0 ? "+" : "") + plain_decimal(r)});
    }
    case ValueFormat::balance: {
      const double r = from_centre(value);
      if (r == 0) return std::string(kCenter);
      if (r < 0) return fill(kLeftPercent, {plain_decimal(-r)});
      return fill(kRightPercent, {plain_decimal(r)});
    }
    case ValueFormat::onoff:
      return on_off(value);
    case ValueFormat::time:
      return format_time(value);
    case ValueFormat::bpm:
      return fill(kBpm, {localise_number(format_number(round_to(value, 1)))});
    case ValueFormat::bpm_precise: {
      std::string text = fixed(value, 2);
      // -0.004 prints as "-0.00"; there is no negative zero to speak.
      if (text == "-0.00") text.erase(0, 1);
      return fill(kBpm, {localise_number(std::move(text))});
    }
    case ValueFormat::key:
      return format_key(value);
    case ValueFormat::number:
      break;
  }
  return localise_number(format_number(value));
}

}  // namespace orvalin
