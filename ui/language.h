// The interface language decided at start-up from the system's default language.
//
// The system language is read as a 16-bit language identifier: simplified Chinese of
// mainland China is 0x0804, Chinese of Hong Kong 0x0C04. Only those two turn the
// interface Chinese; every other language, Taiwan's Chinese included, keeps English.
#pragma once

#include <QLocale>

namespace lang {

inline constexpr int kChineseChina = 0x0804;
inline constexpr int kChineseHongKong = 0x0C04;
inline constexpr int kChineseTaiwan = 0x0404;
inline constexpr int kChineseSingapore = 0x1004;
inline constexpr int kChineseMacao = 0x1404;
inline constexpr int kEnglishUnitedStates = 0x0409;
inline constexpr int kNeutral = 0x0000;

// The language identifier of a locale: the Chinese territories above and US English; any
// other locale answers kNeutral (which decides nothing).
int LanguageIdFromLocale(const QLocale& locale);

// The language flag (0 Chinese, 1 English) for a language identifier, starting from the
// flag's current value: only the two Chinese identifiers change it.
int LanguageFlagFor(int languageId, int current);

}  // namespace lang
