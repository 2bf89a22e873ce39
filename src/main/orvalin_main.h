// The entry point's work, after the platform's entry function has collected
// the arguments as UTF-8.
#pragma once

#include <string>
#include <vector>

namespace orvalin {

// `args` are the arguments after the program path; returns the exit code.
int orvalin_main(const std::vector<std::string>& args);

// The sleep after a spoken refusal or error: the text's length in bytes / 14
// whole seconds, at least 4.
int refusal_sleep_seconds(const std::string& spoken);

}  // namespace orvalin
