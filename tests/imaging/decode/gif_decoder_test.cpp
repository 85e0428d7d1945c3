#include <gtest/gtest.h>

// GCC warns about members left out of C++ designated initializers (its bug 96868); the
// specs below rely on their defaults.
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

#include <algorithm>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "imaging/decode/gif_decoder.h"
#include "lib_decode_test_util.h"

using libdecodetest::DecodeFailure;
using libdecodetest::DecodeWith;
using libdecodetest::Rgba;

namespace {

// Packs LZW codes least significant bit first into data sub-blocks of at most 255 bytes.
class CodeWriter {
public:
  void Put(int code, int bits) {
    acc_ |= uint64_t(code) << count_;
    count_ += bits;
    while (count_ >= 8) {
      bytes_.push_back(uint8_t(acc_));
      acc_ >>= 8;
      count_ -= 8;
    }
  }
  std::vector<uint8_t> Blocks() {
    if (count_ > 0) bytes_.push_back(uint8_t(acc_));
    count_ = 0;
    std::vector<uint8_t> out;
    for (size_t i = 0; i < bytes_.size(); i += 255) {
      size_t n = std::min<size_t>(255, bytes_.size() - i);
      out.push_back(uint8_t(n));
      out.insert(out.end(), bytes_.begin() + long(i), bytes_.begin() + long(i + n));
    }
    out.push_back(0);
    return out;
  }

private:
  std::vector<uint8_t> bytes_;
  uint64_t acc_ = 0;
  int count_ = 0;
};

// Image data made of plain pixel codes only. A GIF reader adds a table entry for every code
// after the first since the last clear and widens its codes when the next free entry reaches
// 2^size (up to 12 bits, where it stops adding), so the writer keeps the same count.
struct LiteralStream {
  int minCodeSize = 8;
  bool clearFirst = true;
  bool endCode = true;
  int clearEvery = 0;  // 0: never clear again
  std::vector<int> extraCodes;  // written after the pixels, before the end code

  std::vector<uint8_t> Encode(const std::vector<uint8_t>& pixels) const {
    const int clear = 1 << minCodeSize;
    CodeWriter w;
    int size = minCodeSize + 1, next = clear + 2, sinceClear = 0;
    auto emit = [&](int code) {
      w.Put(code, size);
      if (sinceClear++ > 0 && next < 4096) {
        ++next;
        if (next >= (1 << size) && size < 12) ++size;
      }
    };
    auto doClear = [&] {
      w.Put(clear, size);
      size = minCodeSize + 1;
      next = clear + 2;
      sinceClear = 0;
    };
    if (clearFirst) doClear();
    for (size_t i = 0; i < pixels.size(); ++i) {
      if (clearEvery > 0 && i > 0 && i % size_t(clearEvery) == 0) doClear();
      emit(pixels[i]);
    }
    for (int code : extraCodes) emit(code);
    if (endCode) w.Put(clear + 1, size);
    std::vector<uint8_t> out{uint8_t(minCodeSize)};
    std::vector<uint8_t> blocks = w.Blocks();
    out.insert(out.end(), blocks.begin(), blocks.end());
    return out;
  }
};

struct GifSpec {
  const char* signature = "GIF89a";
  int width = 4;
  int height = 2;
  int globalEntries = 4;  // 0: no global table
  int localEntries = 0;   // 0: no local table
  bool interlaced = false;
  uint8_t aspect = 0;
  std::vector<uint8_t> beforeImage;  // extensions and stray bytes
};

void Le16(std::vector<uint8_t>& v, int x) {
  v.push_back(uint8_t(x));
  v.push_back(uint8_t(x >> 8));
}

int SizeCode(int entries) {
  int s = 0;
  while ((2 << s) < entries) ++s;
  return s;
}

// Global entry i is (i, 255 - i, 7); local entry i is (200, i, 100 + i).
std::vector<uint8_t> MakeGif(const GifSpec& s, const std::vector<uint8_t>& imageData) {
  std::vector<uint8_t> v(s.signature, s.signature + 6);
  Le16(v, s.width);
  Le16(v, s.height);
  v.push_back(s.globalEntries ? uint8_t(0x80 | SizeCode(s.globalEntries)) : 0);
  v.push_back(0);
  v.push_back(s.aspect);
  for (int i = 0; i < s.globalEntries; ++i) {
    v.insert(v.end(), {uint8_t(i), uint8_t(255 - i), 7});
  }
  v.insert(v.end(), s.beforeImage.begin(), s.beforeImage.end());
  v.push_back(',');
  Le16(v, 0);
  Le16(v, 0);
  Le16(v, s.width);
  Le16(v, s.height);
  uint8_t flags = s.interlaced ? 0x40 : 0;
  if (s.localEntries) flags |= uint8_t(0x80 | SizeCode(s.localEntries));
  v.push_back(flags);
  for (int i = 0; i < s.localEntries; ++i) v.insert(v.end(), {200, uint8_t(i), uint8_t(100 + i)});
  v.insert(v.end(), imageData.begin(), imageData.end());
  v.push_back(';');
  return v;
}

std::vector<uint8_t> Sequence(int n, int modulo) {
  std::vector<uint8_t> p(size_t(n), 0);
  for (int i = 0; i < n; ++i) p[size_t(i)] = uint8_t(i % modulo);
  return p;
}

TEST(GifDecoder, LocalTableOverwritesOnlyTheFirstGlobalEntries) {
  const auto file = MakeGif({.width = 4, .height = 1, .globalEntries = 256, .localEntries = 4},
                            LiteralStream{}.Encode({0, 3, 4, 255}));
  CGifDecoder decoder;
  CWinBmp bmp;
  DecodeWith(decoder, file, bmp, 0);
  ASSERT_EQ(bmp.GetBitsPerPixel(), 8);
  const RgbQuad* pal = bmp.GetPalette();
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(pal[i].red, 200);
    EXPECT_EQ(pal[i].green, i);
    EXPECT_EQ(pal[i].blue, 100 + i);
  }
  for (int i : {4, 100, 255}) {
    EXPECT_EQ(pal[i].red, i);
    EXPECT_EQ(pal[i].green, 255 - i);
    EXPECT_EQ(pal[i].blue, 7);
  }
  EXPECT_EQ(bmp.GetRowTable()[0][3], 255);
}

