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
// (shift = true). Dead keys are listed with their own (spacing) character.
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

// The OEM keys' virtual-key codes (winuser.h).
inline constexpr uint32_t kOem1 = 0xBA, kOemPlus = 0xBB, kOemComma = 0xBC,
                          kOemMinus = 0xBD, kOemPeriod = 0xBE, kOem2 = 0xBF,
                          kOem3 = 0xC0, kAbntC1 = 0xC1, kAbntC2 = 0xC2,
                          kOem4 = 0xDB, kOem5 = 0xDC, kOem6 = 0xDD,
                          kOem7 = 0xDE, kOem8 = 0xDF, kOem102 = 0xE2;

struct PublishedLayout {
  std::string_view name;
  std::string_view klid;
  std::span<const AltGrKey> keys;
};

// Several keys a line.
// clang-format off

// German, KBDGR.DLL.
inline constexpr AltGrKey kGerman[] = {
    {'2', false, "²"}, {'3', false, "³"}, {'7', false, "{"}, {'8', false, "["},
    {'9', false, "]"}, {'0', false, "}"}, {'Q', false, "@"}, {'E', false, "€"},
    {'M', false, "µ"}, {kOem4, false, "\\"}, {kOemPlus, false, "~"},
    {kOem102, false, "|"},
    // Capital sharp s: in the dumps of current Windows; the 2000 kbdgr.c
    // sample has no Shift+AltGr column.
    {kOem4, true, "ẞ"},
};

// French (AZERTY), KBDFR.DLL. VK 'A' is the key that types 'a'.
inline constexpr AltGrKey kFrench[] = {
    {'2', false, "~"}, {'3', false, "#"}, {'4', false, "{"}, {'5', false, "["},
    {'6', false, "|"}, {'7', false, "`"}, {'8', false, "\\"}, {'9', false, "^"},
    {'0', false, "@"}, {'E', false, "€"}, {kOem4, false, "]"},
    {kOemPlus, false, "}"}, {kOem1, false, "¤"},
};

// Spanish, KBDSP.DLL. Both sources put '€' on AltGr+5 as well as AltGr+E.
inline constexpr AltGrKey kSpanish[] = {
    {'1', false, "|"}, {'2', false, "@"}, {'3', false, "#"}, {'4', false, "~"},
    {'5', false, "€"}, {'6', false, "¬"}, {'E', false, "€"},
    {kOem1, false, "["}, {kOemPlus, false, "]"}, {kOem2, false, "}"},
    {kOem7, false, "{"}, {kOem5, false, "\\"},
};

// Italian, KBDIT.DLL.
inline constexpr AltGrKey kItalian[] = {
    {'5', false, "€"}, {'E', false, "€"}, {kOem1, false, "["},
    {kOemPlus, false, "]"}, {kOem3, false, "@"}, {kOem7, false, "#"},
    {kOem1, true, "{"}, {kOemPlus, true, "}"},
};

// Polish (Programmers), KBDPL1.DLL. Both sources put '€' on AltGr+U.
inline constexpr AltGrKey kPolishProgrammers[] = {
    {'A', false, "ą"}, {'C', false, "ć"}, {'E', false, "ę"}, {'L', false, "ł"},
    {'N', false, "ń"}, {'O', false, "ó"}, {'S', false, "ś"}, {'U', false, "€"},
    {'X', false, "ź"}, {'Z', false, "ż"}, {'A', true, "Ą"}, {'C', true, "Ć"},
    {'E', true, "Ę"}, {'L', true, "Ł"}, {'N', true, "Ń"}, {'O', true, "Ó"},
    {'S', true, "Ś"}, {'X', true, "Ź"}, {'Z', true, "Ż"},
};

// Swedish, KBDSW.DLL.
inline constexpr AltGrKey kSwedish[] = {
    {'2', false, "@"}, {'3', false, "£"}, {'4', false, "$"}, {'5', false, "€"},
    {'7', false, "{"}, {'8', false, "["}, {'9', false, "]"}, {'0', false, "}"},
    {'E', false, "€"}, {'M', false, "µ"}, {kOemPlus, false, "\\"},
    {kOem1, false, "~"}, {kOem102, false, "|"},
};

// Norwegian, KBDNO.DLL.
inline constexpr AltGrKey kNorwegian[] = {
    {'2', false, "@"}, {'3', false, "£"}, {'4', false, "$"}, {'5', false, "€"},
    {'7', false, "{"}, {'8', false, "["}, {'9', false, "]"}, {'0', false, "}"},
    {'E', false, "€"}, {'M', false, "µ"}, {kOem4, false, "´"},
    {kOem1, false, "~"},
};

// Danish, KBDDA.DLL.
inline constexpr AltGrKey kDanish[] = {
    {'2', false, "@"}, {'3', false, "£"}, {'4', false, "$"}, {'5', false, "€"},
    {'7', false, "{"}, {'8', false, "["}, {'9', false, "]"}, {'0', false, "}"},
    {'E', false, "€"}, {'M', false, "µ"}, {kOem4, false, "|"},
    {kOem1, false, "~"}, {kOem102, false, "\\"},
};

