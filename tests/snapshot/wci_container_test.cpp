#include "snapshot/wci_container.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "imaging/core/dib.h"
#include "imaging/core/text_exception.h"

namespace {

class TempDir {
public:
  TempDir() {
    char pattern[] = "/tmp/lumora-export-XXXXXX";
    path_ = mkdtemp(pattern);
  }
  ~TempDir() { std::filesystem::remove_all(path_); }
  std::string operator/(const std::string& name) const { return (path_ / name).string(); }

private:
  std::filesystem::path path_;
};

// A packed DIB block of width x height; 24 bits (pixel colours from a formula) or 8 bits
// (index = x + y, grey palette).
CGlobalBlock MakeDib(int width, int height, uint16_t bpp) {
  const uint64_t stride = dib::RowStride(width, bpp);
  const size_t paletteBytes = bpp == 8 ? 1024 : 0;
  CGlobalBlock block(40 + paletteBytes + stride * height);
  BitmapInfoHeader header;
  header.width = width;
  header.height = height;
  header.bitCount = bpp;
  header.sizeImage = static_cast<uint32_t>(stride * height);
  std::memcpy(block.Data(), &header, 40);
  uint8_t* palette = block.Data() + 40;
  for (size_t i = 0; i < paletteBytes / 4; ++i)
    for (int c = 0; c < 3; ++c) palette[4 * i + c] = static_cast<uint8_t>(i);
  uint8_t* rows = block.Data() + 40 + paletteBytes;
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      uint8_t* p = rows + stride * y + (bpp / 8) * x;
      if (bpp == 8) {
        p[0] = static_cast<uint8_t>(x + y);
      } else {
        p[0] = static_cast<uint8_t>(40 * x);   // blue
        p[1] = static_cast<uint8_t>(90 * y);   // green
        p[2] = static_cast<uint8_t>(200 - x);  // red
      }
    }
  return block;
}

void ExpectCode(int code, const char* text, const std::function<void()>& action) {
  try {
    action();
    FAIL() << "nothing raised";
  } catch (const CTextException& e) {
    EXPECT_EQ(e.GetErrorCode(), code);
    EXPECT_STREQ(e.GetErrorText(), text);
  }
}

TEST(WCIContainer, ExportWithoutImageRaises17BeforeMakingAnEncoder) {
  TempDir dir;
  CWCIContainer container;
  ExpectCode(17, " no bitmap to export!", [&] { container.Export((dir / "x.bmp").c_str()); });
  EXPECT_EQ(container.GetEncoder(), nullptr);
  EXPECT_FALSE(std::filesystem::exists(dir / "x.bmp"));
}

TEST(WCIContainer, EncoderFiltersComeFromOneEncoder) {
  CWCIContainer container;
  std::string names[20], patterns[20];
  EXPECT_EQ(container.GetFormatFilters(CWCIContainer::kEncoderSide, names, patterns, 20), 7);
  CAnyPicEncoder* first = container.GetEncoder();
  EXPECT_EQ(container.GetFormatFilters(CWCIContainer::kEncoderSide, names, patterns, 20), 7);
  EXPECT_EQ(container.GetEncoder(), first);
  EXPECT_EQ(names[0], "Bmp File(*.bmp)");
  EXPECT_EQ(patterns[6], "*.gif");
}

TEST(WCIContainer, EmptyBlockRaises12) {
  CWCIContainer container;
  CGlobalBlock empty;
  ExpectCode(12, " NULL Pointer error!", [&] { container.SetImage(empty, nullptr); });
}

struct DepthCase {
  uint16_t dibBpp;
  uint8_t source, wanted, flags;
  uint16_t bitmapBpp;   // bitmap depth after Export
  uint16_t fileBpp;     // depth field of the BMP written
  uint8_t wantedAfter;  // record byte 1 after Export
};
void PrintTo(const DepthCase& c, std::ostream* os) {
  *os << c.dibBpp << " bits, record " << int(c.source) << "/" << int(c.wanted) << " flags " << int(c.flags);
}

class ExportDepthTest : public testing::TestWithParam<DepthCase> {};

