// Timing: every fixed wait of a run in one value. The run makes one with the
// defaults below and hands each component the waits it needs; tests make
// their own with waits of a few milliseconds so that they do not sleep
// through the real ones. Immutable once made; any thread may read a copy.
#pragma once

#include <chrono>
#include <string_view>

#include "base/result.h"

namespace orvalin {

struct Timing {
  using ms = std::chrono::milliseconds;

  // Actions: a press holds its control at 1 this long; Kelvo needs a moment
  // before a changed control reads back its new state (a pressed control
  // with a report or a hot cue, a marker, a toggle).
  ms pulse_hold{30};
  ms report_delay{50};
  ms marker_delay{80};
  ms toggle_delay{150};
  // How long the announcer keeps quiet about a control a toggle failed to
  // switch (Kelvo may flicker it), and about play after a hot-cue jump.
  ms pending_toggle_quiet{1000};
  ms hotcue_quiet{500};
  // A press older than this when the worker takes it is not carried out: a
  // play given up on seconds ago must not start a track on air.
  ms press_max_age{2000};
  // A request that failed because the connection ended is spoken only when
  // Kelvo still runs this long after the end (closing Kelvo is quiet); the
  // lost connection itself is told after the same wait.
  ms kelvo_exit_grace{1000};

  // Beat grid: a run of tempo taps is reported once quiet this long.
  ms tap_quiet{1500};

  // Announcer: a control changing again within `settle` is announced once
  // still; waits before reading a settled hot cue, a new track's labels, and
  // a refused Auto DJ switch; one clipping report per group per
  // `clip_quiet`. Kelvo flips a refused Auto DJ switch back within a few
  // milliseconds, before the action worker has read it back and marked the
  // toggle as failed (`toggle_delay` after its set): `autodj_settle` lets
  // that mark silence the flicker.
  ms settle{300};
  ms hotcue_settle{150};
  ms track_settle{300};
  ms autodj_settle{250};
  ms clip_quiet{5000};
  // One time-warnings poll per interval.
  ms time_warning_poll{1000};
  // Watches that failed at start-up are tried again every `watch_retry`;
  // when some are still missing `watches_missing` after the ready sentence,
  // the DJ is told.
  ms watch_retry{1000};
  ms watches_missing{10000};

  // Start-up and run: the plugin's loaded signal is looked for every
  // `plugin_poll` up to `plugin_limit`; Kelvo's exit every `kelvo_watch`;
  // Kelvo's keyboard layout every `layout_check` (Windows); the settings
  // file is reloaded once quiet `reload_quiet`.
  ms plugin_poll{250};
  ms plugin_limit{30000};
  ms kelvo_watch{500};
  ms layout_check{500};
  // The key layer closes by itself when no key comes this long after its
  // key.
  ms layer_wait{4000};
  ms reload_quiet{500};

  // The bridge: connect attempts every `connect_poll`; a reply waited for
  // `reply_wait`.
  ms connect_poll{250};
  ms reply_wait{3000};

  // A spoken refusal is given at least `refusal_min` (longer sentences
  // longer: `refusal_per_14_bytes` per 14 bytes); "already running" is
  // given `already_running`.
  ms refusal_min{4000};
  ms refusal_per_14_bytes{1000};
  ms already_running{3000};

  // Speech: a speech service (speech-dispatcher) that cannot be reached even
  // by a new connection at once is tried again this long after, with the
  // sentences of the wait held.
  ms speech_retry{5000};

  // The test driver's pauses: before its first step, and after each key
  // step (long enough for the action and what it causes to be heard).
  ms driver_start{1000};
  ms driver_key{900};
};

// Applies "name=milliseconds" items separated by commas to `timing`
// ("toggle_delay=5,tap_quiet=20"); names are the fields'. On an error
// nothing is applied. For the test hook of a run only.
Status apply_timing_overrides(std::string_view text, Timing& timing);

}  // namespace orvalin
