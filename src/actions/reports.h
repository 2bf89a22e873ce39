// The spoken reports of the say action. Run on the action worker.
#pragma once

#include <cstdint>

#include "base/result.h"
#include "config/config.h"
#include "controls/appstate.h"
#include "controls/names.h"

namespace orvalin {

Status say_report(AppState& state, SayWhat what, uint8_t deck);

}  // namespace orvalin
