// The snapshot image: DIB sizes, the 3-3-2 dithering, BMP reading and writing, and drawing on
// 32-bit and 8-bit palette screens.
#include "snapshot/dib.h"

#include <gtest/gtest.h>

#include <QBuffer>
#include <QGuiApplication>
#include <cstring>
#include <set>
#include <vector>

#include "imaging/core/dib.h"
#include "snapshot/dib_draw.h"
#include "snapshot/dib_format.h"

namespace {

class GuiEnvironment : public testing::Environment {
public:
  void SetUp() override {
    static int argc = 1;
    static char name[] = "snapshot_dib_tests";
    static char* argv[] = {name, nullptr};
    if (!QCoreApplication::instance()) new QGuiApplication(argc, argv);
  }
};
const auto* const kGui = testing::AddGlobalTestEnvironment(new GuiEnvironment);

// A packed DIB: 24 bits with colour(x, y) as blue, green, red, or 8 bits with index x + y and
// a grey table of `tableEntries` entries (colours used left 0 when the table is full).
CGlobalBlock MakeBlock(int width, int height, uint16_t bpp, uint32_t sizeImage = 0) {
  const uint32_t entries = bpp == 8 ? 256 : 0;
  const size_t stride = dib::RowStride(uint64_t(width), bpp);
  CGlobalBlock block(40 + 4 * entries + stride * size_t(height));
  BitmapInfoHeader h;
  h.width = width;
  h.height = height;
  h.bitCount = bpp;
  h.sizeImage = sizeImage;
  std::memcpy(block.Data(), &h, sizeof h);
  uint8_t* table = block.Data() + 40;
  for (uint32_t i = 0; i < entries; ++i) table[4 * i] = table[4 * i + 1] = table[4 * i + 2] = uint8_t(i);
  uint8_t* rows = table + 4 * entries;
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      uint8_t* row = rows + size_t(height - 1 - y) * stride;  // y counts from the top
      if (bpp == 8) {
        row[x] = uint8_t(x + y);
      } else {
        row[3 * x] = uint8_t(10 * x);
        row[3 * x + 1] = uint8_t(20 * y);
        row[3 * x + 2] = uint8_t(200);
      }
    }
  return block;
}

BitmapInfoHeader HeaderOf(const CGlobalBlock& block) {
  BitmapInfoHeader h;
  std::memcpy(&h, block.Data(), sizeof h);
  return h;
}

// --- Sizes ---

TEST(DibFormat, SizesFollowTheHeader) {
  CGlobalBlock rgb = MakeBlock(5, 3, 24);
  EXPECT_EQ(ColorTableCount(rgb), 0u);
  EXPECT_EQ(RowBytes(rgb), 16u);
  EXPECT_EQ(PixelBitsOffset(rgb), 40u);
  // An image size of 0 is filled in by PackedSize.
  EXPECT_EQ(PackedSize(rgb), std::optional<size_t>(40 + 48));
  EXPECT_EQ(HeaderOf(rgb).sizeImage, 48u);

  CGlobalBlock indexed = MakeBlock(5, 3, 8);
  EXPECT_EQ(ColorTableCount(indexed), 256u);
  EXPECT_EQ(ColorTableBytes(indexed), 1024u);
  BitmapInfoHeader h = HeaderOf(indexed);
  h.clrUsed = 16;
  std::memcpy(indexed.Data(), &h, sizeof h);
  EXPECT_EQ(ColorTableBytes(indexed), 64u);

  // A core header: 3-byte entries; the plane count takes part in the row size.
  BitmapCoreHeader core;
  core.width = 7;
  core.height = 2;
  core.bitCount = 4;
  core.planes = 2;
  CGlobalBlock old(&core, sizeof core);
  EXPECT_EQ(ColorTableCount(old), 16u);
  EXPECT_EQ(ColorTableBytes(old), 48u);
  EXPECT_EQ(RowBytes(old), 8u);
}

