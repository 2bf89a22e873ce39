#include "config/builtin.h"

namespace orvalin {

namespace {

// Written out on first run (with the kelvo_path line replaced), parsed on
// every start as the base of the bindings, and walked line by line for the
// section titles of the key list. Keep every line as it is: the key list and
// the tests depend on the section lines and their order.
constexpr std::string_view kBuiltinConfig = R"toml(# Orvalin configuration.
# This file is created on first run in %APPDATA%\Orvalin\config.toml.
# Saved changes apply at once. Where Kelvo is, its arguments and the port
# (the [general] settings below) apply at the next start of Orvalin.

[general]
# Where Kelvo is installed.
kelvo_path = 'C:\Program Files\Kelvo\kelvo.exe'
# Extra command line arguments for Kelvo.
kelvo_args = []
# Local TCP port used between Orvalin and its Kelvo plugin.
port = 52764
# The Orvalin layer key: press it, hear "Orvalin", then press any Orvalin key
# without Control Alt (2 for ctrl+alt+2, shift+l for ctrl+alt+shift+l, f12
# for ctrl+alt+f12). For keys that type a character on your keyboard (AltGr)
# or that the system keeps. "" turns the layer off.
layer_key = "ctrl+alt+shift+home"
# The language Orvalin speaks: "auto" is the language of Windows (on Linux,
# of LC_ALL, LC_MESSAGES or LANG); or one of en, de, es, fr, pt_BR, zh_CN.
language = "auto"

[speech]
# Which screen reader speaks: "auto" takes the first one running of NVDA,
# JAWS, ZDSR and System Access, and the Windows voice when none runs;
# "nvda", "jaws", "zdsr" or "system_access" uses only that one (the Windows
# voice while it is not running); "sapi" always the Windows voice.
screen_reader = "auto"
# Show every spoken message on the braille display too, through the same
# screen reader: true or false.
braille = true

# ---------------------------------------------------------------------------
# Key bindings. They are active only while a Kelvo window is in the
# foreground, so they don't interfere with other programs.
# Avoid ctrl+alt+arrow keys: NVDA uses them for table navigation.
#
# key:     modifiers + key, e.g. "ctrl+alt+p", "ctrl+alt+shift+f1".
#          Modifiers: ctrl, alt, shift, win.
#          Keys: a-z, 0-9, f1-f24, up, down, left, right, space, enter, tab,
#                home, end, pageup, pagedown, insert, delete, escape,
#                comma, period, minus, plus.
# action:  select_deck  deck = N             make deck N the current deck
#          toggle       control              flip a 0/1 control
#          press        control              momentary button (1 then 0)
#          set          control, value       set a control value
#          adjust       control, step        move a knob/slider by step (0..1 scale)
#          say          what                 status | track | time | tempo | grid_offset |
#                                            selected_track | hotcues | effects
#          say_control  control              speak a control value
#          beatgrid_clicks                   hear the beat grid as clicks (on/off)
#          beatgrid_move  step               move the grid by step x 5 ms (+ later, - earlier)
#          beatgrid_tap                      tap tempo; the result is spoken
#          marker       control, report      press a marker control, say its position (report)
#          preview                           preview the selected library track / stop
#          stop_samplers                     stop all samplers
#          stop_speech / toggle_announce / dump_widgets / key_help
# group:   Kelvo control group. Default "[Channel{deck}]"; {deck} is replaced
#          by the current deck number. Use e.g. "[Master]" for mixer controls.
# label:   spoken name for adjust/say_control results.
# format:  percent | offset | balance | onoff | time | bpm | bpm_precise | key | number
# report / report_format / report_label: after a press, speak this control.
# confirm: after a press, speak this text.
# repeat:  true/false, repeat while the key is held (default: only adjusting keys).
#
# Control names: see the list of controls in Kelvo's documentation.
#
# Orvalin always starts from its built-in keys (listed below as they
# were when this file was created) and then applies this file: a binding
# here replaces the built-in one with the same key, new keys are added, and
# action = "none" switches a built-in key off. Keys added in later versions
# of Orvalin therefore work without changing this file.
# ---------------------------------------------------------------------------

[[keys]]
key = "ctrl+alt+1"
action = "select_deck"
deck = 1

[[keys]]
key = "ctrl+alt+2"
action = "select_deck"
deck = 2

[[keys]]
key = "ctrl+alt+3"
action = "select_deck"
deck = 3

[[keys]]
key = "ctrl+alt+4"
action = "select_deck"
deck = 4

# --- Transport -------------------------------------------------------------

[[keys]]
key = "ctrl+alt+p"
action = "toggle"
control = "play"

[[keys]]
key = "ctrl+alt+c"
action = "press"
control = "cue_default"

[[keys]]
key = "ctrl+alt+s"
action = "toggle"
control = "sync_enabled"

[[keys]]
key = "ctrl+alt+k"
action = "toggle"
control = "keylock"

[[keys]]
key = "ctrl+alt+h"
action = "toggle"
control = "pfl"

[[keys]]
key = "ctrl+alt+o"
action = "press"
control = "LoadSelectedTrack"

[[keys]]
key = "ctrl+alt+e"
action = "press"
control = "eject"

[[keys]]
key = "ctrl+alt+comma"
action = "press"
control = "beatjump_backward"

[[keys]]
key = "ctrl+alt+period"
action = "press"
control = "beatjump_forward"

# --- Loops -----------------------------------------------------------------

[[keys]]
key = "ctrl+alt+l"
action = "press"
control = "beatloop_activate"

[[keys]]
key = "ctrl+alt+shift+l"
action = "press"
control = "reloop_toggle"

[[keys]]
key = "ctrl+alt+shift+period"
action = "press"
control = "loop_double"
report = "beatloop_size"
report_label = "loop"
report_format = "number"

[[keys]]
key = "ctrl+alt+shift+comma"
action = "press"
control = "loop_halve"
report = "beatloop_size"
report_label = "loop"
report_format = "number"

# --- Hotcues ---------------------------------------------------------------

[[keys]]
key = "ctrl+alt+f1"
action = "press"
control = "hotcue_1_activate"

[[keys]]
key = "ctrl+alt+f2"
action = "press"
control = "hotcue_2_activate"

[[keys]]
key = "ctrl+alt+f3"
action = "press"
control = "hotcue_3_activate"

[[keys]]
key = "ctrl+alt+f4"
action = "press"
control = "hotcue_4_activate"

[[keys]]
key = "ctrl+alt+shift+f1"
action = "press"
control = "hotcue_1_clear"

[[keys]]
key = "ctrl+alt+shift+f2"
action = "press"
control = "hotcue_2_clear"

[[keys]]
key = "ctrl+alt+shift+f3"
action = "press"
control = "hotcue_3_clear"

[[keys]]
key = "ctrl+alt+shift+f4"
action = "press"
control = "hotcue_4_clear"

# --- Mixer -----------------------------------------------------------------

[[keys]]
key = "ctrl+alt+pageup"
action = "adjust"
control = "volume"
step = 0.05
label = "volume"

[[keys]]
key = "ctrl+alt+pagedown"
action = "adjust"
control = "volume"
step = -0.05
label = "volume"

[[keys]]
key = "ctrl+alt+shift+pageup"
action = "adjust"
control = "pregain"
step = 0.05
label = "gain"
format = "offset"

[[keys]]
key = "ctrl+alt+shift+pagedown"
action = "adjust"
control = "pregain"
step = -0.05
label = "gain"
format = "offset"

[[keys]]
key = "ctrl+alt+r"
action = "press"
control = "rate_perm_up_small"
report = "visual_bpm"
report_label = "tempo"
report_format = "bpm"

[[keys]]
key = "ctrl+alt+shift+r"
action = "press"
control = "rate_perm_down_small"
report = "visual_bpm"
report_label = "tempo"
report_format = "bpm"

[[keys]]
key = "ctrl+alt+m"
action = "adjust"
group = "[Master]"
control = "crossfader"
step = 0.05
label = "crossfader"
format = "balance"

[[keys]]
key = "ctrl+alt+shift+m"
action = "adjust"
group = "[Master]"
control = "crossfader"
step = -0.05
label = "crossfader"
format = "balance"

[[keys]]
key = "ctrl+alt+f"
action = "adjust"
group = "[QuickEffectRack1_[Channel{deck}]]"
control = "super1"
step = 0.05
label = "filter"
format = "offset"

[[keys]]
key = "ctrl+alt+shift+f"
action = "adjust"
group = "[QuickEffectRack1_[Channel{deck}]]"
control = "super1"
step = -0.05
label = "filter"
format = "offset"

[[keys]]
key = "ctrl+alt+z"
action = "adjust"
group = "[EqualizerRack1_[Channel{deck}]_Effect1]"
control = "parameter1"
step = 0.05
label = "low"
format = "offset"

[[keys]]
key = "ctrl+alt+shift+z"
action = "adjust"
group = "[EqualizerRack1_[Channel{deck}]_Effect1]"
control = "parameter1"
step = -0.05
label = "low"
format = "offset"

[[keys]]
key = "ctrl+alt+x"
action = "adjust"
group = "[EqualizerRack1_[Channel{deck}]_Effect1]"
control = "parameter2"
step = 0.05
label = "mid"
format = "offset"

[[keys]]
key = "ctrl+alt+shift+x"
action = "adjust"
group = "[EqualizerRack1_[Channel{deck}]_Effect1]"
control = "parameter2"
step = -0.05
label = "mid"
format = "offset"

[[keys]]
key = "ctrl+alt+v"
action = "adjust"
group = "[EqualizerRack1_[Channel{deck}]_Effect1]"
control = "parameter3"
step = 0.05
label = "high"
format = "offset"

[[keys]]
key = "ctrl+alt+shift+v"
action = "adjust"
group = "[EqualizerRack1_[Channel{deck}]_Effect1]"
control = "parameter3"
step = -0.05
label = "high"
format = "offset"

# --- Beat grid ---------------------------------------------------------------
# Turn on grid clicks, play the track and listen: the clicks are the grid.
# Clicks early or late everywhere: move the grid. Clicks drifting away over
# time: change the grid tempo. Then lock the grid.

[[keys]]
key = "ctrl+alt+g"
action = "beatgrid_clicks"

[[keys]]
key = "ctrl+alt+w"
action = "beatgrid_move"
step = 1

[[keys]]
key = "ctrl+alt+shift+w"
action = "beatgrid_move"
step = -1

[[keys]]
key = "ctrl+alt+j"
action = "press"
control = "beats_adjust_faster"
repeat = true
report = "file_bpm"
report_label = "grid tempo"
report_format = "bpm_precise"

[[keys]]
key = "ctrl+alt+shift+j"
action = "press"
control = "beats_adjust_slower"
repeat = true
report = "file_bpm"
report_label = "grid tempo"
report_format = "bpm_precise"

[[keys]]
key = "ctrl+alt+shift+g"
action = "press"
control = "beats_translate_curpos"
confirm = "beat set here"

[[keys]]
key = "ctrl+alt+9"
action = "press"
control = "beats_set_halve"
report = "file_bpm"
report_label = "halved,"
report_format = "bpm_precise"

[[keys]]
key = "ctrl+alt+0"
action = "press"
control = "beats_set_double"
report = "file_bpm"
report_label = "doubled,"
report_format = "bpm_precise"

[[keys]]
key = "ctrl+alt+shift+b"
action = "beatgrid_tap"

[[keys]]
key = "ctrl+alt+shift+t"
action = "say"
what = "grid_offset"

[[keys]]
key = "ctrl+alt+u"
action = "press"
control = "beats_undo_adjustment"
report = "file_bpm"
report_label = "grid change undone, grid tempo"
report_format = "bpm_precise"

[[keys]]
key = "ctrl+alt+shift+k"
action = "toggle"
control = "bpmlock"

# --- Library -------------------------------------------------------------------
# Select tracks with Kelvo's own library keys (arrows in the track list).

[[keys]]
key = "ctrl+alt+shift+1"
action = "press"
group = "[Channel1]"
control = "LoadSelectedTrack"
label = "load the selected track to deck 1"

[[keys]]
key = "ctrl+alt+shift+2"
action = "press"
group = "[Channel2]"
control = "LoadSelectedTrack"
label = "load the selected track to deck 2"

[[keys]]
key = "ctrl+alt+shift+3"
action = "press"
group = "[Channel3]"
control = "LoadSelectedTrack"
label = "load the selected track to deck 3"

[[keys]]
key = "ctrl+alt+shift+4"
action = "press"
group = "[Channel4]"
control = "LoadSelectedTrack"
label = "load the selected track to deck 4"

[[keys]]
key = "ctrl+alt+shift+i"
action = "say"
what = "selected_track"

[[keys]]
key = "ctrl+alt+shift+o"
action = "preview"

[[keys]]
key = "ctrl+alt+f11"
action = "set"
group = "[Library]"
control = "focused_widget"
value = 1
label = "go to the library search"

[[keys]]
key = "ctrl+alt+shift+f11"
action = "set"
group = "[Library]"
control = "focused_widget"
value = 3
label = "go to the library track list"

# --- Auto DJ -------------------------------------------------------------------

[[keys]]
key = "ctrl+alt+shift+a"
action = "toggle"
group = "[AutoDJ]"
control = "enabled"
label = "Auto DJ"

[[keys]]
key = "ctrl+alt+f10"
action = "press"
group = "[AutoDJ]"
control = "fade_now"
confirm = "fading"

[[keys]]
key = "ctrl+alt+shift+f10"
action = "press"
group = "[AutoDJ]"
control = "skip_next"
confirm = "next track skipped"

[[keys]]
key = "ctrl+alt+shift+q"
action = "press"
group = "[Library]"
control = "AutoDjAddBottom"
confirm = "added to the Auto DJ queue"

# --- Hotcues 5 to 8 and markers ------------------------------------------------

[[keys]]
key = "ctrl+alt+f5"
action = "press"
control = "hotcue_5_activate"

[[keys]]
key = "ctrl+alt+f6"
action = "press"
control = "hotcue_6_activate"

[[keys]]
key = "ctrl+alt+f7"
action = "press"
control = "hotcue_7_activate"

[[keys]]
key = "ctrl+alt+f8"
action = "press"
control = "hotcue_8_activate"

[[keys]]
key = "ctrl+alt+shift+f5"
action = "press"
control = "hotcue_5_clear"

[[keys]]
key = "ctrl+alt+shift+f6"
action = "press"
control = "hotcue_6_clear"

[[keys]]
key = "ctrl+alt+shift+f7"
action = "press"
control = "hotcue_7_clear"

[[keys]]
key = "ctrl+alt+shift+f8"
action = "press"
control = "hotcue_8_clear"

[[keys]]
key = "ctrl+alt+f9"
action = "say"
what = "hotcues"

[[keys]]
key = "ctrl+alt+5"
action = "marker"
control = "loop_in"
report = "loop_start_position"
label = "loop in"

[[keys]]
key = "ctrl+alt+6"
action = "marker"
control = "loop_out"
report = "loop_end_position"
label = "loop out"

[[keys]]
key = "ctrl+alt+7"
action = "marker"
control = "intro_start_activate"
report = "intro_start_position"
label = "intro start"

[[keys]]
key = "ctrl+alt+8"
action = "marker"
control = "outro_end_activate"
report = "outro_end_position"
label = "outro end"

# --- Key and tempo -------------------------------------------------------------

[[keys]]
key = "ctrl+alt+plus"
action = "press"
control = "pitch_up"
report = "visual_key"
report_label = "key"
report_format = "key"

[[keys]]
key = "ctrl+alt+minus"
action = "press"
control = "pitch_down"
report = "visual_key"
report_label = "key"
report_format = "key"

[[keys]]
key = "ctrl+alt+shift+minus"
action = "press"
control = "reset_key"
report = "visual_key"
report_label = "key reset,"
report_format = "key"

[[keys]]
key = "ctrl+alt+shift+plus"
action = "press"
control = "sync_key"
report = "visual_key"
report_label = "key matched,"
report_format = "key"

[[keys]]
key = "ctrl+alt+shift+0"
action = "press"
control = "rate_set_zero"
report = "visual_bpm"
report_label = "tempo reset,"
report_format = "bpm"

# --- Samplers ------------------------------------------------------------------

[[keys]]
key = "ctrl+alt+shift+5"
action = "press"
group = "[Sampler1]"
control = "cue_gotoandplay"

[[keys]]
key = "ctrl+alt+shift+6"
action = "press"
group = "[Sampler2]"
control = "cue_gotoandplay"

[[keys]]
key = "ctrl+alt+shift+7"
action = "press"
group = "[Sampler3]"
control = "cue_gotoandplay"

[[keys]]
key = "ctrl+alt+shift+8"
action = "press"
group = "[Sampler4]"
control = "cue_gotoandplay"

[[keys]]
key = "ctrl+alt+shift+9"
action = "stop_samplers"

# --- Recording, live broadcast, microphone -------------------------------------

[[keys]]
key = "ctrl+alt+shift+c"
action = "press"
group = "[Recording]"
control = "toggle_recording"
label = "recording on or off"

[[keys]]
key = "ctrl+alt+shift+e"
action = "toggle"
group = "[Shoutcast]"
control = "enabled"
label = "live broadcast"

[[keys]]
key = "ctrl+alt+shift+s"
action = "toggle"
group = "[Microphone]"
control = "talkover"
label = "microphone"

# --- Effects -------------------------------------------------------------------
# Choose effects in Kelvo's window: Ctrl+Tab to the effects area, then Tab.

[[keys]]
key = "ctrl+alt+enter"
action = "toggle"
group = "[EffectRack1_EffectUnit1]"
control = "group_[Channel{deck}]_enable"
label = "effect unit 1"

[[keys]]
key = "ctrl+alt+shift+enter"
action = "toggle"
group = "[EffectRack1_EffectUnit2]"
control = "group_[Channel{deck}]_enable"
label = "effect unit 2"

[[keys]]
key = "ctrl+alt+shift+f9"
action = "say"
what = "effects"

# --- Information -----------------------------------------------------------

[[keys]]
key = "ctrl+alt+space"
action = "say"
what = "status"

[[keys]]
key = "ctrl+alt+i"
action = "say"
what = "track"

[[keys]]
key = "ctrl+alt+t"
action = "say"
what = "time"

[[keys]]
key = "ctrl+alt+b"
action = "say"
what = "tempo"

[[keys]]
key = "ctrl+alt+shift+space"
action = "say_control"
group = "[Master]"
control = "crossfader"
label = "crossfader"
format = "balance"

# --- Orvalin -------------------------------------------------------------

[[keys]]
key = "ctrl+alt+q"
action = "stop_speech"

[[keys]]
key = "ctrl+alt+a"
action = "toggle_announce"

[[keys]]
key = "ctrl+alt+d"
action = "dump_widgets"

[[keys]]
key = "ctrl+alt+f12"
action = "key_help"
)toml";

}  // namespace

std::string_view builtin_config_text() { return kBuiltinConfig; }

}  // namespace orvalin
