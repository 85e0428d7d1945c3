// JPEG, PNG and TIFF: the settings the encoders choose, read back from the files.
#include <gtest/gtest.h>
#include <tiffio.h>

#include "encode_test_util.h"
#include "imaging/core/encode_options.h"
#include "imaging/core/text_exception.h"
#include "imaging/encode/any_pic_encoder.h"
#include "imaging/encode/jpeg_encoder.h"
#include "imaging/encode/png_encoder.h"
#include "imaging/encode/tiff_encoder.h"
#include "library_readers.h"

using Bytes = std::vector<uint8_t>;
using encodetest::TempDir;

namespace {

uint32_t Be32(const Bytes& b, size_t at) {
  return static_cast<uint32_t>(b[at]) << 24 | b[at + 1] << 16 | b[at + 2] << 8 | b[at + 3];
}

// Chunk types of a PNG in file order, with their lengths.
std::vector<std::pair<std::string, uint32_t>> PngChunks(const Bytes& file) {
  std::vector<std::pair<std::string, uint32_t>> chunks;
  for (size_t at = 8; at + 8 <= file.size();) {
    const uint32_t length = Be32(file, at);
    chunks.emplace_back(std::string(file.begin() + at + 4, file.begin() + at + 8), length);
    at += 12 + length;
  }
  return chunks;
}

TEST(PngEncoder, ColourTypeFollowsDepthAndAlpha) {
  struct Case {
    uint16_t bpp;
    bool alpha;
    int colourType;
  };
  for (const Case& c : {Case{8, false, 3}, Case{32, false, 2}, Case{32, true, 6}}) {
    auto bmp = encodetest::MakeNoise(5, 3, c.bpp, 4);
    if (c.alpha) {  // same pixels, alpha flag set
      auto withAlpha = std::make_unique<CWinBmp>();
      withAlpha->Create(5, 3, 32, true);
      for (int y = 0; y < 3; ++y) std::copy_n(bmp->GetRowTable()[y], 20, withAlpha->GetRowTable()[y]);
      bmp = std::move(withAlpha);
    }
    CPNGEncoder encoder;
    const Bytes file = encodetest::EncodeToMemory(encoder, *bmp);
    ASSERT_EQ(Bytes(file.begin(), file.begin() + 8), (Bytes{0x89, 'P', 'N', 'G', 13, 10, 26, 10}));
    EXPECT_EQ(Be32(file, 16), 5u);
    EXPECT_EQ(Be32(file, 20), 3u);
    EXPECT_EQ(file[24], 8) << "bit depth";
    EXPECT_EQ(file[25], c.colourType);
    EXPECT_EQ(file[28], 0) << "not interlaced";
    const auto chunks = PngChunks(file);
    std::vector<std::string> names;
    for (const auto& [name, length] : chunks) {
      if (names.empty() || names.back() != name) names.push_back(name);
      if (name == "PLTE") {
        EXPECT_EQ(length, 768u) << "always 256 entries";
      }
    }
    const std::vector<std::string> expected =
        c.bpp == 8 ? std::vector<std::string>{"IHDR", "PLTE", "IDAT", "IEND"}
                   : std::vector<std::string>{"IHDR", "IDAT", "IEND"};
    EXPECT_EQ(names, expected);
  }
}

TEST(PngEncoder, SinkOverflowPassesThroughAndEncoderStaysUsable) {
  auto bmp = encodetest::MakeNoise(64, 64, 32, 9);
  CPNGEncoder encoder;
  Bytes buffer(500);
  CDataSink sink;
  sink.Open("x.png", buffer.data(), buffer.size());
  try {
    encoder.WriteImage(*bmp, sink);
    FAIL();
  } catch (const CTextException& e) {
    EXPECT_EQ(e.GetErrorCode(), 11);
  }
  EXPECT_FALSE(encodetest::EncodeToMemory(encoder, *bmp).empty());
}

TEST(PngEncoder, BitmapWithoutPixelsRaisesOutOfMemory) {
  for (uint16_t bpp : {8, 32}) {
    CWinBmp bmp;
    bmp.Create(0, 0, bpp, false);
    CPNGEncoder encoder;
    try {
      encodetest::EncodeToMemory(encoder, bmp);
      FAIL() << bpp;
    } catch (const CTextException& e) {
      EXPECT_EQ(e.GetErrorCode(), 10) << bpp;
      EXPECT_STREQ(e.GetErrorText(), "Encoder error:  Out of memory.\n") << bpp;
    }
  }
}

// The first value of the luminance quantisation table (the DC step) tells the quality:
// the standard table starts at 16, scaled by 5000 / q below 50 and 200 - 2q above.
int FirstLuminanceStep(const Bytes& file) {
  for (size_t at = 2; at + 5 < file.size(); ++at)
    if (file[at] == 0xFF && file[at + 1] == 0xDB) return file[at + 5];
  return -1;
}

TEST(JpegEncoder, QualityFromOptionsOrLibraryDefault) {
  TempDir dir;
  struct Case {
    int quality;  // -1: no options
    int step;
  };
  CJPEGEncoder encoder;
  for (const Case& c : {Case{-1, 8}, Case{75, 8}, Case{90, 3}, Case{50, 16}, Case{100, 1}}) {
    auto bmp = encodetest::MakeNoise(16, 16, 32, 1);
    EncodeOptions options;
    if (c.quality >= 0) {
      options.jpegQuality = static_cast<uint8_t>(c.quality);
      bmp->SetEncodeOptions(&options);
    }
    const Bytes file = encodetest::EncodeToMemory(encoder, *bmp);
    EXPECT_EQ(Bytes(file.begin(), file.begin() + 2), (Bytes{0xFF, 0xD8}));
    EXPECT_EQ(FirstLuminanceStep(file), c.step) << c.quality;
  }
}

// The JFIF luminance of a 0xRRGGBB colour, which libjpeg hands back alone when asked for grey.
double Luma(uint32_t rgb) {
  return 0.299 * double(rgb >> 16 & 255) + 0.587 * double(rgb >> 8 & 255) + 0.114 * double(rgb & 255);
}

TEST(JpegEncoder, NoiseAtQuality100FitsAndKeepsItsLuminance) {
  auto bmp = encodetest::MakeNoise(301, 77, 32, 3);
  const std::vector<uint32_t> colours = encodetest::Colours(*bmp);
  EncodeOptions options;
  options.jpegQuality = 100;
  bmp->SetEncodeOptions(&options);
  CJPEGEncoder encoder;
  Bytes file;
  ASSERT_NO_THROW(file = encodetest::EncodeToMemory(encoder, *bmp));
  // At quality 100 every quantiser step is 1: luminance comes back within rounding.
  const libio::Picture grey = libio::ReadJpeg(file, true);
  ASSERT_EQ(grey.width, 301);
  ASSERT_EQ(grey.height, 77);
  for (int y = 0; y < 77; ++y)
    for (int x = 0; x < 301; ++x)
      ASSERT_NEAR(grey.At(x, y)[0], Luma(colours[size_t(y) * 301 + size_t(x)]), 3.0) << x << "," << y;
}

TEST(JpegEncoder, PalettedBitmapConvertedToTrueColourInPlace) {
  auto bmp = encodetest::MakeNoise(7, 5, 8, 2);
  const std::vector<uint32_t> colours = encodetest::Colours(*bmp);
  CJPEGEncoder encoder;
  const Bytes file = encodetest::EncodeToMemory(encoder, *bmp);
  ASSERT_EQ(bmp->GetBitsPerPixel(), 32);
  EXPECT_EQ(encodetest::Colours(*bmp), colours) << "each pixel takes its palette entry";
  const libio::Picture back = libio::ReadJpeg(file);
  EXPECT_EQ(back.width, 7);
  EXPECT_EQ(back.height, 5);
}

// The file equals libjpeg's own with the floating-point DCT, which differs from the
// integer DCT's on noise.
TEST(JpegEncoder, FloatingPointDctAsLibjpegWritesIt) {
  auto bmp = encodetest::MakeNoise(40, 24, 32, 6);
  libio::Picture picture{40, 24, {}};
  for (uint32_t rgb : encodetest::Colours(*bmp))
    picture.rgba.insert(picture.rgba.end(),
                        {uint8_t(rgb >> 16), uint8_t(rgb >> 8), uint8_t(rgb), 255});
  CJPEGEncoder encoder;
  const Bytes file = encodetest::EncodeToMemory(encoder, *bmp);
  EXPECT_EQ(file, libio::WriteJpeg(picture, 75, JDCT_FLOAT));
  EXPECT_NE(file, libio::WriteJpeg(picture, 75, JDCT_ISLOW));
}

TEST(JpegEncoder, OverflowRaisesCode11AndNextFileWorks) {
  auto bmp = encodetest::MakeNoise(64, 64, 32, 5);
  CJPEGEncoder encoder;
  Bytes buffer(300);
  CDataSink sink;
  sink.Open("x.jpg", buffer.data(), buffer.size());
  try {
    encoder.WriteImage(*bmp, sink);
    FAIL();
  } catch (const CTextException& e) {
    EXPECT_EQ(e.GetErrorCode(), 11);
  }
  const Bytes file = encodetest::EncodeToMemory(encoder, *bmp);
  EXPECT_EQ(Bytes(file.end() - 2, file.end()), (Bytes{0xFF, 0xD9}));
}

struct TiffTags {
  uint32_t width = 0, height = 0, rowsPerStrip = 0;
  uint16_t bits = 0, samples = 0, photometric = 0, compression = 0, planar = 0;
  bool hasPhotometric = false;
  std::vector<uint16_t> red, green, blue;
};

TiffTags ReadTiffTags(const std::string& path) {
  TiffTags tags;
  TIFF* tif = TIFFOpen(path.c_str(), "r");
  if (tif == nullptr) {
    ADD_FAILURE() << "libtiff cannot open " << path;
    return tags;
  }
  TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &tags.width);
  TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &tags.height);
  TIFFGetField(tif, TIFFTAG_ROWSPERSTRIP, &tags.rowsPerStrip);
  TIFFGetField(tif, TIFFTAG_BITSPERSAMPLE, &tags.bits);
  TIFFGetField(tif, TIFFTAG_SAMPLESPERPIXEL, &tags.samples);
  TIFFGetField(tif, TIFFTAG_COMPRESSION, &tags.compression);
  TIFFGetField(tif, TIFFTAG_PLANARCONFIG, &tags.planar);
  tags.hasPhotometric = TIFFGetField(tif, TIFFTAG_PHOTOMETRIC, &tags.photometric) == 1;
  uint16_t *r = nullptr, *g = nullptr, *b = nullptr;
  if (TIFFGetField(tif, TIFFTAG_COLORMAP, &r, &g, &b) == 1) {
    tags.red.assign(r, r + 256);
    tags.green.assign(g, g + 256);
    tags.blue.assign(b, b + 256);
  }
  TIFFClose(tif);
  return tags;
}

