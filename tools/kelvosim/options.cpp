#include "options.h"

#include <charconv>
#include <cmath>

namespace kelvosim {

using orvalin::fail;
using orvalin::Result;

namespace {

Result<int> parse_int(const std::string& option, const std::string& text,
                      int min, int max) {
  int value = 0;
  const auto [end, error] =
      std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size() || value < min ||
      value > max) {
    return fail(option + ": expected a whole number from " +
                std::to_string(min) + " to " + std::to_string(max) + ", got '" +
                text + "'");
  }
  return value;
}

Result<double> parse_double(const std::string& option,
                            const std::string& text) {
  double value = 0;
  const auto [end, error] =
      std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size() ||
      !std::isfinite(value)) {
    return fail(option + ": expected a number, got '" + text + "'");
  }
  return value;
}

// "[Group],key=value"; the group may itself hold commas and brackets
// ("[QuickEffectRack1_[Channel1]]"), so the key starts after the last "],".
Result<InitialValue> parse_set(const std::string& text) {
  const auto equals = text.rfind('=');
  const auto comma = text.rfind("],", equals);
  if (equals == std::string::npos || comma == std::string::npos ||
      text.front() != '[') {
    return fail("--set: expected \"[Group],key=value\", got '" + text + "'");
  }
  InitialValue value;
  value.group = text.substr(0, comma + 1);
  value.key = text.substr(comma + 2, equals - comma - 2);
  if (value.key.empty()) return fail("--set: missing key in '" + text + "'");
  auto number = parse_double("--set", text.substr(equals + 1));
  if (!number) return fail(number.error());
  value.value = *number;
  return value;
}

// "2=5" (deck 2), "Sampler1=3", "PreviewDeck1=4" or "[Channel1]=2".
Result<InitialLoad> parse_load(const std::string& text) {
  const auto equals = text.find('=');
  if (equals == std::string::npos || equals == 0) {
    return fail("--load: expected DECK=ROW, got '" + text + "'");
  }
  std::string player = text.substr(0, equals);
  if (player.find_first_not_of("0123456789") == std::string::npos) {
    player = "[Channel" + player + "]";
  } else if (player.front() != '[') {
    player = "[" + player + "]";
  }
  auto row = parse_int("--load", text.substr(equals + 1), 1, 1000000);
  if (!row) return fail(row.error());
  return InitialLoad{player, *row};
}

// "4,2=org.kelvo.effects.echo".
Result<InitialEffect> parse_effect(const std::string& text) {
  const auto comma = text.find(',');
  const auto equals = text.find('=');
  if (comma == std::string::npos || equals == std::string::npos ||
      comma > equals) {
    return fail("--effect: expected UNIT,SLOT=EFFECT_ID, got '" + text + "'");
  }
  auto unit = parse_int("--effect", text.substr(0, comma), 1, 4);
  if (!unit) return fail(unit.error());
  auto slot =
      parse_int("--effect", text.substr(comma + 1, equals - comma - 1), 1, 4);
  if (!slot) return fail(slot.error());
  return InitialEffect{*unit, *slot, text.substr(equals + 1)};
}

}  // namespace

