#include <gtest/gtest.h>

#include <string>

#include "snapshot/wci_container.h"

namespace {

TEST(WCIContainerDecoderSide, ListsTheReadableFormatsUpToTheMaximum) {
  CWCIContainer container;
  std::string names[12], patterns[12];
  EXPECT_EQ(container.GetFormatFilters(CWCIContainer::kDecoderSide, names, patterns, 0), 0);
  ASSERT_EQ(container.GetFormatFilters(CWCIContainer::kDecoderSide, names, patterns, 12), 10);
  EXPECT_EQ(names[0], "Bmp File(*.bmp;*.dib;*.rle)");
  EXPECT_EQ(patterns[3], "*.pct");
  EXPECT_EQ(names[7], "Windows Enhanced Metafile(*.emf)");
  EXPECT_EQ(patterns[9], "*.gif");
  std::string few[3], fewPatterns[3];
  ASSERT_EQ(container.GetFormatFilters(CWCIContainer::kDecoderSide, few, fewPatterns, 3), 3);
  EXPECT_EQ(fewPatterns[2], "*.png");
}

}  // namespace