TEST(TiffEncoder, PhotometricChoice) {
  struct Case {
    uint16_t bpp;
    RgbQuad entry0, entry1;
    uint16_t photometric, bits, samples;
  };
  const RgbQuad black{0, 0, 0, 255}, white{255, 255, 255, 255}, red{0, 0, 255, 255};
  const std::vector<Case> cases = {
      {1, black, white, 1, 1, 1}, {1, white, black, 0, 1, 1},
      {1, black, red, 0, 1, 1},  // not darker in all three components
      {8, black, white, 3, 8, 1}, {32, black, white, 2, 8, 3}};
  TempDir dir;
  for (const Case& c : cases) {
    auto bmp = encodetest::MakeNoise(13, 3, c.bpp, 8);
    if (c.bpp <= 8) {
      std::vector<RgbQuad> palette(1u << c.bpp);
      palette[0] = c.entry0;
      palette[1] = c.entry1;
      bmp->SetPalette(palette.data());
    }
    const std::string path = dir / "x.tif";
    CAnyPicEncoder().EncodeFile(path.c_str(), *bmp);
    const TiffTags tags = ReadTiffTags(path);
    EXPECT_EQ(tags.width, 13u);
    EXPECT_EQ(tags.height, 3u);
    EXPECT_EQ(tags.rowsPerStrip, 1u);
    EXPECT_EQ(tags.compression, 1);
    EXPECT_EQ(tags.planar, 1);
    EXPECT_EQ(tags.photometric, c.photometric);
    EXPECT_EQ(tags.bits, c.bits);
    EXPECT_EQ(tags.samples, c.samples);
  }
}

