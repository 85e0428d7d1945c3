#include "imaging/encode/gif_encoder.h"

#include <gtest/gtest.h>

#include <map>
#include <random>

#include "encode_test_util.h"
#include "imaging/core/encode_options.h"

namespace {

constexpr size_t kDataStart = 6 + 7 + 768 + 10;  // the LZW minimum code size byte

// An independent reading of the GIF data stream as the format defines it: sub-blocks
// joined, codes read least significant bit first, code width following the decoder's
// table size (9 bits after a clear, one more when the next entry reaches 2^width, at most
// 12). Records each code with its width, and the pixels.
struct Decoded {
  std::vector<std::pair<int, int>> codes;  // (code, width)
  std::vector<uint8_t> pixels;
  size_t end = 0;  // offset just behind the block terminator
};

Decoded DecodeGifData(const std::vector<uint8_t>& file, size_t at) {
  Decoded out;
  EXPECT_EQ(file.at(at), 8);
  std::vector<uint8_t> data;
  size_t p = at + 1;
  while (file.at(p) != 0) {
    const size_t n = file[p];
    EXPECT_LE(n, 254u) << "sub-blocks hold at most 254 bytes";
    data.insert(data.end(), file.begin() + p + 1, file.begin() + p + 1 + n);
    p += n + 1;
  }
  out.end = p + 1;
  std::vector<std::vector<uint8_t>> table;
  auto reset = [&] {
    table.assign(258, {});
    for (int i = 0; i < 256; ++i) table[i] = {static_cast<uint8_t>(i)};
  };
  reset();
  int width = 9;
  size_t bit = 0;
  int previous = -1;
  for (;;) {
    if (bit + width > data.size() * 8) {
      ADD_FAILURE() << "data ends without end code";
      break;
    }
    int code = 0;
    for (int i = 0; i < width; ++i, ++bit)
      code |= ((data[bit / 8] >> (bit % 8)) & 1) << i;
    out.codes.emplace_back(code, width);
    if (code == 256) {
      reset();
      width = 9;
      previous = -1;
      continue;
    }
    if (code == 257) break;
    std::vector<uint8_t> entry;
    if (code < static_cast<int>(table.size())) {
      entry = table[code];
      if (previous >= 0) {
        auto added = table[previous];
        added.push_back(entry[0]);
        table.push_back(added);
      }
    } else {
      EXPECT_EQ(code, static_cast<int>(table.size()));
      entry = table.at(previous);
      entry.push_back(entry[0]);
      table.push_back(entry);
    }
    out.pixels.insert(out.pixels.end(), entry.begin(), entry.end());
    previous = code;
    if (static_cast<int>(table.size()) >= (1 << width) && width < 12) ++width;
  }
  return out;
}

TEST(GifEncoder, OneByOnePictureBytes) {
  auto bmp = encodetest::MakeIndexed({{5}});
  RgbQuad palette[256];
  for (int i = 0; i < 256; ++i)
    palette[i] = {static_cast<uint8_t>(i), static_cast<uint8_t>(255 - i), static_cast<uint8_t>(i / 2), 255};
  bmp->SetPalette(palette);
  CGifEncoder encoder;
  const std::vector<uint8_t> file = encodetest::EncodeToMemory(encoder, *bmp);

  std::vector<uint8_t> expected = {'G', 'I', 'F', '8', '7', 'a', 1, 0, 1, 0, 0xE7, 0, 0};
  for (int i = 0; i < 256; ++i) {  // red, green, blue
    expected.push_back(static_cast<uint8_t>(i / 2));
    expected.push_back(static_cast<uint8_t>(255 - i));
    expected.push_back(static_cast<uint8_t>(i));
  }
  const std::vector<uint8_t> tail = {0x2C, 0, 0, 0, 0, 1, 0, 1, 0, 0,  // descriptor
                                     8, 4, 0x00, 0x0B, 0x04, 0x04, 0, 0x3B};
  expected.insert(expected.end(), tail.begin(), tail.end());
  EXPECT_EQ(file, expected);
}

TEST(GifEncoder, OptionsSetBackgroundAndInterlaceFlag) {
  struct Case {
    uint8_t flags, background;
    uint8_t expectedBackground, expectedDescriptorFlags;
  };
  for (const Case& c : {Case{0, 9, 9, 0}, Case{EncodeOptions::kFlagTransparent, 9, 0, 0},
                        Case{EncodeOptions::kFlagInterlace, 3, 3, 0x40}}) {
    auto bmp = encodetest::MakeNoise(3, 3, 8, 1);
    EncodeOptions options;
    options.flags = c.flags;
    options.backgroundIndex = c.background;
    bmp->SetEncodeOptions(&options);
    CGifEncoder encoder;
    const std::vector<uint8_t> file = encodetest::EncodeToMemory(encoder, *bmp);
    EXPECT_EQ(file[11], c.expectedBackground);
    EXPECT_EQ(file[kDataStart - 1], c.expectedDescriptorFlags);
  }
}

TEST(GifEncoder, InterlacedRowOrder) {
  const std::map<int, std::vector<int>> orders = {
      {10, {0, 8, 4, 2, 6, 1, 3, 5, 7, 9}}, {1, {0}}, {2, {0, 1}}, {3, {0, 2, 1}},
      {4, {0, 2, 1, 3}}, {5, {0, 4, 2, 1, 3}}};
  for (const auto& [height, order] : orders) {
    EXPECT_EQ(CGifEncoder::RowOrder(height, true), order) << height;
    // Each row holds its own index; the stored pixel stream shows the row order.
    std::vector<std::vector<uint8_t>> rows;
    for (int y = 0; y < height; ++y) rows.push_back({static_cast<uint8_t>(y), static_cast<uint8_t>(y)});
    auto bmp = encodetest::MakeIndexed(rows);
    EncodeOptions options;
    options.flags |= EncodeOptions::kFlagInterlace;
    bmp->SetEncodeOptions(&options);
    CGifEncoder encoder;
    const Decoded decoded = DecodeGifData(encodetest::EncodeToMemory(encoder, *bmp), kDataStart);
    std::vector<uint8_t> expected;
    for (int row : order) expected.insert(expected.end(), {static_cast<uint8_t>(row), static_cast<uint8_t>(row)});
    EXPECT_EQ(decoded.pixels, expected) << height;
  }
}

TEST(GifEncoder, ClearCodeWhenAllCodesAreInUse) {
  auto bmp = encodetest::MakeNoise(200, 100, 8, 11);
  CGifEncoder encoder;
  const std::vector<uint8_t> file = encodetest::EncodeToMemory(encoder, *bmp);
  const Decoded decoded = DecodeGifData(file, kDataStart);
  EXPECT_EQ(decoded.end + 1, file.size());
  EXPECT_EQ(file.back(), 0x3B);
  // Pixels survive the round trip.
  std::vector<uint8_t> pixels;
  for (int y = 0; y < 100; ++y) pixels.insert(pixels.end(), bmp->GetRowTable()[y], bmp->GetRowTable()[y] + 200);
  EXPECT_EQ(decoded.pixels, pixels);
  // Clears: the first code, then after every 3839 data codes (codes 258..4095 assigned,
  // the next unmatched string sends the clear), at 12 bits; the code after it is 9 bits.
  std::vector<size_t> clears;
  for (size_t i = 0; i < decoded.codes.size(); ++i)
    if (decoded.codes[i].first == 256) clears.push_back(i);
  ASSERT_GE(clears.size(), 3u);
  EXPECT_EQ(clears[0], 0u);
  for (size_t k = 1; k < clears.size(); ++k) {
    EXPECT_EQ(clears[k] - clears[k - 1] - 1, 3839u);
    EXPECT_EQ(decoded.codes[clears[k]].second, 12);
    EXPECT_EQ(decoded.codes[clears[k] + 1].second, 9);
  }
}

TEST(GifEncoder, TrueColourBitmapIsConvertedInPlace) {
  std::vector<uint8_t> bgr;
  for (int i = 0; i < 40 * 30; ++i) bgr.insert(bgr.end(), {static_cast<uint8_t>(i % 7 * 30), 0, 200});
  auto bmp = encodetest::MakeTrueColour(40, 30, bgr);
  CGifEncoder encoder;
  const std::vector<uint8_t> file = encodetest::EncodeToMemory(encoder, *bmp);
  EXPECT_EQ(bmp->GetBitsPerPixel(), 8);
  const Decoded decoded = DecodeGifData(file, kDataStart);
  ASSERT_EQ(decoded.pixels.size(), 1200u);
  for (int i = 0; i < 1200; ++i) EXPECT_EQ(decoded.pixels[i], bmp->GetRowTable()[i / 40][i % 40]);
}

}  // namespace
