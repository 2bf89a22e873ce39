// The entry point's work, after the platform's entry function has collected
// the arguments as UTF-8.
#pragma once

#include <chrono>
#include <string>
#include <vector>

namespace orvalin {

// `args` are the arguments after the program path; returns the exit code.
int orvalin_main(const std::vector<std::string>& args);

struct Timing;

// The sleep after a spoken refusal or error: the text's length in bytes / 14
// times `refusal_per_14_bytes` (a second), at least `refusal_min` (4 s).
std::chrono::milliseconds refusal_sleep(const std::string& spoken,
                                        const Timing& timing);

}  // namespace orvalin
