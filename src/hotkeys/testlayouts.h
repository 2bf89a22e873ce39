// AltGr maps of published Windows keyboard layouts, for tests of which
// Ctrl+Alt keys type a character. The data comes from Microsoft's published
// layout tables: the KBD*.DLL sources in Microsoft's Windows driver samples
// (input/layout: kbdgr.c, kbdfr.c, kbdus.c) and the Windows layout dumps in
// Microsoft's VS Code repository (keyboardLayouts/*.win.ts, taken from the
// installed DLLs with their VK codes), cross-checked against Microsoft's
// keyboard layout pages (goglobal/keyboards/kbd*.html). Where the sources
// differ, the note on the entry says which one is followed.
//
// Each entry lists the keys of the layout's VK-to-character table that type a
// character with Ctrl+Alt (shift = false) or with Shift+Ctrl+Alt
// (shift = true). Dead keys are listed with their own (spacing) character;
// the sources mark them only for French, where the note says so.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string_view>

namespace orvalin::testlayouts {

// One key that types a character with AltGr (Ctrl+Alt), and with
// Shift+AltGr when `shift`.
struct AltGrKey {
  uint32_t vk;
  bool shift;
  std::string_view typed;  // UTF-8
};

struct PublishedLayout {
  std::string_view name;
  std::string_view klid;
  std::span<const AltGrKey> keys;
};

// One key a line, so that every OEM key keeps its VK name beside it.
// clang-format off

// German, KBDGR.DLL.
inline constexpr AltGrKey kGerman[] = {
    {'2', false, "²"},
    {'3', false, "³"},
    {'7', false, "{"},
    {'8', false, "["},
    {'9', false, "]"},
    {'0', false, "}"},
    {'Q', false, "@"},
    {'E', false, "€"},
    {'M', false, "µ"},
    {0xDB, false, "\\"},  // VK_OEM_4 (ß key)
    {0xBB, false, "~"},   // VK_OEM_PLUS
    {0xE2, false, "|"},   // VK_OEM_102
    // Capital sharp s: in the dumps of current Windows; the 2000 kbdgr.c
    // sample has no Shift+AltGr column.
    {0xDB, true, "ẞ"},  // VK_OEM_4
};

// French (AZERTY), KBDFR.DLL. VK 'A' is the key that types 'a'.
inline constexpr AltGrKey kFrench[] = {
    {'2', false, "~"},  // dead key
    {'3', false, "#"},
    {'4', false, "{"},
    {'5', false, "["},
    {'6', false, "|"},
    {'7', false, "`"},  // dead key
    {'8', false, "\\"},
    {'9', false, "^"},
    {'0', false, "@"},
    {'E', false, "€"},
    {0xDB, false, "]"},  // VK_OEM_4 (')' key)
    {0xBB, false, "}"},  // VK_OEM_PLUS ('=' key)
    {0xBA, false, "¤"},  // VK_OEM_1 ('$' key)
};

// Spanish, KBDSP.DLL. Both sources put '€' on AltGr+5 as well as AltGr+E.
inline constexpr AltGrKey kSpanish[] = {
    {'1', false, "|"},
    {'2', false, "@"},
    {'3', false, "#"},
    {'4', false, "~"},
    {'5', false, "€"},
    {'6', false, "¬"},
    {'E', false, "€"},
    {0xBA, false, "["},   // VK_OEM_1 ('`' key)
    {0xBB, false, "]"},   // VK_OEM_PLUS
    {0xBF, false, "}"},   // VK_OEM_2 ('ç' key)
    {0xDE, false, "{"},   // VK_OEM_7 ('´' key)
    {0xDC, false, "\\"},  // VK_OEM_5 ('º' key)
};

// Italian, KBDIT.DLL.
inline constexpr AltGrKey kItalian[] = {
    {'5', false, "€"},
    {'E', false, "€"},
    {0xBA, false, "["},  // VK_OEM_1 ('è' key)
    {0xBB, false, "]"},  // VK_OEM_PLUS
    {0xC0, false, "@"},  // VK_OEM_3 ('ò' key)
    {0xDE, false, "#"},  // VK_OEM_7 ('à' key)
    {0xBA, true, "{"},   // VK_OEM_1
    {0xBB, true, "}"},   // VK_OEM_PLUS
};

// Polish (Programmers), KBDPL1.DLL. Both sources put '€' on AltGr+U.
inline constexpr AltGrKey kPolishProgrammers[] = {
    {'A', false, "ą"},
    {'C', false, "ć"},
    {'E', false, "ę"},
    {'L', false, "ł"},
    {'N', false, "ń"},
    {'O', false, "ó"},
    {'S', false, "ś"},
    {'U', false, "€"},
    {'X', false, "ź"},
    {'Z', false, "ż"},
    {'A', true, "Ą"},
    {'C', true, "Ć"},
    {'E', true, "Ę"},
    {'L', true, "Ł"},
    {'N', true, "Ń"},
    {'O', true, "Ó"},
    {'S', true, "Ś"},
    {'X', true, "Ź"},
    {'Z', true, "Ż"},
};

// Swedish, KBDSW.DLL.
inline constexpr AltGrKey kSwedish[] = {
    {'2', false, "@"},
    {'3', false, "£"},
    {'4', false, "$"},
    {'5', false, "€"},
    {'7', false, "{"},
    {'8', false, "["},
    {'9', false, "]"},
    {'0', false, "}"},
    {'E', false, "€"},
    {'M', false, "µ"},
    {0xBB, false, "\\"},  // VK_OEM_PLUS
    {0xBA, false, "~"},   // VK_OEM_1 ('¨' key)
    {0xE2, false, "|"},   // VK_OEM_102
};

// Norwegian, KBDNO.DLL.
inline constexpr AltGrKey kNorwegian[] = {
    {'2', false, "@"},
    {'3', false, "£"},
    {'4', false, "$"},
    {'5', false, "€"},
    {'7', false, "{"},
    {'8', false, "["},
    {'9', false, "]"},
    {'0', false, "}"},
    {'E', false, "€"},
    {'M', false, "µ"},
    {0xDB, false, "´"},  // VK_OEM_4 ('\' key)
    {0xBA, false, "~"},  // VK_OEM_1 ('¨' key)
};

// Danish, KBDDA.DLL.
inline constexpr AltGrKey kDanish[] = {
    {'2', false, "@"},
    {'3', false, "£"},
    {'4', false, "$"},
    {'5', false, "€"},
    {'7', false, "{"},
    {'8', false, "["},
    {'9', false, "]"},
    {'0', false, "}"},
    {'E', false, "€"},
    {'M', false, "µ"},
    {0xDB, false, "|"},   // VK_OEM_4 ('´' key)
    {0xBA, false, "~"},   // VK_OEM_1 ('¨' key)
    {0xE2, false, "\\"},  // VK_OEM_102
};

// Czech (QWERTZ), KBDCZ.DLL. AltGr+'-' = '*' is in the dumps of the DLL but
// not on the older layout page; the dump is followed.
inline constexpr AltGrKey kCzech[] = {
    {'1', false, "~"},
    {'2', false, "ˇ"},
    {'3', false, "^"},
    {'4', false, "˘"},
    {'5', false, "°"},
    {'6', false, "˛"},
    {'7', false, "`"},
    {'8', false, "˙"},
    {'9', false, "´"},
    {'0', false, "˝"},
    {'Q', false, "\\"},
    {'W', false, "|"},
    {'E', false, "€"},
    {'S', false, "đ"},
    {'D', false, "Đ"},
    {'F', false, "["},
    {'G', false, "]"},
    {'K', false, "ł"},
    {'L', false, "Ł"},
    {'X', false, "#"},
    {'C', false, "&"},
    {'V', false, "@"},
    {'B', false, "{"},
    {'N', false, "}"},
    {0xBB, false, "¨"},  // VK_OEM_PLUS ('=' key)
    {0xBF, false, "¸"},  // VK_OEM_2 ('´' key)
    {0xDB, false, "÷"},  // VK_OEM_4 ('ú' key)
    {0xDD, false, "×"},  // VK_OEM_6 (')' key)
    {0xBA, false, "$"},  // VK_OEM_1 ('ů' key)
    {0xDE, false, "ß"},  // VK_OEM_7 ('§' key)
    {0xDC, false, "¤"},  // VK_OEM_5 ('¨' key)
    {0xBC, false, "<"},  // VK_OEM_COMMA
    {0xBE, false, ">"},  // VK_OEM_PERIOD
    {0xBD, false, "*"},  // VK_OEM_MINUS
};

// Swiss German, KBDSG.DLL.
inline constexpr AltGrKey kSwissGerman[] = {
    {'1', false, "¦"},
    {'2', false, "@"},
    {'3', false, "#"},
    {'4', false, "°"},
    {'5', false, "§"},
    {'6', false, "¬"},
    {'7', false, "|"},
    {'8', false, "¢"},
    {'E', false, "€"},
    {0xDB, false, "´"},   // VK_OEM_4 (apostrophe key)
    {0xDD, false, "~"},   // VK_OEM_6 ('^' key)
    {0xBA, false, "["},   // VK_OEM_1 ('ü' key)
    {0xC0, false, "]"},   // VK_OEM_3 ('¨' key)
    {0xDF, false, "}"},   // VK_OEM_8 ('$' key)
    {0xDC, false, "{"},   // VK_OEM_5 ('ä' key)
    {0xE2, false, "\\"},  // VK_OEM_102
};

// Portuguese, KBDPO.DLL.
inline constexpr AltGrKey kPortuguese[] = {
    {'2', false, "@"},
    {'3', false, "£"},
    {'4', false, "§"},
    {'5', false, "€"},
    {'7', false, "{"},
    {'8', false, "["},
    {'9', false, "]"},
    {'0', false, "}"},
    {'E', false, "€"},
    {0xBB, false, "¨"},  // VK_OEM_PLUS ('+' key)
    {0xBA, false, "]"},  // VK_OEM_1 ('´' key)
};

// Portuguese (Brazilian ABNT), KBDBR.DLL, the layout of ABNT2 keyboards.
inline constexpr AltGrKey kPortugueseBrazil[] = {
    {'1', false, "¹"},
    {'2', false, "²"},
    {'3', false, "³"},
    {'4', false, "£"},
    {'5', false, "¢"},
    {'6', false, "¬"},
    {'Q', false, "/"},
    {'W', false, "?"},
    {'E', false, "°"},
    {'C', false, "₢"},
    {0xBB, false, "§"},  // VK_OEM_PLUS
    {0xDD, false, "ª"},  // VK_OEM_6 ('[' key)
    {0xDC, false, "º"},  // VK_OEM_5 (']' key)
    {0xC1, false, "°"},  // VK_ABNT_C1 ('/' key)
};

// United Kingdom, KBDUK.DLL. AltGr on the '#' key is in the dumps of the DLL
// but not on the older layout page; the dump is followed.
inline constexpr AltGrKey kUnitedKingdom[] = {
    {'4', false, "€"},
    {'A', false, "á"},
    {'E', false, "é"},
    {'I', false, "í"},
    {'O', false, "ó"},
    {'U', false, "ú"},
    {0xDF, false, "¦"},   // VK_OEM_8 ('`' key)
    {0xDE, false, "\\"},  // VK_OEM_7 ('#' key)
    {'A', true, "Á"},
    {'E', true, "É"},
    {'I', true, "Í"},
    {'O', true, "Ó"},
    {'U', true, "Ú"},
    {0xDE, true, "|"},  // VK_OEM_7
};

// United States-International, KBDUSX.DLL.
inline constexpr AltGrKey kUnitedStatesInternational[] = {
    {'1', false, "¡"},
    {'2', false, "²"},
    {'3', false, "³"},
    {'4', false, "¤"},
    {'5', false, "€"},
    {'6', false, "¼"},
    {'7', false, "½"},
    {'8', false, "¾"},
    {'9', false, "‘"},
    {'0', false, "’"},
    {0xBD, false, "¥"},  // VK_OEM_MINUS
    {0xBB, false, "×"},  // VK_OEM_PLUS
    {'Q', false, "ä"},
    {'W', false, "å"},
    {'E', false, "é"},
    {'R', false, "®"},
    {'T', false, "þ"},
    {'Y', false, "ü"},
    {'U', false, "ú"},
    {'I', false, "í"},
    {'O', false, "ó"},
    {'P', false, "ö"},
    {0xDB, false, "«"},  // VK_OEM_4
    {0xDD, false, "»"},  // VK_OEM_6
    {0xDC, false, "¬"},  // VK_OEM_5
    {'A', false, "á"},
    {'S', false, "ß"},
    {'D', false, "ð"},
    {'L', false, "ø"},
    {0xBA, false, "¶"},  // VK_OEM_1
    {0xDE, false, "´"},  // VK_OEM_7
    {'Z', false, "æ"},
    {'C', false, "©"},
    {'N', false, "ñ"},
    {'M', false, "µ"},
    {0xBC, false, "ç"},  // VK_OEM_COMMA
    {0xBF, false, "¿"},  // VK_OEM_2
    {'1', true, "¹"},
    {'4', true, "£"},
    {0xBB, true, "÷"},  // VK_OEM_PLUS
    {'Q', true, "Ä"},
    {'W', true, "Å"},
    {'E', true, "É"},
    {'T', true, "Þ"},
    {'Y', true, "Ü"},
    {'U', true, "Ú"},
    {'I', true, "Í"},
    {'O', true, "Ó"},
    {'P', true, "Ö"},
    {0xDC, true, "¦"},  // VK_OEM_5
    {'A', true, "Á"},
    {'S', true, "§"},
    {'D', true, "Ð"},
    {'L', true, "Ø"},
    {0xBA, true, "°"},  // VK_OEM_1
    {0xDE, true, "¨"},  // VK_OEM_7
    {'Z', true, "Æ"},
    {'C', true, "¢"},
    {'N', true, "Ñ"},
    {0xBC, true, "Ç"},  // VK_OEM_COMMA
};

// clang-format on

// United States, KBDUS.DLL: no Ctrl+Alt column at all.
inline constexpr std::span<const AltGrKey> kUnitedStates{};

inline constexpr std::array kPublishedLayouts = {
    PublishedLayout{"German", "00000407", kGerman},
    PublishedLayout{"French", "0000040C", kFrench},
    PublishedLayout{"Spanish", "0000040A", kSpanish},
    PublishedLayout{"Italian", "00000410", kItalian},
    PublishedLayout{"Polish (Programmers)", "00000415", kPolishProgrammers},
    PublishedLayout{"Swedish", "0000041D", kSwedish},
    PublishedLayout{"Norwegian", "00000414", kNorwegian},
    PublishedLayout{"Danish", "00000406", kDanish},
    PublishedLayout{"Czech", "00000405", kCzech},
    PublishedLayout{"Swiss German", "00000807", kSwissGerman},
    PublishedLayout{"Portuguese", "00000816", kPortuguese},
    PublishedLayout{"Portuguese (Brazil ABNT)", "00000416", kPortugueseBrazil},
    PublishedLayout{"United Kingdom", "00000809", kUnitedKingdom},
    PublishedLayout{"United States-International", "00020409",
                    kUnitedStatesInternational},
    PublishedLayout{"US", "00000409", kUnitedStates},
};

}  // namespace orvalin::testlayouts