TEST(DibFormat, IncompleteBlocksAreRefused) {
  CGlobalBlock block = MakeBlock(4, 4, 24);
  EXPECT_TRUE(BlockIsComplete(block));
  BitmapInfoHeader h = HeaderOf(block);
  h.height = 5;  // one row more than the block holds
  std::memcpy(block.Data(), &h, sizeof h);
  EXPECT_FALSE(BlockIsComplete(block));
  EXPECT_EQ(DibToSection(block), nullptr);
  EXPECT_EQ(MakeDisplayCopy8(block).Size(), 0u);
  h.height = 4;
  h.clrUsed = 100000;  // a colour table past the end
  std::memcpy(block.Data(), &h, sizeof h);
  EXPECT_FALSE(BlockIsComplete(block));
  EXPECT_FALSE(BlockIsComplete(CGlobalBlock(10)));
}

// --- Dithering ---

TEST(DibDither, DiffuseRowOnWhiteAndDarkGrey) {
  uint8_t white[6] = {255, 255, 255, 255, 255, 255};
  uint8_t below[6] = {100, 100, 100, 100, 100, 100};
  DiffuseRow(2, white, below);
  EXPECT_EQ(white[0], 255);
  EXPECT_EQ(white[1], 255);
  for (uint8_t v : below) EXPECT_EQ(v, 100);  // no error to pass on

  // (35, 35, 35): red level 1, green level 1, blue level 0; errors -1, -1, 8 (R, G, B).
  uint8_t grey[6] = {35, 35, 35, 35, 35, 35};
  uint8_t next[6] = {100, 100, 100, 100, 100, 100};
  DiffuseRow(1, grey, next);
  EXPECT_EQ(grey[0], 36);
  EXPECT_EQ(next[0], 108);  // blue + 8
  EXPECT_EQ(next[1], 99);   // green - 1
  EXPECT_EQ(next[2], 99);   // red - 1
  EXPECT_EQ(next[3], 100);

  // Twice the error goes right, clamped.
  uint8_t pair[6] = {35, 35, 35, 250, 0, 35};
  DiffuseRow(2, pair, nullptr);
  EXPECT_EQ(pair[0], 36);
  const UniformColor c = UniformPaletteColor(pair[1]);
  // Right pixel became (blue 255 clamped, green 0 clamped, red 33) before quantising.
  EXPECT_EQ(c.blue, 255);
  EXPECT_EQ(c.green, 0);
  EXPECT_EQ(c.red, 36);
}

TEST(DibDither, UniformPaletteLevels) {
  EXPECT_EQ(UniformPaletteColor(0).red, 0);
  const UniformColor c = UniformPaletteColor(uint8_t(3 * 32 + 5 * 4 + 2));
  EXPECT_EQ(c.red, 109);
  EXPECT_EQ(c.green, 182);
  EXPECT_EQ(c.blue, 170);
  const UniformColor w = UniformPaletteColor(255);
  EXPECT_EQ(w.red + w.green + w.blue, 3 * 255);
}

TEST(DibDither, RowsKeepTheirOrderAndPadding) {
  // Flat colours dither to exact palette entries when they are palette colours.
  CGlobalBlock block = MakeBlock(3, 4, 24);
  uint8_t* rows = PixelBits(block);
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 3; ++x) {
      uint8_t* p = rows + size_t(y) * 12 + 3 * x;
      p[0] = y == 0 ? 255 : 0;  // the bottom stored row is blue, the others red
      p[1] = 0;
      p[2] = y == 0 ? 0 : 255;
    }
  CGlobalBlock q = DitherTo332(rows, 3, 4);
  ASSERT_EQ(q.Size(), 4u * 4u);
  for (int x = 0; x < 3; ++x) {
    EXPECT_EQ(q.Data()[x], 3) << x;            // blue
    EXPECT_EQ(q.Data()[3 * 4 + x], 0xE0) << x;  // red, last row
  }
  // A single row has no row below to diffuse into.
  CGlobalBlock one = DitherTo332(rows, 3, 1);
  ASSERT_EQ(one.Size(), 4u);
  EXPECT_EQ(one.Data()[0], 3);
  EXPECT_EQ(DitherTo332(rows, 3, 0).Size(), 0u);
}