Result<Options> parse_options(const std::vector<std::string>& args) {
  Options options;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& name = args[i];
    // Fetches the option's argument.
    auto value = [&]() -> Result<std::string> {
      if (i + 1 >= args.size()) return fail(name + ": missing value");
      return args[++i];
    };
    auto int_value = [&](int min, int max) -> Result<int> {
      auto text = value();
      if (!text) return fail(text.error());
      return parse_int(name, *text, min, max);
    };
#define KELVOSIM_TRY(target, expression) \
  {                                      \
    auto got = (expression);             \
    if (!got) return fail(got.error());  \
    target = *got;                       \
  }
    if (name == "--help" || name == "-h") {
      options.help = true;
    } else if (name == "--port") {
      KELVOSIM_TRY(options.port, int_value(0, 65535));
    } else if (name == "--port-file") {
      KELVOSIM_TRY(options.port_file, value());
    } else if (name == "--token") {
      KELVOSIM_TRY(options.token, value());
    } else if (name == "--force-plugin") {
      options.force_plugin = true;
    } else if (name == "--trace") {
      KELVOSIM_TRY(options.trace, value());
    } else if (name == "--clock-speed") {
      auto text = value();
      if (!text) return fail(text.error());
      KELVOSIM_TRY(options.model.clock_speed, parse_double(name, *text));
      if (options.model.clock_speed <= 0) {
        return fail("--clock-speed: must be above 0");
      }
    } else if (name == "--reply-delay-ms") {
      // "N", or "MIN-MAX" for a random delay per request.
      std::string text;
      KELVOSIM_TRY(text, value());
      const auto dash = text.find('-');
      KELVOSIM_TRY(options.faults.reply_delay_ms,
                   parse_int(name, text.substr(0, dash), 0, 3600000));
      if (dash != std::string::npos) {
        KELVOSIM_TRY(options.faults.reply_delay_max_ms,
                     parse_int(name, text.substr(dash + 1),
                               options.faults.reply_delay_ms, 3600000));
      }
    } else if (name == "--drop-reply") {
      std::string command;
      KELVOSIM_TRY(command, value());
      options.faults.drop_reply.insert(command);
    } else if (name == "--no-value" || name == "--ignore-set") {
      std::string key;
      KELVOSIM_TRY(key, value());
      (name == "--no-value" ? options.faults.no_value
                            : options.faults.ignore_set)
          .insert(key);
    } else if (name == "--late-set" || name == "--stall-after") {
      // "KEY=MS".
      std::string text;
      KELVOSIM_TRY(text, value());
      const auto equals = text.find('=');
      if (equals == std::string::npos || equals == 0) {
        return fail(name + ": expected KEY=MS, got '" + text + "'");
      }
      int ms = 0;
      KELVOSIM_TRY(ms, parse_int(name, text.substr(equals + 1), 0, 3600000));
      (name == "--late-set"
           ? options.faults.late_set
           : options.faults.stall_after)[text.substr(0, equals)] = ms;
    } else if (name == "--no-events") {
      std::string group;
      KELVOSIM_TRY(group, value());
      options.faults.no_events.insert(group);
    } else if (name == "--events-as") {
      // "GROUP=OTHER".
      std::string text;
      KELVOSIM_TRY(text, value());
      const auto equals = text.find('=');
      if (equals == std::string::npos || equals == 0) {
        return fail("--events-as: expected GROUP=OTHER, got '" + text + "'");
      }
      options.faults.events_as[text.substr(0, equals)] =
          text.substr(equals + 1);
    } else if (name == "--one-channel-positions") {
      options.faults.one_channel_positions = true;
    } else if (name == "--no-recording-starting") {
      options.model.recording_starting = false;
    } else if (name == "--wrong-scale") {
      options.faults.wrong_scale = true;
    } else if (name == "--watch-fails-ms") {
      KELVOSIM_TRY(options.faults.watch_fails_ms, int_value(0, 3600000));
    } else if (name == "--junk") {
      options.faults.junk = true;
    } else if (name == "--close-after") {
      KELVOSIM_TRY(options.faults.close_after, int_value(0, 1000000000));
    } else if (name == "--exit-after") {
      auto text = value();
      if (!text) return fail(text.error());
      KELVOSIM_TRY(options.exit_after_seconds, parse_double(name, *text));
    } else if (name == "--no-signal") {
      options.no_signal = true;
    } else if (name == "--listen-when-free") {
      options.listen_when_free = true;
    } else if (name == "--refuse-hello") {
      options.faults.refuse_hello = true;
    } else if (name == "--set") {
      auto text = value();
      if (!text) return fail(text.error());
      InitialValue initial;
      KELVOSIM_TRY(initial, parse_set(*text));
      options.model.values.push_back(initial);
    } else if (name == "--load") {
      auto text = value();
      if (!text) return fail(text.error());
      InitialLoad load;
      KELVOSIM_TRY(load, parse_load(*text));
      options.model.loads.push_back(load);
    } else if (name == "--select") {
      KELVOSIM_TRY(options.model.select, int_value(1, 1000000));
    } else if (name == "--decks") {
      KELVOSIM_TRY(options.model.decks, int_value(0, 4));
    } else if (name == "--samplers") {
      KELVOSIM_TRY(options.model.samplers, int_value(0, 64));
    } else if (name == "--effect") {
      auto text = value();
      if (!text) return fail(text.error());
      InitialEffect effect;
      KELVOSIM_TRY(effect, parse_effect(*text));
      options.model.effects.push_back(effect);
    } else if (name == "--autodj-queue") {
      KELVOSIM_TRY(options.model.autodj_queue, int_value(0, 1000));
    } else if (name == "--no-mic-input") {
      options.model.mic_input = false;
    } else if (name == "--autodj-flicker-at-once") {
      options.model.autodj_flicker_at_once = true;
    } else if (name == "--labels-after-ms") {
      KELVOSIM_TRY(options.model.labels_after_ms, int_value(0, 3600000));
    } else if (name == "--hotcue-settle-ms") {
      KELVOSIM_TRY(options.model.hotcue_settle_ms, int_value(0, 3600000));
    } else if (name == "--no-metronome") {
      options.model.metronome = false;
    } else if (name == "--grow-decks-after-ms") {
      KELVOSIM_TRY(options.model.grow_decks_after_ms, int_value(0, 3600000));
    } else if (name == "--clip-deck") {
      int deck = 0;
      KELVOSIM_TRY(deck, int_value(1, 4));
      options.model.clip_decks.push_back(deck);
    } else {
      return fail("unknown option '" + name + "' (see --help)");
    }
#undef KELVOSIM_TRY
  }
  return options;
}

