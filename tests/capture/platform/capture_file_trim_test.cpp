// Sizing a reserved capture file exactly, and the copy's report to the code that started it:
// progress, and whether an unfinished capture was rescued. The end-to-end case lets the
// GStreamer muxer write into a reserved file, as a capture does, and ffprobe judge the copy.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "capture/avi/avi_reader.h"
#include "capture/avi/avi_rebuild.h"
#include "capture/platform/capture_file.h"
#include "tests/capture/avi/hand_avi.h"

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
std::string Shell(const std::string& cmd) {
  std::string out;
  if (FILE* p = ::popen(cmd.c_str(), "r")) {
    char buf[256];
    while (size_t n = std::fread(buf, 1, sizeof buf, p)) out.append(buf, n);
    ::pclose(p);
  }
  return out;
}

class CaptureFileTrimTest : public testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("lumora-captrim-" + std::to_string(::getpid()) + "-" +
            testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }
  fs::path dir_;
};

TEST_F(CaptureFileTrimTest, ReservationEndsAtExactlyTheChosenSize) {
  const fs::path file = dir_ / "cap.avi";
  ASSERT_EQ(AllocateCaptureFile(file.string(), 5 << 20), status::kOk);
  // A smaller size afterwards: the spare reservation goes.
  ASSERT_EQ(AllocateCaptureFile(file.string(), 2 << 20), status::kOk);
  ASSERT_EQ(TrimCaptureFile(file.string(), 2 << 20), status::kOk);
  EXPECT_EQ(fs::file_size(file), uint64_t(2 << 20));
  // Growing keeps the exact size too.
  ASSERT_EQ(AllocateCaptureFile(file.string(), 3 << 20), status::kOk);
  ASSERT_EQ(TrimCaptureFile(file.string(), 3 << 20), status::kOk);
  EXPECT_EQ(fs::file_size(file), uint64_t(3 << 20));
  EXPECT_NE(TrimCaptureFile((dir_ / "none.avi").string(), 10), status::kOk);
}

TEST_F(CaptureFileTrimTest, TrimmingNeverCutsARecordedCapture) {
  const avitest::HandAvi avi = avitest::BuildAvi({3000, 4000, 5000});
  const fs::path file = dir_ / "cap.avi";
  WriteAll(file, avi.bytes);
  ASSERT_EQ(AllocateCaptureFile(file.string(), 1 << 20), status::kOk);
  ASSERT_EQ(TrimCaptureFile(file.string(), 4096), status::kOk);
  EXPECT_EQ(ReadAll(file), avi.bytes);
}

struct Observed {
  std::vector<std::pair<uint64_t, uint64_t>> progress;
  std::vector<avi::SaveResult> results;
};

Status CopyObserved(const fs::path& from, const fs::path& to, Observed& seen,
                    const std::function<bool()>& abort = nullptr) {
  CopyObserver observer;
  observer.progress = [&](uint64_t done, uint64_t total) { seen.progress.emplace_back(done, total); };
  observer.finished = [&](const avi::SaveResult& r) { seen.results.push_back(r); };
  ScopedCopyObserver scope(&observer);
  return CopyCaptureFile(from.string(), to.string(), abort);
}

TEST_F(CaptureFileTrimTest, CopyReportsRescuedFramesOfAnUnfinishedCapture) {
  const fs::path capture = dir_ / "capture.avi";
  const fs::path copy = dir_ / "copy.avi";
  // A writer that died after three frames, in a reserved file.
  WriteAll(capture, avitest::BuildAvi({100, 200, 300}, false).bytes);
  ASSERT_EQ(AllocateCaptureFile(capture.string(), 1 << 20), status::kOk);
  Observed seen;
  ASSERT_EQ(CopyObserved(capture, copy, seen), status::kOk);
  ASSERT_EQ(seen.results.size(), 1u);
  EXPECT_TRUE(seen.results[0].rescued);
  EXPECT_EQ(seen.results[0].frames, 3u);
  ASSERT_FALSE(seen.progress.empty());
  EXPECT_EQ(seen.progress.back().first, seen.progress.back().second);
  EXPECT_EQ(fs::file_size(copy), seen.progress.back().second);

  // A finished one is copied as it is, without a rescue.
  const avitest::HandAvi done = avitest::BuildAvi({100, 200});
  WriteAll(capture, done.bytes);
  Observed again;
  ASSERT_EQ(CopyObserved(capture, copy, again), status::kOk);
  ASSERT_EQ(again.results.size(), 1u);
  EXPECT_FALSE(again.results[0].rescued);
  EXPECT_EQ(ReadAll(copy), done.bytes);
}

TEST_F(CaptureFileTrimTest, AbortedRescueLeavesNoCopyAndTheObserverEndsWithTheScope) {
  const fs::path capture = dir_ / "capture.avi";
  const fs::path copy = dir_ / "copy.avi";
  WriteAll(capture, avitest::BuildAvi({100, 200, 300}, false).bytes);
  Observed seen;
  EXPECT_EQ(CopyObserved(capture, copy, seen, [] { return true; }), status::kFalse);
  EXPECT_FALSE(fs::exists(copy));
  // Outside the scope nothing is reported any more.
  ASSERT_EQ(CopyCaptureFile(capture.string(), copy.string(), nullptr), status::kOk);
  EXPECT_TRUE(seen.results.empty());
  EXPECT_TRUE(seen.progress.empty());
}

// A capture killed in a reserved file that already holds an older recording, as the writer
// leaves it: the file cleared when the capture began (as the writer does), the new capture's
// bytes from the start, then a trim to a smaller size and a copy onto an existing file.
struct KilledCase {
  const char* name;
  std::vector<uint32_t> frames;                     // of the killed capture
  std::function<void(avitest::HandAvi&)> damage;    // what the writer left unwritten
  int rescued;                                      // frames in the copy; -1: no copy is made
};