// --- CDib ---

TEST(CDib, TakesBlocksAndBuildsDrawingObjects) {
  CDib image;
  EXPECT_EQ(image.SetDib(CGlobalBlock()), 0);
  EXPECT_FALSE(image.HasDib());
  EXPECT_EQ(image.SetDib(MakeBlock(6, 4, 24)), 1);
  EXPECT_EQ(image.GetWidth(), 6);
  EXPECT_EQ(image.GetHeight(), 4);
  EXPECT_EQ(image.GetBitCount(), 24);
  EXPECT_EQ(image.BuildPalette(), 0);  // no colour table, no palette
  EXPECT_EQ(image.GetPalette(), nullptr);
  ASSERT_NE(image.GetBitmap(), nullptr);

  EXPECT_EQ(image.SetDib(MakeBlock(6, 4, 8)), 1);
  ASSERT_NE(image.GetPalette(), nullptr);
  EXPECT_EQ(image.GetPalette()->GetEntryCount(), 256u);
  image.FreeDib();
  EXPECT_FALSE(image.HasDib());
  EXPECT_EQ(image.GetWidth(), 0);
}

TEST(CDib, LoadPackedCopiesAndRefusesShortMemory) {
  CGlobalBlock source = MakeBlock(4, 2, 24);
  CDib image;
  ASSERT_EQ(image.LoadPacked(source.Data(), source.Size()), 1);
  EXPECT_EQ(HeaderOf(image.GetDib()).sizeImage, 24u);
  EXPECT_NE(image.GetDib().Data(), source.Data());
  // Claims more rows than there are bytes: refused, picture unchanged.
  BitmapInfoHeader h = HeaderOf(source);
  h.height = 400;
  std::memcpy(source.Data(), &h, sizeof h);
  EXPECT_EQ(image.LoadPacked(source.Data(), source.Size()), 0);
  EXPECT_EQ(image.GetHeight(), 2);
  EXPECT_EQ(image.LoadPacked(nullptr, 100), 0);
}

QByteArray BmpFile(const CGlobalBlock& block, uint32_t clrUsed, uint32_t sizeImage) {
  BitmapInfoHeader h = HeaderOf(block);
  h.clrUsed = clrUsed;
  h.sizeImage = sizeImage;
  QByteArray file("BM");
  const uint32_t fileHeaderRest[3] = {uint32_t(14 + block.Size()), 0, 0};
  file.append(reinterpret_cast<const char*>(fileHeaderRest), 12);
  file.append(reinterpret_cast<const char*>(&h), sizeof h);
  file.append(reinterpret_cast<const char*>(block.Data()) + 40, qsizetype(block.Size() - 40));
  return file;
}

TEST(CDib, ReadBmpFillsColoursUsedAndImageSize) {
  QByteArray bytes = BmpFile(MakeBlock(5, 3, 8), 0, 0);
  bytes.append(QByteArray(7, 'x'));  // longer than declared: read to its real length
  QBuffer file(&bytes);
  file.open(QIODevice::ReadOnly);
  CDib image;
  ASSERT_EQ(image.ReadBmp(file), 1);
  const BitmapInfoHeader h = HeaderOf(image.GetDib());
  EXPECT_EQ(h.clrUsed, 256u);
  EXPECT_EQ(h.sizeImage, 24u);
  EXPECT_EQ(ColorTableBytes(image.GetDib()), 1024u);
  EXPECT_EQ(PixelBits(image.GetDib())[8 * 2 + 1], 1);  // top row, x = 1: index 1
}

TEST(CDib, ReadBmpRefusalsLeaveThePictureAlone) {
  CDib image;
  ASSERT_EQ(image.SetDib(MakeBlock(2, 2, 24)), 1);
  QByteArray notBmp = BmpFile(MakeBlock(5, 3, 24), 0, 0);
  notBmp[0] = 'X';
  QByteArray core = BmpFile(MakeBlock(5, 3, 24), 0, 0);
  core[14] = 12;  // header size other than 40
  QByteArray truncated = BmpFile(MakeBlock(5, 3, 24), 0, 0).left(60);
  for (QByteArray* bytes : {&notBmp, &core, &truncated}) {
    QBuffer file(bytes);
    file.open(QIODevice::ReadOnly);
    EXPECT_EQ(image.ReadBmp(file), 0);
    EXPECT_EQ(image.GetWidth(), 2);
  }
}

