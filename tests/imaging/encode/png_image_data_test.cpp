// The PNG image data: rows built so that each of the five filters is the clear choice come
// back from libpng pixel for pixel, with that filter recorded; large pictures span several
// IDAT chunks; pictures deflated in several bands at once make one valid stream; a mixed
// set of pictures stays within 5 % of libpng's own files.
#include <gtest/gtest.h>
#include <png.h>
#include <zlib.h>

#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "bench/camera_picture.h"
#include "bench/png_picture_set.h"
#include "encode_test_util.h"
#include "imaging/core/win_bmp.h"
#include "imaging/encode/png_encoder.h"
#include "library_readers.h"

namespace {

using Bytes = std::vector<uint8_t>;

uint32_t Be32(const Bytes& b, size_t at) {
  return uint32_t(b[at]) << 24 | uint32_t(b[at + 1]) << 16 | uint32_t(b[at + 2]) << 8 | b[at + 3];
}

struct Chunks {
  std::vector<uint32_t> idatLengths;
  Bytes idat;  // the IDAT payloads joined
};

Chunks ReadChunks(const Bytes& file) {
  Chunks chunks;
  for (size_t at = 8; at + 12 <= file.size();) {
    const uint32_t length = Be32(file, at);
    if (std::string(file.begin() + long(at) + 4, file.begin() + long(at) + 8) == "IDAT") {
      chunks.idatLengths.push_back(length);
      chunks.idat.insert(chunks.idat.end(), file.begin() + long(at) + 8,
                         file.begin() + long(at + 8 + length));
    }
    at += 12 + length;
  }
  return chunks;
}

Bytes Inflate(const Bytes& stream, size_t size) {
  Bytes raw(size);
  uLongf length = size;
  EXPECT_EQ(uncompress(raw.data(), &length, stream.data(), stream.size()), Z_OK);
  EXPECT_EQ(length, size);
  return raw;
}

// A smooth picture curved in both directions, as photographs are: Paeth predicts it best.
uint8_t Smooth(size_t x, size_t y, size_t channel) {
  return uint8_t(x * x * (channel + 1) / 7 + y * y * (4 - channel % 3) * 5 + x * y * 3);
}

// Rows (in PNG byte order, `bpp` bytes a pixel), pairs of a row above and a row that one
// filter fits best: rows 1, 3, 5, 7, 9 want None, Sub, Up, Average, Paeth. The first four
// follow noise and become zeros or a constant under their filter.
std::vector<Bytes> FilterRows(size_t width, size_t bpp) {
  std::mt19937 random(7);
  const size_t n = width * bpp;
  auto noise = [&] {
    Bytes row(n);
    for (uint8_t& b : row) b = uint8_t(random());
    return row;
  };
  std::vector<Bytes> rows;
  for (int wanted = 0; wanted < 5; ++wanted) {
    if (wanted < 4) {
      rows.push_back(noise());
    } else {
      Bytes above(n);
      for (size_t i = 0; i < n; ++i) above[i] = Smooth(i / bpp, 8, i % bpp);
      rows.push_back(above);
    }
    const Bytes& up = rows.back();
    Bytes row(n, 0);
    for (size_t i = 0; i < n; ++i) {
      const int a = i >= bpp ? row[i - bpp] : 0;
      switch (wanted) {
        case 0: break;                                         // zeros after noise: None
        case 1: row[i] = uint8_t(5 * (i / bpp) + i % bpp); break;  // a ramp: Sub
        case 2: row[i] = up[i]; break;                         // the row above again: Up
        case 3: row[i] = uint8_t((a + up[i]) >> 1); break;     // Average predicts it
        case 4: row[i] = Smooth(i / bpp, 9, i % bpp); break;
      }
    }
    rows.push_back(row);
  }
  return rows;
}

TEST(PngImageData, EachFilterChosenWhereItFitsAndUndoneByLibpng) {
  constexpr int kWidth = 40;
  for (bool alpha : {false, true}) {
    const size_t bpp = alpha ? 4 : 3;
    const std::vector<Bytes> rows = FilterRows(kWidth, bpp);
    CWinBmp bmp;
    bmp.Create(kWidth, int(rows.size()), 32, alpha);
    for (size_t y = 0; y < rows.size(); ++y)
      for (size_t x = 0; x < kWidth; ++x) {
        uint8_t* q = bmp.GetRowTable()[y] + 4 * x;
        const uint8_t* s = &rows[y][x * bpp];
        q[0] = s[2];
        q[1] = s[1];
        q[2] = s[0];
        q[3] = alpha ? s[3] : 0x5A;  // without alpha the fourth byte is ignored
      }
    CPNGEncoder encoder;
    const Bytes file = encodetest::EncodeToMemory(encoder, bmp);

    const size_t stride = 1 + kWidth * bpp;
    const Bytes raw = Inflate(ReadChunks(file).idat, stride * rows.size());
    for (int wanted = 0; wanted < 5; ++wanted)
      EXPECT_EQ(raw[stride * size_t(2 * wanted + 1)], wanted) << "alpha " << alpha;

    const libio::Picture back = libio::ReadPng(file);
    ASSERT_EQ(back.width, kWidth);
    ASSERT_EQ(back.height, int(rows.size()));
    for (size_t y = 0; y < rows.size(); ++y)
      for (size_t x = 0; x < kWidth; ++x)
        for (size_t c = 0; c < 4; ++c) {
          const int want = c < 3 || alpha ? rows[y][x * bpp + c] : 255;
          ASSERT_EQ(back.At(int(x), int(y))[c], want) << "alpha " << alpha << " at " << x << "," << y;
        }
  }
}

TEST(PngImageData, LargePictureSpansSeveralIdatChunks) {
  auto bmp = encodetest::MakeNoise(300, 200, 32, 3);
  CPNGEncoder encoder;
  const Bytes file = encodetest::EncodeToMemory(encoder, *bmp);
  const Chunks chunks = ReadChunks(file);
  ASSERT_GT(chunks.idatLengths.size(), 1u);
  for (size_t i = 0; i + 1 < chunks.idatLengths.size(); ++i) EXPECT_EQ(chunks.idatLengths[i], 65536u);
  EXPECT_GT(chunks.idatLengths.back(), 0u);

  const libio::Picture back = libio::ReadPng(file);
  ASSERT_EQ(back.width, 300);
  ASSERT_EQ(back.height, 200);
  for (int y = 0; y < 200; ++y)
    for (int x = 0; x < 300; ++x) {
      const uint8_t* q = bmp->GetRowTable()[y] + 4 * x;
      const uint8_t* p = back.At(x, y);
      ASSERT_TRUE(p[0] == q[2] && p[1] == q[1] && p[2] == q[0] && p[3] == 255) << x << "," << y;
    }
}

// Camera-like rows: a gradient with noise, and flat stretches whose runs cross the bands.
std::unique_ptr<CWinBmp> CameraLike(int width, int height, uint16_t bpp, bool alpha) {
  auto bmp = std::make_unique<CWinBmp>();
  bmp->Create(width, height, bpp, alpha);
  std::mt19937 random(11);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      const bool flat = (y / 64) % 3 == 1;
      if (bpp == 8) {
        bmp->GetRowTable()[y][x] = flat ? 7 : uint8_t((x + y) / 8 + random() % 3);
        continue;
      }
      uint8_t* p = bmp->GetRowTable()[y] + 4 * x;
      for (int c = 0; c < 3; ++c) p[c] = flat ? uint8_t(40 * c) : uint8_t((x * (c + 1) + y) / 9 + random() % 5);
      p[3] = alpha ? uint8_t(255 - y % 256) : 0;
    }
  if (bpp == 8) {
    std::vector<RgbQuad> palette(256);
    for (int i = 0; i < 256; ++i) palette[size_t(i)] = {uint8_t(i), uint8_t(255 - i), uint8_t(i / 2), 0};
    bmp->SetPalette(palette.data());
  }
  return bmp;
}

