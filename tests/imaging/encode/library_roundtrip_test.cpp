// PNG, TIFF and JPEG pixels both ways against the libraries themselves: our encoders' files
// read by libpng, libtiff and libjpeg directly, and files those libraries write read by our
// decoders. Every pixel differs from its neighbours, so a swapped channel pair, a flipped row
// order or a lost alpha byte shows.
#include <gtest/gtest.h>

#include <array>
#include <cstdlib>
#include <string>
#include <vector>

#include "encode_test_util.h"
#include "imaging/core/encode_options.h"
#include "imaging/decode/jpeg_decoder.h"
#include "imaging/decode/png_decoder.h"
#include "imaging/decode/tiff_decoder.h"
#include "imaging/encode/jpeg_encoder.h"
#include "imaging/encode/png_encoder.h"
#include "imaging/encode/tiff_encoder.h"
#include "library_readers.h"

using encodetest::TempDir;
using libio::Picture;

namespace {

// 7 x 5: an odd width, so 8-bit rows carry padding; red follows x, green y, alpha both.
Picture Gradient() {
  Picture p{7, 5, {}};
  for (int y = 0; y < p.height; ++y)
    for (int x = 0; x < p.width; ++x)
      p.rgba.insert(p.rgba.end(), {uint8_t(10 + 35 * x), uint8_t(5 + 50 * y),
                                   uint8_t(17 * (x + y)), uint8_t(40 + 9 * x * y)});
  return p;
}

// Our bitmap of the picture: 32 bits, blue-green-red-alpha, row 0 on top.
std::unique_ptr<CWinBmp> ToBitmap(const Picture& p, bool alpha) {
  auto bmp = std::make_unique<CWinBmp>();
  bmp->Create(p.width, p.height, 32, alpha);
  for (int y = 0; y < p.height; ++y)
    for (int x = 0; x < p.width; ++x) {
      uint8_t* q = bmp->GetRowTable()[y] + 4 * x;
      const uint8_t* s = p.At(x, y);
      q[0] = s[2];
      q[1] = s[1];
      q[2] = s[0];
      q[3] = s[3];
    }
  return bmp;
}

// Compares our 32-bit bitmap with the picture, colour within `tolerance`, alpha exactly or
// not at all.
void ExpectSame(const CBmp& bmp, const Picture& p, bool alpha, int tolerance, const char* what) {
  ASSERT_EQ(bmp.GetBitsPerPixel(), 32) << what;
  ASSERT_EQ(bmp.GetWidth(), p.width) << what;
  ASSERT_EQ(bmp.GetHeight(), p.height) << what;
  for (int y = 0; y < p.height; ++y)
    for (int x = 0; x < p.width; ++x) {
      const uint8_t* q = bmp.GetRowTable()[y] + 4 * x;
      const uint8_t* s = p.At(x, y);
      for (int c = 0; c < 3; ++c)
        EXPECT_NEAR(q[2 - c], s[c], tolerance) << what << " channel " << c << " at " << x << "," << y;
      if (alpha) {
        EXPECT_EQ(q[3], s[3]) << what << " alpha at " << x << "," << y;
      }
    }
}

// The picture as libio would read it: RGB within `tolerance`, alpha exactly or 255.
void ExpectSame(const Picture& got, const Picture& want, bool alpha, int tolerance, const char* what) {
  ASSERT_EQ(got.width, want.width) << what;
  ASSERT_EQ(got.height, want.height) << what;
  ASSERT_EQ(got.rgba.size(), want.rgba.size()) << what;
  for (int y = 0; y < want.height; ++y)
    for (int x = 0; x < want.width; ++x) {
      for (int c = 0; c < 3; ++c)
        EXPECT_NEAR(got.At(x, y)[c], want.At(x, y)[c], tolerance) << what << " channel " << c << " at " << x << "," << y;
      EXPECT_EQ(got.At(x, y)[3], alpha ? want.At(x, y)[3] : 255) << what << " alpha at " << x << "," << y;
    }
}

template <class Decoder>
void DecodeWith(const std::vector<uint8_t>& file, CWinBmp& bmp, int wanted) {
  Decoder decoder;
  CMemSource source("memory", file);
  decoder.DecodeSource(source, bmp, wanted);
}

// Four flat 16 x 16 squares on the JPEG block grid, colours far apart in every channel pair.
// Only their insides are compared: chroma upsampling blends the two pixels next to an edge.
Picture Squares() {
  const uint8_t colours[4][3] = {{230, 20, 20}, {20, 220, 30}, {25, 30, 225}, {240, 240, 240}};
  Picture p{32, 32, {}};
  for (int y = 0; y < p.height; ++y)
    for (int x = 0; x < p.width; ++x) {
      const uint8_t* c = colours[x / 16 + 2 * (y / 16)];
      p.rgba.insert(p.rgba.end(), {c[0], c[1], c[2], 255});
    }
  return p;
}
bool InsideASquare(int x, int y) { return x % 16 >= 2 && x % 16 < 14 && y % 16 >= 2 && y % 16 < 14; }

// The inside of each square, from libjpeg's reading or ours (as RGBA at `get(x, y)`).
template <class Get>
void ExpectSquares(const Picture& want, Get get, const char* what) {
  for (int y = 0; y < want.height; ++y)
    for (int x = 0; x < want.width; ++x) {
      if (!InsideASquare(x, y)) continue;
      const std::array<uint8_t, 3> got = get(x, y);
      for (int c = 0; c < 3; ++c)
        EXPECT_NEAR(got[size_t(c)], want.At(x, y)[c], 6) << what << " channel " << c << " at " << x << "," << y;
    }
}

TEST(PngRoundTrip, OurFileReadByLibpng) {
  const Picture picture = Gradient();
  for (bool alpha : {true, false}) {
    auto bmp = ToBitmap(picture, alpha);
    CPNGEncoder encoder;
    const Picture back = libio::ReadPng(encodetest::EncodeToMemory(encoder, *bmp));
    ExpectSame(back, picture, alpha, 0, alpha ? "with alpha" : "without alpha");
  }
}

TEST(PngRoundTrip, PalettedFileReadByLibpng) {
  auto bmp = encodetest::MakeNoise(7, 5, 8, 11);
  const std::vector<uint32_t> colours = encodetest::Colours(*bmp);
  CPNGEncoder encoder;
  const Picture back = libio::ReadPng(encodetest::EncodeToMemory(encoder, *bmp));
  ASSERT_EQ(back.width, 7);
  ASSERT_EQ(back.height, 5);
  for (int i = 0; i < 35; ++i) {
    const uint8_t* p = back.At(i % 7, i / 7);
    EXPECT_EQ(uint32_t(p[0]) << 16 | uint32_t(p[1]) << 8 | p[2], colours[size_t(i)]) << i;
  }
}

TEST(PngRoundTrip, LibpngFileReadByUs) {
  const Picture picture = Gradient();
  const std::vector<uint8_t> file = libio::WritePng(picture);
  ASSERT_FALSE(file.empty());
  for (int wanted : {0, 32}) {
    CWinBmp bmp;
    DecodeWith<CPNGDecoder>(file, bmp, wanted);
    EXPECT_TRUE(bmp.HasAlpha());
    ExpectSame(bmp, picture, true, 0, "libpng RGBA");
  }
}

TEST(TiffRoundTrip, OurFileReadByLibtiff) {
  TempDir dir;
  const Picture picture = Gradient();
  auto bmp = ToBitmap(picture, false);
  CTIFFEncoder encoder;
  const std::vector<uint8_t> file = encodetest::EncodeToMemory(encoder, *bmp);
  const std::string path = dir / "ours.tif";
  std::FILE* f = std::fopen(path.c_str(), "wb");
  ASSERT_NE(f, nullptr);
  std::fwrite(file.data(), 1, file.size(), f);
  std::fclose(f);
  ExpectSame(libio::ReadTiff(path), picture, false, 0, "our TIFF");
}

TEST(TiffRoundTrip, LibtiffFileReadByUs) {
  TempDir dir;
  // Associated alpha: the colour is stored premultiplied and libtiff hands it on unchanged.
  Picture picture = Gradient();
  for (size_t i = 0; i < picture.rgba.size(); i += 4)
    for (int c = 0; c < 3; ++c)
      picture.rgba[i + c] = uint8_t(picture.rgba[i + c] * picture.rgba[i + 3] / 255);
  const std::string path = dir / "libtiff.tif";
  ASSERT_TRUE(libio::WriteTiff(path, picture));
  CWinBmp bmp;
  CTIFFDecoder decoder;
  decoder.DecodeFile(path.c_str(), bmp, 32);
  ExpectSame(bmp, picture, true, 0, "libtiff RGBA");
}

TEST(JpegRoundTrip, OurFileReadByLibjpeg) {
  const Picture picture = Squares();
  auto bmp = ToBitmap(picture, false);
  EncodeOptions options;
  options.jpegQuality = 100;
  bmp->SetEncodeOptions(&options);
  CJPEGEncoder encoder;
  const Picture back = libio::ReadJpeg(encodetest::EncodeToMemory(encoder, *bmp));
  ASSERT_EQ(back.width, 32);
  ASSERT_EQ(back.height, 32);
  ExpectSquares(picture, [&](int x, int y) {
    const uint8_t* p = back.At(x, y);
    return std::array<uint8_t, 3>{p[0], p[1], p[2]};
  }, "our JPEG");
}

TEST(JpegRoundTrip, LibjpegFileReadByUs) {
  const Picture picture = Squares();
  const std::vector<uint8_t> file = libio::WriteJpeg(picture, 100);
  for (int wanted : {0, 32}) {
    CWinBmp bmp;
    DecodeWith<CJPEGDecoder>(file, bmp, wanted);
    ASSERT_EQ(bmp.GetBitsPerPixel(), 32);
    ASSERT_EQ(bmp.GetWidth(), 32);
    ASSERT_EQ(bmp.GetHeight(), 32);
    ExpectSquares(picture, [&](int x, int y) {
      const uint8_t* q = bmp.GetRowTable()[y] + 4 * x;
      return std::array<uint8_t, 3>{q[2], q[1], q[0]};
    }, "libjpeg colour");
  }
}

}  // namespace
