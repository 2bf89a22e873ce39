// The spine of a normal run: start-up, the run loop on the main thread and
// the end of the run.
#pragma once

#include <string>

#include "base/timing.h"
#include "speech/speech.h"

namespace orvalin {

struct RunOutcome {
  enum class Kind {
    finished,  // Kelvo was closed; Orvalin ended normally
    stopped,   // refused; `text` is a sentence spoken unchanged
    failed,    // an error; spoken after "Orvalin error. "
  };
  Kind kind = Kind::finished;
  std::string text;
};

// Called once, on the main thread, after speech, the lock and the log;
// every component waits as `timing` says.
RunOutcome run(Speech speech, const Timing& timing);

}  // namespace orvalin
