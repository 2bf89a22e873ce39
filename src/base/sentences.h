// The sentences Orvalin speaks that ask something of the user: at start-up,
// on a refusal, on a settings error or reload, and when Kelvo is lost or
// busy. Reports and announcements are not here. The user's guide
// (packaging/README.txt) explains each one under "What to do when Orvalin
// says ...", and its test fails on a sentence the guide does not explain: a
// new such sentence is written here, spoken from here and listed in
// kAskingSentences.
//
// "{}" stands for a part filled in when the sentence is spoken (a number, a
// path, a reason): see fill(). Constants only; any thread may use them.
#pragma once

#include <array>
#include <initializer_list>
#include <string>
#include <string_view>

namespace orvalin {

// Start-up and refusals.
inline constexpr std::string_view kAlreadyRunning =
    "Orvalin is already running.";
inline constexpr std::string_view kKelvoRunning =
    "Kelvo is running. Please close it first.";
// Comes before the text of a start that failed.
inline constexpr std::string_view kErrorOpening = "Orvalin error. ";
inline constexpr std::string_view kPluginNotFound =
    "The Kelvo plugin ({}) was not found.";
inline constexpr std::string_view kQtNotSupported =
    "{} is not supported by this version of Orvalin. It uses {}, Orvalin "
    "needs Qt {}.{} or newer within Qt {}. Please check for an Orvalin update.";
inline constexpr std::string_view kCannotStartKelvo =
    "Cannot start Kelvo at {}: {}";
inline constexpr std::string_view kClosedWhileStarting =
    "Kelvo closed while starting.";
inline constexpr std::string_view kPluginNotLoaded =
    "{} did not load the Orvalin plugin, so this Kelvo version is probably "
    "not supported. Kelvo keeps running, without Orvalin. Please check for an "
    "Orvalin update.";
inline constexpr std::string_view kCannotConnect =
    "cannot connect to the Kelvo plugin: {}";
inline constexpr std::string_view kNoAnswer = "Kelvo did not answer in time";

// The settings file, saved while Orvalin runs.
inline constexpr std::string_view kReloaded = "Settings reloaded";
inline constexpr std::string_view kReloadedKelvoLater =
    "Settings reloaded. Kelvo settings take effect at the next start.";
inline constexpr std::string_view kNotReloaded = "Settings not reloaded. {}";

// Keys.
inline constexpr std::string_view kHotkeysTakenOne =
    "{} hotkey is used by another program: {}";
inline constexpr std::string_view kHotkeysTaken =
    "{} hotkeys are used by another program: {}";
inline constexpr std::string_view kLeftToTypingOne =
    "{} Orvalin key is left to typing on this keyboard. The log names them.";
inline constexpr std::string_view kLeftToTypingMany =
    "{} Orvalin keys are left to typing on this keyboard. The log names "
    "them.";
// The same when the key layer reaches them: "{}" the count, then the layer
// key as spoken.
inline constexpr std::string_view kTypedLayerOne =
    "{} Orvalin key types a character on this keyboard; press {} first, then "
    "the key without Control Alt. The log names it.";
inline constexpr std::string_view kTypedLayerMany =
    "{} Orvalin keys type characters on this keyboard; press {} first, then "
    "the key without Control Alt. The log names them.";
inline constexpr std::string_view kBusyOne =
    "Kelvo was busy. {} key press skipped.";
inline constexpr std::string_view kBusyMany =
    "Kelvo was busy. {} key presses skipped.";
inline constexpr std::string_view kActionFailed = "Error: {}";
inline constexpr std::string_view kConnectionLost =
    "Lost the connection to Kelvo. Orvalin keys do nothing until Kelvo is "
    "started again.";
// Watches that failed at start-up are still missing a while after ready;
// the second follows once they are all in place.
inline constexpr std::string_view kAnnouncementsMissing =
    "Some announcements are not available yet";
inline constexpr std::string_view kAnnouncementsComplete =
    "Announcements complete";
// Said once at start-up, and by each key that steps a value (which then
// sends nothing), when the plugin reads parameters on a wrong scale.
inline constexpr std::string_view kWrongScale =
    "The Kelvo plugin reports values on a wrong scale; keys that step a value "
    "are off";
// A key that needs Kelvo, pressed after the connection ended.
inline constexpr std::string_view kNotConnected = "Not connected to Kelvo";

// Grid clicks that Kelvo did not switch as asked, read back; "{}" the
// deck. Reports, not asking sentences: not in kAskingSentences.
inline constexpr std::string_view kGridClicksNotOn =
    "Grid clicks could not be switched on for deck {}";
inline constexpr std::string_view kGridClicksNotOff =
    "Grid clicks could not be switched off for deck {}";

// The key layer: said when it opens, when Escape or the layer key closes it,
// and for a key that is none of Orvalin's.
inline constexpr std::string_view kLayerOpen = "Orvalin";
inline constexpr std::string_view kLayerCancelled = "Cancelled";
inline constexpr std::string_view kLayerUnbound = "Not an Orvalin key";

// The ready sentence, with the key that turns key help on: its own key, or
// the layer key and then the key without Control Alt; the first alone when
// no key reaches key help.
inline constexpr std::string_view kReady = "Orvalin ready. Deck 1 selected.";
inline constexpr std::string_view kReadyKeyHelp =
    "Orvalin ready. Deck 1 selected. {} turns key help on or off.";
inline constexpr std::string_view kReadyLayerKeyHelp =
    "Orvalin ready. Deck 1 selected. {}, then {}, turns key help on or off.";

// How a sentence is heard: `opening` (empty, or kErrorOpening for a start
// that failed) followed by `text`.
struct Heard {
  std::string_view opening;
  std::string_view text;
};

// Every sentence above as the user hears it. A failed start is heard as
// "Orvalin error. " and its reason: a settings error, or one of the texts
// after it here.
inline constexpr std::array kAskingSentences = {
    Heard{{}, kAlreadyRunning},
    Heard{{}, kKelvoRunning},
    Heard{kErrorOpening, "{}"},
    Heard{kErrorOpening, kPluginNotFound},
    Heard{{}, kQtNotSupported},
    Heard{kErrorOpening, kCannotStartKelvo},
    Heard{kErrorOpening, kClosedWhileStarting},
    Heard{{}, kPluginNotLoaded},
    Heard{kErrorOpening, kCannotConnect},
    Heard{kErrorOpening, kNoAnswer},
    Heard{{}, kReloaded},
    Heard{{}, kReloadedKelvoLater},
    Heard{{}, kNotReloaded},
    Heard{{}, kHotkeysTakenOne},
    Heard{{}, kHotkeysTaken},
    Heard{{}, kLeftToTypingOne},
    Heard{{}, kLeftToTypingMany},
    Heard{{}, kTypedLayerOne},
    Heard{{}, kTypedLayerMany},
    Heard{{}, kBusyOne},
    Heard{{}, kBusyMany},
    Heard{{}, kActionFailed},
    Heard{{}, kConnectionLost},
    Heard{{}, kAnnouncementsMissing},
    Heard{{}, kAnnouncementsComplete},
    Heard{{}, kWrongScale},
    Heard{{}, kNotConnected},
};

// `sentence` with each "{}" replaced by the next of `parts`, in order; a
// "{}" without a part stays as it is.
inline std::string fill(std::string_view sentence,
                        std::initializer_list<std::string_view> parts) {
  std::string out;
  auto part = parts.begin();
  for (;;) {
    const size_t gap = sentence.find("{}");
    if (gap == std::string_view::npos || part == parts.end()) break;
    out.append(sentence.substr(0, gap)).append(*part++);
    sentence.remove_prefix(gap + 2);
  }
  out.append(sentence);
  return out;
}

}  // namespace orvalin
