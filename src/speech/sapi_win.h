// Details of the SAPI voice that tests check. Speech thread.
#pragma once

namespace orvalin {

// The flags for ISpVoice::Speak: asynchronous, plain text never parsed as
// markup, and with `purge` dropping what is spoken or queued first.
unsigned long sapi_speak_flags(bool purge);

}  // namespace orvalin
