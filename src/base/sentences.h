// Everything Orvalin speaks, in one table: every sentence, every part of a
// sentence and every reason of an error that can reach the user's ear is
// defined here, once, and spoken from here. Code elsewhere passes only these
// constants and data (Kelvo's control names and track fields, and the key
// list's descriptions, which keylist.cpp makes from entries of its own) to
// speech; a source scan (scripts/spoken_text.py, run by ctest) fails on a
// text written elsewhere.
//
// Each entry is one whole unit for a translator: the build extracts every
// msg(), msg_c() and msg_n() into po/orvalin.pot with xgettext, and the
// comment above an entry is the translator's note. An entry is written in
// English and speaks in the language in use (base/language.h) wherever it is
// used as text. "{}" stands for a part filled in when it is spoken (a
// number, a path, a name, a reason, or another entry of this table), see
// fill(); a translation may number them ("{1} ... {0}") to change their
// order. A count comes as a Plural, whose form the language picks.
//
// An entry that asks something of the user or tells of a problem is an
// `Asks` (or an `AsksPlural`). The user's guide (packaging/README.txt, and
// for the Linux-only ones packaging/linux/README.Linux.txt, and the
// translated guides beside them) explains each of them under "What to do
// when Orvalin says ...", and its test walks kAskingSentences, which the
// scan keeps equal to the Asks entries. Constants only; any thread may use
// them.
#pragma once

#include <array>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>

#include "base/language.h"

