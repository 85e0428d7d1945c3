// The decode budget on small files that ask for a lot: each limit refuses with code 10 and
// names itself and the value that passed it; embedded bitmaps over the memory limit are
// skipped while the picture goes on; object tables stay cheap with a million records.
#include <gtest/gtest.h>

#include <ctime>
#include <filesystem>
#include <string>
#include <vector>

#include "decode_test_util.h"
#include "imaging/core/trace.h"
#include "imaging/decode/metafile/wemf_decoder.h"
#include "imaging/decode/pict_decoder.h"
#include "metafile_builder.h"
#include "tests/imaging/trace_file_fixture.h"

using decodetest::Argb;
using decodetest::Bytes;
using metafiletest::Wmf;

namespace {

constexpr uint32_t kRefRed = 0x0000FF;
constexpr uint32_t kRed = 0xFFFF0000, kGrey = 0xFF808080;

struct Outcome {
  int code = 0;  // 0: decoded
  std::string text;
};

template <class Decoder>
Outcome DecodeWith(const std::vector<uint8_t>& file, const char* name, const DecodeLimits& limits,
                   CWinBmp& bmp, int bpp = 0) {
  Decoder decoder;
  decoder.SetLimits(limits);
  CMemSource source(name, file);
  try {
    decoder.DecodeSource(source, bmp, bpp);
  } catch (const CTextException& e) {
    return {e.GetErrorCode(), e.GetErrorText()};
  }
  return {};
}

DecodeLimits With(uint64_t pixels, uint64_t memory, uint64_t work) {
  DecodeLimits l;
  l.maxPixels = pixels;
  l.maxMemory = memory;
  l.maxWork = work;
  return l;
}

// DibCreatePatternBrush of an RLE8 bitmap of side x side whose data ends at once.
Wmf& RleBrush(Wmf& w, int side) {
  Bytes dib;
  dib.le32(40).le32(side).le32(side).le16(1).le16(8).le32(1).le32(2).le32(0).le32(0);
  dib.le32(1).le32(0).le32(0x000000FF).u8({0, 1});  // one colour: blue
  std::vector<uint8_t> params = {5, 0, 0, 0};  // BS_DIBPATTERN, RGB colours
  params.insert(params.end(), dib.v.begin(), dib.v.end());
  return w.Raw(0x0142, params);
}

// Version 2 PICT of side x side direct pixels whose packed rows are all empty.
std::vector<uint8_t> EmptyRowsPict(int side) {
  Bytes b;
  auto be16 = [&b](unsigned v) { b.u8({int(v >> 8) & 255, int(v & 255)}); };
  b.fill(512, 0);
  for (unsigned v : {0u, 0u, 0u, 16u, 16u}) be16(v);
  b.u8({0, 0x11, 2, 0xFF});
  be16(0x0C00);
  b.fill(24, 0);
  be16(0x9A);
  b.fill(6, 0);
  for (unsigned v : {0u, 0u, unsigned(side), unsigned(side)}) be16(v);
  for (unsigned v : {0u, 4u, 0u, 0u, 0x48u, 0u, 0x48u, 0u, 16u, 32u, 3u, 8u}) be16(v);
  b.fill(12 + 18, 0);  // plane bytes, table, reserved; source, destination, mode
  b.fill(2 * size_t(side), 0);
  return b.v;
}

struct Refusal {
  const char* label;
  std::vector<uint8_t> file;
  const char* name;
  DecodeLimits limits;
  int bpp;
  const char* text;  // the end of the message
};

void PrintTo(const Refusal& r, std::ostream* os) { *os << r.label; }

class BudgetRefusal : public testing::TestWithParam<Refusal> {};

TEST_P(BudgetRefusal, NamesTheLimitAndTheValue) {
  const Refusal& r = GetParam();
  CWinBmp bmp;
  const Outcome o = r.name[0] == 'p'
                        ? DecodeWith<CPictDecoder>(r.file, r.name, r.limits, bmp, r.bpp)
                        : DecodeWith<CWEMFDecoder>(r.file, r.name, r.limits, bmp, r.bpp);
  EXPECT_EQ(o.code, textexception::kNoMemory);
  EXPECT_TRUE(o.text.ends_with(std::string(r.text) + "\n")) << o.text;
}

Wmf ManyRectangles(int count) {
  Wmf w;
  w.Brush(0, kRefRed).Select(0);
  for (int i = 0; i < count; ++i) w.Rectangle(0, 0, 100, 100);
  return w;
}

INSTANTIATE_TEST_SUITE_P(
    Limits, BudgetRefusal,
    testing::Values(
        // 40 bytes that declare 16384 x 16384 pixels.
        Refusal{"declared_size", Wmf().File(true, 0, 0, 16384, 16384, 96), "a.wmf",
                With(1 << 20, 64 << 20, 1u << 31), 0,
                "image of 16384 x 16384 = 268435456 pixels is over the pixel limit of 1048576."},
        // 33 KB of empty rows that declare a 1 GiB picture.
        Refusal{"pict_empty_rows", EmptyRowsPict(16384), "p.pict",
                With(1 << 20, 64 << 20, 1u << 31), 0,
                "image of 16384 x 16384 = 268435456 pixels is over the pixel limit of 1048576."},
        // The background (10000 pixels), then each rectangle's fill at its box, 10001 (every
        // call costs one more), and its one-pixel stroke at (length + 3) x 3 + 1 = 1210:
        // the seventeenth stroke passes the limit.
        Refusal{"drawing_work", ManyRectangles(50).File(true, 0, 0, 100, 100, 96), "a.wmf",
                With(1 << 20, 64 << 20, 200000), 0,
                "Metafile decoder: drawing work of 200587 pixels is over the work limit of "
                "200000 pixels."},
        // An 8-bit picture is drawn at 32 bits, then a palette is computed: 7 bytes a pixel,
        // and a MiB for the nearest-entry search.
        Refusal{"eight_bit_drawing", ManyRectangles(1).File(true, 0, 0, 100, 100, 96), "a.wmf",
                With(1 << 20, 50000, 1u << 31), 8,
                "Metafile decoder: drawing for an 8-bit picture of 1118576 bytes is over the "
                "memory limit of 50000 bytes (0 in use)."}),
    [](const testing::TestParamInfo<Refusal>& info) { return info.param.label; });

// Tracing at level 2 into the test's own file.
class TraceFile : public TraceFileTest {
protected:
  void SetUp() override {
    TraceFileTest::SetUp();
    trace::SetFile(path_.string());
    trace::SetLevel(2);
  }
};

TEST_F(TraceFile, BitmapsOverTheMemoryLimitAreSkippedAndDrawingGoesOn) {
  // 16 pattern brushes of 2^28 pixels each (1 GiB apiece once decoded), in 920 bytes.
  Wmf w;
  w.objects = 20;
  for (int i = 0; i < 16; ++i) RleBrush(w, 16384);
  RleBrush(w, 8);  // small enough: kept
  w.Pen(5, 0, 0).Select(17).Select(0).Rectangle(0, 0, 50, 100);
  w.Brush(0, kRefRed).Select(18).Rectangle(50, 0, 100, 50);
  w.Select(16).Rectangle(50, 50, 100, 100);
  CWinBmp bmp;
  ASSERT_EQ(DecodeWith<CWEMFDecoder>(w.File(true, 0, 0, 100, 100, 96), "b.wmf", DecodeLimits(),
                                     bmp)
                .code,
            0);
  EXPECT_EQ(Argb(bmp, 25, 50), kGrey);  // a skipped brush paints grey
  EXPECT_EQ(Argb(bmp, 75, 25), kRed);
  EXPECT_EQ(Argb(bmp, 75, 75), 0xFF0000FFu);  // the small brush: its one colour, blue
  const std::string trace = Contents();
  EXPECT_NE(trace.find("Metafile decoder: bitmap of 16384 x 16384 pixels skipped, over the "
                       "memory limit of 67108864 bytes.\n"),
            std::string::npos)
      << trace;
}

TEST(DecodeBudget, AMillionObjectsCostLittle) {
  // One million CreatePalette records (6 bytes each) fill the table and then find it full;
  // a slot freed after them is the one the next object takes.
  Wmf w;
  w.objects = 0;
  for (int i = 0; i < 1000000; ++i) w.Rec(0x00F7, {});
  w.Rec(0x01F0, {5}).Brush(0, kRefRed).Select(5).Rectangle(0, 0, 10, 10);
  const std::vector<uint8_t> file = w.File(true, 0, 0, 10, 10, 96);
  const std::clock_t start = std::clock();
  CWinBmp bmp;
  ASSERT_EQ(DecodeWith<CWEMFDecoder>(file, "p.wmf", DecodeLimits(), bmp).code, 0);
  EXPECT_LT(double(std::clock() - start) / CLOCKS_PER_SEC, 2.0);  // a walk per record: 50 s
  EXPECT_EQ(Argb(bmp, 5, 5), kRed);
}

TEST(DecodeBudget, ReservationsComeBack) {
  CDecodeBudget budget(With(1, 100, 10));
  EXPECT_TRUE(budget.TryReserve(60));
  EXPECT_FALSE(budget.TryReserve(41));
  {
    CBudgetReservation more(budget, 40, "x");
    EXPECT_EQ(budget.MemoryInUse(), 100u);
  }
  budget.Release(60);
  EXPECT_EQ(budget.MemoryInUse(), 0u);
  EXPECT_EQ(budget.PeakMemory(), 100u);
  EXPECT_FALSE(budget.TryReserve(UINT64_MAX));
  budget.Spend(10, "x");
  EXPECT_THROW(budget.Spend(1, "x"), CTextException);
}

}  // namespace
