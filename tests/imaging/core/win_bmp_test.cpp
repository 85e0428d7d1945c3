// CWinBmp's DIB side: packed DIBs (real BMP Suite files), global blocks, DIB copies,
// resources and drawing.
#include "imaging/core/win_bmp.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <string>
#include <vector>

#include "imaging/core/bitmap_resources.h"
#include "imaging/core/memory_exception.h"
#include "imaging/core/text_exception.h"
#include "tests/imaging/core/bmp_test_support.h"

using bmptest::Buffer;
using bmptest::Packed;
using bmptest::Quad;
using bmptest::SetPixel32;

namespace {

constexpr size_t kFileHeader = 14;

// The packed DIB inside a BMP file: everything after its 14-byte file header.
std::vector<uint8_t> PackedDibOf(const std::string& name) {
  std::vector<uint8_t> file = bmptest::ReadFile(bmptest::SuitePath(name));
  if (file.size() <= kFileHeader) return {};
  return std::vector<uint8_t>(file.begin() + kFileHeader, file.end());
}

const BitmapInfoHeader* AsHeader(const std::vector<uint8_t>& bytes) {
  return reinterpret_cast<const BitmapInfoHeader*>(bytes.data());
}

// A hand-made packed DIB: header, `entries` palette entries, rows of `stride` bytes.
std::vector<uint8_t> MakeDib(int width, int height, uint16_t bpp, uint32_t clrUsed = 0,
                             uint32_t compression = 0, uint32_t headerSize = 40) {
  BitmapInfoHeader h;
  h.size = headerSize;
  h.width = width;
  h.height = height;
  h.bitCount = bpp;
  h.compression = compression;
  h.clrUsed = clrUsed;
  const uint32_t entries = clrUsed != 0 ? clrUsed : (bpp < 16 ? 1u << bpp : 0u);
  const size_t rows = dib::RowStride(width > 0 ? width : 0, bpp) * size_t(height > 0 ? height : 0);
  std::vector<uint8_t> out(headerSize + 4 * entries + rows, 0);
  std::memcpy(out.data(), &h, sizeof h);
  return out;
}

void ExpectUnchanged16x16(const CWinBmp& bmp, const BitmapInfoHeader* block) {
  EXPECT_EQ(bmp.GetDibBlock(), block);
  EXPECT_EQ(bmp.GetWidth(), 16);
  EXPECT_EQ(bmp.GetHeight(), 16);
  EXPECT_EQ(bmp.GetBitsPerPixel(), 8);
}

}  // namespace

// ----- real files against an independent decoder -------------------------------------------

struct SuiteCase {
  const char* file;
  uint16_t depth;  // ours after reading
};

class SuiteFileTest : public testing::TestWithParam<SuiteCase> {};

TEST_P(SuiteFileTest, PixelsMatchPillow) {
  const SuiteCase& c = GetParam();
  const std::vector<uint8_t> packed = PackedDibOf(c.file);
  ASSERT_FALSE(packed.empty()) << c.file;
  const std::vector<uint8_t> expected = bmptest::PillowRgb(bmptest::SuitePath(c.file));
  if (expected.empty()) GTEST_SKIP() << "Pillow (/usr/bin/python3) is not available";

  CWinBmp fromHeader;
  fromHeader.CreateFromPackedDib(AsHeader(packed));
  CWinBmp fromGlobal;
  fromGlobal.CreateFromGlobal(CGlobalBlock(packed.data(), packed.size()));
  for (const CWinBmp* bmp : {&fromHeader, &fromGlobal}) {
    EXPECT_EQ(bmp->GetBitsPerPixel(), c.depth);
    EXPECT_FALSE(bmp->HasAlpha());
    EXPECT_EQ(bmp->GetWidth(), AsHeader(packed)->width);
    EXPECT_EQ(bmp->GetHeight(), AsHeader(packed)->height);
    size_t size = 0;
    Buffer rgb(bmp->ExportRgb24(false, &size));
    ASSERT_NE(rgb, nullptr);
    ASSERT_EQ(size, expected.size());
    EXPECT_EQ(std::memcmp(rgb.get(), expected.data(), size), 0) << c.file;
  }
}

