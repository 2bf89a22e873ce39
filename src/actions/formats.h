// The nine value formats that turn a control's number into a short spoken
// phrase. Pure functions; any thread.
#pragma once

#include <string>

#include "config/config.h"

namespace orvalin {

std::string format_value(ValueFormat format, double value);

// The "time" format: "2:05".
std::string format_time(double seconds);

// Whether the format reads the control's "parameter" (percent, offset,
// balance) rather than its "value".
bool format_reads_parameter(ValueFormat format);

// Shortest round-trip decimal without exponent and without a trailing ".0"
// (50.0 -> "50", 0.125 -> "0.125").
std::string plain_decimal(double value);

// Round half away from zero; saturating conversions (NaN gives 0).
int64_t saturating_int64(double value);
uint64_t saturating_uint64(double value);

}  // namespace orvalin