// The size libpng itself writes for the same pixels (its default compression and filters).
size_t LibpngSize(const libio::Picture& picture, bool alpha) {
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  image.width = png_uint_32(picture.width);
  image.height = png_uint_32(picture.height);
  image.format = alpha ? PNG_FORMAT_RGBA : PNG_FORMAT_RGB;
  Bytes pixels;
  for (size_t i = 0; i < picture.rgba.size(); ++i)
    if (alpha || i % 4 != 3) pixels.push_back(picture.rgba[i]);
  png_alloc_size_t size = 0;
  EXPECT_TRUE(png_image_write_to_memory(&image, nullptr, &size, 0, pixels.data(), 0, nullptr));
  return size_t(size);
}

TEST(PngImageData, PicturesOfSeveralBandsMakeOneStreamAsSmallAsLibpngs) {
  struct Case {
    int width, height;
    uint16_t bpp;
    bool alpha;
  };
  // Bands hold about a mebibyte of rows: two bands each, the last one short.
  for (const Case c : {Case{1000, 400, 32, false}, Case{600, 700, 32, true}, Case{1100, 1000, 8, false}}) {
    SCOPED_TRACE(testing::Message() << c.width << "x" << c.height << " bpp " << c.bpp << " alpha " << c.alpha);
    auto bmp = CameraLike(c.width, c.height, c.bpp, c.alpha);
    CPNGEncoder encoder;
    const Bytes file = encodetest::EncodeToMemory(encoder, *bmp);

    // Signature, IHDR, PLTE at 8 bits, IDATs of 64 KiB but the last, IEND: nothing else.
    std::vector<std::string> names;
    for (size_t at = 8; at + 12 <= file.size(); at += 12 + Be32(file, at))
      names.emplace_back(file.begin() + long(at) + 4, file.begin() + long(at) + 8);
    const Chunks chunks = ReadChunks(file);
    std::vector<std::string> want{"IHDR"};
    if (c.bpp == 8) want.emplace_back("PLTE");
    want.insert(want.end(), chunks.idatLengths.size(), "IDAT");
    want.emplace_back("IEND");
    EXPECT_EQ(names, want);
    for (size_t i = 0; i + 1 < chunks.idatLengths.size(); ++i) EXPECT_EQ(chunks.idatLengths[i], 65536u);

    // zlib checks the joined stream's checksum; libpng gives back every pixel.
    const size_t bpp = c.bpp == 8 ? 1 : c.alpha ? 4 : 3;
    Inflate(chunks.idat, (1 + size_t(c.width) * bpp) * size_t(c.height));
    const libio::Picture back = libio::ReadPng(file);
    ASSERT_EQ(back.width, c.width);
    ASSERT_EQ(back.height, c.height);
    for (int y = 0; y < c.height; ++y)
      for (int x = 0; x < c.width; ++x) {
        const uint8_t* q = bmp->GetRowTable()[y] + (c.bpp == 8 ? x : 4 * x);
        const uint8_t* bgr = c.bpp == 8 ? &bmp->GetPalette()[*q].blue : q;
        const uint8_t* p = back.At(x, y);
        ASSERT_TRUE(p[0] == bgr[2] && p[1] == bgr[1] && p[2] == bgr[0] &&
                    p[3] == (c.alpha ? q[3] : 255))
            << x << "," << y;
      }
    if (c.bpp == 32) {
      EXPECT_LE(file.size(), LibpngSize(back, c.alpha) * 105 / 100);
    }
  }
}