// Czech (QWERTZ), KBDCZ.DLL. AltGr+'-' = '*' is in the dumps of the DLL but
// not on the older layout page; the dump is followed.
inline constexpr AltGrKey kCzech[] = {
    {'1', false, "~"}, {'2', false, "ˇ"}, {'3', false, "^"}, {'4', false, "˘"},
    {'5', false, "°"}, {'6', false, "˛"}, {'7', false, "`"}, {'8', false, "˙"},
    {'9', false, "´"}, {'0', false, "˝"}, {'Q', false, "\\"}, {'W', false, "|"},
    {'E', false, "€"}, {'S', false, "đ"}, {'D', false, "Đ"}, {'F', false, "["},
    {'G', false, "]"}, {'K', false, "ł"}, {'L', false, "Ł"}, {'X', false, "#"},
    {'C', false, "&"}, {'V', false, "@"}, {'B', false, "{"}, {'N', false, "}"},
    {kOemPlus, false, "¨"}, {kOem2, false, "¸"}, {kOem4, false, "÷"},
    {kOem6, false, "×"}, {kOem1, false, "$"}, {kOem7, false, "ß"},
    {kOem5, false, "¤"}, {kOemComma, false, "<"}, {kOemPeriod, false, ">"},
    {kOemMinus, false, "*"},
};

// Swiss German, KBDSG.DLL.
inline constexpr AltGrKey kSwissGerman[] = {
    {'1', false, "¦"}, {'2', false, "@"}, {'3', false, "#"}, {'4', false, "°"},
    {'5', false, "§"}, {'6', false, "¬"}, {'7', false, "|"}, {'8', false, "¢"},
    {'E', false, "€"}, {kOem4, false, "´"}, {kOem6, false, "~"},
    {kOem1, false, "["}, {kOem3, false, "]"}, {kOem8, false, "}"},
    {kOem5, false, "{"}, {kOem102, false, "\\"},
};

// Portuguese, KBDPO.DLL.
inline constexpr AltGrKey kPortuguese[] = {
    {'2', false, "@"}, {'3', false, "£"}, {'4', false, "§"}, {'5', false, "€"},
    {'7', false, "{"}, {'8', false, "["}, {'9', false, "]"}, {'0', false, "}"},
    {'E', false, "€"}, {kOemPlus, false, "¨"}, {kOem1, false, "]"},
};

// Portuguese (Brazilian ABNT), KBDBR.DLL, the layout of ABNT2 keyboards.
inline constexpr AltGrKey kPortugueseBrazil[] = {
    {'1', false, "¹"}, {'2', false, "²"}, {'3', false, "³"}, {'4', false, "£"},
    {'5', false, "¢"}, {'6', false, "¬"}, {'Q', false, "/"}, {'W', false, "?"},
    {'E', false, "°"}, {'C', false, "₢"}, {kOemPlus, false, "§"},
    {kOem6, false, "ª"}, {kOem5, false, "º"}, {kAbntC1, false, "°"},
};

// United Kingdom, KBDUK.DLL. AltGr on the '#' key is in the dumps of the DLL
// but not on the older layout page; the dump is followed.
inline constexpr AltGrKey kUnitedKingdom[] = {
    {'4', false, "€"}, {'A', false, "á"}, {'E', false, "é"}, {'I', false, "í"},
    {'O', false, "ó"}, {'U', false, "ú"}, {kOem8, false, "¦"},
    {kOem7, false, "\\"}, {'A', true, "Á"}, {'E', true, "É"}, {'I', true, "Í"},
    {'O', true, "Ó"}, {'U', true, "Ú"}, {kOem7, true, "|"},
};

// United States-International, KBDUSX.DLL.
inline constexpr AltGrKey kUnitedStatesInternational[] = {
    {'1', false, "¡"}, {'2', false, "²"}, {'3', false, "³"}, {'4', false, "¤"},
    {'5', false, "€"}, {'6', false, "¼"}, {'7', false, "½"}, {'8', false, "¾"},
    {'9', false, "‘"}, {'0', false, "’"}, {kOemMinus, false, "¥"},
    {kOemPlus, false, "×"}, {'Q', false, "ä"}, {'W', false, "å"},
    {'E', false, "é"}, {'R', false, "®"}, {'T', false, "þ"}, {'Y', false, "ü"},
    {'U', false, "ú"}, {'I', false, "í"}, {'O', false, "ó"}, {'P', false, "ö"},
    {kOem4, false, "«"}, {kOem6, false, "»"}, {kOem5, false, "¬"},
    {'A', false, "á"}, {'S', false, "ß"}, {'D', false, "ð"}, {'L', false, "ø"},
    {kOem1, false, "¶"}, {kOem7, false, "´"}, {'Z', false, "æ"},
    {'C', false, "©"}, {'N', false, "ñ"}, {'M', false, "µ"},
    {kOemComma, false, "ç"}, {kOem2, false, "¿"}, {'1', true, "¹"},
    {'4', true, "£"}, {kOemPlus, true, "÷"}, {'Q', true, "Ä"}, {'W', true, "Å"},
    {'E', true, "É"}, {'T', true, "Þ"}, {'Y', true, "Ü"}, {'U', true, "Ú"},
    {'I', true, "Í"}, {'O', true, "Ó"}, {'P', true, "Ö"}, {kOem5, true, "¦"},
    {'A', true, "Á"}, {'S', true, "§"}, {'D', true, "Ð"}, {'L', true, "Ø"},
    {kOem1, true, "°"}, {kOem7, true, "¨"}, {'Z', true, "Æ"}, {'C', true, "¢"},
    {'N', true, "Ñ"}, {kOemComma, true, "Ç"},
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
