#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "decode_test_util.h"
#include "imaging/decode/any_pic_decoder.h"
#include "imaging/decode/data_source.h"

using decodetest::Bytes;
namespace fs = std::filesystem;

namespace {

std::vector<uint8_t> At(size_t size, std::initializer_list<std::pair<size_t, uint8_t>> set) {
  std::vector<uint8_t> b(size, 0xEE);
  for (auto [at, value] : set) b[at] = value;
  return b;
}

struct DetectCase {
  const char* label;
  const char* name;
  std::vector<uint8_t> head;
  int64_t size;  // 0: the head's length
  int expected;
};

class Detection : public testing::TestWithParam<DetectCase> {};

TEST_P(Detection, FindsFormatCode) {
  const DetectCase& c = GetParam();
  const int64_t size = c.size != 0 ? c.size : static_cast<int64_t>(c.head.size());
  EXPECT_EQ(CAnyPicDecoder::DetectFormat(c.name, c.head, size), c.expected);
}

// TGA-looking bytes: colour-map type 0, image type 2, entry size 0, depth 24.
std::vector<uint8_t> TgaHead(uint8_t first) {
  std::vector<uint8_t> b(18, 0);
  b[0] = first;
  b[2] = 2;
  b[16] = 24;
  return b;
}

std::vector<uint8_t> PictHead(size_t size, std::initializer_list<uint8_t> at522) {
  std::vector<uint8_t> b(size, 0xEE);
  size_t i = 522;
  for (uint8_t v : at522) b[i++] = v;
  return b;
}

INSTANTIATE_TEST_SUITE_P(
    Rules, Detection,
    testing::Values(
        DetectCase{"wmf_anywhere", "a.wmf.bmp", {'B', 'M'}, 0, picformat::kWmf},
        DetectCase{"emf_lower", "pic.emf", {0x89, 'P', 'N', 'G'}, 0, picformat::kEmf},
        DetectCase{"wmf_before_emf", "x.EMF.WMF", {}, 0, picformat::kWmf},
        DetectCase{"bm", "f", {'B', 'M', 0, 0}, 0, picformat::kBmp},
        DetectCase{"tga", "f", TgaHead(0), 0, picformat::kTga},
        // Starts with 0x0A but passes the TGA test first.
        DetectCase{"tga_beats_pcx", "f", TgaHead(0x0A), 0, picformat::kTga},
        DetectCase{"tga_bad_depth", "f", [] { auto b = TgaHead(0); b[16] = 12; return b; }(), 0,
                   picformat::kUnknown},
        DetectCase{"tiff_le", "f", {0x49, 0x49, 0x2A, 0x00, 1}, 0, picformat::kTiff},
        DetectCase{"tiff_be", "f", {0x4D, 0x4D, 0x00, 0x2A, 1}, 0, picformat::kTiff},
        DetectCase{"pict_v2", "f", PictHead(541, {0, 0x11, 2, 0xFF}), 0, picformat::kPict},
        DetectCase{"pict_v1", "f", PictHead(600, {0x11, 1, 1, 0}), 0, picformat::kPict},
        DetectCase{"pict_540_never", "f", PictHead(540, {0, 0x11, 2, 0xFF}), 0,
                   picformat::kUnknown},
        // The size, not the bytes at hand, decides: a 540-byte head of a bigger file is PICT.
        DetectCase{"pict_big_source", "f", PictHead(540, {0, 0x11, 1}), 5000, picformat::kPict},
        DetectCase{"jpeg", "f", {0xFF, 0xD8, 0xFF, 0xE0}, 0, picformat::kJpeg},
        DetectCase{"png", "f", {0x89, 'P', 'N', 'G', 13, 10}, 0, picformat::kPng},
        DetectCase{"eps", "f", At(40, {{0, 0xC5}, {1, 0xD0}, {2, 0xD3}, {3, 0xC6}, {20, 30},
                                       {21, 0}, {22, 0}, {23, 0}, {24, 1}}), 0,
                   picformat::kEpsTiff},
        DetectCase{"eps_zero_offset", "f",
                   At(40, {{0, 0xC5}, {1, 0xD0}, {2, 0xD3}, {3, 0xC6}, {20, 0}, {21, 0},
                           {22, 0}, {23, 0}}), 0, picformat::kUnknown},
        // Offset and length lie beyond a 22-byte source: missing bytes count as 0.
        DetectCase{"eps_short_source", "f",
                   {0xC6, 0xD3, 0xD0, 0xC5, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 9, 9},
                   0, picformat::kUnknown},
        DetectCase{"pcx", "f", {0x0A, 5, 1, 8}, 0, picformat::kPcx},
        DetectCase{"gif", "f", {'G', 'I', 'F', '8', '9', 'a'}, 0, picformat::kGif},
        DetectCase{"gif_short", "f", {'G', 'I', 'F'}, 0, picformat::kUnknown},
        DetectCase{"empty", "f", {}, 0, picformat::kUnknown},
        // One byte: the TGA test reads zeros for the rest, and depth 0 fails it.
        DetectCase{"single_zero", "f", {0}, 0, picformat::kUnknown}),
    [](const testing::TestParamInfo<DetectCase>& info) { return std::string(info.param.label); });

TEST(AnyPicDecoder, FilterListStopsAtMaximum) {
  CAnyPicDecoder decoder;
  const char* descriptions[12] = {};
  const char* patterns[12] = {};
  EXPECT_EQ(decoder.GetFilterList(descriptions, patterns, 0), 0);
  ASSERT_EQ(decoder.GetFilterList(descriptions, patterns, 3), 3);
  EXPECT_STREQ(descriptions[0], "Bmp File(*.bmp;*.dib;*.rle)");
  EXPECT_STREQ(patterns[1], "*.jpg;*.jpeg;*.jif");
  EXPECT_STREQ(patterns[2], "*.png");
  EXPECT_EQ(descriptions[3], nullptr);
  ASSERT_EQ(decoder.GetFilterList(descriptions, patterns, 12), 10);
  EXPECT_STREQ(descriptions[9], "GIF File(*.gif)");
  EXPECT_STREQ(patterns[4], "*.tif;*.eps");
}

TEST(AnyPicDecoder, UnknownTypesAndUnreadableMetafilesRaiseFramedErrors) {
  std::string text;
  EXPECT_EQ(decodetest::DecodeError({1, 2, 3, 4}, 0, &text), textexception::kUnknownFileType);
  EXPECT_EQ(text, "Decoder error: Unknown file type.\n");

  CWinBmp bmp;
  CAnyPicDecoder decoder;
  std::vector<uint8_t> wmf(64, 0);
  CMemSource source("drawing.wmf", wmf);
  try {
    decoder.DecodeSource(source, bmp, 0);
    FAIL() << "zeros are no metafile";
  } catch (const CTextException& e) {
    EXPECT_EQ(e.GetErrorCode(), textexception::kUnsupported);
    EXPECT_STREQ(e.GetErrorText(),
                 "Decoder error: Windows Metafile functions failed to load this image.\n");
  }
  EXPECT_EQ(decoder.GetFileType(), picformat::kWmf);
}

TEST(AnyPicDecoder, EpsPreviewOffsetPastEndRunsOutOfData) {
  std::vector<uint8_t> eps = At(40, {{0, 0xC5}, {1, 0xD0}, {2, 0xD3}, {3, 0xC6}, {20, 200},
                                     {21, 0}, {22, 0}, {23, 0}, {24, 1}});
  EXPECT_EQ(decodetest::DecodeError(eps), textexception::kEndOfData);
}

TEST(AnyPicDecoder, EpsPreviewIsReadFromItsOffset) {
  // A 2 x 1 grey TIFF (values 10 and 200) behind a 30-byte EPS header and 6 bytes of
  // PostScript.
  Bytes tiff;
  tiff.str("II").le16(42).le32(8).le16(9);
  const uint16_t shortTags[][2] = {{256, 2}, {257, 1}, {258, 8}, {259, 1}, {262, 1}};
  for (auto& t : shortTags) tiff.le16(t[0]).le16(3).le32(1).le16(t[1]).le16(0);
  tiff.le16(273).le16(4).le32(1).le32(122);
  tiff.le16(277).le16(3).le32(1).le16(1).le16(0);
  tiff.le16(278).le16(3).le32(1).le16(1).le16(0);
  tiff.le16(279).le16(4).le32(1).le32(2);
  tiff.le32(0).u8({10, 200});
  ASSERT_EQ(tiff.v.size(), 124u);
  Bytes eps;
  eps.u8({0xC5, 0xD0, 0xD3, 0xC6}).le32(30).le32(6).le32(0).le32(0).le32(36);
  eps.le32(static_cast<uint32_t>(tiff.v.size())).le16(0xFFFF).str("%!PS\n\n");
  eps.v.insert(eps.v.end(), tiff.v.begin(), tiff.v.end());
  CAnyPicDecoder decoder;
  CMemSource source("preview.eps", eps.v);
  CWinBmp bmp;
  decoder.DecodeSource(source, bmp, 32);
  EXPECT_EQ(decoder.GetFileType(), picformat::kEpsTiff);
  ASSERT_EQ(bmp.GetWidth(), 2);
  EXPECT_EQ(decodetest::Argb(bmp, 0, 0) & 0xFFFFFF, 0x0A0A0Au);
  EXPECT_EQ(decodetest::Argb(bmp, 1, 0) & 0xFFFFFF, 0xC8C8C8u);
}

TEST(PicDecoder, ChooseTargetDepthTable) {
  const int cases[][3] = {{1, 0, 8}, {4, 0, 8}, {8, 0, 8}, {15, 0, 32}, {24, 0, 32},
                          {32, 0, 32}, {8, 32, 32}, {24, 8, 8}};
  for (auto& c : cases) {
    int bpp = c[1];
    CPicDecoder::ChooseTargetDepth(c[0], bpp);
    EXPECT_EQ(bpp, c[2]) << "source " << c[0] << " wanted " << c[1];
  }
}

TEST(PicDecoder, RaiseErrorFramesAndTruncatesText) {
  try {
    CPicDecoder::RaiseError(2, std::string(400, 'x'));
    ADD_FAILURE() << "RaiseError returned instead of throwing";
  } catch (const CTextException& e) {
    EXPECT_EQ(e.GetErrorCode(), 2);
    EXPECT_EQ(std::string(e.GetErrorText()).size(), 255u);  // 256-character buffer
    EXPECT_EQ(std::string(e.GetErrorText()).rfind("Decoder error: xxx", 0), 0u);
  }
}

class RecordingProgress : public CProgressNotification {
public:
  void OnProgress(double f) override { seen.push_back(f); }
  std::vector<double> seen;
};

TEST(DataSource, TakesExactlyToTheEndButNotOnePast) {
  std::vector<uint8_t> data(3000, 7);
  RecordingProgress progress;
  CMemSource source("m", data, &progress);
  EXPECT_EQ(source.Take(1000)[999], 7);
  EXPECT_EQ(source.Take(2000).size(), 2000u);
  EXPECT_EQ(source.BytesLeft(), 0u);
  try {
    source.Take(1);
    FAIL();
  } catch (const CTextException& e) {
    EXPECT_EQ(e.GetErrorCode(), textexception::kEndOfData);
    EXPECT_STREQ(e.GetErrorText(), "End of file reached while decoding.\n");
  }
  // Crossing the 1 KiB boundaries at 1024 and 2048 reports once for each Take.
  ASSERT_EQ(progress.seen.size(), 1u);
  EXPECT_DOUBLE_EQ(progress.seen[0], 1.0);
  source.Close();
  EXPECT_DOUBLE_EQ(progress.seen.back(), 1.0);
  EXPECT_EQ(progress.seen.size(), 2u);
}

TEST(DataSource, HugeAndNegativeCountsFailWithoutMoving) {
  std::vector<uint8_t> data(10, 1);
  CMemSource source("m", data);
  EXPECT_THROW(source.TakeBytes(-1), CTextException);
  EXPECT_THROW(source.TakeBytes(INT32_MAX), CTextException);
  EXPECT_EQ(source.Peek(100).size(), 10u);
  EXPECT_EQ(source.Take(10).size(), 10u);
}

TEST(ByteCursor, RunsDryWithoutReadingPastItsEnd) {
  const uint8_t bytes[] = {0x34, 0x12, 0xAA};
  ByteCursor c(bytes, 3);
  EXPECT_EQ(c.Le16(), 0x1234);
  EXPECT_FALSE(c.RanDry());
  EXPECT_EQ(c.Be16(), 0);  // one byte left: nothing read
  EXPECT_TRUE(c.RanDry());
  EXPECT_EQ(c.Left(), 1u);
  EXPECT_EQ(c.U8(), 0xAA);
  EXPECT_TRUE(c.Take(1).empty());
}

class FileSourceOpen : public testing::Test {
protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("lumora_decode_open_" + std::to_string(getpid()));
    fs::create_directories(dir_);
  }
  void TearDown() override {
    fs::permissions(dir_, fs::perms::owner_all);
    fs::remove_all(dir_);
  }
  int Open(const fs::path& p) {
    CFileSource source;
    return source.OpenFile(p.c_str());
  }
  fs::path dir_;
};