// pal8.bmp stores only the 252 colours it uses; pal8v4.bmp has a 108-byte header.
INSTANTIATE_TEST_SUITE_P(BmpSuite, SuiteFileTest,
                         testing::Values(SuiteCase{"pal1.bmp", 1}, SuiteCase{"pal1bg.bmp", 1},
                                         SuiteCase{"pal8.bmp", 8}, SuiteCase{"pal8-0.bmp", 8},
                                         SuiteCase{"pal8gs.bmp", 8}, SuiteCase{"pal8w126.bmp", 8},
                                         SuiteCase{"pal8v4.bmp", 8}, SuiteCase{"rgb24.bmp", 32},
                                         SuiteCase{"rgb24pal.bmp", 32}, SuiteCase{"rgb32.bmp", 32}),
                         [](const testing::TestParamInfo<SuiteCase>& info) {
                           std::string name = info.param.file;
                           for (char& ch : name)
                             if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
                           return name;
                         });

TEST(WinBmp, RowTableTopIsTheFilesLastStoredRow) {
  const std::vector<uint8_t> packed = PackedDibOf("pal8-0.bmp");
  ASSERT_FALSE(packed.empty());
  CWinBmp bmp;
  bmp.CreateFromPackedDib(AsHeader(packed));
  const size_t stride = 128;  // 127 pixels at 8 bits
  const uint8_t* rows = packed.data() + 40 + 1024;
  EXPECT_EQ(std::memcmp(bmp.GetRowTable()[0], rows + 63 * stride, stride), 0);
  EXPECT_EQ(std::memcmp(bmp.GetRowTable()[63], rows, stride), 0);
  EXPECT_EQ(std::memcmp(bmp.GetPalette(), packed.data() + 40, 1024), 0);
}

TEST(WinBmp, TwentyFourBitsBecomeThirtyTwoAndComeBackByteExact) {
  const std::vector<uint8_t> packed = PackedDibOf("rgb24.bmp");
  ASSERT_EQ(packed.size(), 40u + 384 * 64);  // 127 x 3 = 381 bytes, padded to 384
  CWinBmp bmp;
  bmp.CreateFromPackedDib(AsHeader(packed));
  ASSERT_EQ(bmp.GetBitsPerPixel(), 32);
  EXPECT_FALSE(bmp.HasAlpha());
  EXPECT_EQ(bmp.GetDibBlock()->bitCount, 32);
  EXPECT_EQ(bmp.GetDibBlock()->sizeImage, 127u * 64 * 4);
  for (int y = 0; y < 64; ++y)
    for (int x = 0; x < 127; ++x) ASSERT_EQ(bmp.GetRowTable()[y][4 * x + 3], 0) << x << "," << y;

  uint8_t* copy = nullptr;
  bmp.GetDIBCopy(&copy);
  Buffer owned(copy);
  ASSERT_NE(copy, nullptr);
  EXPECT_EQ(std::memcmp(copy, packed.data(), packed.size()), 0);

  CGlobalBlock global;
  bmp.CopyToGlobal(global);
  ASSERT_EQ(global.Size(), packed.size());
  EXPECT_EQ(std::memcmp(global.Data(), packed.data(), packed.size()), 0);
}

TEST(WinBmp, DibCopyOfAPalettedBitmapIsItsBlock) {
  const std::vector<uint8_t> packed = PackedDibOf("pal8-0.bmp");  // full table, no image size
  ASSERT_FALSE(packed.empty());
  CWinBmp bmp;
  bmp.CreateFromPackedDib(AsHeader(packed));
  uint8_t* copy = nullptr;
  bmp.GetDIBCopy(&copy);
  Buffer owned(copy);
  EXPECT_EQ(std::memcmp(copy, packed.data(), packed.size()), 0);
}

TEST(WinBmp, CopyToGlobalReallocatesAnExistingBlock) {
  CWinBmp bmp;
  bmp.Create(3, 2, 8, false);
  CGlobalBlock global(5);
  bmp.CopyToGlobal(global);
  ASSERT_EQ(global.Size(), 40u + 1024 + 4 * 2);
  EXPECT_EQ(std::memcmp(global.Data(), bmp.GetDibBlock(), global.Size()), 0);
}

