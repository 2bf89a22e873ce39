#include "base/sentences.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "documents.h"

namespace orvalin {
namespace {

// Runs of white space as one space, none at either end.
std::string squeezed(std::string_view text) {
  static const std::regex space("[ \n\r\t]+");
  std::string out = std::regex_replace(std::string(text), space, " ");
  if (out.starts_with(' ')) out.erase(0, 1);
  if (out.ends_with(' ')) out.pop_back();
  return out;
}

// The entries of a guide's "What to do when Orvalin says ..." section: of
// each paragraph, the lines at the margin (the sentence; the indented lines
// after them say what to do).
std::vector<std::string> entries(std::string_view guide_text,
                                 std::string_view title) {
  std::vector<std::string> lines;
  std::istringstream in{std::string(guide_text)};
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  const auto is_title = [&](size_t i) {
    return i + 1 < lines.size() && !lines[i + 1].empty() &&
           lines[i + 1].find_first_not_of('-') == std::string::npos;
  };
  std::vector<std::string> found;
  std::string entry;
  bool inside = false;
  for (size_t i = 0; i < lines.size(); ++i) {
    if (is_title(i)) {
      inside = lines[i].starts_with(title);
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
// placeholders, "{}" or "{N}"), in order.
bool names(const std::string& entry, const std::string& sentence) {
  static const std::regex placeholder("\\{[0-9]?\\}");
  size_t from = 0;
  std::sregex_token_iterator part(sentence.begin(), sentence.end(), placeholder,
                                  -1);
  for (; part != std::sregex_token_iterator(); ++part) {
    const std::string fixed = squeezed(part->str());
    if (fixed.empty()) continue;
    from = entry.find(fixed, from);
    if (from == std::string::npos) return false;
    from += fixed.size();
  }
  return true;
}

// A sentence of the list as heard in the language in use.
std::string heard_text(const Heard& heard) {
  const std::string_view opening = heard.opening;
  return opening.find("{}") == std::string_view::npos
             ? std::string(opening) + std::string(heard.spoken())
             : fill(opening, {heard.spoken()});
}

// Speaks `code` while it lives.
struct LanguageScope {
  explicit LanguageScope(std::string_view code) { set_language(code); }
  ~LanguageScope() { set_language(kEnglish); }
};

// Each shipped language has its guide, and it explains each sentence as that
// language says it: in English packaging/README.txt, and the Linux ones
// packaging/linux/README.Linux.txt; in every other language
// packaging/README.<code>.txt, the Linux ones in the same section.
TEST(SentencesTest, GuidesExplainEach) {
  struct Guide {
    std::string_view code, text, linux_text;
  };
  std::vector<Guide> guides = {{kEnglish, kUserGuide, kLinuxGuide}};
  for (const Catalogue& catalogue : catalogues()) {
    const auto guide = std::ranges::find(kTranslatedGuides, catalogue.code,
                                         &TranslatedGuide::code);
    EXPECT_NE(guide, std::end(kTranslatedGuides))
        << "no packaging/README." << catalogue.code << ".txt";
    if (guide == std::end(kTranslatedGuides)) continue;
    guides.push_back({catalogue.code, guide->text, guide->text});
  }
  for (const Guide& guide : guides) {
    LanguageScope language(guide.code);
    const std::vector<std::string> found = entries(guide.text, kGuideWhatToDo);
    const std::vector<std::string> linux_found =
        entries(guide.linux_text, kGuideWhatToDo);
    ASSERT_GE(found.size(), 10u)
        << "no \"" << std::string_view(kGuideWhatToDo) << "\" section in the "
        << guide.code << " guide";
    for (const Heard& heard : kAskingSentences) {
      const std::string sentence = heard_text(heard);
      EXPECT_TRUE(std::ranges::any_of(
          heard.linux_only ? linux_found : found,
          [&](const std::string& entry) { return names(entry, sentence); }))
          << "the " << guide.code << (heard.linux_only ? " Linux" : "")
          << " guide has no entry for \"" << sentence << "\"";
    }
  }
}

// Placeholders: in order, numbered (a translation's order), and left alone
// where there is no part for them.
TEST(SentencesTest, FillsPlaceholders) {
  EXPECT_EQ(fill("Deck {} loaded. {}", {"2", "Night Drive"}),
            "Deck 2 loaded. Night Drive");
  EXPECT_EQ(fill("{1} für {0}", {"Deck 2", "130"}), "130 für Deck 2");
  EXPECT_EQ(fill("{} and {} {", {"a"}), "a and {} {");
  EXPECT_EQ(fill("{9} {x}", {"a"}), "{9} {x}");
}

}  // namespace
}  // namespace orvalin
