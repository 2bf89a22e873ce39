#include "controls/track.h"

#include <string_view>
#include <vector>

namespace orvalin {

namespace {

std::string_view trim_end(std::string_view text) {
  size_t last = text.find_last_not_of(" \t\r\n\v\f");
  return last == std::string_view::npos ? std::string_view{}
                                        : text.substr(0, last + 1);
}

// Times, tempos and counters that a skin shows next to the track's texts.
bool is_only_digits_and_marks(std::string_view text) {
  if (text.empty()) return false;
  for (char c : text) {
    if (!((c >= '0' && c <= '9') || c == ':' || c == '.')) return false;
  }
  return true;
}

// The text before a trailing ellipsis ("…" or "..."), trimmed at its end, or
// nothing when the text is not shortened.
std::optional<std::string_view> shortened_stem(std::string_view text) {
  constexpr std::string_view kEllipsis = "\xE2\x80\xA6";  // U+2026
  constexpr std::string_view kDots = "...";
  if (text.ends_with(kEllipsis)) {
    return trim_end(text.substr(0, text.size() - kEllipsis.size()));
  }
  if (text.ends_with(kDots)) {
    return trim_end(text.substr(0, text.size() - kDots.size()));
  }
  return std::nullopt;
}

}  // namespace

bool any_shortened(const std::vector<DeckLabel>& labels) {
  for (const DeckLabel& label : labels) {
    if (!is_only_digits_and_marks(label.text) && shortened_stem(label.text)) {
      return true;
    }
  }
  return false;
}

std::string describe_labels(const std::vector<DeckLabel>& labels,
                            const SelectedTrack* track) {
  std::vector<std::string> texts;
  for (const DeckLabel& label : labels) {
    if (is_only_digits_and_marks(label.text)) continue;
    texts.push_back(label.text);
  }

  if (track != nullptr) {
    std::vector<std::string> candidates;
    for (const char* name : {"title", "artist", "album"}) {
      auto it = track->fields.find(name);
      if (it != track->fields.end()) candidates.push_back(it->second);
    }
    for (std::string& text : texts) {
      std::optional<std::string_view> stem = shortened_stem(text);
      if (!stem) continue;
      for (const std::string& candidate : candidates) {
        if (candidate.size() > stem->size() && candidate.starts_with(*stem)) {
          text = candidate;
          break;
        }
      }
    }
  }

  // Empty labels carry nothing to say; joining them would only put stray
  // ". " separators into the sentence.
  std::string spoken;
  for (const std::string& text : texts) {
    if (text.empty()) continue;
    if (!spoken.empty()) spoken += ". ";
    spoken += text;
  }
  return spoken;
}

std::optional<std::string> deck_track_description(AppState& state,
                                                  uint8_t deck) {
  Result<std::vector<DeckLabel>> labels = state.bridge->deck_info(deck);
  if (!labels) return std::nullopt;
  if (!any_shortened(*labels)) return describe_labels(*labels, nullptr);
  const Result<SelectedTrack> track = state.bridge->selected_track();
  return describe_labels(*labels, track ? &*track : nullptr);
}

}  // namespace orvalin
