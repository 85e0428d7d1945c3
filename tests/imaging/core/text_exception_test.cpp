#include "imaging/core/text_exception.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

TEST(TextException, CarriesCodeTextAndClassName) {
  const CTextException e(textexception::kNullPointer, " NULL Pointer error!");
  EXPECT_EQ(e.GetErrorCode(), 12);
  EXPECT_STREQ(e.GetErrorText(), " NULL Pointer error!");
  EXPECT_STREQ(e.GetRuntimeClassName(), "CTextException");
  EXPECT_STREQ(e.GetBaseClassName(), "CObject");
}

TEST(TextException, EmptyAndNullTextsGiveEmptyText) {
  const CTextException empty(2, "");
  ASSERT_NE(empty.GetErrorText(), nullptr);
  EXPECT_STREQ(empty.GetErrorText(), "");
  const CTextException none(2, static_cast<const char*>(nullptr));
  ASSERT_NE(none.GetErrorText(), nullptr);
  EXPECT_STREQ(none.GetErrorText(), "");
}

TEST(TextException, CopyOwnsItsTextAfterTheOriginalIsGone) {
  std::string text = "Decoder error: Unknown file type.\n";
  auto original = std::make_unique<CTextException>(8, text.c_str());
  text.assign(text.size(), 'x');  // the exception must not point into the caller's buffer
  const CTextException copy(*original);
  original.reset();
  EXPECT_EQ(copy.GetErrorCode(), 8);
  EXPECT_STREQ(copy.GetErrorText(), "Decoder error: Unknown file type.\n");
}

TEST(TextException, ThrownByValueCaughtByReference) {
  try {
    throw CTextException(textexception::kInvalidBitsPerPixel,
                         "source bitmap has invalid bits per pixel.");
  } catch (const CTextException& e) {
    EXPECT_EQ(e.GetErrorCode(), 16);
    EXPECT_STREQ(e.GetErrorText(), "source bitmap has invalid bits per pixel.");
    return;
  }
  FAIL() << "not caught";
}
