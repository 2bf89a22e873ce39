#include "base/sentences.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "documents.h"

namespace orvalin {
namespace {

// Runs of white space as one space, none at either end.
std::string squeezed(std::string_view text) {
  std::string out;
  for (char c : text) {
    const bool space = c == ' ' || c == '\n' || c == '\r' || c == '\t';
    if (!space) {
      out.push_back(c);
    } else if (!out.empty() && out.back() != ' ') {
      out.push_back(' ');
    }
  }
  if (!out.empty() && out.back() == ' ') out.pop_back();
  return out;
}

// The entries of a guide's "What to do when Orvalin says ..." section: of
// each paragraph, the lines at the margin (the sentence; the indented lines
// after them say what to do).
std::vector<std::string> entries(std::string_view guide_text) {
  std::vector<std::string> lines;
  for (std::string_view rest = guide_text; !rest.empty();) {
    const size_t end = std::min(rest.find('\n'), rest.size());
    lines.emplace_back(rest.substr(0, end));
    rest.remove_prefix(std::min(end + 1, rest.size()));
  }
  const auto is_title = [&](size_t i) {
    return i + 1 < lines.size() && !lines[i + 1].empty() &&
           lines[i + 1].find_first_not_of('-') == std::string::npos;
  };
  std::vector<std::string> found;
  std::string entry;
  bool inside = false;
  for (size_t i = 0; i < lines.size(); ++i) {
    if (is_title(i)) {
      inside = lines[i].starts_with("What to do when Orvalin says");
      ++i;
      continue;
    }
    if (!inside) continue;
    if (lines[i].empty()) {
      if (!entry.empty()) found.push_back(squeezed(entry));
      entry.clear();
    } else if (lines[i][0] != ' ') {
      entry += lines[i] + ' ';
    }
  }
  if (!entry.empty()) found.push_back(squeezed(entry));
  return found;
}

// Whether `entry` names the sentence: its fixed parts (those between the
// "{}"), in order.
bool names(const std::string& entry, std::string_view sentence) {
  size_t from = 0;
  for (;;) {
    const size_t gap = std::min(sentence.find("{}"), sentence.size());
    const std::string part = squeezed(sentence.substr(0, gap));
    if (!part.empty()) {
      from = entry.find(part, from);
      if (from == std::string::npos) return false;
      from += part.size();
    }
    if (gap == sentence.size()) return true;
    sentence.remove_prefix(gap + 2);
  }
}

TEST(SentencesTest, UserGuideExplainsEach) {
  const std::vector<std::string> guide = entries(kUserGuide);
  const std::vector<std::string> linux_guide = entries(kLinuxGuide);
  ASSERT_GE(guide.size(), 10u) << "no \"What to do\" section in README.txt";
  for (const Heard& heard : kAskingSentences) {
    const std::string sentence =
        heard.opening.find("{}") == std::string_view::npos
            ? std::string(heard.opening) + std::string(heard.text)
            : fill(heard.opening, {heard.text});
    EXPECT_TRUE(std::ranges::any_of(
        heard.linux_only ? linux_guide : guide,
        [&](const std::string& entry) { return names(entry, sentence); }))
        << (heard.linux_only ? "packaging/linux/README.Linux.txt"
                             : "packaging/README.txt")
        << " has no entry for \"" << sentence
        << "\" in \"What to do when Orvalin says ...\"";
  }
}

}  // namespace
}  // namespace orvalin
