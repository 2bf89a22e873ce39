#include "base/timing.h"

#include <charconv>
#include <string>

namespace orvalin {

namespace {

struct Field {
  std::string_view name;
  Timing::ms Timing::*member;
};

constexpr Field kFields[] = {
    {"pulse_hold", &Timing::pulse_hold},
    {"report_delay", &Timing::report_delay},
    {"marker_delay", &Timing::marker_delay},
    {"toggle_delay", &Timing::toggle_delay},
    {"pending_toggle_quiet", &Timing::pending_toggle_quiet},
    {"hotcue_quiet", &Timing::hotcue_quiet},
    {"press_max_age", &Timing::press_max_age},
    {"kelvo_exit_grace", &Timing::kelvo_exit_grace},
    {"tap_quiet", &Timing::tap_quiet},
    {"settle", &Timing::settle},
    {"hotcue_settle", &Timing::hotcue_settle},
    {"track_settle", &Timing::track_settle},
    {"autodj_settle", &Timing::autodj_settle},
    {"clip_quiet", &Timing::clip_quiet},
    {"time_warning_poll", &Timing::time_warning_poll},
    {"watch_retry", &Timing::watch_retry},
    {"watches_missing", &Timing::watches_missing},
    {"plugin_poll", &Timing::plugin_poll},
    {"plugin_limit", &Timing::plugin_limit},
    {"kelvo_watch", &Timing::kelvo_watch},
    {"layout_check", &Timing::layout_check},
    {"layer_wait", &Timing::layer_wait},
    {"reload_quiet", &Timing::reload_quiet},
    {"connect_poll", &Timing::connect_poll},
    {"reply_wait", &Timing::reply_wait},
    {"refusal_min", &Timing::refusal_min},
    {"refusal_per_14_bytes", &Timing::refusal_per_14_bytes},
    {"already_running", &Timing::already_running},
    {"speech_retry", &Timing::speech_retry},
    {"driver_start", &Timing::driver_start},
    {"driver_key", &Timing::driver_key},
};

}  // namespace

Status apply_timing_overrides(std::string_view text, Timing& timing) {
  Timing changed = timing;
  while (!text.empty()) {
    const size_t comma = text.find(',');
    const std::string_view item = text.substr(0, comma);
    text.remove_prefix(comma == std::string_view::npos ? text.size()
                                                       : comma + 1);
    const size_t equals = item.find('=');
    if (equals == std::string_view::npos) {
      return fail("no '=' in '" + std::string(item) + "'");
    }
    const std::string_view name = item.substr(0, equals);
    const std::string_view number = item.substr(equals + 1);
    Timing::ms::rep value = 0;
    const auto [end, error] =
        std::from_chars(number.data(), number.data() + number.size(), value);
    if (error != std::errc{} || end != number.data() + number.size() ||
        value < 0) {
      return fail("bad milliseconds in '" + std::string(item) + "'");
    }
    const Field* field = nullptr;
    for (const Field& f : kFields) {
      if (f.name == name) field = &f;
    }
    if (!field) return fail("unknown wait '" + std::string(name) + "'");
    changed.*(field->member) = Timing::ms(value);
  }
  timing = changed;
  return {};
}

}  // namespace orvalin