TEST(TiffEncoder, ColourMapHoldsTheEightBitValuesShiftedLeftByEight) {
  auto bmp = encodetest::MakeNoise(4, 4, 8, 1);
  std::vector<RgbQuad> palette(256);
  palette[0] = {0, 128, 255, 255};  // blue 0, green 128, red 255
  palette[7] = {3, 2, 1, 255};
  bmp->SetPalette(palette.data());
  TempDir dir;
  CAnyPicEncoder().EncodeFile((dir / "x.tif").c_str(), *bmp);
  const TiffTags tags = ReadTiffTags(dir / "x.tif");
  ASSERT_EQ(tags.red.size(), 256u);
  EXPECT_EQ(tags.red[0], 65280);
  EXPECT_EQ(tags.green[0], 32768);
  EXPECT_EQ(tags.blue[0], 0);
  EXPECT_EQ(tags.red[7], 256);
  EXPECT_EQ(tags.blue[7], 768);
}

TEST(TiffEncoder, FileTooBigForTheBufferIsAnErrorNotATruncatedFile) {
  for (uint16_t bpp : {1, 8, 32}) {
    auto bmp = encodetest::MakeNoise(100, 50, bpp, 1);
    CTIFFEncoder encoder;
    Bytes buffer(1000);
    CDataSink sink;
    sink.Open("x.tif", buffer.data(), buffer.size());
    try {
      encoder.WriteImage(*bmp, sink);
      FAIL() << bpp;
    } catch (const CTextException& e) {
      EXPECT_EQ(e.GetErrorCode(), 11) << bpp;
    }
  }
}

}  // namespace
