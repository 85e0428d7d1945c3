#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "decode_test_util.h"
#include "imaging/decode/metafile/wemf_decoder.h"
#include "metafile_builder.h"

using decodetest::Argb;
using metafiletest::Emf;
using metafiletest::Wmf;

namespace {

constexpr uint32_t kWhite = 0xFFFFFFFF, kRed = 0xFFFF0000, kGreen = 0xFF00FF00,
                   kBlue = 0xFF0000FF, kBlack = 0xFF000000;
// COLORREF values (0x00BBGGRR).
constexpr uint32_t kRefRed = 0x0000FF, kRefGreen = 0x00FF00, kRefBlue = 0xFF0000;

void DecodeAs(const char* name, const std::vector<uint8_t>& file, CWinBmp& bmp,
              int bppWanted = 0) {
  decodetest::Decode(file, bmp, bppWanted, name);
}

int ErrorAs(const char* name, const std::vector<uint8_t>& file, std::string* text = nullptr,
            int bppWanted = 0, uint64_t maxPixels = CPicDecoder::kDefaultMaxPixels) {
  CWinBmp bmp;
  CWEMFDecoder decoder;
  decoder.SetMaxPixels(maxPixels);
  CMemSource source(name, file);
  try {
    decoder.DecodeSource(source, bmp, bppWanted);
  } catch (const CTextException& e) {
    if (text) *text = e.GetErrorText();
    return e.GetErrorCode();
  }
  return 0;
}

// Pixels of `bmp` inside [x0, x1) x [y0, y1) that are not `colour`.
int CountOther(const CBmp& bmp, int x0, int y0, int x1, int y1, uint32_t colour) {
  int n = 0;
  for (int y = y0; y < y1; ++y) {
    for (int x = x0; x < x1; ++x) n += Argb(bmp, x, y) != colour;
  }
  return n;
}

// A placeable picture of 100 x 100 pixels: box 0..100 at 96 units per inch, red brush and
// null pen selected (objects 0 and 1).
Wmf RedNoPen() {
  Wmf w;
  w.Brush(0, kRefRed).Pen(5, 0, 0).Select(0).Select(1);
  return w;
}

// ---- picture size ----------------------------------------------------------------------

struct SizeCase {
  const char* label;
  const char* name;
  std::vector<uint8_t> file;
  int width, height;
};

void PrintTo(const SizeCase& c, std::ostream* os) { *os << c.label; }

class MetafileSize : public testing::TestWithParam<SizeCase> {};

TEST_P(MetafileSize, FollowsTheSizeRules) {
  CWinBmp bmp;
  DecodeAs(GetParam().name, GetParam().file, bmp);
  EXPECT_EQ(bmp.GetWidth(), GetParam().width);
  EXPECT_EQ(bmp.GetHeight(), GetParam().height);
}

INSTANTIATE_TEST_SUITE_P(
    Rules, MetafileSize,
    testing::Values(
        // 1440 x 720 at 1440 units per inch on a 96 pixels-per-inch screen.
        SizeCase{"placeable", "a.wmf", Wmf().File(true, 0, 0, 1440, 720, 1440), 96, 48},
        SizeCase{"placeable_offset_box", "a.wmf", Wmf().File(true, -100, 50, 380, 290, 480),
                 96, 48},
        // No units per inch: no size (instead of a division by zero).
        SizeCase{"placeable_no_units", "a.wmf", Wmf().File(true, 0, 0, 1440, 720, 0), 320,
                 200},
        SizeCase{"window_extent", "a.wmf", Wmf().WindowExt(200, -100).File(false), 200, 100},
        SizeCase{"large_window_extent", "a.wmf", Wmf().WindowExt(20000, 10000).File(false),
                 4096, 2048},
        SizeCase{"no_size_at_all", "a.wmf", Wmf().File(false), 320, 200},
        // 25.4 mm x 12.7 mm on a device of 1024 x 768 pixels, 320 x 240 mm.
        SizeCase{"frame", "a.emf", Emf().File({0, 0, 2540, 1270}), 81, 40},
        SizeCase{"empty_frame", "a.emf", Emf().File({500, 500, 500, 500}), 320, 200},
        // A device of no size in millimetres: taken as 96 pixels per inch.
        SizeCase{"device_without_size", "a.emf", Emf().File({0, 0, 2540, 5080}, 1024, 768, 0, 0),
                 96, 192}),
    [](const testing::TestParamInfo<SizeCase>& info) { return info.param.label; });

// ---- classic records -------------------------------------------------------------------

TEST(WmfDecoder, FilledRectangleAndUntouchedAreasStayWhite) {
  CWinBmp bmp;
  DecodeAs("shapes.wmf", RedNoPen().Rectangle(10, 20, 50, 60).File(true, 0, 0, 100, 100, 96),
           bmp);
  ASSERT_EQ(bmp.GetBitsPerPixel(), 32);
  EXPECT_FALSE(bmp.HasAlpha());
  EXPECT_EQ(CountOther(bmp, 10, 20, 50, 60, kRed), 0);
  EXPECT_EQ(CountOther(bmp, 0, 0, 100, 20, kWhite), 0);
  EXPECT_EQ(CountOther(bmp, 50, 0, 100, 100, kWhite), 0);
  EXPECT_EQ(CountOther(bmp, 0, 60, 100, 100, kWhite), 0);
}

TEST(WmfDecoder, WindowMapsOntoThePicture) {
  // Logical 1000 x 1000 from origin (-500, -500) onto 100 x 100 pixels.
  Wmf w = RedNoPen();
  w.WindowOrg(-500, -500).WindowExt(1000, 1000).Rectangle(0, 0, 500, 500);
  CWinBmp bmp;
  DecodeAs("w.wmf", w.File(true, 0, 0, 100, 100, 96), bmp);
  EXPECT_EQ(CountOther(bmp, 50, 50, 100, 100, kRed), 0);
  EXPECT_EQ(CountOther(bmp, 0, 0, 100, 50, kWhite), 0);
}

TEST(WmfDecoder, EllipsePieAndChordFillTheirParts) {
  CWinBmp ellipse, pie, chord;
  DecodeAs("e.wmf", RedNoPen().Rec(0x0418, {100, 100, 0, 0}).File(true, 0, 0, 100, 100, 96),
           ellipse);
  EXPECT_EQ(Argb(ellipse, 50, 50), kRed);
  EXPECT_EQ(Argb(ellipse, 3, 3), kWhite);
  EXPECT_EQ(Argb(ellipse, 96, 96), kWhite);
  // From the radial to the right to the radial to the top, counter-clockwise: the upper
  // right quarter.
  DecodeAs("p.wmf",
           RedNoPen().Rec(0x081A, {0, 50, 50, 100, 100, 100, 0, 0}).File(true, 0, 0, 100, 100, 96),
           pie);
  EXPECT_EQ(Argb(pie, 70, 30), kRed);
  EXPECT_EQ(Argb(pie, 30, 30), kWhite);
  EXPECT_EQ(Argb(pie, 70, 70), kWhite);
  EXPECT_EQ(Argb(pie, 30, 70), kWhite);
  // The chord of the same arc leaves the triangle near the centre white.
  DecodeAs("c.wmf",
           RedNoPen().Rec(0x0830, {0, 50, 50, 100, 100, 100, 0, 0}).File(true, 0, 0, 100, 100, 96),
           chord);
  EXPECT_EQ(Argb(chord, 85, 15), kRed);
  EXPECT_EQ(Argb(chord, 55, 45), kWhite);
}

TEST(WmfDecoder, PolyPolygonFillModes) {
  // An outer square and an inner one in the same direction: alternate leaves the hole,
  // winding fills it.
  auto file = [](int mode) {
    Wmf w = RedNoPen();
    w.Rec(0x0106, {mode});
    w.Rec(0x0538, {2, 4, 4, 10, 10, 90, 10, 90, 90, 10, 90, 40, 40, 60, 40, 60, 60, 40, 60});
    return w.File(true, 0, 0, 100, 100, 96);
  };
  CWinBmp alternate, winding;
  DecodeAs("a.wmf", file(1), alternate);
  DecodeAs("w.wmf", file(2), winding);
  EXPECT_EQ(Argb(alternate, 20, 20), kRed);
  EXPECT_EQ(Argb(alternate, 50, 50), kWhite);
  EXPECT_EQ(Argb(winding, 50, 50), kRed);
}

TEST(WmfDecoder, PolygonPolylineAndWidePen) {
  Wmf w;
  w.Brush(0, kRefBlue).Pen(0, 10, 0).Select(0).Select(1);
  w.Rec(0x0324, {3, 10, 90, 90, 90, 50, 10});   // triangle, outlined black
  w.Rec(0x0325, {2, 0, 5, 100, 5});             // polyline along the top
  CWinBmp bmp;
  DecodeAs("p.wmf", w.File(true, 0, 0, 100, 100, 96), bmp);
  EXPECT_EQ(Argb(bmp, 50, 60), kBlue);
  EXPECT_EQ(Argb(bmp, 50, 90), kBlack);  // on the base, 10 pixels wide
  EXPECT_EQ(Argb(bmp, 50, 5), kBlack);
  EXPECT_EQ(Argb(bmp, 5, 14), kWhite);
  EXPECT_EQ(Argb(bmp, 5, 60), kWhite);
}

TEST(WmfDecoder, HatchedBrushHonoursBackgroundMode) {
  auto file = [](int bkMode) {
    Wmf w;
    w.Brush(2, kRefBlue, 4).Pen(5, 0, 0).Select(0).Select(1);
    w.Rec(0x0201, {int(kRefGreen & 0xFFFF), int(kRefGreen >> 16)}).Rec(0x0102, {bkMode});
    w.Rectangle(0, 0, 64, 64);
    return w.File(true, 0, 0, 64, 64, 96);
  };
  CWinBmp transparent, opaque;
  DecodeAs("t.wmf", file(1), transparent);
  DecodeAs("o.wmf", file(2), opaque);
  int blue = 0, white = 0, green = 0;
  for (int y = 0; y < 64; ++y) {
    for (int x = 0; x < 64; ++x) {
      blue += Argb(transparent, x, y) == kBlue;
      white += Argb(transparent, x, y) == kWhite;
      green += Argb(opaque, x, y) == kGreen;
    }
  }
  EXPECT_GT(blue, 64 * 64 / 8);
  EXPECT_GT(white, 64 * 64 / 2);
  EXPECT_EQ(green, white);  // the same gaps, filled with the background colour
}

TEST(WmfDecoder, SaveAndRestoreBringBackTheBrush) {
  Wmf w = RedNoPen();
  w.Brush(0, kRefBlue);  // object 2
  w.Rec(0x001E, {}).Select(2).Rec(0x0127, {-1}).Rectangle(0, 0, 50, 50);
  CWinBmp bmp;
  DecodeAs("s.wmf", w.File(true, 0, 0, 100, 100, 96), bmp);
  EXPECT_EQ(Argb(bmp, 25, 25), kRed);
}

TEST(WmfDecoder, DeletedSlotIsReusedByTheNextObject) {
  Wmf w = RedNoPen();
  w.Rec(0x01F0, {0}).Brush(0, kRefGreen).Select(0).Rectangle(0, 0, 50, 50);
  CWinBmp bmp;
  DecodeAs("d.wmf", w.File(true, 0, 0, 100, 100, 96), bmp);
  EXPECT_EQ(Argb(bmp, 25, 25), kGreen);
}

TEST(WmfDecoder, StretchedBitmapKeepsItsOrientation) {
  // 2 x 2: red, green on top; blue, black below; stretched to 40 x 40 at (10, 10).
  std::vector<uint8_t> dib =
      metafiletest::Dib24(2, 2, {0xFF0000, 0x00FF00, 0x0000FF, 0x000000});
  std::vector<uint8_t> params;
  decodetest::Bytes p;
  p.le32(0x00CC0020).le16(0).le16(2).le16(2).le16(0).le16(0).le16(40).le16(40).le16(10).le16(10);
  params = p.v;
  params.insert(params.end(), dib.begin(), dib.end());
  Wmf w;
  w.Raw(0x0F43, params);
  CWinBmp bmp;
  DecodeAs("b.wmf", w.File(true, 0, 0, 60, 60, 96), bmp);
  EXPECT_EQ(CountOther(bmp, 10, 10, 30, 30, kRed), 0);
  EXPECT_EQ(CountOther(bmp, 30, 10, 50, 30, kGreen), 0);
  EXPECT_EQ(CountOther(bmp, 10, 30, 30, 50, kBlue), 0);
  EXPECT_EQ(CountOther(bmp, 30, 30, 50, 50, kBlack), 0);
  EXPECT_EQ(CountOther(bmp, 0, 0, 60, 10, kWhite), 0);
}

TEST(WmfDecoder, TextIsDrawnInTheTextColourAndOpaqueBackground) {
  auto file = [](int bkMode) {
    Wmf w;
    decodetest::Bytes font;
    font.le16(static_cast<uint16_t>(-40)).le16(0).le16(0).le16(0).le16(700).u8({0, 0, 0, 0});
    font.u8({0, 0, 0, 0}).str("Sans");
    font.fill(50 - font.v.size(), 0);
    w.Raw(0x02FB, font.v).Select(0);
    w.Rec(0x0209, {int(kRefRed), 0}).Rec(0x0201, {int(kRefGreen & 0xFFFF), 0});
    w.Rec(0x0102, {bkMode});
    w.Raw(0x0521, {2, 0, 'H', 'H', 10, 0, 10, 0});  // count, "HH", y, x
    return w.File(true, 0, 0, 100, 100, 96);
  };
  CWinBmp transparent, opaque;
  DecodeAs("t.wmf", file(1), transparent);
  DecodeAs("o.wmf", file(2), opaque);
  EXPECT_GT(100 * 100 - CountOther(transparent, 0, 0, 100, 100, kRed), 100);
  EXPECT_EQ(CountOther(transparent, 0, 0, 100, 10, kWhite), 0);  // above the top line
  EXPECT_EQ(CountOther(transparent, 0, 60, 100, 100, kWhite), 0);
  EXPECT_GT(100 * 100 - CountOther(opaque, 0, 0, 100, 100, kGreen), 100);
}

TEST(WmfDecoder, FontsOfAnySizeAndNameDraw) {
  // A face name that is not UTF-8, and a glyph larger than any glyph cache should hold.
  for (int height : {30, 600}) {
    Wmf w;
    decodetest::Bytes font;
    font.le16(static_cast<uint16_t>(-height)).le16(0).le16(0).le16(0).le16(400);
    font.u8({0, 0, 0, 0, 0, 0, 0, 0, 0xC3, 0xFF, 0xE9, 0});
    font.fill(50 - font.v.size(), 0);
    w.Raw(0x02FB, font.v).Select(0).Rec(0x0209, {int(kRefRed), 0}).Rec(0x0102, {1});
    w.Raw(0x0521, {1, 0, 'W', 0, 0, 0, 0, 0});
    CWinBmp bmp;
    DecodeAs("f.wmf", w.File(true, 0, 0, 700, 700, 96), bmp);
    const int red = 700 * 700 - CountOther(bmp, 0, 0, 700, 700, kRed);
    EXPECT_GT(red, height * height / 20) << height;
  }
}

TEST(WmfDecoder, UnknownAndDamagedRecordsAreSkipped) {
  Wmf w = RedNoPen();
  w.Rec(0x0999, {1, 2, 3}).Rec(0x0324, {7, 0, 0}).Rec(0x0538, {900, 1});  // short counts
  w.Rectangle(0, 0, 50, 50);
  CWinBmp bmp;
  DecodeAs("u.wmf", w.File(true, 0, 0, 100, 100, 96), bmp);
  EXPECT_EQ(Argb(bmp, 25, 25), kRed);

  // A record longer than the file ends the picture; what came before stays.
  Wmf cut = RedNoPen();
  cut.Rectangle(0, 0, 50, 50);
  cut.records.le32(0x7FFFFFFF).le16(0x041B);
  DecodeAs("c.wmf", cut.File(true, 0, 0, 100, 100, 96), bmp);
  EXPECT_EQ(Argb(bmp, 25, 25), kRed);
  EXPECT_EQ(Argb(bmp, 75, 75), kWhite);
}

// ---- enhanced records ------------------------------------------------------------------

// A frame of 10 mm on a device of 10 pixels per millimetre: 100 x 100 pixels, one per
// reference pixel.
std::vector<uint8_t> EmfFile(const Emf& e) {
  return e.File({0, 0, 1000, 1000}, 1000, 1000, 100, 100);
}

TEST(EmfDecoder, ShapesWithStockAndCreatedObjects) {
  Emf e;
  e.Brush(1, 0, kRefGreen).Select(1).Select(0x80000008);  // null pen
  e.Rectangle(10, 10, 50, 50);
  e.Select(0x80000004).Rec(42, {60, 60, 90, 90});  // black brush, ellipse
  CWinBmp bmp;
  DecodeAs("s.emf", EmfFile(e), bmp);
  ASSERT_EQ(bmp.GetWidth(), 100);
  ASSERT_EQ(bmp.GetBitsPerPixel(), 32);
  EXPECT_EQ(CountOther(bmp, 10, 10, 50, 50, kGreen), 0);
  EXPECT_EQ(Argb(bmp, 75, 75), kBlack);
  EXPECT_EQ(Argb(bmp, 61, 61), kWhite);
  EXPECT_EQ(Argb(bmp, 55, 5), kWhite);
}

TEST(EmfDecoder, MappingModeAndWorldTransformMoveDrawings) {
  Emf e;
  e.Brush(1, 0, kRefBlue).Select(1).Select(0x80000008);
  // Anisotropic: logical 0..10 onto 0..100 pixels; then shifted right by 5 logical units.
  e.Rec(17, {8}).Rec(9, {10, 10}).Rec(11, {100, 100});
  decodetest::Bytes xf;
  for (float f : {1.0f, 0.0f, 0.0f, 1.0f, 5.0f, 0.0f}) {
    uint32_t bits;
    std::memcpy(&bits, &f, 4);
    xf.le32(bits);
  }
  e.Raw(35, xf.v);
  e.Rectangle(0, 0, 2, 2);
  CWinBmp bmp;
  DecodeAs("m.emf", EmfFile(e), bmp);
  EXPECT_EQ(CountOther(bmp, 50, 0, 70, 20, kBlue), 0);
  EXPECT_EQ(CountOther(bmp, 0, 0, 50, 100, kWhite), 0);
}

TEST(EmfDecoder, PathBracketIsFilled) {
  Emf e;
  e.Brush(1, 0, kRefRed).Select(1).Select(0x80000008);
  e.Rec(59, {}).Rec(27, {10, 10}).Rec(54, {90, 10}).Rec(54, {90, 90}).Rec(61, {}).Rec(60, {});
  e.Rec(62, {0, 0, 100, 100});
  CWinBmp bmp;
  DecodeAs("p.emf", EmfFile(e), bmp);
  EXPECT_EQ(Argb(bmp, 70, 30), kRed);
  EXPECT_EQ(Argb(bmp, 30, 70), kWhite);
}

TEST(EmfDecoder, StretchDiBitsAndWideText) {
  std::vector<uint8_t> dib = metafiletest::Dib24(1, 2, {0xFF0000, 0x0000FF});
  decodetest::Bytes r;
  for (int i = 0; i < 4; ++i) r.le32(0);                            // bounds
  r.le32(0).le32(0).le32(0).le32(0).le32(1).le32(2);                // dest, source rect
  r.le32(80).le32(40).le32(120).le32(static_cast<uint32_t>(dib.size() - 40));
  r.le32(0).le32(0x00CC0020).le32(100).le32(50);                    // usage, rop, dest size
  r.v.insert(r.v.end(), dib.begin(), dib.end());
  Emf e;
  e.Raw(81, r.v);
  // "HI" in red at (20, 60), top aligned, default font.
  decodetest::Bytes t;
  for (int i = 0; i < 4; ++i) t.le32(0);
  t.le32(1).le32(0).le32(0);                                        // graphics mode, scales
  t.le32(20).le32(60).le32(2).le32(76).le32(0);                     // ref, chars, offset, options
  for (int i = 0; i < 4; ++i) t.le32(0);                            // rectangle
  t.le32(0).le16('H').le16('I');                                    // no dx, the text
  e.Rec(24, {kRefRed}).Rec(18, {1}).Raw(84, t.v);
  CWinBmp bmp;
  DecodeAs("b.emf", EmfFile(e), bmp);
  EXPECT_EQ(CountOther(bmp, 0, 0, 100, 25, kRed), 0);
  EXPECT_EQ(CountOther(bmp, 0, 25, 100, 50, kBlue), 0);
  EXPECT_GT(100 * 50 - CountOther(bmp, 0, 50, 100, 100, kRed), 20);
}

TEST(EmfDecoder, TextWithALoneSurrogateDoesNotStopTheDrawing) {
  decodetest::Bytes t;
  for (int i = 0; i < 4; ++i) t.le32(0);
  t.le32(1).le32(0).le32(0);
  t.le32(5).le32(5).le32(2).le32(76).le32(0);
  for (int i = 0; i < 4; ++i) t.le32(0);
  t.le32(0).le16(0xD800).le16('H');
  Emf e;
  e.Raw(84, t.v).Brush(1, 0, kRefBlue).Select(1).Rectangle(50, 50, 90, 90);
  CWinBmp bmp;
  DecodeAs("t.emf", EmfFile(e), bmp);
  EXPECT_EQ(Argb(bmp, 70, 70), kBlue);
  EXPECT_NE(CountOther(bmp, 0, 0, 50, 50, kWhite), 0);
}

TEST(EmfDecoder, AnyEscapementTurnsTheText) {
  // The most negative escapement: its angle is computed without overflow.
  decodetest::Bytes t;
  for (int i = 0; i < 4; ++i) t.le32(0);
  t.le32(1).le32(0).le32(0);
  t.le32(50).le32(50).le32(2).le32(76).le32(0);
  for (int i = 0; i < 4; ++i) t.le32(0);
  t.le32(0).le16('H').le16('I');
  Emf e;
  e.Rec(82, {1, -20, 0, INT32_MIN, 0, 400, 0, 0}).Select(1).Raw(84, t.v);
  CWinBmp bmp;
  DecodeAs("e.emf", EmfFile(e), bmp);
  EXPECT_NE(CountOther(bmp, 0, 0, 100, 100, kWhite), 0);
}

TEST(EmfDecoder, FrameOfNoSizeStretchesTheBoundsOntoThePicture) {
  // No frame: 320 x 200 pixels, onto which the bounds (100 x 50 reference pixels) stretch.
  Emf e;
  e.bounds[2] = 99;
  e.bounds[3] = 49;
  e.Brush(1, 0, kRefRed).Select(1).Select(0x80000008).Rectangle(0, 0, 50, 25);
  CWinBmp bmp;
  DecodeAs("f.emf", e.File({0, 0, 0, 0}), bmp);
  ASSERT_EQ(bmp.GetWidth(), 320);
  ASSERT_EQ(bmp.GetHeight(), 200);
  EXPECT_EQ(CountOther(bmp, 0, 0, 160, 100, kRed), 0);
  EXPECT_EQ(CountOther(bmp, 160, 0, 320, 200, kWhite), 0);
  EXPECT_EQ(CountOther(bmp, 0, 100, 160, 200, kWhite), 0);
}

TEST(EmfDecoder, SixteenPaletteEntriesGiveAnEightBitPicture) {
  Emf e;
  for (uint32_t i = 0; i < 16; ++i) e.palette.push_back(i * 0x0F0F0F);  // greys, no white
  e.palette[3] = kRefRed;
  e.Brush(1, 0, kRefRed).Select(1).Select(0x80000008).Rectangle(0, 0, 50, 100);
  CWinBmp bmp;
  DecodeAs("p.emf", EmfFile(e), bmp);
  ASSERT_EQ(bmp.GetBitsPerPixel(), 8);
  EXPECT_EQ(decodetest::Index(bmp, 25, 50), 3);
  const RgbQuad* pal = bmp.GetPalette();
  EXPECT_EQ(pal[3].red, 255);
  EXPECT_EQ(pal[3].blue, 0);
  EXPECT_EQ(pal[15].red, 15 * 15);
  EXPECT_EQ(pal[16].red, 0);
  // Undrawn areas stay white: the last entry is white when the file's palette lacks it.
  const uint8_t background = decodetest::Index(bmp, 75, 50);
  EXPECT_EQ(pal[background].red + pal[background].green + pal[background].blue, 3 * 255);

  CWinBmp full;
  DecodeAs("p.emf", EmfFile(e), full, 32);
  EXPECT_EQ(full.GetBitsPerPixel(), 32);
  EXPECT_EQ(Argb(full, 25, 50), kRed);
}

TEST(EmfDecoder, WithoutPaletteThirtyTwoBitsOpaque) {
  CWinBmp bmp;
  DecodeAs("n.emf", EmfFile(Emf()), bmp);
  EXPECT_EQ(bmp.GetBitsPerPixel(), 32);
  EXPECT_FALSE(bmp.HasAlpha());
  EXPECT_EQ(CountOther(bmp, 0, 0, 100, 100, kWhite), 0);
  CWinBmp eight;
  DecodeAs("n.emf", EmfFile(Emf()), eight, 8);
  EXPECT_EQ(eight.GetBitsPerPixel(), 8);
}

TEST(EmfDecoder, HandlesOutsideTheTableAreIgnored) {
  Emf e;
  e.Brush(500, 0, kRefRed).Select(500).Select(0x800000FF).Rec(40, {-1});
  e.Rectangle(10, 10, 50, 50);
  CWinBmp bmp;
  DecodeAs("h.emf", EmfFile(e), bmp);
  EXPECT_EQ(Argb(bmp, 25, 25), kWhite);  // the default white brush, black pen
  EXPECT_EQ(Argb(bmp, 10, 25), kBlack);
}

// ---- errors ----------------------------------------------------------------------------

TEST(MetafileErrors, ClassicFileNamedEmfFailsToLoad) {
  std::string text;
  EXPECT_EQ(ErrorAs("drawing.emf", RedNoPen().File(true, 0, 0, 10, 10, 96), &text),
            textexception::kUnsupported);
  EXPECT_EQ(text, "Decoder error: Windows Metafile functions failed to load this image.\n");
  EXPECT_EQ(ErrorAs("drawing.EMF", RedNoPen().File(false)), textexception::kUnsupported);
}

TEST(MetafileErrors, HeadersThatCannotBeRead) {
  std::string text;
  decodetest::Bytes shortHeader;
  shortHeader.le32(1).le32(40).fill(32, 0);
  EXPECT_EQ(ErrorAs("a.emf", shortHeader.v, &text), textexception::kFormatError);
  EXPECT_EQ(text, "Decoder error: No header information in metafile\n");

  std::vector<uint8_t> badSignature = EmfFile(Emf());
  badSignature[40] = 'X';
  EXPECT_EQ(ErrorAs("a.emf", badSignature), textexception::kUnsupported);
  EXPECT_EQ(ErrorAs("a.wmf", EmfFile(Emf())), textexception::kUnsupported);
  EXPECT_EQ(ErrorAs("a.wmf", std::vector<uint8_t>(64, 0)), textexception::kUnsupported);
  EXPECT_EQ(ErrorAs("a.wmf", {0xD7, 0xCD, 0xC6, 0x9A, 0, 0}), textexception::kUnsupported);
}

TEST(MetafileErrors, SizeAndDepthLimits) {
  // 32767 inches wide at one unit per inch: far beyond any bitmap.
  EXPECT_EQ(ErrorAs("a.wmf", Wmf().File(true, 0, 0, 32767, 10, 1)), textexception::kFormatError);
  EXPECT_EQ(ErrorAs("a.wmf", Wmf().File(true, 0, 0, 96, 96, 1), nullptr, 0, 1000),
            textexception::kNoMemory);
  EXPECT_EQ(ErrorAs("a.wmf", Wmf().File(true, 0, 0, 96, 96, 96), nullptr, 24),
            textexception::kUnsupported);
}

TEST(MetafileErrors, DetectionHandsMetafilesToThisDecoder) {
  CAnyPicDecoder decoder;
  CWinBmp bmp;
  std::vector<uint8_t> file = RedNoPen().Rectangle(0, 0, 10, 10).File(true, 0, 0, 20, 20, 96);
  CMemSource source("picture.wmf", file);
  decoder.DecodeSource(source, bmp, 0);
  EXPECT_EQ(decoder.GetFileType(), picformat::kWmf);
  EXPECT_EQ(Argb(bmp, 5, 5), kRed);
}

}  // namespace