struct InterlaceCase {
  int height;
  std::vector<int> rowsInDataOrder;
};

class GifInterlace : public testing::TestWithParam<InterlaceCase> {};

TEST_P(GifInterlace, RowsLandInPassOrder) {
  const InterlaceCase& c = GetParam();
  const int width = 3;
  // Data row k is filled with pixel value k.
  std::vector<uint8_t> pixels;
  for (int k = 0; k < c.height; ++k) pixels.insert(pixels.end(), width, uint8_t(k));
  const auto file = MakeGif({.width = width, .height = c.height, .globalEntries = 256,
                             .interlaced = true},
                            LiteralStream{}.Encode(pixels));
  CGifDecoder decoder;
  CWinBmp bmp;
  DecodeWith(decoder, file, bmp, 0);
  ASSERT_EQ(int(c.rowsInDataOrder.size()), c.height);
  for (int k = 0; k < c.height; ++k) {
    const int row = c.rowsInDataOrder[size_t(k)];
    for (int x = 0; x < width; ++x) EXPECT_EQ(bmp.GetRowTable()[row][x], k) << "row " << row;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Heights, GifInterlace,
    testing::Values(InterlaceCase{1, {0}}, InterlaceCase{2, {0, 1}}, InterlaceCase{3, {0, 2, 1}},
                    InterlaceCase{5, {0, 4, 2, 1, 3}},
                    InterlaceCase{10, {0, 8, 4, 2, 6, 1, 3, 5, 7, 9}}));

// Codes that stand for strings, worked out by hand from the LZW rules: a known code outputs
// its string and adds (previous string + its first pixel); a code equal to the next free
// entry outputs (previous string + previous string's first pixel) and adds that.
struct StringCase {
  const char* what;
  int minCodeSize;
  int width, height;
  std::vector<int> codes;  // after the leading clear
  std::vector<uint8_t> pixels;
};

class GifStringCodes : public testing::TestWithParam<StringCase> {};

TEST_P(GifStringCodes, ExpandToTheirStrings) {
  const StringCase& c = GetParam();
  LiteralStream stream;
  stream.minCodeSize = c.minCodeSize;
  stream.extraCodes = c.codes;
  const auto file = MakeGif({.width = c.width, .height = c.height, .globalEntries = 256},
                            stream.Encode({}));
  CGifDecoder decoder;
  CWinBmp bmp;
  DecodeWith(decoder, file, bmp, 0);
  ASSERT_EQ(bmp.GetWidth(), c.width);
  ASSERT_EQ(bmp.GetHeight(), c.height);
  for (int y = 0; y < c.height; ++y)
    for (int x = 0; x < c.width; ++x)
      EXPECT_EQ(bmp.GetRowTable()[y][x], c.pixels[size_t(y * c.width + x)]) << x << "," << y;
}

INSTANTIATE_TEST_SUITE_P(
    Streams, GifStringCodes,
    testing::Values(
        // 2-bit codes (clear 4, end 5): 1, 2, 6=[1 2], 8 is the next entry -> [1 2 1] (and
        // the codes are 4 bits wide from here), 7=[2 1], 9=[1 2 1 2], 10=[2 1 1].
        StringCase{"two-bit", 2, 4, 4, {1, 2, 6, 8, 7, 9, 10},
                   {1, 2, 1, 2, 1, 2, 1, 2, 1, 1, 2, 1, 2, 2, 1, 1}},
        // 8-bit codes: a run built from next-entry codes twice over, then a string behind a
        // literal: 65, 258=[65 65], 259=[65 65 65], 66, 260=[65 65 65 66], 258.
        StringCase{"eight-bit run", 8, 13, 1, {65, 258, 259, 66, 260, 258},
                   {65, 65, 65, 65, 65, 65, 66, 65, 65, 65, 66, 65, 65}}),
    [](const testing::TestParamInfo<StringCase>& info) {
      std::string name = info.param.what;
      std::replace(name.begin(), name.end(), '-', '_');
      std::replace(name.begin(), name.end(), ' ', '_');
      return name;
    });

TEST(GifDecoder, CodesGrowToTwelveBitsAndStayThereWithoutClear) {
  // 6000 codes without a clear: the table fills at 4096 entries and codes stay 12 bits.
  const int width = 100, height = 60;
  const auto pixels = Sequence(width * height, 251);
  for (int clearEvery : {0, 1000}) {
    LiteralStream stream;
    stream.clearEvery = clearEvery;
    const auto file = MakeGif({.width = width, .height = height, .globalEntries = 256},
                              stream.Encode(pixels));
    CGifDecoder decoder;
    CWinBmp bmp;
    DecodeWith(decoder, file, bmp, 0);
    for (int y = 0; y < height; ++y) {
      for (int x = 0; x < width; ++x) {
        ASSERT_EQ(bmp.GetRowTable()[y][x], pixels[size_t(y * width + x)])
            << x << "," << y << " clear every " << clearEvery;
      }
    }
  }
}

TEST(GifDecoder, SmallCodeSizesAndMissingLeadingClear) {
  for (int minCodeSize : {1, 2, 3, 5}) {
    LiteralStream stream;
    stream.minCodeSize = minCodeSize;
    stream.clearFirst = false;
    const int modulo = 1 << minCodeSize;
    const auto pixels = Sequence(40, modulo);
    const auto file = MakeGif({.width = 8, .height = 5, .globalEntries = 256},
                              stream.Encode(pixels));
    CGifDecoder decoder;
    CWinBmp bmp;
    DecodeWith(decoder, file, bmp, 0);
    for (int i = 0; i < 40; ++i) {
      ASSERT_EQ(bmp.GetRowTable()[i / 8][i % 8], pixels[size_t(i)]) << minCodeSize;
    }
  }
}

TEST(GifDecoder, SkipsExtensionsTrailerAndStrayBytesBeforeTheImage) {
  std::vector<uint8_t> before = {'!', 0xF9, 4, 1, 2, 3, 4, 0,       // graphic control
                                 '!', 0xFE, 3, 'a', 'b', 'c', 2, 'd', 'e', 0,  // comment
                                 ';', 0x00, 0x42};                  // trailer and junk
  const auto file = MakeGif({.width = 2, .height = 1, .beforeImage = before},
                            LiteralStream{}.Encode({1, 2}));
  CGifDecoder decoder;
  CWinBmp bmp;
  DecodeWith(decoder, file, bmp, 0);
  EXPECT_EQ(bmp.GetRowTable()[0][0], 1);
  EXPECT_EQ(bmp.GetRowTable()[0][1], 2);
  EXPECT_EQ(decoder.GetMessage(), gifdecoder::kNoError);
}

TEST(GifDecoder, AlwaysEightBitsWhateverIsWanted) {
  const auto file = MakeGif({}, LiteralStream{}.Encode(Sequence(8, 4)));
  for (int wanted : {0, 1, 8, 32}) {
    CGifDecoder decoder;
    CWinBmp bmp;
    CMemSource source("a.gif", file);
    int bpp = wanted;
    std::unique_ptr<RgbQuad[]> palette;
    decoder.DecodeBody(bmp, palette, bpp, source);
    EXPECT_EQ(bpp, 8);
    EXPECT_EQ(bmp.GetBitsPerPixel(), 8);
    EXPECT_EQ(Rgba(bmp, 1, 0), (std::array<uint8_t, 4>{1, 254, 7, 255}));
  }
}

TEST(GifDecoder, NonSquareAspectIsANoteNotAFailure) {
  const auto file = MakeGif({.aspect = 17}, LiteralStream{}.Encode(Sequence(8, 4)));
  CGifDecoder decoder;
  CWinBmp bmp;
  DecodeWith(decoder, file, bmp, 0);
  EXPECT_EQ(decoder.GetMessage(), gifdecoder::kNonSquare);
  // The next decode starts afresh.
  DecodeWith(decoder, MakeGif({.aspect = 49}, LiteralStream{}.Encode(Sequence(8, 4))), bmp, 0);
  EXPECT_EQ(decoder.GetMessage(), gifdecoder::kNoError);
}

TEST(GifDecoder, BadMinimumCodeSizeRaisesTheRecordedMessage) {
  struct Case {
    int localEntries;
    int minCodeSize;
    const char* message;
  };
  for (const Case& c : {Case{0, 0, gifdecoder::kImageGlobal}, Case{0, 9, gifdecoder::kImageGlobal},
                        Case{0, 12, gifdecoder::kImageGlobal},
                        Case{4, 11, gifdecoder::kImageLocal}}) {
    std::vector<uint8_t> data = {uint8_t(c.minCodeSize), 1, 0, 0};
    CGifDecoder decoder;
    const auto failure =
        DecodeFailure(decoder, MakeGif({.localEntries = c.localEntries}, data));
    EXPECT_EQ(failure.code, textexception::kFormatError);
    EXPECT_EQ(failure.text, std::string("Decoder error: ") + c.message + "\n");
    EXPECT_EQ(decoder.GetMessage(), c.message);
  }
}

TEST(GifDecoder, WrongSignatureOrVersionIsCodeOne) {
  for (const char* signature : {"GIF88a", "GIF87b", "GIF90a"}) {
    auto file = MakeGif({.signature = "GIF89a"}, LiteralStream{}.Encode(Sequence(8, 4)));
    std::copy(signature, signature + std::strlen(signature), file.begin());
    CGifDecoder decoder;
    EXPECT_EQ(DecodeFailure(decoder, file).code, textexception::kWrongSignature) << signature;
    EXPECT_EQ(decoder.GetMessage(), gifdecoder::kNoError);
  }
}

TEST(GifDecoder, EarlyEndOrUndefinedCodeLeavesTheRestAtIndexZero) {
  struct Case {
    const char* what;
    std::vector<int> extra;
  };
  // The first five pixels come as literals; then the data ends (end code), or a code far
  // beyond the table arrives.
  for (const Case& c : {Case{"end code", {}}, Case{"undefined code", {300}}}) {
    LiteralStream stream;
    stream.extraCodes = c.extra;
    const auto file = MakeGif({.width = 4, .height = 3, .globalEntries = 256, .interlaced = true},
                              stream.Encode({9, 9, 9, 9, 9}));
    CGifDecoder decoder;
    CWinBmp bmp;
    DecodeWith(decoder, file, bmp, 0);
    // Interlaced height 3: data rows go to rows 0, 2, 1; the fifth pixel starts row 2.
    for (int x = 0; x < 4; ++x) EXPECT_EQ(bmp.GetRowTable()[0][x], 9) << c.what;
    EXPECT_EQ(bmp.GetRowTable()[2][0], 9) << c.what;
    for (int x = 1; x < 4; ++x) EXPECT_EQ(bmp.GetRowTable()[2][x], 0) << c.what;
    for (int x = 0; x < 4; ++x) EXPECT_EQ(bmp.GetRowTable()[1][x], 0) << c.what;
  }
}

TEST(GifDecoder, DataCutShortRunsOutOfData) {
  const auto full = MakeGif({.width = 20, .height = 20, .globalEntries = 256},
                            LiteralStream{}.Encode(Sequence(400, 200)));
  for (size_t keep : {size_t(3), size_t(10), size_t(13), size_t(800), full.size() - 200}) {
    std::vector<uint8_t> cut(full.begin(), full.begin() + long(keep));
    CGifDecoder decoder;
    EXPECT_EQ(DecodeFailure(decoder, cut).code, textexception::kEndOfData) << keep;
  }
  // A file that stops right after the last pixel's code still gives the whole picture.
  LiteralStream noEnd;
  noEnd.endCode = false;
  auto data = noEnd.Encode(Sequence(400, 200));
  data.pop_back();  // no terminator either
  auto file = MakeGif({.width = 20, .height = 20, .globalEntries = 256}, data);
  file.pop_back();  // nor a trailer
  CGifDecoder decoder;
  CWinBmp bmp;
  DecodeWith(decoder, file, bmp, 0);
  EXPECT_EQ(bmp.GetRowTable()[19][19], 399 % 200);
}

TEST(GifDecoder, SizeChecks) {
  const auto data = LiteralStream{}.Encode(Sequence(4, 4));
  CGifDecoder zero;
  EXPECT_EQ(DecodeFailure(zero, MakeGif({.width = 0, .height = 5}, data)).code,
            textexception::kFormatError);
  CGifDecoder limited;
  limited.SetMaxPixels(1 << 20);
  EXPECT_EQ(DecodeFailure(limited, MakeGif({.width = 65535, .height = 65535}, data)).code,
            textexception::kNoMemory);
}

TEST(GifDecoder, DecoderObjectsDoNotShareReadingState) {
  // Two pictures with different palettes and sizes decoded over and over on two threads.
  const auto a = MakeGif({.width = 50, .height = 40, .globalEntries = 256},
                         LiteralStream{}.Encode(Sequence(2000, 256)));
  const auto b = MakeGif({.width = 30, .height = 31, .globalEntries = 4, .localEntries = 16,
                          .interlaced = true},
                         LiteralStream{.minCodeSize = 4}.Encode(Sequence(930, 16)));
  auto run = [](const std::vector<uint8_t>& file, int width, int modulo, bool* ok) {
    CGifDecoder decoder;
    for (int i = 0; i < 200 && *ok; ++i) {
      CWinBmp bmp;
      DecodeWith(decoder, file, bmp, 0);
      *ok = bmp.GetWidth() == width && bmp.GetRowTable()[0][width - 1] == (width - 1) % modulo;
    }
  };
  bool okA = true, okB = true;
  std::thread t1(run, std::cref(a), 50, 256, &okA);
  std::thread t2(run, std::cref(b), 30, 16, &okB);
  t1.join();
  t2.join();
  EXPECT_TRUE(okA);
  EXPECT_TRUE(okB);
}

TEST(GifDecoder, DetectedByTheDispatcher) {
  const auto file = MakeGif({}, LiteralStream{}.Encode(Sequence(8, 4)));
  CAnyPicDecoder any;
  CWinBmp bmp;
  DecodeWith(any, file, bmp, 32, "x.gif");
  EXPECT_EQ(any.GetFileType(), picformat::kGif);
  EXPECT_EQ(bmp.GetBitsPerPixel(), 8);
}

}  // namespace
