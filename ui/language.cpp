#include "ui/language.h"

#include "resources/resource_ids.h"

namespace lang {

int LanguageIdFromLocale(const QLocale& locale) {
  if (locale.language() == QLocale::Chinese) {
    switch (locale.territory()) {
      case QLocale::China: return kChineseChina;
      case QLocale::HongKong: return kChineseHongKong;
      case QLocale::Taiwan: return kChineseTaiwan;
      case QLocale::Singapore: return kChineseSingapore;
      case QLocale::Macao: return kChineseMacao;
      default: return kNeutral;
    }
  }
  if (locale.language() == QLocale::English && locale.territory() == QLocale::UnitedStates)
    return kEnglishUnitedStates;
  return kNeutral;
}

int LanguageFlagFor(int languageId, int current) {
  if (languageId == kChineseChina || languageId == kChineseHongKong) return res::kLangChinese;
  return current;
}

}  // namespace lang
