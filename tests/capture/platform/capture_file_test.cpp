// Reserving and copying the capture file: the copy must be exactly the AVI the muxer wrote,
// without the reserved tail.
#include "capture/platform/capture_file.h"
#include "tests/capture/avi/hand_avi.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace media {
namespace {

namespace fs = std::filesystem;

std::vector<uint8_t> ReadAll(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}
void WriteAll(const fs::path& p, const std::vector<uint8_t>& bytes) {
  std::ofstream out(p, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}
// "RIFF" <size> <form> then `size - 4` filler bytes (odd sizes get the pad byte).
void AppendRiff(std::vector<uint8_t>& out, const char* form, uint32_t size) {
  const uint8_t head[8] = {'R', 'I', 'F', 'F', uint8_t(size), uint8_t(size >> 8),
                           uint8_t(size >> 16), uint8_t(size >> 24)};
  out.insert(out.end(), head, head + 8);
  out.insert(out.end(), form, form + 4);
  out.insert(out.end(), size - 4 + (size & 1), uint8_t(0x5A));
}

// Lowers the file-size limit for the duration of a test: writes and reservations past it fail
// with EFBIG, which stands in for a full disk without filling one.
class FileSizeLimit {
public:
  explicit FileSizeLimit(rlim_t bytes) {
    old_signal_ = std::signal(SIGXFSZ, SIG_IGN);
    ::getrlimit(RLIMIT_FSIZE, &old_);
    rlimit lowered = old_;
    lowered.rlim_cur = bytes;
    ok_ = ::setrlimit(RLIMIT_FSIZE, &lowered) == 0;
  }
  ~FileSizeLimit() {
    ::setrlimit(RLIMIT_FSIZE, &old_);
    std::signal(SIGXFSZ, old_signal_);
  }
  FileSizeLimit(const FileSizeLimit&) = delete;
  FileSizeLimit& operator=(const FileSizeLimit&) = delete;
  bool ok() const { return ok_; }

private:
  rlimit old_{};
  void (*old_signal_)(int) = nullptr;
  bool ok_ = false;
};

class CaptureFileTest : public testing::Test {
protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("lumora-capfile-" + std::to_string(::getpid()) + "-" +
            testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }
  fs::path dir_;
};

struct LengthCase {
  const char* name;
  std::vector<std::pair<const char*, uint32_t>> chunks;
  size_t tail;
  std::optional<uint64_t> expected;
  size_t cut = 0;  // bytes taken off the end, after the tail
};

class AviLengthTest : public testing::TestWithParam<LengthCase> {};

TEST_P(AviLengthTest, SumsTheRiffChain) {
  const auto& c = GetParam();
  std::vector<uint8_t> bytes;
  for (auto& [form, size] : c.chunks) AppendRiff(bytes, form, size);
  bytes.insert(bytes.end(), c.tail, uint8_t(0));
  bytes.resize(bytes.size() - c.cut);
  const auto got = AviRealLength(bytes.size(), [&](uint64_t at, std::span<uint8_t> out) -> size_t {
    if (at >= bytes.size()) return 0;
    const size_t n = std::min<size_t>(out.size(), bytes.size() - size_t(at));
    std::copy_n(bytes.begin() + std::ptrdiff_t(at), n, out.begin());
    return n;
  });
  EXPECT_EQ(got, c.expected) << c.name;
}

INSTANTIATE_TEST_SUITE_P(
    Chains, AviLengthTest,
    testing::Values(
        LengthCase{"one", {{"AVI ", 100}}, 0, 108},
        LengthCase{"reserved tail", {{"AVI ", 100}}, 5000, 108},
        LengthCase{"odd size padded", {{"AVI ", 101}}, 64, 110},
        LengthCase{"extensions", {{"AVI ", 100}, {"AVIX", 200}, {"AVIX", 50}}, 4096, 108 + 208 + 58},
        // A second "AVI " form is not a continuation: the chain ends before it.
        LengthCase{"second AVI form", {{"AVI ", 100}, {"AVI ", 100}}, 0, 108},
        LengthCase{"not AVI", {{"WAVE", 100}}, 0, std::nullopt},
        // Cut short (disk full): what is there counts, inside the first chunk or an extension.
        LengthCase{"truncated", {{"AVI ", 100}}, 0, 68, 40},
        LengthCase{"truncated extension", {{"AVI ", 100}, {"AVIX", 200}}, 0, 108 + 150, 58},
        // Too short for even the first header: not recognised as an AVI.
        LengthCase{"cut inside the header", {{"AVI ", 100}}, 0, std::nullopt, 97}),
    [](const auto& info) {
      std::string n = info.param.name;
      for (char& ch : n)
        if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
      return n;
    });

TEST_F(CaptureFileTest, ReservationKeepsExistingBytes) {
  const fs::path file = dir_ / "cap.avi";
  WriteAll(file, {1, 2, 3, 4});
  ASSERT_EQ(AllocateCaptureFile(file.string(), 5242880), status::kOk);
  EXPECT_EQ(fs::file_size(file), 5242880u);
  const auto bytes = ReadAll(file);
  EXPECT_EQ(std::vector<uint8_t>(bytes.begin(), bytes.begin() + 4), (std::vector<uint8_t>{1, 2, 3, 4}));
  // A smaller reservation does not cut the file.
  ASSERT_EQ(AllocateCaptureFile(file.string(), 1024), status::kOk);
  EXPECT_EQ(fs::file_size(file), 5242880u);
}

TEST_F(CaptureFileTest, ReservationFailuresNameTheirCause) {
  EXPECT_EQ(AllocateCaptureFile((dir_ / "missing" / "cap.avi").string(), 10), status::kFileNotFound);
  EXPECT_EQ(AllocateCaptureFile("", 10), status::kInvalidArg);
}

// A real AVI from an independent writer (ffmpeg), then the reserved space behind it.
TEST_F(CaptureFileTest, CopyGivesBackTheAviWithoutTheReservedTail) {
  const fs::path avi = dir_ / "real.avi";
  const std::string cmd = "ffmpeg -loglevel error -y -f lavfi -i testsrc=size=64x48:rate=10 -t 1 "
                          "-c:v mjpeg -f avi '" + avi.string() + "'";
  if (std::system(cmd.c_str()) != 0) GTEST_SKIP() << "ffmpeg unavailable";
  const auto original = ReadAll(avi);
  ASSERT_GT(original.size(), 12u);
  const fs::path capture = dir_ / "capture.avi";
  WriteAll(capture, original);
  ASSERT_EQ(AllocateCaptureFile(capture.string(), original.size() + 300000), status::kOk);

  const fs::path copy = dir_ / "copy.avi";
  ASSERT_EQ(CopyCaptureFile(capture.string(), copy.string(), nullptr), status::kOk);
  EXPECT_EQ(ReadAll(copy), original);
}

TEST_F(CaptureFileTest, AbortedOrFailedCopyLeavesNoDestination) {
  const std::vector<uint8_t> bytes = avitest::BuildAvi({1 << 20, 1 << 20, 1 << 20}).bytes;  // several copy blocks
  const fs::path capture = dir_ / "capture.avi";
  WriteAll(capture, bytes);
  const fs::path copy = dir_ / "copy.avi";
  int polls = 0;
  EXPECT_EQ(CopyCaptureFile(capture.string(), copy.string(), [&] { return ++polls == 2; }),
            status::kFalse);
  EXPECT_FALSE(fs::exists(copy));
  EXPECT_TRUE(Failed(CopyCaptureFile((dir_ / "none.avi").string(), copy.string(), nullptr)));
  EXPECT_FALSE(fs::exists(copy));
  // Onto itself: refused, the capture survives.
  EXPECT_TRUE(Failed(CopyCaptureFile(capture.string(), capture.string(), nullptr)));
  EXPECT_EQ(fs::file_size(capture), bytes.size());
}

TEST_F(CaptureFileTest, FullDiskFailsTheReservationAndTheCopy) {
  const std::vector<uint8_t> bytes = avitest::BuildAvi({1 << 20, 1 << 20, 1 << 20}).bytes;
  const fs::path capture = dir_ / "capture.avi";
  WriteAll(capture, bytes);
  const fs::path copy = dir_ / "copy.avi";
  const fs::path reserved = dir_ / "reserved.avi";
  {
    FileSizeLimit limit(1 << 20);
    ASSERT_TRUE(limit.ok());
    EXPECT_EQ(AllocateCaptureFile(reserved.string(), 2 << 20), status::kDiskFull);
    // The first block fits, the second does not: no partial copy may be left looking like
    // a capture.
    EXPECT_EQ(CopyCaptureFile(capture.string(), copy.string(), nullptr), status::kDiskFull);
  }
  EXPECT_FALSE(fs::exists(copy));
  EXPECT_EQ(fs::file_size(capture), bytes.size());
  // With room again both work.
  EXPECT_EQ(AllocateCaptureFile(reserved.string(), 2 << 20), status::kOk);
  EXPECT_EQ(CopyCaptureFile(capture.string(), copy.string(), nullptr), status::kOk);
  EXPECT_EQ(ReadAll(copy), bytes);
}

}  // namespace
}  // namespace media