TEST(WinBmp, CompressAndExpandRepackRowsAndHeader) {
  // 3 x 2 at 24 bits: 9 bytes a row padded to 12; the fill bytes hold junk.
  std::vector<uint8_t> source = MakeDib(3, 2, 24);
  for (size_t i = 40; i < source.size(); ++i) source[i] = static_cast<uint8_t>(i);
  source[40 + 9] = source[40 + 10] = source[40 + 11] = 0xEE;
  std::vector<uint8_t> wide(40 + 3 * 2 * 4, 0x77);
  CWinBmp::Expand24To32(wide.data(), source.data());
  const auto* h = reinterpret_cast<const BitmapInfoHeader*>(wide.data());
  EXPECT_EQ(h->bitCount, 32);
  EXPECT_EQ(h->sizeImage, 24u);
  EXPECT_EQ(h->width, 3);
  for (int row = 0; row < 2; ++row)
    for (int x = 0; x < 3; ++x)
      for (int k = 0; k < 4; ++k)
        EXPECT_EQ(wide[40 + row * 12 + 4 * x + k], k == 3 ? 0 : source[40 + row * 12 + 3 * x + k]);

  std::vector<uint8_t> narrow(source.size(), 0x55);
  CWinBmp::Compress32To24(narrow.data(), wide.data());
  source[40 + 9] = source[40 + 10] = source[40 + 11] = 0;  // padding comes back as zeros
  source[40 + 21] = source[40 + 22] = source[40 + 23] = 0;
  reinterpret_cast<BitmapInfoHeader*>(source.data())->sizeImage = 24;
  EXPECT_EQ(narrow, source);
}

TEST(WinBmp, FillDibHeaderKeepsSixteenBitsAndAFittingImageSize) {
  BitmapInfoHeader h;
  h.xPelsPerMeter = 99;
  CWinBmp::FillDibHeader(&h, 65535, 2, 32);
  EXPECT_EQ(h.size, 40u);
  EXPECT_EQ(h.width, 65535);
  EXPECT_EQ(h.height, 2);
  EXPECT_EQ(h.planes, 1);
  EXPECT_EQ(h.sizeImage, 65535u * 4 * 2);
  EXPECT_EQ(h.xPelsPerMeter, 0);
  CWinBmp::FillDibHeader(&h, 65535, 65535, 32);
  EXPECT_EQ(h.sizeImage, 0u);  // over 32 bits: "not given", never a wrapped value
}

// ----- refusals ---------------------------------------------------------------------------

TEST(WinBmp, EmptyGlobalBlockIsANullPointerError) {
  CWinBmp bmp;
  const BitmapInfoHeader* block = bmp.GetDibBlock();
  try {
    bmp.CreateFromGlobal(CGlobalBlock());
    FAIL() << "no exception";
  } catch (const CTextException& e) {
    EXPECT_EQ(e.GetErrorCode(), 12);
    EXPECT_STREQ(e.GetErrorText(), " NULL Pointer error!");
  }
  ExpectUnchanged16x16(bmp, block);
}

struct BadDib {
  const char* name;
  std::vector<uint8_t> bytes;
  int code;
};

class BadDibTest : public testing::TestWithParam<BadDib> {};