TEST(CDib, WriteBmpRecomputesTheImageSize) {
  for (uint32_t stored : {0u, 999u}) {
    CDib image;
    ASSERT_EQ(image.SetDib(MakeBlock(5, 3, 24, stored)), 1);
    QByteArray bytes;
    QBuffer file(&bytes);
    file.open(QIODevice::WriteOnly);
    ASSERT_EQ(image.WriteBmp(file), 1);
    ASSERT_EQ(bytes.size(), 14 + 40 + 48);
    EXPECT_EQ(bytes.left(2), QByteArray("BM"));
    auto le32 = [&](int at) {
      uint32_t v = 0;
      for (int i = 3; i >= 0; --i) v = v << 8 | uint8_t(bytes.at(at + i));
      return v;
    };
    EXPECT_EQ(le32(2), 102u);        // file size
    EXPECT_EQ(le32(10), 54u);        // bits offset
    EXPECT_EQ(le32(14 + 20), 48u);   // image size
    EXPECT_EQ(HeaderOf(image.GetDib()).sizeImage, 48u);
  }
}

TEST(CDib, SerializeRoundTrip) {
  CDib image;
  ASSERT_EQ(image.SetDib(MakeBlock(7, 5, 8)), 1);
  QByteArray bytes;
  QBuffer out(&bytes);
  out.open(QIODevice::WriteOnly);
  CArchive store{&out, false};
  image.Serialize(store);
  out.close();
  // An independent reader sees the same picture.
  QImage decoded;
  ASSERT_TRUE(decoded.loadFromData(bytes, "BMP"));
  EXPECT_EQ(decoded.size(), QSize(7, 5));
  EXPECT_EQ(qGray(decoded.pixel(3, 1)), 4);

  QBuffer in(&bytes);
  in.open(QIODevice::ReadOnly);
  CDib loaded;
  CArchive load{&in, true};
  loaded.Serialize(load);
  ASSERT_TRUE(loaded.HasDib());
  EXPECT_EQ(std::memcmp(loaded.GetDib().Data() + 40, image.GetDib().Data() + 40,
                        image.GetDib().Size() - 40),
            0);
}

// --- Drawing ---

class DrawTest : public testing::Test {
protected:
  void TearDown() override { ScreenInfo::SetForTesting(false); }
};

TEST_F(DrawTest, TrueColourScreenBlitsWithTheRequestedOperation) {
  CDib image;
  ASSERT_EQ(image.SetDib(MakeBlock(6, 4, 24)), 1);
  QImage target(10, 10, QImage::Format_RGB32);
  target.fill(Qt::white);
  {
    QPainter painter(&target);
    CDC dc(&painter);
    EXPECT_EQ(dc.BitsPixel(), 32);
    EXPECT_EQ(image.Draw(&dc, 2, 1, rop::kSrcCopy), 1);
    EXPECT_EQ(dc.LastRasterOp(), rop::kSrcCopy);
  }
  // Pixel (x, y) of the picture lands at (2 + x, 1 + y).
  EXPECT_EQ(target.pixel(2 + 3, 1 + 2), qRgb(200, 40, 30));
  EXPECT_EQ(target.pixel(0, 0), qRgb(255, 255, 255));
  {
    QPainter painter(&target);
    CDC dc(&painter);
    EXPECT_EQ(image.Draw(&dc, 2, 1, rop::kSrcInvert), 1);
    EXPECT_EQ(dc.LastRasterOp(), rop::kSrcInvert);
  }
  EXPECT_EQ(target.pixel(2 + 3, 1 + 2), qRgb(0, 0, 0));  // x ^ x
}

