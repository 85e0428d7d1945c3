// The interface language picked from the system locale.
#include <gtest/gtest.h>

#include <QLocale>

#include "ui/language.h"
#include "resources/resource_ids.h"

namespace {

struct LocaleRow {
  const char* name;
  int languageId;
  int flag;  // from the initial flag 1
};

class LanguagePickTest : public ::testing::TestWithParam<LocaleRow> {};

TEST_P(LanguagePickTest, OnlyMainlandAndHongKongChineseTurnTheMenusChinese) {
  const LocaleRow r = GetParam();
  const QLocale locale(QString::fromLatin1(r.name));
  EXPECT_EQ(lang::LanguageIdFromLocale(locale), r.languageId) << r.name;
  EXPECT_EQ(lang::LanguageFlagFor(lang::LanguageIdFromLocale(locale), res::kLangEnglish), r.flag)
      << r.name;
}

INSTANTIATE_TEST_SUITE_P(
    Locales, LanguagePickTest,
    ::testing::Values(LocaleRow{"zh_CN", 0x0804, 0}, LocaleRow{"zh_HK", 0x0C04, 0},
                      LocaleRow{"zh_Hans_CN", 0x0804, 0}, LocaleRow{"zh_TW", 0x0404, 1},
                      LocaleRow{"zh_SG", 0x1004, 1}, LocaleRow{"zh_MO", 0x1404, 1},
                      LocaleRow{"en_US", 0x0409, 1}, LocaleRow{"en_GB", 0x0000, 1},
                      LocaleRow{"de_DE", 0x0000, 1}, LocaleRow{"ja_JP", 0x0000, 1},
                      LocaleRow{"C", 0x0000, 1}));

TEST(LanguageFlagTest, OtherLanguagesKeepTheCurrentFlag) {
  // The flag only ever turns Chinese at start-up; nothing turns it back to English.
  EXPECT_EQ(lang::LanguageFlagFor(0x0409, res::kLangChinese), res::kLangChinese);
  EXPECT_EQ(lang::LanguageFlagFor(0x0804, res::kLangChinese), res::kLangChinese);
  EXPECT_EQ(lang::LanguageFlagFor(0x0C04, res::kLangEnglish), res::kLangChinese);
}

}  // namespace