TEST_P(BadDibTest, IsRefusedAndTheBitmapKeepsItsContents) {
  const BadDib& c = GetParam();
  if (c.code != 0) {  // the header alone must give it away
    CWinBmp viaHeader;
    const BitmapInfoHeader* block = viaHeader.GetDibBlock();
    try {
      viaHeader.CreateFromPackedDib(AsHeader(c.bytes));
      ADD_FAILURE() << "accepted " << c.name;
    } catch (const CTextException& e) {
      EXPECT_EQ(e.GetErrorCode(), c.code) << c.name << ": " << e.GetErrorText();
      ExpectUnchanged16x16(viaHeader, block);
    }
  }

  CWinBmp viaGlobal;
  const BitmapInfoHeader* block = viaGlobal.GetDibBlock();
  try {
    viaGlobal.CreateFromGlobal(CGlobalBlock(c.bytes.data(), c.bytes.size()));
    ADD_FAILURE() << "accepted " << c.name;
  } catch (const CTextException& e) {
    // A global block knows its length: a short one fails on that before anything else.
    if (c.code != 0) EXPECT_EQ(e.GetErrorCode(), c.code) << c.name << ": " << e.GetErrorText();
    else EXPECT_EQ(e.GetErrorCode(), 2) << c.name;
    ExpectUnchanged16x16(viaGlobal, block);
  }
}

std::vector<uint8_t> Truncated(std::vector<uint8_t> bytes, size_t drop) {
  bytes.resize(bytes.size() - drop);
  return bytes;
}

// code 0: acceptable as a header (its length is not known), too short as a global block.
INSTANTIATE_TEST_SUITE_P(
    Headers, BadDibTest,
    testing::Values(BadDib{"depth4", MakeDib(4, 4, 4), 16}, BadDib{"depth16", MakeDib(4, 4, 16), 16},
                    BadDib{"depth0", MakeDib(4, 4, 0), 16},
                    BadDib{"width70000", MakeDib(70000, 1, 8), 2},
                    BadDib{"negativeWidth", MakeDib(-3, 1, 8), 2},
                    BadDib{"topDown", MakeDib(4, -4, 8), 2},
                    BadDib{"coreHeader", MakeDib(4, 4, 8, 0, 0, 12), 2},
                    BadDib{"hugeHeader", MakeDib(4, 4, 8, 0, 0, 4000), 2},
                    BadDib{"rle8", MakeDib(4, 4, 8, 0, 1), 6},
                    BadDib{"bitfields", MakeDib(4, 4, 32, 0, 3), 6},
                    BadDib{"clrUsed300", MakeDib(4, 4, 8, 300), 2},
                    BadDib{"lastRowByteMissing", Truncated(MakeDib(5, 3, 8), 1), 0},
                    BadDib{"paletteOnly", Truncated(MakeDib(5, 3, 8), 24), 0},
                    BadDib{"shortPalette", Truncated(MakeDib(5, 3, 8, 16), 25), 0},
                    BadDib{"headerOnly", Truncated(MakeDib(1, 1, 8), 1024 + 4), 0},
                    BadDib{"partOfAHeader", std::vector<uint8_t>(10, 0), 0}),
    [](const testing::TestParamInfo<BadDib>& info) { return std::string(info.param.name); });

TEST(WinBmp, ExactlySizedGlobalBlockWithShortPaletteIsRead) {
  std::vector<uint8_t> dib = MakeDib(2, 1, 8, 3);  // 3 colours stored
  const RgbQuad colours[3] = {Quad(1, 2, 3, 0), Quad(4, 5, 6, 0), Quad(7, 8, 9, 0)};
  std::memcpy(dib.data() + 40, colours, sizeof colours);
  dib[40 + 12] = 2;  // pixel 0
  dib[40 + 13] = 1;  // pixel 1
  CWinBmp bmp;
  bmp.CreateFromGlobal(CGlobalBlock(dib.data(), dib.size()));
  EXPECT_EQ(Packed(bmp.GetPalette()[2]), Packed(colours[2]));
  EXPECT_EQ(Packed(bmp.GetPalette()[3]), Packed(Quad(3, 3, 3)));  // not stored: grey ramp
  EXPECT_EQ(bmp.GetRowTable()[0][0], 2);
  EXPECT_EQ(bmp.GetRowTable()[0][1], 1);
  EXPECT_EQ(bmp.GetDibBlock()->clrUsed, 0u);  // our block carries the whole table
}