TEST_F(FileSourceOpen, MapsErrnoToCodes) {
  std::ofstream(dir_ / "empty.bmp").close();
  std::ofstream(dir_ / "one.bmp") << "B";
  EXPECT_EQ(Open(dir_ / "one.bmp"), 0);
  EXPECT_EQ(Open(dir_ / "empty.bmp"), textexception::kEmptyFile);
  EXPECT_EQ(Open(dir_ / "missing.bmp"), textexception::kFileNotFound);
  EXPECT_EQ(Open(dir_ / "no_such_dir" / "x.bmp"), textexception::kPathNotFound);
  EXPECT_EQ(Open(dir_), textexception::kAccessDenied);
  if (geteuid() != 0) {  // root reads whatever the mode says
    std::ofstream(dir_ / "locked.bmp") << "BM";
    fs::permissions(dir_ / "locked.bmp", fs::perms::none);
    EXPECT_EQ(Open(dir_ / "locked.bmp"), textexception::kAccessDenied);
  }
}

TEST_F(FileSourceOpen, NothingIsReadableAfterClose) {
  std::ofstream(dir_ / "two.bmp") << "BM";
  CFileSource source;
  ASSERT_EQ(source.OpenFile((dir_ / "two.bmp").c_str()), 0);
  EXPECT_EQ(source.Take(1)[0], 'B');
  source.Close();
  EXPECT_EQ(source.BytesLeft(), 0u);
  EXPECT_THROW(source.Take(1), CTextException);
}