class KilledCaptureTest : public CaptureFileTrimTest, public testing::WithParamInterface<KilledCase> {};

TEST_P(KilledCaptureTest, RescueHoldsExactlyTheWholeFramesOfTheLastCapture) {
  const KilledCase& c = GetParam();
  const fs::path capture = dir_ / "capture.avi";
  const fs::path copy = dir_ / "copy.avi";
  // Eight frames of the same size: they would line up with the new capture's chunks.
  WriteAll(capture, avitest::BuildAvi(std::vector<uint32_t>(8, 300)).bytes);
  ASSERT_EQ(AllocateCaptureFile(capture.string(), 1 << 20), status::kOk);
  {
    const int fd = ::open(capture.c_str(), O_WRONLY);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(ClearCaptureFile(fd), status::kOk);
    avitest::HandAvi killed = avitest::BuildAvi(c.frames, false);
    c.damage(killed);
    ASSERT_EQ(::pwrite(fd, killed.bytes.data(), killed.bytes.size(), 0), ssize_t(killed.bytes.size()));
    ::close(fd);
  }
  EXPECT_EQ(fs::file_size(capture), uint64_t(1 << 20));
  // A smaller reservation afterwards never cuts the frames away.
  const Status trimmed = TrimCaptureFile(capture.string(), 1024);
  EXPECT_TRUE(trimmed == status::kOk || trimmed == kRecordingEndUnknown) << trimmed;

  const std::vector<uint8_t> older = {'o', 'l', 'd'};
  WriteAll(copy, older);
  Observed seen;
  const Status copied = CopyObserved(capture, copy, seen);
  if (c.rescued < 0) {
    EXPECT_TRUE(Failed(copied));
    EXPECT_EQ(ReadAll(copy), older);
    return;
  }
  ASSERT_EQ(copied, status::kOk);
  ASSERT_EQ(seen.results.size(), 1u);
  EXPECT_EQ(seen.results[0].frames, uint32_t(c.rescued));
  // Each rescued frame holds the killed capture's bytes.
  const std::vector<uint8_t> bytes = ReadAll(copy);
  const avi::MemorySource src(bytes);
  const avi::AviInfo info = avi::ReadAviInfo(src);
  EXPECT_TRUE(info.finished) << info.problem;
  const avi::MoviScan scan = avi::ScanMovi(src, info, nullptr);
  ASSERT_EQ(scan.chunks.size(), size_t(c.rescued));
  for (size_t i = 0; i < scan.chunks.size(); ++i) {
    std::vector<uint8_t> data(scan.chunks[i].size);
    ASSERT_TRUE(src.ReadAt(scan.chunks[i].data, data));
    EXPECT_EQ(data, avitest::FramePayload(i, c.frames[i])) << i;
  }
}

const KilledCase kKilled[] = {
    {"placeholder sizes", {300, 300, 300}, [](auto&) {}, 3},
    {"riff size zero", {300, 300, 300, 300, 300, 300}, [](auto& a) { a.Put32(4, 0); }, 6},
    {"movi size zero", {300, 300, 300}, [](auto& a) { a.Put32(a.movi + 4, 0); }, 3},
    // The kill came while the third frame was being written: its end is still cleared.
    {"half written frame", {300, 300, 300},
     [](auto& a) { std::fill(a.bytes.end() - 120, a.bytes.end(), uint8_t(0)); }, 2},
    // No stream list in the header: nothing says what the frames are, so no copy is made.
    {"header without stream", std::vector<uint32_t>(30, 300),
     [](auto& a) { a.Put32(4, 0), a.Put32(a.strl + 8, avi::FourCC("JUNK")); }, -1},
};
INSTANTIATE_TEST_SUITE_P(Shapes, KilledCaptureTest, testing::ValuesIn(kKilled), [](const auto& info) {
  std::string n = info.param.name;
  for (char& ch : n)
    if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
  return n;
});

// The muxer writes into the reserved file without truncating it (as the capture does through
// a file descriptor opened for writing); the copy holds exactly the RIFF chain, and an
// independent reader finds every frame in it.
TEST_F(CaptureFileTrimTest, MuxerWrittenCaptureInAReservedFileCopiesWhole) {
  if (Shell("command -v gst-launch-1.0 && command -v ffprobe && echo ok").find("ok") == std::string::npos)
    GTEST_SKIP() << "gst-launch-1.0 or ffprobe missing";
  const fs::path capture = dir_ / "capture.avi";
  const fs::path copy = dir_ / "copy.avi";
  constexpr uint64_t kReserved = 4 << 20;
  ASSERT_EQ(AllocateCaptureFile(capture.string(), kReserved), status::kOk);
  ASSERT_EQ(TrimCaptureFile(capture.string(), kReserved), status::kOk);
  Shell("gst-launch-1.0 -q videotestsrc num-buffers=30 ! video/x-raw,width=160,height=120,"
        "framerate=30/1 ! jpegenc ! avimux ! fdsink fd=3 3<>'" + capture.string() + "'");
  EXPECT_EQ(fs::file_size(capture), kReserved);
  const auto length = AviRealLengthOfFile(capture.string());
  ASSERT_TRUE(length.has_value());
  ASSERT_LT(*length, kReserved);

  ASSERT_EQ(CopyCaptureFile(capture.string(), copy.string(), nullptr), status::kOk);
  EXPECT_EQ(fs::file_size(copy), *length);
  const std::string frames = Shell("ffprobe -v error -select_streams v:0 -count_frames -show_entries "
                                   "stream=nb_read_frames -of csv=p=0 '" + copy.string() + "'");
  EXPECT_EQ(std::stoi(frames), 30);
}

}  // namespace
}  // namespace media