TEST_P(ExportDepthTest, ConvertsAsTheRecordAsks) {
  const DepthCase& c = GetParam();
  TempDir dir;
  const CGlobalBlock dib = MakeDib(5, 3, c.dibBpp);
  const std::vector<uint8_t> before(dib.Data(), dib.Data() + dib.Size());
  EncodeOptions options;
  options.sourceDepth = c.source;
  options.wantedDepth = c.wanted;
  options.flags = c.flags;
  CWCIContainer container;
  container.SetImage(dib, &options);
  container.Export((dir / "out.bmp").c_str());
  EXPECT_EQ(container.GetBitmap()->GetBitsPerPixel(), c.bitmapBpp);
  EXPECT_EQ(container.GetBitmap()->GetEncodeOptions()->wantedDepth, c.wantedAfter);
  std::ifstream file(dir / "out.bmp", std::ios::binary);
  const std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  ASSERT_GT(bytes.size(), 30u);
  EXPECT_EQ(bytes[28] | bytes[29] << 8, c.fileBpp);
  EXPECT_EQ(std::vector<uint8_t>(dib.Data(), dib.Data() + dib.Size()), before)
      << "the snapshot's own block is never changed";
}

constexpr uint8_t kGray = EncodeOptions::kFlagGray | 5;

INSTANTIATE_TEST_SUITE_P(
    Records, ExportDepthTest,
    testing::Values(DepthCase{24, 24, 0, 5, 32, 24, 24},  // wanted 0: same as the source
                    DepthCase{24, 24, 24, 5, 32, 24, 24}, DepthCase{24, 24, 8, 5, 8, 8, 8},
                    DepthCase{24, 24, 1, 5, 1, 1, 1}, DepthCase{8, 8, 24, 5, 32, 24, 24},
                    DepthCase{8, 8, 16, 5, 32, 24, 16},
                    DepthCase{24, 24, 24, kGray, 8, 8, 24},  // grey wins over any depth
                    DepthCase{24, 24, 1, kGray, 8, 8, 1}));

TEST(WCIContainer, GreyFollowsTheLuminanceWeights) {
  TempDir dir;
  const CGlobalBlock dib = MakeDib(5, 3, 24);
  EncodeOptions options;
  options.flags |= EncodeOptions::kFlagGray;
  CWCIContainer container;
  container.SetImage(dib, &options);
  container.Export((dir / "grey.bmp").c_str());
  const CWinBmp& bmp = *container.GetBitmap();
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 5; ++x) {
      const int blue = 40 * x, green = static_cast<uint8_t>(90 * y), red = 200 - x;
      // Bottom-up DIB row y is picture row 2 - y.
      // 0.299 R + 0.587 G + 0.114 B truncated, computed exactly in thousandths.
      const int expected = (299 * red + 587 * green + 114 * blue) / 1000;
      EXPECT_EQ(bmp.GetRowTable()[2 - y][x], expected) << x << "," << y;
    }
  EXPECT_EQ(bmp.GetPalette()[200].red, 200) << "grey palette";
}

TEST(WCIContainer, GreyExportOfABitmapWithoutPixelsRaises23AndWritesNothing) {
  TempDir dir;
  EncodeOptions options;
  options.flags |= EncodeOptions::kFlagGray;
  CWCIContainer container;
  container.SetImage(MakeDib(5, 3, 24), &options);
  container.GetBitmap()->Clear();  // as a failed step before leaves it
  ExpectCode(23, "Bmp error when convert!", [&] { container.Export((dir / "grey.bmp").c_str()); });
  EXPECT_FALSE(std::filesystem::exists(dir / "grey.bmp"));
}

TEST(WCIContainer, ExportWithoutRecordKeepsTheDepth) {
  TempDir dir;
  CWCIContainer container;
  container.SetImage(MakeDib(2, 2, 8), nullptr);
  container.Export((dir / "x.tga").c_str());
  EXPECT_EQ(container.GetBitmap()->GetBitsPerPixel(), 8);
  EXPECT_TRUE(std::filesystem::exists(dir / "x.tga"));
}

}  // namespace