TEST(PngImageData, PaletteRowsAreUnfiltered) {
  auto bmp = encodetest::MakeNoise(33, 9, 8, 5);
  CPNGEncoder encoder;
  const Bytes file = encodetest::EncodeToMemory(encoder, *bmp);
  const Bytes raw = Inflate(ReadChunks(file).idat, 34 * 9);
  for (int y = 0; y < 9; ++y) {
    EXPECT_EQ(raw[34 * size_t(y)], 0) << y;
    EXPECT_EQ(Bytes(raw.begin() + 34 * y + 1, raw.begin() + 34 * (y + 1)),
              Bytes(bmp->GetRowTable()[y], bmp->GetRowTable()[y] + 33))
        << y;
  }
}

}  // namespace

// Ours against libpng's defaults on a mixed set: no file more than 5 % larger, and libpng
// reads back from ours exactly what it reads from its own.
TEST(PngImageData, MixedPicturesWithinFivePercentOfLibpng) {
  auto camera = pngset::TrueColour(800, 600, bench::CameraPicture(800, 600));
  auto graphics = pngset::TrueColour(1280, 800, pngset::GraphicsAndText(1280, 800));
  auto eightBit = [](CBmp& source, bool grey) {
    auto bmp = std::make_unique<CWinBmp>();
    bmp->CopyFrom(source, 32);
    if (grey) bmp->ConvertToGrey();
    else bmp->CopyFrom(*bmp, 8);
    return bmp;
  };
  std::vector<std::pair<const char*, std::unique_ptr<CWinBmp>>> set;
  set.emplace_back("palette camera", eightBit(*camera, false));
  set.emplace_back("grey camera", eightBit(*camera, true));
  set.emplace_back("palette graphics", eightBit(*graphics, false));
  set.emplace_back("camera", std::move(camera));
  set.emplace_back("graphics", std::move(graphics));
  set.emplace_back("rows", pngset::RepeatedRows(256, 256));
  set.emplace_back("column", pngset::TrueColour(1, 1080, bench::CameraPicture(1, 1080)));
  set.emplace_back("row", pngset::TrueColour(1920, 1, bench::CameraPicture(1920, 1)));
  for (auto& [name, bmp] : set) {
    CPNGEncoder encoder;
    const Bytes ours = encodetest::EncodeToMemory(encoder, *bmp);
    const Bytes theirs = pngset::LibpngFile(*bmp);
    ASSERT_FALSE(theirs.empty()) << name;
    EXPECT_LE(ours.size(), theirs.size() * 105 / 100) << name << ": libpng " << theirs.size();
    const libio::Picture back = libio::ReadPng(ours);
    EXPECT_FALSE(back.rgba.empty()) << name;
    EXPECT_TRUE(back.rgba == libio::ReadPng(theirs).rgba) << name;
  }
}