namespace orvalin {

// An entry: its English text (and the context that tells it apart from an
// equal text translated otherwise). Used wherever a std::string_view is,
// as the text in the language in use; `english` is for the logs.
struct Text {
  std::string_view context;
  std::string_view english;
  operator std::string_view() const { return translate(context, english); }
  friend bool operator==(Text a, std::string_view b) {
    return std::string_view(a) == b;
  }
};

// The markers xgettext looks for (see scripts/po_update).
constexpr Text msg(std::string_view english) { return {{}, english}; }
constexpr Text msg_c(std::string_view context, std::string_view english) {
  return {context, english};
}

// An entry with a count: its English singular and plural; of() gives the
// form the language in use takes for a count.
struct Plural {
  std::string_view one;
  std::string_view many;
  std::string_view of(uint64_t count) const {
    return translate_plural(one, many, count);
  }
  // The English form, for the log.
  constexpr std::string_view english(uint64_t count) const {
    return count == 1 ? one : many;
  }
};
constexpr Plural msg_n(std::string_view one, std::string_view many) {
  return {one, many};
}

// An entry that asks something of the user or tells of a problem. Used
// wherever a std::string_view is.
struct Asks {
  Text text;
  operator std::string_view() const { return text; }
  constexpr operator Text() const { return text; }
  friend bool operator==(Asks a, std::string_view b) { return a.text == b; }
};
struct AsksPlural {
  Plural plural;
  std::string_view of(uint64_t count) const { return plural.of(count); }
  constexpr std::string_view english(uint64_t count) const {
    return plural.english(count);
  }
};

// Start-up and refusals.
inline constexpr Asks kAlreadyRunning{msg("Orvalin is already running.")};
inline constexpr Asks kKelvoRunning{
    msg("Kelvo is running. Please close it first.")};
inline constexpr Text kWelcome =
    msg("Welcome to Orvalin. Your settings file was created.");
inline constexpr Text kStartingKelvo = msg("Starting Kelvo");
// Comes before the reason of a start that failed: one of the Asks entries
// marked "after kErrorOpening" below, or a mistake in the settings file.
inline constexpr Text kErrorOpening = msg("Orvalin error. ");
// After kErrorOpening.
inline constexpr Asks kPluginNotFound{
    msg("The Kelvo plugin ({}) was not found.")};
// "{}" Kelvo's version line (kKelvoVersion), what its Qt is (kUsesQt...),
// then the Qt versions Orvalin needs.
inline constexpr Asks kQtNotSupported{
    msg("{} is not supported by this version of Orvalin. It uses {}, Orvalin "
        "needs Qt {}.{} or newer within Qt {}. Please check for an Orvalin "
        "update.")};
inline constexpr Text kKelvoVersion = msg("Kelvo {}");
inline constexpr Text kKelvoUnknownVersion = msg("Kelvo unknown version");
inline constexpr Text kUsesQt = msg("Qt {}");
inline constexpr Text kUsesQtUnknown = msg("Qt unknown version");
inline constexpr Text kUsesOtherQt = msg("a different Qt version");
// After kErrorOpening: the path, then the system's reason.
inline constexpr Asks kCannotStartKelvo{msg("Cannot start Kelvo at {}: {}")};
// After kErrorOpening.
inline constexpr Asks kClosedWhileStarting{msg("Kelvo closed while starting.")};
inline constexpr Asks kPluginNotLoaded{msg(
    "{} did not load the Orvalin plugin, so this Kelvo version is probably "
    "not supported. Kelvo keeps running, without Orvalin. Please check for an "
    "Orvalin update.")};
// After kErrorOpening: a connection that could not be made, or one that
// Kelvo did not answer on.
inline constexpr Asks kCannotConnect{
    msg("cannot connect to the Kelvo plugin: {}")};
inline constexpr Asks kNoAnswer{msg("Kelvo did not answer in time")};
// In kCannotConnect: "{}" the port, then the holder's process number or
// kUnknownProcess.
inline constexpr Text kPortHeld = msg(
    "port {} is held by another program (process {}); not sending the token");
inline constexpr Text kUnknownProcess = msg("unknown");
// After kErrorOpening: the system's reason.
inline constexpr Asks kSocketCloneFailed{msg("socket clone failed: {}")};
// After kErrorOpening: the system gave no random numbers for the key that
// Orvalin and its plugin share, or no signal for the plugin's start.
inline constexpr Asks kNoRandomNumbers{msg("cannot draw random numbers: {}")};
inline constexpr Asks kNoLoadedSignal{
    msg("cannot create the loaded signal: {}")};
// After kErrorOpening, or after kNotReloaded: the settings file (its path)
// cannot be read, written or its folder created; "{}" the system's reason.
inline constexpr Asks kCannotReadSettings{msg("cannot read {}: {}")};
inline constexpr Text kNoSuchFile = msg("no such file");
inline constexpr Text kNotUtf8 = msg("stream did not contain valid UTF-8");
inline constexpr Asks kCannotWriteSettings{msg("cannot write {}: {}")};
inline constexpr Asks kCannotCreateFolder{msg("cannot create {}: {}")};
// After kErrorOpening, or after kNotReloaded: a mistake in the settings
// file, its path and then what is wrong and where ("..., at line N, column
// M"). The mistakes themselves are the settings reader's (config/config.cpp).
inline constexpr Asks kSettingsMistake{msg("error in {}: {}")};
// After kErrorOpening, or after kNotReloaded: a key of the settings file
// (as written there) that cannot be used, and why. "{}" in the reasons
// below is what the file says; a name in quotes is a field of a [[keys]]
// table or an action.
inline constexpr Asks kKeyMistake{msg("'{}': {}")};
inline constexpr Text kMoreThanOneKey = msg("more than one key");
inline constexpr Text kUnknownKey = msg("unknown key '{}'");
inline constexpr Text kNoKeyGiven = msg("no key given");
inline constexpr Text kUnknownAction = msg("unknown action '{}'");
inline constexpr Text kUnknownFormat = msg("unknown format '{}'");
inline constexpr Text kUnknownSay = msg("unknown say 'what': {}");
inline constexpr Text kActionNeeds = msg("action '{}' needs 'control'");
inline constexpr Text kSelectDeckNeedsDeck = msg("select_deck needs 'deck'");
inline constexpr Text kSetNeedsValue = msg("set needs 'value'");
inline constexpr Text kAdjustNeedsStep = msg("adjust needs 'step'");
inline constexpr Text kMoveNeedsStep = msg("beatgrid_move needs 'step'");
inline constexpr Text kMarkerNeedsControl = msg("marker needs 'control'");
inline constexpr Text kMarkerNeedsReport = msg("marker needs 'report'");
inline constexpr Text kMarkerNeedsLabel = msg("marker needs 'label'");
// After kErrorOpening, or after kNotReloaded: the layer key cannot be used.
inline constexpr Asks kLayerKeyMistake{msg("layer_key: {}")};
inline constexpr Asks kLayerKeyTaken{msg(
    "layer_key \"{}\" is also the key of a binding (\"{}\"); give one of them "
    "another key")};

// Linux only: no X server to take keys from, a key the keyboard lacks, and
// a Qt that would give Kelvo a window whose keys Orvalin cannot take.
inline constexpr Asks kNoDisplay{
    msg("Orvalin needs an X11 session or XWayland: no DISPLAY.")};
inline constexpr Asks kCannotOpenDisplay{
    msg("Orvalin needs an X11 session or XWayland: cannot open display {}.")};
// After kErrorOpening.
inline constexpr Asks kKeyNotOnKeyboard{msg(
    "The key {} in the settings file is not on this keyboard. Please give its "
    "action another key.")};
inline constexpr Asks kKelvoNotX11{msg(
    "Orvalin keys need Kelvo in an X11 window, but QT_QPA_PLATFORM is set to "
    "{}.")};

// The settings file, saved while Orvalin runs.
inline constexpr Asks kReloaded{msg("Settings reloaded")};
inline constexpr Asks kReloadedKelvoLater{
    msg("Settings reloaded. Kelvo settings take effect at the next start.")};
// "{}" one of the reasons after kErrorOpening that concern the settings
// file.
inline constexpr Asks kNotReloaded{msg("Settings not reloaded. {}")};

// The ready sentence, with the key that turns key help on: its own key, or
// the layer key and then the key without Control Alt; the first alone when
// no key reaches key help.
inline constexpr Text kReady = msg("Orvalin ready. Deck 1 selected.");
inline constexpr Text kReadyKeyHelp =
    msg("Orvalin ready. Deck 1 selected. {} turns key help on or off.");
inline constexpr Text kReadyLayerKeyHelp = msg(
    "Orvalin ready. Deck 1 selected. {}, then {}, turns key help on or off.");

// Keys.
// "{}" the count, then the keys as spoken, joined by kListSeparator.
inline constexpr AsksPlural kHotkeysTaken{
    msg_n("{} hotkey is used by another program: {}",
          "{} hotkeys are used by another program: {}")};
inline constexpr AsksPlural kLeftToTyping{
    msg_n("{} Orvalin key is left to typing on this keyboard. The log names "
          "them.",
          "{} Orvalin keys are left to typing on this keyboard. The log names "
          "them.")};
// The same when the key layer reaches them: "{}" the count, then the layer
// key as spoken.
inline constexpr AsksPlural kTypedLayer{
    msg_n("{} Orvalin key types a character on this keyboard; press {} "
          "first, then the key without Control Alt. The log names it.",
          "{} Orvalin keys type characters on this keyboard; press {} first, "
          "then the key without Control Alt. The log names them.")};
inline constexpr AsksPlural kBusy{
    msg_n("Kelvo was busy. {} key press skipped.",
          "Kelvo was busy. {} key presses skipped.")};
// "{}" a reason: one of the Asks entries marked "after kActionFailed", or
// the plugin's own words (Kelvo's reply to a request).
inline constexpr Text kActionFailed = msg("Error: {}");
inline constexpr Asks kConnectionLost{
    msg("Lost the connection to Kelvo. Orvalin keys do nothing until Kelvo is "
        "started again.")};
// Watches that failed at start-up are still missing a while after ready;
// the second follows once they are all in place.
inline constexpr Asks kAnnouncementsMissing{
    msg("Some announcements are not available yet")};
inline constexpr Asks kAnnouncementsComplete{msg("Announcements complete")};
// Said once at start-up, and by each key that steps a value (which then
// sends nothing), when the plugin reads parameters on a wrong scale.
inline constexpr Asks kWrongScale{msg(
    "The Kelvo plugin reports values on a wrong scale; keys that step a value "
    "are off")};
// A key that needs Kelvo, pressed after the connection ended.
inline constexpr Asks kNotConnected{msg("Not connected to Kelvo")};

// The key layer: said when it opens, when Escape or the layer key closes it,
// and for a key that is none of Orvalin's.
inline constexpr Text kLayerOpen = msg("Orvalin");
inline constexpr Text kLayerCancelled = msg("Cancelled");
inline constexpr Text kLayerUnbound = msg("Not an Orvalin key");

// Key help and the switches that stay within Orvalin. "{}" a key as spoken,
// then the key list's description of its action.
inline constexpr Text kKeyHelpOn =
    msg("Key help on. Press any Orvalin key to hear what it does.");
inline constexpr Text kKeyHelpOff = msg("Key help off");
inline constexpr Text kKeyDoes = msg("{}: {}");
inline constexpr Text kKeyLeftToTyping =
    msg("{}: left to typing on this keyboard");
inline constexpr Text kAnnouncementsOn = msg("Announcements on");
inline constexpr Text kAnnouncementsOff = msg("Announcements off");

// Reasons after kActionFailed.
inline constexpr Asks kNoTrackLoaded{msg("no track loaded")};
inline constexpr Asks kNoTrackSelected{msg("no track selected in the library")};
inline constexpr Asks kMetronomeMissing{msg(
    "The Metronome effect is not available. Enable it in Kelvo preferences, "
    "Effects.")};
inline constexpr Asks kEffectUnitFull{
    msg("Effect unit 4 is full. Remove an effect from it first.")};
inline constexpr Asks kRequestFailed{msg("request failed")};
inline constexpr Asks kNotJsonObject{msg("request is not a JSON object")};
// "{}" the system's reason.
inline constexpr Asks kSendFailed{msg("send failed: {}")};
// "{}" the control's group and key, then what went wrong with it: the
// plugin's own words, or kNoAnswer.
inline constexpr Asks kControlFailed{msg("{},{}: {}")};
inline constexpr Asks kNoValue{msg("{},{}: Kelvo sent no value")};
// "{}" the value Kelvo sent, the control's group and key, and the range it
// must be in.
inline constexpr Asks kOutsideRange{msg("Kelvo sent {} for {},{}, outside {}")};

// Answers of the action keys. "{}" in "{} {}" is a control's label (the key
// list's or Kelvo's name of it), then its value as spoken.
inline constexpr Text kControlValue = msg("{} {}");
inline constexpr Text kOn = msg("on");
inline constexpr Text kOff = msg("off");
inline constexpr Asks kNotSwitchedOn{msg("{} not switched on. {}")};
inline constexpr Asks kNoMicrophone{
    msg("No microphone input is set up. Choose one in Kelvo preferences, Sound "
        "Hardware, Input.")};
inline constexpr Asks kCouldNotSwitchOn{msg("{} could not be switched on")};
inline constexpr Asks kCouldNotSwitchOff{msg("{} could not be switched off")};
inline constexpr Asks kAutoDjNotSwitchedOn{
    msg("{} could not be switched on. Is the Auto DJ queue empty?")};
inline constexpr AsksPlural kOnlyDecks{
    msg_n("Kelvo has {} deck", "Kelvo has {} decks")};
inline constexpr Text kDeckSelected = msg("Deck {}. {}");
inline constexpr Text kEmpty = msg("empty");
inline constexpr Asks kSamplerEmpty{msg("Sampler {} is empty")};
inline constexpr Text kHotcueAt = msg("Hotcue {}, {}");
inline constexpr Text kPreviewStopped = msg("Preview stopped");
inline constexpr Text kPreview = msg("Preview {}");
// Markers: "{}" the marker's label, then a time.
inline constexpr Text kMarkerNotSet = msg("{} not set");
inline constexpr Text kMarkerAt = msg("{} {}");
inline constexpr Text kMarkerJumped = msg("jumped to {}, {}");
inline constexpr Text kMarkerSet = msg("{} set at {}");
inline constexpr Text kSamplersStopped = msg("Samplers stopped");
inline constexpr Plural kWidgetsWritten =
    msg_n("{} widget written to the plugin log",
          "{} widgets written to the plugin log");

// The say action's reports.
inline constexpr Text kDeckEmpty = msg("Deck {} empty");
inline constexpr Text kDeckStatusPlaying =
    msg("Deck {} playing, {} remaining, {}, {}");
inline constexpr Text kDeckStatusPaused =
    msg("Deck {} paused, {} remaining, {}, {}");
inline constexpr Text kElapsedRemaining = msg("{} elapsed, {} remaining");
// "{}" tempo, then key.
inline constexpr Text kTempo = msg("{}, {}");
inline constexpr Asks kNoTrackInformation{
    msg("No track information visible in the current skin")};
// The selected track: its title and artist, its details (tempo, key and
// length, joined by kListSeparator), and its row; the parts are joined by
// kSentenceSeparator.
inline constexpr Text kTitleByArtist = msg("{}, by {}");
inline constexpr Text kByArtist = msg("by {}");
inline constexpr Text kUntitled = msg("Untitled track");
inline constexpr Text kMusicalKeyOf = msg("key {}");
inline constexpr Text kTrackRow = msg("Track {} of {}");
inline constexpr Text kListSeparator = msg(", ");
inline constexpr Text kSentenceSeparator = msg(". ");
inline constexpr Text kNoHotcues = msg("Deck {}, no hotcues");
// "{}" the deck, then the hot cues (kHotcueNumber or kHotcueNumberAt) joined
// by kListSeparator.
inline constexpr Text kHotcues = msg("Deck {}: {}");
inline constexpr Text kHotcueNumber = msg("hotcue {}");
inline constexpr Text kHotcueNumberAt = msg("hotcue {} {}");
// An effect unit: which decks it is on, then its effects (kEffectState),
// joined by kListSeparator, or kEmpty.
inline constexpr Text kEffectUnit = msg("Effect unit {}: {}");
// "{}" the unit, the decks it is on (joined by kAndSeparator), and its
// effects; the count is of the decks.
inline constexpr Plural kEffectUnitOnDecks =
    msg_n("Effect unit {}, on deck {}: {}", "Effect unit {}, on decks {}: {}");
// Between the last two decks of kEffectUnitOnDecks.
inline constexpr Text kAndSeparator = msg(" and ");
inline constexpr Text kEffectState = msg("{} {}");
// An effect the plugin gives no name for.
inline constexpr Text kUnknownEffect = msg("unknown effect");

// Values as spoken.
inline constexpr Text kPercent = msg("{}%");
inline constexpr Text kCenter = msg("center");
inline constexpr Text kLeftPercent = msg("left {}%");
inline constexpr Text kRightPercent = msg("right {}%");
inline constexpr Text kBpm = msg("{} BPM");
inline constexpr Text kNoKey = msg("no key");
// A musical key: its note name, then its Camelot wheel number.
inline constexpr Text kMajorKey = msg("{} major, {}B");
inline constexpr Text kMinorKey = msg("{} minor, {}A");
// The notes of Kelvo's key numbers 1..12 (major) and 13..24 (minor),
// spelled out for the speech synthesiser. A translation keeps the letter
// names A to G (B stays B) and says only "flat" and "sharp" its own way.
inline constexpr std::array<Text, 24> kKeyNotes = {
    msg("C"),       msg("D flat"),  msg("D"),      msg("E flat"),  msg("E"),
    msg("F"),       msg("F sharp"), msg("G"),      msg("A flat"),  msg("A"),
    msg("B flat"),  msg("B"),       msg("C"),      msg("C sharp"), msg("D"),
    msg("E flat"),  msg("E"),       msg("F"),      msg("F sharp"), msg("G"),
    msg("G sharp"), msg("A"),       msg("B flat"), msg("B")};

// The beat-grid tools.
inline constexpr Asks kGridLocked{msg("Grid is locked")};
// Grid clicks that Kelvo did not switch as asked, read back; "{}" the deck.
inline constexpr Asks kGridClicksNotOn{
    msg("Grid clicks could not be switched on for deck {}")};
inline constexpr Asks kGridClicksNotOff{
    msg("Grid clicks could not be switched off for deck {}")};
inline constexpr Text kGridClicksOff = msg("Grid clicks off for deck {}");
inline constexpr Text kGridClicksOn =
    msg("Grid clicks on for deck {}. Play the track: the clicks are the beat "
        "grid.");
// A move of the grid, with the total of the moves since the clicks came on.
inline constexpr Text kGridLaterBack = msg("later, back where it was");
inline constexpr Text kGridEarlierBack = msg("earlier, back where it was");
inline constexpr Text kGridLaterPlus = msg("later, total plus {} milliseconds");
inline constexpr Text kGridLaterMinus =
    msg("later, total minus {} milliseconds");
inline constexpr Text kGridEarlierPlus =
    msg("earlier, total plus {} milliseconds");
inline constexpr Text kGridEarlierMinus =
    msg("earlier, total minus {} milliseconds");
inline constexpr Text kTapped = msg("tapped {} BPM");
inline constexpr Asks kNoBeatGrid{msg("This track has no beat grid")};
inline constexpr Text kOnTheBeat = msg("On the beat");
inline constexpr Text kAfterTheBeat = msg("{} milliseconds after the beat");
inline constexpr Text kBeforeTheBeat = msg("{} milliseconds before the beat");

// Announcements of changes in Kelvo.
inline constexpr Asks kDeckClipping{msg("Deck {} clipping")};
inline constexpr Asks kMainClipping{msg("Main output clipping")};
inline constexpr Text kMicrophoneOn = msg("Microphone on");
inline constexpr Text kMicrophoneOff = msg("Microphone off");
inline constexpr Text kBroadcastConnected = msg("Live broadcast connected");
inline constexpr Asks kBroadcastDisconnected{
    msg("Live broadcast disconnected")};
inline constexpr Asks kBroadcastFailed{msg("Live broadcast failed to connect")};
inline constexpr Text kBroadcastOn = msg("Live broadcast on");
inline constexpr Text kBroadcastOff = msg("Live broadcast off");
inline constexpr Text kRecordingStarted = msg("Recording started");
inline constexpr Text kRecordingStopped = msg("Recording stopped");
inline constexpr Text kAutoDjOn = msg("Auto DJ on");
inline constexpr Text kAutoDjOff = msg("Auto DJ off");
inline constexpr Text kSamplerPlaying = msg("Sampler {} playing");
inline constexpr Text kSamplerStopped = msg("Sampler {} stopped");
inline constexpr Text kDeckHeadphones = msg("Deck {} headphones {}");
inline constexpr Text kDeckKeyLock = msg("Deck {} key lock {}");
inline constexpr Text kDeckSync = msg("Deck {} sync {}");
inline constexpr Asks kDeckNoTrack{msg("Deck {} has no track loaded")};
inline constexpr Text kDeckPlaying = msg("Deck {} playing");
inline constexpr Text kDeckPaused = msg("Deck {} paused");
inline constexpr Text kDeckTrackEnded = msg("Deck {} track ended");
inline constexpr Text kDeckLoopOff = msg("Deck {} loop off");
// "{}" the deck, then the loop's length in beats (it may be a fraction).
inline constexpr Plural kDeckLoop =
    msg_n("Deck {} loop {} beat", "Deck {} loop {} beats");
inline constexpr Text kDeckTrackEnding = msg("Deck {} track ending");
inline constexpr Text kDeckLoaded = msg("Deck {} loaded. {}");
inline constexpr Text kDeckHotcueSet = msg("Deck {} hotcue {} set");
inline constexpr Text kDeckHotcueCleared = msg("Deck {} hotcue {} cleared");
inline constexpr Text kOneMinuteLeft = msg("Deck {}, one minute left");

// The key list (--write-keys) and key help: what a key does. "{}" is what
// it works on (a label, or what a control does), then a number.
inline constexpr Text kOnCurrentDeck = msg("{} on the current deck");
inline constexpr Text kForCurrentDeck = msg("{} for the current deck");
inline constexpr Text kOnDeck = msg("{} on deck {}");
inline constexpr Text kOnSampler = msg("{}, sampler {}");
inline constexpr Text kOnOrOff = msg("{} on or off");
// "{}" what a control does, then the value it is set to.
inline constexpr Text kSetTo = msg("set {} to {}");
// A key that turns a value up or down, or a balance to the left or right.
inline constexpr Text kAdjustUp = msg("{} up");
inline constexpr Text kAdjustDown = msg("{} down");
inline constexpr Text kAdjustLeft = msg("{} left");
inline constexpr Text kAdjustRight = msg("{} right");
inline constexpr Text kSayLabel = msg("say {}");
inline constexpr Text kSelectDeckKey = msg("select deck {}");
inline constexpr Text kHotcueSetOrJump = msg("hotcue {}, set or jump");
inline constexpr Text kClearHotcue = msg("clear hotcue {}");
// "{}" milliseconds.
inline constexpr Text kMoveGridLater =
    msg("move the beat grid {} milliseconds later on the current deck");
inline constexpr Text kMoveGridEarlier =
    msg("move the beat grid {} milliseconds earlier on the current deck");
// The key list file: its title, its opening lines (keep the line breaks;
// name the keys as the list below does), the layer's section, and the
// section of keys that fit no other.
inline constexpr Text kKeyListTitle = msg("Orvalin - default keys");
inline constexpr Text kKeyListIntro =
    msg("These keys work while a Kelvo window is in the foreground.\n"
        "\"Current deck\" is the deck chosen with Ctrl+Alt+1 to Ctrl+Alt+4.\n"
        "Press Ctrl+Alt+F12 in Kelvo to hear what any key does without using "
        "it.\n"
        "Change keys in the settings file, %APPDATA%\\Orvalin\\config.toml on "
        "Windows,\n~/.config/orvalin/config.toml on Linux.\n");
inline constexpr Text kKeyListLayerTitle = msg("The Orvalin layer");
// "{}" the layer key.
inline constexpr Text kKeyListLayer = msg(
    "Press {} in Kelvo, hear \"Orvalin\", then press any key below\n"
    "without Ctrl+Alt: 2 for Ctrl+Alt+2, Shift+L for Ctrl+Alt+Shift+L, F12 "
    "for\nCtrl+Alt+F12. Escape cancels. Use it where Ctrl+Alt and a key "
    "types a\ncharacter on your keyboard (AltGr on German, French, Spanish, "
    "Polish and\nother layouts), and on Linux for Ctrl+Alt+F1 to F12, which "
    "the X server\nkeeps. The settings file's layer_key changes the layer "
    "key.\n");
inline constexpr Text kKeyListOther = msg_c("key list section", "Other");

// The title of the guide's section that explains the Asks entries; a
// translated guide (README.<code>.txt) has it in its own language.
// TRANSLATORS: the guide's title for the section that lists these
// sentences; a translated guide uses exactly this text.
inline constexpr Text kGuideWhatToDo = msg("What to do when Orvalin says");

// How a sentence is heard: `opening` (empty, kErrorOpening, kNotReloaded or
// kActionFailed, each filled with what follows) followed by `text`. A
// Linux-only sentence is explained in the Linux guide.
struct Heard {
  Text opening;
  Text text;
  bool linux_only = false;
  // A plural entry: its plural, and the count whose form is meant.
  std::string_view many = {};
  uint64_t count = 0;
  // The text in the language in use.
  std::string_view spoken() const {
    return many.empty() ? std::string_view(text)
                        : translate_plural(text.english, many, count);
  }
};
constexpr Heard heard(AsksPlural entry, uint64_t count) {
  return {{}, msg(entry.plural.one), false, entry.plural.many, count};
}

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
    heard(kHotkeysTaken, 1),
    heard(kHotkeysTaken, 2),
    heard(kLeftToTyping, 1),
    heard(kLeftToTyping, 2),
    heard(kTypedLayer, 1),
    heard(kTypedLayer, 2),
    heard(kBusy, 1),
    heard(kBusy, 2),
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
    heard(kOnlyDecks, 1),
    heard(kOnlyDecks, 2),
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

// `sentence` with each "{}" replaced by the next of `parts`, in order, and
// each "{N}" (a translation's reordering, N from 0 to 9) by part N; a
// placeholder without a part stays as it is.
inline std::string fill(std::string_view sentence,
                        std::initializer_list<std::string_view> parts) {
  std::string out;
  size_t next = 0;
  for (;;) {
    const size_t gap = sentence.find('{');
    if (gap == std::string_view::npos) break;
    size_t index = next;
    size_t length = 0;
    if (sentence.substr(gap, 2) == "{}") {
      length = 2;
    } else if (gap + 2 < sentence.size() && sentence[gap + 1] >= '0' &&
               sentence[gap + 1] <= '9' && sentence[gap + 2] == '}') {
      index = static_cast<size_t>(sentence[gap + 1] - '0');
      length = 3;
    }
    if (length == 0 || index >= parts.size()) {
      out.append(sentence.substr(0, gap + 1));
      sentence.remove_prefix(gap + 1);
      continue;
    }
    out.append(sentence.substr(0, gap)).append(parts.begin()[index]);
    if (length == 2) ++next;
    sentence.remove_prefix(gap + length);
  }
  out.append(sentence);
  return out;
}

// The decimal separator of the language in use.
// TRANSLATORS: the decimal separator of numbers ("130.1 BPM"): "," in most
// European languages.
inline constexpr Text kDecimalSeparator = msg_c("decimal separator", ".");

// `number` ("130.1") with the language's decimal separator.
inline std::string localise_number(std::string number) {
  const std::string_view separator = kDecimalSeparator;
  const size_t dot = number.find('.');
  if (dot != std::string::npos && separator != ".") {
    number.replace(dot, 1, separator);
  }
  return number;
}

}  // namespace orvalin