TEST_F(FileSourceOpen, DecodeFileReportsOpenFailureWithPath) {
  CAnyPicDecoder decoder;
  CWinBmp bmp;
  const std::string path = (dir_ / "missing.bmp").string();
  try {
    decoder.DecodeFile(path.c_str(), bmp, 0);
    FAIL();
  } catch (const CTextException& e) {
    EXPECT_EQ(e.GetErrorCode(), textexception::kFileNotFound);
    EXPECT_EQ(std::string(e.GetErrorText()), "Decoder error: Opening " + path + " failed\n");
  }
}

TEST_F(FileSourceOpen, DecodeFileReadsMappedFileAndTraces) {
  // A 1 x 1 24-bit bitmap, bottom-up, blue-green-red 10 20 30.
  Bytes b;
  b.str("BM").le32(58).le32(0).le32(54).le32(40).le32(1).le32(1).le16(1).le16(24);
  b.le32(0).le32(4).le32(0).le32(0).le32(0).le32(0).u8({10, 20, 30, 0});
  const fs::path file = dir_ / "one.bmp";
  std::ofstream(file, std::ios::binary).write(reinterpret_cast<const char*>(b.v.data()),
                                              static_cast<std::streamsize>(b.v.size()));
  const fs::path log = dir_ / "trace.txt";
  trace::SetLevel(2);
  trace::SetFile(log.string());
  CAnyPicDecoder decoder;
  CWinBmp bmp;
  decoder.DecodeFile(file.c_str(), bmp, 0);
  trace::SetLevel(0);
  trace::SetFile("");
  EXPECT_EQ(bmp.GetBitsPerPixel(), 32);
  EXPECT_EQ(decodetest::Argb(bmp, 0, 0), 0xFF1E140Au);
  std::ifstream in(log);
  std::string all((std::istreambuf_iterator<char>(in)), {});
  EXPECT_EQ(all, "--- Decoding file " + file.string() +
                     ". ---\nWindows bitmap recognized.\nBitmap file signature found\n"
                     "Bitmap header is ok.\nDecoding 24 bit per pixel bitmap.\n");
}

}  // namespace