TEST(WinBmp, OwnHeaderDescribesTheRowsItHolds) {
  std::vector<uint8_t> dib = MakeDib(5, 3, 8);
  auto* h = reinterpret_cast<BitmapInfoHeader*>(dib.data());
  h->planes = 3;
  h->sizeImage = 999999;
  h->xPelsPerMeter = 2835;
  CWinBmp bmp;
  bmp.CreateFromGlobal(CGlobalBlock(dib.data(), dib.size()));
  EXPECT_EQ(bmp.GetDibBlock()->planes, 1);
  EXPECT_EQ(bmp.GetDibBlock()->sizeImage, 8u * 3);
  EXPECT_EQ(bmp.GetDibBlock()->xPelsPerMeter, 2835);
}

TEST(WinBmp, RereadingItsOwnBlockKeepsThePicture) {
  CWinBmp bmp;
  bmp.Create(3, 2, 8, false);
  bmp.GetRowTable()[0][2] = 77;
  bmp.GetPalette()[77] = Quad(1, 2, 3);
  bmp.CreateFromPackedDib(bmp.GetDibBlock());
  EXPECT_EQ(bmp.GetWidth(), 3);
  EXPECT_EQ(bmp.GetRowTable()[0][2], 77);
  EXPECT_EQ(Packed(bmp.GetPalette()[77]), Packed(Quad(1, 2, 3)));
}

TEST(WinBmp, DibCopiesOfAFreedBitmapAreRefused) {
  CWinBmp bmp;
  bmp.Clear();
  uint8_t* copy = nullptr;
  EXPECT_THROW(bmp.GetDIBCopy(&copy), CTextException);
  EXPECT_EQ(copy, nullptr);
  CGlobalBlock global;
  EXPECT_THROW(bmp.CopyToGlobal(global), CTextException);
}

// ----- resources --------------------------------------------------------------------------

TEST(WinBmp, LoadsRegisteredResourcesAndRefusesUnknownIds) {
  const std::vector<uint8_t> file = bmptest::ReadFile(bmptest::SuitePath("pal8-0.bmp"));
  ASSERT_GT(file.size(), kFileHeader);
  constexpr int kToolBar = 128;
  bitmapresources::Register(kToolBar, file.data(), file.size());  // a whole file is accepted

  CWinBmp bmp;
  bmp.LoadFromResource(kToolBar);
  EXPECT_EQ(bmp.GetWidth(), 127);
  EXPECT_EQ(bmp.GetHeight(), 64);
  EXPECT_EQ(std::memcmp(bmp.GetDibBlock(), file.data() + kFileHeader, file.size() - kFileHeader), 0);

  const BitmapInfoHeader* block = bmp.GetDibBlock();
  try {
    bmp.LoadFromResource(kToolBar + 1);
    FAIL() << "no exception";
  } catch (const CTextException& e) {
    EXPECT_EQ(e.GetErrorCode(), 2);
    EXPECT_STREQ(e.GetErrorText(), "Bitmap resource not found.");
  }
  EXPECT_EQ(bmp.GetDibBlock(), block);

  // A damaged resource is measured like a global block.
  bitmapresources::Register(kToolBar, file.data(), file.size() - 1);
  EXPECT_THROW(bmp.LoadFromResource(kToolBar), CTextException);
  bitmapresources::Unregister(kToolBar);
  EXPECT_EQ(bitmapresources::Find(kToolBar), nullptr);
}

// ----- drawing ----------------------------------------------------------------------------

namespace {

struct Transfer {
  DibRect dest;
  DibRect source;
  const void* bits;
  const BitmapInfoHeader* header;
  uint32_t rop;
};

class RecordingDevice : public CDibDevice {
public:
  int StretchDIBits(const DibRect& dest, const DibRect& source, const void* bits,
                    const BitmapInfoHeader* header, uint32_t rasterOp) override {
    calls.push_back(Transfer{dest, source, bits, header, rasterOp});
    return 42;
  }
  std::vector<Transfer> calls;
};

void ExpectRect(const DibRect& r, int x, int y, int width, int height) {
  EXPECT_EQ(r.x, x);
  EXPECT_EQ(r.y, y);
  EXPECT_EQ(r.width, width);
  EXPECT_EQ(r.height, height);
}

}  // namespace