TEST_F(DrawTest, PaletteScreenDithersAndCopies) {
  ScreenInfo::SetForTesting(true);
  CDib image;
  ASSERT_EQ(image.SetDib(MakeBlock(16, 8, 24)), 1);
  QImage target(16, 8, QImage::Format_RGB32);
  QPainter painter(&target);
  CDC dc(&painter);
  EXPECT_EQ(dc.BitsPixel(), 8);
  EXPECT_TRUE(image.NeedsDither(dc));
  EXPECT_EQ(image.Draw(&dc, 0, 0, rop::kSrcInvert), 8);
  painter.end();
  EXPECT_EQ(dc.LastRasterOp(), rop::kSrcCopy);
  EXPECT_EQ(dc.LastTransferBits(), 8);
  // Every colour drawn is one the system palette shows.
  std::set<QRgb> system;
  for (const PaletteEntry& e : ScreenInfo::SystemPalette()) system.insert(qRgb(e.red, e.green, e.blue));
  for (int y = 0; y < 8; ++y)
    for (int x = 0; x < 16; ++x) EXPECT_TRUE(system.count(target.pixel(x, y))) << x << "," << y;
  // Red 200 sits between levels 182 and 219: both appear, as dithering spreads the error.
  std::set<int> reds;
  for (int x = 0; x < 16; ++x) reds.insert(qRed(target.pixel(x, 4)));
  EXPECT_GE(reds.size(), 2u);
}

TEST_F(DrawTest, PaletteScreenDrawsOneRowPictures) {
  ScreenInfo::SetForTesting(true);
  CDib image;
  ASSERT_EQ(image.SetDib(MakeBlock(9, 1, 24)), 1);
  QImage target(9, 1, QImage::Format_RGB32);
  QPainter painter(&target);
  CDC dc(&painter);
  EXPECT_EQ(image.Draw(&dc, 0, 0, rop::kSrcCopy), 1);
}

TEST_F(DrawTest, UniformPaletteIsFittedOnlyOnPaletteScreens) {
  std::unique_ptr<CPalette> plain = CreateUniformPalette();
  ASSERT_EQ(plain->GetEntryCount(), 256u);
  EXPECT_EQ(plain->Entries()[36], (PaletteEntry{36, 36, 0, 0}));
  EXPECT_EQ(FitPaletteToSystem(*plain), nullptr);

  ScreenInfo::SetForTesting(true);
  std::unique_ptr<CPalette> fitted = CreateUniformPalette();
  ASSERT_EQ(fitted->GetEntryCount(), 256u);
  EXPECT_EQ(fitted->Entries()[0].flags, 0);
  EXPECT_EQ(fitted->Entries()[255], (PaletteEntry{255, 255, 255, 0}));
  EXPECT_EQ(fitted->Entries()[10].flags, kPcNoCollapse);
  EXPECT_EQ(fitted->Entries()[245].flags, kPcNoCollapse);
  EXPECT_EQ(CreateTypePalette(1)->Entries()[1], (PaletteEntry{255, 255, 255, 0}));
  EXPECT_EQ(CreateTypePalette(4)->GetEntryCount(), 20u);
  EXPECT_EQ(CreateTypePalette(24), nullptr);
}

TEST_F(DrawTest, RemapMovesIndicesToTheNearestEntry) {
  CGlobalBlock block = MakeBlock(4, 1, 8);  // indices 0..3 of a grey ramp
  CPalette twoGreys({{0, 0, 0, 0}, {3, 3, 3, 0}});
  ASSERT_EQ(RemapToPalette(block, &twoGreys), 1);
  const uint8_t* row = PixelBits(block);
  EXPECT_EQ(row[0], 0);
  EXPECT_EQ(row[1], 0);
  EXPECT_EQ(row[2], 1);
  EXPECT_EQ(row[3], 1);
  EXPECT_EQ(block.Data()[40 + 4], 3);  // table entry 1 takes the palette's colour
  EXPECT_EQ(RemapToPalette(block, nullptr), 0);
  CGlobalBlock rgb = MakeBlock(2, 2, 24);
  EXPECT_EQ(RemapToPalette(rgb, &twoGreys), 0);
}

}  // namespace
