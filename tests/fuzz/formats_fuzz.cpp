// Arbitrary doubles (NaN, infinities, subnormals, negative zero) through
// every value format. The phrase never says "-0", stays short enough to
// speak, and rounds as each format documents.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "check.h"
#include "controls/formats.h"

using namespace orvalin;
using fuzz::require;

namespace {

// The longest phrase: every digit of the largest double, a sign, a suffix.
constexpr size_t kLongest = 330;

// No number in the text is a negative zero ("-0", "-0.00").
bool has_negative_zero(std::string_view text) {
  for (size_t at = text.find('-'); at != std::string_view::npos;
       at = text.find('-', at + 1)) {
    const std::string_view number = text.substr(
        at + 1, text.find_first_not_of("0123456789.", at + 1) - at - 1);
    if (number.find_first_of("0123456789") != std::string_view::npos &&
        number.find_first_of("123456789") == std::string_view::npos) {
      return true;
    }
  }
  return false;
}

size_t fraction_digits(std::string_view number) {
  const size_t dot = number.find('.');
  return dot == std::string_view::npos ? 0 : number.size() - dot - 1;
}

double number_of(std::string_view text) {
  return std::strtod(std::string(text).c_str(), nullptr);
}

// One unit in the last place of `value`, for tolerances.
double ulp(double value) {
  return std::nextafter(std::fabs(value), INFINITY) - std::fabs(value);
}

// `number` (a formatted decimal) is `value` rounded to `digits` places.
void check_rounded(std::string_view what, std::string_view number, double value,
                   size_t digits) {
  require(fraction_digits(number) <= digits, what, number);
  if (!std::isfinite(value)) return;
  const double step = std::pow(10.0, -static_cast<double>(digits));
  const double error = std::fabs(number_of(number) - value);
  require(error <= step / 2 + 4 * ulp(value) + 4 * ulp(step), what, number);
}

// `text` is `prefix`, `expected` as a whole number and "%".
void check_whole_percent(std::string_view what, std::string_view text,
                         std::string_view prefix, double expected) {
  require(text.starts_with(prefix) && text.ends_with("%"), what, text);
  const std::string_view number =
      text.substr(prefix.size(), text.size() - prefix.size() - 1);
  if (std::isnan(expected)) {
    require(number == "nan", what, number);
  } else if (std::isinf(expected)) {
    require(number == (expected > 0 ? "inf" : "-inf"), what, number);
  } else {
    require(fraction_digits(number) == 0 && number_of(number) == expected, what,
            number);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < sizeof(double)) return 0;
  double value;
  std::memcpy(&value, data, sizeof value);

  for (int f = 0; f <= static_cast<int>(ValueFormat::number); ++f) {
    const auto format = static_cast<ValueFormat>(f);
    const std::string text = format_value(format, value);
    require(!text.empty() && text.size() <= kLongest,
            "a phrase of a bounded length", text);
    require(!has_negative_zero(text), "never a negative zero", text);
  }
  const std::string plain = plain_decimal(value);
  require(!has_negative_zero(plain), "plain decimal without -0", plain);
  if (std::isfinite(value)) {
    require(number_of(plain) == value, "plain decimal round trip", plain);
  }

  // percent: whole percent, half away from zero.
  check_whole_percent("percent is rounded to a whole percent",
                      format_value(ValueFormat::percent, value), "",
                      std::round(value * 100) + 0.0);

  // offset and balance: the distance from the centre in whole percent.
  const double from_centre = std::round((value - 0.5) * 200);
  const std::string offset = format_value(ValueFormat::offset, value);
  const std::string balance = format_value(ValueFormat::balance, value);
  if (from_centre == 0) {
    require(offset == "center" && balance == "center", "the centre",
            offset + ", " + balance);
  } else {
    check_whole_percent("offset in whole percent", offset,
                        offset.starts_with("+") ? "+" : "", from_centre);
    if (!std::isnan(from_centre)) {
      check_whole_percent("balance names its side in whole percent", balance,
                          from_centre < 0 ? "left " : "right ",
                          std::fabs(from_centre));
    }
  }

  std::string text = format_value(ValueFormat::onoff, value);
  require(text == (value == 0 ? "off" : "on"), "onoff", text);

  // time: whole seconds rounded, negative and NaN as 0, "M:SS".
  text = format_value(ValueFormat::time, value);
  const size_t colon = text.find(':');
  require(colon != std::string::npos && colon > 0 && text.size() == colon + 3 &&
              text[colon + 1] >= '0' && text[colon + 1] <= '5',
          "time is minutes and two digits of seconds", text);
  const double seconds = std::round(value > 0 ? value : 0);
  if (seconds < 0x1p53) {
    const double shown = number_of(text.substr(0, colon)) * 60 +
                         number_of(text.substr(colon + 1));
    require(shown == seconds, "time is rounded to whole seconds", text);
  }

  // number, bpm and bpm_precise: three, one and two decimals.
  if (std::isfinite(value)) {
    text = format_value(ValueFormat::number, value);
    check_rounded("number has three decimals", text, value, 3);
    text = format_value(ValueFormat::bpm, value);
    require(text.ends_with(" BPM"), "bpm ends with BPM", text);
    check_rounded("bpm has one decimal",
                  std::string_view(text).substr(0, text.size() - 4), value, 1);
    text = format_value(ValueFormat::bpm_precise, value);
    require(text.ends_with(" BPM"), "bpm_precise ends with BPM", text);
    const std::string_view number =
        std::string_view(text).substr(0, text.size() - 4);
    require(fraction_digits(number) == 2, "bpm_precise has two decimals", text);
    check_rounded("bpm_precise has two decimals", number, value, 2);
  }

  // key: 1-24 after rounding, else "no key".
  text = format_value(ValueFormat::key, value);
  const double key = std::round(value);
  require((key >= 1 && key <= 24) == (text != "no key"),
          "a key number is 1 to 24 after rounding", text);
  return 0;
}
