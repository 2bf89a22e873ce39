// Everything Orvalin speaks, in one table: every sentence, every part of a
// sentence and every reason of an error that can reach the user's ear is
// defined here, once, and spoken from here. Code elsewhere passes only these
// constants and data (Kelvo's control names and track fields, the key names
// and the key descriptions of the key list) to speech; a source scan
// (scripts/spoken_text.py, run by ctest) fails on a text written elsewhere.
//
// Each entry is one whole unit for a translator: "{}" stands for a part
// filled in when it is spoken (a number, a path, a name, a reason, or
// another entry of this table), see fill(); a count comes as a pair, the
// entry for one and the entry for more.
//
// An entry that asks something of the user or tells of a problem is an
// `Asks`. The user's guide (packaging/README.txt, and for the Linux-only
// ones packaging/linux/README.Linux.txt) explains each of them under "What
// to do when Orvalin says ...", and its test walks kAskingSentences, which
// the scan keeps equal to the Asks entries. Constants only; any thread may
// use them.
#pragma once

#include <array>
#include <initializer_list>
#include <string>
#include <string_view>

namespace orvalin {

// An entry that asks something of the user or tells of a problem. Used
// wherever a std::string_view is.
struct Asks {
  std::string_view text;
  constexpr operator std::string_view() const { return text; }
  friend constexpr bool operator==(Asks a, std::string_view b) {
    return a.text == b;
  }
};

// Start-up and refusals.
inline constexpr Asks kAlreadyRunning{"Orvalin is already running."};
inline constexpr Asks kKelvoRunning{"Kelvo is running. Please close it first."};
inline constexpr std::string_view kWelcome =
    "Welcome to Orvalin. Your settings file was created.";
inline constexpr std::string_view kStartingKelvo = "Starting Kelvo";
// Comes before the reason of a start that failed: one of the Asks entries
// marked "after kErrorOpening" below, or a mistake in the settings file.
inline constexpr std::string_view kErrorOpening = "Orvalin error. ";
// After kErrorOpening.
inline constexpr Asks kPluginNotFound{"The Kelvo plugin ({}) was not found."};
// "{}" Kelvo's version line (kKelvoVersion), what its Qt is (kUsesQt...),
// then the Qt versions Orvalin needs.
inline constexpr Asks kQtNotSupported{
    "{} is not supported by this version of Orvalin. It uses {}, Orvalin "
    "needs Qt {}.{} or newer within Qt {}. Please check for an Orvalin "
    "update."};
inline constexpr std::string_view kKelvoVersion = "Kelvo {}";
inline constexpr std::string_view kKelvoUnknownVersion =
    "Kelvo unknown version";
inline constexpr std::string_view kUsesQt = "Qt {}";
inline constexpr std::string_view kUsesQtUnknown = "Qt unknown version";
inline constexpr std::string_view kUsesOtherQt = "a different Qt version";
// After kErrorOpening: the path, then the system's reason.
inline constexpr Asks kCannotStartKelvo{"Cannot start Kelvo at {}: {}"};
// After kErrorOpening.
inline constexpr Asks kClosedWhileStarting{"Kelvo closed while starting."};
inline constexpr Asks kPluginNotLoaded{
    "{} did not load the Orvalin plugin, so this Kelvo version is probably "
    "not supported. Kelvo keeps running, without Orvalin. Please check for an "
    "Orvalin update."};
// After kErrorOpening: a connection that could not be made, or one that
// Kelvo did not answer on.
inline constexpr Asks kCannotConnect{"cannot connect to the Kelvo plugin: {}"};
inline constexpr Asks kNoAnswer{"Kelvo did not answer in time"};
// In kCannotConnect: "{}" the port, then the holder's process number or
// kUnknownProcess.
inline constexpr std::string_view kPortHeld =
    "port {} is held by another program (process {}); not sending the token";
inline constexpr std::string_view kUnknownProcess = "unknown";
// After kErrorOpening: the system's reason.
inline constexpr Asks kSocketCloneFailed{"socket clone failed: {}"};
// After kErrorOpening: the system gave no random numbers for the key that
// Orvalin and its plugin share, or no signal for the plugin's start.
inline constexpr Asks kNoRandomNumbers{"cannot draw random numbers: {}"};
inline constexpr Asks kNoLoadedSignal{"cannot create the loaded signal: {}"};
// After kErrorOpening, or after kNotReloaded: the settings file (its path)
// cannot be read, written or its folder created; "{}" the system's reason.
inline constexpr Asks kCannotReadSettings{"cannot read {}: {}"};
inline constexpr std::string_view kNoSuchFile = "no such file";
inline constexpr std::string_view kNotUtf8 =
    "stream did not contain valid UTF-8";
inline constexpr Asks kCannotWriteSettings{"cannot write {}: {}"};
inline constexpr Asks kCannotCreateFolder{"cannot create {}: {}"};
// After kErrorOpening, or after kNotReloaded: a mistake in the settings
// file, its path and then what is wrong and where ("..., at line N, column
// M"). The mistakes themselves are the settings reader's (config/config.cpp).
inline constexpr Asks kSettingsMistake{"error in {}: {}"};
// After kErrorOpening, or after kNotReloaded: a key of the settings file
// (as written there) that cannot be used, and why. "{}" in the reasons
// below is what the file says; a name in quotes is a field of a [[keys]]
// table or an action.
inline constexpr Asks kKeyMistake{"'{}': {}"};
inline constexpr std::string_view kMoreThanOneKey = "more than one key";
inline constexpr std::string_view kUnknownKey = "unknown key '{}'";
inline constexpr std::string_view kNoKeyGiven = "no key given";
inline constexpr std::string_view kUnknownAction = "unknown action '{}'";
inline constexpr std::string_view kUnknownFormat = "unknown format '{}'";
inline constexpr std::string_view kUnknownSay = "unknown say 'what': {}";
inline constexpr std::string_view kActionNeeds = "action '{}' needs 'control'";
inline constexpr std::string_view kSelectDeckNeedsDeck =
    "select_deck needs 'deck'";
inline constexpr std::string_view kSetNeedsValue = "set needs 'value'";
inline constexpr std::string_view kAdjustNeedsStep = "adjust needs 'step'";
inline constexpr std::string_view kMoveNeedsStep = "beatgrid_move needs 'step'";
inline constexpr std::string_view kMarkerNeedsControl =
    "marker needs 'control'";
inline constexpr std::string_view kMarkerNeedsReport = "marker needs 'report'";
inline constexpr std::string_view kMarkerNeedsLabel = "marker needs 'label'";
// After kErrorOpening, or after kNotReloaded: the layer key cannot be used.
inline constexpr Asks kLayerKeyMistake{"layer_key: {}"};
inline constexpr Asks kLayerKeyTaken{
    "layer_key \"{}\" is also the key of a binding (\"{}\"); give one of them "
    "another key"};

// Linux only: no X server to take keys from, a key the keyboard lacks, and
// a Qt that would give Kelvo a window whose keys Orvalin cannot take.
inline constexpr Asks kNoDisplay{
    "Orvalin needs an X11 session or XWayland: no DISPLAY."};
inline constexpr Asks kCannotOpenDisplay{
    "Orvalin needs an X11 session or XWayland: cannot open display {}."};
// After kErrorOpening.
inline constexpr Asks kKeyNotOnKeyboard{
    "The key {} in the settings file is not on this keyboard. Please give its "
    "action another key."};
inline constexpr Asks kKelvoNotX11{
    "Orvalin keys need Kelvo in an X11 window, but QT_QPA_PLATFORM is set to "
    "{}."};

// The settings file, saved while Orvalin runs.
inline constexpr Asks kReloaded{"Settings reloaded"};
inline constexpr Asks kReloadedKelvoLater{
    "Settings reloaded. Kelvo settings take effect at the next start."};
// "{}" one of the reasons after kErrorOpening that concern the settings
// file.
inline constexpr Asks kNotReloaded{"Settings not reloaded. {}"};

// The ready sentence, with the key that turns key help on: its own key, or
// the layer key and then the key without Control Alt; the first alone when
// no key reaches key help.
inline constexpr std::string_view kReady = "Orvalin ready. Deck 1 selected.";
inline constexpr std::string_view kReadyKeyHelp =
    "Orvalin ready. Deck 1 selected. {} turns key help on or off.";
inline constexpr std::string_view kReadyLayerKeyHelp =
    "Orvalin ready. Deck 1 selected. {}, then {}, turns key help on or off.";

// Keys.
inline constexpr Asks kHotkeysTakenOne{
    "{} hotkey is used by another program: {}"};
inline constexpr Asks kHotkeysTaken{
    "{} hotkeys are used by another program: {}"};
inline constexpr Asks kLeftToTypingOne{
    "{} Orvalin key is left to typing on this keyboard. The log names them."};
inline constexpr Asks kLeftToTypingMany{
    "{} Orvalin keys are left to typing on this keyboard. The log names "
    "them."};
// The same when the key layer reaches them: "{}" the count, then the layer
// key as spoken.
inline constexpr Asks kTypedLayerOne{
    "{} Orvalin key types a character on this keyboard; press {} first, then "
    "the key without Control Alt. The log names it."};
inline constexpr Asks kTypedLayerMany{
    "{} Orvalin keys type characters on this keyboard; press {} first, then "
    "the key without Control Alt. The log names them."};
inline constexpr Asks kBusyOne{"Kelvo was busy. {} key press skipped."};
inline constexpr Asks kBusyMany{"Kelvo was busy. {} key presses skipped."};
// "{}" a reason: one of the Asks entries marked "after kActionFailed", or
// the plugin's own words (Kelvo's reply to a request).
inline constexpr std::string_view kActionFailed = "Error: {}";
inline constexpr Asks kConnectionLost{
    "Lost the connection to Kelvo. Orvalin keys do nothing until Kelvo is "
    "started again."};
// Watches that failed at start-up are still missing a while after ready;
// the second follows once they are all in place.
inline constexpr Asks kAnnouncementsMissing{
    "Some announcements are not available yet"};
inline constexpr Asks kAnnouncementsComplete{"Announcements complete"};
// Said once at start-up, and by each key that steps a value (which then
// sends nothing), when the plugin reads parameters on a wrong scale.
inline constexpr Asks kWrongScale{
    "The Kelvo plugin reports values on a wrong scale; keys that step a value "
    "are off"};
// A key that needs Kelvo, pressed after the connection ended.
inline constexpr Asks kNotConnected{"Not connected to Kelvo"};

// The key layer: said when it opens, when Escape or the layer key closes it,
// and for a key that is none of Orvalin's.
inline constexpr std::string_view kLayerOpen = "Orvalin";
inline constexpr std::string_view kLayerCancelled = "Cancelled";
inline constexpr std::string_view kLayerUnbound = "Not an Orvalin key";

// Key help and the switches that stay within Orvalin. "{}" a key as spoken,
// then the key list's description of its action.
inline constexpr std::string_view kKeyHelpOn =
    "Key help on. Press any Orvalin key to hear what it does.";
inline constexpr std::string_view kKeyHelpOff = "Key help off";
inline constexpr std::string_view kKeyDoes = "{}: {}";
inline constexpr std::string_view kKeyLeftToTyping =
    "{}: left to typing on this keyboard";
inline constexpr std::string_view kAnnouncementsOn = "Announcements on";
inline constexpr std::string_view kAnnouncementsOff = "Announcements off";

// Reasons after kActionFailed.
inline constexpr Asks kNoTrackLoaded{"no track loaded"};
inline constexpr Asks kNoTrackSelected{"no track selected in the library"};
inline constexpr Asks kMetronomeMissing{
    "The Metronome effect is not available. Enable it in Kelvo preferences, "
    "Effects."};
inline constexpr Asks kEffectUnitFull{
    "Effect unit 4 is full. Remove an effect from it first."};
inline constexpr Asks kRequestFailed{"request failed"};
inline constexpr Asks kNotJsonObject{"request is not a JSON object"};
// "{}" the system's reason.
inline constexpr Asks kSendFailed{"send failed: {}"};
// "{}" the control's group and key, then what went wrong with it: the
// plugin's own words, or kNoAnswer.
inline constexpr Asks kControlFailed{"{},{}: {}"};
inline constexpr Asks kNoValue{"{},{}: Kelvo sent no value"};
// "{}" the value Kelvo sent, the control's group and key, and the range it
// must be in.
inline constexpr Asks kOutsideRange{"Kelvo sent {} for {},{}, outside {}"};

// Answers of the action keys. "{}" in "{} {}" is a control's label (the key
// list's or Kelvo's name of it), then its value as spoken.
inline constexpr std::string_view kControlValue = "{} {}";
inline constexpr std::string_view kOn = "on";
inline constexpr std::string_view kOff = "off";
inline constexpr Asks kNotSwitchedOn{"{} not switched on. {}"};
inline constexpr Asks kNoMicrophone{
    "No microphone input is set up. Choose one in Kelvo preferences, Sound "
    "Hardware, Input."};
inline constexpr Asks kCouldNotSwitchOn{"{} could not be switched on"};
inline constexpr Asks kCouldNotSwitchOff{"{} could not be switched off"};
inline constexpr Asks kAutoDjNotSwitchedOn{
    "{} could not be switched on. Is the Auto DJ queue empty?"};
inline constexpr Asks kOnlyDeck{"Kelvo has {} deck"};
inline constexpr Asks kOnlyDecks{"Kelvo has {} decks"};
inline constexpr std::string_view kDeckSelected = "Deck {}. {}";
inline constexpr std::string_view kEmpty = "empty";
inline constexpr Asks kSamplerEmpty{"Sampler {} is empty"};
inline constexpr std::string_view kHotcueAt = "Hotcue {}, {}";
inline constexpr std::string_view kPreviewStopped = "Preview stopped";
inline constexpr std::string_view kPreview = "Preview {}";
// Markers: "{}" the marker's label, then a time.
inline constexpr std::string_view kMarkerNotSet = "{} not set";
inline constexpr std::string_view kMarkerAt = "{} {}";
inline constexpr std::string_view kMarkerJumped = "jumped to {}, {}";
inline constexpr std::string_view kMarkerSet = "{} set at {}";
inline constexpr std::string_view kSamplersStopped = "Samplers stopped";
inline constexpr std::string_view kWidgetWritten =
    "{} widget written to the plugin log";
inline constexpr std::string_view kWidgetsWritten =
    "{} widgets written to the plugin log";

// The say action's reports.
inline constexpr std::string_view kDeckEmpty = "Deck {} empty";
inline constexpr std::string_view kDeckStatusPlaying =
    "Deck {} playing, {} remaining, {}, {}";
inline constexpr std::string_view kDeckStatusPaused =
    "Deck {} paused, {} remaining, {}, {}";
inline constexpr std::string_view kElapsedRemaining =
    "{} elapsed, {} remaining";
// "{}" tempo, then key.
inline constexpr std::string_view kTempo = "{}, {}";
inline constexpr Asks kNoTrackInformation{
    "No track information visible in the current skin"};
// The selected track: its title and artist, its details (tempo, key and
// length, joined by kListSeparator), and its row; the parts are joined by
// kSentenceSeparator.
inline constexpr std::string_view kTitleByArtist = "{}, by {}";
inline constexpr std::string_view kByArtist = "by {}";
inline constexpr std::string_view kUntitled = "Untitled track";
inline constexpr std::string_view kMusicalKeyOf = "key {}";
inline constexpr std::string_view kTrackRow = "Track {} of {}";
inline constexpr std::string_view kListSeparator = ", ";
inline constexpr std::string_view kSentenceSeparator = ". ";
inline constexpr std::string_view kNoHotcues = "Deck {}, no hotcues";
// "{}" the deck, then the hot cues (kHotcueNumber or kHotcueNumberAt) joined
// by kListSeparator.
inline constexpr std::string_view kHotcues = "Deck {}: {}";
inline constexpr std::string_view kHotcueNumber = "hotcue {}";
inline constexpr std::string_view kHotcueNumberAt = "hotcue {} {}";
// An effect unit: which decks it is on, then its effects (kEffectState),
// joined by kListSeparator, or kEmpty.
inline constexpr std::string_view kEffectUnit = "Effect unit {}: {}";
inline constexpr std::string_view kEffectUnitOnDeck =
    "Effect unit {}, on deck {}: {}";
inline constexpr std::string_view kEffectUnitOnDecks =
    "Effect unit {}, on decks {}: {}";
// Between the last two decks of kEffectUnitOnDecks.
inline constexpr std::string_view kAndSeparator = " and ";
inline constexpr std::string_view kEffectState = "{} {}";
// An effect the plugin gives no name for.
inline constexpr std::string_view kUnknownEffect = "unknown effect";

// Values as spoken.
inline constexpr std::string_view kPercent = "{}%";
inline constexpr std::string_view kCenter = "center";
inline constexpr std::string_view kLeftPercent = "left {}%";
inline constexpr std::string_view kRightPercent = "right {}%";
inline constexpr std::string_view kBpm = "{} BPM";
inline constexpr std::string_view kNoKey = "no key";
// A musical key: its note name, then its Camelot wheel number.
inline constexpr std::string_view kMajorKey = "{} major, {}B";
inline constexpr std::string_view kMinorKey = "{} minor, {}A";
// The notes of Kelvo's key numbers 1..12 (major) and 13..24 (minor),
// spelled out for the speech synthesiser.
inline constexpr std::array<std::string_view, 24> kKeyNotes = {
    "C",       "D flat",  "D",       "E flat", "E",      "F",
    "F sharp", "G",       "A flat",  "A",      "B flat", "B",
    "C",       "C sharp", "D",       "E flat", "E",      "F",
    "F sharp", "G",       "G sharp", "A",      "B flat", "B"};

// The beat-grid tools.
inline constexpr Asks kGridLocked{"Grid is locked"};
// Grid clicks that Kelvo did not switch as asked, read back; "{}" the deck.
inline constexpr Asks kGridClicksNotOn{
    "Grid clicks could not be switched on for deck {}"};
inline constexpr Asks kGridClicksNotOff{
    "Grid clicks could not be switched off for deck {}"};
inline constexpr std::string_view kGridClicksOff =
    "Grid clicks off for deck {}";
inline constexpr std::string_view kGridClicksOn =
    "Grid clicks on for deck {}. Play the track: the clicks are the beat "
    "grid.";
// A move of the grid, with the total of the moves since the clicks came on.
inline constexpr std::string_view kGridLaterBack = "later, back where it was";
inline constexpr std::string_view kGridEarlierBack =
    "earlier, back where it was";
inline constexpr std::string_view kGridLaterPlus =
    "later, total plus {} milliseconds";
inline constexpr std::string_view kGridLaterMinus =
    "later, total minus {} milliseconds";
inline constexpr std::string_view kGridEarlierPlus =
    "earlier, total plus {} milliseconds";
inline constexpr std::string_view kGridEarlierMinus =
    "earlier, total minus {} milliseconds";
inline constexpr std::string_view kTapped = "tapped {} BPM";
inline constexpr Asks kNoBeatGrid{"This track has no beat grid"};
inline constexpr std::string_view kOnTheBeat = "On the beat";
inline constexpr std::string_view kAfterTheBeat =
    "{} milliseconds after the beat";
inline constexpr std::string_view kBeforeTheBeat =
    "{} milliseconds before the beat";

// Announcements of changes in Kelvo.
inline constexpr Asks kDeckClipping{"Deck {} clipping"};
inline constexpr Asks kMainClipping{"Main output clipping"};
inline constexpr std::string_view kMicrophoneOn = "Microphone on";
inline constexpr std::string_view kMicrophoneOff = "Microphone off";
inline constexpr std::string_view kBroadcastConnected =
    "Live broadcast connected";
inline constexpr Asks kBroadcastDisconnected{"Live broadcast disconnected"};
inline constexpr Asks kBroadcastFailed{"Live broadcast failed to connect"};
inline constexpr std::string_view kBroadcastOn = "Live broadcast on";
inline constexpr std::string_view kBroadcastOff = "Live broadcast off";
inline constexpr std::string_view kRecordingStarted = "Recording started";
inline constexpr std::string_view kRecordingStopped = "Recording stopped";
inline constexpr std::string_view kAutoDjOn = "Auto DJ on";
inline constexpr std::string_view kAutoDjOff = "Auto DJ off";
inline constexpr std::string_view kSamplerPlaying = "Sampler {} playing";
inline constexpr std::string_view kSamplerStopped = "Sampler {} stopped";
inline constexpr std::string_view kDeckHeadphones = "Deck {} headphones {}";
inline constexpr std::string_view kDeckKeyLock = "Deck {} key lock {}";
inline constexpr std::string_view kDeckSync = "Deck {} sync {}";
inline constexpr Asks kDeckNoTrack{"Deck {} has no track loaded"};
inline constexpr std::string_view kDeckPlaying = "Deck {} playing";
inline constexpr std::string_view kDeckPaused = "Deck {} paused";
inline constexpr std::string_view kDeckTrackEnded = "Deck {} track ended";
inline constexpr std::string_view kDeckLoopOff = "Deck {} loop off";
inline constexpr std::string_view kDeckLoop = "Deck {} loop {} beats";
inline constexpr std::string_view kDeckTrackEnding = "Deck {} track ending";
inline constexpr std::string_view kDeckLoaded = "Deck {} loaded. {}";
inline constexpr std::string_view kDeckHotcueSet = "Deck {} hotcue {} set";
inline constexpr std::string_view kDeckHotcueCleared =
    "Deck {} hotcue {} cleared";
inline constexpr std::string_view kOneMinuteLeft = "Deck {}, one minute left";

// How a sentence is heard: `opening` (empty, kErrorOpening, kNotReloaded or
// kActionFailed, each filled with what follows) followed by `text`. A
// Linux-only sentence is explained in the Linux guide.
struct Heard {
  std::string_view opening;
  std::string_view text;
  bool linux_only = false;
};

// Every Asks entry above as the user hears it, by name: the guide's test
// finds an entry for each. The scan fails when an Asks entry is missing
// here. A reason heard after more than one opening is listed after each.
inline constexpr std::array kAskingSentences = {
    Heard{{}, kAlreadyRunning},
    Heard{{}, kKelvoRunning},
    Heard{kErrorOpening, kPluginNotFound},
    Heard{{}, kQtNotSupported},
    Heard{kErrorOpening, kCannotStartKelvo},
    Heard{kErrorOpening, kClosedWhileStarting},
    Heard{{}, kPluginNotLoaded},
    Heard{kErrorOpening, kCannotConnect},
    Heard{kErrorOpening, kNoAnswer},
    Heard{kErrorOpening, kNoRandomNumbers},
    Heard{kErrorOpening, kNoLoadedSignal},
    Heard{kErrorOpening, kSocketCloneFailed},
    Heard{kErrorOpening, kCannotReadSettings},
    Heard{kErrorOpening, kCannotWriteSettings},
    Heard{kErrorOpening, kCannotCreateFolder},
    Heard{kErrorOpening, kSettingsMistake},
    Heard{kErrorOpening, kKeyMistake},
    Heard{kErrorOpening, kLayerKeyMistake},
    Heard{kErrorOpening, kLayerKeyTaken},
    Heard{{}, kNoDisplay, true},
    Heard{{}, kCannotOpenDisplay, true},
    Heard{kErrorOpening, kKeyNotOnKeyboard, true},
    Heard{{}, kKelvoNotX11, true},
    Heard{{}, kReloaded},
    Heard{{}, kReloadedKelvoLater},
    Heard{{}, kNotReloaded},
    Heard{kNotReloaded, kCannotReadSettings},
    Heard{kNotReloaded, kSettingsMistake},
    Heard{kNotReloaded, kKeyMistake},
    Heard{kNotReloaded, kLayerKeyMistake},
    Heard{{}, kHotkeysTakenOne},
    Heard{{}, kHotkeysTaken},
    Heard{{}, kLeftToTypingOne},
    Heard{{}, kLeftToTypingMany},
    Heard{{}, kTypedLayerOne},
    Heard{{}, kTypedLayerMany},
    Heard{{}, kBusyOne},
    Heard{{}, kBusyMany},
    Heard{{}, kConnectionLost},
    Heard{{}, kAnnouncementsMissing},
    Heard{{}, kAnnouncementsComplete},
    Heard{{}, kWrongScale},
    Heard{{}, kNotConnected},
    Heard{kActionFailed, kNoTrackLoaded},
    Heard{kActionFailed, kNoTrackSelected},
    Heard{kActionFailed, kMetronomeMissing},
    Heard{kActionFailed, kEffectUnitFull},
    Heard{kActionFailed, kRequestFailed},
    Heard{kActionFailed, kNotJsonObject},
    Heard{kActionFailed, kSendFailed},
    Heard{kActionFailed, kControlFailed},
    Heard{kActionFailed, kNoValue},
    Heard{kActionFailed, kOutsideRange},
    Heard{kActionFailed, kNoAnswer},
    Heard{{}, kNotSwitchedOn},
    Heard{{}, kNoMicrophone},
    Heard{{}, kCouldNotSwitchOn},
    Heard{{}, kCouldNotSwitchOff},
    Heard{{}, kAutoDjNotSwitchedOn},
    Heard{{}, kOnlyDeck},
    Heard{{}, kOnlyDecks},
    Heard{{}, kSamplerEmpty},
    Heard{{}, kNoTrackInformation},
    Heard{{}, kGridLocked},
    Heard{{}, kGridClicksNotOn},
    Heard{{}, kGridClicksNotOff},
    Heard{{}, kNoBeatGrid},
    Heard{{}, kDeckClipping},
    Heard{{}, kMainClipping},
    Heard{{}, kBroadcastDisconnected},
    Heard{{}, kBroadcastFailed},
    Heard{{}, kDeckNoTrack},
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