const char* usage_text() {
  return R"(kelvosim: plays Kelvo with the Orvalin plugin loaded, for tests.

Starts like Kelvo: it loads the plugin only when QT_QPA_GENERIC_PLUGINS is
"orvalin" and the first entry of QT_PLUGIN_PATH holds generic/orvalin.dll
(Linux: generic/liborvalin.so), or with --force-plugin. With the plugin it
raises the loaded signal and serves the JSON-lines protocol on 127.0.0.1.

Connection and start:
  --port N                 port (default ORVALIN_PORT, else 52764; 0 = any)
  --port-file F            write the bound port to F (atomically, by rename)
  --token T                the hello token (default ORVALIN_TOKEN)
  --force-plugin           behave as loaded whatever the Qt variables say
  --trace F                append every request received to F, one JSON line
  --listen-when-free       raise the loaded signal first, then listen as soon
                           as the port is free (another program holds it)
  --no-signal              never raise the loaded signal
  --exit-after SECONDS     exit by itself after SECONDS

Faults:
  --reply-delay-ms N       delay every reply by N ms, one request at a time
  --reply-delay-ms A-B     delay each reply by its own random A..B ms while
                           later requests are read and answered (replies
                           then come out of order)
  --drop-reply CMD         never answer command CMD (repeatable)
  --no-value KEY           answer a get of control KEY without its "value"
                           (repeatable)
  --ignore-set KEY         a set of control KEY changes nothing and is
                           answered with the unchanged value (repeatable)
  --late-set KEY=MS        a set of control KEY takes effect at once, but
                           its reply comes MS late; later requests are
                           answered meanwhile (repeatable)
  --stall-after KEY=MS     the release (a set to 0) of control KEY holds
                           every later request MS ms, as stall does
                           (repeatable)
  --no-events GROUP        changes of GROUP's controls send no event
                           (repeatable)
  --events-as GROUP=OTHER  events of a watch that named GROUP go out named
                           OTHER ("[Main]=[Master]")
  --one-channel-positions  marker and hot-cue positions count the samples of
                           one channel, not both
  --no-recording-starting  a recording that starts goes from status 0 to 2
                           without 1
  --wrong-scale            a get of a parameter answers the control's value
                           (its own scale) instead; sets are right
  --watch-fails-ms N       every watch fails ("not ready") for N ms after
                           the hello
  --junk                   send junk lines between replies (not JSON, an
                           array, an object followed by text, an empty line,
                           CR LF line ends)
  --close-after N          close the connection after answering N requests
  --refuse-hello           refuse every hello

Faults set off by the client, with a set of a "[Kelvosim]" control whose
value is the fault's size (answered at once, before the fault):
  stall S                  hold every later request S seconds from now, then
                           answer them all late, in order
  burst N                  N changes of [Channel1] play: 1, 0, 1, ...
  flap N                   [Channel1] track_loaded 0 then 1, N times
  long_line M              one change line of M bytes (padded with spaces)
  nested_line D            one line of D nested JSON arrays
  clip S                   [Main] peak_indicator changes 1, 0, 1, ... every
                           100 ms for S seconds, ending at 0
  close 1                  close the connection (Kelvo keeps running)

Model:
  --clock-speed X          run the clock X times faster than real time
  --set "[Group],key=V"    initial control value (repeatable)
  --load DECK=ROW          library row loaded at start; DECK is a deck number
                           or a player such as Sampler1 (repeatable)
  --select ROW             selected library row (default 1)
  --decks N                decks at start (0..4, default 4)
  --samplers N             samplers (default 4)
  --grow-decks-after-ms N  the deck count becomes 4 after N ms
  --effect U,S=ID          effect ID preloaded in unit U, slot S (repeatable)
  --no-metronome           the metronome effect is not available
  --autodj-queue N         tracks in the Auto DJ queue at start
  --autodj-flicker-at-once a refused Auto DJ switch reports its flicker as
                           it happens, not after the refusal message
  --labels-after-ms N      a loaded deck's labels fill in N ms after the load
  --hotcue-settle-ms N     a hot cue being set is reported set at once, but
                           reads as set only N ms later
  --no-mic-input           no microphone input configured
  --clip-deck N            deck N's output clips while it plays (repeatable)
  --help                   this text
)";
}

}  // namespace kelvosim
