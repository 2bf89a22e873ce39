// The action worker: runs one binding at a time against Kelvo's controls
// and speaks the outcome.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "actions/appstate.h"
#include "base/channel.h"
#include "base/result.h"
#include "config/config.h"

namespace orvalin {

// Replaces every "{deck}" with the deck number.
std::string resolve_deck(std::string_view text, uint8_t deck);

// Runs one action with the current deck; the error text is spoken by the
// worker as "Error: " + text.
Status run_action(const std::shared_ptr<AppState>& state,
                  const Action& action);

// The worker loop (thread "actions"): takes binding indexes until the queue
// closes; handles key-help mode and speaks errors.
void run_action_worker(std::shared_ptr<AppState> state,
                       std::vector<KeyAction> actions,
                       Receiver<uint64_t> queue);

}  // namespace orvalin
