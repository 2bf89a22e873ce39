// The screen readers' interfaces on Windows, each loaded on the speech thread
// (after its COM set-up) and used there only. A null result leaves the reader
// out for the rest of the run. Included only by *_win.cpp files.
#pragma once

#include <filesystem>
#include <memory>
#include <vector>

#include "speech/engines.h"

namespace orvalin {

// NVDA's controller client: the first candidate that exists and loads, when
// it has all four entry points (a library that loads without them ends the
// search).
std::unique_ptr<Reader> load_nvda(
    const std::vector<std::filesystem::path>& candidates);

// ZDSR's ZDSRAPI_x64.dll at `path`, when it loads, has its four speech entry
// points and InitTTS succeeds.
std::unique_ptr<Reader> load_zdsr(const std::filesystem::path& path);

// System Access's SAAPI64.dll at `path`, when it loads with its four entry
// points.
std::unique_ptr<Reader> load_system_access(const std::filesystem::path& path);

// JAWS's COM object "FreedomSci.JawsApi", when the class is registered. The
// object itself is made once JAWS runs.
std::unique_ptr<Reader> open_jaws();

}  // namespace orvalin
