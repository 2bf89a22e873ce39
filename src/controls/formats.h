// The nine value formats that turn a control's number into a short spoken
// phrase. Pure functions; any thread.
#pragma once

#include <cstdint>
#include <string>

#include "config/config.h"

namespace orvalin {

// The phrase for one number ("50%", "left 20%", "C major, 8B", "2:05"). Every
// input, NaN and infinities too, gives some text.
std::string format_value(ValueFormat format, double value);

// The "time" format: whole seconds (rounded, negative counted as 0) as
// minutes, ":" and two digits of seconds: "2:05", "60:00".
std::string format_time(double seconds);

// Whether the format reads the control's "parameter" (percent, offset,
// balance) rather than its "value".
bool format_reads_parameter(ValueFormat format);

// Shortest round-trip decimal without exponent and without a trailing ".0"
// (50.0 -> "50", 0.125 -> "0.125"). Negative zero is written "0"; NaN
// "nan", infinities "inf" and "-inf".
std::string plain_decimal(double value);

// "on" for a non-zero value, else "off".
std::string on_off(double value);

// Rounds half away from zero and clamps to lo..hi; NaN gives lo.
double round_clamped(double value, double lo, double hi);

// Conversions by truncation towards zero that saturate: NaN gives 0, values
// beyond the range give the nearest limit. Round first (std::round rounds
// half away from zero) where rounding is wanted.
int64_t saturating_int64(double value);
uint64_t saturating_uint64(double value);

}  // namespace orvalin