TEST(WinBmp, DrawingHandsTheWholeBlockToTheDevice) {
  CWinBmp bmp;
  bmp.Create(7, 5, 8, false);
  RecordingDevice dc;
  constexpr uint32_t kSrcPaint = 0x00EE0086;

  EXPECT_EQ(bmp.Draw(&dc, 3, 4, kSrcPaint), 42);
  EXPECT_EQ(bmp.StretchDraw(&dc, 1, 2, 70, 50, rop::kSrcCopy), 42);
  EXPECT_EQ(bmp.ScaledDraw(&dc, 0, 0, 1.5, rop::kSrcCopy), 42);   // 10.5 x 7.5
  EXPECT_EQ(bmp.ScaledDraw(&dc, 0, 0, -0.5, rop::kSrcCopy), 42);  // -3.5 x -2.5
  ASSERT_EQ(dc.calls.size(), 4u);
  ExpectRect(dc.calls[0].dest, 3, 4, 7, 5);
  EXPECT_EQ(dc.calls[0].rop, kSrcPaint);
  ExpectRect(dc.calls[1].dest, 1, 2, 70, 50);
  ExpectRect(dc.calls[2].dest, 0, 0, 10, 7);
  ExpectRect(dc.calls[3].dest, 0, 0, -3, -2);
  for (const Transfer& t : dc.calls) {
    ExpectRect(t.source, 0, 0, 7, 5);
    EXPECT_EQ(t.header, bmp.GetDibBlock());
    EXPECT_EQ(t.bits, bmp.GetRowTable()[4]);  // the first stored row
  }
}

TEST(WinBmp, DrawExtractTurnsTheSourceRectangleBottomUp) {
  CWinBmp bmp;
  bmp.Create(10, 8, 32, false);
  RecordingDevice dc;
  // Columns 2-5, rows 1-3 from the top; rows 4-7 lie below them, so y from the bottom is 4.
  EXPECT_EQ(bmp.DrawExtract(&dc, DibPoint{20, 30}, DibBounds{2, 1, 6, 4}), 42);
  ASSERT_EQ(dc.calls.size(), 1u);
  ExpectRect(dc.calls[0].dest, 20, 30, 4, 3);
  ExpectRect(dc.calls[0].source, 2, 4, 4, 3);
  EXPECT_EQ(dc.calls[0].rop, rop::kSrcCopy);
  EXPECT_EQ(dc.calls[0].header->height, 8);  // every scan line is offered
}

TEST(WinBmp, NoDeviceOrNoPictureDrawsNothing) {
  CWinBmp bmp;
  EXPECT_EQ(bmp.Draw(nullptr, 0, 0, rop::kSrcCopy), 0);
  EXPECT_EQ(bmp.DrawExtract(nullptr, DibPoint{}, DibBounds{0, 0, 1, 1}), 0);
  RecordingDevice dc;
  bmp.Clear();
  EXPECT_EQ(bmp.Draw(&dc, 0, 0, rop::kSrcCopy), 0);
  EXPECT_EQ(bmp.ScaledDraw(&dc, 0, 0, 2.0, rop::kSrcCopy), 0);
  EXPECT_TRUE(dc.calls.empty());
}

TEST(GlobalBlock, AllocatesZeroedCopiesAndReallocates) {
  const CGlobalBlock empty;
  EXPECT_EQ(empty.Size(), 0u);
  EXPECT_EQ(empty.Data(), nullptr);

  const uint8_t bytes[3] = {7, 8, 9};
  CGlobalBlock copy(bytes, 3);
  ASSERT_EQ(copy.Size(), 3u);
  EXPECT_EQ(std::memcmp(copy.Data(), bytes, 3), 0);

  copy.Reallocate(6);  // new size, zeroed, old contents dropped
  ASSERT_EQ(copy.Size(), 6u);
  for (size_t i = 0; i < 6; ++i) EXPECT_EQ(copy.Data()[i], 0);

  CGlobalBlock moved(std::move(copy));
  EXPECT_EQ(moved.Size(), 6u);
  moved.Free();
  EXPECT_EQ(moved.Size(), 0u);
  EXPECT_EQ(moved.Data(), nullptr);
}
